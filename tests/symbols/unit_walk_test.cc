// The walk over units and entries: the progress lines, reference lookup,
// the cycle test, the per-unit limits and the units passed over.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"
#include "walk_harness.h"

namespace dwarfsift {
namespace {

using testing::Count;
using testing::DwarfBuilder;
using testing::WalkHarness;

constexpr std::uint8_t kTagBaseType = 0x24;
constexpr std::uint8_t kTagLexicalBlock = 0x0B;
constexpr std::uint8_t kTagPointerType = 0x0F;
constexpr std::uint8_t kAtByteSize = 0x0B;

enum Code : std::uint8_t {
  kUnit = 1, kBase, kVar, kTypedef, kFiller, kVarSectionRef, kTypedefSectionRef,
  kTypedefRef2, kStruct, kMember, kPointer, kVarRef2,
};

DwarfBuilder WithAbbrevs() {
  DwarfBuilder b;
  b.Abbrev(kUnit, kTagCompileUnit, true, {{kAtName, kFormString}});
  b.Abbrev(kBase, kTagBaseType, false, {{kAtName, kFormString}});
  b.Abbrev(kVar, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtExternal, kFormFlagPresent},
            {kAtLocation, kFormBlock1}});
  b.Abbrev(kTypedef, kTagTypedef, false, {{kAtName, kFormString}, {kAtType, kFormRef4}});
  b.Abbrev(kFiller, kTagLexicalBlock, false, {});
  b.Abbrev(kVarSectionRef, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRefAddr},
            {kAtExternal, kFormFlagPresent}, {kAtLocation, kFormBlock1}});
  b.Abbrev(kTypedefSectionRef, kTagTypedef, false,
           {{kAtName, kFormString}, {kAtType, kFormRefAddr}});
  b.Abbrev(kTypedefRef2, kTagTypedef, false, {{kAtName, kFormString}, {kAtType, kFormRef2}});
  b.Abbrev(kStruct, kTagStructureType, true, {{kAtName, kFormString}, {kAtByteSize, kFormData1}});
  b.Abbrev(kMember, kTagMember, false, {{kAtName, kFormString}, {kAtType, kFormRef4}});
  b.Abbrev(kPointer, kTagPointerType, false, {{kAtType, kFormRef4}});
  b.Abbrev(kVarRef2, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRef2}, {kAtExternal, kFormFlagPresent},
            {kAtLocation, kFormBlock1}});
  b.EndAbbrevs();
  return b;
}

void Var(DwarfBuilder& b, const char* name, std::uint32_t type, std::uint32_t address) {
  b.U8(kVar); b.Str(name); b.U32(type); b.AddrBlock(address);
}

// Upper-case hex, zero-padded to `width` digits.
std::string Hex(std::uint32_t value, int width) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*X", width, value);
  return text;
}

TEST(UnitWalk, ProgressLinePerUnitAndNullEntriesPassedOver) {
  DwarfBuilder b = WithAbbrevs();
  b.BeginUnit();
  b.U8(kUnit); b.Str("/src/a.c");
  b.U8(0); b.U8(0);  // null entries between entries
  const std::uint32_t base = b.UnitOffset();
  b.U8(kBase); b.Str("int");
  Var(b, "x", base, 0x100);
  b.U8(0);
  b.EndUnit();
  const std::uint32_t second = b.SectionOffset();
  b.BeginUnit(3);
  b.U8(kUnit); b.Str("b.c");
  b.U8(0);
  b.EndUnit();

  WalkHarness walk(RunOptions{.debug_trace = true});
  walk.Load(b);
  ASSERT_TRUE(walk.Walk());
  EXPECT_EQ(Count(walk.console, "Tag[/Null entry]"), 4);
  // Both units use one abbreviation table: it is traced once, 12 codes.
  EXPECT_EQ(Count(walk.console, "/----- .debug_addrev Section"), 12);
  EXPECT_EQ(walk.Names(), std::vector<std::string>{"x"});
  EXPECT_EQ(walk.run.counters.symbol_count, 1u);
  // Positions are file offsets: the section lies 16 bytes into the image.
  const std::uint32_t at = walk.elf.debug_info.start;
  EXPECT_NE(walk.console.find("{0x" + Hex(at, 8) +
                              "}.debug_info[   0] time[   0ms] Member[       0] unit[a.c]\n"),
            std::string::npos);
  EXPECT_NE(walk.console.find("{0x" + Hex(at + second, 8) +
                              "}.debug_info[   1] time[   0ms] Member[       0] unit[b.c]\n"),
            std::string::npos);
  ASSERT_EQ(walk.state.units.size(), 2u);
  EXPECT_EQ(walk.state.units.end(0), second - 1);
  EXPECT_EQ(walk.state.units.start(1), second);
}

TEST(UnitWalk, EmptyOrUnloadableSections) {
  {
    WalkHarness walk;
    walk.Load(WithAbbrevs());  // .debug_info of size 0
    walk.Walk();
    EXPECT_EQ(walk.console.find(".debug_info["), std::string::npos);
  }
  {
    DwarfBuilder b = WithAbbrevs();
    b.BeginUnit();
    b.U8(kUnit); b.Str("a.c"); b.U8(0);
    b.EndUnit();
    const std::uint32_t bad = b.SectionOffset();
    b.BeginUnit();
    b.U8(0);
    b.EndUnit();
    b.Patch32(bad + 6, 0x7FFFFFFF);  // abbreviations far outside the file
    WalkHarness walk;
    walk.Load(b);
    EXPECT_FALSE(walk.Walk());
    EXPECT_EQ(Count(walk.console, ".debug_info["), 1);
  }
}

// Units whose header layout is another one are passed over by their length.
TEST(UnitWalk, Dwarf5And64BitUnitsAreSkippedWithTheirMessage) {
  DwarfBuilder b = WithAbbrevs();
  const std::uint32_t v6 = b.SectionOffset();
  b.U32(8); b.U16(6); b.U8(1); b.U8(4); b.U32(0);  // version 6 header, no entries
  const std::uint32_t type_unit = b.SectionOffset();
  b.U32(20); b.U16(5); b.U8(2); b.U8(4); b.U32(0);  // a DWARF 5 type unit
  b.U32(0); b.U32(0); b.U32(0);  // signature, type offset
  b.BeginUnit(2);
  b.U8(kUnit); b.Str("two.c");
  const std::uint32_t base = b.UnitOffset();
  b.U8(kBase); b.Str("int");
  Var(b, "in_two", base, 0x200);
  b.U8(0);
  b.EndUnit();
  const std::uint32_t wide = b.SectionOffset();
  b.U32(0xFFFFFFFF); b.U32(11); b.U32(0); b.U16(4); b.U32(0); b.U32(0); b.U8(4);
  b.BeginUnit(4);
  b.U8(kUnit); b.Str("four.c");
  const std::uint32_t base4 = b.UnitOffset();
  b.U8(kBase); b.Str("int");
  Var(b, "in_four", base4, 0x204);
  b.U8(0);
  b.EndUnit();

  WalkHarness walk;
  walk.Load(b);
  ASSERT_TRUE(walk.Walk());
  EXPECT_EQ(walk.Names(), (std::vector<std::string>{"in_two", "in_four"}));
  const std::uint32_t at = walk.elf.debug_info.start;
  EXPECT_NE(walk.console.find("Unit [0] at [0x" + Hex(at + v6, 8) +
                              "] is DWARF version 6, skipped!!\n"),
            std::string::npos)
      << walk.console;
  EXPECT_NE(walk.console.find("Unit [1] at [0x" + Hex(at + type_unit, 8) +
                              "] is a DWARF 5 type unit (type 0x02), skipped!!\n"),
            std::string::npos)
      << walk.console;
  EXPECT_NE(walk.console.find("Unit [3] at [0x" + Hex(at + wide, 8) +
                              "] is 64-bit DWARF version 4, skipped!!\n"),
            std::string::npos)
      << walk.console;
  // Every unit keeps its progress line; a skipped one names no unit.
  EXPECT_EQ(Count(walk.console, ".debug_info["), 5);
  EXPECT_NE(walk.console.find(".debug_info[   3] time[   0ms] Member[       0] unit[]\n"),
            std::string::npos);
  EXPECT_EQ(walk.dwarf.version, 4);
}

// A DWARF 5 unit whose names are string indexes: the top entry's name
// comes before DW_AT_str_offsets_base, and still resolves through it.
TEST(UnitWalk, Dwarf5IndexedNamesUseTheTopEntrysBaseWhereverItStands) {
  DwarfBuilder b;
  b.Abbrev(1, kTagCompileUnit, true, {{kAtName, kFormStrx1}, {0x72, kFormSecOffset}});
  b.Abbrev(2, kTagBaseType, false, {{kAtName, kFormStrx1}});
  b.Abbrev(3, kTagVariable, false,
           {{kAtName, kFormStrx1}, {kAtType, kFormRef4}, {kAtExternal, kFormFlagPresent},
            {kAtLocation, kFormBlock1}});
  b.EndAbbrevs();
  const std::uint32_t start = b.SectionOffset();
  b.U32(0); b.U16(5); b.U8(1); b.U8(4); b.U32(0);  // compile unit, address size 4
  b.U8(1); b.U8(0); b.U32(8);                      // "unit.c"; its base comes after
  const std::uint32_t base = b.SectionOffset() - start;
  b.U8(2); b.U8(1);                                // "int"
  b.U8(3); b.U8(2); b.U32(base); b.AddrBlock(0x300);  // "counter"
  b.U8(3); b.U8(9); b.U32(base); b.AddrBlock(0x304);  // an index past the table
  b.U8(0);
  b.Patch32(start, b.SectionOffset() - start - 4);

  WalkHarness walk;
  walk.Load(b);
  const std::string strings("unit.c\0int\0counter\0", 19);
  const std::uint8_t offsets[] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE,
                                  0, 0, 0, 0, 7, 0, 0, 0, 11, 0, 0, 0};
  const auto str_at = static_cast<std::uint32_t>(walk.image.size());
  walk.image.insert(walk.image.end(), strings.begin(), strings.end());
  const auto offsets_at = static_cast<std::uint32_t>(walk.image.size());
  walk.image.insert(walk.image.end(), std::begin(offsets), std::end(offsets));
  walk.elf.bytes = walk.image;
  walk.elf.debug_str = {3, str_at, 19, str_at, str_at + 19};
  walk.elf.debug_str_offsets = {4, offsets_at, 20, offsets_at, offsets_at + 20};
  ASSERT_TRUE(walk.Walk());
  EXPECT_EQ(walk.Names(), (std::vector<std::string>{"counter"})) << walk.console;
  ASSERT_NE(walk.Find("counter"), nullptr);
  EXPECT_STREQ(walk.Find("counter")->typen, "int");
  EXPECT_NE(walk.console.find("unit[unit.c]"), std::string::npos) << walk.console;
  EXPECT_EQ(walk.dwarf.version, 5);
}

TEST(UnitWalk, MoreThanAThousandUnits) {
  DwarfBuilder b = WithAbbrevs();
  for (int i = 0; i < 1100; ++i) {
    b.BeginUnit();
    b.U8(kUnit); b.Str("u.c"); b.U8(0);
    b.EndUnit();
  }
  WalkHarness walk;
  walk.Load(b);
  ASSERT_TRUE(walk.Walk());
  EXPECT_EQ(Count(walk.console, ".debug_info["), 1100);
  EXPECT_NE(walk.console.find(".debug_info[1099]"), std::string::npos);
  EXPECT_EQ(walk.state.units.size(), 1100u);
}

// A section-relative reference is a section offset, a unit-relative one a
// unit offset; both find their entry in a later unit. Only a section offset
// reaches into another unit, read with that unit's abbreviations; the cycle
// test stays inside the unit.
TEST(UnitWalk, ReferencesResolveInLaterUnits) {
  DwarfBuilder b = WithAbbrevs();
  b.BeginUnit();
  b.U8(kUnit); b.Str("one.c");
  const std::uint32_t first_unit_base = b.SectionOffset();
  b.U8(kBase); b.Str("int");
  b.U8(0);
  b.EndUnit();
  const std::uint32_t unit2 = b.SectionOffset();
  b.BeginUnit();
  b.U8(kUnit); b.Str("two.c");
  const std::uint32_t base = b.SectionOffset();
  b.U8(kBase); b.Str("int");
  b.U8(kVarSectionRef); b.Str("by_section"); b.U32(base); b.AddrBlock(0x300);
  b.U8(kVar); b.Str("by_unit"); b.U32(base - unit2); b.AddrBlock(0x304);
  b.U8(kVarRef2); b.Str("by_ref2"); b.U16(static_cast<std::uint16_t>(base - unit2)); b.AddrBlock(0x308);
  b.U8(kVarSectionRef); b.Str("elsewhere"); b.U32(first_unit_base); b.AddrBlock(0x30C);
  b.U8(0);
  b.EndUnit();

  WalkHarness walk(RunOptions{.debug_trace = true});
  walk.Load(b);
  ASSERT_TRUE(walk.Walk());
  const std::string found_by_section =
      "/==abs{0x" + Hex(base, 4) + "} entry[0x" + Hex(base, 4) + "] entry check\n";
  const std::string found_by_unit =
      "/==abs{0x" + Hex(base, 4) + "} entry[0x" + Hex(base - unit2, 4) + "] entry check\n";
  // The cycle test looks every type up by section offset (three found, one
  // not); then the walk follows each reference in its own form: by_section
  // and by_ref2 (made a section offset) by section offset, by_unit by unit
  // offset.
  EXPECT_EQ(Count(walk.console, found_by_section), 3 + 2) << walk.console;
  EXPECT_EQ(Count(walk.console, found_by_unit), 1);
  EXPECT_EQ(Count(walk.console,
                  "/__not{0x0000} entry[0x" + Hex(first_unit_base, 4) + "] entry check\n"),
            1);
  const std::string found_elsewhere = "/==abs{0x" + Hex(first_unit_base, 4) + "} entry[0x" +
                                      Hex(first_unit_base, 4) + "] entry check\n";
  EXPECT_EQ(Count(walk.console, found_elsewhere), 1);
  EXPECT_EQ(walk.Names(),
            (std::vector<std::string>{"by_section", "by_unit", "by_ref2", "elsewhere"}));
  for (const char* name : {"by_section", "elsewhere"}) {
    ASSERT_NE(walk.Find(name), nullptr);
    EXPECT_STREQ(walk.Find(name)->typen, "int") << name;
  }
}

// A partial unit's entries are converted where a unit imports them, in
// that unit's scope, and not on their own; references into it from the
// importing unit find its entries.
TEST(UnitWalk, PartialUnitsConvertWhereTheyAreImported) {
  enum : std::uint8_t { kCu = 1, kPartial, kInt, kStatic, kImport, kExtern };
  DwarfBuilder b;
  b.Abbrev(kCu, kTagCompileUnit, true, {{kAtName, kFormString}});
  b.Abbrev(kPartial, 0x3C, true, {{kAtName, kFormString}});
  b.Abbrev(kInt, kTagBaseType, false, {{kAtName, kFormString}, {kAtByteSize, kFormData1}});
  b.Abbrev(kStatic, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtLocation, kFormBlock1}});
  b.Abbrev(kImport, 0x3D, false, {{0x18, kFormRefAddr}});
  b.Abbrev(kExtern, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRefAddr}, {kAtExternal, kFormFlagPresent},
            {kAtLocation, kFormBlock1}});
  b.EndAbbrevs();
  b.BeginUnit(4);
  const std::uint32_t partial = b.SectionOffset();
  b.U8(kPartial); b.Str("shared");
  const std::uint32_t int_type = b.UnitOffset();
  const std::uint32_t int_at = b.SectionOffset();
  b.U8(kInt); b.Str("int"); b.U8(4);
  b.U8(kStatic); b.Str("s_shared"); b.U32(int_type); b.AddrBlock(0x400);
  b.U8(0);
  b.EndUnit();
  for (const char* name : {"a.c", "b.c"}) {
    b.BeginUnit(4);
    b.U8(kCu); b.Str(name);
    b.U8(kImport); b.U32(partial);
    b.U8(kExtern); b.Str(std::string("x_") + name); b.U32(int_at); b.AddrBlock(0x500);
    b.U8(0);
    b.EndUnit();
  }
  WalkHarness walk(RunOptions{.global_statics = true});
  walk.Load(b);
  ASSERT_TRUE(walk.Walk());
  EXPECT_EQ(walk.Names(), (std::vector<std::string>{"s_shared", "s_shared@a.c", "x_a.c", "s_shared",
                                                    "s_shared@b.c", "x_b.c"}));
  ASSERT_NE(walk.Find("x_b.c"), nullptr);
  EXPECT_STREQ(walk.Find("x_b.c")->typen, "int");
}

enum class Chain { kTypedefLoop, kSelfPointingStruct, kRef2Loop, kSectionRefLoopInSecondUnit };

struct CycleCase {
  const char* label;
  Chain chain;
  bool trace;
  bool cyclic;
};

TEST(UnitWalk, CyclicTypeChainsDropTheUnit) {
  const CycleCase cases[] = {
      {"typedefs referring to each other", Chain::kTypedefLoop, false, true},
      {"the same, followed step by step with the trace", Chain::kTypedefLoop, true, true},
      {"structure whose member points to it", Chain::kSelfPointingStruct, false, false},
      {"the same with the trace", Chain::kSelfPointingStruct, true, false},
      {"typedefs referring by 2-byte references", Chain::kRef2Loop, false, true},
      {"section references in the second unit", Chain::kSectionRefLoopInSecondUnit, false, true},
  };
  for (const CycleCase& c : cases) {
    DwarfBuilder b = WithAbbrevs();
    if (c.chain == Chain::kSectionRefLoopInSecondUnit) {
      b.BeginUnit();
      b.U8(kUnit); b.Str("first.c"); b.U8(0);
      b.EndUnit();
    }
    const std::uint32_t unit = b.SectionOffset();
    b.BeginUnit();
    b.U8(kUnit); b.Str("loop.c");
    const std::uint32_t first = b.SectionOffset();
    const std::uint32_t first_index = 1;  // after the unit entry
    switch (c.chain) {
      case Chain::kTypedefLoop:
        b.U8(kTypedef); b.Str("A"); b.U32(first - unit + 7);
        b.U8(kTypedef); b.Str("B"); b.U32(first - unit);
        break;
      case Chain::kRef2Loop:
        b.U8(kTypedefRef2); b.Str("A"); b.U16(static_cast<std::uint16_t>(first - unit + 5));
        b.U8(kTypedefRef2); b.Str("B"); b.U16(static_cast<std::uint16_t>(first - unit));
        break;
      case Chain::kSectionRefLoopInSecondUnit:
        b.U8(kTypedefSectionRef); b.Str("A"); b.U32(first + 7);
        b.U8(kTypedefSectionRef); b.Str("B"); b.U32(first);
        break;
      case Chain::kSelfPointingStruct: {
        // struct S { struct S *next; }
        b.U8(kStruct); b.Str("S"); b.U8(4);
        b.U8(kMember); b.Str("next"); b.U32(first - unit + 4 + 10 + 1);
        b.U8(0);
        b.U8(kPointer); b.U32(first - unit);
        break;
      }
    }
    b.U8(kVar); b.Str("v"); b.U32(first - unit); b.AddrBlock(0x400);
    b.U8(0);
    b.EndUnit();

    WalkHarness walk(RunOptions{.debug_trace = c.trace});
    walk.Load(b);
    ASSERT_TRUE(walk.Walk()) << c.label;
    const std::string message = "/??Error!! self-destruct entry[0x" + Hex(first, 1) +
                                "] index[" + std::to_string(first_index) + "]\n";
    EXPECT_EQ(Count(walk.console, message), c.cyclic ? 1 : 0) << c.label << "\n" << walk.console;
    EXPECT_EQ(walk.Find("v") == nullptr, c.cyclic) << c.label;
    // The unit still ends with its progress line.
    EXPECT_NE(walk.console.find("unit["), std::string::npos) << c.label;
  }
}

// Damaged input: every variable carries its type twice and points at the
// next one, so each chain is short for the cycle test but following every
// reference would double the work at each step.
TEST(UnitWalk, BranchingTypeReferencesEndQuickly) {
  constexpr std::uint8_t kDoubleTyped = 40;
  DwarfBuilder b;
  b.Abbrev(kUnit, kTagCompileUnit, true, {{kAtName, kFormString}});
  b.Abbrev(kDoubleTyped, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtType, kFormRef4},
            {kAtExternal, kFormFlagPresent}, {kAtLocation, kFormBlock1}});
  b.EndAbbrevs();
  b.BeginUnit();
  b.U8(kUnit); b.Str("d.c");
  constexpr int kChain = 40;
  for (int i = 0; i < kChain; ++i) {
    // code, "v" + 2 digits, two references, the address block
    const std::uint32_t next = b.UnitOffset() + 1 + 4 + 4 + 4 + 6;
    const std::uint32_t target = i + 1 < kChain ? next : 0;
    b.U8(kDoubleTyped);
    b.Str("v" + std::to_string(10 + i));
    b.U32(target); b.U32(target); b.AddrBlock(0x700 + 4 * i);
  }
  b.U8(0);
  b.EndUnit();
  // 2^40 paths without a bound; a small budget proves the bound as well as
  // the real one and keeps sanitizer builds quick.
  WalkHarness walk;
  walk.follow_budget = 1u << 12;
  walk.Load(b);
  ASSERT_TRUE(walk.Walk());
  EXPECT_EQ(walk.Names().size(), static_cast<std::size_t>(kChain));
}

TEST(UnitWalk, UnitsOfAnyNumberOfEntriesAreConverted) {
  // Fillers, then the base type and a variable: past 65,535 entries the
  // type is still found by its offset, and no entry limit passes the unit
  // over.
  for (const int fillers : {49997, 70000}) {
    DwarfBuilder b = WithAbbrevs();
    b.BeginUnit();
    b.U8(kUnit); b.Str("big.c");
    for (int i = 0; i < fillers; ++i) b.U8(kFiller);
    const std::uint32_t base = b.UnitOffset();
    b.U8(kBase); b.Str("int");
    Var(b, "v", base, 0x500);
    b.U8(0);
    b.EndUnit();
    WalkHarness walk;
    walk.Load(b);
    ASSERT_TRUE(walk.Walk());
    ASSERT_NE(walk.Find("v"), nullptr) << fillers;
    EXPECT_STREQ(walk.Find("v")->typen, "int") << fillers;
    EXPECT_EQ(walk.console.find("limit over"), std::string::npos) << fillers;
  }
}

TEST(UnitWalk, StructuresThatReachThemselvesThroughUnnamedMembersStaySmall) {
  // Shrunk from a firmware whose .debug_str was damaged so that every
  // member name read empty: v is an S, S points to T, T to U and U back to T,
  // all through unnamed members. The member depth grows only through named
  // members, so T met again looked new; the expansion went on down to the
  // follow limit, and a real unit of such structures took minutes. A bound
  // of 64 nested structures still took over 250 steps here; T met again
  // while it is being expanded now stops it within 40.
  DwarfBuilder b = WithAbbrevs();
  b.BeginUnit();
  b.U8(kUnit); b.Str("loop.c");
  const std::uint32_t s = b.UnitOffset();
  // Each structure: code, name, size (4 bytes), one member (1 + 1 + 4), the
  // null entry, then its pointer type (5 bytes).
  constexpr std::uint32_t kStructBytes = 4 + 6 + 1;
  constexpr std::uint32_t kBlock = kStructBytes + 5;
  const std::uint32_t t = s + kBlock;
  const std::uint32_t u = t + kBlock;
  for (const auto& [self, target] : {std::pair{s, t}, std::pair{t, u}, std::pair{u, t}}) {
    b.U8(kStruct); b.Str("S"); b.U8(4);
    b.U8(kMember); b.Str(""); b.U32(target + kStructBytes);
    b.U8(0);
    b.U8(kPointer); b.U32(self);
  }
  Var(b, "v", s, 0x700);
  b.U8(0);
  b.EndUnit();
  WalkHarness walk;
  walk.work_budget = 40;
  walk.work_per_byte = 0;
  walk.Load(b);
  ASSERT_TRUE(walk.Walk());
  EXPECT_EQ(walk.console.find("time over"), std::string::npos) << walk.console;
  ASSERT_NE(walk.Find("v"), nullptr);
}

TEST(UnitWalk, AFullMemberAreaEndsMembersForTheRunWithItsMessage) {
  // An area without room for one more full group would refuse it without a
  // word: members end instead, said once, in this unit and the next.
  SymbolMemberArea area(kLastMemberSlot + 4);
  ASSERT_TRUE(area.Create());
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(area.Append(MemberRecord{}));
  DwarfBuilder b = WithAbbrevs();
  for (int unit = 0; unit < 2; ++unit) {
    b.BeginUnit();
    b.U8(kUnit); b.Str("u.c");
    const std::uint32_t base = b.UnitOffset();
    b.U8(kBase); b.Str("int");
    const std::uint32_t s = b.UnitOffset();
    b.U8(kStruct); b.Str("S"); b.U8(4); b.U8(kMember); b.Str("x"); b.U32(base); b.U8(0);
    Var(b, "v", s, 0x800);
    b.U8(0);
    b.EndUnit();
  }
  WalkHarness walk;
  walk.members = &area;
  walk.Load(b);
  ASSERT_TRUE(walk.Walk());
  EXPECT_EQ(Count(walk.console, "member area: the later"), 1) << walk.console;
  const std::vector<std::string> names = walk.Names();
  EXPECT_EQ(std::count(names.begin(), names.end(), "v"), 2);
  for (const auto& entry : walk.sink.emitted) EXPECT_TRUE(entry.members.empty());
}

TEST(UnitWalk, ASpentRunBudgetPassesOverTheUnitsLeft) {
  // Each unit takes five steps: a run budget of four is spent by the first.
  DwarfBuilder b = WithAbbrevs();
  for (const char* name : {"a", "b"}) {
    b.BeginUnit();
    b.U8(kUnit); b.Str("u.c");
    const std::uint32_t base = b.UnitOffset();
    b.U8(kBase); b.Str("int"); Var(b, name, base, 0x600); b.U8(0);
    b.EndUnit();
  }
  WalkHarness walk;
  walk.run_work_budget = 4;
  walk.run_work_per_byte = 0;
  walk.Load(b);
  ASSERT_TRUE(walk.Walk());
  EXPECT_EQ(walk.Names(), std::vector<std::string>{"a"});
  EXPECT_EQ(Count(walk.console, "units from .debug_info[1] on are passed over"), 1);
}

struct TimeCase {
  const char* label;
  bool debug_trace;
  bool trace_trigger;
  std::vector<std::string> written;
  std::uint64_t work_per_byte = 0;
  std::uint64_t trace_limit = UINT64_MAX;
  bool trigger_past_unit = false;
};

TEST(UnitWalk, WorkBudgetCutsTheUnitAfterTheCostlyEntry) {
  const TimeCase cases[] = {
      {"limit", false, false, {"a"}},
      {"no limit while tracing", true, false, {"a", "b", "c"}},
      {"a limit again once the trace is cut", true, false, {"a"}, 0, 1},
      // Spent at "b", the walk steps to the trigger at "c" and traces on.
      {"a trace trigger still reached", false, true, {"a", "c"}},
      {"a trace trigger past the unit", false, true, {"a"}, 0, UINT64_MAX, true},
      {"a limit grown by the unit's bytes", false, false, {"a", "b", "c"}, 1},
  };
  for (const TimeCase& c : cases) {
    DwarfBuilder b = WithAbbrevs();
    b.BeginUnit();
    b.U8(kUnit); b.Str("slow.c");
    const std::uint32_t base = b.UnitOffset();
    b.U8(kBase); b.Str("int");
    Var(b, "a", base, 0x600);
    Var(b, "b", base, 0x604);
    // Positions as the walk counts them (see Load).
    const auto c_at = static_cast<std::uint32_t>(16 + b.abbrev().size() + b.SectionOffset());
    Var(b, "c", base, 0x608);
    b.U8(0);
    b.EndUnit();
    const auto past_unit = static_cast<std::uint32_t>(16 + b.abbrev().size() + b.info().size());
    WalkHarness walk(RunOptions{.debug_trace = c.debug_trace,
                                .trace_trigger = c.trace_trigger,
                                .trace_trigger_pos = c.trigger_past_unit ? past_unit : c_at});
    // The unit entry, the base type and "a" with its type reference are four
    // steps of work, "b" takes two more: it passes the budget of five. The
    // clock is no limit, only a report: each reading is 1,500 ms after the
    // last, and the unit starts at the second reading.
    walk.work_budget = 5;
    walk.work_per_byte = c.work_per_byte;
    walk.run.channel.LimitTrace(c.trace_limit);
    std::uint32_t now = 0;
    walk.clock = [&now] {
      const std::uint32_t t = now;
      now += 1500;
      return t;
    };
    walk.Load(b);
    ASSERT_TRUE(walk.Walk());
    EXPECT_EQ(walk.Names(), c.written) << c.label;
    EXPECT_EQ(walk.console.find("unit[slow.c] Struct MemberSize[0] time over[1500msec]!!\n") !=
                  std::string::npos,
              c.written.size() < 3)
        << c.label;
  }
}

}  // namespace
}  // namespace dwarfsift
