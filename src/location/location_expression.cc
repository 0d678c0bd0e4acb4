#include "location/location_expression.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>

#include "base/message_channel.h"
#include "dwarf/readers.h"
#include "dwarf/register_names.h"
#include "dwarf/value_text.h"

namespace dwarfsift {

namespace {

// How one operand is read.
enum class Operand : std::uint8_t {
  kNone,
  kByte,      // one unsigned byte, kept as a number
  kUleb,      // kept as a number
  kSleb,      // kept as a number
  kConstant,  // `width` bytes laid over the result
  kSkip,      // `width` bytes, shown in the trace only
  kBlock,     // as many bytes as the number before says, shown only
  kAddressIndex,  // an index into .debug_addr: the address is the constant
};

// What the result keeps of an operation.
enum class Kept : std::uint8_t {
  kNothing,
  kConstant,  // the constant's bytes laid over the result
  kNumber,    // the first number laid over the result as four bytes
  kOperands,  // the code as opcode, the numbers as operands
  kRegister,  // the same, with the register text behind the trace text
};

// The arguments of a trace text, in order: the code, the numbers read (n1,
// n2) and the shown bytes.
enum class Args : std::uint8_t {
  kCode,
  kLiteral,  // the number in the code, the code
  kCodeBytes,
  kCodeNumber,
  kNumber,
  kCodeNumbers,
  kNumberCode,
  kNumberCodeNumber,
  kNumberCodeBytes,
  kSecondCodeFirst,  // n2, code, n1
};

struct OpShape {
  Operand operands[3];
  std::uint8_t width;  // of kConstant and kSkip operands; 0: the address size
  Kept kept;
  Args args;
};

constexpr OpShape kNoOperand{{}, 0, Kept::kNothing, Args::kCode};
constexpr OpShape kLiteral{{}, 0, Kept::kNothing, Args::kLiteral};
constexpr OpShape kAddressConstant{{Operand::kConstant}, 0, Kept::kConstant, Args::kCodeBytes};
constexpr OpShape kConstant1{{Operand::kConstant}, 1, Kept::kConstant, Args::kCodeBytes};
constexpr OpShape kConstant2{{Operand::kConstant}, 2, Kept::kConstant, Args::kCodeBytes};
constexpr OpShape kConstant4{{Operand::kConstant}, 4, Kept::kConstant, Args::kCodeBytes};
constexpr OpShape kConstant8{{Operand::kConstant}, 8, Kept::kConstant, Args::kCodeBytes};
constexpr OpShape kUnsignedConstant{{Operand::kUleb}, 0, Kept::kNumber, Args::kCodeNumber};
constexpr OpShape kSignedConstant{{Operand::kSleb}, 0, Kept::kNumber, Args::kCodeNumber};
constexpr OpShape kRegisterInCode{{}, 0, Kept::kRegister, Args::kCode};
constexpr OpShape kRegisterInCodeOffset{{Operand::kSleb}, 0, Kept::kRegister, Args::kCodeNumber};
constexpr OpShape kRegisterNumber{{Operand::kUleb}, 0, Kept::kRegister, Args::kCode};
constexpr OpShape kFrameBaseOffset{{Operand::kSleb}, 0, Kept::kRegister, Args::kNumber};
constexpr OpShape kRegisterNumberOffset{
    {Operand::kUleb, Operand::kSleb}, 0, Kept::kRegister, Args::kCodeNumbers};
constexpr OpShape kPieceSize{{Operand::kUleb}, 0, Kept::kOperands, Args::kCodeNumber};
constexpr OpShape kByteSize{{Operand::kByte}, 0, Kept::kOperands, Args::kCodeNumber};
constexpr OpShape kSkipped2{{Operand::kSkip}, 2, Kept::kNothing, Args::kCode};
constexpr OpShape kSkipped4{{Operand::kSkip}, 4, Kept::kNothing, Args::kCode};
constexpr OpShape kSkippedAddress{{Operand::kSkip}, 0, Kept::kNothing, Args::kCode};
constexpr OpShape kShownAddress{{Operand::kSkip}, 0, Kept::kNothing, Args::kCodeBytes};
constexpr OpShape kTwoNumbers{
    {Operand::kUleb, Operand::kUleb}, 0, Kept::kNothing, Args::kNumberCodeNumber};
constexpr OpShape kTypeNumber{{Operand::kUleb}, 0, Kept::kNothing, Args::kNumberCode};
// The typed loads: the size loaded (one byte), then the type's offset.
constexpr OpShape kSizeAndType{
    {Operand::kByte, Operand::kUleb}, 0, Kept::kNothing, Args::kNumberCodeNumber};
constexpr OpShape kShownBlock{
    {Operand::kUleb, Operand::kBlock}, 0, Kept::kNothing, Args::kNumberCodeBytes};
constexpr OpShape kHiddenBlock{{Operand::kUleb, Operand::kBlock}, 0, Kept::kNothing, Args::kNumberCode};
constexpr OpShape kImplicitPointer{
    {Operand::kSkip, Operand::kSleb}, 0, Kept::kNothing, Args::kNumberCodeBytes};
// DW_OP_addrx and DW_OP_constx: the result is DW_OP_addr's (or a constant
// operation's) with the address the index names.
constexpr OpShape kIndexedAddress{
    {Operand::kAddressIndex}, 0, Kept::kConstant, Args::kCodeNumbers};
constexpr OpShape kTypedConstant{
    {Operand::kUleb, Operand::kByte, Operand::kBlock}, 0, Kept::kNothing, Args::kSecondCodeFirst};

struct OpRow {
  std::uint8_t code;
  OpShape shape;
  const char* text;     // the trace text, a printf format taking `shape.args`
  std::uint8_t last = 0;  // the last code of a range sharing the row; 0: `code` alone
};

constexpr OpRow kUnknownOp{0, kNoOperand, "DW_OP_?\?\?\?\?\?(0x%X)      "};

// Every operation the decoder knows, by code.
constexpr OpRow kOpRows[] = {
    {kOpAddr, kAddressConstant, "DW_OP_addr(0x%X)[%s]    "},
    {kOpDeref, kNoOperand, "DW_OP_deref(0x%X)       "},
    {0x08, kConstant1, "DW_OP_const1u(0x%X)[%s] "},
    {0x09, kConstant1, "DW_OP_const1s(0x%X)[%s] "},
    {0x0a, kConstant2, "DW_OP_const2u(0x%X)[%s] "},
    {0x0b, kConstant2, "DW_OP_const2s(0x%X)[%s] "},
    {0x0c, kConstant4, "DW_OP_const4u(0x%X)[%s] "},
    {0x0d, kConstant4, "DW_OP_const4s(0x%X)[%s] "},
    {0x0e, kConstant8, "DW_OP_const8u(0x%X)[%s] "},
    {0x0f, kConstant8, "DW_OP_const8s(0x%X)[%s] "},
    {0x10, kUnsignedConstant, "DW_OP_constu(0x%X)[0x%X]  "},
    {0x11, kSignedConstant, "DW_OP_consts(0x%X)[0x%X]  "},
    {0x12, kNoOperand, "DW_OP_dup(0x%X)         "},
    {0x13, kNoOperand, "DW_OP_drop(0x%X)        "},
    {0x14, kNoOperand, "DW_OP_over(0x%X)        "},
    {0x15, kConstant1, "DW_OP_pick(0x%X)[%s]    "},
    {0x16, kNoOperand, "DW_OP_swap(0x%X)        "},
    {0x17, kNoOperand, "DW_OP_rot(0x%X)         "},
    {0x18, kNoOperand, "DW_OP_xderef(0x%X)      "},
    {0x19, kNoOperand, "DW_OP_abs(0x%X)         "},
    {0x1a, kNoOperand, "DW_OP_and(0x%X)         "},
    {0x1b, kNoOperand, "DW_OP_div(0x%X)         "},
    {0x1c, kNoOperand, "DW_OP_minus(0x%X)       "},
    {0x1d, kNoOperand, "DW_OP_mod(0x%X)         "},
    {0x1e, kNoOperand, "DW_OP_mul(0x%X)         "},
    {0x1f, kNoOperand, "DW_OP_neg(0x%X)         "},
    {0x20, kNoOperand, "DW_OP_not(0x%X)         "},
    {0x21, kNoOperand, "DW_OP_or(0x%X)          "},
    {0x22, kNoOperand, "DW_OP_plus(0x%X)        "},
    {kOpPlusUconst, kUnsignedConstant, "DW_OP_plus_uconst(0x%X)[0x%X] "},
    {0x24, kNoOperand, "DW_OP_shl(0x%X)         "},
    {0x25, kNoOperand, "DW_OP_shr(0x%X)         "},
    {0x26, kNoOperand, "DW_OP_shra(0x%X)        "},
    {0x27, kNoOperand, "DW_OP_xor(0x%X)         "},
    {0x28, kConstant2, "DW_OP_bra(0x%X)[%s]     "},
    {0x29, kNoOperand, "DW_OP_eq(0x%X)          "},
    {0x2a, kNoOperand, "DW_OP_ge(0x%X)          "},
    {0x2b, kNoOperand, "DW_OP_gt(0x%X)          "},
    {0x2c, kNoOperand, "DW_OP_le(0x%X)          "},
    {0x2d, kNoOperand, "DW_OP_lt(0x%X)          "},
    {0x2e, kNoOperand, "DW_OP_ne(0x%X)          "},
    {0x2f, kConstant2, "DW_OP_skip(0x%X)[%s]    "},
    {kOpLit0, kLiteral, "DW_OP_lit%d(0x%X)       ", kOpLit31},
    {kOpReg0, kRegisterInCode, "DW_OP_regn(0x%X)        ", kOpReg31},
    {kOpBreg0, kRegisterInCodeOffset, "DW_OP_bregn(0x%X)[%d]   ", kOpBreg31},
    {kOpRegx, kRegisterNumber, "DW_OP_regx(0x%X)        "},
    {kOpFbreg, kFrameBaseOffset, "DW_OP_fbreg(%d)       "},
    {kOpBregx, kRegisterNumberOffset, "DW_OP_bregx(0x%X)[%d][%d] "},
    {kOpPiece, kPieceSize, "DW_OP_piece(0x%X)[%d]   "},
    {0x94, kByteSize, "DW_OP_deref_size(0x%X)[0x%X] "},
    {0x95, kByteSize, "DW_OP_xderef_size(0x%X)[0x%X] "},
    {0x96, kNoOperand, "DW_OP_nop(0x%X)         "},
    {0x97, kNoOperand, "DW_OP_push_object_address(0x%X)"},
    {0x98, kSkipped2, "DW_OP_call2(0x%X)       "},
    {0x99, kSkipped4, "DW_OP_call4(0x%X)       "},
    {0x9a, kSkippedAddress, "DW_OP_call_ref(0x%X)    "},
    {0x9b, kNoOperand, "DW_OP_form_tls_address(0x%X)"},
    {kOpCallFrameCfa, kNoOperand, "DW_OP_call_frame_cfa(0x%X)"},
    {0x9d, kTwoNumbers, "DW_OP_bit_piece %d byte(%d)[%d] "},
    {0x9e, kShownBlock, "DW_OP_implicit_value %d byte(0x%X)[%s] "},
    {0x9f, kNoOperand, "DW_OP_stack_value "},
    {0xa0, kImplicitPointer, "DW_OP_implicit_pointer %d byte(0x%X)[%s] "},
    // The operations DWARF 5 took over from GNU extensions read as those do.
    {0xa1, kIndexedAddress, "DW_OP_addrx(0x%X)[%d][0x%X] "},
    {0xa2, kIndexedAddress, "DW_OP_constx(0x%X)[%d][0x%X] "},
    {0xa3, kHiddenBlock, "DW_OP_entry_value %d byte(0x%X) "},
    {0xa4, kTypedConstant, "DW_OP_const_type %d byte(%d)[%d] "},
    {0xa5, kTwoNumbers, "DW_OP_regval_type %d byte(%d)[%d] "},
    {0xa6, kSizeAndType, "DW_OP_deref_type %d byte(%d)[%d] "},
    {0xa7, kSizeAndType, "DW_OP_xderef_type %d byte(%d)[%d] "},
    {0xa8, kTypeNumber, "DW_OP_convert %d byte(%d) "},
    {0xa9, kTypeNumber, "DW_OP_reinterpret %d byte(%d) "},
    {0xe0, kNoOperand, "DW_OP_lo_user(0x%X)     "},
    {0xf0, kNoOperand, "DW_OP_GNU_uninit "},
    {0xf1, kShownAddress, "DW_OP_GNU_encoded_addr byte(0x%X)[%s] "},
    {0xf2, kImplicitPointer, "DW_OP_GNU_implicit_pointer %d byte(0x%X)[%s] "},
    {0xf3, kHiddenBlock, "DW_OP_GNU_entry_value %d byte(0x%X) "},
    {0xf4, kTypedConstant, "DW_OP_GNU_const_type %d byte(%d)[%d] "},
    {0xf5, kTwoNumbers, "DW_OP_GNU_regval_type %d byte(%d)[%d] "},
    {0xf6, kSizeAndType, "DW_OP_GNU_deref_type %d byte(%d)[%d] "},
    {0xf7, kTypeNumber, "DW_OP_GNU_convert %d byte(%d) "},
    {0xf9, kTypeNumber, "DW_OP_GNU_reinterpret %d byte(%d) "},
    {0xfa, kSkipped4, "DW_OP_GNU_parameter_ref(0x%X) "},
    {0xff, kNoOperand, "DW_OP_hi_user(0x%X)     "},
};

// A shape keeps at most two numbers, and a block follows the number that
// gives its length.
constexpr bool ReadableShape(const OpShape& shape) {
  int numbers = 0;
  for (const Operand operand : shape.operands) {
    if (operand == Operand::kBlock && numbers == 0) return false;
    if (operand == Operand::kByte || operand == Operand::kUleb || operand == Operand::kSleb) {
      ++numbers;
    }
  }
  return numbers <= 2;
}

// kOpRows by code, built once at compile time; rows out of order, sharing a
// code or of an unreadable shape fail the build.
constexpr std::array<const OpRow*, 256> IndexOpRows() {
  std::array<const OpRow*, 256> index{};
  index.fill(&kUnknownOp);
  int previous = -1;
  for (const OpRow& row : kOpRows) {
    const int last = row.last == 0 ? row.code : row.last;
    if (row.code <= previous || last < row.code || !ReadableShape(row.shape)) {
      throw "bad operation row";
    }
    for (int code = row.code; code <= last; ++code) index[static_cast<std::size_t>(code)] = &row;
    previous = last;
  }
  return index;
}
constexpr std::array<const OpRow*, 256> kOpOfCode = IndexOpRows();

// Hex dumps in a trace never need more bytes than the text can show.
constexpr int kHexDumpLimit = 128;

// Appends to the caller's text, bounded like the debugger's 256-byte buffer.
class TraceText {
 public:
  explicit TraceText(std::string* text) : text_(text) {}
  bool on() const { return text_ != nullptr; }

  // For the texts of the operation table, whose arguments are checked by
  // the tests of every row.
  void FormatRow(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatList(format, args);
    va_end(args);
  }
  // The register text of an operation, directly behind its text.
  void Register(std::uint32_t machine, std::uint32_t opcode, std::int32_t operand1,
                std::int32_t operand2) {
    if (text_ == nullptr) return;
    char buffer[256];
    const std::size_t n = RegisterOperandText(machine, opcode, operand1, operand2, buffer);
    Append(buffer, n);
  }

 private:
#if defined(__GNUC__)
  __attribute__((format(printf, 2, 0)))
#endif
  void FormatList(const char* format, va_list args) {
    if (text_ == nullptr) return;
    char scratch[2048];
    const int n = std::vsnprintf(scratch, sizeof scratch, format, args);
    if (n > 0) Append(scratch, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof scratch - 1));
  }
  void Append(const char* bytes, std::size_t n) {
    const std::size_t room =
        text_->size() < kLocationTextLimit ? kLocationTextLimit - text_->size() : 0;
    text_->append(bytes, std::min(n, room));
  }
  std::string* text_;
};

// The stored bytes of the next `count` operand bytes, without consuming them.
std::string HexOf(const ByteCursor& cursor, std::uint32_t count) {
  std::string hex;
  ByteCursor peek = cursor;
  const std::uint32_t shown = std::min<std::uint32_t>(
      {count, peek.remaining(), static_cast<std::uint32_t>(kHexDumpLimit)});
  HexDigits(hex, peek, static_cast<int>(shown));
  return hex;
}

// Lays `bytes` (least significant first) over the start of the result.
void Overlay(LocationResult& result, const std::uint8_t* bytes, int count) {
  std::uint8_t raw[10] = {};
  for (int i = 0; i < 2; ++i) raw[i] = static_cast<std::uint8_t>(result.opcode >> (8 * i));
  for (int i = 0; i < 4; ++i) {
    raw[2 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(result.operand1) >> (8 * i));
    raw[6 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(result.operand2) >> (8 * i));
  }
  std::memcpy(raw, bytes, static_cast<std::size_t>(std::min(count, 8)));
  result.opcode = static_cast<std::uint16_t>(raw[0] | raw[1] << 8);
  std::uint32_t op1 = 0;
  std::uint32_t op2 = 0;
  for (int i = 3; i >= 0; --i) {
    op1 = op1 << 8 | raw[2 + i];
    op2 = op2 << 8 | raw[6 + i];
  }
  result.operand1 = static_cast<std::int32_t>(op1);
  result.operand2 = static_cast<std::int32_t>(op2);
}

void OverlayValue(LocationResult& result, std::uint64_t value, int width) {
  std::uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  Overlay(result, bytes, width);
}

// What the operands of one operation came to.
struct Operands {
  std::int32_t numbers[2] = {};
  int count = 0;  // of numbers
  std::uint8_t constant[8] = {};  // least significant byte first
  int constant_size = 0;
  std::string shown;  // the stored bytes of a constant or skipped operand

  void Add(std::int32_t number) { numbers[count++] = number; }
};

// An eight-byte constant is laid over the result as stored, a narrower one
// by value; the two differ on big-endian targets.
void ReadConstant(ByteCursor& cursor, std::uint32_t width, Operands& out) {
  if (width == 8) {
    if (const std::uint8_t* stored = cursor.Take(8)) std::memcpy(out.constant, stored, 8);
  } else if (width == 1 || width == 2 || width == 4) {
    const std::uint64_t value = ReadFixed(cursor, static_cast<int>(width));
    for (std::uint32_t i = 0; i < width; ++i) {
      out.constant[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
  } else {
    // An address size the host never uses: consumed, not stored.
    cursor.Skip(width);
    return;
  }
  out.constant_size = static_cast<int>(width);
}

void ReadOperand(ByteCursor& cursor, Operand operand, std::uint32_t width, bool showing,
                 const UnitBases* unit, Operands& out) {
  switch (operand) {
    case Operand::kAddressIndex: {
      const std::uint32_t index = ReadUleb128(cursor);
      std::uint32_t address = 0;
      if (unit != nullptr) unit->Address(index, static_cast<std::uint8_t>(width), address);
      out.Add(static_cast<std::int32_t>(index));
      out.Add(static_cast<std::int32_t>(address));
      if (width == 1 || width == 2 || width == 4) {
        for (std::uint32_t i = 0; i < width; ++i) {
          out.constant[i] = static_cast<std::uint8_t>(address >> (8 * i));
        }
        out.constant_size = static_cast<int>(width);
      }
      return;
    }
    case Operand::kNone:
      return;
    case Operand::kByte:
      out.Add(cursor.ReadByte());
      return;
    case Operand::kUleb:
      out.Add(static_cast<std::int32_t>(ReadUleb128(cursor)));
      return;
    case Operand::kSleb:
      out.Add(ReadSleb128(cursor));
      return;
    case Operand::kConstant:
      if (showing) out.shown = HexOf(cursor, width);
      ReadConstant(cursor, width, out);
      return;
    case Operand::kBlock:
      width = static_cast<std::uint32_t>(out.numbers[out.count - 1]);
      [[fallthrough]];
    case Operand::kSkip:
      if (showing) out.shown = HexOf(cursor, width);
      cursor.Skip(width);
      return;
  }
}

void Keep(Kept kept, std::uint8_t code, const Operands& operands, LocationResult& result) {
  switch (kept) {
    case Kept::kNothing:
      return;
    case Kept::kConstant:
      if (operands.constant_size > 0) Overlay(result, operands.constant, operands.constant_size);
      return;
    case Kept::kNumber:
      OverlayValue(result, static_cast<std::uint32_t>(operands.numbers[0]), 4);
      return;
    case Kept::kOperands:
    case Kept::kRegister:
      result.opcode = code;
      if (operands.count > 0) result.operand1 = operands.numbers[0];
      if (operands.count > 1) result.operand2 = operands.numbers[1];
      return;
  }
}

void Show(const OpRow& op, std::uint8_t code, const Operands& operands, std::uint32_t machine,
          TraceText& trace) {
  if (!trace.on()) return;
  const char* text = op.text;
  const std::int32_t n1 = operands.numbers[0];
  const std::int32_t n2 = operands.numbers[1];
  const char* bytes = operands.shown.c_str();
  switch (op.shape.args) {
    case Args::kCode: trace.FormatRow(text, code); break;
    case Args::kLiteral: trace.FormatRow(text, code - kOpLit0, code); break;
    case Args::kCodeBytes: trace.FormatRow(text, code, bytes); break;
    case Args::kCodeNumber: trace.FormatRow(text, code, n1); break;
    case Args::kNumber: trace.FormatRow(text, n1); break;
    case Args::kCodeNumbers: trace.FormatRow(text, code, n1, n2); break;
    case Args::kNumberCode: trace.FormatRow(text, n1, code); break;
    case Args::kNumberCodeNumber: trace.FormatRow(text, n1, code, n2); break;
    case Args::kNumberCodeBytes: trace.FormatRow(text, n1, code, bytes); break;
    case Args::kSecondCodeFirst: trace.FormatRow(text, n2, code, n1); break;
  }
  // RegisterOperandText takes DW_OP_bregx's register from its low byte.
  if (op.shape.kept == Kept::kRegister) trace.Register(machine, code, n1, n2);
}

}  // namespace

std::uint32_t DecodeLocationOp(ByteCursor& cursor, const LocationTarget& target,
                               LocationResult& result, std::string* text) {
  TraceText trace(text);
  const std::uint8_t code = cursor.ReadByte();
  const OpRow& op = *kOpOfCode[code];
  const std::uint32_t width = op.shape.width == 0 ? target.address_size : op.shape.width;
  Operands operands;
  for (const Operand operand : op.shape.operands) {
    ReadOperand(cursor, operand, width, trace.on(), target.unit, operands);
  }
  Keep(op.shape.kept, code, operands, result);
  Show(op, code, operands, target.machine, trace);
  return cursor.position();
}

LocationResult DecodeFirstLocationOp(std::span<const std::uint8_t> block, ByteOrder order,
                                     const LocationTarget& target, std::string* text) {
  ByteCursor cursor(block, order);
  LocationResult result;
  DecodeLocationOp(cursor, target, result, text);
  return result;
}

}  // namespace dwarfsift
