// Register texts for the host debugger, named the way it expects them for
// the processor family of the input file.
//
// A register-shaped location operation (a register, a register plus offset,
// or a frame-base offset) becomes the text of a symbol record's `regn` field
// and of the location trace. The family is the normalised e_machine of the
// ELF header (173 RX, 80 ARM, 42 SH, 46 H8/300; any other code names
// registers as the H8/300H and H8S do).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace dwarfsift {

// The register-name families, as the ELF reader normalises e_machine.
inline constexpr std::uint32_t kMachineSh = 42;
inline constexpr std::uint32_t kMachineH8300 = 46;
inline constexpr std::uint32_t kMachineH8300H = 47;
inline constexpr std::uint32_t kMachineH8S = 48;
inline constexpr std::uint32_t kMachineArm = 80;
inline constexpr std::uint32_t kMachineRx = 173;

// Holds every text below with its terminating zero.
inline constexpr std::size_t kRegisterTextSize = 32;

// Writes the text for location operation `opcode` with its operands (the
// register number or offset, and the offset of DW_OP_bregx) into `buffer`,
// zero-terminated, and returns its length. Returns 0 and leaves `buffer`
// untouched when the operation has no register text for this family.
std::size_t RegisterOperandText(std::uint32_t machine, std::uint32_t opcode,
                                std::int32_t operand1, std::int32_t operand2,
                                std::span<char> buffer);

// The name of DWARF register `number` (DW_OP_regx), written like
// RegisterOperandText; 0 when the family has no name for it.
std::size_t RegisterName(std::uint32_t machine, std::uint32_t number,
                         std::span<char> buffer);

}  // namespace dwarfsift
