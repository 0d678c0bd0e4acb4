// The line-number phase on every committed real ELF file, checked against
// the facts that build.sh recorded beside it from llvm-dwarfdump and readelf
// (<stem>.lines): the decoded rows of each unit, its file table and the
// function symbols. Nothing here is taken from the code under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/output_file.h"
#include "base/run_context.h"
#include "elf/elf_image.h"
#include "lines/line_program.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

using Row = std::pair<std::uint32_t, std::uint32_t>;  // address, line

struct FactRow {
  std::uint32_t address, line;
  std::string kind;  // copy, special, lower, end
};
struct FactUnit {
  int version = 0;
  std::vector<std::string> files;
  std::vector<FactRow> rows;
};
struct Facts {
  std::vector<FactUnit> units;
  std::vector<std::pair<std::uint32_t, std::string>> functions;
};

Facts ReadFacts(const std::string& path) {
  Facts facts;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string tag, a, b, c;
    fields >> tag >> a >> b >> c;
    if (tag == "unit") {
      facts.units.push_back({std::stoi(b), {}, {}});
    } else if (tag == "file") {
      facts.units.back().files.push_back(b);
    } else if (tag == "row") {
      facts.units.back().rows.push_back(
          {static_cast<std::uint32_t>(std::stoul(a, nullptr, 16)),
           static_cast<std::uint32_t>(std::stoul(b)), c});
    } else if (tag == "func") {
      facts.functions.emplace_back(static_cast<std::uint32_t>(std::stoul(a, nullptr, 16)), b);
    }
  }
  return facts;
}

bool IsSource(const std::string& name) {
  std::string lower;
  for (char ch : name) lower.push_back(static_cast<char>(std::tolower(ch)));
  for (const char* ext : {".c", ".s", ".asm", ".src", ".cpp", ".cc", ".cxx", ".c++"}) {
    if (lower.ends_with(ext)) return true;
  }
  return false;
}
std::string Lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(ch));
  return s;
}

// One "#LNE_start_sequence#" ... "$LNE_end_sequence=" block of the LXX file.
struct Block {
  std::vector<std::string> file_lines;  // "-****  ..." and "+****  ..."
  std::vector<Row> rows;
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<Block> Blocks(const std::string& lxx) {
  std::vector<Block> blocks;
  for (const std::string& line : Lines(lxx)) {
    if (line == "#LNE_start_sequence#") {
      blocks.emplace_back();
    } else if (line.starts_with("+0x")) {
      blocks.back().rows.emplace_back(std::stoul(line.substr(3, 8), nullptr, 16),
                                      std::stoul(line.substr(12)));
    } else if (line.starts_with("+****") || line.starts_with("-****")) {
      blocks.back().file_lines.push_back(line);
    }
  }
  return blocks;
}

struct RealRun {
  std::string lxx;  // "\n" line ends, no header
  std::uint32_t count = 0;
};

class RealLines : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    image_ = testing::ReadFileBytes(testing::TestDataPath(GetParam() + ".elf"));
    facts_ = ReadFacts(testing::TestDataPath(GetParam() + ".lines"));
    ASSERT_FALSE(image_.empty());
    ASSERT_FALSE(facts_.units.empty());
    RunOptions options;
    RunState state(options);
    MessageChannel channel(options, state);
    ASSERT_TRUE(GetSection(image_, elf_, dwarf_, channel, nullptr));
    arm_ = image_.at(18 + (image_.at(5) == 2)) == 40;
    plain_ = Run({});
  }

  RealRun Run(std::initializer_list<bool RunOptions::*> flags) {
    RunOptions options;
    for (bool RunOptions::*flag : flags) options.*flag = true;
    if (flags.size() == 1 && *flags.begin() == &RunOptions::directory_info) {
      options.directory_info = false;  // "-r"
    }
    RunContext run(options);
    std::string console;
    run.channel.CaptureConsole(&console);
    OutputFile lxx;
    lxx.CreateInMemory();
    EXPECT_EQ(GetDebugLineAll(lxx, elf_, dwarf_, run), elf_.debug_line.end);
    RealRun out;
    for (const char c : lxx.memory()) {
      if (c != '\r') out.lxx.push_back(c);
    }
    out.count = run.counters.line_count;
    return out;
  }

  std::vector<std::uint8_t> image_;
  Facts facts_;
  ElfImage elf_;
  DwarfParameters dwarf_;
  bool arm_ = false;
  RealRun plain_;
};

// Rows, file lines and counts against what llvm-dwarfdump decoded.
TEST_P(RealLines, RowsMatchTheDecodedProgram) {
  const std::vector<Block> blocks = Blocks(plain_.lxx);
  ASSERT_EQ(blocks.size(), facts_.units.size());
  std::size_t rows = 0;
  for (std::size_t u = 0; u < blocks.size(); ++u) {
    SCOPED_TRACE("unit " + std::to_string(u));
    const FactUnit& unit = facts_.units[u];
    const Block& block = blocks[u];
    rows += block.rows.size();
    const auto source = std::find_if(unit.files.begin(), unit.files.end(), IsSource);
    ASSERT_NE(source, unit.files.end());
    ASSERT_FALSE(block.file_lines.empty());
    EXPECT_EQ(block.file_lines.back(), "+****  " + *source);

    std::set<Row> decoded;
    std::set<std::uint32_t> ends, lines;
    for (const FactRow& r : unit.rows) {
      decoded.insert({r.address, r.line});
      if (r.kind == "end") ends.insert(r.address);
    }
    for (const Row& row : block.rows) {
      lines.insert(row.second);
      EXPECT_TRUE(decoded.contains(row) || ends.contains(row.first))
          << std::hex << row.first << std::dec << " line " << row.second;
    }
    for (const FactRow& r : unit.rows) {
      if ((r.kind == "copy" || r.kind == "special") && r.line > 0) {
        EXPECT_TRUE(lines.contains(r.line)) << r.line;
      }
    }
  }
  EXPECT_EQ(plain_.count, rows);
}

// Each function's first line is written at the function's address: the
// first row decoded there that can claim its line's slot (made by a copy or
// a special opcode that does not lower the line, for a line no earlier row of
// the unit reached; an earlier address of the same line keeps the slot).
TEST_P(RealLines, FunctionsStartOnTheirFirstLine) {
  const std::vector<Block> blocks = Blocks(plain_.lxx);
  ASSERT_EQ(blocks.size(), facts_.units.size());
  std::size_t checked = 0;
  for (auto [address, name] : facts_.functions) {
    if (arm_) address &= ~1u;  // Thumb code
    bool decoded = false;
    for (std::size_t u = 0; u < blocks.size(); ++u) {
      std::set<std::uint32_t> reached;
      for (const FactRow& r : facts_.units[u].rows) {
        const bool claims = r.kind == "copy" || r.kind == "special";
        if (r.address == address && r.kind != "end") {
          decoded = true;
          if (claims && !reached.contains(r.line)) {
            ++checked;
            const Row first{address, r.line};
            EXPECT_NE(std::find(blocks[u].rows.begin(), blocks[u].rows.end(), first),
                      blocks[u].rows.end())
                << name << " line " << r.line;
            break;
          }
        }
        if (claims) reached.insert(r.line);
      }
    }
    EXPECT_TRUE(decoded) << name;
  }
  EXPECT_GE(checked, facts_.functions.size() - 1);
}

// "-r", "-i", "-f" and "-d" each change the plain output in one known way.
TEST_P(RealLines, OptionsChangeWhatTheyShould) {
  // -r: directory lines become comments, nothing else changes.
  std::string expected;
  for (const std::string& line : Lines(plain_.lxx)) {
    expected += (line.starts_with("-****") ? "/" + line.substr(1) : line) + "\n";
  }
  EXPECT_EQ(Run({&RunOptions::directory_info}).lxx, expected);

  // -i: the further addresses of a line (the rows right after a row of the
  // same line) are gone.
  expected.clear();
  std::string previous;
  std::size_t removed = 0;
  for (const std::string& line : Lines(plain_.lxx)) {
    const bool row = line.starts_with("+0x");
    if (row && !previous.empty() && line.substr(11) == previous.substr(11)) {
      ++removed;
      continue;
    }
    previous = row ? line : "";
    expected += line + "\n";
  }
  const RealRun inline_delete = Run({&RunOptions::inline_delete});
  EXPECT_EQ(inline_delete.lxx, expected);
  EXPECT_EQ(inline_delete.count, plain_.count - removed);

  // -f: one empty block per file that is no unit's source file, in the order
  // the units name them, after the unit blocks.
  std::vector<std::string> sources, others;
  for (const FactUnit& unit : facts_.units) {
    const auto source = std::find_if(unit.files.begin(), unit.files.end(), IsSource);
    sources.push_back(Lower(*source));
  }
  for (const FactUnit& unit : facts_.units) {
    for (const std::string& file : unit.files) {
      const std::string key = Lower(file);
      if (std::find(sources.begin(), sources.end(), key) == sources.end() &&
          std::find(others.begin(), others.end(), key) == others.end()) {
        others.push_back(key);
      }
    }
  }
  const RealRun all = Run({&RunOptions::all_includes});
  ASSERT_TRUE(all.lxx.starts_with(plain_.lxx));
  const std::vector<Block> extra = Blocks(all.lxx.substr(plain_.lxx.size()));
  ASSERT_EQ(extra.size(), others.size());
  ASSERT_FALSE(others.empty());  // every unit includes common.h
  for (std::size_t i = 0; i < extra.size(); ++i) {
    EXPECT_TRUE(extra[i].rows.empty());
    EXPECT_EQ(Lower(extra[i].file_lines.back()), "+****  " + others[i]);
  }

  // -d: trace lines among the same records; one trace line per opcode.
  const RealRun traced = Run({&RunOptions::debug_trace});
  std::string records;
  std::map<std::string, std::size_t> traced_ops, decoded_ops;
  std::vector<std::string> versions;
  for (const std::string& line : Lines(traced.lxx)) {
    if (line[0] != '/' || line.starts_with("/****")) records += line + "\n";
    for (const char* op : {"/ DW_special", "/ DW_copy", "DW_end_sequence"}) {
      if (line.find(op) != std::string::npos) ++traced_ops[op];
    }
    if (line.starts_with("/version")) versions.push_back(line.substr(20));
  }
  EXPECT_EQ(records, plain_.lxx);
  std::vector<std::string> expected_versions;
  for (const FactUnit& unit : facts_.units) {
    expected_versions.push_back("0x000" + std::to_string(unit.version) + " ");
    for (const FactRow& r : unit.rows) {
      ++decoded_ops[r.kind == "copy" ? "/ DW_copy" : r.kind == "end" ? "DW_end_sequence"
                                                                     : "/ DW_special"];
    }
  }
  EXPECT_EQ(versions, expected_versions);
  EXPECT_EQ(traced_ops, decoded_ops);
}

std::vector<std::string> CommittedInputs() {
  std::vector<std::string> stems;
  for (const auto& entry : std::filesystem::directory_iterator(testing::TestDataPath(""))) {
    if (entry.path().extension() == ".lines") stems.push_back(entry.path().stem().string());
  }
  std::sort(stems.begin(), stems.end());
  return stems;
}

INSTANTIATE_TEST_SUITE_P(Files, RealLines, ::testing::ValuesIn(CommittedInputs()),
                         [](const auto& p) { return p.param; });

}  // namespace
}  // namespace dwarfsift
