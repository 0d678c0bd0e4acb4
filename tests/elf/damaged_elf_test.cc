// Damaged ELF inputs: each case patches an intact file from tests/data, whose
// facts come from its header fields and the section indices readelf lists, and
// runs the section phase once with the trace on. The whole tool runs only where
// its exit status and the clean-up of the SYM file are the point.
#include <gtest/gtest.h>

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "base/message_channel.h"
#include "base/messages.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "base/run_state.h"
#include "elf/elf_image.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;
using testing::Count;
constexpr auto npos = std::string::npos;

constexpr const char* kLe = "i386_le_dw4_o0.elf";  // DWARF 4, no .debug_loc
constexpr const char* kBe = "ppc_be_dw2_o0.elf";   // DWARF 2

// Header fields and section header fields the cases patch.
constexpr std::size_t kPhoff = 28, kShoff = 32, kPhentsize = 42, kPhnum = 44,
                      kShentsize = 46, kShnum = 48, kShstrndx = 50;
constexpr std::size_t kName = 0, kOffset = 16, kSize = 20;

// The wanted sections; bit i of a mask stands for kWanted[i].
struct Wanted {
  const char* name;
  SectionView ElfImage::*view;
};
constexpr Wanted kWanted[] = {
    {".debug_info", &ElfImage::debug_info}, {".debug_abbrev", &ElfImage::debug_abbrev},
    {".debug_line", &ElfImage::debug_line}, {".debug_loc", &ElfImage::debug_loc},
    {".debug_str", &ElfImage::debug_str},   {".symtab", &ElfImage::symtab},
    {".strtab", &ElfImage::strtab}};
constexpr unsigned kInfo = 1, kLine = 4, kLoc = 8, kStr = 16, kSym = 32;
constexpr unsigned kLeAll = 0x7F & ~kLoc, kBeAll = 0x7F;

// An image being damaged, with the section indices of the intact file.
struct Image {
  Bytes b;
  bool big = false;
  std::map<std::string, std::uint32_t> index;

  std::uint32_t Get(std::size_t pos, int width = 4) const {
    std::uint32_t value = 0;
    for (int i = 0; i < width; ++i) value = value << 8 | b.at(pos + (big ? i : width - 1 - i));
    return value;
  }
  void Put(std::size_t pos, std::uint32_t value, int width = 4) {
    for (int i = 0; i < width; ++i) b.at(pos + i) = value >> 8 * (big ? width - 1 - i : i);
  }
  std::size_t Sh(std::uint32_t i, std::size_t field) const {
    return Get(kShoff) + Get(kShentsize, 2) * i + field;
  }
  std::size_t Sh(const char* name, std::size_t field) const { return Sh(index.at(name), field); }
};

Image Load(const char* file) {
  const std::string path = testing::TestDataPath(file);
  Image f;
  f.b = testing::ReadFileBytes(path);
  f.big = f.b.at(5) == 2;
  std::istringstream out(testing::RunCommand("LC_ALL=C readelf -S -W '" + path + "'"));
  for (std::string line; std::getline(out, line);) {
    unsigned i = 0;
    char name[64];
    if (std::sscanf(line.c_str(), " [%u] %63s", &i, name) == 2) f.index[name] = i;
  }
  return f;
}

// Gives section `i` the name `name`, appended to the file; the section-name
// table grows to reach it.
void Rename(Image& f, std::uint32_t i, const std::string& name) {
  const std::size_t table = f.Sh(f.Get(kShstrndx, 2), 0);
  const std::uint32_t offset = f.Get(table + kOffset);
  f.Put(f.Sh(i, kName), static_cast<std::uint32_t>(f.b.size()) - offset);
  f.b.insert(f.b.end(), name.begin(), name.end());
  f.b.push_back(0);
  f.Put(table + kSize, static_cast<std::uint32_t>(f.b.size()) - offset);
  f.index[name] = i;
}

DWARFSIFT_PRINTF(1, 2) std::string Fmt(const char* format, ...) {
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// Damage of one kind: keep N bytes; store a header field; resize .debug_info.
template <std::size_t N> Texts Cut(Image& f) { f.b.resize(N); return {}; }
template <std::size_t Pos, std::uint32_t Value, int Width = 2>
Texts Set(Image& f) { f.Put(Pos, Value, Width); return {}; }
template <std::uint32_t Size>
Texts InfoSize(Image& f) { f.Put(f.Sh(".debug_info", kSize), Size); return {}; }
// .debug_str, later in the table, becomes a second .debug_info of Size bytes
// whose unit header says version 3 (bytes 4-5) and address size 2 (byte 10).
template <std::uint32_t Size>
Texts SecondInfo(Image& f) {
  const std::uint32_t later = f.index.at(".debug_str"), at = f.Get(f.Sh(later, kOffset));
  f.Put(at + 4, 3, 2);
  f.b.at(at + 10) = 2;
  f.Put(f.Sh(later, kSize), Size);
  Rename(f, later, ".debug_info");
  return {};
}
Texts TableOutside(const Image& f) { return {Fmt(texts::kSectionHeadersOutside, f.Get(kShoff))}; }
Texts InfoOutside(const Image& f) {
  return {Fmt(texts::kSectionOutside, f.index.at(".debug_info"), ".debug_info")};
}
// .debug_info reaches the end of the file, or Past bytes beyond it.
template <std::uint32_t Past>
Texts InfoToEnd(Image& f) {
  const std::uint32_t offset = f.Get(f.Sh(".debug_info", kOffset));
  f.Put(f.Sh(".debug_info", kSize), static_cast<std::uint32_t>(f.b.size()) - offset + Past);
  return Past ? InfoOutside(f) : Texts{};
}

// How far the phase gets: the header read; the section table read (GetSection's result).
enum Reached { kNothing, kHeader, kSections };

struct Case {
  const char* name;
  const char* file;
  Texts (*damage)(Image&);  // returns texts the console must show; "!!" marks a report
  unsigned located = 0;     // mask of kWanted
  std::vector<int> versions = {};  // version lines, in order
  Reached reached = kSections;
  int fields = 14;          // ELF header fields traced
  int address_size = 4;
  std::optional<int> status = std::nullopt;  // of the whole tool, where it is the point
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

const Case kCases[] = {
    {.name = "Empty", .file = kLe, .damage = Cut<0>, .reached = kNothing, .fields = 0,
     .status = kStatusNoInput},
    {.name = "ThreeBytes", .file = kLe, .damage = Cut<3>, .reached = kNothing, .fields = 0,
     .status = kStatusNotElf},
    {.name = "MagicOnly", .file = kLe, .damage = Cut<4>, .reached = kNothing, .fields = 0,
     .status = kStatusNoSymbol},
    {.name = "TwentyBytesBigEndian", .file = kBe,
     .damage = [](Image& f) {
       f.b.resize(20);
       return Texts{"/e_type             0x0002 \n/e_machine          0x0014 \n",
                    Fmt(texts::kElfHeaderIncomplete, 20u)};
     },
     .reached = kNothing, .fields = 3},
    {.name = "HeaderCutAt51Bytes", .file = kLe,
     .damage = [](Image& f) { return Cut<51>(f), Texts{Fmt(texts::kElfHeaderIncomplete, 51u)}; },
     .reached = kNothing, .fields = 13},
    {.name = "Class64", .file = kLe, .damage = Set<4, 2, 1>, .reached = kNothing},
    {.name = "DataByteZeroBigEndian", .file = kBe, .damage = Set<5, 0, 1>, .reached = kNothing},
    {.name = "SectionTableOneBytePastEnd", .file = kLe,
     .damage = [](Image& f) {
       EXPECT_EQ(f.Sh(f.Get(kShnum, 2), 0), f.b.size());  // the table ends the file
       f.b.pop_back();
       return TableOutside(f);
     },
     .reached = kHeader, .status = kStatusNoSymbol},
    {.name = "SectionStride39BigEndian", .file = kBe,
     .damage = [](Image& f) { return Set<kShentsize, 39>(f), TableOutside(f); },
     .reached = kHeader},
    {.name = "SectionStride48BigEndian", .file = kBe,
     .damage = [](Image& f) {
       // The table moves to the end, 8 filler bytes after each entry but the last.
       const auto shoff = static_cast<std::uint32_t>(f.b.size());
       for (std::uint32_t i = 0; i < f.Get(kShnum, 2); ++i) {
         const Bytes entry(f.b.begin() + f.Sh(i, 0), f.b.begin() + f.Sh(i, 40));
         if (i > 0) f.b.insert(f.b.end(), 8, 0xEE);
         f.b.insert(f.b.end(), entry.begin(), entry.end());
       }
       f.Put(kShoff, shoff);
       return Set<kShentsize, 48>(f);
     },
     .located = kBeAll, .versions = {2}},
    {.name = "ShstrndxOutOfRange", .file = kLe,
     .damage = [](Image& f) {
       f.Put(kShstrndx, f.Get(kShnum, 2), 2);
       return Texts{Fmt(texts::kSectionNamesUnusable, f.Get(kShnum, 2))};
     },
     .status = kStatusNoSymbol},
    {.name = "ShnumHuge", .file = kLe, .damage = Set<kShnum, 0xFFFF>, .reached = kHeader},
    {.name = "Shnum1024TablePastEndBigEndian", .file = kBe,
     .damage = [](Image& f) { return Set<kShnum, 1024>(f), TableOutside(f); },
     .reached = kHeader},
    {.name = "Exactly1024SectionsReadWhole", .file = kLe,
     .damage = [](Image& f) { f.b.resize(f.Sh(1024, 0)); return Set<kShnum, 1024>(f); },
     .located = kLeAll, .versions = {4}},
    {.name = "Sections1025LocateNothing", .file = kLe,
     .damage = [](Image& f) { f.b.resize(f.Sh(1025, 0)); return Set<kShnum, 1025>(f); },
     .reached = kHeader},
    {.name = "Phnum1025", .file = kLe, .damage = Set<kPhnum, 1025>, .reached = kHeader},
    {.name = "ProgramHeadersOneBytePastEnd", .file = kLe,
     .damage = [](Image& f) {
       const auto last = f.Get(kPhentsize, 2) * (f.Get(kPhnum, 2) - 1);
       f.Put(kPhoff, static_cast<std::uint32_t>(f.b.size()) + 1 - 32 - last);
       return Texts{Fmt(texts::kProgramHeadersOutside, f.Get(kPhoff))};
     },
     .located = kLeAll, .versions = {4}},
    {.name = "DebugInfoSizeOneBytePastEnd", .file = kLe, .damage = InfoToEnd<1>,
     .located = kLeAll & ~kInfo},
    {.name = "DebugInfoOffsetWrapsBigEndian", .file = kBe,
     .damage = [](Image& f) {
       f.Put(f.Sh(".debug_info", kOffset), 0xFFFFFFF0u);  // + 0x20 wraps to 0x10
       return InfoSize<0x20>(f), InfoOutside(f);
     },
     .located = kBeAll & ~kInfo},
    {.name = "NameOffsetPastTable", .file = kLe,
     .damage = [](Image& f) {
       // The name table now ends where the name of .debug_line (and after it
       // that of .debug_str) begins; the name of .symtab lies far past it.
       const std::uint32_t line = f.index.at(".debug_line"), symtab = f.index.at(".symtab");
       f.Put(f.Sh(f.Get(kShstrndx, 2), kSize), f.Get(f.Sh(line, kName)));
       f.Put(f.Sh(symtab, kName), 0xFFFFFFF0u);
       return Texts{Fmt("/Section Name [%3u]\n", line), Fmt("/Section Name [%3u]\n", symtab)};
     },
     .located = kLeAll & ~kLine & ~kStr & ~kSym, .versions = {4}},
    {.name = "NameTablePastEndBigEndian", .file = kBe,
     .damage = [](Image& f) {
       const std::size_t table = f.Sh(f.Get(kShstrndx, 2), 0);
       f.Put(table + kOffset, static_cast<std::uint32_t>(f.b.size()) - f.Get(table + kSize) + 1);
       return Texts{Fmt(texts::kSectionNamesUnusable, f.Get(kShstrndx, 2))};
     }},
    {.name = "SymtabOneBytePastEnd", .file = kLe,
     .damage = [](Image& f) {
       const std::uint32_t offset = f.Get(f.Sh(".symtab", kOffset));
       f.Put(f.Sh(".symtab", kSize), static_cast<std::uint32_t>(f.b.size()) - offset + 1);
       return Texts{Fmt(texts::kSectionOutside, f.index.at(".symtab"), ".symtab")};
     },
     .located = kLeAll & ~kSym, .versions = {4}, .status = kStatusInputDamaged},
    // The walk passes the first of the two units over (a version no DWARF
    // has, read in the layout of version 5, whose address size is 0 here);
    // the second still gives symbols.
    {.name = "UnitOfNoKnownVersion", .file = kLe,
     .damage = [](Image& f) { f.Put(f.Get(f.Sh(".debug_info", kOffset)) + 4, 9, 2); return Texts{}; },
     .located = kLeAll, .versions = {9}, .address_size = 0, .status = kStatusInputDamaged},
    {.name = "DebugInfoThreeBytes", .file = kLe, .damage = InfoSize<3>, .located = kLeAll},
    {.name = "DebugInfoJustTheUnitHeaderBigEndian", .file = kBe, .damage = InfoSize<11>,
     .located = kBeAll, .versions = {2}},
    {.name = "DebugInfoToEndOfFileBigEndian", .file = kBe, .damage = InfoToEnd<0>,
     .located = kBeAll, .versions = {2}},
    {.name = "NullSectionNamedDebugInfo", .file = kLe,
     .damage = [](Image& f) {
       // Entry 0 takes the name and extent of .debug_info, which loses its name.
       const std::uint32_t info = f.index.at(".debug_info");
       for (auto field : {kName, kOffset, kSize}) f.Put(f.Sh(0u, field), f.Get(f.Sh(info, field)));
       f.Put(f.Sh(info, kName), 0);
       return Texts{"/Section Name [  0].debug_info\n"};
     },
     .located = kLeAll & ~kInfo},
    {.name = "DuplicateDebugInfoTwoVersionLines", .file = kLe, .damage = SecondInfo<11>,
     .located = kLeAll & ~kStr, .versions = {4, 3}, .address_size = 2},
    {.name = "DuplicateDebugInfoLastTooShortBigEndian", .file = kBe, .damage = SecondInfo<3>,
     .located = kBeAll & ~kStr, .versions = {2}},
    {.name = "LookalikesLaterInTheTable", .file = kLe,
     .damage = [](Image& f) {
       Rename(f, f.index.at(".debug_str"), ".debug_line_str");
       Rename(f, f.Get(kShstrndx, 2), ".symtab_shndx");
       EXPECT_GT(f.index.at(".debug_line_str"), f.index.at(".debug_line"));
       EXPECT_GT(f.index.at(".symtab_shndx"), f.index.at(".symtab"));
       return Texts{};
     },
     .located = kLeAll & ~kStr, .versions = {4}},
};

class DamagedElfTest : public ::testing::TestWithParam<Case> {};

TEST_P(DamagedElfTest, SectionPhaseWithTrace) {
  const Case& c = GetParam();
  Image f = Load(c.file);
  const Bytes intact = f.b;
  const Texts texts = c.damage(f);
  const Bytes image = f.b;  // sized exactly, so that the sanitizers see a read past it
  RunOptions options;
  RunState state(options);
  MessageChannel channel(options, state);
  std::string console;
  channel.CaptureConsole(&console);
  // The image object held the intact file before: nothing of it may stay.
  ElfImage elf;
  DwarfParameters dwarf;
  ASSERT_TRUE(GetSection(intact, elf, dwarf, channel, nullptr));
  dwarf = DwarfParameters{};
  state.debug_trace = true;
  OutputFile sym;
  sym.CreateInMemory();
  EXPECT_EQ(GetSection(image, elf, dwarf, channel, &sym), c.reached == kSections);
  EXPECT_EQ(elf.header_read, c.reached >= kHeader);
  const ByteOrder order =
      image.size() > 5 && image[5] == 2 ? ByteOrder::kBig : ByteOrder::kLittle;
  EXPECT_EQ(elf.byte_order, order);
  EXPECT_EQ(dwarf.byte_order, order);

  // The section table is read whole or not at all.
  const std::size_t entries = c.reached == kSections ? f.Get(kShnum, 2) : 0;
  EXPECT_EQ(elf.section_headers.size(), entries);
  EXPECT_EQ(elf.section_names.size(), entries);
  EXPECT_EQ(elf.bytes.data(), image.data());
  EXPECT_EQ(Count(console, "/---------- Section Header ["), entries);
  // So is the program header table; one reported outside the file is not read.
  EXPECT_EQ(Count(console, "/********** Program Header ["), elf.program_headers.size());
  EXPECT_TRUE(elf.program_headers.empty() || console.find("Program header table [") == npos);
  for (std::size_t w = 0; w < std::size(kWanted); ++w) {
    SCOPED_TRACE(kWanted[w].name);
    const SectionView& view = elf.*kWanted[w].view;
    EXPECT_EQ(view.found(), (c.located >> w & 1) != 0);
    if (!view.found()) {
      EXPECT_EQ(view.offset | view.size | view.start | view.end, 0u);  // nothing half-located
      continue;
    }
    const auto listed = f.index.find(kWanted[w].name);
    EXPECT_EQ(view.index, listed == f.index.end() ? 0 : listed->second);
    const std::uint32_t offset = f.Get(f.Sh(view.index, kOffset));
    const std::uint32_t size = f.Get(f.Sh(view.index, kSize));
    EXPECT_EQ((std::array{view.offset, view.start, view.size, view.end,
                          elf.Cursor(view).remaining()}),
              (std::array{offset, offset, size, offset + size, size}));
  }

  // The header dump comes first and stops at the first field not held.
  EXPECT_EQ(console.rfind("/<<<<<<<<<< ELF Header >>>>>>>>>>\n", 0), 0u);
  EXPECT_EQ(Count(console, "\n/e_"), static_cast<std::size_t>(c.fields));
  std::size_t reports = 0;
  for (const std::string& text : texts) {
    EXPECT_NE(console.find(text), std::string::npos) << text;
    reports += Count(text, "!!\n");
  }
  EXPECT_EQ(Count(console, "!!\n"), reports) << console;

  // The SYM file holds the trace without the reports, then the version lines.
  std::string trace, lines;
  std::istringstream in(console);
  for (std::string line; std::getline(in, line);) {
    trace += line.ends_with("!!") ? "" : line + "\r\n";
  }
  for (const int version : c.versions) lines += Fmt("/Dwarf-Version[%d]\r\n", version);
  EXPECT_EQ(sym.memory(), trace + lines);
  EXPECT_EQ(dwarf.version, c.versions.empty() ? 0 : c.versions.back());
  EXPECT_EQ(dwarf.address_size, c.address_size);

  if (!c.status) return;
  testing::ScratchDir dir;
  const std::string input = dir.File("damaged.elf");
  testing::WriteFileBytes(input, std::string(image.begin(), image.end()));
  std::string tool_console;
  const char* argv[] = {"dwarfsift", "-d", input.c_str()};
  EXPECT_EQ(RunEntry(3, argv, &tool_console), *c.status);
  // Only a damaged input that still gave symbols keeps its SYM file.
  EXPECT_EQ(std::filesystem::exists(dir.File("damaged.SYM")), *c.status == kStatusInputDamaged);
  for (const std::string& text : texts) {
    EXPECT_TRUE(!text.ends_with("!!\n") || tool_console.find(text) != npos) << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, DamagedElfTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// A loadable section whose bytes lie past the file is left out of the
// S-records, and the run says which and ends with -6.
TEST(DamagedElf, LoadableSectionOutsideTheFileIsNamed) {
  Image f = Load(kLe);
  const std::uint32_t text = f.index.at(".text");
  f.Put(f.Sh(text, kSize), static_cast<std::uint32_t>(f.b.size()));
  testing::ScratchDir dir;
  const std::string input = dir.File("in.elf");
  testing::WriteFileBytes(input, std::string(f.b.begin(), f.b.end()));
  std::string console;
  const char* argv[] = {"dwarfsift", "-a", input.c_str()};
  EXPECT_EQ(RunEntry(3, argv, &console), kStatusInputDamaged);
  EXPECT_NE(console.find(Fmt(texts::kSectionLeftOutOfMot, text, ".text", dir.File("in.mot").c_str())),
            npos) << console;
  EXPECT_NE(console.find(std::string(texts::kInputDamaged)), npos);
}

// The fuzz seeds that build.sh makes from the compressed twins, each with
// its .debug_line damaged: the section is reported with its reason and left
// out, the rest converts, and the run ends with -6 after saying so.
TEST(DamagedCompression, SectionReportedAndLeftOutTheRestConverted) {
  using ull = unsigned long long;
  const auto plain_size = [](const char* file) {
    const Image f = Load(file);
    return ull{f.Get(f.Sh(".debug_line", kSize))};
  };
  const ull le = plain_size(kLe), be = plain_size("ppc_be_dw4_o2.elf");
  const struct {
    const char* seed;
    std::string reason;  // empty: the section lies outside the file
    ull claimed = 0;     // a size beyond the bound, which the reason gives
  } cases[] = {
      {"zlib_size_not_delivered", Fmt(texts::kInflateShort, le, 0x10000ull)},
      {"zlib_size_exceeded", Fmt(texts::kInflateLong, 0x10ull)},
      {"zlib_size_beyond_bound", "", 0xFFFFFFF0},
      {"zlib_unknown_type", Fmt(texts::kInflateUnknownType, 7u)},
      {"zlib_stream_corrupt", Fmt(texts::kInflateCorrupt, "invalid block type")},
      {"zlib_stream_cut_short", texts::kInflateTruncated},
      {"zlib_header_cut_short", texts::kInflateHeaderIncomplete},
      {"zlib_section_past_the_file", ""},
      {"zlib_big_endian_size_not_delivered", Fmt(texts::kInflateShort, be, 0x10000ull)},
      {"zstd_stream_corrupt", Fmt(texts::kInflateCorrupt, "Unknown frame descriptor")},
      {"zstd_stream_cut_short", texts::kInflateTruncated},
      {"gnu_no_zlib_mark", texts::kInflateNoGnuMagic},
      {"gnu_size_beyond_bound", "", 1ull << 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.seed);
    const std::string seed = std::string("../fuzz/seeds/") + c.seed + ".elf";
    const Image f = Load(seed.c_str());
    const bool gnu = f.index.contains(".zdebug_line");
    const char* name = gnu ? ".zdebug_line" : ".debug_line";
    const std::uint32_t index = f.index.at(name);
    testing::ScratchDir dir;
    const std::string input = dir.File("in.elf");
    testing::WriteFileBytes(input, std::string(f.b.begin(), f.b.end()));
    std::string console;
    const char* argv[] = {"dwarfsift", input.c_str()};
    EXPECT_EQ(RunEntry(2, argv, &console), kStatusInputDamaged);
    const std::string reason =
        c.claimed ? Fmt(texts::kInflateBeyondBound, c.claimed, 64 * f.b.size() + (64ull << 20))
                  : c.reason;
    const std::string report = reason.empty()
                                   ? Fmt(texts::kSectionOutside, index, name)
                                   : Fmt(texts::kSectionNotInflated, index, name, reason.c_str());
    EXPECT_NE(console.find(report), npos) << console;
    EXPECT_NE(console.find(std::string(texts::kInputDamaged)), npos);
    EXPECT_EQ(Count(console, "!!\n"), 2u) << console;
    EXPECT_TRUE(std::filesystem::exists(dir.File("in.SYM")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("in.LIN")));
  }
}

}  // namespace
}  // namespace dwarfsift
