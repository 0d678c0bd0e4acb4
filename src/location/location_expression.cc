#include "location/location_expression.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>

#include "app/message_channel.h"
#include "dwarf/readers.h"
#include "dwarf/register_names.h"
#include "dwarf/value_text.h"
#include "elf/elf_image.h"
#include "symbols/entry_hooks.h"
#include "symbols/entry_processing.h"

namespace dwarfsift {

namespace {

// Texts of the operations that take no operand; the argument is the code.
struct PlainOp {
  std::uint8_t code;
  const char* text;
};
constexpr PlainOp kPlainOps[] = {
    {0x06, "DW_OP_deref(0x%X)       "},  {0x12, "DW_OP_dup(0x%X)         "},
    {0x13, "DW_OP_drop(0x%X)        "},  {0x14, "DW_OP_over(0x%X)        "},
    {0x16, "DW_OP_swap(0x%X)        "},  {0x17, "DW_OP_rot(0x%X)         "},
    {0x18, "DW_OP_xderef(0x%X)      "},  {0x19, "DW_OP_abs(0x%X)         "},
    {0x1a, "DW_OP_and(0x%X)         "},  {0x1b, "DW_OP_div(0x%X)         "},
    {0x1c, "DW_OP_minus(0x%X)       "},  {0x1d, "DW_OP_mod(0x%X)         "},
    {0x1e, "DW_OP_mul(0x%X)         "},  {0x1f, "DW_OP_neg(0x%X)         "},
    {0x20, "DW_OP_not(0x%X)         "},  {0x21, "DW_OP_or(0x%X)          "},
    {0x22, "DW_OP_plus(0x%X)        "},  {0x24, "DW_OP_shl(0x%X)         "},
    {0x25, "DW_OP_shr(0x%X)         "},  {0x26, "DW_OP_shra(0x%X)        "},
    {0x27, "DW_OP_xor(0x%X)         "},  {0x29, "DW_OP_eq(0x%X)          "},
    {0x2a, "DW_OP_ge(0x%X)          "},  {0x2b, "DW_OP_gt(0x%X)          "},
    {0x2c, "DW_OP_le(0x%X)          "},  {0x2d, "DW_OP_lt(0x%X)          "},
    {0x2e, "DW_OP_ne(0x%X)          "},  {0x96, "DW_OP_nop(0x%X)         "},
    {0x97, "DW_OP_push_object_address(0x%X)"},
    {0x9b, "DW_OP_form_tls_address(0x%X)"},
    {0x9c, "DW_OP_call_frame_cfa(0x%X)"},
    {0x9f, "DW_OP_stack_value "},        {0xe0, "DW_OP_lo_user(0x%X)     "},
    {0xf0, "DW_OP_GNU_uninit "},         {0xff, "DW_OP_hi_user(0x%X)     "},
};

// Operations carrying a constant of fixed width: the value is laid over the
// result and shown as its stored bytes.
struct ConstantOp {
  std::uint8_t code;
  int width;  // 0: the address size
  const char* text;
};
constexpr ConstantOp kConstantOps[] = {
    {0x03, 0, "DW_OP_addr(0x%X)[%s]    "},
    {0x08, 1, "DW_OP_const1u(0x%X)[%s] "}, {0x09, 1, "DW_OP_const1s(0x%X)[%s] "},
    {0x0a, 2, "DW_OP_const2u(0x%X)[%s] "}, {0x0b, 2, "DW_OP_const2s(0x%X)[%s] "},
    {0x0c, 4, "DW_OP_const4u(0x%X)[%s] "}, {0x0d, 4, "DW_OP_const4s(0x%X)[%s] "},
    {0x0e, 8, "DW_OP_const8u(0x%X)[%s] "}, {0x0f, 8, "DW_OP_const8s(0x%X)[%s] "},
    {0x15, 1, "DW_OP_pick(0x%X)[%s]    "},
    {0x28, 2, "DW_OP_bra(0x%X)[%s]     "}, {0x2f, 2, "DW_OP_skip(0x%X)[%s]    "},
};

// Hex dumps in a trace never need more bytes than the text can show.
constexpr int kHexDumpLimit = 128;

// Appends to the caller's text, bounded like the debugger's 256-byte buffer.
class TraceText {
 public:
  explicit TraceText(std::string* text) : text_(text) {}
  bool on() const { return text_ != nullptr; }

  DWARFSIFT_PRINTF(2, 3) void Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    FormatList(format, args);
    va_end(args);
  }
  // For the texts of the operation tables, whose arguments are checked by
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

void DecodeConstant(ByteCursor& cursor, const LocationTarget& target,
                    const ConstantOp& op, LocationResult& result, TraceText& trace) {
  const int width = op.width == 0 ? target.address_size : op.width;
  if (trace.on()) {
    trace.FormatRow(op.text, op.code, HexOf(cursor, static_cast<std::uint32_t>(width)).c_str());
  }
  if (width == 8) {
    std::uint8_t bytes[8] = {};
    if (const std::uint8_t* stored = cursor.Take(8)) std::memcpy(bytes, stored, 8);
    Overlay(result, bytes, 8);
  } else if (width == 1 || width == 2 || width == 4) {
    OverlayValue(result, ReadFixed(cursor, width), width);
  } else {
    // An address size the host never uses: consumed, not stored.
    cursor.Skip(static_cast<std::uint32_t>(width));
  }
}

// Reads the reference and offset of the implicit-pointer operations.
void DecodeImplicitPointer(ByteCursor& cursor, const LocationTarget& target,
                           std::uint8_t code, const char* format, TraceText& trace) {
  std::string hex;
  if (trace.on()) hex = HexOf(cursor, target.address_size);
  cursor.Skip(target.address_size);
  const std::int32_t offset = ReadSleb128(cursor);
  trace.FormatRow(format, offset, code, hex.c_str());
}

}  // namespace

std::uint32_t DecodeLocationOp(ByteCursor& cursor, const LocationTarget& target,
                               LocationResult& result, std::string* text) {
  TraceText trace(text);
  const std::uint8_t code = cursor.ReadByte();

  for (const ConstantOp& op : kConstantOps) {
    if (op.code != code) continue;
    DecodeConstant(cursor, target, op, result, trace);
    return cursor.position();
  }
  for (const PlainOp& op : kPlainOps) {
    if (op.code != code) continue;
    trace.FormatRow(op.text, code);
    return cursor.position();
  }
  if (code >= 0x30 && code <= 0x4f) {
    trace.Format("DW_OP_lit%d(0x%X)       ", code - 0x30, code);
    return cursor.position();
  }
  if (code >= kOpReg0 && code < kOpBreg0) {
    result.opcode = code;
    trace.Format("DW_OP_regn(0x%X)        ", code);
    trace.Register(target.machine, code, 0, 0);
    return cursor.position();
  }
  if (code >= kOpBreg0 && code <= kOpBreg31) {
    result.opcode = code;
    result.operand1 = ReadSleb128(cursor);
    trace.Format("DW_OP_bregn(0x%X)[%d]   ", code, result.operand1);
    trace.Register(target.machine, code, result.operand1, 0);
    return cursor.position();
  }

  switch (code) {
    case 0x10:
    case 0x11:
    case kOpPlusUconst: {
      const std::uint32_t value = code == 0x11
                                      ? static_cast<std::uint32_t>(ReadSleb128(cursor))
                                      : ReadUleb128(cursor);
      OverlayValue(result, value, 4);
      const char* format = code == 0x10   ? "DW_OP_constu(0x%X)[0x%X]  "
                           : code == 0x11 ? "DW_OP_consts(0x%X)[0x%X]  "
                                          : "DW_OP_plus_uconst(0x%X)[0x%X] ";
      trace.FormatRow(format, code, value);
      break;
    }
    case kOpRegx:
      result.opcode = code;
      result.operand1 = static_cast<std::int32_t>(ReadUleb128(cursor));
      trace.Format("DW_OP_regx(0x%X)        ", code);
      trace.Register(target.machine, code, result.operand1, 0);
      break;
    case kOpFbreg:
      result.opcode = code;
      result.operand1 = ReadSleb128(cursor);
      trace.Format("DW_OP_fbreg(%d)       ", result.operand1);
      trace.Register(target.machine, code, result.operand1, 0);
      break;
    case kOpBregx:
      result.opcode = code;
      result.operand1 = static_cast<std::int32_t>(ReadUleb128(cursor));
      result.operand2 = ReadSleb128(cursor);
      trace.Format("DW_OP_bregx(0x%X)[%d][%d] ", code, result.operand1, result.operand2);
      trace.Register(target.machine, code, result.operand1 & 0xFF, result.operand2);
      break;
    case kOpPiece:
      result.opcode = code;
      result.operand1 = static_cast<std::int32_t>(ReadUleb128(cursor));
      trace.Format("DW_OP_piece(0x%X)[%d]   ", code, result.operand1);
      break;
    case 0x94:
    case 0x95: {
      const std::uint8_t size = cursor.ReadByte();
      result.opcode = code;
      result.operand1 = size;
      trace.FormatRow(code == 0x94 ? "DW_OP_deref_size(0x%X)[0x%X] "
                                   : "DW_OP_xderef_size(0x%X)[0x%X] ",
                      code, size);
      break;
    }
    case 0x98:
      cursor.Skip(2);
      trace.Format("DW_OP_call2(0x%X)       ", code);
      break;
    case 0x99:
      cursor.Skip(4);
      trace.Format("DW_OP_call4(0x%X)       ", code);
      break;
    case 0x9a:
      cursor.Skip(target.address_size);
      trace.Format("DW_OP_call_ref(0x%X)    ", code);
      break;
    case 0x9d: {
      const std::uint32_t size = ReadUleb128(cursor);
      const std::uint32_t offset = ReadUleb128(cursor);
      trace.Format("DW_OP_bit_piece %d byte(%d)[%d] ", static_cast<std::int32_t>(size),
                   code, static_cast<std::int32_t>(offset));
      break;
    }
    case 0x9e: {
      const std::uint32_t length = ReadUleb128(cursor);
      if (trace.on()) {
        trace.Format("DW_OP_implicit_value %d byte(0x%X)[%s] ",
                     static_cast<std::int32_t>(length), code, HexOf(cursor, length).c_str());
      }
      cursor.Skip(length);
      break;
    }
    case 0xa0:
      DecodeImplicitPointer(cursor, target, code,
                            "DW_OP_implicit_pointer %d byte(0x%X)[%s] ", trace);
      break;
    case 0xf1:
      if (trace.on()) {
        trace.Format("DW_OP_GNU_encoded_addr byte(0x%X)[%s] ", code,
                     HexOf(cursor, target.address_size).c_str());
      }
      cursor.Skip(target.address_size);
      break;
    case 0xf2:
      DecodeImplicitPointer(cursor, target, code,
                            "DW_OP_GNU_implicit_pointer %d byte(0x%X)[%s] ", trace);
      break;
    case 0xf3: {
      const std::uint32_t length = ReadUleb128(cursor);
      cursor.Skip(length);
      trace.Format("DW_OP_GNU_entry_value %d byte(0x%X) ", static_cast<std::int32_t>(length),
                   code);
      break;
    }
    case 0xf4: {
      const std::uint32_t type = ReadUleb128(cursor);
      const std::uint8_t size = cursor.ReadByte();
      cursor.Skip(size);
      trace.Format("DW_OP_GNU_const_type %d byte(%d)[%d] ", size, code,
                   static_cast<std::int32_t>(type));
      break;
    }
    case 0xf5: {
      const std::uint32_t reg = ReadUleb128(cursor);
      const std::uint32_t type = ReadUleb128(cursor);
      trace.Format("DW_OP_GNU_regval_type %d byte(%d)[%d] ", static_cast<std::int32_t>(reg),
                   code, static_cast<std::int32_t>(type));
      break;
    }
    case 0xf6:
    case 0xf7:
    case 0xf9: {
      const std::uint32_t value = ReadUleb128(cursor);
      const char* format = code == 0xf6   ? "DW_OP_GNU_deref_type %d byte(%d) "
                           : code == 0xf7 ? "DW_OP_GNU_convert %d byte(%d) "
                                          : "DW_OP_GNU_reinterpret %d byte(%d) ";
      trace.FormatRow(format, static_cast<std::int32_t>(value), code);
      break;
    }
    case 0xfa:
      cursor.Skip(4);
      trace.Format("DW_OP_GNU_parameter_ref(0x%X) ", code);
      break;
    default:
      trace.Format("DW_OP_?\?\?\?\?\?(0x%X)      ", code);
      break;
  }
  return cursor.position();
}

// ---------------------------------------------------------------------------
// The location rules of single expressions.

namespace {

LocationTarget TargetOf(const WalkContext& walk) {
  return LocationTarget{walk.dwarf.address_size, walk.elf.header.e_machine};
}

// The first operation of a block; bytes past the block read as zero, as in
// the cleared value area the block was read into.
LocationResult DecodeFirst(const WalkContext& walk, std::span<const std::uint8_t> block,
                           std::string* text) {
  ByteCursor cursor(block, walk.dwarf.byte_order);
  LocationResult result;
  DecodeLocationOp(cursor, TargetOf(walk), result, text);
  return result;
}

void SetFunctionRange(const ScopeState& scope, SymbolRecord& record) {
  record.fstart = scope.function_low_pc;
  record.fend = scope.function_high_pc;
}

void SetRegisters(const WalkContext& walk, SymbolRecord& record, std::int32_t code,
                  std::int32_t operand1, std::int32_t operand2) {
  record.regcode = code;
  record.regop1 = operand1;
  record.regop2 = operand2;
  RegisterOperandText(walk.elf.header.e_machine, static_cast<std::uint32_t>(code), operand1,
                      operand2, record.regn);
}

}  // namespace

void ApplyLocationRules(WalkContext& walk, const AttributeValue& value) {
  const auto block = value.block();
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  const ScopeState& scope = walk.scope;
  const std::uint8_t code = block.empty() ? 0 : block[0];
  if (code == 0) {
    current.ident = kIdentNon;
    SetFunctionRange(scope, current);
    return;
  }
  const LocationResult first = DecodeFirst(walk, block, nullptr);

  if (code == kOpAddr) {
    std::uint32_t address = first.opcode;
    if (walk.dwarf.address_size != 2) {
      address |= (static_cast<std::uint32_t>(first.operand1) & 0xFFFF) << 16;
    }
    if (current.ident == kIdentNon) current.ident = kIdentLocalStatic;
    current.location = static_cast<std::int32_t>(address);
    if (scope.function_scope_end != 0) {
      SetFunctionRange(scope, current);
    } else {
      current.fstart = scope.unit_low_pc;
      current.fend = scope.unit_high_pc;
    }
    return;
  }
  if (code >= kOpReg0 && code <= kOpBreg31) {
    current.ident = kIdentLocalRegister;
    SetFunctionRange(scope, current);
    SetRegisters(walk, current, code, first.operand1, first.operand2);
    return;
  }
  switch (code) {
    case kOpRegx: {
      current.ident = kIdentLocalRegister;
      SetFunctionRange(scope, current);
      // The debugger looks at the third byte only, which is the next
      // operation when the register number takes one byte.
      const std::uint8_t next = block.size() > 2 ? block[2] : 0;
      if (next == 0) {
        SetRegisters(walk, current, kOpRegx, first.operand1, 0);
      } else if (next == kOpPiece) {
        SetRegisters(walk, current, kOpReg7, 0, 0);
      }
      return;
    }
    case kOpBregx:
      current.ident = kIdentLocalRegister;
      SetFunctionRange(scope, current);
      SetRegisters(walk, current, kOpBregx, first.operand1, first.operand2);
      return;
    case kOpFbreg: {
      current.ident = kIdentLocalFrame;
      SetFunctionRange(scope, current);
      // The host adds the frame base itself; it only needs to know which
      // register-based shape the frame base has.
      std::int32_t regcode = scope.frame_base_opcode;
      if (regcode == 0) {
        regcode = kOpFbreg;
      } else if (regcode < kOpBreg0) {
        regcode += kOpBreg0 - kOpReg0;
      }
      SetRegisters(walk, current, regcode, first.operand1, 0);
      return;
    }
    default:
      return;
  }
}

void SaveFrameBase(WalkContext& walk, const AttributeValue& value) {
  const LocationResult first = DecodeFirst(walk, value.block(), nullptr);
  // An operation that stores no opcode of its own (DW_OP_call_frame_cfa, the
  // frame base of every DWARF 3 and 4 function GCC writes) is still saved by
  // its code, so frame-based locals carry it rather than passing for
  // functions without any frame base: the host must not take the CFA for
  // the frame base it assumes when none is given.
  walk.scope.frame_base_opcode =
      first.opcode == 0 && !value.block().empty() ? value.block()[0] : first.opcode;
  walk.scope.frame_base_operand1 = first.operand1;
  walk.scope.frame_base_operand2 = first.operand2;
  walk.scope.frame_base_is_cfa = value.block().size() == 1 && value.block()[0] == kOpCallFrameCfa;
}

void FirstOperationText(WalkContext& walk, const AttributeValue& value, std::string& out) {
  std::string text;
  DecodeFirst(walk, value.block(), &text);
  out += text;
}

}  // namespace dwarfsift
