// One operation at a time: bytes consumed, the fields stored (with the value
// overlay of the constant-carrying operations) and the exact trace text.
#include "location/location_expression.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "elf/elf_image.h"

namespace dwarfsift {
namespace {

struct OpCase {
  std::vector<std::uint8_t> bytes;
  std::uint32_t consumed;
  std::uint16_t opcode;
  std::int32_t operand1;
  std::int32_t operand2;
  std::string text;
  std::uint32_t machine = kMachineArm;
  std::uint8_t address_size = 4;
  ByteOrder order = ByteOrder::kLittle;
};

void ExpectDecodes(const OpCase& c) {
  SCOPED_TRACE(c.text);
  ByteCursor cursor(c.bytes, c.order);
  LocationResult result;
  std::string text;
  const std::uint32_t end =
      DecodeLocationOp(cursor, LocationTarget{c.address_size, c.machine}, result, &text);
  EXPECT_EQ(end, c.consumed);
  EXPECT_EQ(result.opcode, c.opcode);
  EXPECT_EQ(result.operand1, c.operand1);
  EXPECT_EQ(result.operand2, c.operand2);
  EXPECT_EQ(text, c.text);
}

TEST(LocationExpression, ConstantOperationsLayTheirValueOverTheResult) {
  const OpCase cases[] = {
      {{0x03, 0x34, 0x12, 0, 0}, 5, 0x1234, 0, 0, "DW_OP_addr(0x3)[34120000]    "},
      {{0x03, 0x78, 0x56, 0x34, 0x12}, 5, 0x5678, 0x1234, 0, "DW_OP_addr(0x3)[78563412]    "},
      {{0x03, 0x34, 0x12}, 3, 0x1234, 0, 0, "DW_OP_addr(0x3)[3412]    ", kMachineRx, 2},
      {{0x03, 0x12, 0x34, 0x56, 0x78}, 5, 0x5678, 0x1234, 0, "DW_OP_addr(0x3)[12345678]    ",
       kMachineSh, 4, ByteOrder::kBig},
      {{0x08, 0xAB}, 2, 0xAB, 0, 0, "DW_OP_const1u(0x8)[AB] "},
      {{0x09, 0xFF}, 2, 0xFF, 0, 0, "DW_OP_const1s(0x9)[FF] "},
      {{0x0a, 0x34, 0x12}, 3, 0x1234, 0, 0, "DW_OP_const2u(0xA)[3412] "},
      {{0x0a, 0x12, 0x34}, 3, 0x1234, 0, 0, "DW_OP_const2u(0xA)[1234] ", kMachineSh, 4,
       ByteOrder::kBig},
      {{0x0b, 0xFE, 0xFF}, 3, 0xFFFE, 0, 0, "DW_OP_const2s(0xB)[FEFF] "},
      {{0x0c, 0x78, 0x56, 0x34, 0x12}, 5, 0x5678, 0x1234, 0, "DW_OP_const4u(0xC)[78563412] "},
      {{0x0d, 0xFF, 0xFF, 0xFF, 0xFF}, 5, 0xFFFF, 0xFFFF, 0, "DW_OP_const4s(0xD)[FFFFFFFF] "},
      {{0x0e, 1, 2, 3, 4, 5, 6, 7, 8}, 9, 0x0201, 0x06050403, 0x0807,
       "DW_OP_const8u(0xE)[0102030405060708] "},
      {{0x0f, 1, 2, 3, 4, 5, 6, 7, 8}, 9, 0x0201, 0x06050403, 0x0807,
       "DW_OP_const8s(0xF)[0102030405060708] "},
      {{0x10, 0xE5, 0x8E, 0x26}, 4, 0x8765, 0x9, 0, "DW_OP_constu(0x10)[0x98765]  "},
      {{0x11, 0x7F}, 2, 0xFFFF, 0xFFFF, 0, "DW_OP_consts(0x11)[0xFFFFFFFF]  "},
      {{0x15, 0x02}, 2, 0x02, 0, 0, "DW_OP_pick(0x15)[02]    "},
      {{0x23, 0x90, 0x01}, 3, 0x90, 0, 0, "DW_OP_plus_uconst(0x23)[0x90] "},
      {{0x28, 0x10, 0x00}, 3, 0x10, 0, 0, "DW_OP_bra(0x28)[1000]     "},
      {{0x2f, 0xFC, 0xFF}, 3, 0xFFFC, 0, 0, "DW_OP_skip(0x2F)[FCFF]    "},
  };
  for (const OpCase& c : cases) ExpectDecodes(c);
}

TEST(LocationExpression, RegisterOperationsStoreOperandsAndRegisterTexts) {
  const OpCase cases[] = {
      {{0x53}, 1, 0x53, 0, 0, "DW_OP_regn(0x53)        R3"},
      {{0x53}, 1, 0x53, 0, 0, "DW_OP_regn(0x53)        ER3", kMachineH8S},
      {{0x50}, 1, 0x50, 0, 0, "DW_OP_regn(0x50)        R0", kMachineSh},
      {{0x7d, 0x08}, 2, 0x7d, 8, 0, "DW_OP_bregn(0x7D)[8]   @(.8+R13)"},
      {{0x71, 0x7c}, 2, 0x71, -4, 0, "DW_OP_bregn(0x71)[-4]   @(.-4+R1)", kMachineRx},
      {{0x77, 0x02}, 2, 0x77, 2, 0, "DW_OP_bregn(0x77)[2]   @(.2+ER7)", kMachineH8300H},
      {{0x90, 0x40}, 2, 0x90, 64, 0, "DW_OP_regx(0x90)        S0"},
      {{0x90, 0x10}, 2, 0x90, 16, 0, "DW_OP_regx(0x90)        R1L", kMachineRx},
      {{0x90, 0x60}, 2, 0x90, 96, 0, "DW_OP_regx(0x90)        PR", kMachineSh},
      {{0x91, 0x78}, 2, 0x91, -8, 0, "DW_OP_fbreg(-8)       @(.-8+FB)"},
      {{0x91, 0x10}, 2, 0x91, 16, 0, "DW_OP_fbreg(16)       @(.16+FB)", kMachineH8300},
      {{0x92, 0x81, 0x02, 0x7c}, 4, 0x92, 257, -4, "DW_OP_bregx(0x92)[257][-4] @(.-4+R1)"},
      {{0x92, 0x02, 0x04}, 3, 0x92, 2, 4, "DW_OP_bregx(0x92)[2][4] @(R4+R2)", kMachineRx},
      {{0x92, 0x02, 0x04}, 3, 0x92, 2, 4, "DW_OP_bregx(0x92)[2][4] ", kMachineH8S},
      {{0x93, 0x04}, 2, 0x93, 4, 0, "DW_OP_piece(0x93)[4]   "},
      {{0x94, 0x04}, 2, 0x94, 4, 0, "DW_OP_deref_size(0x94)[0x4] "},
      {{0x95, 0x02}, 2, 0x95, 2, 0, "DW_OP_xderef_size(0x95)[0x2] "},
  };
  for (const OpCase& c : cases) ExpectDecodes(c);
}

TEST(LocationExpression, OperandsThatAreOnlyShownOrSkipped) {
  const OpCase cases[] = {
      {{0x35}, 1, 0, 0, 0, "DW_OP_lit5(0x35)       "},
      {{0x4f}, 1, 0, 0, 0, "DW_OP_lit31(0x4F)       "},
      {{0x98, 1, 2}, 3, 0, 0, 0, "DW_OP_call2(0x98)       "},
      {{0x99, 1, 2, 3, 4}, 5, 0, 0, 0, "DW_OP_call4(0x99)       "},
      {{0x9a, 1, 2}, 3, 0, 0, 0, "DW_OP_call_ref(0x9A)    ", kMachineRx, 2},
      {{0x9d, 0x03, 0x05}, 3, 0, 0, 0, "DW_OP_bit_piece 3 byte(157)[5] "},
      {{0x9e, 0x02, 0xAB, 0xCD}, 4, 0, 0, 0, "DW_OP_implicit_value 2 byte(0x9E)[ABCD] "},
      {{0xa0, 0x10, 0, 0, 0, 0x7e}, 6, 0, 0, 0, "DW_OP_implicit_pointer -2 byte(0xA0)[10000000] "},
      {{0xf1, 1, 2, 3, 4}, 5, 0, 0, 0, "DW_OP_GNU_encoded_addr byte(0xF1)[01020304] "},
      {{0xf2, 0x10, 0, 0, 0, 0x04}, 6, 0, 0, 0,
       "DW_OP_GNU_implicit_pointer 4 byte(0xF2)[10000000] "},
      {{0xf3, 0x02, 0x50, 0x9f}, 4, 0, 0, 0, "DW_OP_GNU_entry_value 2 byte(0xF3) "},
      {{0xf4, 0x2a, 0x04, 1, 2, 3, 4}, 7, 0, 0, 0, "DW_OP_GNU_const_type 4 byte(244)[42] "},
      {{0xf5, 0x05, 0x2a}, 3, 0, 0, 0, "DW_OP_GNU_regval_type 5 byte(245)[42] "},
      {{0xf6, 0x04, 0xb2, 0x01}, 4, 0, 0, 0, "DW_OP_GNU_deref_type 4 byte(246)[178] "},
      {{0xf7, 0x2a}, 2, 0, 0, 0, "DW_OP_GNU_convert 42 byte(247) "},
      {{0xf9, 0x2a}, 2, 0, 0, 0, "DW_OP_GNU_reinterpret 42 byte(249) "},
      {{0xfa, 1, 2, 3, 4}, 5, 0, 0, 0, "DW_OP_GNU_parameter_ref(0xFA) "},
      // DWARF 5 names for the GNU operations above, read the same way.
      {{0xa3, 0x02, 0x50, 0x9f}, 4, 0, 0, 0, "DW_OP_entry_value 2 byte(0xA3) "},
      {{0xa4, 0x2a, 0x04, 1, 2, 3, 4}, 7, 0, 0, 0, "DW_OP_const_type 4 byte(164)[42] "},
      {{0xa6, 0x04, 0x2a}, 3, 0, 0, 0, "DW_OP_deref_type 4 byte(166)[42] "},
      {{0xa8, 0x2a}, 2, 0, 0, 0, "DW_OP_convert 42 byte(168) "},
      // Without the unit's .debug_addr an index names address 0.
      {{0xa1, 0x01}, 2, 0, 0, 0, "DW_OP_addrx(0xA1)[1][0x0] "},
  };
  for (const OpCase& c : cases) ExpectDecodes(c);
}

// DW_OP_addrx and DW_OP_constx give what DW_OP_addr and a 4-byte constant
// give for the address at their index of .debug_addr; an index past the
// table gives 0.
TEST(LocationExpression, AddressIndexesReadTheUnitsAddressTable) {
  for (const ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
    const bool big = order == ByteOrder::kBig;
    std::vector<std::uint8_t> table = {0xEE, 0xEE};  // the unit's base is 2
    for (std::uint32_t v : {0x12345678u, 0x8000u}) {
      for (int i = 0; i < 4; ++i) table.push_back(std::uint8_t(v >> (big ? 24 - 8 * i : 8 * i)));
    }
    UnitBases unit;
    unit.addresses = ByteCursor(table, order);
    unit.addr_base = 2;
    const struct {
      std::vector<std::uint8_t> bytes;
      std::uint16_t opcode;
      std::int32_t operand1;
    } cases[] = {{{0xa1, 0x00}, 0x5678, 0x1234}, {{0xa2, 0x01}, 0x8000, 0}, {{0xa1, 0x02}, 0, 0}};
    for (const auto& c : cases) {
      ByteCursor cursor(c.bytes, order);
      LocationResult result;
      DecodeLocationOp(cursor, LocationTarget{4, kMachineArm, &unit}, result, nullptr);
      EXPECT_EQ(cursor.position(), 2u);
      EXPECT_EQ(result.opcode, c.opcode);
      EXPECT_EQ(result.operand1, c.operand1);
    }
  }
}

TEST(LocationExpression, OperationsWithoutOperandsAndUnknownCodes) {
  const std::pair<std::uint8_t, const char*> plain[] = {
      {0x06, "DW_OP_deref(0x6)       "},  {0x12, "DW_OP_dup(0x12)         "},
      {0x13, "DW_OP_drop(0x13)        "}, {0x14, "DW_OP_over(0x14)        "},
      {0x16, "DW_OP_swap(0x16)        "}, {0x17, "DW_OP_rot(0x17)         "},
      {0x18, "DW_OP_xderef(0x18)      "}, {0x19, "DW_OP_abs(0x19)         "},
      {0x1a, "DW_OP_and(0x1A)         "}, {0x1b, "DW_OP_div(0x1B)         "},
      {0x1c, "DW_OP_minus(0x1C)       "}, {0x1d, "DW_OP_mod(0x1D)         "},
      {0x1e, "DW_OP_mul(0x1E)         "}, {0x1f, "DW_OP_neg(0x1F)         "},
      {0x20, "DW_OP_not(0x20)         "}, {0x21, "DW_OP_or(0x21)          "},
      {0x22, "DW_OP_plus(0x22)        "}, {0x24, "DW_OP_shl(0x24)         "},
      {0x25, "DW_OP_shr(0x25)         "}, {0x26, "DW_OP_shra(0x26)        "},
      {0x27, "DW_OP_xor(0x27)         "}, {0x29, "DW_OP_eq(0x29)          "},
      {0x2a, "DW_OP_ge(0x2A)          "}, {0x2b, "DW_OP_gt(0x2B)          "},
      {0x2c, "DW_OP_le(0x2C)          "}, {0x2d, "DW_OP_lt(0x2D)          "},
      {0x2e, "DW_OP_ne(0x2E)          "}, {0x96, "DW_OP_nop(0x96)         "},
      {0x97, "DW_OP_push_object_address(0x97)"},
      {0x9b, "DW_OP_form_tls_address(0x9B)"},
      {0x9c, "DW_OP_call_frame_cfa(0x9C)"}, {0x9f, "DW_OP_stack_value "},
      {0xe0, "DW_OP_lo_user(0xE0)     "}, {0xf0, "DW_OP_GNU_uninit "},
      {0xff, "DW_OP_hi_user(0xFF)     "},
      {0x00, "DW_OP_?\?\?\?\?\?(0x0)      "},  {0x07, "DW_OP_?\?\?\?\?\?(0x7)      "},
      {0xaa, "DW_OP_?\?\?\?\?\?(0xAA)      "}, {0xf8, "DW_OP_?\?\?\?\?\?(0xF8)      "},
  };
  for (const auto& [code, text] : plain) {
    // The byte after the code must not be taken as an operand.
    ExpectDecodes({{code, 0x7d, 0x08}, 1, 0, 0, 0, text});
  }
}

TEST(LocationExpression, TextStaysBoundedAndMissingOperandsReadAsZero) {
  std::vector<std::uint8_t> bytes{0x9e, 0xC8, 0x01};  // implicit_value of 200 bytes
  bytes.resize(bytes.size() + 200, 0xAB);
  ByteCursor cursor(bytes, ByteOrder::kLittle);
  LocationResult result;
  std::string text = "prefix ";
  EXPECT_EQ(DecodeLocationOp(cursor, LocationTarget{}, result, &text), 203u);
  EXPECT_EQ(text.size(), kLocationTextLimit);
  EXPECT_EQ(text.rfind("prefix DW_OP_implicit_value 200 byte(0x9E)[ABAB", 0), 0u);

  // A const4u cut short by the end of its block stores nothing readable.
  const std::uint8_t short_block[] = {0x0c, 0x78, 0x56};
  ByteCursor shorter(short_block, ByteOrder::kLittle);
  LocationResult cut;
  EXPECT_EQ(DecodeLocationOp(shorter, LocationTarget{}, cut, nullptr), 3u);
  EXPECT_EQ(cut.opcode, 0);
  EXPECT_EQ(cut.operand1, 0);
}

}  // namespace
}  // namespace dwarfsift
