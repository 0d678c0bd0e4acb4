// The section phase on the committed real ELF files. Every expected value is
// taken from the system's readelf run on the same file, never from the code
// under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/message_channel.h"
#include "base/output_file.h"
#include "base/run_options.h"
#include "base/run_state.h"
#include "elf/elf_image.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

// The fields of a header struct, in order; of each entry of a table.
template <typename T>
auto Fields(const T& header) {
  return std::bit_cast<std::array<std::uint32_t, sizeof(T) / 4>>(header);
}
template <typename T>
auto Fields(const std::vector<T>& table) {
  std::vector<std::array<std::uint32_t, sizeof(T) / 4>> fields;
  for (const T& entry : table) fields.push_back(Fields(entry));
  return fields;
}

// What readelf says about a file.
struct Readelf {
  std::string magic;  // e_ident, "7f 45 4c 46 ..."
  bool big = false;
  ElfHeader header;  // e_machine as stored
  std::vector<ProgramHeader> segments;
  std::vector<SectionHeader> sections;
  std::vector<std::string> names;
  std::uint32_t version = 0, pointer_size = 0;  // of the first unit
};

// The codes behind the names readelf prints for types and machines.
const std::map<std::string, std::uint32_t> kCodes = {
    {"EXEC", 2}, {"NULL", 0}, {"PROGBITS", 1}, {"SYMTAB", 2}, {"STRTAB", 3}, {"NOBITS", 8},
    {"GNU_ATTRIBUTES", 0x6ffffff5}, {"ARM_ATTRIBUTES", 0x70000003},
    {"MIPS_REGINFO", 0x70000006}, {"MIPS_DWARF", 0x7000001e}, {"MIPS_ABIFLAGS", 0x7000002a},
    {"LOAD", 1}, {"GNU_STACK", 0x6474e551}, {"GNU_RELRO", 0x6474e552},
    {"REGINFO", 0x70000000}, {"ABIFLAGS", 0x70000003},
    {"Intel 80386", 3}, {"MIPS R3000", 8}, {"PowerPC", 20}, {"ARM", 40},
    {"Renesas / SuperH SH", 42}};
constexpr std::string_view kSectionFlags = "WAX?MSILOG";  // bit i is letter i

std::uint32_t Number(const std::string& text, int base = 0) {
  return static_cast<std::uint32_t>(std::stoul(text, nullptr, base));
}

std::vector<std::string> Tokens(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), {}};
}

Readelf ParseReadelf(const std::string& path) {
  static const std::regex kField(" *([^:]*[^ :]) *: *(.*)");  // "  Key:   value"
  int status = -1;
  std::istringstream out(testing::RunCommand(
      "LC_ALL=C readelf -W -h -l -S -p .shstrtab --debug-dump=info '" + path + "'", &status));
  EXPECT_EQ(status, 0) << "readelf on " << path;
  std::map<std::string, std::vector<std::string>> fields;  // "Key: value", every one
  std::map<std::string, std::uint32_t> name_offsets;       // the .shstrtab dump
  Readelf r;
  bool in_segments = false;
  for (std::string line; std::getline(out, line);) {
    std::vector<std::string> t = Tokens(line);
    const auto open = line.find('['), close = line.find(']');
    if (in_segments) {  // Type Offset VirtAddr PhysAddr FileSiz MemSiz Flg Align
      in_segments = !t.empty();
      if (!in_segments || t[0] == "Type") continue;
      ProgramHeader p{kCodes.at(t[0]), Number(t[1]), Number(t[2]), Number(t[3]),
                      Number(t[4]),    Number(t[5]), 0,            Number(t.back())};
      for (std::size_t i = 6; i + 1 < t.size(); ++i) {
        for (char c : t[i]) p.p_flags |= c == 'R' ? 4 : c == 'W' ? 2 : c == 'E' ? 1 : 0;
      }
      r.segments.push_back(p);
    } else if (line.starts_with("Program Headers:")) {
      in_segments = true;
    } else if (line.starts_with("  [") && close != std::string::npos) {
      const std::string number = line.substr(open + 1, close - open - 1);
      t = Tokens(line.substr(close + 1));
      if (t.size() == 1) name_offsets[t[0]] = Number(number, 16);  // "[  1b]  .text"
      if (t.size() < 8 || number == "Nr") continue;
      // [Name] Type Addr Off Size ES [Flg] Lk Inf Al; sh_name is filled in below.
      r.names.push_back(t[0].starts_with(".") ? t[0] : "");
      if (!r.names.back().empty()) t.erase(t.begin());
      std::uint32_t flags = 0;  // an unknown letter sets bit 31, which no file has
      for (char c : t.size() == 9 ? t[5] : "") flags |= 1u << kSectionFlags.find(c) % 32;
      r.sections.push_back({0, kCodes.at(t[0]), flags, Number(t[1], 16), Number(t[2], 16),
                            Number(t[3], 16), Number(t[t.size() - 3], 10),
                            Number(t[t.size() - 2], 10), Number(t.back(), 10), Number(t[4], 16)});
    } else if (std::smatch m; std::regex_match(line, m, kField)) {
      fields[m[1]].push_back(m[2]);
    }
  }

  r.magic = fields["Magic"].at(0);
  r.big = fields["Data"].at(0).find("big endian") != std::string::npos;
  auto number = [&](const char* key) { return Number(fields[key].at(0)); };
  r.header = {kCodes.at(Tokens(fields["Type"].at(0))[0]), kCodes.at(fields["Machine"].at(0)),
              Number(fields["Version"].at(1)),  // the first is the identification byte
              number("Entry point address"), number("Start of program headers"),
              number("Start of section headers"), number("Flags"),
              number("Size of this header"), number("Size of program headers"),
              number("Number of program headers"), number("Size of section headers"),
              number("Number of section headers"), number("Section header string table index")};
  // The third "Version" and the first "Pointer Size" belong to the first unit.
  r.version = Number(fields["Version"].at(2));
  r.pointer_size = number("Pointer Size");
  for (std::size_t i = 1; i < r.names.size(); ++i) {
    r.sections[i].sh_name = name_offsets.at(r.names[i]);
  }
  return r;
}

constexpr std::pair<const char*, SectionView ElfImage::*> kWanted[] = {
    {".debug_info", &ElfImage::debug_info}, {".debug_abbrev", &ElfImage::debug_abbrev},
    {".debug_line", &ElfImage::debug_line}, {".debug_loc", &ElfImage::debug_loc},
    {".debug_str", &ElfImage::debug_str},   {".symtab", &ElfImage::symtab},
    {".strtab", &ElfImage::strtab}};

class RealElfTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string name = GetParam();
    const std::string path =
        name == "blinky.elf" ? testing::ExamplePath(name) : testing::TestDataPath(name);
    image_ = testing::ReadFileBytes(path);
    ASSERT_FALSE(image_.empty()) << path;
    expected_ = ParseReadelf(path);
    sym_.CreateInMemory();
    channel_.CaptureConsole(&console_);
  }
  void Run() { ASSERT_TRUE(GetSection(image_, elf_, dwarf_, channel_, &sym_)); }

  std::vector<std::uint8_t> image_;
  Readelf expected_;
  RunOptions options_;
  RunState state_;
  MessageChannel channel_{options_, state_};
  OutputFile sym_;
  std::string console_;
  ElfImage elf_;
  DwarfParameters dwarf_;
};

// Without the trace: the tables, the located sections, the DWARF parameters
// and the version line.
TEST_P(RealElfTest, MatchesReadelf) {
  Run();
  EXPECT_TRUE(elf_.header_read);
  const ByteOrder order = expected_.big ? ByteOrder::kBig : ByteOrder::kLittle;
  EXPECT_EQ(elf_.byte_order, order);
  EXPECT_EQ(dwarf_.byte_order, order);
  // None of these files is RX, and none carries flags of the H8 or ARM rows
  // (the ARM files say 0x05000200), so every one is classified as SH.
  ElfHeader header = expected_.header;
  header.e_machine = kMachineSh;
  EXPECT_EQ(Fields(elf_.header), Fields(header));
  EXPECT_EQ(Fields(elf_.program_headers), Fields(expected_.segments));
  EXPECT_EQ(Fields(elf_.section_headers), Fields(expected_.sections));
  EXPECT_EQ(std::vector<std::string>(elf_.section_names.begin(), elf_.section_names.end()),
            expected_.names);

  for (const auto& [name, member] : kWanted) {
    SCOPED_TRACE(name);
    const SectionView& view = elf_.*member;
    const auto listed = std::find(expected_.names.begin(), expected_.names.end(), name);
    // Every file has all of them but .debug_loc.
    ASSERT_TRUE(listed != expected_.names.end() || std::string_view(name) == ".debug_loc");
    EXPECT_EQ(view.found(), listed != expected_.names.end());
    if (!view.found()) {
      EXPECT_EQ(elf_.Cursor(view).remaining(), 0u);
      continue;
    }
    const auto index = static_cast<std::uint32_t>(listed - expected_.names.begin());
    const SectionHeader& sh = expected_.sections[index];
    const ByteCursor cursor = elf_.Cursor(view);
    EXPECT_TRUE(view.present());
    EXPECT_EQ((std::array{view.index, view.offset, view.size, view.start, view.end,
                          cursor.begin(), cursor.end(), cursor.position()}),
              (std::array{index, sh.sh_offset, sh.sh_size, sh.sh_offset,
                          sh.sh_offset + sh.sh_size, sh.sh_offset, sh.sh_offset + sh.sh_size,
                          sh.sh_offset}));
    EXPECT_EQ(cursor.byte_order(), elf_.byte_order);
  }
  EXPECT_EQ(dwarf_.version, expected_.version);
  EXPECT_EQ(dwarf_.address_size, expected_.pointer_size);
  // Without the trace the SYM file holds the version line alone.
  EXPECT_EQ(sym_.memory(), "/Dwarf-Version[" + std::to_string(expected_.version) + "]\r\n");
  EXPECT_EQ(console_, "");  // nothing to report for a sound file
}

// The trace: each field as "label", blanks to column 20, then the value.
std::string TraceFields(const std::string& labels, const std::uint32_t* values,
                        std::uint32_t narrow = 0) {  // bit i: field i has 4 digits
  std::istringstream in(labels);
  std::string out;
  int i = 0;
  for (std::string label; in >> label; ++i) {
    label.resize(20, ' ');
    char value[16];
    std::snprintf(value, sizeof value, "0x%0*X \n", narrow >> i & 1 ? 4 : 8, values[i]);
    out += label + value;
  }
  return out;
}

std::string ExpectedTrace(const Readelf& r) {
  std::string out = "/<<<<<<<<<< ELF Header >>>>>>>>>>\n/e_ident";
  out.resize(out.size() + 12, ' ');
  char text[64];
  for (const std::string& byte : Tokens(r.magic)) {
    std::snprintf(text, sizeof text, "0x%02X ", Number(byte, 16));
    out += text;
  }
  out += "\n" + TraceFields("/e_type /e_machine /e_version /e_entry /e_phoff /e_sh0ff /e_flags "
                            "/e_ehsize /e_phentsize /e_phnum /e_shentsize /e_shnum /e_shstrndx",
                            Fields(r.header).data(), 0x1F83);
  for (std::size_t i = 0; i < r.segments.size(); ++i) {
    std::snprintf(text, sizeof text, "/********** Program Header [%3zu] **********\n", i);
    out += text + TraceFields("/p_type /p_offset /p_vaddr /p_paddr /p_filesz /p_memsz "
                               "/p_flags /p_align", Fields(r.segments[i]).data());
  }
  for (std::size_t i = 0; i < r.sections.size(); ++i) {
    std::snprintf(text, sizeof text, "/---------- Section Header [%3zu] ----------\n", i);
    out += text + TraceFields("/sh_name /sh_type /sh_flags /sh_addr /sh_offset /sh_size "
                               "/sh_link /sh_info /sh_addralign /sh_entsize",
                               Fields(r.sections[i]).data());
  }
  for (std::size_t i = 0; i < r.names.size(); ++i) {
    std::snprintf(text, sizeof text, "/Section Name [%3zu]", i);
    out += text + r.names[i] + "\n";
  }
  return out;
}

// The trace goes to the SYM file (CR LF line ends) ahead of the version line,
// and to the console unless "-p".
TEST_P(RealElfTest, TraceIsExact) {
  const std::string trace = ExpectedTrace(expected_);
  std::string crlf = trace + "/Dwarf-Version[" + std::to_string(expected_.version) + "]\n";
  for (auto at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) {
    crlf.insert(at, "\r");
  }
  state_.debug_trace = true;
  Run();
  EXPECT_EQ(sym_.memory(), crlf);
  EXPECT_EQ(console_, trace);  // the version line is no trace text
  options_.echo_trace = false;
  console_.clear();
  OutputFile quiet;
  quiet.CreateInMemory();
  ASSERT_TRUE(GetSection(image_, elf_, dwarf_, channel_, &quiet));
  EXPECT_EQ(quiet.memory(), crlf);
  EXPECT_EQ(console_, "");
}

const char* const kRealFiles[] = {
    "arm_le_dw3_o0.elf", "arm_le_dw4_o2.elf",  "i386_le_dw4_o0.elf",
    "sh4_le_dw2_o1.elf", "mips_be_dw3_o1.elf", "ppc_be_dw2_o0.elf",
    "ppc_be_dw4_o2.elf", "blinky.elf"};
INSTANTIATE_TEST_SUITE_P(Files, RealElfTest, ::testing::ValuesIn(kRealFiles), [](const auto& p) {
  return std::string(p.param).substr(0, std::string(p.param).find('.'));
});

// A first unit of version 5 (linked in from a prebuilt library) holds its
// address size before the abbreviation offset; the byte at offset 10 then
// belongs to that offset and must not become the run's address size.
TEST(FirstUnitHeader, Version5TakesItsOwnAddressSizeByte) {
  for (const char* file : {"arm_le_dw4_o2.elf", "ppc_be_dw4_o2.elf"}) {
    SCOPED_TRACE(file);
    std::vector<std::uint8_t> image = testing::ReadFileBytes(testing::TestDataPath(file));
    RunOptions options;
    RunState state(options);
    MessageChannel channel(options, state);
    ElfImage elf;
    DwarfParameters dwarf;
    ASSERT_TRUE(GetSection(image, elf, dwarf, channel, nullptr));
    ASSERT_EQ(dwarf.version, 4);
    // Rewrite the first unit header in the version 5 layout, with an
    // abbreviation offset whose low byte is not an address size.
    const bool big = image.at(5) == 2;
    std::uint8_t* unit = image.data() + elf.debug_info.offset;
    const std::uint8_t header[8] = {0, 5, 1, 4, 0, 0, 0, 0x30};  // version, type, size, offset
    for (int i = 0; i < 8; ++i) unit[4 + i] = header[i];
    if (!big) {
      std::swap(unit[4], unit[5]);
      std::reverse(unit + 8, unit + 12);
    }
    OutputFile sym;
    sym.CreateInMemory();
    elf = ElfImage();
    dwarf = DwarfParameters();
    ASSERT_TRUE(GetSection(image, elf, dwarf, channel, &sym));
    EXPECT_EQ(dwarf.version, 5);
    EXPECT_EQ(dwarf.address_size, 4);
    EXPECT_EQ(sym.memory(), "/Dwarf-Version[5]\r\n");
  }
}

// RX keeps its code; every other machine goes by the flags alone. The same
// classification reaches the header of a real file whose fields are patched.
TEST(NormaliseMachine, RxKeepsItsCodeOthersGoByFlags) {
  const std::uint32_t cases[][3] = {  // machine, flags, normalised
      {173, 0x00000000, 173}, {173, 0x00820000, 173}, {173, 0x05000402, 173},
      {46, 0x00800000, 46},   {46, 0x00810000, 47},   {46, 0x00820000, 48},
      {46, 0x00830000, 47},   {46, 0x00840000, 48},   {46, 0x00850000, 48},
      {46, 0x00860000, 48},   {40, 0x05000402, 80},   {40, 0x05000002, 80},
      {40, 0x05000200, 42},   {46, 0x00870000, 42},   {42, 0x00000002, 42},
      {3, 0x00000000, 42},    {40, 0x00820000, 48},   {0, 0x05000402, 80}};
  for (const auto& [machine, flags, expected] : cases) {
    SCOPED_TRACE(::testing::Message() << machine << " flags 0x" << std::hex << flags);
    EXPECT_EQ(NormaliseMachine(machine, flags), expected);
    for (const char* file : {"arm_le_dw3_o0.elf", "ppc_be_dw2_o0.elf"}) {
      std::vector<std::uint8_t> image = testing::ReadFileBytes(testing::TestDataPath(file));
      const bool big = image.at(5) == 2;
      for (int i = 0; i < 2; ++i) image.at(18 + i) = machine >> 8 * (big ? 1 - i : i);
      for (int i = 0; i < 4; ++i) image.at(36 + i) = flags >> 8 * (big ? 3 - i : i);
      RunOptions options;
      RunState state(options);
      MessageChannel channel(options, state);
      ElfImage elf;
      DwarfParameters dwarf;
      ASSERT_TRUE(GetSection(image, elf, dwarf, channel, nullptr));
      EXPECT_EQ(elf.header.e_machine, expected) << file;
      EXPECT_EQ(elf.header.e_flags, flags) << file;
    }
  }
}

}  // namespace
}  // namespace dwarfsift
