// The whole run, from the command line to the files left behind and the
// exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "app/driver.h"
#include "app/entry.h"
#include "base/messages.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;

struct ToolRun {
  int status;
  std::string console;
};

ToolRun RunTool(std::vector<std::string> args) {
  std::vector<const char*> argv{"dwarfsift"};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  ToolRun run;
  run.status = RunEntry(static_cast<int>(argv.size()), argv.data(), &run.console);
  return run;
}

std::string Banner() { return std::string(texts::kBanner); }

const std::string kElf = testing::TestDataPath("arm_le_dw3_o0.elf");

TEST(Entry, NoInputShowsUsage) {
  const ToolRun run = RunTool({});
  EXPECT_EQ(run.status, kStatusNoInput);
  EXPECT_EQ(run.console, "/usage: dwarfsift\n" + Banner() + std::string(texts::kUsage));

  // The real binary: status -1 is 255, and standard output carries the
  // same bytes untranslated.
  int status = 0;
  const std::string out = testing::RunCommand(std::string(DWARFSIFT_BINARY), &status);
  EXPECT_EQ(status, 255);
  EXPECT_EQ(out, "/usage: " + std::string(DWARFSIFT_BINARY) + "\n" + Banner() +
                     std::string(texts::kUsage));

  // On a terminal that shows UTF-8 the Japanese text is readable; on one
  // that does not, it stays code page 932.
  for (const char* locale : {"C.UTF-8", "C"}) {
    const std::string tty = testing::RunCommand(
        std::string("LC_ALL=") + locale + " script -qec " + DWARFSIFT_BINARY + " /dev/null", &status);
    EXPECT_EQ(status, 255) << locale;
    const std::string_view want = locale[1] == '.' ? texts::kUsageUtf8 : texts::kUsage;
    std::string lf = tty;
    std::erase(lf, '\r');  // the terminal turns line ends into CR LF
    EXPECT_TRUE(lf.ends_with(std::string(want))) << locale << ": " << tty;
  }
}

TEST(Entry, UnreadableInputs) {
  ScratchDir dir;
  // An unlisted option is a name; ".x" is added to it.
  int status = 0;
  std::string out = testing::RunCommand(
      "cd " + dir.path() + " && " + DWARFSIFT_BINARY + " -q", &status);
  EXPECT_EQ(status, 255);
  EXPECT_EQ(out, "/usage: " + std::string(DWARFSIFT_BINARY) + " -q\n" + Banner() +
                     "-q.x" + std::string(texts::kMissingFileSuffix));

  testing::WriteFileBytes(dir.File("empty.elf"), "");
  ToolRun run = RunTool({dir.File("empty.elf")});
  EXPECT_EQ(run.status, kStatusNoInput);
  EXPECT_TRUE(run.console.ends_with(dir.File("empty.elf") +
                                    std::string(texts::kMissingFileSuffix)));

  for (const char* content : {"\x7F" "EL", "plain text\n"}) {
    testing::WriteFileBytes(dir.File("bad.elf"), content);
    run = RunTool({dir.File("bad.elf")});
    EXPECT_EQ(run.status, kStatusNotElf) << content;
    EXPECT_TRUE(run.console.ends_with(std::string(texts::kNotElf))) << content;
    EXPECT_FALSE(fs::exists(dir.File("bad.SYM")));
  }
  // ELF of another class: refused with its class named.
  std::string elf = testing::ReadFileText(kElf);
  for (const auto& [elf_class, name] : {std::pair{2, "64-bit"}, std::pair{0, "unknown"}}) {
    elf[4] = static_cast<char>(elf_class);
    testing::WriteFileBytes(dir.File("bad.elf"), elf);
    run = RunTool({dir.File("bad.elf")});
    char text[128];
    std::snprintf(text, sizeof text, texts::kElfClassRefused, name, elf_class);
    EXPECT_TRUE(run.status == kStatusNotElf && run.console.ends_with(text)) << run.console;
  }
}

// What the user is told about an input that converts, but not as it should
// be given: a relocatable object, an image without debugging information.
TEST(Entry, InputsThatAreNotWhatTheDebuggerNeedsAreNamed) {
  ScratchDir dir;
  const std::string input = dir.File("in.elf");
  char relocatable[256], no_info[256];
  std::snprintf(relocatable, sizeof relocatable, texts::kRelocatableObject, input.c_str());
  std::snprintf(no_info, sizeof no_info, texts::kNoDebugInfo, input.c_str());

  std::string elf = testing::ReadFileText(kElf);
  for (const char e_type : {2, 1}) {  // ET_EXEC, ET_REL (little-endian)
    elf[16] = e_type;
    testing::WriteFileBytes(input, elf);
    const ToolRun run = RunTool({input});
    EXPECT_EQ(run.status, kStatusDone);
    EXPECT_EQ(run.console.find(relocatable) != std::string::npos, e_type == 1) << run.console;
    EXPECT_EQ(run.console.find(no_info), std::string::npos);
  }

  testing::RunCommand("llvm-objcopy --remove-section=.debug_info " + kElf + " " + input);
  const ToolRun run = RunTool({input});
  EXPECT_EQ(run.status, kStatusNoSymbol);
  EXPECT_NE(run.console.find(no_info), std::string::npos) << run.console;
}

TEST(Entry, HelpAndVersionAnswerWithoutConverting) {
  ToolRun run = RunTool({"input.elf", "--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.console, std::string(texts::kHelp));
  EXPECT_EQ(RunTool({"-h"}).console, std::string(texts::kHelp));
  run = RunTool({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(std::regex_match(run.console, std::regex("dwarfsift [0-9]+\\.[0-9]+\\.[0-9]+\n")))
      << run.console;
  // A file really called so is named with its directory.
  run = RunTool({"./--help"});
  EXPECT_EQ(run.status, kStatusNoInput);
  EXPECT_TRUE(run.console.ends_with("./--help.x" + std::string(texts::kMissingFileSuffix)));
}

TEST(Entry, TraceTriggerStartsAtTheFirstEntryAtOrAfterItsPosition) {
  ScratchDir dir;
  // Position 1 is no entry's: the trace starts at the first unit after it.
  ToolRun run = RunTool({kElf, "-p", "-?1", "-o", dir.File("early")});
  EXPECT_EQ(run.status, kStatusDone);
  EXPECT_NE(testing::ReadFileText(dir.File("early.SYM")).find("/ [ 0] Tag["), std::string::npos);
  EXPECT_EQ(run.console.find("-?1:"), std::string::npos);
  // Past every entry: no trace, and a line says so.
  run = RunTool({kElf, "-?FFFFFFF0", "-o", dir.File("late")});
  EXPECT_EQ(run.status, kStatusDone);
  EXPECT_EQ(testing::ReadFileText(dir.File("late.SYM")).find("/ [ 0] Tag["), std::string::npos);
  EXPECT_NE(run.console.find("-?FFFFFFF0: no entry"), std::string::npos) << run.console;
}

TEST(Entry, AnOutputNamingTheInputWritesNothing) {
  // The input (a copy of the real ELF, "IN" in the arguments), the options,
  // and the output name that reaches it; link.elf is a hard link of out.MEB.
  const std::vector<std::vector<std::string>> cases = {
      {"p.SYM", "p.SYM"}, {"p.LIN", "p.LIN"}, {"p.MEB", "p.MEB"}, {"p.LXX", "p.LXX"},
      {"p.mot", "p.mot", "-a"}, {"p.SYM", "p.SYM", "-o", "p.elf"},
      {"q.LIN", "sub/../q.LIN", "-d", "-o", "sub/../q"}, {"link.elf", "out.MEB", "-o", "out"}};
  for (const std::vector<std::string>& c : cases) {
    ScratchDir dir;
    fs::create_directory(dir.File("sub"));
    const std::string input = dir.File(c[0]);
    fs::copy_file(kElf, input);
    if (c[0] == "link.elf") fs::create_hard_link(input, dir.File("out.MEB"));
    std::vector<std::string> args{input};
    for (std::size_t i = 2; i < c.size(); ++i) {
      args.push_back(c[i].starts_with("-") ? c[i] : dir.File(c[i]));
    }
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, kStatusNoInput) << c[0];
    EXPECT_TRUE(run.console.ends_with("Output file " + dir.File(c[1]) + " is the input file " +
                                      input + ", nothing written!!\n"))
        << run.console;
    EXPECT_EQ(testing::ReadFileBytes(input), testing::ReadFileBytes(kElf)) << c[0];
    // Nothing was created beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
              c[0] == "link.elf" ? 3 : 2);
  }
}

TEST(Entry, RealElfRunsEveryPhaseAndCleansUp) {
  ScratchDir dir;
  const std::string out = dir.File("out");
  const ToolRun run = RunTool({kElf, "-o", out});
  EXPECT_EQ(run.status, kStatusDone);
  // One progress line per unit between the symbol and the line phases; the
  // milliseconds vary from run to run.
  const std::regex expected(
      std::regex_replace("/usage: dwarfsift " + kElf + " -o " + out + "\n" + Banner() +
                             "GetSection()\nGetDebugLocAll()\nGetDebugSymTabAll()\n"
                             "GetDebugInfoAll()\n",
                         std::regex(R"([.()/\\])"), R"(\$&)") +
      R"(\{0x0000150A\}\.debug_info\[   0\] time\[ *[0-9]+ms\] Member\[ *[0-9]+\] unit\[main\.c\]\n)"
      R"(\{0x00001A1F\}\.debug_info\[   1\] time\[ *[0-9]+ms\] Member\[ *[0-9]+\] unit\[geometry\.c\]\n)"
      R"(GetDebugLineAll\(\)\nGetDebugMemberAll\(\)\ncomplete symbols=([0-9]+) lines=([0-9]+)\n)");
  std::smatch counts;
  ASSERT_TRUE(std::regex_match(run.console, counts, expected)) << run.console;
  const unsigned long symbols = std::stoul(counts[1]);
  EXPECT_GT(symbols, 0u);
  EXPECT_GT(std::stoul(counts[2]), 0u);
  // Without -g every written entry is one record.
  const std::string sym = testing::ReadFileText(out + ".SYM");
  std::size_t records = 0;
  for (std::size_t at = sym.find(": index["); at != std::string::npos;
       at = sym.find(": index[", at + 1)) {
    ++records;
  }
  EXPECT_EQ(records, symbols);
  EXPECT_NE(sym.find("+ name[main]\r\n"), std::string::npos);
  // The LIN file stays; the LXX goes without -d.
  EXPECT_TRUE(testing::ReadFileText(out + ".LIN")
                  .starts_with("/Orvik(KPIT-GNU-ELF)-Symbol-Converter\r\n/Ver5.00D\r\n"));
  EXPECT_FALSE(fs::exists(out + ".LXX"));
  // The MEB file: its header, then the member records from index 0.
  EXPECT_TRUE(testing::ReadFileText(out + ".MEB")
                  .starts_with("/Orvik(KPIT-GNU-ELF)-Symbol-Converter\r\n/Ver5.00D\r\n/usage: "
                               "dwarfsift " + kElf + " -o " + out +
                               "\r\n/MemberAdd\r\n: index[0]\r\n"));
}

TEST(Entry, SimultaneousRunsLeaveOneRunsFiles) {
  // Twenty pairs of runs on one input, each pair started together; after
  // every pair the files are those of a single run, and nothing else is
  // left.
  ScratchDir dir;
  fs::copy_file(kElf, dir.File("p.elf"));
  const std::string tool = std::string(DWARFSIFT_BINARY) + " p.elf -a >/dev/null";
  const std::string script =
      "cd " + dir.path() + " && " + tool + " && mkdir one && mv p.SYM p.LIN p.MEB p.mot one/ && "
      "for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do " +
      tool + " & " + tool + " & wait; "
      "for f in p.SYM p.LIN p.MEB p.mot; do cmp -s $f one/$f || echo \"pair $i: $f\"; done; "
      "done; ls";
  EXPECT_EQ(testing::RunCommand(script), "one\np.LIN\np.MEB\np.SYM\np.elf\np.mot\n");
}

TEST(Entry, TraceKeepsTheLineFileAndOptionsShapeItsHeader) {
  struct Case {
    std::vector<std::string> options;
    std::string header_tail;
    bool loc_phase;
  } cases[] = {
      {{"-d"}, "/InlineDel=OFF\r\n", true},
      {{"-d", "-i"}, "", true},
      {{"-d", "-m"}, "/InlineDel=OFF\r\n/ViewMerg=ON\r\n", true},
      {{"-d", "-m", "-i"}, "", true},
      {{"-d", "-l"}, "/InlineDel=OFF\r\n", false},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {kElf, "-o", dir.File("t")});
    std::string echo = "/usage: dwarfsift";
    for (const std::string& arg : args) echo += " " + arg;
    const ToolRun run = RunTool(args);
    EXPECT_EQ(run.status, kStatusDone);
    const std::string lxx = testing::ReadFileText(dir.File("t.LXX"));
    const std::string header =
        "/Orvik(KPIT-GNU-ELF)-Symbol-Converter\r\n/Ver5.00D\r\n" + echo + "\r\n" +
        c.header_tail;
    EXPECT_EQ(lxx.substr(0, header.size()), header) << echo;
    // The line phase follows the header; the closing line counts its rows.
    EXPECT_EQ(lxx.compare(header.size(), 3, "/<<"), 0) << echo;
    std::size_t rows = 0;
    for (auto at = lxx.find("\n+0x"); at != std::string::npos; at = lxx.find("\n+0x", at + 1)) {
      ++rows;
    }
    EXPECT_TRUE(run.console.ends_with("lines=" + std::to_string(rows) + "\n")) << echo;
    EXPECT_EQ(run.console.find("GetDebugLocAll()\n") != std::string::npos, c.loc_phase) << echo;
    // The trace is echoed to the console.
    EXPECT_NE(run.console.find("/<<<<<<<<<< ELF Header >>>>>>>>>>\n"), std::string::npos);
  }
}

TEST(Entry, LostOutputsEndWithTheirOwnStatus) {
  ScratchDir dir;
  const ToolRun run = RunTool({kElf, "-o", dir.File("missing/dir/out")});
  EXPECT_EQ(run.status, kStatusOutputLost);
  EXPECT_EQ(run.console.find("GetSection()"), std::string::npos);
  EXPECT_TRUE(run.console.ends_with(dir.File("missing/dir/out.LXX") +
                                    " cannot be created: No such file or directory!!\n"
                                    "complete symbols=0 lines=0\n"))
      << run.console;
  // An output name that is a directory, empty or not, is the user's.
  fs::create_directories(dir.File("y.SYM"));
  const ToolRun dir_run = RunTool({kElf, "-o", dir.File("y")});
  EXPECT_EQ(dir_run.status, kStatusOutputLost);
  EXPECT_NE(dir_run.console.find("y.SYM cannot be created: Is a directory!!\n"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(dir.File("y.SYM")));

  // A file size limit stands in for a full disk: the SYM file (19 KB) does
  // not fit, the smaller files do. The old SYM file stays whole, the others
  // are replaced, no unfinished file is left, and the tool ignores SIGXFSZ.
  fs::copy_file(kElf, dir.File("p.elf"));
  const std::vector<std::string> outputs = {"p.SYM", "p.LIN", "p.MEB", "p.mot"};
  for (const std::string& name : outputs) testing::WriteFileBytes(dir.File(name), "old\n");
  int status = 0;
  const std::string out = testing::RunCommand(
      "cd " + dir.path() + " && ulimit -f 16 && " + DWARFSIFT_BINARY + " p.elf -a",
      &status);
  EXPECT_EQ(status, 251);
  EXPECT_NE(out.find("p.SYM could not be written completely: File too large, left as it "
                     "was!!\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(testing::ReadFileText(dir.File("p.SYM")), "old\n");
  for (const char* name : {"p.LIN", "p.MEB", "p.mot"}) {
    EXPECT_GT(testing::ReadFileText(dir.File(name)).size(), 1000u) << name;
  }
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) files += entry.is_regular_file();
  EXPECT_EQ(files, outputs.size() + 1);
}

TEST(Driver, WritesHeadersAndVersionLine) {
  ScratchDir dir;
  RunOptions options;
  options.write_srecords = true;
  options.input_name = kElf;
  options.output_name = dir.File("d");
  const OutputFileSet names = DeriveOutputFileSet(options);
  RunContext run(options);
  std::string console;
  run.channel.CaptureConsole(&console);
  run.echo_line = "/usage: x\n";
  const std::vector<std::uint8_t> image = testing::ReadFileBytes(kElf);
  ConversionState state;
  SymbolMemberArea absent;  // never created
  RunConversion(names, image, run, absent, state);

  // The header lines, the version line, then the records.
  EXPECT_TRUE(testing::ReadFileText(names.sym)
                  .starts_with("/Orvik(KPIT-GNU-ELF)-Symbol-Converter\r\n/Ver5.00D\r\n/usage: x\r\n"
                               "/MemberAdd\r\n/Dwarf-Version[3]\r\n: index[0]\r\n"));
  EXPECT_TRUE(fs::exists(names.mot));
  // Without a member area there is no member phase and no MEB file.
  EXPECT_EQ(console.find("GetDebugMemberAll()"), std::string::npos);
  EXPECT_FALSE(fs::exists(names.meb));
  EXPECT_TRUE(state.elf.debug_info.found());
}

TEST(OutputFile, LineEndsAndWriteFailures) {
  OutputFile memory;
  memory.CreateInMemory();
  memory.Write("a\nb%d\n\n");
  EXPECT_EQ(memory.memory(), "a\r\nb%d\r\n\r\n");

  // A device that is always full: the loss is noticed when the file closes.
  OutputFile full;
  ASSERT_TRUE(full.Create("/dev/full"));
  full.Write(std::string(1 << 17, 'x'));
  EXPECT_FALSE(full.Close());

  // The name keeps its old bytes until the new file is complete; a
  // discarded file leaves no trace.
  ScratchDir dir;
  testing::WriteFileBytes(dir.File("f"), "old");
  OutputFile fine;
  ASSERT_TRUE(fine.Create(dir.File("f")));
  fine.Write("x\n");
  EXPECT_TRUE(fine.Finish());
  EXPECT_EQ(testing::ReadFileText(dir.File("f")), "old");
  EXPECT_EQ(testing::ReadFileText(fine.written_path()), "x\r\n");
  EXPECT_TRUE(fine.Close());
  EXPECT_EQ(testing::ReadFileText(dir.File("f")), "x\r\n");
  OutputFile dropped;
  ASSERT_TRUE(dropped.Create(dir.File("f")));
  const std::string used = dropped.written_path();
  dropped.Write("y\n");
  dropped.Discard();
  EXPECT_EQ(testing::ReadFileText(dir.File("f")), "x\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  // Leftovers of a killed run with this process id hold the next names: they
  // are passed over and kept.
  const std::size_t at = used.rfind('-') + 1;
  for (unsigned long n = std::stoul(used.substr(at)) + 1, last = n + 2; n <= last; ++n) {
    testing::WriteFileBytes(used.substr(0, at) + std::to_string(n) + ".tmp", "left");
  }
  ASSERT_TRUE(fine.Create(dir.File("f")));
  EXPECT_TRUE(fine.Close());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);
}

TEST(Driver, ReportsAnOutputFileThatCouldNotBeWritten) {
  RunContext run;
  std::string console;
  run.channel.CaptureConsole(&console);
  run.echo_line = "/usage: x\n";
  OutputFileSet names;
  ScratchDir dir;
  names.lxx = dir.File("t.LXX");
  names.sym = "/dev/full";
  names.meb = dir.File("t.MEB");
  const std::vector<std::uint8_t> image = testing::ReadFileBytes(kElf);
  ConversionState state;
  SymbolMemberArea members;
  ASSERT_TRUE(members.Create());
  RunConversion(names, image, run, members, state);
  EXPECT_NE(console.find("/dev/full could not be written completely: No space left on "
                         "device, left as it was!!\n"),
            std::string::npos);
  EXPECT_TRUE(run.state.output_lost);
  EXPECT_EQ(console.find("t.LXX could not"), std::string::npos);
  EXPECT_TRUE(fs::exists(names.meb));
}

}  // namespace
}  // namespace dwarfsift
