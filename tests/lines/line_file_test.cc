// Reading the LXX listing back and writing the LIN file: pieces and line
// ends, row fields, dropped, merged and inlined blocks, the row store, and
// the clean-up of a whole run.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/entry.h"
#include "base/text_match.h"
#include "lines/line_file.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

// The tool writes every line end as CR LF.
std::string Crlf(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

const std::string kLxxHeader =
    "/Orvik(KPIT-GNU-ELF)-Symbol-Converter\n/Ver5.00D\n/usage: t\n/InlineDel=OFF\n";
const std::string kS = "#LNE_start_sequence#\n";
const std::string kE = "$LNE_end_sequence=\n";

// Finishes `lxx` (LF line ends, turned into CR LF as the tool writes them)
// in memory. Returns the LIN bytes with CR LF turned back into LF, after
// checking that no line ends in a bare LF.
std::string FinishText(const std::string& lxx, bool inline_delete = false) {
  RunOptions options;
  options.inline_delete = inline_delete;
  RunContext run(options);
  run.echo_line = "/usage: t\n";
  const std::string bytes = Crlf(lxx);
  LinePieceReader reader{std::string_view(bytes)};
  OutputFile lin;
  lin.CreateInMemory();
  FinishLineListing(reader, lin, run, 4);
  const std::string& written = lin.memory();
  std::string lf;
  for (std::size_t i = 0; i < written.size(); ++i) {
    if (written[i] == '\n') {
      EXPECT_TRUE(i > 0 && written[i - 1] == '\r') << "bare LF at " << i;
    }
    if (written[i] == '\r' && i + 1 < written.size() && written[i + 1] == '\n') continue;
    lf += written[i];
  }
  return lf;
}

const std::string kLinHeaderNoVersion =
    "/Orvik(KPIT-GNU-ELF)-Symbol-Converter\n/Ver5.00D\n/usage: t\n/InlineDel=OFF\n";
const std::string kLinHeader = kLinHeaderNoVersion + "/Dwarf-Version[4]\n";
const std::string kLinHeaderInline =
    "/Orvik(KPIT-GNU-ELF)-Symbol-Converter\n/Ver5.00D\n/usage: t\n/Dwarf-Version[4]\n";

TEST(LinePieceReader, SplitsLinesIntoPiecesOfAtMost255) {
  const std::string x254(254, 'x');
  const std::string x255(255, 'x');
  struct Case {
    std::string bytes;
    std::vector<std::string> pieces;
  } cases[] = {
      {"", {}},
      {"a\r\nb\n\r\n", {"a\n", "b\n", "\n"}},
      {"a\rb\r\n\r", {"a\rb\n", "\r"}},  // a lone CR is text
      {"end", {"end"}},
      // CR LF is one character: 254 characters and the line end fit.
      {x254 + "\r\nz", {x254 + "\n", "z"}},
      {x255 + "\r\n", {x255, "\n"}},
      {std::string(600, 'y') + "\r\n",
       {std::string(255, 'y'), std::string(255, 'y'), std::string(90, 'y') + "\n"}},
  };
  for (const Case& c : cases) {
    LinePieceReader reader{std::string_view(c.bytes)};
    std::vector<std::string> pieces;
    std::string piece;
    while (reader.Next(piece)) pieces.push_back(piece);
    EXPECT_EQ(pieces, c.pieces) << c.bytes.size() << " bytes";
  }
}

TEST(LinePieceReader, FileReadingMatchesMemoryAcrossBufferRefills) {
  // Half a megabyte of lines of every length, so that refills fall at every
  // position of a line and of a CR LF pair.
  std::string bytes;
  std::mt19937 random(7);
  for (int i = 0; i < 2000; ++i) {
    bytes += std::string(random() % 600, static_cast<char>('a' + i % 26));
    bytes += (i % 3 == 0) ? "\n" : "\r\n";
  }
  ScratchDir dir;
  testing::WriteFileBytes(dir.File("l"), bytes);
  std::FILE* file = std::fopen(dir.File("l").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  LinePieceReader from_file(file);
  LinePieceReader from_memory{std::string_view(bytes)};
  EXPECT_EQ(from_file.RemainingHint(), bytes.size());
  std::string a;
  std::string b;
  for (std::size_t count = 0;; ++count) {
    const bool more = from_file.Next(a);
    ASSERT_EQ(more, from_memory.Next(b));
    if (!more) break;
    ASSERT_EQ(a, b) << "piece " << count;
    ASSERT_EQ(a.find('\r'), std::string::npos) << "piece " << count;
  }
  std::fclose(file);
}

TEST(FinishLineFile, ListingsToLinFiles) {
  const std::string name254 = "+****  " + std::string(254 - 7, 'n');
  const std::string name255 = "+****  " + std::string(255 - 7, 'm');
  struct Case {
    const char* what;
    std::string lxx;
    std::string lin;
    bool inline_delete = false;
  } cases[] = {
      {"foreign first line", "/Other tool\n" + kS + "+****  a.c\n+0x00000010     1\n" + kE, ""},
      {"header only", kLxxHeader, kLinHeader},
      {"rows round-trip; trace and -r directory lines are comments",
       kLxxHeader + "/ trace\n" + kS + "/****  C:\\src\n+****  a.c\n+0x00001A2B    42\n"
                    "+0x00001A30 100000\n+0x00001A34 4294967295\n" + kE,
       kLinHeader + kS + "+****  a.c\n+0x00001A2B    42\n+0x00001A30 100000\n"
                         "+0x00001A34 4294967295\n" + kE},
      {"empty block dropped with its start marker",
       kLxxHeader + kS + "-****  D\n+****  main.c\n" + kE + kS + "-****  D\n+****  main.c\n" +
           "+0x00001000    10\n+0x00001008    11\n" + kE,
       kLinHeader + kS + "-****  D\n+****  main.c\n+0x00001000    10\n+0x00001008    11\n" + kE},
      {"case-different repeat merged with =",
       kLxxHeader + kS + "-****  D\n+****  Main.c\n+0x00000010     1\n" + kE + kS +
           "-****  d\n+****  MAIN.C\n+0x00000020     2\n" + kE + kS +
           "+****  util.c\n+0x00000030     3\n" + kE,
       kLinHeader + kS + "-****  D\n+****  Main.c\n+0x00000010     1\n" + kE +
           "=****  d\n=****  MAIN.C\n+0x00000020     2\n" + kS +
           "+****  util.c\n+0x00000030     3\n" + kE},
      {"directory line belongs to the next file line only",
       kLxxHeader + kS + "-****  D\n+****  a.c\n+0x00000010     1\n+****  b.c\n"
                    "+0x00000020     2\n" + kE,
       kLinHeader + kS + "-****  D\n+****  a.c\n+0x00000010     1\n+****  b.c\n"
                    "+0x00000020     2\n" + kE},
      {"last block ends with the end marker; stray rows and markers ignored",
       kLxxHeader + "+0x00000001     1\n" + kE + kS + "+****  a.c\n+0x00000010     1\n",
       kLinHeader + kS + "+****  a.c\n+0x00000010     1\n" + kE},
      {"rows after the end marker of an empty block stay with it",
       kLxxHeader + kS + "+****  a.c\n" + kE + kS + "+0x00000010     1\n+0x00000020     2\n" + kE,
       kLinHeader + kS + "+****  a.c\n+0x00000010     1\n+0x00000020     2\n" + kE},
      {"address and line fields",
       kLxxHeader + kS + "+****  a.c\n+0x0000ABCD    12\n+0ABCD 12\n+0XABCD 012\n"
                    "+0xabcd 7\n+0x123456789 1\n+0x1 4294967295\n+0x1 4294967296\n"
                    "+0x00000000     0\n" + kE,
       kLinHeader + kS + "+****  a.c\n+0x0000ABCD    12\n+0x0000ABCD    12\n"
                    "+0x0000ABCD    12\n+0x0000ABCD     7\n+0xFFFFFFFF     1\n"
                    "+0x00000001 4294967295\n+0x00000001 429496729\n+0x00000000     0\n" + kE},
      {"file line of 254 characters kept whole",
       kLxxHeader + kS + name254 + "\n+0x00000010     1\n" + kE,
       kLinHeader + kS + name254 + "\n+0x00000010     1\n" + kE},
      {"file line of 255 characters loses its newline",
       kLxxHeader + kS + name255 + "tail\n+0x00000010     1\n" + kE,
       kLinHeader + kS + name255 + "+0x00000010     1\n" + kE},
      {"-i: file of another name inlined, end marker of the sequence dropped",
       kLxxHeader + kS + "+****  a.c\n+0x00000100     5\n+****  A.C\n+0x00000300     8\n"
                    "-****  D\n+****  b.h\n+0x00000200     7\n" + kE + kS +
           "+****  c.c\n+0x00000400     9\n" + kE,
       kLinHeaderInline + kS + "+****  a.c\n+0x00000100     5\n=****  A.C\n+0x00000300     8\n"
                               ">****  D\n>****  b.h\n>0x00000200     7\n" + kS +
           "+****  c.c\n+0x00000400     9\n" + kE,
       true},
      {"-i: an inlined last block still ends the file",
       kLxxHeader + kS + "+****  a.c\n+0x00000100     5\n+****  b.h\n+0x00000200     7\n" + kE,
       kLinHeaderInline + kS + "+****  a.c\n+0x00000100     5\n>****  b.h\n"
                               ">0x00000200     7\n" + kE,
       true},
      {"-i: a start without an end is left alone",
       kLxxHeader + kS + "+****  a.c\n+0x00000100     5\n+****  b.h\n+0x00000200     7\n" + kS +
           "+****  c.c\n+0x00000300     6\n",
       kLinHeaderInline + kS + "+****  a.c\n+0x00000100     5\n+****  b.h\n"
                               "+0x00000200     7\n" + kS + "+****  c.c\n+0x00000300     6\n" + kE,
       true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FinishText(c.lxx, c.inline_delete), c.lin) << c.what;
  }
}

TEST(FinishLineFile, KeepsEveryRowBeyondTwoHundredThousand) {
  // 250,001 rows in two files; a bounded store would lose the tail.
  std::string body = kS + "+****  a.c\n";
  char row[32];
  for (std::uint32_t i = 0; i < 250001; ++i) {
    if (i == 150000) body += kE + kS + "-****  D\n+****  b.c\n";
    std::snprintf(row, sizeof row, "+0x%08X %5u\n", 0x8000u + 2 * i, i % 99999 + 1);
    body += row;
  }
  body += kE;
  EXPECT_EQ(FinishText(kLxxHeader + body), kLinHeader + body);
}

// The rule as stated pair by pair, for comparison with the grouped pass.
void PairwiseMerge(std::vector<LineFileBlock>& blocks) {
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    for (std::size_t j = i + 1; j < blocks.size(); ++j) {
      if (!MatchWordNoCase(blocks[i].file_line, blocks[j].file_line)) continue;
      if (blocks[i].row_count == 0) blocks[i].state = LineBlockState::kDropped;
      if (blocks[j].row_count == 0) blocks[j].state = LineBlockState::kDropped;
      if (blocks[i].row_count > 0 && blocks[j].row_count > 0) {
        blocks[j].state = LineBlockState::kMerged;
      }
    }
  }
}

TEST(MergeRepeatedFiles, AgreesWithThePairwiseRule) {
  // Equal, case-different, prefix and unterminated lines: an unterminated
  // "+****  a.c" matches the longer lines that continue it after a word end.
  const std::vector<std::string> lines = {
      "+****  a.c\n", "+****  A.C\n", "+****  a.c", "+****  a.c x\n", "+****  a.c\xE3\n",
      "+****  a.cpp\n", "+****  b.h\n", "+****  B.h\n", "+****  a", "",
  };
  const LineBlockState states[] = {LineBlockState::kPlain, LineBlockState::kStart,
                                   LineBlockState::kEnd, LineBlockState::kStartEnd};
  std::mt19937 random(11);
  int merged = 0;
  int dropped = 0;
  for (int round = 0; round < 400; ++round) {
    std::vector<LineFileBlock> blocks(1 + random() % 12);
    for (LineFileBlock& block : blocks) {
      block.file_line = lines[random() % lines.size()];
      block.row_count = random() % 3;
      block.state = states[random() % 4];
    }
    std::vector<LineFileBlock> expected = blocks;
    PairwiseMerge(expected);
    MergeRepeatedFiles(blocks);
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      ASSERT_EQ(blocks[b].state, expected[b].state) << "round " << round << " block " << b;
      merged += blocks[b].state == LineBlockState::kMerged;
      dropped += blocks[b].state == LineBlockState::kDropped;
    }
  }
  // The tables exercised both outcomes.
  EXPECT_GT(merged, 100);
  EXPECT_GT(dropped, 100);
}

TEST(FinishLineFile, MissingListingOrUncreatableLinFile) {
  ScratchDir dir;
  RunContext run;
  FinishLineFile(dir.File("t.LIN"), dir.File("absent.LXX"), run, 2);
  ASSERT_TRUE(fs::exists(dir.File("t.LIN")));
  EXPECT_EQ(fs::file_size(dir.File("t.LIN")), 0u);

  testing::WriteFileBytes(dir.File("t.LXX"), Crlf(kLxxHeader));
  FinishLineFile(dir.File("no/such/dir/t.LIN"), dir.File("t.LXX"), run, 2);
  EXPECT_FALSE(fs::exists(dir.File("no")));
}

// Whole runs on the committed ELF files. They all have symbols and lines,
// so a run ends 0 and keeps its SYM and LIN files; the LXX file stays only
// with -d.
TEST(FinishLineFile, WholeRunsCleanUp) {
  for (const char* input : {"arm_le_dw3_o0.elf", "arm_le_dw4_o2.elf", "ppc_be_dw2_o0.elf",
                            "ppc_be_dw4_o2.elf", "mips_be_dw3_o1.elf", "sh4_le_dw2_o1.elf",
                            "i386_le_dw4_o0.elf"}) {
    for (const bool trace : {false, true}) {
      ScratchDir dir;
      const std::string out = dir.File("o");
      const std::string elf = testing::TestDataPath(input);
      std::vector<const char*> argv{"dwarfsift", elf.c_str(), "-o", out.c_str()};
      if (trace) argv.push_back("-d");
      std::string console;
      const int status = RunEntry(static_cast<int>(argv.size()), argv.data(), &console);
      EXPECT_EQ(status, kStatusDone) << input;
      EXPECT_TRUE(fs::exists(out + ".SYM")) << input;
      const std::size_t count_at = console.rfind("complete symbols=");
      ASSERT_NE(count_at, std::string::npos) << input;
      EXPECT_EQ(console.find("complete symbols=0 ", count_at), std::string::npos) << input;
      // Every one of these files has line programs, so the LIN file stays.
      EXPECT_EQ(console.find(" lines=0\n", count_at), std::string::npos) << input;
      EXPECT_TRUE(fs::exists(out + ".LIN")) << input;
      EXPECT_EQ(fs::exists(out + ".LXX"), trace) << input;
    }
  }
}

// The conversion's DWARF version reaches the LIN header, and a real listing
// is read back with its rows in order.
TEST(FinishLineFile, AfterARealConversion) {
  // Every committed real file; its name gives the DWARF version of its units.
  struct Input {
    std::string elf;
    int version;
  };
  std::vector<Input> inputs;
  for (const auto& file : fs::directory_iterator(testing::TestDataPath(""))) {
    const std::string name = file.path().filename().string();
    const std::size_t dw = name.find("_dw");
    if (file.path().extension() == ".elf" && dw != std::string::npos) {
      inputs.push_back({name, name[dw + 3] - '0'});
    }
  }
  ASSERT_GE(inputs.size(), 16u);
  for (const auto& input : inputs) {
    ScratchDir dir;
    RunOptions options;
    options.input_name = testing::TestDataPath(input.elf);
    options.output_name = dir.File("o");
    const OutputFileSet names = DeriveOutputFileSet(options);
    RunContext run(options);
    std::string console;
    run.channel.CaptureConsole(&console);
    run.echo_line = "/usage: t\n";
    const std::vector<std::uint8_t> image = testing::ReadFileBytes(run.options.input_name);
    ConversionState state;
    SymbolMemberArea absent;
    RunConversion(names, image, run, absent, state);
    FinishLineFile(names.lin, names.lxx, run, state.dwarf.version);

    const std::string lin = testing::ReadFileText(names.lin);
    const std::string header = Crlf(kLinHeaderNoVersion) + "/Dwarf-Version[" +
                               std::to_string(input.version) + "]\r\n";
    ASSERT_TRUE(lin.starts_with(header)) << input.elf;
    // Every row of the listing, in order, is a row of the LIN file.
    const std::string lxx = testing::ReadFileText(names.lxx);
    std::vector<std::string> lxx_rows;
    std::vector<std::string> lin_rows;
    for (const auto& [text, rows] : {std::pair{&lxx, &lxx_rows}, std::pair{&lin, &lin_rows}}) {
      std::size_t begin = 0;
      for (std::size_t end; (end = text->find("\r\n", begin)) != std::string::npos;
           begin = end + 2) {
        if (text->compare(begin, 3, "+0x") == 0) rows->push_back(text->substr(begin, end - begin));
      }
    }
    EXPECT_FALSE(lxx_rows.empty()) << input.elf;
    EXPECT_EQ(lin_rows, lxx_rows) << input.elf;
  }
}

}  // namespace
}  // namespace dwarfsift
