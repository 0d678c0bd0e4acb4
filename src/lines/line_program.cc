#include "lines/line_program.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <unordered_map>
#include <vector>

#include "base/text_match.h"
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
  LineProgramWalker(OutputFile& lxx, const DwarfParameters& dwarf, RunContext& run)
      : lxx_(lxx), dwarf_(dwarf), run_(run), channel_(run.channel) {
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
  };

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
    if (version >= 5) {
      // Another header layout (prebuilt C libraries bring such units in):
      // skipped whole rather than misread.
      channel_.TraceLine(&lxx_, "/----- Version[%d] unsupported, unit skipped -----\n",
                         version);
      return h.end;
    }
    // DWARF 4 puts maximum_operations_per_instruction after the minimum
    // instruction length; everything after it moves by one byte.
    const std::uint32_t extra = version == 4 ? 1 : 0;
    const std::uint32_t header_length = ReadFixed32(c);
    h.program = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{start} + 10 + header_length, UINT32_MAX));
    h.min_length = c.ReadByte();
    if (extra) c.ReadByte();
    c.ReadByte();  // default_is_stmt
    h.line_base = static_cast<std::int8_t>(c.ReadByte());
    h.line_range = c.ReadByte();
    h.opcode_base = c.ReadByte();
    h.lengths = start + 15 + extra;

    TraceField(section, start + 6, "/prologue", 1, 4);
    TraceField(section, start + 10, "/min", 1, 1);
    if (extra) TraceField(section, start + 11, "/max_ops", 1, 1);
    TraceField(section, start + 11 + extra, "/stmt", 1, 1);
    TraceField(section, start + 12 + extra, "/l_base", 1, 1);
    TraceField(section, start + 13 + extra, "/l_range", 1, 1);
    TraceField(section, start + 14 + extra, "/o_base", 1, 1);
    TraceField(section, h.lengths, "/opcode", 9, 1);

    const std::uint32_t tables =
        h.lengths + (h.opcode_base > 0 ? h.opcode_base - 1u : 0u);
    directory_count_ = 0;
    file_count_ = 0;
    if (tables < h.program) ReadTables(section, tables);
    source_ = FindSourceFile();

    stop_file_lines_ = false;
    WriteRecord(lxx::kStartMarker);
    WriteFileLine(1);
    std::uint32_t next = h.end;
    if (h.program < h.end) {
      ByteCursor p = section.At(h.program);
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
      if (directory_index == 0 && has_directory &&
          directory_count_ < kLineDirectoryLimit) {
        entry.directory_index = AddDirectory(stored.substr(0, split));
      }
      if (entry.directory_index != 0 && entry.directory_index <= directory_count_) {
        entry.directory = directories_[entry.directory_index - 1];
      }
      channel_.TraceLine(&lxx_, "/----- FileName[%s] Index[%d] Time[%d] Length[%d] -----\n",
                         entry.name.c_str(), static_cast<int>(entry.directory_index),
                         static_cast<int>(entry.time), static_cast<int>(entry.length));
    }
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

  void RunProgram(ByteCursor& p, const Header& h) {
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
        if (rows_.pending()) {
          FlushRows();
          stop_file_lines_ = true;
        }
        if (!stop_file_lines_) WriteFileLine(file);
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
        rows_.RecordEnd(address);
        line = 1;
        FlushRows();
      } else if (sub == 2) {  // DW_LNE_set_address
        address = static_cast<std::uint32_t>(ReadFixed(operands, dwarf_.address_size));
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
  auto walker = std::make_unique<LineProgramWalker>(lxx, dwarf, run);
  walker->Walk(elf.Cursor(elf.debug_line));
  return elf.debug_line.end;
}

}  // namespace dwarfsift
