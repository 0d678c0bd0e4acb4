#include "lines/line_program.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

#include "base/text_match.h"
#include "dwarf/abbrev_table.h"
#include "dwarf/value_text.h"
#include "lines/line_rows.h"
#include "lines/lxx_format.h"

namespace dwarfsift {
namespace {

// The opcode names of the trace, each shown as "name(0xNN)" padded with
// blanks to a fixed width. Every opcode from opcode_base up is "DW_special";
// the standard opcodes above 9 that a header declares have names of their own.
constexpr std::size_t kOpcodeNameWidth = 26;
constexpr std::string_view kOpcodeNames[] = {
    "DW_LNS_extended", "DW_copy",         "DW_advence_pc",      "DW_advence_line",
    "DW_set_file",     "DW_set_column",   "DW_negate_stmt",     "DW_set_basic_block",
    "DW_const_add_pc", "DW_fixed_advence_pc"};
constexpr std::string_view kSpecialName = "DW_special";
constexpr std::string_view kStandardNames[] = {"DW_prologue_end", "DW_epilogue_begin",
                                               "DW_set_isa"};
constexpr std::string_view kOtherStandardName = "DW_standard";
constexpr std::size_t kExtendedNameWidth = 22;
constexpr std::string_view kExtendedNames[] = {{}, "DW_end_sequence", "DW_set_address",
                                               "DW_define_file"};

// Extension texts that make a file the unit's source file.
constexpr std::string_view kSourceExtensions[] = {
    ".c", ".s", ".asm", ".src", ".cpp", ".cc", ".cxx", ".c++"};

// The key under which the registry finds a name quickly: the name up to its
// first byte that MatchWordNoCase accepts after a word, ASCII letters upper
// case. For a name without such bytes, MatchWordNoCase(registered, name)
// holds exactly when the registered name's key equals the name's key.
bool RegistryKey(std::string_view name, std::string& key) {
  key.clear();
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 32 || byte >= 128) return false;
    key.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
  }
  return true;
}

std::string_view CutName(std::string_view name) {
  return name.substr(0, std::min<std::size_t>(name.size(), kLineNameLimit));
}

class LineProgramWalker {
 public:
  LineProgramWalker(OutputFile& lxx, const DwarfParameters& dwarf, RunContext& run,
                    const ByteCursor& line_strings, const ByteCursor& strings)
      : lxx_(lxx), dwarf_(dwarf), run_(run), channel_(run.channel),
        line_strings_(line_strings), strings_(strings) {
    directories_.resize(kLineDirectoryLimit);
    files_.resize(kLineFileLimit);
    text_.reserve(kFormattedTextLimit + 1);
  }

  void Walk(const ByteCursor& section) {
    std::uint32_t pos = section.begin();
    for (int unit = 0; pos < section.end(); ++unit) {
      rows_.Clear();
      channel_.TraceLine(
          &lxx_, "/<<<<<<<<<<<<<<<<<<<< .debug_line Section [% 3d] >>>>>>>>>>>>>>>>>>>>\n",
          unit);
      pos = ProcessUnit(section, pos);
    }
    if (run_.options.all_includes) WriteUnmarkedRegistryFiles();
  }

 private:
  // The header fields the program needs.
  struct Header {
    std::uint32_t end = 0, program = 0, lengths = 0;
    std::uint8_t min_length = 0, line_range = 0, opcode_base = 0;
    std::int8_t line_base = 0;
    std::uint8_t address_size = 0;  // DWARF 5 headers give it; 0: the run's
  };

  // Reads (and traces) the header fields after the version: the program's
  // start and the opcode parameters. DWARF 4 puts
  // maximum_operations_per_instruction after the minimum instruction length;
  // everything after it moves by one byte. DWARF 5 adds the address and
  // segment selector sizes before header_length.
  void ReadHeaderFields(const ByteCursor& section, std::uint32_t start, ByteCursor& c, bool v5,
                        bool max_ops, Header& h) {
    const std::uint32_t extra = max_ops ? 1 : 0;
    const std::uint32_t sizes = v5 ? 2 : 0;
    if (v5) {
      h.address_size = c.ReadByte();
      c.ReadByte();  // segment_selector_size
    }
    const std::uint32_t header_length = ReadFixed32(c);
    h.program = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{start} + 10 + sizes + header_length, UINT32_MAX));
    h.min_length = c.ReadByte();
    if (extra) c.ReadByte();
    c.ReadByte();  // default_is_stmt
    h.line_base = static_cast<std::int8_t>(c.ReadByte());
    h.line_range = c.ReadByte();
    h.opcode_base = c.ReadByte();
    const std::uint32_t at = start + sizes;  // where a v2-4 header has its fields
    h.lengths = at + 15 + extra;

    if (v5) {
      TraceField(section, start + 6, "/addr_size", 1, 1);
      TraceField(section, start + 7, "/seg_size", 1, 1);
    }
    TraceField(section, at + 6, "/prologue", 1, 4);
    TraceField(section, at + 10, "/min", 1, 1);
    if (extra) TraceField(section, at + 11, "/max_ops", 1, 1);
    TraceField(section, at + 11 + extra, "/stmt", 1, 1);
    TraceField(section, at + 12 + extra, "/l_base", 1, 1);
    TraceField(section, at + 13 + extra, "/l_range", 1, 1);
    TraceField(section, at + 14 + extra, "/o_base", 1, 1);
    TraceField(section, h.lengths, "/opcode", 9, 1);
  }

  // Reads the directory and file tables that lie between the opcode lengths
  // and the program; a table of the unit before is never kept.
  void ReadFileTables(const ByteCursor& section, const Header& h, bool v5) {
    const std::uint32_t tables =
        h.lengths + (h.opcode_base > 0 ? h.opcode_base - 1u : 0u);
    directory_count_ = 0;
    file_count_ = 0;
    numbered_from_zero_ = false;
    file_paths_.clear();
    file_identities_.clear();
    if (tables < h.program) {
      if (v5) {
        ReadEntryTables(section.View(tables, h.program));
      } else {
        ReadTables(section, tables);
      }
    }
  }

  // Returns where the next unit starts.
  std::uint32_t ProcessUnit(const ByteCursor& section, std::uint32_t start) {
    Header h;
    ByteCursor c = section.At(start);
    const std::uint32_t unit_length = ReadFixed32(c);
    // A unit that claims to run past the section ends where the section does.
    h.end = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{start} + 4 + unit_length, section.end()));
    const std::uint16_t version = ReadFixed16(c);
    TraceField(section, start, "/length", 1, 4);
    TraceField(section, start + 4, "/version", 1, 2);
    if (version > 5) {
      // Another header layout: skipped whole rather than misread.
      channel_.TraceLine(&lxx_, "/----- Version[%d] unsupported, unit skipped -----\n",
                         version);
      return h.end;
    }
    const bool v5 = version == 5;
    ReadHeaderFields(section, start, c, v5, version >= 4, h);
    ReadFileTables(section, h, v5);
    source_ = FindSourceFile();

    stop_file_lines_ = false;
    WriteRecord(lxx::kStartMarker);
    WriteFileLine(1);
    std::uint32_t next = h.end;
    if (h.program < h.end) {
      ByteCursor p = section.At(h.program);
      address_size_ = h.address_size >= 1 && h.address_size <= 8 ? h.address_size
                                                                 : dwarf_.address_size;
      RunProgram(p, h);
      next = p.position();
    }
    WriteRecord(lxx::kEndMarker);
    if (run_.options.all_includes) {
      for (std::uint32_t i = 0; i < file_count_; ++i) {
        if (files_[i].marked == 0) Register(files_[i]);
      }
    }
    return next;
  }

  void ReadTables(const ByteCursor& section, std::uint32_t at) {
    ByteCursor c = section.At(at);
    if (channel_.tracing()) {
      const std::string_view first = ByteCursor(c).ReadCString();
      channel_.TraceLine(&lxx_, "/directories {%.*s}\n", static_cast<int>(first.size()),
                         first.data());
    }
    while (!c.AtEnd()) {
      std::string_view name = c.ReadCString();
      if (name.empty()) break;
      // Names beyond the table's capacity are read past, not kept.
      if (directory_count_ < kLineDirectoryLimit) AddDirectory(CutName(name));
    }
    while (!c.AtEnd() && file_count_ < kLineFileLimit) {
      const std::string_view stored = CutName(c.ReadCString());
      if (stored.empty()) break;
      const std::uint32_t directory_index = ReadUleb128(c);
      const std::uint32_t time = ReadUleb128(c);
      const std::uint32_t length = ReadUleb128(c);
      AddFile(stored, directory_index, time, length);
    }
    FinishTables();
  }

  // The DWARF 5 tables: each is a list of entry formats (content type,
  // form) and then the entries. Directory 0 is the unit's compilation
  // directory, which older tables leave out; file 0 is the primary source
  // file, which the assemblers repeat as file 1. So directories and files
  // from 1 on keep their numbers and a file 0 that is not repeated comes
  // first, as file 1 of an older table would. A table that cannot be read
  // (an unknown form, or one cut off) ends the reading with what was read.
  void ReadEntryTables(ByteCursor c) {
    numbered_from_zero_ = true;
    const auto read_formats = [&c](std::vector<AttributeSpec>& formats) {
      formats.clear();
      const std::uint8_t count = c.ReadByte();
      for (std::uint8_t i = 0; i < count && c.ok(); ++i) {
        AttributeSpec format;
        format.attribute = ReadUleb128(c);
        format.form = ReadUleb128(c);
        formats.push_back(format);
      }
      return c.ok();
    };
    EntryFields fields;
    if (!read_formats(formats_)) return FinishTables();
    const std::uint32_t directories = ReadUleb128(c);
    for (std::uint32_t i = 0; i < directories && c.ok(); ++i) {
      if (!ReadEntry(c, formats_, fields)) return FinishTables();
      if (i == 0) {
        channel_.TraceLine(&lxx_, "/directories {%.*s}\n", static_cast<int>(fields.path.size()),
                           fields.path.data());
        continue;
      }
      if (directory_count_ < kLineDirectoryLimit) AddDirectory(CutName(fields.path));
    }
    if (!read_formats(formats_)) return FinishTables();
    const std::uint32_t files = ReadUleb128(c);
    EntryFields first;
    for (std::uint32_t i = 0; i < files && c.ok() && file_count_ < kLineFileLimit; ++i) {
      if (!ReadEntry(c, formats_, fields)) break;
      // Every entry is a file of its own, as in older tables (which may
      // list one path twice), except file 0: it is the entry from 1 on
      // that repeats it.
      std::string full = FullPath(fields);
      if (i > 0 && file_identities_[0] == 0 && full == file_paths_[0]) file_identities_[0] = i;
      file_paths_.push_back(std::move(full));
      file_identities_.push_back(i);
      if (i == 0) {
        first = fields;
        continue;
      }
      if (i == 1 && FullPath(fields) != FullPath(first)) {
        AddFile(first.path, first.directory, first.time, first.length);
      }
      AddFile(fields.path, fields.directory, fields.time, fields.length);
    }
    if (file_count_ == 0 && files == 1) AddFile(first.path, first.directory, first.time, first.length);
    FinishTables();
  }

  struct EntryFields {
    std::string_view path;
    std::uint32_t directory = 0, time = 0, length = 0;
  };

  // A file's path with its directory from the table (directory 0, the
  // compilation directory, counts as none), to tell whether two entries
  // name one file.
  std::string FullPath(const EntryFields& file) const {
    std::string full;
    if (file.directory != 0 && file.directory <= directory_count_) {
      full = directories_[file.directory - 1];
      full += '/';
    }
    full.append(file.path);
    return full;
  }

  // One directory or file entry, its fields read by the formats. False when
  // a form cannot be read.
  bool ReadEntry(ByteCursor& c, const std::vector<AttributeSpec>& formats, EntryFields& out) {
    out = EntryFields{};
    for (const AttributeSpec& format : formats) {
      std::string_view text;
      std::uint64_t number = 0;
      if (!ReadEntryForm(c, format.form, text, number)) return false;
      switch (format.attribute) {
        case 1: out.path = text; break;  // DW_LNCT_path
        case 2: out.directory = static_cast<std::uint32_t>(number); break;
        case 3: out.time = static_cast<std::uint32_t>(number); break;
        case 4: out.length = static_cast<std::uint32_t>(number); break;
        default: break;  // DW_LNCT_MD5 and unknown content: read past
      }
    }
    return c.ok();
  }

  bool ReadEntryForm(ByteCursor& c, std::uint32_t form, std::string_view& text,
                     std::uint64_t& number) {
    const auto string_at = [](const ByteCursor& strings, std::uint32_t offset) {
      ByteCursor at = strings.View(std::uint64_t{strings.begin()} + offset, strings.end());
      const std::string_view found = at.ReadCString();
      return at.ok() ? found : std::string_view();
    };
    switch (form) {
      case 0x08: text = c.ReadCString(); break;  // DW_FORM_string
      case 0x1F: text = string_at(line_strings_, ReadFixed32(c)); break;  // line_strp
      case 0x0E: text = string_at(strings_, ReadFixed32(c)); break;  // strp
      case 0x0F: number = ReadUleb128(c); break;  // udata
      case 0x0B: number = c.ReadByte(); break;  // data1
      case 0x05: number = ReadFixed16(c); break;  // data2
      case 0x06: number = ReadFixed32(c); break;  // data4
      case 0x07: number = ReadFixed(c, 8); break;  // data8
      case 0x1E: c.Skip(16); break;  // data16 (an MD5)
      case 0x09: c.Skip(ReadUleb128(c)); break;  // block
      default: return false;
    }
    return c.ok();
  }

  // A file of the unit's table, its name split off a directory part as
  // older tables have it.
  void AddFile(std::string_view path, std::uint32_t directory_index, std::uint32_t time,
               std::uint32_t length) {
    const std::string_view stored = CutName(path);
    LineFileEntry& entry = files_[file_count_++];
    std::size_t split = stored.rfind('/');
    if (split == std::string_view::npos) split = stored.rfind('\\');
    const bool has_directory = split != std::string_view::npos;
    entry.name = has_directory ? stored.substr(split + 1) : stored;
    entry.directory.clear();
    entry.directory_index = directory_index;
    entry.time = time;
    entry.length = length;
    entry.marked = 0;
    if (directory_index == 0 && has_directory && directory_count_ < kLineDirectoryLimit) {
      entry.directory_index = AddDirectory(stored.substr(0, split));
    }
    if (entry.directory_index != 0 && entry.directory_index <= directory_count_) {
      entry.directory = directories_[entry.directory_index - 1];
    }
    channel_.TraceLine(&lxx_, "/----- FileName[%s] Index[%d] Time[%d] Length[%d] -----\n",
                       entry.name.c_str(), static_cast<int>(entry.directory_index),
                       static_cast<int>(entry.time), static_cast<int>(entry.length));
  }

  void FinishTables() {
    if (file_count_ == 0) {
      // Tables without a file still give the unit one (empty) entry.
      files_[0] = LineFileEntry{};
      file_count_ = 1;
    }
  }

  // Stores a directory name (its trailing backslash dropped) and returns its
  // 1-based index.
  std::uint32_t AddDirectory(std::string_view name) {
    if (name.ends_with('\\')) name.remove_suffix(1);
    directories_[directory_count_].assign(name);
    ++directory_count_;
    channel_.TraceLine(&lxx_, "/----- DirName[%.*s] Index[%d] -----\n",
                       static_cast<int>(name.size()), name.data(),
                       static_cast<int>(directory_count_));
    return directory_count_;
  }

  // The unit's source file: the first entry with a source extension.
  LineFileEntry* FindSourceFile() {
    for (std::uint32_t i = 0; i < file_count_; ++i) {
      if (HasSourceExtension(files_[i].name)) return &files_[i];
    }
    return nullptr;
  }

  // A file switch: the rows so far are written, and after them no more file
  // lines in this unit.
  void SelectFile(std::uint32_t file) {
    if (rows_.pending()) {
      FlushRows();
      stop_file_lines_ = true;
    }
    if (!stop_file_lines_) WriteFileLine(file);
  }

  // The file of a DWARF 5 table entry: its number, or for file 0 (the
  // primary file) the number of its repetition.
  std::uint32_t FileIdentity(std::uint32_t file) const {
    return file < file_identities_.size() ? file_identities_[file] : 0x80000000u | file;
  }

  // DWARF 5 programs run on a file register that starts at file 1 like
  // older ones, but file 1 need not be the primary file: an assembler that
  // numbered the primary file 1 in an older table may have put a header
  // there and the primary file further on, and then switches files at other
  // places. The switches an older program makes are those where the file
  // of a row changes from the one before (the primary file at the start of
  // each sequence), so that is where they are made here, just before the
  // row.
  void SwitchFile() {
    if (!numbered_from_zero_) return;
    const std::uint32_t identity = FileIdentity(file_register_);
    if (identity == current_identity_) return;
    current_identity_ = identity;
    // Only validity matters to the file line: every valid entry writes the
    // unit's source file.
    SelectFile(file_register_ < file_identities_.size() ? 1 : file_register_);
  }

  void StartSequence() {
    file_register_ = 1;
    current_identity_ = FileIdentity(0);
  }

  void RunProgram(ByteCursor& p, const Header& h) {
    StartSequence();
    std::uint32_t address = 0;
    std::uint32_t line = 1;
    const bool tracing = channel_.tracing();
    const bool keep_extras = !run_.options.inline_delete;
    while (p.position() < h.end && !p.AtEnd()) {
      const std::uint8_t op = p.ReadByte();
      if (tracing) {
        text_.clear();
        AppendName(op == 0                 ? kOpcodeNames[0]
                   : op >= h.opcode_base ? kSpecialName
                   : op <= 9             ? kOpcodeNames[op]
                   : op <= 12            ? kStandardNames[op - 10]
                                         : kOtherStandardName,
                   op, kOpcodeNameWidth);
      }
      if (op == 0) {
        RunExtended(p, address, line, tracing);
      } else if (op >= h.opcode_base) {
        const int adjusted = op - h.opcode_base;
        // A line_range of 0 would divide by zero: such a header advances the
        // line by line_base and the address not at all.
        const int line_step = h.line_base + (h.line_range ? adjusted % h.line_range : 0);
        const std::uint32_t address_step =
            static_cast<std::uint32_t>(h.line_range ? adjusted / h.line_range : 0) *
            h.min_length;
        line = Add(line, line_step);
        address += address_step;
        SwitchFile();
        if (line_step >= 0) rows_.RecordSpecial(line, address);
        if (tracing) {
          Append("dl(%d) line(%u) da(0x%X) adr(0x%X) ", line_step, line, address_step,
                 address);
        }
      } else if (op <= 9) {
        RunStandard(op, p, h, address, line, keep_extras, tracing);
      } else {
        // A standard opcode this tool gives no meaning (prologue_end,
        // epilogue_begin, isa, ...): its operands are skipped as the header
        // declares them, and rows are not touched.
        const std::uint8_t operands = p.At(h.lengths + op - 1u).ReadByte();
        for (int i = 0; i < operands; ++i) {
          const std::uint32_t value = ReadUleb128(p);
          if (tracing) Append("op(0x%X) ", value);
        }
      }
      if (tracing) channel_.TraceLine(&lxx_, "/ %s\n", text_.c_str());
    }
  }

  void RunStandard(std::uint8_t op, ByteCursor& p, const Header& h, std::uint32_t& address,
                   std::uint32_t& line, bool keep_extras, bool tracing) {
    switch (op) {
      case 1:  // DW_LNS_copy
        SwitchFile();
        rows_.RecordCopy(line, address, keep_extras);
        if (tracing) Append("Lines(%u) Address(0x%X) ", line, address);
        break;
      case 2: {  // DW_LNS_advance_pc
        const std::uint32_t n = ReadUleb128(p);
        address += n * h.min_length;
        if (tracing) Append("pc(0x%x) adr(0x%X) ", n, address);
        break;
      }
      case 3: {  // DW_LNS_advance_line
        const std::int32_t n = ReadSleb128(p);
        line = Add(line, n);
        if (tracing) Append("op(%d) line(%u) ", n, line);
        break;
      }
      case 4: {  // DW_LNS_set_file
        const std::uint32_t file = ReadUleb128(p);
        if (numbered_from_zero_) {
          file_register_ = file;  // acted on with the next row, see SwitchFile
        } else {
          SelectFile(file);
        }
        if (tracing) Append("op(0x%X) ", file);
        break;
      }
      case 5: {  // DW_LNS_set_column
        const std::uint32_t column = ReadUleb128(p);
        if (tracing) Append("op(0x%X) ", column);
        break;
      }
      case 8: {  // DW_LNS_const_add_pc
        const std::uint32_t step =
            static_cast<std::uint32_t>(h.line_range ? (255 - h.opcode_base) / h.line_range
                                                    : 0) *
            h.min_length;
        address += step;
        if (tracing) Append("dl(%d) line(%u) da(0x%X) adr(0x%X) ", 0, line, step, address);
        break;
      }
      case 9: {  // DW_LNS_fixed_advance_pc
        const std::uint32_t n = ReadFixed16(p);
        address += n;
        if (tracing) Append("fix(0x%x) adr(0x%X) ", n, address);
        break;
      }
      default:  // 6 negate_stmt, 7 set_basic_block
        break;
    }
  }

  void RunExtended(ByteCursor& p, std::uint32_t& address, std::uint32_t& line,
                   bool tracing) {
    const std::uint32_t length = ReadUleb128(p);
    const std::uint64_t after = std::uint64_t{p.position()} + length;
    if (tracing) Append("length(0x%X) ", length);
    if (length > 0) {
      ByteCursor operands = p;
      const std::uint8_t sub = operands.ReadByte();
      if (tracing) {
        if (sub >= 1 && sub <= 3) AppendName(kExtendedNames[sub], sub, kExtendedNameWidth);
        ByteCursor bytes = operands;
        for (std::uint32_t i = 1; i < length && !bytes.AtEnd(); ++i) {
          if (text_.size() > kFormattedTextLimit) break;  // the trace cuts it anyway
          Append("sub(0x%X) ", bytes.ReadByte());
        }
      }
      if (sub == 1) {  // DW_LNE_end_sequence
        SwitchFile();
        rows_.RecordEnd(address);
        line = 1;
        FlushRows();
        StartSequence();
      } else if (sub == 2) {  // DW_LNE_set_address
        address = static_cast<std::uint32_t>(ReadFixed(operands, address_size_));
      }
    }
    p.Seek(std::min<std::uint64_t>(after, p.end()));
  }

  void FlushRows() {
    rows_.Flush(!run_.options.inline_delete, [this](std::uint32_t address, std::uint32_t line) {
      WriteRow(address, line);
    });
  }

  void WriteRow(std::uint32_t address, std::uint32_t line) {
    char row[1 + lxx::kRowBodyMost];
    row[0] = lxx::kRowLead;
    const std::size_t at = 1 + lxx::FormatRowBody(row + 1, address, line);
    WriteRecord(std::string_view(row, at));
    run_.counters.CountLine();
  }

  // A file line for file index `n`; the index only decides whether the
  // request is valid, the file written is always the unit's source file.
  void WriteFileLine(std::uint32_t n) {
    if (n > file_count_) {
      WriteFormatted("/****  SrcNameOverIndex(%d) Regs(%d)\n", static_cast<int>(n),
                     static_cast<int>(file_count_));
      return;
    }
    if (source_ == nullptr) return;
    LineFileEntry& entry = *source_;
    const std::uint32_t d = entry.directory_index;
    if (d > directory_count_) {
      WriteFormatted("/****  DirNameOverIndex(%d) Regs(%d)\n", static_cast<int>(d),
                     static_cast<int>(directory_count_));
    } else if (d != 0) {
      WriteDirectoryLine(directories_[d - 1]);
    }
    WriteNamed(lxx::kFileLead, entry.name);
    entry.marked = 255;
    if (run_.options.all_includes) Register(entry);
  }

  void WriteDirectoryLine(std::string_view directory) {
    WriteNamed(run_.options.directory_info ? lxx::kDirectoryLead : lxx::kCommentDirectoryLead,
               directory);
  }

  void Register(const LineFileEntry& entry) {
    const bool keyed = RegistryKey(entry.name, key_);
    std::size_t found = registry_.size();
    if (keyed) {
      const auto it = registry_index_.find(key_);
      if (it != registry_index_.end()) found = it->second;
    } else {
      for (std::size_t i = 0; i < registry_.size(); ++i) {
        if (MatchWordNoCase(registry_[i].name, entry.name)) {
          found = i;
          break;
        }
      }
    }
    if (found < registry_.size()) {
      if (entry.marked != 0) registry_[found].marked = entry.marked;
      return;
    }
    if (registry_.size() >= kLineRegistryLimit) return;
    registry_.push_back(entry);
    // The index keeps the first registered name of each key, which is the
    // one an in-order search would find.
    std::string own_key;
    RegistryKey(entry.name, own_key);
    registry_index_.emplace(std::move(own_key), registry_.size() - 1);
  }

  // Header files that never had rows of their own still reach the debugger
  // as empty blocks.
  void WriteUnmarkedRegistryFiles() {
    for (const LineFileEntry& entry : registry_) {
      if (entry.marked != 0) continue;
      WriteRecord(lxx::kStartMarker);
      if (!entry.directory.empty()) WriteDirectoryLine(entry.directory);
      if (!entry.name.empty()) WriteNamed(lxx::kFileLead, entry.name);
      WriteRecord(lxx::kEndMarker);
    }
  }

  void TraceField(const ByteCursor& section, std::uint32_t at, std::string_view label,
                  int count, int width) {
    TraceLabelledValue(channel_, &lxx_, label, section.At(at), count, width);
  }

  // Record lines always go to the LXX file, and to the channel while tracing.
  void WriteRecord(std::string_view text) {
    lxx_.Write(text);
    if (channel_.tracing()) channel_.EmitMessage(text);
  }
  void WriteNamed(std::string_view prefix, std::string_view name) {
    line_.assign(prefix);
    line_.append(name);
    line_.push_back('\n');
    WriteRecord(line_);
  }
  DWARFSIFT_PRINTF(2, 3) void WriteFormatted(const char* format, ...) {
    va_list args;
    va_start(args, format);
    line_.clear();
    AppendFormatted(line_, format, args);
    va_end(args);
    if (!line_.empty()) WriteRecord(line_);
  }

  DWARFSIFT_PRINTF(2, 3) void Append(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendFormatted(text_, format, args);
    va_end(args);
  }

  // These lines are short: anything beyond 127 bytes is cut.
  DWARFSIFT_PRINTF(2, 0) static void AppendFormatted(std::string& out, const char* format,
                                                     va_list args) {
    char buffer[128];
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n > 0) out.append(buffer, std::min<std::size_t>(n, sizeof buffer - 1));
  }

  // "name(0xNN)" and blanks up to `width` characters.
  void AppendName(std::string_view name, std::uint8_t code, std::size_t width) {
    const std::size_t start = text_.size();
    text_.append(name);
    text_.append("(0x");
    AppendHex(text_, code, 2);
    text_.push_back(')');
    const std::size_t used = text_.size() - start;
    if (used < width) text_.append(width - used, ' ');
  }

  // Line arithmetic wraps like the 32-bit register it models.
  static std::uint32_t Add(std::uint32_t line, std::int32_t step) {
    return line + static_cast<std::uint32_t>(step);
  }

  OutputFile& lxx_;
  const DwarfParameters& dwarf_;
  RunContext& run_;
  MessageChannel& channel_;

  LineRowTable rows_;
  std::vector<std::string> directories_;
  std::uint32_t directory_count_ = 0;
  std::vector<LineFileEntry> files_;
  std::uint32_t file_count_ = 0;
  LineFileEntry* source_ = nullptr;  // the unit's source file, if any
  std::uint8_t address_size_ = 4;    // of DW_LNE_set_address in this unit
  const ByteCursor line_strings_;    // .debug_line_str
  const ByteCursor strings_;         // .debug_str
  std::vector<AttributeSpec> formats_;  // a DWARF 5 table's entry formats
  // A DWARF 5 unit: its files by number, each as its full path and as the
  // number that stands for it (see FileIdentity), and the program's file
  // register and the file of the rows before.
  bool numbered_from_zero_ = false;
  std::vector<std::string> file_paths_;
  std::vector<std::uint32_t> file_identities_;
  std::uint32_t file_register_ = 1;
  std::uint32_t current_identity_ = 0;
  bool stop_file_lines_ = false;

  std::vector<LineFileEntry> registry_;
  std::unordered_map<std::string, std::size_t> registry_index_;
  std::string key_;

  std::string text_;  // the trace text of the current opcode
  std::string line_;  // a record line being built
};

}  // namespace

bool HasSourceExtension(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view extension = name.substr(dot);
  for (const std::string_view source : kSourceExtensions) {
    if (MatchWordNoCase(extension, source)) return true;
  }
  return false;
}

std::uint32_t GetDebugLineAll(OutputFile& lxx, const ElfImage& elf,
                              const DwarfParameters& dwarf, RunContext& run) {
  if (!elf.debug_line.present()) return 0;
  // The tables grow with the largest unit met: one walker per run, reused
  // by every unit.
  auto walker = std::make_unique<LineProgramWalker>(lxx, dwarf, run,
                                                    elf.Cursor(elf.debug_line_str),
                                                    elf.Cursor(elf.debug_str));
  walker->Walk(elf.Cursor(elf.debug_line));
  return elf.debug_line.end;
}

}  // namespace dwarfsift
