// DWARF location operations, one at a time.
//
// The host debugger does not evaluate expressions: it wants a static
// address, a register, a register plus offset or an offset from the frame
// base. DecodeLocationOp reads one operation, keeps its register-shaped
// operands in a LocationResult and, for the trace, appends a fixed text.
// The location rules built on it (a variable's DW_AT_location, a function's
// DW_AT_frame_base) belong to the symbol conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "dwarf/attribute_value.h"
#include "dwarf/byte_cursor.h"

namespace dwarfsift {

inline constexpr std::uint8_t kOpAddr = 0x03;
inline constexpr std::uint8_t kOpDeref = 0x06;
inline constexpr std::uint8_t kOpPlusUconst = 0x23;
inline constexpr std::uint8_t kOpLit0 = 0x30;
inline constexpr std::uint8_t kOpLit31 = 0x4F;
inline constexpr std::uint8_t kOpReg0 = 0x50;
inline constexpr std::uint8_t kOpReg7 = 0x57;
inline constexpr std::uint8_t kOpReg31 = 0x6F;
inline constexpr std::uint8_t kOpBreg0 = 0x70;
inline constexpr std::uint8_t kOpBreg31 = 0x8F;
inline constexpr std::uint8_t kOpRegx = 0x90;
inline constexpr std::uint8_t kOpFbreg = 0x91;
inline constexpr std::uint8_t kOpBregx = 0x92;
inline constexpr std::uint8_t kOpPiece = 0x93;
inline constexpr std::uint8_t kOpCallFrameCfa = 0x9c;
inline constexpr std::uint8_t kOpAddrx = 0xa1;

// The trace text of one decode stays below this many characters.
inline constexpr std::size_t kLocationTextLimit = 255;

// The register-shaped outcome of one operation. Constant-carrying
// operations lay their value over the fields instead, least significant
// byte first from `opcode` on (2 bytes), then `operand1` (4), then the low
// half of `operand2`: the debugger reads list rows that way.
struct LocationResult {
  std::uint16_t opcode = 0;
  std::int32_t operand1 = 0;
  std::int32_t operand2 = 0;
};

// What the decoder needs to know of the target besides the bytes.
struct LocationTarget {
  std::uint8_t address_size = 4;
  std::uint32_t machine = 0;  // normalised e_machine, selects register texts
  // The current unit's .debug_addr table, for DW_OP_addrx and DW_OP_constx;
  // null (or a unit without DW_AT_addr_base) makes their value 0.
  const UnitBases* unit = nullptr;
};

// Decodes the operation at `cursor`, stores its operands in `result` (which
// the caller has cleared) and, when `text` is given, appends its trace text
// (the whole text kept below kLocationTextLimit characters). Returns the
// position after the operation. Unknown codes consume their code byte only;
// operands missing at the end of the cursor's view read as zero.
std::uint32_t DecodeLocationOp(ByteCursor& cursor, const LocationTarget& target,
                               LocationResult& result, std::string* text);

// The first operation of an expression block, decoded as above; bytes
// past the block read as zero, as in the cleared value area a block is read
// into.
LocationResult DecodeFirstLocationOp(std::span<const std::uint8_t> block, ByteOrder order,
                                     const LocationTarget& target, std::string* text);

}  // namespace dwarfsift
