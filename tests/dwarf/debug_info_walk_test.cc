// Abbreviation tables and attribute decoding together, on the committed real
// ELF files: every unit's entries (children and null entries as one flat
// sequence) are decoded attribute by attribute, and the walk must land
// exactly on each unit's end and on the entry offsets an independent DWARF
// dumper lists.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "base/message_channel.h"
#include "base/run_options.h"
#include "base/run_state.h"
#include "dwarf/abbrev_table.h"
#include "dwarf/attribute_value.h"
#include "dwarf/readers.h"
#include "elf/elf_image.h"
#include "test_support.h"

namespace dwarfsift {
namespace {

struct WalkedEntry {
  std::uint32_t offset;  // in .debug_info
  std::string name;      // the DW_AT_name text, if any
  bool operator==(const WalkedEntry&) const = default;
};

struct Walk {
  std::vector<WalkedEntry> entries;
  int units = 0;
};

const char* const kFiles[] = {
    "arm_le_dw3_o0.elf",  "arm_le_dw4_o2.elf",  "ppc_be_dw2_o0.elf",
    "ppc_be_dw4_o2.elf",  "mips_be_dw3_o1.elf", "sh4_le_dw2_o1.elf",
    "i386_le_dw4_o0.elf", "blinky.elf",
};

std::string PathOf(const std::string& file) {
  return file == "blinky.elf" ? testing::ExamplePath(file)
                              : testing::TestDataPath(file);
}

void WalkDebugInfo(const std::string& file, Walk& walk) {
  const std::vector<std::uint8_t> image = testing::ReadFileBytes(PathOf(file));
  ASSERT_FALSE(image.empty()) << file;
  RunOptions options;
  RunState state(options);
  MessageChannel channel(options, state);
  ElfImage elf;
  DwarfParameters dwarf;
  ASSERT_TRUE(GetSection(image, elf, dwarf, channel, nullptr));
  ASSERT_TRUE(elf.debug_info.found() && elf.debug_abbrev.found());

  const FormContext context = MakeFormContext(elf.Cursor(elf.debug_str), dwarf);
  AbbrevTable table;
  AttributeValue value;  // one value object for the whole walk
  const ByteCursor info = elf.Cursor(elf.debug_info);
  std::uint32_t unit_start = info.begin();
  while (unit_start < info.end()) {
    ByteCursor header = info.At(unit_start);
    const std::uint32_t length = ReadFixed32(header);
    const std::uint16_t version = ReadFixed16(header);
    const std::uint32_t abbrev_offset = ReadFixed32(header);
    header.ReadByte();  // address size
    const std::uint32_t unit_end = unit_start + 4 + length;
    ASSERT_TRUE(header.ok());
    ASSERT_LE(unit_end, info.end());
    ASSERT_TRUE(version >= 2 && version <= 4) << version;
    ASSERT_TRUE(
        LoadAbbrevTable(table, elf.Cursor(elf.debug_abbrev), abbrev_offset, channel, nullptr));

    ByteCursor unit = info.View(header.position(), unit_end);
    while (!unit.AtEnd()) {
      WalkedEntry entry{unit.position() - info.begin(), ""};
      const std::uint32_t code = ReadUleb128(unit);
      if (code != 0) {
        AbbrevDecl decl = FindAbbrev(table, code);
        ASSERT_TRUE(decl.found()) << "code " << code << " at " << entry.offset;
        AttributeSpec spec;
        while (decl.NextSpec(spec)) {
          std::uint32_t form = spec.form;
          ReadAttributeValue(form, unit, context, value);
          if (spec.attribute == 0x03) entry.name = value.text();  // DW_AT_name
        }
      }
      walk.entries.push_back(entry);
    }
    EXPECT_TRUE(unit.ok()) << file << " unit at " << unit_start;
    EXPECT_EQ(unit.position(), unit_end) << file;
    ++walk.units;
    unit_start = unit_end;
  }
}

TEST(DebugInfoWalk, EveryUnitEndsExactlyAtItsEnd) {
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    Walk walk;
    WalkDebugInfo(file, walk);
    EXPECT_EQ(walk.units, 2);
    EXPECT_GT(walk.entries.size(), 100u);
  }
}

// Offsets kept beside this test, listed once by llvm-dwarfdump, so the check
// runs where that tool is not installed.
TEST(DebugInfoWalk, EntryOffsetsMatchTheCommittedListing) {
  for (const char* name : {"ppc_be_dw2_o0", "arm_le_dw4_o2"}) {
    SCOPED_TRACE(name);
    std::istringstream listing(
        testing::ReadFileText(testing::TestDataPath(
            std::string("../dwarf/data/") + name + ".entry_offsets")));
    std::vector<std::uint32_t> expected;
    for (std::string line; std::getline(listing, line);) {
      if (!line.empty() && line[0] != '#') {
        expected.push_back(static_cast<std::uint32_t>(std::stoul(line, nullptr, 16)));
      }
    }
    ASSERT_GT(expected.size(), 200u);
    Walk walk;
    WalkDebugInfo(std::string(name) + ".elf", walk);
    std::vector<std::uint32_t> offsets;
    for (const WalkedEntry& e : walk.entries) offsets.push_back(e.offset);
    EXPECT_EQ(offsets, expected);
  }
}

// Every file, against the dumper's live output: entry offsets and the names
// decoded from DW_FORM_string and DW_FORM_strp.
TEST(DebugInfoWalk, EntriesAndNamesMatchLlvmDwarfdump) {
  int status = -1;
  testing::RunCommand("llvm-dwarfdump --version >/dev/null 2>&1", &status);
  if (status != 0) GTEST_SKIP() << "llvm-dwarfdump is not installed";
  static const std::regex kEntry("^0x([0-9a-f]{8}): +(DW_TAG_|NULL).*");
  static const std::regex kName("^ +DW_AT_name\t\\(\"(.*)\"\\)$");
  for (const char* file : kFiles) {
    SCOPED_TRACE(file);
    std::istringstream dump(testing::RunCommand(
        "llvm-dwarfdump --debug-info '" + PathOf(file) + "' 2>/dev/null"));
    std::vector<WalkedEntry> expected;
    std::smatch m;
    for (std::string line; std::getline(dump, line);) {
      if (std::regex_match(line, m, kEntry)) {
        expected.push_back(
            {static_cast<std::uint32_t>(std::stoul(m[1], nullptr, 16)), ""});
      } else if (!expected.empty() && std::regex_match(line, m, kName)) {
        expected.back().name = m[1];
      }
    }
    ASSERT_GT(expected.size(), 100u);
    Walk walk;
    WalkDebugInfo(file, walk);
    EXPECT_EQ(walk.entries, expected);
  }
}

}  // namespace
}  // namespace dwarfsift
