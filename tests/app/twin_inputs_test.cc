// Inputs that say one program two ways must convert alike.
//
// The DWARF 5 inputs of tests/data are built from the same sources, with
// the same compiler and flags, as a DWARF 4 input each (build.sh checks that
// both hold the same code and symbols). Converted, the two must give the
// same SYM, MEB, LIN and S-record files: only the echo line, the DWARF
// version line and, with -e, the entry positions may differ. The same holds
// for the inputs whose types live in type units and their twins without.
//
// The compressed twins in tests/data/compressed are inputs of tests/data
// with their debugging sections compressed by objcopy; they must give
// exactly the files and the status their plain input gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"

namespace dwarfsift {
namespace {

namespace fs = std::filesystem;

// The file without the lines that name the command or the version, and with
// the positions -e writes blanked.
std::string Comparable(const std::string& text) {
  static const std::regex entry_position(R"(^(\+ entry[0-9]*)\[0x[0-9A-F]+\])");
  std::string out;
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(begin, end - begin);
    begin = end;
    if (line.starts_with("/usage: ") || line.starts_with("/Dwarf-Version[")) continue;
    out += std::regex_replace(line, entry_position, "$1[]");
  }
  return out;
}

// Converts a copy of `elf` named t.elf (the S-record header names the
// file) in `dir` and returns the outputs by suffix, then the exit status.
std::vector<std::string> Convert(const std::string& elf, const testing::ScratchDir& dir,
                                 const std::string& options) {
  fs::copy_file(elf, dir.File("t.elf"), fs::copy_options::overwrite_existing);
  const std::string status = testing::RunCommand(
      "cd " + dir.path() + " && " + DWARFSIFT_BINARY + " -a " + options +
      " t.elf >/dev/null 2>&1; echo $?");
  std::vector<std::string> files;
  for (const char* suffix : {"SYM", "MEB", "LIN", "mot"}) {
    files.push_back(testing::ReadFileText(dir.File(std::string("t.") + suffix)));
  }
  files.push_back(status);
  return files;
}

TEST(Dwarf5Twins, ConvertLikeTheirDwarf4Twins) {
  std::vector<std::string> twins;
  for (const auto& entry : fs::directory_iterator(testing::TestDataPath(""))) {
    const std::string name = entry.path().filename().string();
    // A DWARF 5 build with facts of its own is no twin (its line tables
    // convert differently).
    const bool own_facts = fs::exists(fs::path(entry.path()).replace_extension(".vars"));
    if (entry.path().extension() == ".elf" && name.find("_dw5_") != std::string::npos &&
        !own_facts) {
      twins.push_back(name);
    }
  }
  std::sort(twins.begin(), twins.end());
  ASSERT_GE(twins.size(), 14u);
  for (const std::string& v5 : twins) {
    std::string v4 = v5;
    v4.replace(v4.find("_dw5_"), 5, "_dw4_");
    for (const char* options : {"", "-g -e"}) {
      SCOPED_TRACE(v5 + " " + options);
      testing::ScratchDir four, five;
      const auto expected = Convert(testing::TestDataPath(v4), four, options);
      const auto got = Convert(testing::TestDataPath(v5), five, options);
      // A twin pair that converts to nothing would compare equal, too.
      ASSERT_NE(expected[0].find("+ name["), std::string::npos);
      ASSERT_NE(expected[2].find("+0x"), std::string::npos);
      EXPECT_NE(got[0].find("/Dwarf-Version[5]"), std::string::npos);
      for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Comparable(got[i]), Comparable(expected[i])) << "file " << i;
      }
    }
  }
}

// Each kind of compression on each twin: the plain input is the name up to
// the first dot.
TEST(CompressedTwins, ConvertExactlyLikeTheirPlainInputs) {
  std::vector<std::string> twins;
  for (const auto& entry : fs::directory_iterator(testing::TestDataPath("compressed"))) {
    if (entry.path().extension() == ".elf") twins.push_back(entry.path().filename().string());
  }
  std::sort(twins.begin(), twins.end());
  ASSERT_GE(twins.size(), 9u);
  for (const std::string& twin : twins) {
    SCOPED_TRACE(twin);
    testing::ScratchDir plain_dir, twin_dir;
    const auto expected =
        Convert(testing::TestDataPath(twin.substr(0, twin.find('.')) + ".elf"), plain_dir, "");
    const auto got = Convert(testing::TestDataPath("compressed/" + twin), twin_dir, "");
    ASSERT_NE(expected[0].find("+ name["), std::string::npos);
    EXPECT_EQ(expected.back(), "0\n");
    EXPECT_EQ(got, expected);
  }
}

// Built with -fdebug-types-section, the same program has its structures,
// unions and enumerations in type units, referenced by signature; it is
// the same program all the same (build.sh checks code and symbols).
TEST(TypeUnitTwins, ConvertLikeTheProgramWithoutTypeUnits) {
  const std::pair<const char*, const char*> pairs[] = {
      {"arm_le_dw4_typeunits.elf", "arm_le_dw4_o2.elf"},
      {"arm_le_dw5_typeunits.elf", "arm_le_dw5_o2.elf"},
  };
  for (const auto& [with_units, without] : pairs) {
    for (const char* options : {"", "-g -x", "-z -2"}) {
      SCOPED_TRACE(std::string(with_units) + " " + options);
      testing::ScratchDir plain, typed;
      const auto expected = Convert(testing::TestDataPath(without), plain, options);
      const auto got = Convert(testing::TestDataPath(with_units), typed, options);
      ASSERT_NE(expected[0].find("+ kind[STRUCT ]"), std::string::npos);
      // The member groups may be stored in another order; every other file
      // is the same.
      for (const std::size_t i : {0u, 2u, 3u}) {
        EXPECT_EQ(Comparable(got[i]), Comparable(expected[i])) << "file " << i;
      }
    }
  }
}

}  // namespace
}  // namespace dwarfsift
