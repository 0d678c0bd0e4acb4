// Locations of the committed cross-compiled files, checked against what
// llvm-dwarfdump reads from the same entries: at -O0 every local variable
// and parameter has a register or frame shape with its function's range; at
// -O1/-O2 the rows of list variables cover the ranges of their lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/entry.h"
#include "elf/elf_image.h"
#include "symbols/location_walk.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

// A variable or parameter inside a function, as llvm-dwarfdump shows it.
struct DumpedLocal {
  std::string name;
  std::uint32_t function_low = 0;
  std::uint32_t function_high = 0;
  bool function_frame_is_cfa = false;  // DW_AT_frame_base DW_OP_call_frame_cfa
  std::string expression;  // single expression: its text
  std::vector<std::pair<std::uint32_t, std::uint32_t>> ranges;  // list: non-empty ranges
  bool is_list = false;
};

std::vector<DumpedLocal> DumpLocals(const std::string& file) {
  int status = -1;
  const std::string dump =
      testing::RunCommand("llvm-dwarfdump --debug-info '" + file + "' 2>/dev/null", &status);
  std::vector<DumpedLocal> locals;
  if (status != 0) return locals;
  static const std::regex kTag(R"(^0x[0-9a-f]+:( +)(DW_TAG_\w+|NULL))");
  static const std::regex kAttr(R"(^\s+(DW_AT_\w+)\s+\((.*)$)");
  static const std::regex kRange(R"(\[0x([0-9a-f]+), 0x([0-9a-f]+)\): (.*?)\)?$)");
  struct Open {
    std::size_t indent;
    bool function;
    std::uint32_t low, high;
    bool frame_is_cfa = false;
  };
  std::vector<Open> stack;
  DumpedLocal current;
  bool in_local = false, in_list = false;
  const auto finish = [&] {
    if (in_local && !current.name.empty() && (current.is_list || !current.expression.empty())) {
      locals.push_back(current);
    }
    in_local = in_list = false;
  };
  std::istringstream lines(dump);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (std::regex_search(line, m, kTag)) {
      finish();
      const std::size_t indent = m[1].length();
      while (!stack.empty() && stack.back().indent >= indent) stack.pop_back();
      const std::string tag = m[2];
      stack.push_back({indent, tag == "DW_TAG_subprogram", 0, 0, false});
      if (tag == "DW_TAG_variable" || tag == "DW_TAG_formal_parameter") {
        const auto function = std::find_if(stack.rbegin() + 1, stack.rend(),
                                           [](const Open& o) { return o.function; });
        if (function != stack.rend()) {
          current = DumpedLocal{};
          current.function_low = function->low;
          current.function_high = function->high;
          current.function_frame_is_cfa = function->frame_is_cfa;
          in_local = true;
        }
      }
    } else if (std::regex_search(line, m, kAttr)) {
      in_list = false;
      const std::string attribute = m[1], value = m[2];
      if (!stack.empty() && stack.back().function) {
        if (attribute == "DW_AT_low_pc") stack.back().low = std::stoul(value, nullptr, 16);
        if (attribute == "DW_AT_high_pc") stack.back().high = std::stoul(value, nullptr, 16);
        if (attribute == "DW_AT_frame_base") {
          stack.back().frame_is_cfa = value.rfind("DW_OP_call_frame_cfa", 0) == 0;
        }
      }
      if (!in_local) continue;
      if (attribute == "DW_AT_name") current.name = value.substr(1, value.size() - 3);
      if (attribute == "DW_AT_location") {
        current.is_list = value.rfind("0x", 0) == 0;
        in_list = current.is_list;
        if (!in_list) current.expression = value.substr(0, value.size() - 1);
      }
    } else if (in_list && std::regex_search(line, m, kRange)) {
      const std::string ops = m[3];
      // Entries the reader keeps no row for.
      if (ops.empty() || ops == "<empty>" || ops.rfind("DW_OP_deref", 0) == 0) continue;
      current.ranges.emplace_back(std::stoul(m[1].str(), nullptr, 16),
                                  std::stoul(m[2].str(), nullptr, 16));
    }
  }
  finish();
  return locals;
}

// Every named record of a walk over the file, whatever the SYM file takes.
std::vector<SymbolRecord> WalkRecords(const std::string& file) {
  testing::LocationWalk walk;
  walk.harness.image = testing::ReadFileBytes(file);
  EXPECT_TRUE(GetSection(walk.harness.image, walk.harness.elf, walk.harness.dwarf,
                         walk.harness.run.channel, nullptr));
  walk.Walk();
  return walk.sink.records;
}

TEST(RealLocations, LocalsAtO0HaveTheirShapeAndFunctionRange) {
  if (!testing::HaveTool("llvm-dwarfdump")) GTEST_SKIP() << "llvm-dwarfdump is not installed";
  for (const char* name : {"arm_le_dw3_o0.elf", "arm_le_dw4_o0.elf", "i386_le_dw3_o0.elf",
                           "i386_le_dw4_o0.elf", "mips_be_dw2_o0.elf", "ppc_be_dw2_o0.elf",
                           "sh4_le_dw3_o0.elf"}) {
    SCOPED_TRACE(name);
    const std::string file = testing::TestDataPath(name);
    const std::vector<DumpedLocal> locals = DumpLocals(file);
    const std::vector<SymbolRecord> records = WalkRecords(file);
    int checked = 0;
    for (const DumpedLocal& local : locals) {
      const bool frame = local.expression.rfind("DW_OP_fbreg", 0) == 0;
      const bool reg = local.expression.rfind("DW_OP_reg", 0) == 0 ||
                       local.expression.rfind("DW_OP_breg", 0) == 0;
      if (!frame && !reg) continue;
      SCOPED_TRACE(local.name + " " + local.expression);
      // A frame base given as the CFA is made into frame-base rows from the
      // call-frame information every one of these files has, so such a
      // local refers to the frame base like one under a frame-base list.
      const bool cfa = frame && local.function_frame_is_cfa;
      const auto found = std::find_if(records.begin(), records.end(), [&](const SymbolRecord& r) {
        return local.name == r.name && r.fstart == local.function_low &&
               r.fend == local.function_high &&
               r.ident == (frame ? kIdentLocalFrame : kIdentLocalRegister) &&
               (!cfa || r.regcode == 0x91) && r.regn[0] != '\0';
      });
      EXPECT_NE(found, records.end());
      ++checked;
    }
    EXPECT_GT(checked, 5);
  }
}

TEST(RealLocations, ListRowsCoverTheRangesOfTheirLists) {
  if (!testing::HaveTool("llvm-dwarfdump")) GTEST_SKIP() << "llvm-dwarfdump is not installed";
  for (const char* name : {"arm_le_dw2_o2.elf", "i386_le_dw2_o2.elf", "ppc_be_dw3_o2.elf",
                           "mips_be_dw3_o1.elf", "arm_le_dw4_o2.elf", "ppc_be_dw4_o2.elf",
                           "mips_be_dw4_o2.elf", "sh4_le_dw4_o2.elf"}) {
    SCOPED_TRACE(name);
    const std::string file = testing::TestDataPath(name);
    const std::vector<DumpedLocal> locals = DumpLocals(file);
    const std::vector<SymbolRecord> records = WalkRecords(file);
    std::map<std::pair<std::string, std::uint32_t>, int> seen;
    for (const DumpedLocal& local : locals) ++seen[{local.name, local.function_low}];
    int checked = 0;
    for (const DumpedLocal& local : locals) {
      if (!local.is_list || local.ranges.empty() || seen[{local.name, local.function_low}] > 1) {
        continue;
      }
      SCOPED_TRACE(local.name);
      const auto record = std::find_if(records.begin(), records.end(), [&](const SymbolRecord& r) {
        return local.name == r.name && r.fstart == local.function_low;
      });
      ASSERT_NE(record, records.end());
      // Rows over the frame base say where the frame base lives instead.
      if (record->regcode == 0x91) continue;
      std::vector<std::pair<std::uint32_t, std::uint32_t>> rows;
      int stored = 0;
      for (const auto& row : record->floc) {
        const std::pair<std::uint32_t, std::uint32_t> range(static_cast<std::uint32_t>(row[1]),
                                                            static_cast<std::uint32_t>(row[2]));
        if (range.first == 0 && range.second == 0) break;
        ++stored;
        if (rows.empty() || rows.back() != range) rows.push_back(range);
      }
      if (stored == kLocationRows) {
        // Long expressions fill the rows before the list ends.
        ASSERT_LE(rows.size(), local.ranges.size());
        EXPECT_TRUE(std::equal(rows.begin(), rows.end(), local.ranges.begin()));
      } else {
        EXPECT_EQ(rows, local.ranges);
      }
      ++checked;
    }
    EXPECT_GT(checked, 3);
  }
}

TEST(RealLocations, NoLocalsRunSkipsThePhase) {
  testing::ScratchDir dir;
  const std::string out = dir.File("out");
  const std::string file = testing::TestDataPath("arm_le_dw2_o2.elf");
  std::string console;
  std::vector<const char*> argv{"dwarfsift", file.c_str(), "-o", out.c_str(), "-l", "-d"};
  ASSERT_EQ(RunEntry(static_cast<int>(argv.size()), argv.data(), &console), kStatusDone);
  EXPECT_EQ(console.find("GetDebugLocAll()"), std::string::npos);
  EXPECT_EQ(console.find("/.debug_loc Section["), std::string::npos);
  EXPECT_EQ(console.find("LOCAL_"), std::string::npos);

  std::string traced;
  argv.pop_back();
  argv.pop_back();
  argv.push_back("-d");
  ASSERT_EQ(RunEntry(static_cast<int>(argv.size()), argv.data(), &traced), kStatusDone);
  EXPECT_NE(traced.find("GetDebugLocAll()\n/.debug_loc Section[0]\n"), std::string::npos);
}

}  // namespace
}  // namespace dwarfsift
