// Whole runs on the committed cross-compiled files: every function and every
// global or file-static variable that the ELF symbol table lists must be in
// the SYM file at the address the symbol table gives, functions with the
// class their binding implies. The symbol table is read with llvm-readelf,
// independently of the tool. The variables, functions and located locals that
// llvm-dwarfdump finds (the <stem>.vars files of tests/data/build.sh) must be
// there too, with their sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/entry.h"
#include "symbols/sym_file.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

namespace fs = std::filesystem;

struct ElfSymbol {
  std::string name;
  std::uint32_t value;
  bool function;
  bool global;
};

std::vector<std::string> RealFiles() {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(DWARFSIFT_TEST_DATA)) {
    if (entry.path().extension() == ".elf") files.push_back(entry.path().string());
  }
  files.push_back(testing::ExamplePath("blinky.elf"));
  std::sort(files.begin(), files.end());
  return files;
}

// Functions and data objects of the symbol table that the C sources define.
// Left out: names the compiler made ("seq.0" for a static local,
// "f.constprop.0"), C++ linkage names, and the linker's small-data base.
std::vector<ElfSymbol> DefinedSymbols(const std::string& file) {
  int status = -1;
  const std::string listing =
      testing::RunCommand("llvm-readelf --syms --wide '" + file + "' 2>/dev/null", &status);
  std::vector<ElfSymbol> symbols;
  if (status != 0) return symbols;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string num, value, size, type, bind, vis, ndx, name;
    if (!(fields >> num >> value >> size >> type >> bind >> vis >> ndx >> name)) continue;
    if (type != "FUNC" && type != "OBJECT") continue;
    if (ndx == "UND" || ndx == "ABS") continue;
    if (name.find('.') != std::string::npos || name.starts_with("_Z") ||
        name.starts_with("_SDA")) {
      continue;
    }
    symbols.push_back({name, static_cast<std::uint32_t>(std::stoul(value, nullptr, 16)),
                       type == "FUNC", bind == "GLOBAL"});
  }
  return symbols;
}

// Runs the tool on `file` into `dir`; symbols and lines: the run ends 0.
void Convert(const std::string& file, const testing::ScratchDir& dir,
             std::vector<testing::SymFileRecord>& records) {
  const std::string out = dir.File("out");
  std::vector<const char*> argv{"dwarfsift", file.c_str(), "-o", out.c_str()};
  std::string console;
  ASSERT_EQ(RunEntry(static_cast<int>(argv.size()), argv.data(), &console), kStatusDone)
      << console;
  records = testing::ReadSymFile(out + ".SYM");
}

TEST(RealSymbols, FunctionsAndVariablesAtTheSymbolTableAddresses) {
  if (!testing::HaveTool("llvm-readelf")) GTEST_SKIP() << "llvm-readelf is not installed";
  for (const std::string& file : RealFiles()) {
    SCOPED_TRACE(file);
    testing::ScratchDir dir;
    std::vector<testing::SymFileRecord> records;
    ASSERT_NO_FATAL_FAILURE(Convert(file, dir, records));
    std::set<std::tuple<std::string, std::string, std::uint32_t>> functions;
    std::set<std::pair<std::string, std::uint32_t>> variables;
    for (const testing::SymFileRecord& r : records) {
      const auto location = static_cast<std::uint32_t>(r.Number("location", 16));
      functions.emplace(r.Field("name"), r.Field("ident"), location);
      variables.emplace(r.Field("name"), location);
    }

    const std::vector<std::uint8_t> bytes = testing::ReadFileBytes(file);
    ASSERT_GT(bytes.size(), 20u);
    const unsigned machine =
        bytes[5] == 2 ? bytes[18] << 8 | bytes[19] : bytes[19] << 8 | bytes[18];
    const std::vector<ElfSymbol> symbols = DefinedSymbols(file);
    ASSERT_FALSE(symbols.empty());
    for (const ElfSymbol& s : symbols) {
      if (s.function) {
        // Thumb functions carry their mode in bit 0 of the symbol value.
        const std::uint32_t address = machine == 40 ? s.value & ~1u : s.value;
        const char* ident = s.global ? "PROGRAM" : "S_PROGRAM";
        EXPECT_TRUE(functions.count({s.name, ident, address}))
            << s.name << " " << ident << " at 0x" << std::hex << address;
      } else {
        EXPECT_TRUE(variables.count({s.name, s.value}))
            << s.name << " at 0x" << std::hex << s.value;
      }
    }
  }
}

// The record lines of a SYM or MEB file; with -d the trace stands among them.
std::string RecordLines(const std::string& text) {
  std::string out;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && (line[0] == '+' || line[0] == ':' || line[0] == '=')) out += line + "\n";
  }
  return out;
}

// A quiet run takes a type's expansion from what an earlier symbol of the
// unit recorded; a traced run walks every type chain. Both write the same
// records.
TEST(RealSymbols, TracedRunsWriteTheRecordsOfQuietRuns) {
  for (const std::string& file : RealFiles()) {
    for (const std::vector<const char*>& options :
         {std::vector<const char*>{}, std::vector<const char*>{"-x", "-g"}}) {
      SCOPED_TRACE(file + (options.empty() ? "" : " -x -g"));
      testing::ScratchDir dir;
      std::string outputs[2][2];
      for (int traced = 0; traced < 2; ++traced) {
        const std::string out = dir.File(traced != 0 ? "traced" : "quiet");
        std::vector<const char*> argv{"dwarfsift", file.c_str(), "-o", out.c_str()};
        argv.insert(argv.end(), options.begin(), options.end());
        if (traced != 0) argv.push_back("-d");
        std::string console;
        ASSERT_EQ(RunEntry(static_cast<int>(argv.size()), argv.data(), &console), kStatusDone);
        outputs[traced][0] = RecordLines(testing::ReadFileText(out + ".SYM"));
        outputs[traced][1] = RecordLines(testing::ReadFileText(out + ".MEB"));
      }
      ASSERT_NE(outputs[0][0], "");
      EXPECT_EQ(outputs[1][0], outputs[0][0]);
      EXPECT_EQ(outputs[1][1], outputs[0][1]);
    }
  }
}

// DWARFSIFT_FOLLOW_CACHE=off walks every type chain and member list that a
// normal run replays from what an earlier symbol of the unit recorded. Both
// give the same files, console and status, byte for byte.
TEST(RealSymbols, WalkedRunsWriteTheFilesOfCachedRuns) {
  // The unit times on the console are the only thing allowed to differ.
  const auto without_times = [](std::string text) {
    for (std::size_t at = text.find("time["); at != std::string::npos;
         at = text.find("time[", at + 1)) {
      const std::size_t end = text.find("ms]", at);
      if (end != std::string::npos) text.erase(at + 5, end - at - 5);
    }
    return text;
  };
  for (const std::string& file : RealFiles()) {
    for (const std::vector<const char*>& options :
         {std::vector<const char*>{"-a"}, std::vector<const char*>{"-x", "-g", "-e"},
          std::vector<const char*>{"-z", "-2"}, std::vector<const char*>{"-l", "-i"}}) {
      SCOPED_TRACE(file + " " + options[0] + " " + options[1 % options.size()]);
      testing::ScratchDir dir;
      const std::string out = dir.File("out");
      std::vector<const char*> argv{"dwarfsift", file.c_str(), "-o", out.c_str()};
      argv.insert(argv.end(), options.begin(), options.end());
      std::string outputs[2][5];
      for (int walked = 0; walked < 2; ++walked) {
        if (walked != 0) setenv("DWARFSIFT_FOLLOW_CACHE", "off", 1);
        std::string console;
        const int status = RunEntry(static_cast<int>(argv.size()), argv.data(), &console);
        unsetenv("DWARFSIFT_FOLLOW_CACHE");
        std::string* files = outputs[walked];
        files[0] = std::to_string(status) + "\n" + without_times(console);
        int i = 1;
        for (const char* suffix : {".SYM", ".MEB", ".LIN", ".mot"}) {
          files[i++] = testing::ReadFileText(out + suffix);
          std::remove((out + suffix).c_str());
        }
      }
      ASSERT_NE(outputs[0][1], "");
      for (int i = 0; i < 5; ++i) EXPECT_EQ(outputs[1][i], outputs[0][i]) << "output " << i;
    }
  }
}

// Every variable at a fixed address is written at it with the size of its
// type (total_byte 0 and the structure size for structures and arrays of
// them), however its entry names it: a definition that points back at its
// extern declaration counts as much as one that names itself, and so does
// every record the tool writes for it. Every function with code is written
// at its address with the class its external flag gives, and every located
// parameter or local of it (through lexical blocks, in out-of-line
// instances too) is a register or frame local over the function's range,
// however often the name recurs, whatever order its compiler wrote the
// entries' attributes in.
TEST(RealSymbols, VariablesFunctionsAndLocalsOfTheVarsFiles) {
  int checked = 0;
  for (const std::string& file : RealFiles()) {
    const std::string facts = fs::path(file).replace_extension(".vars").string();
    if (!fs::exists(facts)) continue;
    SCOPED_TRACE(file);
    ++checked;
    testing::ScratchDir dir;
    std::vector<testing::SymFileRecord> records;
    ASSERT_NO_FATAL_FAILURE(Convert(file, dir, records));
    std::set<std::tuple<std::string, std::int64_t, std::string>> functions;
    std::map<std::pair<std::string, std::int64_t>, int> locals;  // name, fstart
    for (const testing::SymFileRecord& r : records) {
      const std::string ident = r.Field("ident");
      if (ident == "PROGRAM" || ident == "S_PROGRAM") {
        functions.emplace(r.Field("name"), r.Number("location", 16), ident);
      } else if (ident == "LOCAL_F" || ident == "LOCAL_R") {
        ++locals[{r.Field("name"), r.Number("fstart", 16)}];
      }
    }

    std::map<std::pair<std::string, std::int64_t>, int> wanted_locals;
    std::istringstream lines(testing::ReadFileText(facts));
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string kind, name, address, size, struct_len;
      fields >> kind;
      // Function names may hold blanks ("operator delete"): they end the line.
      const auto rest = [&fields] {
        std::string text;
        std::getline(fields >> std::ws, text);
        return text;
      };
      if (kind == "local") {
        ASSERT_TRUE(fields >> address) << line;
        ++wanted_locals[{rest(), std::stoll(address, nullptr, 16)}];
        continue;
      }
      if (kind == "function") {
        std::string linkage;
        ASSERT_TRUE(fields >> address >> linkage) << line;
        EXPECT_TRUE(functions.count({rest(), std::stoll(address, nullptr, 16),
                                     linkage == "external" ? "PROGRAM" : "S_PROGRAM"}))
            << line;
        continue;
      }
      if (kind != "var") continue;
      ASSERT_TRUE(fields >> name >> address >> size >> struct_len) << line;
      const std::int64_t location = std::stoll(address, nullptr, 16);
      int found = 0;
      for (const testing::SymFileRecord& r : records) {
        if (r.Field("name") != name || r.Number("location", 16) != location) continue;
        ++found;
        EXPECT_EQ(r.Field("total_byte"), size) << line;
        if (struct_len != "-") {
          EXPECT_EQ(r.Field("struct_len"), struct_len) << line;
        }
      }
      EXPECT_GT(found, 0) << line;
    }

    for (const auto& [key, count] : wanted_locals) {
      const auto found = locals.find(key);
      EXPECT_GE(found == locals.end() ? 0 : found->second, count)
          << "local " << key.first << " of the function at 0x" << std::hex << key.second;
    }
  }
  EXPECT_GT(checked, 0) << "no .vars file in " << DWARFSIFT_TEST_DATA;
}

}  // namespace
}  // namespace dwarfsift
