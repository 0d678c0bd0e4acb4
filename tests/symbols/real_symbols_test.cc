// Whole runs on the committed cross-compiled files: every function and every
// global or file-static variable that the ELF symbol table lists must be in
// the SYM file at the address the symbol table gives, functions with the
// class their binding implies. The symbol table is read with llvm-readelf,
// independently of the tool.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

TEST(RealSymbols, FunctionsAndVariablesAtTheSymbolTableAddresses) {
  if (!testing::HaveTool("llvm-readelf")) GTEST_SKIP() << "llvm-readelf is not installed";
  for (const std::string& file : RealFiles()) {
    SCOPED_TRACE(file);
    testing::ScratchDir dir;
    const std::string out = dir.File("out");
    std::vector<const char*> argv{"dwarfsift", file.c_str(), "-o", out.c_str()};
    std::string console;
    // Symbols and lines: the run ends 0.
    ASSERT_EQ(RunEntry(static_cast<int>(argv.size()), argv.data(), &console), kStatusDone)
        << console;
    std::set<std::tuple<std::string, std::string, std::uint32_t>> functions;
    std::set<std::pair<std::string, std::uint32_t>> variables;
    for (const testing::SymFileRecord& r : testing::ReadSymFile(out + ".SYM")) {
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

}  // namespace
}  // namespace dwarfsift
