#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "base/text_match.h"
#include "base/run_options.h"

namespace dwarfsift {
namespace {

struct Parsed {
  RunOptions options;
  std::string echo_line;
  bool whole_line = false;  // false: the too-long message is due
};

Parsed Parse(std::vector<std::string> args) {
  Parsed parsed;
  std::vector<const char*> argv{"dwarfsift"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  parsed.whole_line = ParseCommandLine(static_cast<int>(argv.size()), argv.data(),
                                       parsed.options, parsed.echo_line);
  return parsed;
}

TEST(ParseHexValue, AcceptsPrefixesAndLeadingZeros) {
  struct Case {
    const char* text;
    std::uint32_t value;
  } cases[] = {
      {"0x1F", 31},        {"1f", 31},           {"001F", 31},
      {"0X001f", 31},      {"", 0},              {"zz", 0},
      {"12G4", 0x12},      {"FFFFFFFF", 0xFFFFFFFF}, {"00000000FFFFFFFF", 0xFFFFFFFF},
      {"123456789", 0xFFFFFFFF}, {"0x100000000", 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseHexValue(c.text).value, c.value) << c.text;
  }
  EXPECT_EQ(ParseHexValue("12G4").stop, 2u);
}

TEST(ParseCommandLine, Defaults) {
  const Parsed p = Parse({"prog.elf"});
  EXPECT_EQ(p.options.input_name, "prog.elf");
  EXPECT_TRUE(p.options.output_name.empty());
  EXPECT_FALSE(p.options.debug_trace);
  EXPECT_TRUE(p.options.echo_trace);
  EXPECT_TRUE(p.options.directory_info);
  EXPECT_TRUE(p.options.sort_lines);
  EXPECT_EQ(p.options.pointer_size, 4);
  EXPECT_EQ(p.echo_line, "/usage: dwarfsift prog.elf");
  EXPECT_TRUE(p.whole_line);
}

TEST(ParseCommandLine, EachOptionSetsItsField) {
  struct Case {
    const char* arg;
    bool (*check)(const RunOptions&);
  } cases[] = {
      {"-d", [](const RunOptions& o) { return o.debug_trace; }},
      {"-p", [](const RunOptions& o) { return !o.echo_trace; }},
      {"-a", [](const RunOptions& o) { return o.write_srecords; }},
      {"-adef", [](const RunOptions& o) { return o.host_mailbox && !o.write_srecords; }},
      {"-2", [](const RunOptions& o) { return o.pointer_size == 2; }},
      {"-r", [](const RunOptions& o) { return !o.directory_info; }},
      {"-s", [](const RunOptions& o) { return !o.sort_lines; }},
      {"-g", [](const RunOptions& o) { return o.global_statics; }},
      {"-i", [](const RunOptions& o) { return o.inline_delete; }},
      {"-f", [](const RunOptions& o) { return o.all_includes; }},
      {"-m", [](const RunOptions& o) { return o.merge_duplicates; }},
      {"-l", [](const RunOptions& o) { return o.no_locals; }},
      {"-x", [](const RunOptions& o) { return o.no_local_structs; }},
      {"-z", [](const RunOptions& o) { return o.no_members; }},
      {"-e", [](const RunOptions& o) { return o.entry_positions; }},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse({c.arg, "in"});
    EXPECT_TRUE(c.check(p.options)) << c.arg;
    EXPECT_EQ(p.options.input_name, "in") << c.arg;
  }
}

TEST(ParseCommandLine, NamesAndOutputName) {
  // "-o" as the last argument leaves no output name.
  Parsed p = Parse({"in", "-o"});
  EXPECT_EQ(p.options.input_name, "in");
  EXPECT_TRUE(p.options.output_name.empty());

  // Options between -o and its name are applied and keep the expectation.
  p = Parse({"-o", "-d", "out", "in.x"});
  EXPECT_TRUE(p.options.debug_trace);
  EXPECT_EQ(p.options.output_name, "out");
  EXPECT_EQ(p.options.input_name, "in.x");

  // The second bare name wins; unlisted options are names.
  p = Parse({"first", "second"});
  EXPECT_EQ(p.options.input_name, "second");
  p = Parse({"-q"});
  EXPECT_EQ(p.options.input_name, "-q");
  // Matching is exact and case-sensitive.
  p = Parse({"-D", "-dd"});
  EXPECT_FALSE(p.options.debug_trace);
  EXPECT_EQ(p.options.input_name, "-dd");
}

TEST(ParseCommandLine, TraceTrigger) {
  for (const char* arg : {"-?0x1F", "-?1f", "-?001F"}) {
    const Parsed p = Parse({arg});
    EXPECT_TRUE(p.options.trace_trigger) << arg;
    EXPECT_EQ(p.options.trace_trigger_pos, 31u) << arg;
    EXPECT_TRUE(p.options.input_name.empty()) << arg;
  }
  Parsed p = Parse({"-?"});
  EXPECT_TRUE(p.options.trace_trigger);
  EXPECT_EQ(p.options.trace_trigger_pos, 0u);
  p = Parse({"-?123456789"});
  EXPECT_EQ(p.options.trace_trigger_pos, 0xFFFFFFFFu);
}

TEST(ParseCommandLine, InlineDeleteSwitchesMergeOff) {
  EXPECT_FALSE(Parse({"-i", "-m"}).options.merge_duplicates);
  EXPECT_FALSE(Parse({"-m", "-i"}).options.merge_duplicates);
  EXPECT_TRUE(Parse({"-m"}).options.merge_duplicates);
}

TEST(ParseCommandLine, TooLongEchoLineStopsParsing) {
  // "/usage: dwarfsift" is 17 characters; each "-m" adds 3, the long name
  // crosses 255.
  const std::string long_name(240, 'n');
  const Parsed p = Parse({"-m", "-i", long_name, "-d", "late"});
  EXPECT_FALSE(p.whole_line);
  EXPECT_EQ(p.echo_line, "/usage: dwarfsift -m -i " + long_name);
  EXPECT_TRUE(p.options.inline_delete);
  // The final step was skipped: -m stays on despite -i.
  EXPECT_TRUE(p.options.merge_duplicates);
  EXPECT_FALSE(p.options.debug_trace);
  EXPECT_TRUE(p.options.input_name.empty());

  // 254 characters are still fine.
  const Parsed fits = Parse({std::string(254 - 18, 'a')});
  EXPECT_EQ(fits.echo_line.size(), 254u);
  EXPECT_TRUE(fits.whole_line);
  const Parsed full = Parse({std::string(255 - 18, 'a')});
  EXPECT_FALSE(full.whole_line);
}

}  // namespace
}  // namespace dwarfsift
