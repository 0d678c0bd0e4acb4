// Units whose conversion a replayed type follow or member expansion could
// get wrong: each is converted with the unit's follow cache and with every
// type chain walked, and both must give the same records and members.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "walk_harness.h"

namespace dwarfsift {
namespace {

using testing::DwarfBuilder;
using testing::WalkHarness;

constexpr std::uint8_t kTagBaseType = 0x24;
constexpr std::uint8_t kTagSubrangeType = 0x21;
constexpr std::uint8_t kTagUnspecifiedType = 0x3B;

enum Code : std::uint8_t {
  kUnit = 1, kBase, kVar, kVarTwoTypes, kFunctionTypeFirst, kStruct, kStructNoSize, kMember,
  kPointer, kArray, kSubrange, kTypedef, kUnspecified,
};

DwarfBuilder WithAbbrevs() {
  DwarfBuilder b;
  b.Abbrev(kUnit, kTagCompileUnit, true, {{kAtName, kFormString}});
  b.Abbrev(kBase, kTagBaseType, false, {{kAtName, kFormString}, {kAtByteSize, kFormData1}});
  b.Abbrev(kVar, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtExternal, kFormFlagPresent},
            {kAtLocation, kFormBlock1}});
  // Damaged: two type attributes.
  b.Abbrev(kVarTwoTypes, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtType, kFormRef4},
            {kAtExternal, kFormFlagPresent}, {kAtLocation, kFormBlock1}});
  b.Abbrev(kFunctionTypeFirst, kTagSubprogram, false,
           {{kAtType, kFormRef4}, {kAtName, kFormString}, {kAtExternal, kFormFlagPresent},
            {kAtLowPc, kFormAddr}, {kAtHighPc, kFormAddr}});
  b.Abbrev(kStruct, kTagStructureType, true, {{kAtName, kFormString}, {kAtByteSize, kFormData1}});
  b.Abbrev(kStructNoSize, kTagStructureType, true, {{kAtName, kFormString}});
  b.Abbrev(kMember, kTagMember, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtDataMemberLocation, kFormData1}});
  b.Abbrev(kPointer, kTagPointerType, false, {{kAtType, kFormRef4}});
  b.Abbrev(kArray, kTagArrayType, true, {{kAtType, kFormRef4}});
  b.Abbrev(kSubrange, kTagSubrangeType, false, {{kAtUpperBound, kFormData1}});
  b.Abbrev(kTypedef, kTagTypedef, false, {{kAtName, kFormString}, {kAtType, kFormRef4}});
  b.Abbrev(kUnspecified, kTagUnspecifiedType, false, {{kAtName, kFormString}});
  b.EndAbbrevs();
  return b;
}

std::uint32_t Base(DwarfBuilder& b) {
  const std::uint32_t at = b.UnitOffset();
  b.U8(kBase); b.Str("int"); b.U8(4);
  return at;
}
void Var(DwarfBuilder& b, const char* name, std::uint32_t type, std::uint32_t address) {
  b.U8(kVar); b.Str(name); b.U32(type); b.AddrBlock(address);
}
void Member(DwarfBuilder& b, const char* name, std::uint32_t type, std::uint8_t at) {
  b.U8(kMember); b.Str(name); b.U32(type); b.U8(at);
}
// A structure with one member of each of `types`; returns its offset.
std::uint32_t Struct(DwarfBuilder& b, const char* name, std::vector<std::uint32_t> types,
                     bool sized = true) {
  const std::uint32_t at = b.UnitOffset();
  b.U8(sized ? kStruct : kStructNoSize); b.Str(name);
  if (sized) b.U8(static_cast<std::uint8_t>(4 * types.size()));
  for (std::size_t i = 0; i < types.size(); ++i) {
    Member(b, ("m" + std::to_string(i)).c_str(), types[i], static_cast<std::uint8_t>(4 * i));
  }
  b.U8(0);
  return at;
}

// An unnamed function's type is followed with nothing to write it to; a
// variable of the same type later must not take that empty result.
void FunctionTypeBeforeItsName(DwarfBuilder& b) {
  const std::uint32_t base = Base(b);
  b.U8(kFunctionTypeFirst); b.U32(base); b.Str("f"); b.U32(0x100); b.U32(0x120);
  Var(b, "x", base, 0x600);
}

// A nested structure's array of structures keeps the slot index past the
// element's members only when slot 0 is a structure: its member list taken
// under an unsized structure differs from the same list under a sized one.
void ArrayOfStructuresUnderUnsizedStructure(DwarfBuilder& b) {
  const std::uint32_t base = Base(b);
  const std::uint32_t inner = Struct(b, "Inner", {base});
  const std::uint32_t array = b.UnitOffset();
  b.U8(kArray); b.U32(inner);
  b.U8(kSubrange); b.U8(1);
  b.U8(0);
  const std::uint32_t mid = Struct(b, "Mid", {array, base});
  Var(b, "unsized", Struct(b, "OuterNoSize", {mid}, false), 0x600);
  Var(b, "sized", Struct(b, "Outer", {mid}), 0x610);
}

// A replayed follow leaves its structures on the expansion stack: the
// entry's second type meets one of them again below it and marks it
// instead of expanding it.
void SecondTypeMeetsReplayedStructure(DwarfBuilder& b) {
  const std::uint32_t base = Base(b);
  const std::uint32_t a = Struct(b, "A", {base});
  const std::uint32_t holder = Struct(b, "B", {a});
  Var(b, "first", a, 0x600);
  b.U8(kVarTwoTypes); b.Str("second"); b.U32(a); b.U32(holder); b.AddrBlock(0x604);
}

// With a budget of three follows, "cut" spends one on its first type and
// runs out before reaching int through the typedefs; "whole" gets there.
void FollowCutByTheBudget(DwarfBuilder& b) {
  const std::uint32_t base = Base(b);
  const std::uint32_t inner = b.UnitOffset();
  b.U8(kTypedef); b.Str("T2"); b.U32(base);
  const std::uint32_t outer = b.UnitOffset();
  b.U8(kTypedef); b.Str("T1"); b.U32(inner);
  const std::uint32_t unspecified = b.UnitOffset();
  b.U8(kUnspecified); b.Str("void");
  b.U8(kVarTwoTypes); b.Str("cut"); b.U32(unspecified); b.U32(outer); b.AddrBlock(0x600);
  Var(b, "whole", outer, 0x604);
}

// S's members were recorded where T, met inside S, decided that T's
// pointer to itself is not expanded again. In "wide" the expansion stack
// is full when S comes: T is not recorded there, so the walk expands T
// again at each level, and the recorded result must not stand in for it.
void ExpansionStackFullBeforeANestedStructure(DwarfBuilder& b) {
  const std::uint32_t base = Base(b);
  const std::uint32_t e = Struct(b, "E", {base});
  const std::uint32_t pointer = b.UnitOffset();
  b.U8(kPointer); b.U32(0);
  const std::uint32_t t = Struct(b, "T", {base, pointer});
  b.Patch32(b.SectionOffset() - (b.UnitOffset() - pointer) + 1, t);
  const std::uint32_t s = Struct(b, "S", {t});
  Var(b, "holder", Struct(b, "Holder", {s}), 0x600);
  // "wide" itself and its E members fill the stack; S is the last it takes.
  std::vector<std::uint32_t> members(ExpansionStack::kCapacity - 2, e);
  members.push_back(s);
  Var(b, "wide", Struct(b, "Wide", members), 0x700);
}

struct CacheCase {
  const char* label;
  std::function<void(DwarfBuilder&)> entries;
  std::uint32_t follow_budget = kFollowBudget;
};

// Every record the walk wrote, member slots included, in order.
std::vector<SymbolRecord> Convert(const CacheCase& c, bool follow_cache) {
  DwarfBuilder b = WithAbbrevs();
  b.BeginUnit();
  b.U8(kUnit); b.Str("cache.c");
  c.entries(b);
  b.U8(0);
  b.EndUnit();
  WalkHarness walk(RunOptions{.follow_cache = follow_cache});
  walk.follow_budget = c.follow_budget;
  walk.Load(b);
  EXPECT_TRUE(walk.Walk()) << c.label;
  std::vector<SymbolRecord> records;
  for (const testing::Emitted& e : walk.sink.emitted) {
    records.insert(records.end(), e.records.begin(), e.records.end());
    records.insert(records.end(), e.members.begin(), e.members.end());
  }
  return records;
}

TEST(TypeFollowCache, CachedAndWalkedConversionsWriteTheSameRecords) {
  const CacheCase cases[] = {
      {"function type before its name", FunctionTypeBeforeItsName},
      {"array of structures under an unsized structure", ArrayOfStructuresUnderUnsizedStructure},
      {"second type meets a replayed structure", SecondTypeMeetsReplayedStructure},
      {"follow cut by the budget", FollowCutByTheBudget, 3},
      {"expansion stack full before a nested structure",
       ExpansionStackFullBeforeANestedStructure},
  };
  for (const CacheCase& c : cases) {
    SCOPED_TRACE(c.label);
    const std::vector<SymbolRecord> cached = Convert(c, true);
    const std::vector<SymbolRecord> walked = Convert(c, false);
    ASSERT_FALSE(walked.empty());
    ASSERT_EQ(cached.size(), walked.size());
    for (std::size_t i = 0; i < walked.size(); ++i) {
      EXPECT_EQ(std::memcmp(&cached[i], &walked[i], sizeof(SymbolRecord)), 0)
          << "record " << i << " (" << walked[i].name << ")";
    }
  }
}

}  // namespace
}  // namespace dwarfsift
