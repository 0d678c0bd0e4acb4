// Frame bases given as DW_OP_call_frame_cfa, resolved through the call frame
// information of the committed cross-compiled files. Checked against tools
// other than ours: the CFA rules readelf decodes (the <stem>.frames facts
// build.sh writes) and the entries llvm-dwarfdump shows. A function's record
// carries its merged CFA rules as rows; its locals all have a register text;
// DW_OP_fbreg locals are frame-relative, and list locals at DW_OP_fbreg start
// with the function's rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <map>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "symbols/sym_file.h"
#include "symbols/symbol_record.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

using Row = testing::SymRow;

struct CfaRule {
  std::uint32_t location;
  bool expression;
  int reg;
  int offset;
};

struct Fde {
  std::uint32_t begin, end;
  std::vector<CfaRule> rules;
};

std::vector<Fde> ReadFrameFacts(const std::string& path) {
  std::vector<Fde> fdes;
  std::istringstream lines(testing::ReadFileText(path));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string kind, a, b;
    fields >> kind >> a >> b;
    if (kind == "fde") {
      fdes.push_back({static_cast<std::uint32_t>(std::stoul(a, nullptr, 16)),
                      static_cast<std::uint32_t>(std::stoul(b, nullptr, 16)), {}});
    } else if (kind == "cfa" && !fdes.empty()) {
      CfaRule rule{static_cast<std::uint32_t>(std::stoul(a, nullptr, 16)), b == "exp", 0, 0};
      if (!rule.expression) {
        rule.reg = std::stoi(b);
        fields >> rule.offset;
      }
      fdes.back().rules.push_back(rule);
    }
  }
  return fdes;
}

// The frame-base rows of the function at `low`, from the FDE covering it:
// one per range of one register-plus-offset rule, adjacent equal rules
// joined, expression and empty ranges left out, at most 48.
std::vector<Row> ExpectedRows(const std::vector<Fde>& fdes, std::uint32_t low) {
  std::vector<Row> rows;
  for (const Fde& fde : fdes) {
    if (low < fde.begin || low >= fde.end) continue;
    for (std::size_t i = 0; i < fde.rules.size(); ++i) {
      const CfaRule& rule = fde.rules[i];
      const std::uint32_t end = i + 1 < fde.rules.size() ? fde.rules[i + 1].location : fde.end;
      if (rule.expression || end <= rule.location) continue;
      const Row row = rule.reg < 32 ? Row{rule.location, end, 0x70 + rule.reg, rule.offset, 0}
                                    : Row{rule.location, end, 0x92, rule.reg, rule.offset};
      if (!rows.empty() && rows.back()[1] == row[0] &&
          std::equal(row.begin() + 2, row.end(), rows.back().begin() + 2)) {
        rows.back()[1] = end;
      } else if (rows.size() < static_cast<std::size_t>(kLocationRows)) {
        rows.push_back(row);
      }
    }
    break;
  }
  return rows;
}

// Functions and their variables and parameters, as llvm-dwarfdump shows them.
struct DumpedFunction {
  std::uint32_t low = 0;
  bool cfa = false;
};
struct DumpedLocal {
  std::string name;
  std::size_t function;
  bool is_list = false;
  std::string first_op;  // the expression, or the first entry's of a list
};
struct Dump {
  std::vector<DumpedFunction> functions;
  std::vector<DumpedLocal> locals;
};

Dump DumpEntries(const std::string& file, int* status) {
  const std::string text =
      testing::RunCommand("llvm-dwarfdump --debug-info '" + file + "' 2>/dev/null", status);
  static const std::regex kTag(R"(^0x[0-9a-f]+:( +)(DW_TAG_\w+|NULL))");
  static const std::regex kAttr(R"(^\s+(DW_AT_\w+)\s+\((.*)$)");
  static const std::regex kEntry(R"(^\s+\[0x[0-9a-f]+, 0x[0-9a-f]+\): (.*?)\)?$)");
  Dump dump;
  // Open entries: indent and the function index (or -1).
  std::vector<std::pair<std::size_t, long>> open;
  enum { kOther, kFunction, kLocal } current = kOther;
  bool want_entry = false;
  std::istringstream lines(text);
  std::string line;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (std::regex_search(line, m, kTag)) {
      want_entry = false;
      const std::size_t indent = m[1].length();
      while (!open.empty() && open.back().first >= indent) open.pop_back();
      const long enclosing = open.empty() ? -1 : open.back().second;
      current = kOther;
      if (m[2] == "DW_TAG_subprogram") {
        current = kFunction;
        dump.functions.emplace_back();
        open.emplace_back(indent, static_cast<long>(dump.functions.size() - 1));
        continue;
      }
      if ((m[2] == "DW_TAG_variable" || m[2] == "DW_TAG_formal_parameter") && enclosing >= 0) {
        current = kLocal;
        dump.locals.push_back({"", static_cast<std::size_t>(enclosing), false, ""});
      }
      open.emplace_back(indent, enclosing);
    } else if (std::regex_search(line, m, kAttr)) {
      want_entry = false;
      const std::string attribute = m[1], value = m[2];
      if (current == kFunction && attribute == "DW_AT_low_pc") {
        dump.functions.back().low = static_cast<std::uint32_t>(std::stoul(value, nullptr, 16));
      } else if (current == kFunction && attribute == "DW_AT_frame_base") {
        dump.functions.back().cfa = value == "DW_OP_call_frame_cfa)";
      } else if (current == kLocal && attribute == "DW_AT_name" && value.size() > 3) {
        dump.locals.back().name = value.substr(1, value.size() - 3);
      } else if (current == kLocal && attribute == "DW_AT_location") {
        dump.locals.back().is_list = want_entry = value.starts_with("0x");
        if (!want_entry) dump.locals.back().first_op = value.substr(0, value.size() - 1);
      }
    } else if (want_entry && std::regex_search(line, m, kEntry)) {
      dump.locals.back().first_op = m[1];
      want_entry = false;
    }
  }
  return dump;
}


struct FrameInput {
  const char* stem;
  bool unoptimised;  // every local has a register text
  bool fbreg_lists;  // some list locals start at DW_OP_fbreg
};

void PrintTo(const FrameInput& input, std::ostream* out) { *out << input.stem; }

class RealFrameBases : public ::testing::TestWithParam<FrameInput> {};

TEST_P(RealFrameBases, CfaFrameBasesCarryTheCallFrameRules) {
  if (!testing::HaveTool("llvm-dwarfdump")) GTEST_SKIP() << "llvm-dwarfdump is not installed";
  const FrameInput& input = GetParam();
  const std::string stem = input.stem;
  const std::vector<Fde> fdes = ReadFrameFacts(testing::TestDataPath(stem + ".frames"));
  ASSERT_FALSE(fdes.empty());
  const std::string elf = testing::TestDataPath(stem + ".elf");
  int status = -1;
  const Dump dump = DumpEntries(elf, &status);
  ASSERT_EQ(status, 0);

  testing::ScratchDir dir;
  const std::string out = dir.File(stem);
  std::vector<const char*> argv{"dwarfsift", elf.c_str(), "-o", out.c_str()};
  std::string console;
  ASSERT_EQ(RunEntry(static_cast<int>(argv.size()), argv.data(), &console), kStatusDone)
      << console;
  const std::vector<testing::SymFileRecord> records = testing::ReadSymFile(out + ".SYM");

  // Functions: the rows of the FDE covering each, first row's operands.
  std::map<std::uint32_t, std::vector<Row>> frame_rows;  // by function start
  for (const DumpedFunction& function : dump.functions) {
    if (!function.cfa) continue;
    std::vector<Row> expected = ExpectedRows(fdes, function.low);
    if (expected.empty()) continue;
    SCOPED_TRACE(::testing::Message() << "function at 0x" << std::hex << function.low);
    const auto record = std::find_if(records.begin(), records.end(), [&](const testing::SymFileRecord& r) {
      const std::string ident = r.Field("ident");
      return (ident == "PROGRAM" || ident == "S_PROGRAM") &&
             r.Number("location", 16) == function.low;
    });
    ASSERT_NE(record, records.end());
    EXPECT_EQ(record->rows, expected);
    EXPECT_EQ(record->Number("regcode", 16), expected[0][2]);
    EXPECT_EQ(record->Number("regop1", 10), expected[0][3]);
    EXPECT_EQ(record->Number("regop2", 10), expected[0][4]);
    EXPECT_FALSE(record->Field("regn").empty());
    frame_rows.emplace(function.low, std::move(expected));
  }
  EXPECT_GE(frame_rows.size(), 3u);

  // Locals: a register text everywhere at -O0; list locals over the frame
  // base begin with their function's rows.
  int lists = 0;
  for (const testing::SymFileRecord& r : records) {
    const std::string ident = r.Field("ident");
    if (ident != "LOCAL_F" && ident != "LOCAL_R") continue;
    const auto function = frame_rows.find(static_cast<std::uint32_t>(r.Number("fstart", 16)));
    if (function == frame_rows.end()) continue;
    SCOPED_TRACE(r.Field("name"));
    if (input.unoptimised) {
      EXPECT_FALSE(r.Field("regn").empty());
    }
    if (r.Number("regcode", 16) != 0x91 || r.rows.empty()) continue;
    ++lists;
    EXPECT_TRUE(r.rows.size() >= function->second.size() &&
                std::equal(function->second.begin(), function->second.end(), r.rows.begin()))
        << r.rows.size() << " rows";
  }

  // DW_OP_fbreg locals as llvm-dwarfdump shows them.
  int singles = 0, fbreg_lists = 0;
  for (const DumpedLocal& local : dump.locals) {
    const std::uint32_t low = dump.functions[local.function].low;
    if (local.name.empty() || !local.first_op.starts_with("DW_OP_fbreg ") ||
        !frame_rows.count(low)) {
      continue;
    }
    SCOPED_TRACE(local.name + " " + local.first_op);
    const int offset = std::stoi(local.first_op.substr(12));
    const std::string text = "@(." + std::to_string(offset) + "+FB)";
    EXPECT_TRUE(std::any_of(records.begin(), records.end(), [&](const testing::SymFileRecord& r) {
      return r.Field("name") == local.name && r.Number("fstart", 16) == low &&
             r.Field("ident") == "LOCAL_F" && r.Number("regcode", 16) == 0x91 &&
             r.Number("regop1", 10) == offset &&
             (local.is_list ? !r.rows.empty() : r.Field("regn") == text);
    }));
    ++(local.is_list ? fbreg_lists : singles);
  }
  if (input.unoptimised) {
    EXPECT_GT(singles, 3);
  }
  if (input.fbreg_lists) {
    EXPECT_GT(fbreg_lists, 0);
    EXPECT_GE(lists, fbreg_lists);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, RealFrameBases,
                         ::testing::Values(FrameInput{"arm_le_dw3_o0", true, false},
                                           FrameInput{"arm_le_dw4_o0", true, false},
                                           FrameInput{"sh4_le_dw3_o0", true, false},
                                           FrameInput{"i386_le_dw3_o0", true, false},
                                           FrameInput{"i386_le_dw4_o0", true, false},
                                           FrameInput{"mips_be_dw4_o0", true, false},
                                           FrameInput{"ppc_be_dw3_o0", true, false},
                                           FrameInput{"arm_le_dw4_spill", false, true},
                                           FrameInput{"ppc_be_dw4_spill", false, true},
                                           FrameInput{"sh4_le_dw4_spill", false, true}),
                         [](const auto& p) { return std::string(p.param.stem); });

}  // namespace
}  // namespace dwarfsift
