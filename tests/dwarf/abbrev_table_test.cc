// Loading a unit's abbreviation declarations, looking codes up, and the
// "-d" trace of each declaration.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/message_channel.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "base/run_state.h"
#include "dwarf/abbrev_table.h"
#include "dwarf/byte_cursor.h"

namespace dwarfsift {
namespace {

using Bytes = std::vector<std::uint8_t>;
using SpecList = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// The section starts at file offset 0x40, so traced positions are 0x40 on.
constexpr std::uint32_t kStart = 0x40;

const Bytes kUnitA = {
    0x01, 0x11, 0x01, 0x03, 0x08, 0x13, 0x0B, 0x00, 0x00,  // 1 compile_unit, children:
                                                           //   (name, string) (language, data1)
    0x02, 0x24, 0x00, 0x00, 0x00,                          // 2 base_type, no attributes (0x49)
    0x03, 0x34, 0x00, 0x49, 0x13, 0x00, 0x00,              // 3 variable: (type, ref4) (0x4E)
    0x00,                                                  // end of the list
};
const std::uint32_t kUnitB = static_cast<std::uint32_t>(kUnitA.size());  // at 0x56
const Bytes kUnitBBytes = {
    0x80, 0x01, 0x2E, 0x00, 0x03, 0x08, 0x00, 0x00,  // 128 subprogram
    0xC8, 0x01, 0x34, 0x00, 0x00, 0x00,              // 200 variable
    0xFF, 0x01, 0x0F, 0x00, 0x00, 0x00,              // 255 pointer_type
    0xAC, 0x02, 0x2E, 0x01, 0x03, 0x0E, 0x00, 0x00,  // 300 subprogram: (name, strp) (0x6A)
    0xF0, 0xA2, 0x04, 0x16, 0x00, 0x00, 0x00,        // 70000 typedef (0x72)
    0x05, 0x24, 0x00, 0x00, 0x00,                    // 5 base_type
    0x05, 0x34, 0x00, 0x49, 0x13, 0x00, 0x00,        // 5 again: variable
    0xF0, 0xA2, 0x04, 0x0F, 0x00, 0x00, 0x00,        // 70000 again: pointer_type
    0x80, 0x80, 0x04, 0x13, 0x00, 0x00, 0x00,        // 65536 structure_type
    0x00,
};

class AbbrevTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    trace_.CreateInMemory();
    options_.echo_trace = false;
    Bytes both = kUnitA;
    both.insert(both.end(), kUnitBBytes.begin(), kUnitBBytes.end());
    Build(both);
  }
  // Places `section` at kStart in an image followed by `after`.
  void Build(const Bytes& section, const Bytes& after = {}) {
    image_.assign(kStart, 0xEE);
    image_.insert(image_.end(), section.begin(), section.end());
    image_.insert(image_.end(), after.begin(), after.end());
    const auto size = static_cast<std::uint32_t>(section.size());
    abbrev_ = ByteCursor(image_, ByteOrder::kLittle).View(kStart, kStart + size);
  }
  bool Load(std::uint32_t offset) {
    return LoadAbbrevTable(table_, abbrev_, offset, channel_, &trace_);
  }
  std::uint32_t TagOf(std::uint32_t code) {
    const AbbrevDecl decl = FindAbbrev(table_, code);
    return decl.found() ? decl.tag() : 0;
  }
  static SpecList Specs(AbbrevDecl decl) {
    SpecList specs;
    for (AttributeSpec spec; decl.NextSpec(spec);) specs.emplace_back(spec.attribute, spec.form);
    EXPECT_TRUE(decl.AllSpecsRead());
    return specs;
  }

  Bytes image_;
  ByteCursor abbrev_;  // the .debug_abbrev view
  AbbrevTable table_;
  RunOptions options_;
  RunState state_;
  MessageChannel channel_{options_, state_};
  OutputFile trace_;
};

TEST_F(AbbrevTableTest, IndexesEveryCodeOfTheUnit) {
  ASSERT_TRUE(Load(0));
  EXPECT_EQ(table_.declaration_count(), 3u);
  EXPECT_EQ(TagOf(1), 0x11u);
  EXPECT_EQ(TagOf(2), 0x24u);
  EXPECT_EQ(TagOf(3), 0x34u);
  for (std::uint32_t none : {0u, 4u, 128u, 300u}) EXPECT_EQ(TagOf(none), 0u) << none;
  const AbbrevDecl decl = FindAbbrev(table_, 1);
  EXPECT_EQ(decl.code(), 1u);
  EXPECT_EQ(decl.children(), 1);
  EXPECT_EQ(decl.position(), kStart);
  EXPECT_EQ(decl.specs_position(), kStart + 3);
  EXPECT_EQ(Specs(decl), (SpecList{{0x03, 0x08}, {0x13, 0x0B}}));
  EXPECT_EQ(FindAbbrev(table_, 2).position(), kStart + 9);
  EXPECT_EQ(Specs(FindAbbrev(table_, 2)), SpecList{});  // entered, with no specs

  // Two-byte codes, codes of 256 and more, repeated codes (the last wins).
  ASSERT_TRUE(Load(kUnitB));
  EXPECT_EQ(table_.declaration_count(), 9u);
  EXPECT_EQ(TagOf(1), 0u);  // unit A's codes are gone
  EXPECT_EQ(TagOf(128), 0x2Eu);
  EXPECT_EQ(TagOf(200), 0x34u);
  EXPECT_EQ(TagOf(255), 0x0Fu);
  EXPECT_EQ(TagOf(300), 0x2Eu);
  EXPECT_EQ(Specs(FindAbbrev(table_, 300)), (SpecList{{0x03, 0x0E}}));
  EXPECT_EQ(TagOf(5), 0x34u);
  EXPECT_EQ(TagOf(70000), 0x0Fu);
  EXPECT_EQ(TagOf(65536), 0x13u);
  EXPECT_EQ(TagOf(70001), 0u);
  EXPECT_EQ(TagOf(0xFFFFFFFF), 0u);

  // A second unit sharing unit A's offset loads the same declarations.
  ASSERT_TRUE(Load(0));
  EXPECT_EQ(TagOf(3), 0x34u);
  EXPECT_EQ(TagOf(300), 0u);
  EXPECT_EQ(TagOf(70000), 0u);
}

TEST_F(AbbrevTableTest, TraceOfEachDeclaration) {
  ASSERT_TRUE(Load(0));
  EXPECT_EQ(trace_.memory(), "");  // the trace is off, but the table is filled
  EXPECT_EQ(TagOf(1), 0x11u);

  state_.debug_trace = true;
  ASSERT_TRUE(Load(0));
  const std::string pad17(17, ' ');
  EXPECT_EQ(trace_.memory(),
            "/----- .debug_addrev Section [  1] [0x0040]-\r\n"
            "/Entry              0x0001 \r\n"
            "/Tag                0x0011 \r\n"
            "/Childe             0x01 \r\n"
            "/DW_AT_name(0x03)" + pad17 + " DW_FORM_string(0x08)    \r\n"
            "/DW_AT_language(0x13)" + std::string(13, ' ') + " DW_FORM_data1(0x0B)     \r\n"
            "/----- .debug_addrev Section [  2] [0x0049]-\r\n"
            "/Entry              0x0002 \r\n"
            "/Tag                0x0024 \r\n"
            "/Childe             0x00 \r\n"
            "/----- .debug_addrev Section [  3] [0x004E]-\r\n"
            "/Entry              0x0003 \r\n"
            "/Tag                0x0034 \r\n"
            "/Childe             0x00 \r\n"
            "/DW_AT_type(0x49)" + pad17 + " DW_FORM_ref4(0x13)      \r\n");

  // The header shows the declaration's first byte, /Entry the low 16 bits
  // of its code: 300 (AC 02) and 70000 (F0 A2 04).
  trace_.CreateInMemory();
  ASSERT_TRUE(Load(kUnitB));
  for (const char* lines : {"/----- .debug_addrev Section [ 172] [0x006A]-\r\n"
                            "/Entry              0x012C \r\n",
                            "/----- .debug_addrev Section [ 240] [0x0072]-\r\n"
                            "/Entry              0x1170 \r\n"
                            "/Tag                0x0016 \r\n"}) {
    EXPECT_NE(trace_.memory().find(lines), std::string::npos) << lines;
  }
}

TEST_F(AbbrevTableTest, FailedLoadKeepsThePreviousTable) {
  ASSERT_TRUE(Load(0));
  state_.debug_trace = true;
  trace_.CreateInMemory();
  const std::uint32_t section_size = abbrev_.end() - abbrev_.begin();
  for (std::uint32_t outside : {section_size, section_size + 1, 0xFFFFFFFFu}) {
    EXPECT_FALSE(Load(outside)) << outside;
    EXPECT_EQ(TagOf(3), 0x34u);
  }
  abbrev_ = abbrev_.View(0, 0);  // no .debug_abbrev at all: an empty view
  EXPECT_FALSE(Load(0));
  EXPECT_EQ(TagOf(1), 0x11u);
  EXPECT_EQ(trace_.memory(), "");  // nothing traced by a failed load
}

// The image goes on past the section with bytes that would complete the
// list; none of them may be read.
TEST_F(AbbrevTableTest, ListRunningOffTheSectionStopsAtItsEnd) {
  const struct {
    const char* name;
    Bytes section, after;
    bool code2_found;
  } cases[] = {
      {"declaration without its end pair",
       {0x01, 0x11, 0x01, 0x00, 0x00, 0x02, 0x24, 0x00, 0x03, 0x08}, {0x00, 0x00, 0x00}, false},
      {"code running off", {0x01, 0x11, 0x01, 0x00, 0x00, 0x82},
       {0x00, 0x24, 0x00, 0x00, 0x00, 0x00}, false},
      {"end pair cut in half", {0x01, 0x11, 0x01, 0x00, 0x00, 0x02, 0x24, 0x00, 0x00},
       {0x00, 0x00}, false},
      {"no closing 0 code", {0x01, 0x11, 0x01, 0x00, 0x00, 0x02, 0x24, 0x00, 0x00, 0x00},
       {0x03, 0x34, 0x00, 0x00, 0x00, 0x00}, true},
  };
  state_.debug_trace = true;  // the trace must stay inside as well
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Build(c.section, c.after);
    ASSERT_TRUE(Load(0));
    EXPECT_EQ(TagOf(1), 0x11u);
    EXPECT_EQ(TagOf(2), c.code2_found ? 0x24u : 0u);
    EXPECT_EQ(TagOf(3), 0u);
  }
}

}  // namespace
}  // namespace dwarfsift
