// The ELF symbol table: the table and its "-d" trace on the committed real
// files against readelf's listing of the same file, lookups by name, and
// damaged name and symbol tables.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/message_channel.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "base/run_state.h"
#include "elf/elf_image.h"
#include "elf/symbol_table.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

struct Symbol {
  std::uint32_t value, size, info, shndx;
  std::string name;  // as readelf shows it
  std::uint32_t address;  // the value without an ARM function's Thumb bit
};

std::vector<Symbol> ReadelfSymbols(const std::string& path) {
  static const std::map<std::string, std::uint32_t> kCodes = {
      {"NOTYPE", 0}, {"OBJECT", 1}, {"FUNC", 2}, {"SECTION", 3}, {"FILE", 4},
      {"LOCAL", 0},  {"GLOBAL", 1}, {"WEAK", 2}, {"UND", 0},     {"ABS", 0xFFF1}};
  std::istringstream out(testing::RunCommand("LC_ALL=C readelf -sW '" + path + "'"));
  const bool arm =
      testing::RunCommand("LC_ALL=C readelf -h '" + path + "'").find(" ARM\n") != std::string::npos;
  std::vector<Symbol> symbols;
  for (std::string line; std::getline(out, line);) {
    std::istringstream fields(line);
    std::string num, value, size, type, bind, vis, ndx, name;
    if (!(fields >> num >> value >> size >> type >> bind >> vis >> ndx)) continue;
    if (!num.ends_with(':') || num == "Num:") continue;
    fields >> name;
    const auto code = kCodes.find(ndx);
    const auto number = static_cast<std::uint32_t>(std::stoul(value, nullptr, 16));
    symbols.push_back({number,
                       static_cast<std::uint32_t>(std::stoul(size, nullptr, 0)),
                       kCodes.at(bind) << 4 | kCodes.at(type),
                       code != kCodes.end() ? code->second
                                            : static_cast<std::uint32_t>(std::stoul(ndx)),
                       name, arm && type == "FUNC" ? number & ~1u : number});
  }
  EXPECT_FALSE(symbols.empty()) << path;
  return symbols;
}

// The name the table keeps: none for a symbol of size 0, one "_" less.
std::string StoredName(const Symbol& s) {
  if (s.size == 0) return "";
  return s.name.starts_with('_') ? s.name.substr(1) : s.name;
}

std::string Labelled(const char* label, std::uint32_t value, int digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%-20s0x%0*X \r\n", label, digits, value);
  return text;
}

struct Phase {
  ElfImage elf;
  ElfSymbolTable table;
  std::string trace;  // what went to the SYM file
};

Phase RunPhase(const std::vector<std::uint8_t>& image, bool trace = true) {
  RunOptions options;
  options.debug_trace = trace;
  options.echo_trace = false;
  RunState state(options);
  MessageChannel channel(options, state);
  std::string console;  // reports of damaged sections
  channel.CaptureConsole(&console);
  OutputFile sym;
  sym.CreateInMemory();
  Phase phase;
  DwarfParameters dwarf;
  GetSection(image, phase.elf, dwarf, channel, nullptr);
  GetDebugSymTabAll(phase.elf, phase.table, channel, &sym);
  phase.trace = sym.memory();
  return phase;
}

// Every entry is stored and traced in table order with readelf's values.
void ExpectTableAndTrace(const Phase& phase, const std::vector<Symbol>& symbols,
                         const std::vector<std::string>& names) {
  ASSERT_EQ(phase.table.size(), symbols.size());
  char text[512];
  std::snprintf(text, sizeof text,
                "/[0x%04X]<<<<<<<<<<<<<<<<<<<< .symtab Section  >>>>>>>>>>>>>>>>>>>>\r\n",
                phase.elf.symtab.offset);
  std::string expected = text;
  std::istringstream trace(phase.trace);
  std::string line;
  std::getline(trace, line);
  EXPECT_EQ(line + "\n", expected);
  static const char* const kWords[] = {"----", "DATA", "CODE", "SECT", "FILE"};
  for (std::size_t i = 0; i < symbols.size(); ++i) {
    const Symbol& s = symbols[i];
    SCOPED_TRACE(s.name);
    EXPECT_EQ(phase.table.name(i), names[i]);
    EXPECT_EQ(phase.table.value(i), s.address);
    std::string block;
    for (int n = 0; n < 8 && std::getline(trace, line); ++n) block += line + "\n";
    std::snprintf(text, sizeof text, "Index[0x%04X]\r\n", static_cast<unsigned>(i));
    expected = text;
    const std::size_t name_line = block.find("/st_name ");
    EXPECT_EQ(block.substr(0, name_line), expected);
    const std::size_t value_line = block.find('\n', name_line) + 1;
    std::snprintf(text, sizeof text, "# 0x%08X %s 0x%04X %s\r\n", s.value,
                  kWords[(s.info & 0xF) < 5 ? s.info & 0xF : 0], s.size, names[i].c_str());
    expected = Labelled("/st_value", s.value, 8) + Labelled("/st_size", s.size, 8) +
               Labelled("/st_info", s.info, 2) + Labelled("/st_other", 0, 2) +
               Labelled("/st_shndx", s.shndx, 4) + text;
    EXPECT_EQ(block.substr(value_line), expected);
  }
  EXPECT_FALSE(std::getline(trace, line)) << "trace goes on: " << line;
}

class SymbolTableOfRealFile : public ::testing::TestWithParam<const char*> {
 protected:
  std::string path_ = testing::TestDataPath(GetParam());
  std::vector<Symbol> symbols_ = ReadelfSymbols(path_);
  Phase phase_ = RunPhase(testing::ReadFileBytes(path_));

  std::optional<std::uint32_t> ValueOf(const std::string& readelf_name) const {
    for (const Symbol& s : symbols_) {
      if (s.name == readelf_name) return s.address;
    }
    ADD_FAILURE() << "no symbol " << readelf_name;
    return std::nullopt;
  }
};

TEST_P(SymbolTableOfRealFile, StoresAndTracesEveryEntry) {
  std::vector<std::string> names;
  for (const Symbol& s : symbols_) names.push_back(StoredName(s));
  ExpectTableAndTrace(phase_, symbols_, names);
  // Without the trace nothing goes to the SYM file, and the table is the same.
  const Phase quiet = RunPhase(testing::ReadFileBytes(path_), false);
  EXPECT_EQ(quiet.trace, "");
  EXPECT_EQ(quiet.table.size(), phase_.table.size());
}

TEST_P(SymbolTableOfRealFile, FindsDeclarationsByName) {
  // The files list g_banner_ptr before g_banner: a plain prefix test would
  // give g_banner the pointer's address.
  std::size_t ptr = 0, banner = 0;
  for (std::size_t i = 0; i < symbols_.size(); ++i) {
    if (symbols_[i].name == "g_banner_ptr") ptr = i;
    if (symbols_[i].name == "g_banner") banner = i;
  }
  ASSERT_LT(ptr, banner);

  const struct {
    const char* wanted;
    const char* symbol;  // readelf's name of the expected symbol; null: none
  } cases[] = {
      {"g_banner", "g_banner"}, {"g_banner_ptr", "g_banner_ptr"},
      {"slot", "slot.0"},       {"seq", "seq.0"},  // static locals
      {"start", "_start"},      {"add", "add"},
      {"shape", nullptr},       {"g_banner_pt", nullptr},
      {"bss_start", nullptr},   {"main", "main"},  // size 0: stored without a name
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wanted);
    const std::optional<std::uint32_t> expected =
        c.symbol ? ValueOf(c.symbol) : std::nullopt;
    EXPECT_EQ(phase_.table.FindElfSymbol(c.wanted), expected);
  }
  EXPECT_EQ(phase_.table.FindElfSymbol(""), 0u);  // the null symbol
}

INSTANTIATE_TEST_SUITE_P(LittleAndBigEndian, SymbolTableOfRealFile,
                         ::testing::Values("arm_le_dw3_o0.elf", "i386_le_dw4_o0.elf",
                                           "ppc_be_dw4_o2.elf", "mips_be_dw3_o1.elf"));

TEST(ElfSymbolTable, LookupRules) {
  ElfSymbolTable table;
  const std::pair<const char*, std::uint32_t> entries[] = {
      {"", 0},          {"mainloop", 1},  {"count_max", 2}, {"main", 3},  {"counter.2", 4},
      {"counter.1", 5}, {"x$y", 6},       {"p@x", 7},       {"main", 8}, {"q\xC3\xA9", 9}};
  for (const auto& [name, value] : entries) table.Add(name, value);
  const struct {
    const char* wanted;
    std::optional<std::uint32_t> value;
  } cases[] = {
      {"main", 3},       {"mainloop", 1},  {"mai", std::nullopt}, {"count", std::nullopt},
      {"count_max", 2},  {"counter", 4},  // first in table order, not in name order
      {"x", std::nullopt}, {"p", 7},       {"q", std::nullopt},   {"", 0},
      {"counter.2x", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(table.FindElfSymbol(c.wanted), c.value) << c.wanted;

  // A symbol added after a lookup is found too.
  table.Add("count", 10);
  EXPECT_EQ(table.FindElfSymbol("count"), 10u);
}

TEST(ElfSymbolTable, Limits) {
  ElfSymbolTable table;
  EXPECT_EQ(table.FindElfSymbol(""), std::nullopt);
  table.Add(std::string(300, 'n'), 1);
  EXPECT_EQ(table.name(0), std::string(256, 'n'));
  EXPECT_EQ(table.FindElfSymbol(std::string(256, 'n')), 1u);
  EXPECT_EQ(table.FindElfSymbol(""), 1u);  // the first entry, whatever its name
  // Firmware has more than 10,000 symbols; a late one is found too.
  while (table.size() < 20000) table.Add("s", 2);
  table.Add("last", 3);
  EXPECT_EQ(table.FindElfSymbol("last"), 3u);
}

// Damaged copies of the little-endian x86 file.
struct Damaged {
  std::vector<std::uint8_t> b;
  std::map<std::string, std::uint32_t> header_at;  // section name -> header position

  std::uint32_t Get(std::size_t pos) const {
    return b.at(pos) | b.at(pos + 1) << 8 | b.at(pos + 2) << 16 | b.at(pos + 3) << 24;
  }
  void Put(std::size_t pos, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) b.at(pos + i) = static_cast<std::uint8_t>(value >> 8 * i);
  }
  std::size_t Symbol(std::size_t i) const { return Get(header_at.at(".symtab") + 16) + 16 * i; }
};

TEST(ElfSymbolTable, DamagedTables) {
  const std::string path = testing::TestDataPath("i386_le_dw4_o0.elf");
  const std::vector<Symbol> symbols = ReadelfSymbols(path);
  Damaged intact{testing::ReadFileBytes(path), {}};
  std::istringstream out(testing::RunCommand("LC_ALL=C readelf -SW '" + path + "'"));
  for (std::string line; std::getline(out, line);) {
    unsigned i = 0;
    char name[64];
    if (std::sscanf(line.c_str(), " [%u] %63s", &i, name) == 2) {
      intact.header_at[name] = intact.Get(32) + 40 * i;  // e_shoff, 40-byte headers
    }
  }
  std::map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < symbols.size(); ++i) index.emplace(symbols[i].name, i);
  const std::uint32_t strtab_size = intact.Get(intact.header_at.at(".strtab") + 20);
  const std::size_t cut_at = index.at("g_history");
  const std::uint32_t cut_size = intact.Get(intact.Symbol(cut_at)) + 3;

  const std::size_t target = index.at("g_ticks");
  const std::uint32_t strtab_at = intact.Get(intact.header_at.at(".strtab") + 16);
  // Whether the name of symbol i ends inside the first `size` bytes of .strtab.
  auto ends_before = [&](std::size_t i, std::uint32_t size) {
    const std::uint32_t at = intact.Get(intact.Symbol(i));
    return at + std::string(reinterpret_cast<const char*>(&intact.b.at(strtab_at + at))).size() <
           size;
  };
  const struct {
    const char* what;
    std::function<void(Damaged&)> damage;
    std::function<bool(std::size_t)> keeps;  // whether symbol i keeps its name
  } cases[] = {
      {"a name offset outside .strtab and the file",
       [&](Damaged& d) { d.Put(d.Symbol(target), 0xFFFFFF00); },
       [&](std::size_t i) { return i != target; }},
      {".strtab cut inside a name",
       [&](Damaged& d) { d.Put(d.header_at.at(".strtab") + 20, cut_size); },
       [&](std::size_t i) { return ends_before(i, cut_size); }},
      {".strtab outside the file",
       [](Damaged& d) {
         d.Put(d.header_at.at(".strtab") + 16, static_cast<std::uint32_t>(d.b.size()));
       },
       [](std::size_t) { return false; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Damaged d = intact;
    c.damage(d);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < symbols.size(); ++i) {
      names.push_back(c.keeps(i) ? StoredName(symbols[i]) : "");
    }
    ExpectTableAndTrace(RunPhase(d.b), symbols, names);
  }
  // The cut leaves some names whole and cuts g_history's.
  EXPECT_TRUE(ends_before(index.at("g_ticks"), strtab_size));
  EXPECT_FALSE(ends_before(cut_at, cut_size));
  EXPECT_LT(cut_size, strtab_size);

  // A size given to "__bss_start" makes it stored with one underscore less.
  Damaged sized = intact;
  sized.Put(sized.Symbol(index.at("__bss_start")) + 8, 4);
  const Phase with_size = RunPhase(sized.b, false);
  EXPECT_EQ(with_size.table.name(index.at("__bss_start")), "_bss_start");

  // A trailing piece shorter than an entry is not read; a table at offset 0
  // is absent.
  Damaged short_table = intact;
  short_table.Put(short_table.header_at.at(".symtab") + 20,
                  static_cast<std::uint32_t>(16 * symbols.size() - 8));
  EXPECT_EQ(RunPhase(short_table.b, false).table.size(), symbols.size() - 1);
  Damaged at_zero = intact;
  at_zero.Put(at_zero.header_at.at(".symtab") + 16, 0);
  const Phase absent = RunPhase(at_zero.b);
  EXPECT_EQ(absent.table.size(), 0u);
  EXPECT_EQ(absent.trace, "");
}

}  // namespace
}  // namespace dwarfsift
