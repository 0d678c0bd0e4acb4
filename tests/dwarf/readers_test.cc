// The primitive readers (LEB128, fixed-size numbers) and the bounds of the
// ByteCursor they read through.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dwarf/byte_cursor.h"
#include "dwarf/readers.h"

namespace dwarfsift {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A byte that lies directly after a view and must never be consumed by a
// reader of that view.
constexpr std::uint8_t kGuard = 0x01;

struct UlebCase {
  const char* name;
  Bytes bytes;
  std::uint32_t value;
  std::uint32_t consumed;
};

TEST(ReadUleb128, DecodesAndConsumesExactly) {
  const UlebCase cases[] = {
      {"one byte", {0x02}, 2, 1},                         // 2
      {"largest one byte", {0x7F}, 127, 1},               // 127
      {"two bytes", {0x80, 0x01}, 128, 2},                // 0 | 1<<7
      {"two bytes low bit", {0x81, 0x01}, 129, 2},        // 1 | 1<<7
      {"32 bits", {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}, 0xFFFFFFFFu, 5},
      // bits 0..34 all set, bits 35..41 = 0x01: everything from bit 32 up
      // is dropped, all six bytes are consumed.
      {"six bytes", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}, 0xFFFFFFFFu, 6},
      // 0x12 in the low 7 bits, bits 32..34 set (dropped), one more byte.
      {"six bytes low value", {0x92, 0x80, 0x80, 0x80, 0xF0, 0x00}, 0x12, 6},
      {"redundant zero continuations", {0x80, 0x80, 0x00}, 0, 3},
  };
  for (const UlebCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = c.bytes;
    image.push_back(kGuard);  // a following byte the reader must not take
    ByteCursor cursor(image, ByteOrder::kLittle);
    EXPECT_EQ(ReadUleb128(cursor), c.value);
    EXPECT_EQ(cursor.position(), c.consumed);
    EXPECT_TRUE(cursor.ok());
    EXPECT_EQ(cursor.ReadByte(), kGuard);
  }
}

struct SlebCase {
  const char* name;
  Bytes bytes;
  std::int32_t value;
  std::uint32_t consumed;
};

TEST(ReadSleb128, DecodesSignAndConsumesExactly) {
  const SlebCase cases[] = {
      {"positive", {0x02}, 2, 1},                    // 2, sign bit clear
      {"negative one byte", {0x7E}, -2, 1},          // 0x7E, sign bit set
      {"127 needs a second byte", {0xFF, 0x00}, 127, 2},  // 0x7F | 0<<7
      {"-127", {0x81, 0x7F}, -127, 2},               // 0x01 | 0x7F<<7
      {"-128", {0x80, 0x7F}, -128, 2},               // 0x00 | 0x7F<<7
      {"largest positive one byte", {0x3F}, 63, 1},  // bit 6 clear
      {"smallest negative one byte", {0x40}, -64, 1},  // bit 6 set
      // Five bytes: the shift reaches 35, no sign extension; the 32 bits
      // that were read (all ones) stand.
      {"five bytes all ones", {0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, -1, 5},
      // Five bytes, bit 31 clear, sign bit of the last byte clear.
      {"five bytes positive", {0xFF, 0xFF, 0xFF, 0xFF, 0x07}, 0x7FFFFFFF, 5},
      // Four bytes: 28 bits read, bit 6 of the last byte set -> extended.
      {"four bytes negative", {0x80, 0x80, 0x80, 0x40}, -(1 << 27), 4},
  };
  for (const SlebCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes image = c.bytes;
    image.push_back(kGuard);
    ByteCursor cursor(image, ByteOrder::kLittle);
    EXPECT_EQ(ReadSleb128(cursor), c.value);
    EXPECT_EQ(cursor.position(), c.consumed);
    EXPECT_TRUE(cursor.ok());
  }
}

TEST(ReadFixed, FollowsTheByteOrder) {
  const Bytes image = {0x12, 0x34, 0x56, 0x78};
  struct Case {
    int size;
    ByteOrder order;
    std::uint64_t value;
  };
  const Case cases[] = {
      {1, ByteOrder::kLittle, 0x12},       {1, ByteOrder::kBig, 0x12},
      {2, ByteOrder::kLittle, 0x3412},     {2, ByteOrder::kBig, 0x1234},
      {4, ByteOrder::kLittle, 0x78563412}, {4, ByteOrder::kBig, 0x12345678},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "size " << c.size << " big "
                                      << (c.order == ByteOrder::kBig));
    ByteCursor cursor(image, c.order);
    EXPECT_EQ(ReadFixed(cursor, c.size), c.value);
    EXPECT_EQ(cursor.position(), static_cast<std::uint32_t>(c.size));
    EXPECT_TRUE(cursor.ok());
  }
}

TEST(ReadFixed, EightBytesAndTheNarrowHelpers) {
  // 01 00 00 00 00 00 00 00 : 1 as a little-endian 64-bit number
  // 80 00 00 00 00 00 00 01 : the same bytes with the top and bottom set
  const Bytes ones = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  ByteCursor little(ones, ByteOrder::kLittle);
  EXPECT_EQ(ReadFixed(little, 8), 1u);
  EXPECT_EQ(little.position(), 8u);
  ByteCursor big(ones, ByteOrder::kBig);
  EXPECT_EQ(ReadFixed(big, 8), 0x0100000000000000u);

  const Bytes wide = {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
  ByteCursor wide_little(wide, ByteOrder::kLittle);
  EXPECT_EQ(ReadFixed(wide_little, 8), 0x0100000000000080u);

  // AB CD : a 16-bit number; EF 01 23 45 : a 32-bit number
  const Bytes mixed = {0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45};
  ByteCursor le(mixed, ByteOrder::kLittle);
  EXPECT_EQ(ReadFixed16(le), 0xCDABu);
  EXPECT_EQ(ReadFixed32(le), 0x452301EFu);
  ByteCursor be(mixed, ByteOrder::kBig);
  EXPECT_EQ(ReadFixed16(be), 0xABCDu);
  EXPECT_EQ(ReadFixed32(be), 0xEF012345u);
  EXPECT_TRUE(be.ok());
}

// Image: 6 bytes, the view under test is [1, 4); the bytes around it carry
// values that would show if a reader crossed the view's end.
class CursorBoundsTest : public ::testing::Test {
 protected:
  const Bytes image_ = {
      0x11,              // [0] before the view
      0x80, 0x80, 0x80,  // [1..3] the view: continuation bytes only
      0x7F, 0x7F,        // [4..5] after the view: would end a LEB128
  };
  ByteCursor View() const {
    return ByteCursor(image_, ByteOrder::kLittle).View(1, 4);
  }
  static void ExpectExhausted(const ByteCursor& cursor) {
    EXPECT_FALSE(cursor.ok());
    EXPECT_EQ(cursor.position(), cursor.end());
    EXPECT_TRUE(cursor.AtEnd());
  }
};

TEST_F(CursorBoundsTest, LebRunningOffTheViewYieldsZero) {
  ByteCursor unsigned_cursor = View();
  EXPECT_EQ(ReadUleb128(unsigned_cursor), 0u);
  ExpectExhausted(unsigned_cursor);

  ByteCursor signed_cursor = View();
  EXPECT_EQ(ReadSleb128(signed_cursor), 0);
  ExpectExhausted(signed_cursor);

  // A value that would be non-zero if the partial bytes were kept.
  // 0x85 0x81 : 5 | 1<<7, continuation still set at the view end; 0x00 after.
  const Bytes partial = {0x85, 0x81, 0x00};
  ByteCursor u = ByteCursor(partial, ByteOrder::kLittle).View(0, 2);
  EXPECT_EQ(ReadUleb128(u), 0u);
  ExpectExhausted(u);
  ByteCursor s = ByteCursor(partial, ByteOrder::kLittle).View(0, 2);
  EXPECT_EQ(ReadSleb128(s), 0);
  ExpectExhausted(s);

  // Reading at the end of an empty view.
  ByteCursor empty = ByteCursor(partial, ByteOrder::kLittle).View(1, 1);
  EXPECT_EQ(ReadUleb128(empty), 0u);
  ExpectExhausted(empty);
}

TEST_F(CursorBoundsTest, FixedReadShortOfBytesYieldsZero) {
  ByteCursor cursor = View();
  EXPECT_EQ(ReadFixed(cursor, 4), 0u);  // 3 of 4 bytes left
  ExpectExhausted(cursor);
  // The flag is sticky: a later read that fits still reports the loss.
  cursor.Seek(1);
  EXPECT_EQ(cursor.ReadByte(), 0x80);
  EXPECT_FALSE(cursor.ok());

  ByteCursor two = View();
  two.Skip(2);
  EXPECT_EQ(ReadFixed16(two), 0u);
  ExpectExhausted(two);
  EXPECT_EQ(two.ReadByte(), 0u);
  EXPECT_EQ(two.PeekByte(), 0u);
}

TEST_F(CursorBoundsTest, CStringWithoutTerminatorStopsAtTheView) {
  // "AB" [0..1] in the view, "C" [2] and the NUL [3] after it.
  const Bytes text = {'A', 'B', 'C', 0x00};
  ByteCursor cursor = ByteCursor(text, ByteOrder::kLittle).View(0, 2);
  EXPECT_EQ(cursor.ReadCString(), "AB");
  ExpectExhausted(cursor);

  ByteCursor whole(text, ByteOrder::kLittle);
  EXPECT_EQ(whole.ReadCString(), "ABC");
  EXPECT_EQ(whole.position(), 4u);  // the terminator is consumed
  EXPECT_TRUE(whole.ok());
  EXPECT_TRUE(whole.AtEnd());
}

TEST_F(CursorBoundsTest, ViewIsClampedToTheImage) {
  const ByteCursor file(image_, ByteOrder::kLittle);
  const ByteCursor tail = file.View(4, 100);
  EXPECT_EQ(tail.begin(), 4u);
  EXPECT_EQ(tail.end(), 6u);
  EXPECT_EQ(tail.remaining(), 2u);

  const ByteCursor beyond = file.View(50, 100);
  EXPECT_EQ(beyond.begin(), 6u);
  EXPECT_EQ(beyond.end(), 6u);
  EXPECT_TRUE(beyond.AtEnd());

  const ByteCursor reversed = file.View(5, 2);
  EXPECT_EQ(reversed.begin(), reversed.end());
  EXPECT_EQ(reversed.end(), 2u);

  // A view of an exhausted cursor starts fresh.
  ByteCursor spent = View();
  spent.Skip(10);
  ASSERT_FALSE(spent.ok());
  EXPECT_TRUE(spent.View(0, 2).ok());
}

TEST_F(CursorBoundsTest, AtOutsideTheViewExhausts) {
  const ByteCursor view = View();
  struct Case {
    std::uint64_t pos;
    bool inside;
  };
  const Case cases[] = {{0, false}, {1, true}, {3, true}, {4, true},
                        {5, false}, {0x100000000ull + 2, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "pos " << c.pos);
    const ByteCursor moved = view.At(c.pos);
    EXPECT_EQ(moved.ok(), c.inside);
    EXPECT_EQ(moved.position(), c.inside ? c.pos : view.end());
    EXPECT_EQ(moved.begin(), view.begin());
    EXPECT_EQ(moved.end(), view.end());
  }
}

TEST(DwarfParameters, CursorUsesTheRunByteOrder) {
  const Bytes image = {0x00, 0x02};  // 2 in big-endian order
  DwarfParameters big;
  big.byte_order = ByteOrder::kBig;
  ByteCursor cursor = big.Cursor(image);
  EXPECT_EQ(ReadFixed16(cursor), 2u);
  DwarfParameters little;
  ByteCursor other = little.Cursor(image);
  EXPECT_EQ(ReadFixed16(other), 0x0200u);
}

}  // namespace
}  // namespace dwarfsift
