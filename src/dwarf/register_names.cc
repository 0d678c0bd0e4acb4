#include "dwarf/register_names.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace dwarfsift {
namespace {

// Register numbers first..last are named prefix, number, suffix, the number
// counting up from `base`; a row with base kFixed names one register with
// the prefix alone.
struct RegisterRow {
  std::uint32_t first;
  std::uint32_t last;
  const char* prefix;
  std::int32_t base;
  const char* suffix;
};
constexpr std::int32_t kFixed = -1;

constexpr RegisterRow kArmRegisters[] = {
    {0, 15, "R", 0, ""},          {64, 95, "S", 0, ""},
    {96, 103, "F", 0, ""},        {104, 111, "wCGR", 0, ""},
    {112, 127, "wR", 0, ""},      {128, 128, "SPSR", kFixed, ""},
    {129, 129, "SPSR_FIQ", kFixed, ""}, {130, 130, "SPSR_IRQ", kFixed, ""},
    {131, 131, "SPSR_ABT", kFixed, ""}, {132, 132, "SPSR_UND", kFixed, ""},
    {133, 133, "SPSR_SVC", kFixed, ""}, {144, 150, "R", 8, "_USR"},
    {151, 157, "R", 8, "_FIQ"},   {158, 159, "R", 13, "_IRQ"},
    {160, 161, "R", 13, "_ABT"},  {162, 163, "R", 13, "_UND"},
    {164, 165, "R", 13, "_SVC"},  {192, 199, "wC", 0, ""},
    {256, 287, "D", 0, ""},
};

constexpr RegisterRow kRxRegisters[] = {
    {0, 0, "R1LL", kFixed, ""},  {1, 1, "R1LH", kFixed, ""},  {2, 2, "R1HL", kFixed, ""},
    {3, 3, "R1HH", kFixed, ""},  {4, 4, "R2LL", kFixed, ""},  {5, 5, "R2LH", kFixed, ""},
    {6, 6, "R2HL", kFixed, ""},  {7, 7, "R2HH", kFixed, ""},  {8, 8, "R3LL", kFixed, ""},
    {9, 9, "R3LH", kFixed, ""},  {10, 10, "R3HL", kFixed, ""}, {11, 11, "R3HH", kFixed, ""},
    {12, 12, "R4LL", kFixed, ""}, {13, 13, "R4LH", kFixed, ""}, {14, 14, "R4HL", kFixed, ""},
    {15, 15, "R4HH", kFixed, ""}, {16, 16, "R1L", kFixed, ""},  {17, 17, "R1H", kFixed, ""},
    {18, 18, "R2L", kFixed, ""},  {19, 19, "R2H", kFixed, ""},  {20, 20, "R3L", kFixed, ""},
    {21, 21, "R3H", kFixed, ""},  {22, 22, "R4L", kFixed, ""},  {23, 23, "R4H", kFixed, ""},
};

// The host counts the SH general registers from 32.
constexpr RegisterRow kShRegisters[] = {
    {0, 31, "R", 32, ""},         {32, 95, "FR", 0, ""},
    {96, 96, "PR", kFixed, ""},   {97, 97, "SPC", kFixed, ""},
    {98, 129, "DR", 0, ""},       {130, 161, "FP", 0, ""},
    {162, 177, "FV", 0, ""},      {178, 193, "XF", 0, ""},
    {194, 194, "XD0", kFixed, ""}, {195, 195, "XD2", kFixed, ""},
    {196, 196, "XD4", kFixed, ""}, {197, 197, "XD6", kFixed, ""},
    {198, 198, "XD8", kFixed, ""}, {199, 199, "XD10", kFixed, ""},
    {200, 200, "XD12", kFixed, ""}, {201, 201, "XD14", kFixed, ""},
    {202, 202, "MTR0", kFixed, ""}, {203, 203, "MTR16", kFixed, ""},
    {204, 204, "MTR32", kFixed, ""}, {205, 205, "MTR48", kFixed, ""},
    {206, 207, "A", 0, ""},       {208, 209, "M", 0, ""},
    {210, 211, "X", 0, ""},       {212, 213, "Y", 0, ""},
    {214, 222, "TR", 0, ""},
};

constexpr RegisterRow kH8300Registers[] = {
    {0, 7, "R", 0, "L"},
    {8, 15, "R", 0, "H"},
};

constexpr RegisterRow kH8300HRegisters[] = {
    {0, 7, "R", 0, "L"},
    {8, 15, "R", 0, "H"},
    {16, 23, "R", 0, ""},
    {24, 31, "E", 0, ""},
};

enum class Family { kRx, kArm, kSh, kH8300, kH8300H };

struct FamilyNames {
  std::span<const RegisterRow> rows;
  // For a number no row names: this prefix, followed by the number when
  // `fallback_numbered`; no name at all when null.
  const char* fallback;
  bool fallback_numbered;
};

Family FamilyOf(std::uint32_t machine) {
  switch (machine) {
    case kMachineRx: return Family::kRx;
    case kMachineArm: return Family::kArm;
    case kMachineSh: return Family::kSh;
    case kMachineH8300: return Family::kH8300;
    default: return Family::kH8300H;
  }
}

FamilyNames NamesOf(Family family) {
  switch (family) {
    case Family::kRx: return {kRxRegisters, nullptr, false};
    case Family::kArm: return {kArmRegisters, "R???", true};
    case Family::kSh: return {kShRegisters, "R???", false};
    case Family::kH8300: return {kH8300Registers, nullptr, false};
    case Family::kH8300H: break;
  }
  return {kH8300HRegisters, nullptr, false};
}

// Copies `text` into `buffer`, cut to fit with its terminating zero.
std::size_t Put(std::span<char> buffer, std::string_view text) {
  if (buffer.empty()) return 0;
  const std::size_t n = std::min(text.size(), buffer.size() - 1);
  std::copy_n(text.data(), n, buffer.data());
  buffer[n] = '\0';
  return n;
}

std::size_t PutNamed(std::span<char> buffer, const char* prefix, bool numbered,
                     std::int32_t number, const char* suffix) {
  char text[kRegisterTextSize * 2];
  std::string_view prefix_text(prefix), suffix_text(suffix);
  char* at = std::copy(prefix_text.begin(), prefix_text.end(), text);
  if (numbered) at = std::to_chars(at, text + sizeof text, number).ptr;
  at = std::copy(suffix_text.begin(), suffix_text.end(), at);
  return Put(buffer, std::string_view(text, static_cast<std::size_t>(at - text)));
}

}  // namespace

std::size_t RegisterName(std::uint32_t machine, std::uint32_t number,
                         std::span<char> buffer) {
  const FamilyNames names = NamesOf(FamilyOf(machine));
  for (const RegisterRow& row : names.rows) {
    if (number < row.first || number > row.last) continue;
    const bool numbered = row.base != kFixed;
    return PutNamed(buffer, row.prefix, numbered,
                    static_cast<std::int32_t>(number - row.first) + row.base, row.suffix);
  }
  if (names.fallback == nullptr) return 0;
  return PutNamed(buffer, names.fallback, names.fallback_numbered,
                  static_cast<std::int32_t>(number), "");
}

std::size_t RegisterOperandText(std::uint32_t machine, std::uint32_t opcode,
                                std::int32_t operand1, std::int32_t operand2,
                                std::span<char> buffer) {
  const Family family = FamilyOf(machine);
  const bool extended = family == Family::kH8300H;  // ER registers
  char text[kRegisterTextSize * 2];
  int n = -1;
  if (opcode >= 0x50 && opcode <= 0x6F) {  // DW_OP_reg0..31
    const int reg = static_cast<int>(opcode - 0x50);
    n = std::snprintf(text, sizeof text, extended ? "ER%d" : "R%d", reg);
  } else if (opcode >= 0x70 && opcode <= 0x8F) {  // DW_OP_breg0..31
    const int reg = static_cast<int>(opcode - 0x70);
    n = extended ? std::snprintf(text, sizeof text, "@(.%d+ER%d)", operand1, reg)
                 : std::snprintf(text, sizeof text, "@(.%d+R%d)", operand1, reg);
  } else if (opcode == 0x90) {  // DW_OP_regx
    return RegisterName(machine, static_cast<std::uint32_t>(operand1), buffer);
  } else if (opcode == 0x91) {  // DW_OP_fbreg
    n = std::snprintf(text, sizeof text, "@(.%d+FB)", operand1);
  } else if (opcode == 0x92) {  // DW_OP_bregx
    const int reg = operand1 & 0xFF;
    if (family == Family::kArm || family == Family::kSh) {
      n = std::snprintf(text, sizeof text, "@(.%d+R%d)", operand2, reg);
    } else if (family == Family::kRx) {
      n = std::snprintf(text, sizeof text, "@(R%d+R%d)", operand2, reg);
    }
  }
  if (n < 0) return 0;
  return Put(buffer, std::string_view(text, static_cast<std::size_t>(n)));
}

}  // namespace dwarfsift
