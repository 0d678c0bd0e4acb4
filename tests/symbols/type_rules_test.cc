// Type descriptions: the flattened records of real compiler output, the
// recursion test, and the limits of member expansion on hand-made input.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/entry.h"
#include "symbols/type_rules.h"
#include "test_support.h"
#include "walk_harness.h"

namespace dwarfsift {
namespace {

using testing::Count;
using testing::DwarfBuilder;
using Fields = std::map<std::string, std::string>;

// The SYM records of a whole run, by name.
std::map<std::string, Fields> ConvertToSym(const std::string& file,
                                           std::vector<const char*> extra = {}) {
  ::dwarfsift::testing::ScratchDir dir;
  const std::string out = dir.File("out");
  std::vector<const char*> argv{"dwarfsift", file.c_str(), "-o", out.c_str()};
  argv.insert(argv.end(), extra.begin(), extra.end());
  std::string console;
  RunEntry(static_cast<int>(argv.size()), argv.data(), &console);
  std::map<std::string, Fields> records;
  std::istringstream lines(::dwarfsift::testing::ReadFileText(out + ".SYM"));
  std::string line;
  Fields current;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "=") {
      records[current["name"]] = current;
      current.clear();
    } else if (line.starts_with("+ ") && line.back() == ']') {
      const std::size_t open = line.find('[');
      current[line.substr(2, open - 2)] = line.substr(open + 1, line.size() - open - 2);
    }
  }
  return records;
}

TEST(TypeDescriptions, GlobalsOfEachKindOfType) {
  struct Want {
    const char* name;
    const char* typen;
    const char* kind;
    const char* one_byte;
    const char* total_byte;
    const char* extra_field;  // checked when not null
    const char* extra_value;
  };
  // ARM: 4-byte addresses, an 8-byte long double, a packed 2-byte enum.
  const Want arm[] = {
      {"counter", "int", "SIMPLE ", "4", "4", nullptr, nullptr},
      {"buffer", "Uchar", "ARRAY ", "1", "16", "ele", "1 16 0 0 0 0 0"},
      {"short_ptr", "short", "POINTER ", "4", "4", nullptr, nullptr},
      {"names", "char", "ARRAY POINTER ", "4", "16", "ele", "1 4 0 0 0 0 0"},
      {"pack", "void", "STRUCT ", "0", "0", "struct_len", "8"},
      {"pack_ptr", "void", "POINTER STRUCT ", "4", "4", "struct_len", "8"},
      {"colour", "Uint", "SIMPLE ", "2", "2", "struct", "Colour(enum)"},
      {"ratio", "float", "SIMPLE ", "4", "4", nullptr, nullptr},
      {"wide", "double", "SIMPLE ", "8", "8", nullptr, nullptr},
      {"m", "int", "ARRAY ", "4", "60", "ele", "2 3 5 0 0 0 0"},
      {"pair", "void", "STRUCT ", "0", "0", "struct_len", "4"},
  };
  // 32-bit PowerPC: a 16-byte long double.
  const Want ppc[] = {
      {"wide", "Ldouble", "SIMPLE ", "16", "16", nullptr, nullptr},
      {"names", "char", "ARRAY POINTER ", "4", "16", "ele", "1 4 0 0 0 0 0"},
      {"m", "int", "ARRAY ", "4", "60", "ele", "2 3 5 0 0 0 0"},
  };
  // C++: a reference parameter holds an address, so it is a pointer to its
  // type; clang writes `void *` as a pointer entry without attributes.
  const Want cxx[] = {
      {"port", "void", "POINTER STRUCT ", "4", "4", "struct_len", "24"},
      {"__dso_handle", "void", "POINTER ", "4", "4", nullptr, nullptr},
  };
  const struct {
    const char* file;
    std::span<const Want> wants;
  } files[] = {{"arm_le_dw2_types.elf", arm},
               {"ppc_be_dw4_types.elf", ppc},
               {"arm_le_dw4_classes.elf", std::span(cxx).first(1)},
               {"arm_le_dw5_clang_classes.elf", cxx}};
  for (const auto& f : files) {
    const auto records = ConvertToSym(::dwarfsift::testing::TestDataPath(f.file));
    for (const Want& w : f.wants) {
      SCOPED_TRACE(std::string(f.file) + " " + w.name);
      ASSERT_TRUE(records.count(w.name));
      Fields r = records.at(w.name);
      EXPECT_EQ(r["typen"], w.typen);
      EXPECT_EQ(r["kind"], w.kind);
      EXPECT_EQ(r["one_byte"], w.one_byte);
      EXPECT_EQ(r["total_byte"], w.total_byte);
      if (w.extra_field != nullptr) {
        EXPECT_EQ(r[w.extra_field], w.extra_value);
      }
    }
  }
}

TEST(TypeDescriptions, NoMembersOptionKeepsTheStructureFlagOnly) {
  const auto records =
      ConvertToSym(::dwarfsift::testing::TestDataPath("arm_le_dw2_types.elf"), {"-z"});
  ASSERT_TRUE(records.count("pack"));
  Fields pack = records.at("pack");
  EXPECT_EQ(pack["kind"], "STRUCT ");
  EXPECT_EQ(pack["struct_len"], "8");
  // An empty group: the range ends before it starts.
  EXPECT_EQ(std::stoi(pack["mebend"]), std::stoi(pack["mebtop"]) - 1);
}

TEST(ExpansionStack, OnlyAnEarlierShallowerMeetingCounts) {
  ExpansionStack stack;
  stack.Push(0x40, 0);
  stack.Push(0x80, 1);
  const struct {
    std::uint32_t offset;
    int depth;
    bool expanding;
  } cases[] = {{0x40, 0, false}, {0x40, 1, true}, {0x40, 5, true},
               {0x80, 1, false}, {0x80, 2, true}, {0x90, 3, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(StructureIsExpanding(stack, c.offset, c.depth), c.expanding)
        << std::hex << c.offset << " " << c.depth;
  }
  for (std::size_t i = stack.size(); i < ExpansionStack::kCapacity + 5; ++i) stack.Push(0x99, 0);
  EXPECT_EQ(stack.size(), ExpansionStack::kCapacity);
  stack.Clear();
  EXPECT_FALSE(StructureIsExpanding(stack, 0x40, 1));
}

// Sees the slots as the unit walk leaves them for the writer.
class SlotSink : public SymbolSink {
 public:
  bool IsWanted(SymbolRecord& current) override {
    return state != nullptr && SymbolIsWanted(current, *state, elf);
  }
  bool Emit(SymbolTable& table, std::uint32_t) override {
    if (!IsWanted(table[0])) return false;
    const SymbolTable& slots = table;
    names.emplace_back(slots[0].name);
    members = 0;
    for (std::size_t i = kFirstMemberSlot; i <= kLastMemberSlot; ++i) {
      if (slots[i].ident == kIdentMember) ++members;
    }
    const SymbolRecord& copy = slots[kFirstCopySlot];
    copy_slot_clean = copy.name[0] == '\0' && copy.nest == 0 && copy.ident == 0 &&
                      copy.kind == 0 && copy.entry == 0;
    return true;
  }
  const RunState* state = nullptr;
  ElfSymbolTable elf;
  std::vector<std::string> names;
  int members = 0;
  bool copy_slot_clean = false;
};

enum Code : std::uint8_t { kUnit = 1, kBase, kStruct, kMember, kVar, kStaticVar, kPointer, kDeclared };

// Structures nested `levels` deep, each holding `width` members of the next
// (or, with `pointers`, of pointers to the next; the innermost holds ints),
// and a variable of the outermost.
// The declarations of every code above.
void StructureAbbrevs(DwarfBuilder& b) {
  b.Abbrev(kUnit, kTagCompileUnit, true, {{kAtName, kFormString}});
  b.Abbrev(kBase, 0x24, false, {{kAtName, kFormString}, {0x0B, kFormData1}});
  b.Abbrev(kStruct, kTagStructureType, true, {{0x0B, kFormData1}});
  b.Abbrev(kMember, kTagMember, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {0x38, kFormData1}});
  b.Abbrev(kVar, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtExternal, kFormFlagPresent},
            {kAtLocation, kFormBlock1}});
  // The address before the type: the variable is known to be local when
  // its structure type is reached.
  b.Abbrev(kStaticVar, kTagVariable, false,
           {{kAtName, kFormString}, {kAtLocation, kFormBlock1}, {kAtType, kFormRef4}});
  b.Abbrev(kPointer, 0x0F, false, {{0x0B, kFormData1}, {kAtType, kFormRef4}});
  b.Abbrev(kDeclared, kTagStructureType, false,
           {{kAtName, kFormString}, {kAtDeclaration, kFormFlag}});
  b.EndAbbrevs();
}

DwarfBuilder NestedStructures(int levels, int width, bool external = true,
                              bool pointers = false) {
  DwarfBuilder b;
  StructureAbbrevs(b);
  b.BeginUnit();
  b.U8(kUnit);
  b.Str("nest.c");
  std::uint32_t type = b.UnitOffset();
  b.U8(kBase);
  b.Str("int");
  b.U8(4);
  for (int level = 0; level < levels; ++level) {
    std::uint32_t inner = type;
    if (pointers && level > 0) {
      inner = b.UnitOffset();
      b.U8(kPointer);
      b.U8(4);
      b.U32(type);
    }
    type = b.UnitOffset();
    b.U8(kStruct);
    b.U8(4);
    for (int m = 0; m < width; ++m) {
      b.U8(kMember);
      b.Str(std::string(1, static_cast<char>('a' + m)));
      b.U32(inner);
      b.U8(static_cast<std::uint8_t>(m));
    }
    b.U8(0);
  }
  b.U8(external ? kVar : kStaticVar);
  b.Str("deep");
  if (external) b.U32(type);
  b.AddrBlock(0x2000);
  if (!external) b.U32(type);
  b.U8(0);
  b.EndUnit();
  return b;
}

struct NestedRun {
  std::string console;
  SlotSink sink;
};

void WalkNested(int levels, int width, NestedRun& out, bool external = true,
                bool no_local_structs = false, bool pointers = false) {
  ::dwarfsift::testing::WalkHarness h(RunOptions{.no_local_structs = no_local_structs});
  h.Load(NestedStructures(levels, width, external, pointers));
  out.sink.state = &h.run.state;
  WalkContext walk(h.run, h.elf, h.dwarf, h.state, out.sink, DefaultEntryProcessor(),
                   [] { return 0u; });
  GetDebugInfoAll(walk);
  out.console = h.console;
}

TEST(MemberExpansion, FullMemberSlotsDropTheRestQuickly) {
  // 7^8 (over five million) innermost members; only the first 8,191 slots
  // are filled, and the rest is passed over rather than expanded.
  NestedRun run;
  const auto start = std::chrono::steady_clock::now();
  WalkNested(8, 7, run);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_LT(elapsed, std::chrono::seconds(5));
  ASSERT_EQ(run.sink.names, std::vector<std::string>{"deep"});
  EXPECT_EQ(run.sink.members, 8191);
  EXPECT_TRUE(run.sink.copy_slot_clean);
  EXPECT_EQ(Count(run.console, "/Struct Symbol Table heep over flow !! (8192)\n"), 1)
      << run.console;
}

TEST(MemberExpansion, DepthLimitKeepsTheSymbolWithTheMembersThatFit) {
  // Members from depth 12 on are dropped with what they would expand; the
  // variable stays with its first 11 levels.
  const struct {
    int levels;
    bool pointers;
  } cases[] = {{11, false}, {12, false}, {20, true}};
  for (const auto& c : cases) {
    NestedRun run;
    WalkNested(c.levels, 1, run, true, false, c.pointers);
    EXPECT_EQ(run.sink.names, std::vector<std::string>{"deep"}) << c.levels;
    EXPECT_EQ(run.sink.members, 11) << c.levels;
    EXPECT_EQ(Count(run.console, "heep over flow"), 0);
  }
}

TEST(MemberExpansion, DeclaredStructureTakesNoMembersFromItsSiblings) {
  // A pointer to a structure that is only declared (no children), followed
  // in the unit by a complete structure: the entries after the declaration
  // are its siblings, not its members.
  DwarfBuilder b;
  StructureAbbrevs(b);
  b.BeginUnit();
  b.U8(kUnit);
  b.Str("opaque.c");
  const std::uint32_t base = b.UnitOffset();
  b.U8(kBase);
  b.Str("int");
  b.U8(4);
  const std::uint32_t declared = b.UnitOffset();
  b.U8(kDeclared);
  b.Str("handle");
  b.U8(1);
  b.U8(kStruct);
  b.U8(4);
  b.U8(kMember);
  b.Str("stray");
  b.U32(base);
  b.U8(0);
  b.U8(0);
  const std::uint32_t pointer = b.UnitOffset();
  b.U8(kPointer);
  b.U8(4);
  b.U32(declared);
  b.U8(kVar);
  b.Str("h");
  b.U32(pointer);
  b.AddrBlock(0x2000);
  b.U8(0);
  b.EndUnit();

  ::dwarfsift::testing::WalkHarness h;
  h.Load(b);
  SlotSink sink;
  sink.state = &h.run.state;
  WalkContext walk(h.run, h.elf, h.dwarf, h.state, sink, DefaultEntryProcessor(),
                   [] { return 0u; });
  GetDebugInfoAll(walk);
  ASSERT_EQ(sink.names, std::vector<std::string>{"h"});
  EXPECT_EQ(sink.members, 0);
}

TEST(MemberExpansion, LocalStructuresOptionDropsOnlyLocalOnes) {
  const struct {
    bool external;
    bool no_local_structs;
    bool written;
  } cases[] = {{false, false, true}, {false, true, false}, {true, true, true}};
  for (const auto& c : cases) {
    NestedRun run;
    WalkNested(2, 2, run, c.external, c.no_local_structs);
    EXPECT_EQ(run.sink.names.size(), c.written ? 1u : 0u) << c.external << c.no_local_structs;
    if (c.written) {
      EXPECT_EQ(run.sink.members, 6);
    }
  }
}

}  // namespace
}  // namespace dwarfsift
