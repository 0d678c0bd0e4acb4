// Register texts of every family, row by row: the first and last number of
// each range, the fixed names, and what lies just outside.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "dwarf/register_names.h"

namespace dwarfsift {
namespace {

constexpr std::uint32_t kRegx = 0x90, kFbreg = 0x91, kBregx = 0x92;

struct Case {
  std::uint32_t machine;
  std::uint32_t opcode;
  std::int32_t operand1, operand2;
  const char* text;  // null: nothing written
};

void ExpectCases(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    char buffer[kRegisterTextSize];
    std::strcpy(buffer, "before");
    const std::size_t n =
        RegisterOperandText(c.machine, c.opcode, c.operand1, c.operand2, buffer);
    const std::string expected = c.text ? c.text : "before";
    EXPECT_EQ(std::string(buffer), expected)
        << "machine " << c.machine << " op 0x" << std::hex << c.opcode << std::dec << " "
        << c.operand1 << " " << c.operand2;
    EXPECT_EQ(n, c.text ? expected.size() : 0u);
  }
}

Case Regx(std::uint32_t machine, std::int32_t number, const char* text) {
  return {machine, kRegx, number, 0, text};
}

TEST(RegisterNames, OperationTexts) {
  const std::uint32_t rx = kMachineRx, arm = kMachineArm, sh = kMachineSh,
                      h8 = kMachineH8300, h8h = kMachineH8300H, h8s = kMachineH8S;
  ExpectCases({
      {rx, 0x53, 0, 0, "R3"},           {rx, 0x50, 0, 0, "R0"},
      {arm, 0x6F, 0, 0, "R31"},         {h8s, 0x52, 0, 0, "ER2"},
      {h8h, 0x6F, 0, 0, "ER31"},        {h8, 0x52, 0, 0, "R2"},
      {99, 0x50, 0, 0, "ER0"},  // an unknown machine names registers as H8S does
      {rx, 0x70, -4, 0, "@(.-4+R0)"},   {sh, 0x8F, 8, 0, "@(.8+R31)"},
      {h8s, 0x77, 6, 0, "@(.6+ER7)"},   {h8, 0x77, 6, 0, "@(.6+R7)"},
      {h8h, 0x70, INT32_MIN, 0, "@(.-2147483648+ER0)"},
      {rx, kFbreg, 8, 0, "@(.8+FB)"},   {h8, kFbreg, -12, 0, "@(.-12+FB)"},
      {rx, kBregx, 20, 4, "@(R4+R20)"}, {arm, kBregx, 20, 4, "@(.4+R20)"},
      {sh, kBregx, 260, -1, "@(.-1+R4)"},  // the low 8 bits name the register
      {h8, kBregx, 20, 4, nullptr},     {h8h, kBregx, 20, 4, nullptr},
      {h8s, kBregx, 20, 4, nullptr},
      {rx, 0x4F, 0, 0, nullptr},        {rx, 0x93, 4, 0, nullptr},  // DW_OP_piece
      {arm, 0x03, 0, 0, nullptr},
  });
}

TEST(RegisterNames, ArmTable) {
  const std::uint32_t m = kMachineArm;
  ExpectCases({
      Regx(m, 0, "R0"),          Regx(m, 15, "R15"),        Regx(m, 16, "R???16"),
      Regx(m, 63, "R???63"),     Regx(m, 64, "S0"),         Regx(m, 95, "S31"),
      Regx(m, 96, "F0"),         Regx(m, 103, "F7"),        Regx(m, 104, "wCGR0"),
      Regx(m, 111, "wCGR7"),     Regx(m, 112, "wR0"),       Regx(m, 127, "wR15"),
      Regx(m, 128, "SPSR"),      Regx(m, 129, "SPSR_FIQ"),  Regx(m, 130, "SPSR_IRQ"),
      Regx(m, 131, "SPSR_ABT"),  Regx(m, 132, "SPSR_UND"),  Regx(m, 133, "SPSR_SVC"),
      Regx(m, 134, "R???134"),   Regx(m, 143, "R???143"),   Regx(m, 144, "R8_USR"),
      Regx(m, 150, "R14_USR"),   Regx(m, 151, "R8_FIQ"),    Regx(m, 157, "R14_FIQ"),
      Regx(m, 158, "R13_IRQ"),   Regx(m, 159, "R14_IRQ"),   Regx(m, 160, "R13_ABT"),
      Regx(m, 161, "R14_ABT"),   Regx(m, 162, "R13_UND"),   Regx(m, 163, "R14_UND"),
      Regx(m, 164, "R13_SVC"),   Regx(m, 165, "R14_SVC"),   Regx(m, 166, "R???166"),
      Regx(m, 191, "R???191"),   Regx(m, 192, "wC0"),       Regx(m, 199, "wC7"),
      Regx(m, 200, "R???200"),   Regx(m, 256, "D0"),        Regx(m, 287, "D31"),
      Regx(m, 288, "R???288"),   Regx(m, -1, "R???" "-1"),
  });
}

TEST(RegisterNames, RxTable) {
  const std::uint32_t m = kMachineRx;
  const char* const names[] = {"R1LL", "R1LH", "R1HL", "R1HH", "R2LL", "R2LH", "R2HL", "R2HH",
                               "R3LL", "R3LH", "R3HL", "R3HH", "R4LL", "R4LH", "R4HL", "R4HH",
                               "R1L",  "R1H",  "R2L",  "R2H",  "R3L",  "R3H",  "R4L",  "R4H"};
  for (std::int32_t n = 0; n < 24; ++n) ExpectCases({Regx(m, n, names[n])});
  ExpectCases({Regx(m, 24, nullptr), Regx(m, -1, nullptr)});
}

TEST(RegisterNames, ShTable) {
  const std::uint32_t m = kMachineSh;
  ExpectCases({
      Regx(m, 0, "R32"),     Regx(m, 31, "R63"),    Regx(m, 32, "FR0"),    Regx(m, 95, "FR63"),
      Regx(m, 96, "PR"),     Regx(m, 97, "SPC"),    Regx(m, 98, "DR0"),    Regx(m, 129, "DR31"),
      Regx(m, 130, "FP0"),   Regx(m, 161, "FP31"),  Regx(m, 162, "FV0"),   Regx(m, 177, "FV15"),
      Regx(m, 178, "XF0"),   Regx(m, 193, "XF15"),  Regx(m, 194, "XD0"),   Regx(m, 195, "XD2"),
      Regx(m, 196, "XD4"),   Regx(m, 197, "XD6"),   Regx(m, 198, "XD8"),   Regx(m, 199, "XD10"),
      Regx(m, 200, "XD12"),  Regx(m, 201, "XD14"),  Regx(m, 202, "MTR0"),  Regx(m, 203, "MTR16"),
      Regx(m, 204, "MTR32"), Regx(m, 205, "MTR48"), Regx(m, 206, "A0"),    Regx(m, 207, "A1"),
      Regx(m, 208, "M0"),    Regx(m, 209, "M1"),    Regx(m, 210, "X0"),    Regx(m, 211, "X1"),
      Regx(m, 212, "Y0"),    Regx(m, 213, "Y1"),    Regx(m, 214, "TR0"),   Regx(m, 222, "TR8"),
      Regx(m, 223, "R???"),  Regx(m, -1, "R???"),
  });
}

TEST(RegisterNames, H8Tables) {
  for (const std::uint32_t m : {kMachineH8300, kMachineH8300H, kMachineH8S}) {
    ExpectCases({Regx(m, 0, "R0L"), Regx(m, 7, "R7L"), Regx(m, 8, "R0H"), Regx(m, 15, "R7H")});
  }
  ExpectCases({Regx(kMachineH8300, 16, nullptr)});
  for (const std::uint32_t m : {kMachineH8300H, kMachineH8S, 3u}) {
    ExpectCases({Regx(m, 16, "R0"), Regx(m, 23, "R7"), Regx(m, 24, "E0"), Regx(m, 31, "E7"),
                 Regx(m, 32, nullptr)});
  }
}

TEST(RegisterNames, SmallBufferIsCutAndTerminated) {
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(RegisterName(kMachineArm, 129, buffer), 3u);
  EXPECT_STREQ(buffer, "SPS");
  EXPECT_EQ(RegisterOperandText(kMachineArm, kFbreg, -100, 0, buffer), 3u);
  EXPECT_STREQ(buffer, "@(.");
}

}  // namespace
}  // namespace dwarfsift
