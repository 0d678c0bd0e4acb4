// Decoding attribute values: the bytes each form consumes, the value area,
// number, length and text, in both byte orders, and damaged values.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "dwarf/attribute_value.h"
#include "dwarf/byte_cursor.h"

namespace dwarfsift {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr ByteOrder kLe = ByteOrder::kLittle, kBe = ByteOrder::kBig;

// .debug_str holds "first" at 0, "second" at 6 and an unterminated "cut" at
// 13; the image goes on with "tail\0", which must never be read as part of it.
const std::string kStrImage("xxfirst\0second\0cuttail\0", 23);
FormContext Context(ByteOrder order, std::uint8_t address_size = 4) {
  const std::span<const std::uint8_t> image(
      reinterpret_cast<const std::uint8_t*>(kStrImage.data()), kStrImage.size());
  return {address_size, ByteCursor(image, order).View(2, 18)};
}

// Decodes `bytes` placed after a 3-byte prefix and followed by filler, so
// consuming too much or too little shows in the position. `view` > 0 ends the
// cursor's view after that many of the bytes.
struct Decoded {
  std::uint32_t consumed = 0, form = 0;
  bool ok = false;
  AttributeValue value;  // reused from call to call, as the entry walk does

  void Run(std::uint32_t in_form, const Bytes& bytes, const FormContext& context,
           ByteOrder order, std::size_t view = 0) {
    Bytes image = {0xEE, 0xEE, 0xEE};
    image.insert(image.end(), bytes.begin(), bytes.end());
    image.insert(image.end(), 4, 0xEE);
    ByteCursor cursor = ByteCursor(image, order).View(3, view ? 3 + view : image.size());
    form = in_form;
    const std::uint32_t end = ReadAttributeValue(form, cursor, context, value);
    EXPECT_EQ(end, cursor.position());
    consumed = end - 3;
    ok = cursor.ok();
  }
};

struct FormCase {
  const char* name;
  std::uint32_t form;
  Bytes le, be;  // the value as each byte order stores it; be empty: the same
  std::uint32_t consumed, length, number_le, number_be;
  std::string text;
  std::uint32_t form_after = 0;  // 0: unchanged
};

const Bytes k1234 = {0x78, 0x56, 0x34, 0x12};
const FormCase kFormCases[] = {
    {"addr", kFormAddr, k1234, {}, 4, 4, 0x12345678, 0x78563412, "0x78 0x56 0x34 0x12 "},
    {"block2", kFormBlock2, {3, 0, 0xAA, 0xBB, 0xCC}, {0, 3, 0xAA, 0xBB, 0xCC}, 5, 3, 0xCCBBAA,
     0xCCBBAA, "0xAA 0xBB 0xCC "},
    {"block4", kFormBlock4, {2, 0, 0, 0, 0x91, 0x08}, {0, 0, 0, 2, 0x91, 0x08}, 6, 2, 0x0891,
     0x0891, "0x91 0x08 "},
    {"data2", kFormData2, {0x34, 0x12}, {}, 2, 2, 0x1234, 0x3412, "0x34 0x12 "},
    {"data4", kFormData4, k1234, {}, 4, 4, 0x12345678, 0x78563412, "0x78 0x56 0x34 0x12 "},
    {"data8", kFormData8, {1, 2, 3, 4, 5, 6, 7, 8}, {}, 8, 8, 0x04030201, 0x05060708,
     "0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 "},
    {"string", kFormString, {'n', 'a', 'm', 'e', 0}, {}, 5, 5, 0, 0, "name"},
    {"empty string", kFormString, {0}, {}, 1, 1, 0, 0, ""},
    {"block", kFormBlock, {3, 1, 2, 3}, {}, 4, 3, 0x030201, 0x030201, "0x01 0x02 0x03 "},
    {"block1", kFormBlock1, {2, 0x91, 0x7C}, {}, 3, 2, 0x7C91, 0x7C91, "0x91 0x7C "},
    {"empty block1", kFormBlock1, {0}, {}, 1, 0, 0, 0, ""},
    {"data1", kFormData1, {0xFF}, {}, 1, 1, 255, 255, "0xFF "},
    {"flag", kFormFlag, {0x01}, {}, 1, 1, 1, 1, "0x01 "},
    {"sdata -1", kFormSdata, {0x7F}, {}, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, "0xFFFFFFFF"},
    {"sdata 128", kFormSdata, {0x80, 0x01}, {}, 2, 2, 128, 128, "0x80"},
    {"strp 0", kFormStrp, {0, 0, 0, 0}, {}, 4, 4, 0, 0, "first"},
    {"strp 6", kFormStrp, {6, 0, 0, 0}, {0, 0, 0, 6}, 4, 4, 6, 6, "second"},
    {"udata 0", kFormUdata, {0x00}, {}, 1, 1, 0, 0, "0x0"},
    {"udata 624485", kFormUdata, {0xE5, 0x8E, 0x26}, {}, 3, 3, 624485, 624485, "0x98765"},
    {"ref_addr", kFormRefAddr, k1234, {}, 4, 4, 0x12345678, 0x78563412, "0x78 0x56 0x34 0x12 "},
    {"ref1", kFormRef1, {0x7F}, {}, 1, 1, 0x7F, 0x7F, "0x7F "},
    {"ref2", kFormRef2, {0x34, 0x12}, {}, 2, 2, 0x1234, 0x3412, "0x34 0x12 "},
    {"ref4", kFormRef4, {0x2E, 0, 0, 0}, {}, 4, 4, 0x2E, 0x2E000000, "0x2E 0x00 0x00 0x00 "},
    {"ref8", kFormRef8, {1, 0, 0, 0, 0, 0, 0, 0}, {}, 8, 8, 1, 0,
     "0x01 0x00 0x00 0x00 0x00 0x00 0x00 0x00 "},
    {"ref_udata", kFormRefUdata, {0x80, 0x01}, {}, 2, 2, 128, 128, "0x80"},
    {"indirect data1", kFormIndirect, {0x0B, 0x05}, {}, 2, 1, 5, 5, "<0x05 >", kFormData1},
    {"indirect unknown", kFormIndirect, {0x02, 0x05}, {}, 1, 0, 0, 0, "<>", 0x02},
    {"indirect indirect", kFormIndirect, {0x16, 0x0F, 0x05}, {}, 3, 1, 5, 5, "<<0x5>>", kFormUdata},
    {"sec_offset", kFormSecOffset, k1234, {}, 4, 4, 0x12345678, 0x78563412, "0x78 0x56 0x34 0x12 "},
    {"exprloc", kFormExprloc, {2, 0x91, 0x08}, {}, 3, 2, 0x0891, 0x0891, "0x91 0x08 "},
    {"flag_present", kFormFlagPresent, {0x05}, {}, 0, 0, 1, 1, ""},
    {"form 0", 0x00, {0x05}, {}, 0, 0, 0, 0, ""},
    {"form 2", 0x02, {0x05}, {}, 0, 0, 0, 0, ""},
    {"form 0x2D", 0x2D, {0x05}, {}, 0, 0, 0, 0, ""},
    {"ref_sig8", kFormRefSig8, {1, 2, 3, 4, 5, 6, 7, 8}, {}, 8, 8, 0x04030201, 0x05060708,
     "0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 "},
    // Unrecognised but of known size: consumed, value and text left empty.
    {"GNU addr_index", kFormGnuAddrIndex, {0xE5, 0x8E, 0x26}, {}, 3, 0, 0, 0, ""},
    {"GNU str_index", kFormGnuStrIndex, {0x05}, {}, 1, 0, 0, 0, ""},
    {"GNU ref_alt", kFormGnuRefAlt, {1, 2, 3, 4}, {}, 4, 0, 0, 0, ""},
    {"GNU strp_alt", kFormGnuStrpAlt, {1, 2, 3, 4}, {}, 4, 0, 0, 0, ""},
};

TEST(ReadAttributeValue, EveryFormInBothByteOrders) {
  Decoded d;
  for (const FormCase& c : kFormCases) {
    for (ByteOrder order : {kLe, kBe}) {
      const bool big = order == kBe;
      SCOPED_TRACE(std::string(c.name) + (big ? " big" : " little"));
      d.Run(c.form, big && !c.be.empty() ? c.be : c.le, Context(order), order);
      EXPECT_EQ(d.consumed, c.consumed);
      EXPECT_TRUE(d.ok);
      EXPECT_EQ(d.value.number(), big ? c.number_be : c.number_le);
      EXPECT_EQ(d.value.length(), c.length);
      EXPECT_EQ(d.value.text(), c.text);
      EXPECT_STREQ(d.value.c_str(), c.text.c_str());
      EXPECT_EQ(d.form, c.form_after ? c.form_after : c.form);
      EXPECT_EQ(d.value.form(), d.form);
    }
  }
}

// The DWARF 5 forms come back as the DWARF 4 form of the same value, read
// through the unit's tables: .debug_str_offsets (base 8: offsets 6 and 0),
// .debug_addr (base 8: 0x1234, 0x8000), .debug_loclists (base 12: lists
// at +8 and +0x20). Indexes past a table, and missing bases, give empty
// values.
TEST(ReadAttributeValue, Dwarf5FormsReadThroughTheUnitsTables) {
  for (ByteOrder order : {kLe, kBe}) {
    const bool big = order == kBe;
    SCOPED_TRACE(big ? "big" : "little");
    const auto word = [big](std::uint32_t v) {
      Bytes b = {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16),
                 std::uint8_t(v >> 24)};
      if (big) std::reverse(b.begin(), b.end());
      return b;
    };
    Bytes tables = Bytes(8, 0xEE);  // str_offsets at 0, header skipped by the base
    for (std::uint32_t v : {6u, 0u}) for (auto b : word(v)) tables.push_back(b);
    const std::size_t addr = tables.size();
    tables.resize(addr + 8, 0xEE);
    for (std::uint32_t v : {0x1234u, 0x8000u}) for (auto b : word(v)) tables.push_back(b);
    const std::size_t lists = tables.size();
    tables.resize(lists + 12, 0xEE);
    for (std::uint32_t v : {8u, 0x20u}) for (auto b : word(v)) tables.push_back(b);
    const ByteCursor all(tables, order);

    FormContext context = Context(order);
    context.unit.str_offsets = all.View(0, addr);
    context.unit.addresses = all.View(addr, lists);
    context.unit.loclists = all.View(lists, tables.size());
    context.unit.str_offsets_base = 8;
    context.unit.addr_base = 8;
    context.unit.loclists_base = 12;
    const struct {
      const char* name;
      std::uint32_t form;
      Bytes bytes;
      std::uint32_t consumed, as_form, number;
      std::string text;
      std::int32_t implicit_const = 0;
    } cases[] = {
        {"strx1 0", kFormStrx1, {0}, 1, kFormStrp, 6, "second"},
        {"strx 1", kFormStrx, {1}, 1, kFormStrp, 0, "first"},
        {"strx4 1", kFormStrx4, big ? Bytes{0, 0, 0, 1} : Bytes{1, 0, 0, 0}, 4, kFormStrp, 0,
         "first"},
        {"strx1 past the table", kFormStrx1, {2}, 1, kFormStrp, 0, ""},
        {"addrx 1", kFormAddrx, {1}, 1, kFormAddr, 0x8000, ""},
        {"addrx2 0", 0x2A, {0, 0}, 2, kFormAddr, 0x1234, ""},
        {"addrx1 past the table", kFormAddrx1, {2}, 1, kFormAddr, 0, ""},
        {"loclistx 1", kFormLoclistx, {1}, 1, kFormSecOffset, 12 + 0x20, ""},
        {"loclistx past the table", kFormLoclistx, {0x7F}, 1, kFormSecOffset, 0, ""},
        {"rnglistx without a base", kFormRnglistx, {0}, 1, kFormSecOffset, 0, ""},
        {"implicit_const 5", kFormImplicitConst, {}, 0, kFormData1, 5, "0x05 ", 5},
        {"implicit_const 300", kFormImplicitConst, {}, 0, kFormData2, 300,
         big ? "0x01 0x2C " : "0x2C 0x01 ", 300},
        {"implicit_const -2", kFormImplicitConst, {}, 0, kFormSdata, 0xFFFFFFFE, "0xFFFFFFFE",
         -2},
        {"data16", kFormData16, Bytes(16, 0xAB), 16, kFormBlock1, 0xABABABAB, ""},
        {"line_strp without .debug_line_str", kFormLineStrp, {0, 0, 0, 0}, 4, kFormStrp, 0, ""},
        {"ref_sup4", kFormRefSup4, {1, 2, 3, 4}, 4, kFormRefSup4, 0, ""},
        {"strp_sup", kFormStrpSup, {1, 2, 3, 4}, 4, kFormStrpSup, 0, ""},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      Bytes image = {0xEE};
      image.insert(image.end(), c.bytes.begin(), c.bytes.end());
      image.push_back(0xEE);
      ByteCursor cursor = ByteCursor(image, order).View(1, 1 + c.bytes.size());
      AttributeValue value;
      std::uint32_t form = c.form;
      ReadAttributeValue(form, cursor, context, value, c.implicit_const);
      EXPECT_EQ(cursor.position() - 1, c.consumed);
      EXPECT_EQ(form, c.as_form);
      EXPECT_EQ(value.form(), c.form);
      EXPECT_EQ(value.number(), c.number);
      if (c.as_form != kFormAddr && c.as_form != kFormSecOffset && c.form != kFormData16) {
        EXPECT_EQ(value.text(), c.text);
      }
    }
  }
}

TEST(ReadAttributeValue, ValueAreaIsLeastSignificantFirstAndClearedEachTime) {
  Decoded d;
  d.Run(kFormData2, {0x12, 0x34}, Context(kBe), kBe);  // 0x1234, stored 34 12
  EXPECT_EQ(d.value.value()[0], 0x34);
  EXPECT_EQ(d.value.value()[1], 0x12);
  d.Run(kFormExprloc, {2, 0x91, 0x08}, Context(kBe), kBe);
  EXPECT_EQ(d.value.block().size(), 2u);
  EXPECT_EQ(d.value.value()[0], 0x91);
  EXPECT_EQ(d.value.value()[1], 0x08);

  d.Run(kFormData8, Bytes(8, 0xFF), Context(kLe), kLe);
  d.Run(kFormData1, {0x05}, Context(kLe), kLe);
  for (std::size_t i = 1; i < AttributeValue::kValueSize; ++i) {
    ASSERT_EQ(d.value.value()[i], 0) << i;
  }
  d.Run(kFormBlock1, {3, 0xAA, 0xBB, 0xCC}, Context(kLe), kLe);
  d.Run(kFormString, {'a', 0}, Context(kLe), kLe);
  EXPECT_EQ(d.value.number(), 0u);
  EXPECT_EQ(d.value.text(), "a");
}

TEST(ReadAttributeValue, LongStringsAndBlocksAreConsumedWhole) {
  Decoded d;
  Bytes text(300, 'n');
  text.push_back(0);
  d.Run(kFormString, text, Context(kLe), kLe);
  EXPECT_EQ(d.consumed, 301u);
  EXPECT_EQ(d.value.length(), 301u);
  EXPECT_EQ(d.value.text(), std::string(255, 'n'));

  Bytes block = {0x2C, 0x01};  // block2 of 300 bytes: 0, 1, 2, ...
  for (int i = 0; i < 300; ++i) block.push_back(static_cast<std::uint8_t>(i));
  d.Run(kFormBlock2, block, Context(kLe), kLe);
  EXPECT_EQ(d.consumed, 302u);
  EXPECT_EQ(d.value.length(), 300u);
  ASSERT_EQ(d.value.block().size(), 256u);  // the value area keeps the first 256
  EXPECT_EQ(d.value.block()[255], 255);
  EXPECT_EQ(d.value.text().size(), 256u * 5);
  EXPECT_EQ(d.value.text().substr(0, 15), "0x00 0x01 0x02 ");
}

TEST(ReadAttributeValue, AddressesTakeTheRunsAddressSize) {
  const Bytes bytes = {0x34, 0x12, 0x78, 0x56, 0, 0, 0, 0};
  Decoded d;
  d.Run(kFormAddr, bytes, Context(kLe, 2), kLe);
  EXPECT_EQ(d.consumed, 2u);
  EXPECT_EQ(d.value.number(), 0x1234u);
  EXPECT_EQ(d.value.text(), "0x34 0x12 ");
  d.Run(kFormAddr, bytes, Context(kLe, 8), kLe);
  EXPECT_EQ(d.consumed, 8u);
  EXPECT_EQ(d.value.length(), 8u);
  EXPECT_EQ(d.value.number(), 0x56781234u);
}

TEST(ReadAttributeValue, IndirectChainIsBounded) {
  // Indirect naming indirect twenty times: only the bound is followed, and
  // the value reads as an unrecognised form.
  Decoded d;
  d.Run(kFormIndirect, Bytes(20, kFormIndirect), Context(kLe), kLe);
  const auto limit = static_cast<std::size_t>(AttributeValue::kIndirectLimit);
  EXPECT_EQ(d.consumed, limit);
  EXPECT_EQ(d.form, kFormIndirect);
  EXPECT_EQ(d.value.text(), std::string(limit, '<') + std::string(limit, '>'));
}

// Values cut off by the end of their view, and .debug_str offsets and
// strings outside .debug_str: nothing outside is read, the text is empty.
TEST(ReadAttributeValue, DamagedValuesStayInside) {
  const struct {
    const char* name;
    std::uint32_t form;
    Bytes bytes;
    std::size_t view;
    std::uint32_t consumed;
    bool ok;
    std::uint32_t number, length;
  } cases[] = {
      {"data4 cut", kFormData4, {1, 2, 3, 4}, 2, 2, false, 0, 0},
      {"string without terminator", kFormString, {'a', 'b', 0}, 2, 2, false, 0, 0},
      {"block1 longer than the view", kFormBlock1, {5, 1, 2, 0, 0, 0}, 3, 3, false, 0, 0},
      {"block4 of 4 GB", kFormBlock4, {0xFF, 0xFF, 0xFF, 0xFF, 1}, 5, 5, false, 0, 0},
      {"exprloc length cut", kFormExprloc, {0x82, 0x01}, 1, 1, false, 0, 0},
      {"udata cut", kFormUdata, {0x80, 0x80, 0x01}, 2, 2, false, 0, 0},
      {"strp past .debug_str", kFormStrp, {0x10, 0, 0, 0}, 4, 4, true, 0x10, 4},
      {"strp far past", kFormStrp, {0xFF, 0xFF, 0xFF, 0xFF}, 4, 4, true, 0xFFFFFFFF, 4},
      {"strp running off .debug_str", kFormStrp, {13, 0, 0, 0}, 4, 4, true, 13, 4},
  };
  Decoded d;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    d.Run(c.form, c.bytes, Context(kLe), kLe, c.view);
    EXPECT_EQ(d.consumed, c.consumed);
    EXPECT_EQ(d.ok, c.ok);
    EXPECT_EQ(d.value.number(), c.number);
    EXPECT_EQ(d.value.length(), c.length);
    EXPECT_EQ(d.value.text(), "");
  }
  d.Run(kFormIndirect, {0x8B, 0x00}, Context(kLe), kLe, 1);  // form code cut
  EXPECT_EQ(d.consumed, 1u);
  EXPECT_EQ(d.value.text(), "<>");
  d.Run(kFormStrp, {0, 0, 0, 0}, FormContext{}, kLe);  // no .debug_str
  EXPECT_EQ(d.consumed, 4u);
  EXPECT_EQ(d.value.text(), "");
}

}  // namespace
}  // namespace dwarfsift
