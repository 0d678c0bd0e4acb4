// The fixed-layout texts of raw bytes and the labelled trace line built from
// them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/message_channel.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "channel_fixture.h"
#include "dwarf/byte_cursor.h"
#include "dwarf/value_text.h"

namespace dwarfsift {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct UnitsCase {
  const char* name;
  Bytes bytes;
  ByteOrder order;
  int count;
  int width;
  std::string text;
};

TEST(FormatUnits, WritesEachUnitInTheFileByteOrder) {
  const UnitsCase cases[] = {
      {"three bytes", {0x01, 0xAB, 0x00}, ByteOrder::kLittle, 3, 1,
       "0x01 0xAB 0x00 "},
      {"bytes ignore the order", {0x01, 0xAB, 0x00}, ByteOrder::kBig, 3, 1,
       "0x01 0xAB 0x00 "},
      // 34 12 : 0x1234 stored little-endian
      {"half word", {0x34, 0x12}, ByteOrder::kLittle, 1, 2, "0x1234 "},
      {"half word big", {0x34, 0x12}, ByteOrder::kBig, 1, 2, "0x3412 "},
      // 78 56 34 12 : 0x12345678 stored little-endian
      {"word", {0x78, 0x56, 0x34, 0x12}, ByteOrder::kLittle, 1, 4,
       "0x12345678 "},
      {"word big", {0x78, 0x56, 0x34, 0x12}, ByteOrder::kBig, 1, 4,
       "0x78563412 "},
      // 0A 00 | FF FF : two half words, 10 and 0xFFFF; digits upper case
      {"two half words", {0x0A, 0x00, 0xFF, 0xFF}, ByteOrder::kLittle, 2, 2,
       "0x000A 0xFFFF "},
  };
  for (const UnitsCase& c : cases) {
    SCOPED_TRACE(c.name);
    ByteCursor cursor(c.bytes, c.order);
    std::string out = "<";  // the text is appended, not assigned
    const std::uint32_t end = FormatUnits(out, cursor, c.count, c.width);
    EXPECT_EQ(out, "<" + c.text);
    EXPECT_EQ(end, static_cast<std::uint32_t>(c.count * c.width));
  }
}

TEST(FormatUnits, CountZeroLeavesTextAndPositionAlone) {
  const Bytes bytes = {0x01, 0x02, 0x03};
  ByteCursor cursor = ByteCursor(bytes, ByteOrder::kLittle).At(1);
  std::string out;
  EXPECT_EQ(FormatUnits(out, cursor, 0, 4), 1u);
  EXPECT_EQ(out, "");
  EXPECT_EQ(cursor.position(), 1u);
}

TEST(FormatUnits, UnitsBeyondTheViewShowAsZero) {
  // 11 22 in the view, 33 44 after it
  const Bytes bytes = {0x11, 0x22, 0x33, 0x44};
  ByteCursor cursor = ByteCursor(bytes, ByteOrder::kBig).View(0, 2);
  std::string out;
  EXPECT_EQ(FormatUnits(out, cursor, 2, 2), 2u);
  EXPECT_EQ(out, "0x1122 0x0000 ");
  EXPECT_FALSE(cursor.ok());
}

TEST(HexDigits, BareDigitPairsInStoredOrder) {
  // 00 10 FF A5 : four bytes; the byte order does not matter
  const Bytes bytes = {0x00, 0x10, 0xFF, 0xA5};
  ByteCursor cursor(bytes, ByteOrder::kBig);
  std::string out;
  EXPECT_EQ(HexDigits(out, cursor, 4), 4u);
  EXPECT_EQ(out, "0010FFA5");

  ByteCursor again = ByteCursor(bytes, ByteOrder::kLittle).At(2);
  std::string none = "x";
  EXPECT_EQ(HexDigits(none, again, 0), 2u);
  EXPECT_EQ(none, "x");
}

TEST(AppendHex, FixedDigitCount) {
  std::string out;
  AppendHex(out, 0xABC, 2);  // only the low digits
  AppendHex(out, 0x5, 4);    // leading zeros
  AppendHex(out, 0xDEADBEEF, 8);
  EXPECT_EQ(out, "BC0005DEADBEEF");
}

using testing::ChannelTest;

// 11 00 : 0x0011 in little-endian order
const Bytes kTagBytes = {0x11, 0x00};

TEST_F(ChannelTest, LabelledValueGoesToFileAndConsole) {
  state_.debug_trace = true;
  options_.echo_trace = true;
  TraceLabelledValue(channel_, &file_, "/Tag",
                     ByteCursor(kTagBytes, ByteOrder::kLittle), 1, 2);
  const std::string line = "/Tag" + std::string(16, ' ') + "0x0011 ";
  EXPECT_EQ(file_.memory(), line + "\r\n");
  EXPECT_EQ(console_, line + "\n");
}

TEST_F(ChannelTest, LabelledValueWithoutEchoGoesToFileOnly) {
  state_.debug_trace = true;
  options_.echo_trace = false;
  TraceLabelledValue(channel_, &file_, "/Tag",
                     ByteCursor(kTagBytes, ByteOrder::kLittle), 1, 2);
  EXPECT_EQ(file_.memory(), "/Tag" + std::string(16, ' ') + "0x0011 \r\n");
  EXPECT_EQ(console_, "");
}

TEST_F(ChannelTest, LabelledValueWithoutTraceWritesNothing) {
  state_.debug_trace = false;
  options_.echo_trace = true;
  TraceLabelledValue(channel_, &file_, "/Tag",
                     ByteCursor(kTagBytes, ByteOrder::kLittle), 1, 2);
  EXPECT_EQ(file_.memory(), "");
  EXPECT_EQ(console_, "");
}

TEST_F(ChannelTest, LongLabelIsCutAtTheValueColumn) {
  state_.debug_trace = true;
  struct Case {
    std::string label;
    std::string shown;
  };
  const Case cases[] = {
      {"/nineteen_chars_xyz", "/nineteen_chars_xyz "},
      {"/twenty_characters__", "/twenty_characters__"},
      {"/a_label_of_thirty_characters_", "/a_label_of_thirty_c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    file_.CreateInMemory();
    console_.clear();
    // The cursor sits at the second byte: only the unit from there is shown.
    const Bytes bytes = {0x00, 0x7F};
    TraceLabelledValue(channel_, &file_, c.label,
                       ByteCursor(bytes, ByteOrder::kLittle).At(1), 1, 1);
    ASSERT_EQ(c.shown.size(), 20u);
    EXPECT_EQ(file_.memory(), c.shown + "0x7F \r\n");
    EXPECT_EQ(console_, c.shown + "0x7F \n");
  }
}

TEST_F(ChannelTest, PercentInFinishedTextStaysAsIs) {
  state_.debug_trace = true;
  channel_.TraceText(&file_, "100%d\n");
  EXPECT_EQ(file_.memory(), "100%d\r\n");
  EXPECT_EQ(console_, "100%d\n");

  // A formatted argument that contains a "%" is not formatted again.
  file_.CreateInMemory();
  console_.clear();
  channel_.WriteRecordLine(&file_, "%s\n", "50%s%n");
  EXPECT_EQ(file_.memory(), "50%s%n\r\n");
  EXPECT_EQ(console_, "50%s%n\n");

  // A label holding "%" in a labelled value line.
  file_.CreateInMemory();
  console_.clear();
  TraceLabelledValue(channel_, &file_, "/100%d",
                     ByteCursor(kTagBytes, ByteOrder::kBig), 1, 2);
  EXPECT_EQ(file_.memory(), "/100%d" + std::string(14, ' ') + "0x1100 \r\n");
}

}  // namespace
}  // namespace dwarfsift
