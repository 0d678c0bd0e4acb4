// DWARF 2 files whose frame bases are location lists must keep their SYM
// files byte for byte: reading call-frame information for DW_OP_call_frame_cfa
// frame bases changes nothing for them. The kept files are in
// tests/data/expected/; tests/data/README.md says how they were made.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "app/entry.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

// The "/usage: " line echoes the command line, whose paths differ between
// runs; everything after its prefix is left out of the comparison.
std::string MaskUsageLine(std::string sym) {
  const std::size_t at = sym.find("\n/usage: ");
  if (at == std::string::npos) return sym;
  const std::size_t from = at + 9;
  const std::size_t to = sym.find('\r', from);
  sym.erase(from, to == std::string::npos ? std::string::npos : to - from);
  return sym;
}

// The 1-based number of the first line where the texts differ.
int FirstDifferentLine(const std::string& a, const std::string& b) {
  int line = 1;
  for (std::size_t i = 0; i < a.size() && i < b.size() && a[i] == b[i]; ++i) {
    if (a[i] == '\n') ++line;
  }
  return line;
}

TEST(FrameBaseGolden, ListFrameBasesKeepTheirSymFiles) {
  for (const std::string stem : {"sh4_le_dw2_o1", "arm_le_dw2_o2", "ppc_be_dw2_o0"}) {
    SCOPED_TRACE(stem);
    const std::string expected =
        MaskUsageLine(testing::ReadFileText(testing::TestDataPath("expected/" + stem + ".SYM")));
    ASSERT_NE(expected.find("+ floc["), std::string::npos) << "missing expected SYM file";

    testing::ScratchDir dir;
    const std::string input = testing::TestDataPath(stem + ".elf");
    const std::string out = dir.File(stem);
    std::vector<const char*> argv{"dwarfsift", input.c_str(), "-o", out.c_str()};
    std::string console;
    ASSERT_EQ(RunEntry(static_cast<int>(argv.size()), argv.data(), &console), kStatusDone)
        << console;
    const std::string actual = MaskUsageLine(testing::ReadFileText(out + ".SYM"));
    EXPECT_TRUE(actual == expected) << "first difference at line "
                                    << FirstDifferentLine(actual, expected);
  }
}

}  // namespace
}  // namespace dwarfsift
