// The S-record file: every record is checked for its count, checksum, digits
// and line end; on the committed real ELF files the memory image read back
// from it must equal what objcopy makes of the same sections.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/input_files.h"
#include "base/output_file.h"
#include "elf/elf_image.h"
#include "elf/srecord_writer.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

struct Record {
  int type;
  std::uint32_t address;
  std::vector<std::uint8_t> data;
};

// Checks one record line's digits, count and checksum, and appends it.
void ParseRecord(const std::string& line, std::vector<Record>& records) {
  SCOPED_TRACE(line);
  ASSERT_TRUE(line.size() >= 4 && line[0] == 'S' && line[1] >= '0' && line[1] <= '9')
      << "not a record";
  ASSERT_EQ(line.size() % 2, 0u);
  EXPECT_EQ(line.find_first_not_of("0123456789ABCDEF", 2), std::string::npos);
  std::vector<std::uint8_t> bytes;  // count, address, data, checksum
  for (std::size_t i = 2; i < line.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
  }
  ASSERT_EQ(bytes[0] + 1u, bytes.size()) << "count";
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
  EXPECT_EQ(bytes.back(), static_cast<std::uint8_t>(~sum)) << "checksum";
  Record r{line[1] - '0', 0, {}};
  const std::size_t address_bytes = r.type == 2 || r.type == 8 ? 3
                                    : r.type == 3 || r.type == 7 ? 4 : 2;
  ASSERT_GE(bytes.size(), address_bytes + 2);
  for (std::size_t i = 1; i <= address_bytes; ++i) r.address = r.address << 8 | bytes[i];
  r.data.assign(bytes.begin() + 1 + address_bytes, bytes.end() - 1);
  records.push_back(r);
}

// Parses S-record text whose lines end in `eol`.
std::vector<Record> ParseSrecords(const std::string& text, const std::string& eol) {
  std::vector<Record> records;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find(eol, at);
    EXPECT_NE(end, std::string::npos) << "line without its end at " << at;
    if (end == std::string::npos) break;
    ParseRecord(text.substr(at, end - at), records);
    at = end + eol.size();
  }
  return records;
}

std::map<std::uint32_t, std::uint8_t> MemoryImage(const std::vector<Record>& records) {
  std::map<std::uint32_t, std::uint8_t> memory;
  for (const Record& r : records) {
    if (r.type < 1 || r.type > 3) continue;
    for (std::size_t i = 0; i < r.data.size(); ++i) {
      EXPECT_TRUE(memory.emplace(r.address + i, r.data[i]).second) << "overlap at " << r.address;
    }
  }
  return memory;
}

int DataType(std::uint32_t address) { return address < 0x10000 ? 1 : address < 0x1000000 ? 2 : 3; }

// The allocated program sections of a file that are neither read-only data
// with execute nor writable code, as readelf lists them: "-j name" each.
std::string LoadedSectionOptions(const std::string& path) {
  std::istringstream out(testing::RunCommand("LC_ALL=C readelf -SW '" + path + "'"));
  std::string options;
  for (std::string line; std::getline(out, line);) {
    const auto close = line.find(']');
    if (!line.starts_with("  [") || close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 1));
    std::string name, type, addr, off, size, es, flags;
    fields >> name >> type >> addr >> off >> size >> es >> flags;
    std::string access;
    for (char c : std::string("WAX")) {
      if (flags.find(c) != std::string::npos) access += c;
    }
    if (type == "PROGBITS" && (access == "A" || access == "WA" || access == "AX")) {
      options += " -j " + name;
    }
  }
  return options;
}

class SrecordOfRealFile : public ::testing::TestWithParam<std::string> {};

TEST_P(SrecordOfRealFile, ReadsBackAsObjcopyImage) {
  if (testing::RunCommand("command -v objcopy").empty()) GTEST_SKIP() << "objcopy not installed";
  const std::string path = GetParam();
  testing::ScratchDir dir;
  RunOptions options;
  options.write_srecords = true;
  options.input_name = path;
  options.output_name = dir.File("out");
  const OutputFileSet names = DeriveOutputFileSet(options);
  RunContext run(options);
  std::string console;
  run.channel.CaptureConsole(&console);
  SymbolMemberArea absent;
  ConversionState state;
  RunConversion(names, testing::ReadFileBytes(path), run, absent, state);

  const std::vector<Record> ours = ParseSrecords(testing::ReadFileText(names.mot), "\r\n");
  ASSERT_GE(ours.size(), 3u);
  EXPECT_EQ(ours.front().type, 0);
  EXPECT_EQ(std::string(ours.front().data.begin(), ours.front().data.end()),
            names.mot.substr(0, 40));
  for (std::size_t i = 1; i + 1 < ours.size(); ++i) {
    EXPECT_EQ(ours[i].type, DataType(ours[i].address)) << "record " << i;
    EXPECT_LE(ours[i].data.size(), 16u);
    EXPECT_FALSE(ours[i].data.empty());
  }

  const std::string theirs_path = dir.File("objcopy.srec");
  int status = -1;
  testing::RunCommand("objcopy -O srec" + LoadedSectionOptions(path) + " '" + path + "' '" +
                          theirs_path + "'",
                      &status);
  ASSERT_EQ(status, 0);
  const std::vector<Record> theirs = ParseSrecords(testing::ReadFileText(theirs_path), "\r\n");
  ASSERT_FALSE(theirs.empty());
  const std::map<std::uint32_t, std::uint8_t> memory = MemoryImage(ours);
  EXPECT_FALSE(memory.empty());
  EXPECT_EQ(memory, MemoryImage(theirs));
  // Both end with the entry address, each in the record its width needs.
  EXPECT_EQ(ours.back().address, theirs.back().address);
  EXPECT_EQ(ours.back().type, 10 - DataType(ours.back().address));
}

INSTANTIATE_TEST_SUITE_P(
    LittleAndBigEndian, SrecordOfRealFile,
    ::testing::Values(testing::TestDataPath("i386_le_dw4_o0.elf"),
                      testing::TestDataPath("sh4_le_dw2_o1.elf"),
                      testing::TestDataPath("ppc_be_dw2_o0.elf"),
                      testing::TestDataPath("mips_be_dw3_o1.elf"),
                      // .data runs from RAM and is stored after the code in ROM
                      testing::ExamplePath("blinky.elf")));

// A hand-made image: sections over a 64-byte file of bytes 0, 1, 2, ...
struct Section {
  std::uint32_t type, flags, addr, offset, size;
};
struct Case {
  const char* what;
  std::vector<Section> sections;
  std::vector<ProgramHeader> segments;
  std::uint32_t entry;
  std::vector<std::string> lines;  // after the header record
};

std::string WriteImage(const Case& c, std::string_view mot_name = "a.mot",
                       std::vector<std::uint32_t>* left_out = nullptr) {
  static std::vector<std::uint8_t> bytes = [] {
    std::vector<std::uint8_t> b(64);
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i);
    return b;
  }();
  ElfImage elf;
  elf.bytes = bytes;
  elf.file_size = static_cast<std::uint32_t>(bytes.size());
  elf.header_read = true;
  elf.header.e_entry = c.entry;
  for (const Section& s : c.sections) {
    elf.section_headers.push_back({0, s.type, s.flags, s.addr, s.offset, s.size, 0, 0, 0, 0});
  }
  elf.program_headers = c.segments;
  OutputFile file;
  file.CreateInMemory();
  const std::vector<std::uint32_t> outside = WriteSrecordImage(file, mot_name, elf);
  if (left_out != nullptr) *left_out = outside;
  return file.memory();
}

constexpr std::uint32_t kProgbits = 1, kNobits = 8;
constexpr const char* kData16 = "000102030405060708090A0B0C0D0E0F";

TEST(Srecord, RecordsOfHandMadeImages) {
  const Case cases[] = {
      {"address type switches per record",
       {{kProgbits, 6, 0xFFF8, 0, 32}}, {}, 0x1000,
       {"S113FFF8" + std::string(kData16) + "7D",
        "S214010008101112131415161718191A1B1C1D1E1F6A", "S9031000EC"}},
      {"a short last record",
       {{kProgbits, 2, 0x100, 8, 20}}, {}, 0x1000,
       {"S1130100" "08090A0B0C0D0E0F1011121314151617" "F3", "S10701101819" "1A1B" "81",
        "S9031000EC"}},
      {"entry above 24 bits ends with S7",
       {{kProgbits, 3, 0x2000000, 0, 1}}, {}, 0x1000000,
       {"S30602000000" "00" "F7", "S70501000000F9"}},
      {"entry of 24 bits ends with S8, S3 data ends with S9 for a small entry",
       {{kProgbits, 3, 0x12345678, 0, 1}}, {}, 0x1000,
       {"S30612345678" "00" "E5", "S9031000EC"}},
      {"bss, debug and writable code give nothing",
       {{kNobits, 3, 0x100, 0, 16}, {kProgbits, 0, 0, 0, 16}, {kProgbits, 7, 0x100, 0, 16},
        {kProgbits, 6, 0x100, 0, 0}},
       {}, 0x123456, {"S8041234565F"}},
      {"data kept in ROM at the segment's physical address",
       {{kProgbits, 3, 0x2000, 4, 1}}, {{1, 4, 0x2000, 0x8000, 1, 1, 6, 4}}, 0,
       {"S104800004" "77", "S9030000FC"}},
      {"segments that do not start the section or share its address are ignored",
       {{kProgbits, 3, 0x2000, 4, 1}},
       {{1, 0, 0x2000, 0x8000, 8, 8, 6, 4}, {1, 4, 0x2000, 0x2000, 1, 1, 6, 4},
        {1, 4, 0x2000, 0, 1, 1, 6, 4}, {1, 4, 0x3000, 0x8000, 1, 1, 6, 4}},
       0, {"S104200004" "D7", "S9030000FC"}},
      {"sections outside the file are skipped",
       {{kProgbits, 6, 0x100, 60, 8}, {kProgbits, 6, 0x100, 0xFFFFFFF0, 0x20},
        {kProgbits, 6, 0x200, 63, 1}},
       {}, 0, {"S10402003F" "BA", "S9030000FC"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string expected = "S0080000612E6D6F7418\r\n";
    for (const std::string& line : c.lines) expected += line + "\r\n";
    std::vector<std::uint32_t> left_out;
    EXPECT_EQ(WriteImage(c, "a.mot", &left_out), expected);
    ParseSrecords(expected, "\r\n");  // the expectations are well-formed records
    // Only the loadable sections outside the file are reported.
    const bool outside = std::string_view(c.what).starts_with("sections outside");
    EXPECT_EQ(left_out, outside ? std::vector<std::uint32_t>({0, 1}) : std::vector<std::uint32_t>());
  }
}

TEST(Srecord, HeaderRecordCarriesFortyBytesOfTheName) {
  const std::string name(45, 'x');
  const Case none{"", {}, {}, 0, {}};
  const std::vector<Record> records = ParseSrecords(WriteImage(none, name), "\r\n");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].type, 0);
  EXPECT_EQ(records[0].address, 0u);
  EXPECT_EQ(std::string(records[0].data.begin(), records[0].data.end()), name.substr(0, 40));
}

TEST(Srecord, RejectedHeaderGivesHeaderAndEndRecordOnly) {
  std::vector<std::uint8_t> image = testing::ReadFileBytes(testing::TestDataPath("i386_le_dw4_o0.elf"));
  ASSERT_GT(image.size(), 52u);
  image[4] = 2;  // a 64-bit class byte
  RunOptions options;
  RunState state(options);
  MessageChannel channel(options, state);
  ElfImage elf;
  DwarfParameters dwarf;
  ASSERT_FALSE(GetSection(image, elf, dwarf, channel, nullptr));
  OutputFile file;
  file.CreateInMemory();
  WriteSrecordImage(file, "a.mot", elf);
  EXPECT_EQ(file.memory(), "S0080000612E6D6F7418\r\nS9030000FC\r\n");
}

}  // namespace
}  // namespace dwarfsift
