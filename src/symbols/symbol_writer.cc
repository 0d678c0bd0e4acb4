// WriteSymbolRecord: the text form of one symbol record, shared by the SYM
// and the MEB file. The lines are formatted into a fixed buffer without the
// printf family, so writing a record allocates nothing.
#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "base/message_channel.h"
#include "base/run_options.h"
#include "base/text_match.h"
#include "dwarf/register_names.h"
#include "location/location_expression.h"
#include "symbols/symbol_table.h"

namespace dwarfsift {
namespace {

struct ClassWord {
  std::int32_t ident;
  const char* word;
};
constexpr ClassWord kClassWords[] = {
    {kIdentLabel, "LABEL"},
    {kIdentVariable, "VARIABLE"},
    {kIdentMember, "MEMBER"},
    {kIdentProgram, "PROGRAM"},
    {kIdentStaticProgram, "S_PROGRAM"},
    {kIdentLocalStatic, "LOCAL_S"},
    {kIdentLocalRegister, "LOCAL_R"},
    {kIdentLocalFrame, "LOCAL_F"},
    {kIdentUnit, "UNIT"},
    {kIdentNon, "NON"},
};

const char* ClassWordOf(std::int32_t ident) {
  for (const ClassWord& row : kClassWords) {
    if (row.ident == ident) return row.word;
  }
  return "";
}

struct BaseTypeRename {
  std::string_view prefix;
  const char* becomes;
  bool wide;  // a 64-bit type: register pairs are merged
};
// Tried from the top; the first word match decides.
constexpr BaseTypeRename kBaseTypeRenames[] = {
    {"unsigned long long", "int64", true},
    {"signed long long", "int64", true},
    {"long long", "int64", true},
    {"long long int", "int64", true},
    {"long long signed int", "int64", true},
    {"long long unsigned int", "int64", true},
    {"int64_t", "int64", true},
    {"uint64_t", "int64", true},
    {"unsigned char", "Uchar", false},
    {"signed char", "char", false},
    {"unsigned short", "Ushort", false},
    {"signed short", "short", false},
    {"short unsigned int", "Ushort", false},
    {"short int", "short", false},
    {"unsigned int", "Uint", false},
    {"signed int", "int", false},
    {"unsigned long", "Ulong", false},
    {"signed long", "long", false},
    {"long unsigned int", "Ulong", false},
    {"long int", "long", false},
    {"", "void", false},
};

template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return std::string_view(field, strnlen(field, N));
}

template <std::size_t N>
void SetField(char (&field)[N], const char* text) {
  std::strncpy(field, text, N - 1);
  field[N - 1] = '\0';
}

// Rewrites `typen` by the base-type table; true for the 64-bit names.
bool RenameBaseType(SymbolRecord& record) {
  const std::string_view typen = FieldText(record.typen);
  const char first = typen.empty() ? '\0' : UpperAscii(typen[0]);
  for (const BaseTypeRename& row : kBaseTypeRenames) {
    // A word match begins with the same letter.
    if (!row.prefix.empty() && UpperAscii(row.prefix[0]) != first) continue;
    // The empty row stands for an empty name only: a word test against ""
    // would also take names that begin with a blank or a non-ASCII byte.
    const bool match = row.prefix.empty()
                           ? typen.empty()
                           : MatchWordNoCase(typen, row.prefix).has_value();
    if (match) {
      SetField(record.typen, row.becomes);
      return row.wide;
    }
  }
  return false;
}

bool IsRegisterOp(std::int32_t code) { return code >= kOpReg0 && code <= kOpReg31; }

// Joins the two halves of a 64-bit value held in a register pair into one
// code. Returns whether any pair was merged.
bool MergeRegisterPairs(SymbolRecord& record, ByteOrder byte_order) {
  auto& floc = record.floc;
  bool merged_any = false;
  int row = 0;
  while (row < kLocationRows && floc[row][kFlocOpcode] != 0) {
    const std::int32_t first = floc[row][kFlocOpcode];
    if (!IsRegisterOp(first) || row + 1 >= kLocationRows ||
        floc[row + 1][kFlocOpcode] != kOpPiece) {
      ++row;
      continue;
    }
    int partner = -1;
    for (int p = row + 2; p < kLocationRows; ++p) {
      if (floc[p][kFlocBegin] == floc[row][kFlocBegin] &&
          floc[p][kFlocEnd] == floc[row][kFlocEnd] &&
          IsRegisterOp(floc[p][kFlocOpcode])) {
        partner = p;
        break;
      }
    }
    if (partner < 0) {
      ++row;
      continue;
    }
    const std::int32_t second = floc[partner][kFlocOpcode];
    const std::int32_t code = byte_order == ByteOrder::kLittle
                                  ? (second << 8) | first
                                  : (first << 8) | second;
    floc[row][kFlocOpcode] = code;
    floc[partner][kFlocOpcode] = code;
    if (!merged_any && record.ident == kIdentLocalRegister) record.regcode = code;
    merged_any = true;
    row = partner + 2;
  }
  return merged_any;
}

// Moves the bit offsets of a run of bit fields so that each names its bits
// from the right storage unit. `step` is the bit distance (16 or 32), `move`
// the matching byte distance.
void ShiftDownRun(std::span<SymbolRecord> run, SymbolRecord& record,
                  std::int32_t step, std::int32_t move) {
  record.bit_off -= step;
  record.location += move;
  record.bit_fixed = 255;
  for (SymbolRecord& other : run) {
    if (other.bit_off < step) continue;
    other.bit_fixed = 255;
    if (other.location < record.location) {
      other.bit_off -= step;
      other.location += move;
    }
  }
}

// `after`: the records that follow `record` in its table, up to the last
// member slot; the run is the bit-field records at its start.
void AdjustBitField(SymbolRecord& record, std::span<SymbolRecord> after) {
  std::size_t length = 0;
  while (length < after.size() && (after[length].kind & kKindBit) != 0) ++length;
  if (length == 0) return;
  const std::span<SymbolRecord> run = after.first(length);
  const std::int32_t own_location = record.location;
  auto any = [&](std::int32_t one_byte, auto bit_test) {
    for (const SymbolRecord& other : run) {
      if (other.one_byte == one_byte && bit_test(other.bit_off) &&
          other.bit_fixed == 0 && other.location != own_location) {
        return true;
      }
    }
    return false;
  };
  if (any(4, [](std::int32_t off) { return off > 15; })) {
    ShiftDownRun(run, record, 16, 2);
  } else if (any(8, [](std::int32_t off) { return off > 31; })) {
    ShiftDownRun(run, record, 32, 4);
  } else if (any(8, [](std::int32_t off) { return off < 32; })) {
    record.bit_off += 32;
    record.bit_fixed = 255;
    for (SymbolRecord& other : run) {
      other.bit_fixed = 255;
      if (other.bit_off >= 32) continue;
      if (other.location > record.location) {
        other.location -= 4;
      } else {
        other.bit_off += 32;
      }
    }
  }
}

void ApplyPointerSize(SymbolRecord& record) {
  record.one_byte = 2;
  std::uint32_t total = 2;
  if ((record.kind & kKindArray) != 0) {
    const int dims = std::clamp(record.ele_count, 0, kMaxArrayDimensions);
    for (int d = 0; d < dims; ++d) total *= static_cast<std::uint32_t>(record.ele[d]);
  }
  record.total_byte = static_cast<std::int32_t>(total);
}

// The printed begin and end of the valid range: the record's own, or those
// of its location list when it has none.
std::uint32_t PrintedStart(const SymbolRecord& record) {
  if (record.fstart != 0) return record.fstart;
  return static_cast<std::uint32_t>(record.floc[0][kFlocBegin]);
}
std::uint32_t PrintedEnd(const SymbolRecord& record) {
  if (record.fend != 0) return record.fend;
  // Most records (members among them) have no rows at all.
  static constexpr LocationRows kNoRows{};
  if (std::memcmp(record.floc, kNoRows, sizeof kNoRows) == 0) return 0;
  std::uint32_t end = 0;
  for (const auto& row : record.floc) {
    if (row[kFlocEnd] != 0) end = static_cast<std::uint32_t>(row[kFlocEnd]);
  }
  return end;
}

std::uint32_t Hex(std::int32_t value) { return static_cast<std::uint32_t>(value); }

// Rewrites `r` into the form it is printed in: the base-type name, "-2"
// pointer sizes, the bit offsets of a bit-field run and merged 64-bit
// register pairs. Bit fields also move the records of their run, which is
// why this takes the records after it too.
void NormaliseRecord(const SymbolWriteContext& context, SymbolRecord& r,
                     std::span<SymbolRecord> after) {
  if ((r.kind & kKindPointer) != 0 && context.options->pointer_size == 2 &&
      r.one_byte != 2) {
    ApplyPointerSize(r);
  }
  if ((r.kind & kKindBit) != 0) AdjustBitField(r, after);
  if (RenameBaseType(r) &&
      (r.ident == kIdentLocalRegister || r.ident == kIdentLocalFrame) &&
      MergeRegisterPairs(r, context.byte_order)) {
    // A merged pair code has no register text, which leaves regn as it was.
    RegisterOperandText(context.machine, Hex(r.regcode), r.regop1, r.regop2,
                        std::span<char>(r.regn, sizeof r.regn));
  }
}

// The words of the `kind` line, each followed by a blank.
struct KindWords {
  char text[48];
};
KindWords KindWordsOf(std::int32_t kind) {
  KindWords words;
  std::size_t length = 0;
  auto add_word = [&](const char* word) {
    const std::size_t n = std::strlen(word);
    std::memcpy(words.text + length, word, n);
    length += n;
  };
  if ((kind & kKindArray) != 0) add_word("ARRAY ");
  if ((kind & kKindPointer) != 0) add_word("POINTER ");
  if ((kind & kKindStruct) != 0) add_word("STRUCT ");
  if ((kind & kKindStruct2P) != 0) add_word("STRUCT2P ");
  if ((kind & kKindBit) != 0) add_word("BIT ");
  if (length == 0) add_word("SIMPLE ");
  words.text[length] = '\0';
  return words;
}

// The lines of one record, formatted into a fixed buffer. Without the
// trace the whole record goes to the file at once; while tracing each line
// also goes to the channel as a record line of its own.
class RecordLines {
 public:
  RecordLines(MessageChannel& channel, OutputFile* out, bool tracing)
      : channel_(channel), out_(out), tracing_(tracing) {}
  RecordLines(const RecordLines&) = delete;
  RecordLines& operator=(const RecordLines&) = delete;
  ~RecordLines() { Flush(); }

  RecordLines& operator<<(std::string_view text) {
    const std::size_t n = std::min(text.size(), kCapacity - used_);
    std::memcpy(buffer_ + used_, text.data(), n);
    used_ += n;
    return *this;
  }
  // For literals only (a character array is written whole): their length
  // is known here, so the copy needs no call, and a whole record always
  // fits (see kCapacity), so it needs no room test either.
  template <std::size_t N>
  RecordLines& operator<<(const char (&text)[N]) {
    std::memcpy(buffer_ + used_, text, N - 1);
    used_ += N - 1;
    return *this;
  }
  RecordLines& operator<<(std::int32_t value) { return Number(value, 10); }
  // Upper-case hexadecimal, as "%X" gives it.
  RecordLines& Hex(std::uint32_t value) { return Number(value, 16); }

  // Without the trace the record goes out in one piece, its line ends
  // already as the file wants them.
  void EndLine() {
    if (!tracing_) {
      *this << "\r\n";
      return;
    }
    *this << "\n";
    const std::string_view line(buffer_ + line_start_, used_ - line_start_);
    if (out_ != nullptr) out_->Write(line);
    channel_.EmitMessage(line);
    used_ = line_start_ = 0;
  }

 private:
  // A record with every line at its longest: its fixed lines (a name of
  // 256 bytes is the longest field) stay below 2 KB, and each location row
  // line below 96 bytes. Literals and numbers are written without a room
  // test on the strength of this.
  static constexpr std::size_t kCapacity = 16 * 1024;
  static_assert(kCapacity >= 2048 + kLocationRows * 96);

  // Formatted straight into the buffer; a value takes at most 11 bytes.
  template <typename T>
  RecordLines& Number(T value, int base) {
    char* const text = buffer_ + used_;
    char* const end = std::to_chars(text, text + 16, value, base).ptr;
    if (base == 16) {
      for (char* p = text; p != end; ++p) {
        if (*p >= 'a' && *p <= 'f') *p = static_cast<char>(*p - 'a' + 'A');
      }
    }
    used_ = static_cast<std::size_t>(end - buffer_);
    return *this;
  }

  void Flush() {
    if (used_ > 0 && out_ != nullptr) out_->WriteCrLfText(std::string_view(buffer_, used_));
    used_ = 0;
  }

  MessageChannel& channel_;
  OutputFile* out_;
  bool tracing_;
  std::size_t used_ = 0;
  std::size_t line_start_ = 0;
  char buffer_[kCapacity];
};

// The register lines and the location-list rows; a record without register
// text has neither.
void PrintRegisterLines(RecordLines& lines, const SymbolRecord& r) {
  const std::string_view regn = FieldText(r.regn);
  if (regn.empty()) return;
  lines << "+ regn[" << regn << "]";
  lines.EndLine();
  (lines << "+ regcode[0x").Hex(Hex(r.regcode)) << "]";
  lines.EndLine();
  lines << "+ regop1[" << r.regop1 << "]";
  lines.EndLine();
  lines << "+ regop2[" << r.regop2 << "]";
  lines.EndLine();
  for (int row = 0; row < kLocationRows; ++row) {
    const auto& f = r.floc[row];
    if (f[kFlocBegin] == 0 && f[kFlocEnd] == 0) break;
    lines << "+ floc[" << static_cast<std::int32_t>(row) << " 0x";
    lines.Hex(Hex(f[kFlocBegin])) << " 0x";
    lines.Hex(Hex(f[kFlocEnd])) << " 0x";
    lines.Hex(Hex(f[kFlocOpcode])) << " " << f[kFlocOperand1] << " " << f[kFlocOperand2] << "]";
    lines.EndLine();
  }
}

// Prints an already normalised record as `printed_index`.
void PrintRecord(const SymbolWriteContext& context, const SymbolRecord& r,
                 std::size_t printed_index) {
  RecordLines lines(*context.channel, context.out, context.state->debug_trace);
  const bool is_struct = (r.kind & kKindStruct) != 0;
  const std::string_view struct_text = FieldText(r.struct_name);

  lines << ": index[" << static_cast<std::int32_t>(printed_index) << "]";
  lines.EndLine();
  if (context.options->entry_positions) {
    (lines << "+ entry[0x").Hex(r.entry) << "]";
    lines.EndLine();
    (lines << "+ entry2[0x").Hex(r.entry2) << "]";
    lines.EndLine();
  }
  lines << "+ nest[" << r.nest << "]";
  lines.EndLine();
  if (!struct_text.empty()) {
    lines << "+ struct[" << struct_text << "]";
    lines.EndLine();
  }
  lines << "+ name[" << FieldText(r.name) << "]";
  lines.EndLine();
  (lines << "+ location[0x").Hex(Hex(r.location)) << "]";
  lines.EndLine();
  lines << "+ typen[" << FieldText(r.typen) << "]";
  lines.EndLine();
  lines << "+ ident[" << ClassWordOf(r.ident) << "]";
  lines.EndLine();
  lines << "+ kind[" << std::string_view(KindWordsOf(r.kind).text) << "]";
  lines.EndLine();
  if (is_struct) {
    lines << "+ mebtop[" << r.mebtop << "]";
    lines.EndLine();
    lines << "+ mebend[" << r.mebend << "]";
    lines.EndLine();
  }
  if ((r.kind & kKindArray) != 0) {
    lines << "+ ele[" << r.ele_count;
    for (const std::int32_t e : r.ele) lines << " " << e;
    lines << "]";
    lines.EndLine();
  }
  (lines << "+ fstart[0x").Hex(PrintedStart(r)) << "]";
  lines.EndLine();
  (lines << "+ fend[0x").Hex(PrintedEnd(r)) << "]";
  lines.EndLine();
  if ((r.kind & kKindBit) != 0) {
    (lines << "+ bit_off[0x").Hex(Hex(r.bit_off)) << "]";
    lines.EndLine();
    (lines << "+ bit_size[0x").Hex(Hex(r.bit_size)) << "]";
    lines.EndLine();
  } else {
    lines << "+ one_byte[" << r.one_byte << "]";
    lines.EndLine();
    lines << "+ total_byte[" << r.total_byte << "]";
    lines.EndLine();
  }
  if (is_struct) {
    lines << "+ struct_len[" << r.struct_len << "]";
    lines.EndLine();
  }
  PrintRegisterLines(lines, r);
  lines << "=";
  lines.EndLine();
}

}  // namespace

bool WriteSymbolRecord(const SymbolWriteContext& context,
                       std::span<SymbolRecord> table, std::size_t index,
                       RecordTableKind table_kind) {
  if (index >= table.size()) return false;
  std::size_t printed_index = index;
  if (table_kind == RecordTableKind::kSymbolTable && index >= kFirstCopySlot) {
    printed_index -= kFirstCopySlot;
  }
  // A run never reaches past the last member slot, nor past the table.
  const std::size_t limit = std::min(table.size(), kLastMemberSlot + 1);
  const std::span<SymbolRecord> run_and_after =
      index + 1 < limit ? table.subspan(index, limit - index) : table.subspan(index, 1);
  return WriteRecordOfRun(context, run_and_after, printed_index);
}

bool WriteRecordOfRun(const SymbolWriteContext& context, std::span<SymbolRecord> records,
                      std::size_t printed_index) {
  if (records.empty() || records[0].name[0] == '\0') return false;
  NormaliseRecord(context, records[0], records.subspan(1));
  PrintRecord(context, records[0], printed_index);
  return true;
}

}  // namespace dwarfsift
