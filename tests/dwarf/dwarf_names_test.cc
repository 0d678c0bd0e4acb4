// The trace names of attributes, tags, forms and base-type encodings, and
// the short base-type names.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "base/message_channel.h"
#include "base/run_options.h"
#include "base/run_state.h"
#include "dwarf/dwarf_names.h"

namespace dwarfsift {
namespace {

using NameFn = void (*)(const MessageChannel&, std::string&, std::uint32_t);

class NameTables : public ::testing::Test {
 protected:
  void SetUp() override { state_.debug_trace = true; }
  RunOptions options_;
  RunState state_;
  MessageChannel channel_{options_, state_};
};

TEST_F(NameTables, RowsFallbacksAndHouseSpellings) {
  const struct {
    NameFn fn;
    std::uint32_t code;
    std::string shown;  // name and code as printed
    int spaces;         // padding after them
  } cases[] = {
      {AttributeNameText, 0x01, "DW_AT_sibling(0x01)", 14},
      {AttributeNameText, 0x03, "DW_AT_name(0x03)", 17},
      {AttributeNameText, 0x49, "DW_AT_type(0x49)", 17},
      {AttributeNameText, 0x3C, "DW_AT_declaretion(0x3C)", 10},
      {AttributeNameText, 0x4E, "DW_AT_allocated{3}(0x4E)", 9},
      {AttributeNameText, 0x68, "DW_AT_recursive{3}(0x68)", 9},
      {AttributeNameText, 0x69, "DW_AT_signature(0x69)", 21},
      {AttributeNameText, 0x2001, "DW_AT_MIPS_fde(0x2001)", 22},
      {AttributeNameText, 0x2114, "DW_AT_GNU_call_site_target_clobbered(0x2114)", 0},
      {AttributeNameText, 0x3FFF, "DW_AT_hi_user(0x3FFF)", 23},
      {AttributeNameText, 0x48, "DW_AT_??????" "(0x48)", 24},
      {AttributeNameText, 0x1F, "DW_AT_??????" "(0x1F)", 24},
      {AttributeNameText, 0x12345678, "DW_AT_??????" "(0x12345678)", 24},
      {TagNameText, 0x01, "DW_TAG_array_type(0x01)", 13},
      {TagNameText, 0x11, "DW_TAG_compiler_unit(0x11)", 10},
      {TagNameText, 0x16, "DW_TAG_typedef(0x16)", 15},
      {TagNameText, 0x36, "DW_TAG_dwarf_procedure(0x36)", 12},
      {TagNameText, 0x4106, "DW_TAG_GNU_template_template_param(0x4106)", 0},
      {TagNameText, 0x4107, "DW_TAG_GNU_template_parameter_pack(0x4107)", 0},
      {TagNameText, 0xFFFF, "DW_TAG_hi_user(0xFFFF)", 20},
      {TagNameText, 0x03, "DW_TAG_??????" "(0x03)", 17},
      {FormNameText, 0x01, "DW_FORM_addr(0x01)", 6},
      {FormNameText, 0x17, "DW_FORM_sec_offset(0x17)", 0},
      {FormNameText, 0x18, "DW_FORM_exprloc(0x18)", 2},
      {FormNameText, 0x19, "DW_FORM_flag_present(0x19)", 0},
      {FormNameText, 0x02, "DW_??????" "(0x02)", 9},
      {FormNameText, 0x1F01, "DW_??????" "(0x1F01)", 9},
      {EncodingNameText, 0x02, "DW_ATE_boolean(0x02)", 7},
      {EncodingNameText, 0x08, "DW_ATE_undigned_char(0x08)", 1},
      {EncodingNameText, 0x09, "DW_ATE_??????" "(0x09)", 8},
  };
  for (const auto& c : cases) {
    std::string out = "previous text";
    c.fn(channel_, out, c.code);
    EXPECT_EQ(out, c.shown + std::string(c.spaces, ' '));
    EXPECT_LE(out.size(), kLongestTraceName);
  }
}

// Every code of a range prints to the column width of its rows, or of the
// fallback when it has no row: printed length = width + (hex digits - 4). A
// mistyped width in any row shows up here.
TEST_F(NameTables, EveryCodePrintsToItsColumnWidth) {
  const struct {
    NameFn fn;
    std::uint32_t first, last;
    int row_width, fallback_width;
  } ranges[] = {
      {AttributeNameText, 0x00, 0x68, 35, 44}, {AttributeNameText, 0x69, 0xFF, 44, 44},
      {AttributeNameText, 0x2000, 0x3FFF, 44, 44}, {TagNameText, 0x00, 0x35, 38, 38},
      {TagNameText, 0x36, 0xFF, 42, 38},         {TagNameText, 0x4080, 0x4200, 42, 38},
      {FormNameText, 0x00, 0xFF, 26, 26},        {EncodingNameText, 0x00, 0xFF, 29, 29},
  };
  const struct {
    NameFn fn;
    std::uint32_t code;
    int width;
  } odd_rows[] = {{TagNameText, 0x16, 37},
                  {FormNameText, 0x18, 25},
                  {FormNameText, 0x19, 28},
                  {FormNameText, 0x21, 30}};
  for (const auto& r : ranges) {
    for (std::uint32_t code = r.first; code <= r.last; ++code) {
      std::string out;
      r.fn(channel_, out, code);
      int width = out.find("??????") != std::string::npos ? r.fallback_width : r.row_width;
      for (const auto& o : odd_rows) {
        if (o.fn == r.fn && o.code == code) width = o.width;
      }
      const int digits = code > 0xFFF ? 4 : code > 0xFF ? 3 : 2;
      EXPECT_EQ(static_cast<int>(out.size()), width + digits - 4)
          << std::hex << "code 0x" << code << ": [" << out << "]";
    }
  }
}

TEST_F(NameTables, TraceOffLeavesTheBufferAlone) {
  state_.debug_trace = false;
  for (NameFn fn : {AttributeNameText, TagNameText, FormNameText, EncodingNameText}) {
    std::string out = "unchanged";
    fn(channel_, out, 0x03);
    EXPECT_EQ(out, "unchanged");
  }
}

TEST(BaseTypeName, ShortNamesByEncoding) {
  const char* const names[] = {"void", "void", "int", "void", "float",
                               "int",  "char", "Uint", "Uchar", "void"};
  for (std::uint32_t encoding = 0; encoding < 10; ++encoding) {
    EXPECT_EQ(BaseTypeName(encoding), names[encoding]) << encoding;
  }
  EXPECT_EQ(BaseTypeName(0x107), "void");  // only the whole code counts
}

}  // namespace
}  // namespace dwarfsift
