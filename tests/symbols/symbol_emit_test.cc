// Whether a finished entry is written, and what EmitCurrentSymbol writes.
#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <utility>

#include "symbols/symbol_test_support.h"

namespace dwarfsift {
namespace {

using testing_support::MakeRecord;
using testing_support::WriterRig;

int CountOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(SymbolIsWanted, Branches) {
  const struct {
    const char* what;
    const char* name;
    const char* typen;
    std::int32_t ident, kind, location;
    bool no_local_structs;
    bool wanted;
    std::int32_t location_after;
  } cases[] = {
      {"has an address", "f", "", 0, 0, 0x400, false, true, 0x400},
      {"no class", "counter", "int", 0, 0, 0, false, false, 0},
      {"unit: no type", "a.c", "", kIdentUnit, 0, 0, false, false, 0},
      {"register local", "r", "int", kIdentLocalRegister, 0, 0, false, true, 0},
      {"frame struct", "s", "", kIdentLocalFrame, kKindStruct, 0, false, true, 0},
      {"frame struct with -x", "s", "", kIdentLocalFrame, kKindStruct, 0, true, false, 0},
      {"external struct with -x", "gs", "", kIdentVariable, kKindStruct, 0, true, true, 0x2000},
      {"declaration found in ELF", "gs", "int", kIdentNon, 0, 0, false, true, 0x2000},
      {"static local found by its suffixed name", "counter", "int", kIdentLocalStatic, 0, 0,
       false, true, 0x3004},
      {"longer identifier is another symbol", "main", "int", kIdentProgram, 0, 0, false, false, 0},
      {"unknown", "nowhere", "int", kIdentVariable, 0, 0, false, false, 0},
  };
  ElfSymbolTable elf;
  elf.Add("mainloop", 0x5000);
  elf.Add("gs", 0x2000);
  elf.Add("counter.1", 0x3004);
  for (const auto& c : cases) {
    RunOptions options;
    options.no_local_structs = c.no_local_structs;
    SymbolRecord r = MakeRecord(c.name, c.typen, c.ident, c.kind);
    r.location = c.location;
    EXPECT_EQ(SymbolIsWanted(r, RunState(options), elf), c.wanted) << c.what;
    EXPECT_EQ(r.location, c.location_after) << c.what;
  }
}

// Gives every stored group the same place and counts the calls.
class FakeMemberStore : public MemberStore {
 public:
  MemberGroupRange StoreMembers(SymbolTable& table) override {
    ++calls;
    members_seen = 0;
    while (table[1 + members_seen].ident == kIdentMember) ++members_seen;
    return {room, 7, 9};
  }
  int calls = 0;
  int members_seen = 0;
  bool room = true;
};

struct Slots {
  std::unique_ptr<SymbolTable> table = std::make_unique<SymbolTable>();
  SymbolTable& operator*() { return *table; }
};

void PutStruct(SymbolTable& t, std::int32_t location, int members) {
  t[0] = MakeRecord("gs", "", kIdentVariable, kKindStruct);
  t[0].location = location;
  t[0].struct_len = 8;
  for (int i = 1; i <= members; ++i) t[i] = MakeRecord("m", "int", kIdentMember, 0);
}

TEST(EmitCurrentSymbol, GlobalStructureIsWrittenOncePerRun) {
  WriterRig rig;
  FakeMemberStore store;
  Slots slots;
  SymbolTable& t = *slots;
  const SymbolWriteContext context = rig.Context(ByteOrder::kLittle, &store);
  PutStruct(t, 0x2000, 2);
  EXPECT_TRUE(EmitCurrentSymbol(context, t, 0));
  // The same structure seen from a later unit, its name in other letters.
  t.ClearAll();
  PutStruct(t, 0x2000, 2);
  std::strcpy(t[0].name, "GS");
  EXPECT_FALSE(EmitCurrentSymbol(context, t, 0));
  // Another address is another variable.
  t.ClearAll();
  PutStruct(t, 0x2100, 2);
  EXPECT_TRUE(EmitCurrentSymbol(context, t, 0));

  const std::string& text = rig.text();
  EXPECT_EQ(CountOf(text, "+ name[gs]"), 2) << text;
  EXPECT_EQ(CountOf(text, "+ name[m]"), 0) << "members never reach the SYM file";
  EXPECT_EQ(CountOf(text, "+ mebtop[7]\r\n+ mebend[9]\r\n"), 2);
  EXPECT_EQ(store.calls, 2);
  EXPECT_EQ(store.members_seen, 2);
  EXPECT_EQ(rig.structs.size(), 2u);
}

TEST(EmitCurrentSymbol, WithoutMemberStoreOrRoomMebRangeStaysZero) {
  for (bool with_store : {false, true}) {
    WriterRig rig;
    FakeMemberStore store;
    store.room = false;
    Slots slots;
    PutStruct(*slots, 0x2000, 1);
    EXPECT_TRUE(EmitCurrentSymbol(rig.Context(ByteOrder::kLittle, with_store ? &store : nullptr),
                                  *slots, 0));
    EXPECT_NE(rig.text().find("+ mebtop[0]\r\n+ mebend[0]\r\n"), std::string::npos);
    EXPECT_EQ(CountOf(rig.text(), "+ name[m]"), 0);
  }
}

TEST(EmitCurrentSymbol, GlobalCopiesPrintTheirOwnIndex) {
  WriterRig rig;
  FakeMemberStore store;
  Slots slots;
  SymbolTable& t = *slots;
  t[0] = MakeRecord("s", "", kIdentLocalStatic, kKindStruct);
  t[0].location = 0x3000;
  t[1] = MakeRecord("m", "int", kIdentMember, 0);
  t[8192] = t[0];
  std::strcpy(t[8192].name, "s@a.c");
  t[8192].ident = kIdentVariable;
  t[8193] = MakeRecord("v@f", "int", kIdentVariable, 0);
  t[8194] = MakeRecord("beyond", "int", kIdentVariable, 0);  // not counted
  EXPECT_TRUE(EmitCurrentSymbol(rig.Context(ByteOrder::kLittle, &store), t, 2));
  const std::string& text = rig.text();
  EXPECT_EQ(CountOf(text, ": index[0]\r\n"), 2) << text;
  EXPECT_EQ(CountOf(text, ": index[1]\r\n"), 1);
  EXPECT_LT(text.find("+ name[s]"), text.find("+ name[s@a.c]"));
  EXPECT_LT(text.find("+ name[s@a.c]"), text.find("+ name[v@f]"));
  EXPECT_EQ(CountOf(text, "+ name[beyond]"), 0);
  EXPECT_EQ(CountOf(text, "+ mebtop[7]"), 2) << "the first copy shares the group";
}

TEST(EmitCurrentSymbol, FullMemberRegionKeepsTheCopyName) {
  WriterRig rig;
  Slots slots;
  SymbolTable& t = *slots;
  PutStruct(t, 0x2000, static_cast<int>(kLastMemberSlot));
  t[8192] = t[0];
  std::strcpy(t[8192].name, "gs@u.c");
  EXPECT_TRUE(EmitCurrentSymbol(rig.Context(), t, 1));
  EXPECT_EQ(CountOf(rig.text(), "+ name[gs@u.c]"), 1);
  EXPECT_EQ(CountOf(rig.text(), "+ name[m]"), 0);
  EXPECT_EQ(t[kLastMemberSlot].name[0], '\0');
}

TEST(EmitCurrentSymbol, UnwantedEntryWritesNothingAndWantedIdentZeroPrintsEmptyClass) {
  WriterRig rig;
  Slots slots;
  SymbolTable& t = *slots;
  t[0] = MakeRecord("gone", "int", kIdentVariable, 0);
  EXPECT_FALSE(EmitCurrentSymbol(rig.Context(), t, 0));
  EXPECT_EQ(rig.text(), "");
  t[0] = MakeRecord("odd", "int", 0, 0);
  t[0].location = 0x10;
  EXPECT_TRUE(EmitCurrentSymbol(rig.Context(), t, 0));
  EXPECT_NE(rig.text().find("+ ident[]\r\n"), std::string::npos) << rig.text();
}

TEST(SymbolTable, ClearAllZeroesEveryWrittenSlot) {
  Slots slots;
  SymbolTable& t = *slots;
  for (std::size_t i : {std::size_t{0}, std::size_t{5}, std::size_t{8191},
                        std::size_t{8192}, std::size_t{16384}}) {
    t[i].location = 1;
    // Member slots take no location rows.
    if (i == 0 || i >= kFirstCopySlot) t[i].floc[47][5] = 2;
  }
  t.ClearAll();
  SymbolRecord zero;
  std::memset(&zero, 0, sizeof zero);
  const std::span<const SymbolRecord> all = std::as_const(t).slots();
  for (std::size_t i = 0; i < all.size(); ++i) {
    ASSERT_EQ(std::memcmp(&all[i], &zero, sizeof zero), 0) << i;
  }
  t[3].ident = 1;
  t.ClearSlot(3);
  EXPECT_EQ(std::as_const(t)[3].ident, 0);
}

}  // namespace
}  // namespace dwarfsift
