#include <gtest/gtest.h>

#include "app/input_files.h"
#include "base/text_match.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

TEST(TextMatch, StartsWith) {
  EXPECT_EQ(StartsWith(".debug_info", ".debug"), 6u);
  EXPECT_EQ(StartsWith("abc", ""), 0u);
  EXPECT_FALSE(StartsWith(".debug", ".debug_info"));
  EXPECT_FALSE(StartsWith("Debug", "debug"));
}

TEST(TextMatch, MatchWordNoCase) {
  struct Case {
    const char* text;
    const char* word;
    int result;  // -1: no match
  } cases[] = {
      {"elf", "ELF", 3},        {"ELF", "elf", 3},     {"x", "x", 1},
      {"x y", "x", 1},          {"x\t", "x", 1},       {"xy", "x", -1},
      {"x1", "x", -1},          {"elf.gz", "elf", -1}, {"el", "elf", -1},
      {"x\x81", "x", 1},        {"", "", 0},           {"long long int", "long long", 9},
  };
  for (const Case& c : cases) {
    const auto match = MatchWordNoCase(c.text, c.word);
    if (c.result < 0) {
      EXPECT_FALSE(match) << c.text << " / " << c.word;
    } else {
      ASSERT_TRUE(match) << c.text << " / " << c.word;
      EXPECT_EQ(*match, static_cast<std::size_t>(c.result)) << c.text;
    }
  }
}

TEST(TextMatch, FindExtension) {
  struct Case {
    const char* path;
    std::size_t dot;  // npos: none (the end of the path)
  } cases[] = {
      {"prog", std::string::npos},
      {"prog.abs", 4},
      {"prog.", 4},
      {".hidden", 0},
      {"a.b.c", 3},
      {"work.d\\prog", std::string::npos},
      {"work.d/prog", std::string::npos},
      {"work.d/prog.elf", 11},
      {"C:prog.x", 6},
  };
  for (const Case& c : cases) {
    const std::string path = c.path;
    const std::size_t expected = c.dot == std::string::npos ? path.size() : c.dot;
    EXPECT_EQ(FindExtension(path), expected) << path;
  }
}

struct NamesCase {
  const char* input;
  const char* output;
  bool srecords;
  const char* completed_input;
  const char* stem;  // the output names are stem + suffix
  std::uint32_t kind;
};

TEST(OutputFileSet, DerivedFromInputOrOutputName) {
  const NamesCase cases[] = {
      {"prog", "", false, "prog.x", "prog.", kInputKindX},
      {"prog.abs", "", false, "prog.abs", "prog.", kInputKindAbs},
      {"PROG.ELF", "", false, "PROG.ELF", "PROG.", kInputKindElf},
      {"a.out", "", false, "a.out", "a.", kInputKindOut},
      {"prog.x", "out.sym", false, "prog.x", "out.", kInputKindX},
      {"prog.x", "outdir/out", false, "prog.x", "outdir/out.", kInputKindX},
      {"work.d\\prog", "", false, "work.d\\prog.x", "work.d\\prog.", kInputKindX},
      // A dot in a directory name is never an extension dot.
      {"work.d/prog", "", false, "work.d/prog.x", "work.d/prog.", kInputKindX},
      {"prog.", "", false, "prog.", "prog.", 0},
      {"prog.elf2", "", true, "prog.elf2", "prog.", 0},
  };
  for (const NamesCase& c : cases) {
    RunOptions options;
    options.input_name = c.input;
    options.output_name = c.output;
    options.write_srecords = c.srecords;
    const OutputFileSet names = DeriveOutputFileSet(options);
    const std::string stem = c.stem;
    EXPECT_EQ(options.input_name, c.completed_input) << c.input;
    EXPECT_EQ(names.lxx, stem + "LXX") << c.input;
    EXPECT_EQ(names.lin, stem + "LIN") << c.input;
    EXPECT_EQ(names.sym, stem + "SYM") << c.input;
    EXPECT_EQ(names.meb, stem + "MEB") << c.input;
    EXPECT_EQ(names.mot, c.srecords ? stem + "mot" : "") << c.input;
    EXPECT_EQ(ClassifyInputName(options.input_name), c.kind) << c.input;
  }
}

TEST(LoadInputFile, ReadsWholeFileAndCompletesName) {
  testing::ScratchDir dir;
  const std::string content("\x7F" "ELF\0\r\n\x1A tail", 12);
  testing::WriteFileBytes(dir.File("prog.x"), content);

  RunOptions options;
  options.input_name = dir.File("prog");
  const OutputFileSet outputs = DeriveOutputFileSet(options);
  const LoadedInput input = LoadInputFile(options);
  EXPECT_EQ(options.input_name, dir.File("prog.x"));
  EXPECT_EQ(options.output_name, dir.File("prog"));
  EXPECT_EQ(outputs.sym, dir.File("prog.SYM"));
  EXPECT_EQ(input.input_kind, kInputKindX);
  // Binary: no line-end translation, embedded zero and 0x1A kept.
  EXPECT_EQ(std::string(input.image.begin(), input.image.end()), content);
}

TEST(LoadInputFile, MissingOrEmptyGivesNothing) {
  testing::ScratchDir dir;
  RunOptions options;
  options.input_name = dir.File("absent.elf");
  EXPECT_TRUE(LoadInputFile(options).image.empty());

  testing::WriteFileBytes(dir.File("empty.elf"), "");
  options.input_name = dir.File("empty.elf");
  const LoadedInput empty = LoadInputFile(options);
  EXPECT_TRUE(empty.image.empty());
  EXPECT_FALSE(empty.too_large);

  // A sparse file past 4 GB is refused by its size, without reading it
  // (which took 4 GB of memory and up to half a minute).
  std::filesystem::resize_file(dir.File("empty.elf"), (std::uint64_t{1} << 32) + 1);
  const LoadedInput huge = LoadInputFile(options);
  EXPECT_TRUE(huge.image.empty());
  EXPECT_TRUE(huge.too_large);
  EXPECT_FALSE(huge.not_regular);

  // A device that never ends is read up to the stream limit, then refused.
  options.input_name = "/dev/zero";
  const LoadedInput endless = LoadInputFile(options, (1 << 20) + 3);
  EXPECT_TRUE(endless.image.empty());
  EXPECT_TRUE(endless.too_large && endless.not_regular);
}

TEST(LoadInputFile, ReadsFilesLargerThanOneChunk) {
  testing::ScratchDir dir;
  std::string content(3 * (1 << 20) + 17, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  testing::WriteFileBytes(dir.File("big.elf"), content);
  RunOptions options;
  options.input_name = dir.File("big.elf");
  const LoadedInput input = LoadInputFile(options);
  ASSERT_EQ(input.image.size(), content.size());
  EXPECT_TRUE(std::string(input.image.begin(), input.image.end()) == content);
}

}  // namespace
}  // namespace dwarfsift
