// The symbol rules of variables, parameters, labels, functions and units,
// the "-g" copies and "-l", on one hand-assembled unit.
#include <gtest/gtest.h>

#include <string>

#include "walk_harness.h"

namespace dwarfsift {
namespace {

using testing::DwarfBuilder;
using testing::WalkHarness;

constexpr std::uint8_t kTagBaseType = 0x24;
constexpr std::uint8_t kAtByteSize = 0x0B;

enum Code : std::uint8_t {
  kUnit = 1, kBase, kGlobalVar, kStaticVar, kFunction, kExternalLabel, kPlainLabel,
  kParameter, kTypeFirstVar, kStaticNoAddress, kFunctionNoSibling, kNamelessVar,
  kLateExternalLabel,
};

const std::string kLongName(250, 'n');

// One unit "C:\src\main.c" [0x1000, 0x2000) with every case side by side.
DwarfBuilder BuildUnit() {
  DwarfBuilder b;
  b.Abbrev(kUnit, kTagCompileUnit, true,
           {{kAtName, kFormString}, {kAtLowPc, kFormAddr}, {kAtHighPc, kFormAddr}});
  b.Abbrev(kBase, kTagBaseType, false,
           {{kAtName, kFormString}, {kAtByteSize, kFormData1}, {kAtEncoding, kFormData1}});
  b.Abbrev(kGlobalVar, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtExternal, kFormFlagPresent},
            {kAtLocation, kFormBlock1}});
  b.Abbrev(kStaticVar, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtLocation, kFormBlock1}});
  b.Abbrev(kFunction, kTagSubprogram, true,
           {{kAtExternal, kFormFlag}, {kAtName, kFormString}, {kAtDeclFile, kFormData1},
            {kAtLowPc, kFormAddr}, {kAtHighPc, kFormAddr}, {kAtSibling, kFormRef4}});
  b.Abbrev(kExternalLabel, kTagLabel, false,
           {{kAtExternal, kFormFlag}, {kAtName, kFormString}, {kAtLowPc, kFormAddr}});
  b.Abbrev(kPlainLabel, kTagLabel, false, {{kAtName, kFormString}, {kAtLowPc, kFormAddr}});
  b.Abbrev(kParameter, kTagFormalParameter, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtLocation, kFormBlock1}});
  b.Abbrev(kTypeFirstVar, kTagVariable, false,
           {{kAtType, kFormRef4}, {kAtName, kFormString}, {kAtExternal, kFormFlagPresent},
            {kAtLocation, kFormBlock1}});
  b.Abbrev(kStaticNoAddress, kTagVariable, false,
           {{kAtName, kFormString}, {kAtExternal, kFormFlag}});
  b.Abbrev(kFunctionNoSibling, kTagSubprogram, true,
           {{kAtName, kFormString}, {kAtDeclFile, kFormData1}, {kAtLowPc, kFormAddr},
            {kAtHighPc, kFormData4}});
  b.Abbrev(kNamelessVar, kTagVariable, false,
           {{kAtType, kFormRef4}, {kAtLocation, kFormBlock1}});
  b.Abbrev(kLateExternalLabel, kTagLabel, false,
           {{kAtName, kFormString}, {kAtLowPc, kFormAddr}, {kAtExternal, kFormFlagPresent}});
  b.EndAbbrevs();

  b.BeginUnit();
  b.U8(kUnit); b.Str("C:\\src\\main.c"); b.U32(0x1000); b.U32(0x2000);
  const std::uint32_t int_type = b.UnitOffset();
  b.U8(kBase); b.Str("int"); b.U8(4); b.U8(5);
  b.U8(kGlobalVar); b.Str("g_global"); b.U32(int_type); b.AddrBlock(0x3000);
  b.U8(kStaticVar); b.Str("s_file"); b.U32(int_type); b.AddrBlock(0x3004);
  b.U8(kStaticNoAddress); b.Str("s_nothing"); b.U8(0);

  b.U8(kFunction); b.U8(1); b.Str("ext_fn(int)"); b.U8(1); b.U32(0x1100); b.U32(0x1180);
  const std::uint32_t sibling_field = b.SectionOffset();
  b.U32(0);
  b.U8(kParameter); b.Str("p"); b.U32(int_type); b.AddrBlock(0x3020);
  b.U8(kStaticVar); b.Str("s_local"); b.U32(int_type); b.AddrBlock(0x3008);
  b.U8(kExternalLabel); b.U8(1); b.Str("lbl_ext"); b.U32(0x1120);
  b.U8(kPlainLabel); b.Str("lbl_plain"); b.U32(0x1130);
  b.U8(kLateExternalLabel); b.Str("lbl_late"); b.U32(0x1140);
  b.U8(kStaticVar); b.Str("s_after_labels"); b.U32(int_type); b.AddrBlock(0x301C);
  b.U8(0);
  b.Patch32(sibling_field, b.UnitOffset());

  b.U8(kFunction); b.U8(0); b.Str("st_fn"); b.U8(1); b.U32(0x1200); b.U32(0x1280);
  const std::uint32_t sibling_field2 = b.SectionOffset();
  b.U32(0);
  b.U8(0);
  b.Patch32(sibling_field2, b.UnitOffset());

  b.U8(kFunctionNoSibling); b.Str("nosib_fn"); b.U8(1); b.U32(0x1300); b.U32(0x40);
  b.U8(kStaticVar); b.Str("s_in_nosib"); b.U32(int_type); b.AddrBlock(0x300C);
  b.U8(0);

  b.U8(kTypeFirstVar); b.U32(int_type); b.Str("typed_first"); b.AddrBlock(0x3010);
  b.U8(kNamelessVar); b.U32(int_type); b.AddrBlock(0x3014);
  b.U8(kStaticVar); b.Str(kLongName); b.U32(int_type); b.AddrBlock(0x3018);
  b.U8(0);
  b.EndUnit();
  return b;
}

struct Expected {
  std::string name;
  std::int32_t ident;
  std::uint32_t location;
  std::uint32_t fstart;
  std::uint32_t fend;
};

TEST(EntryProcessing, SymbolClassesAddressesAndRanges) {
  const Expected cases[] = {
      // external variable: its address and the unit's range
      {"g_global", kIdentVariable, 0x3000, 0x1000, 0x2000},
      // no DW_AT_external: a static of the file
      {"s_file", kIdentLocalStatic, 0x3004, 0x1000, 0x2000},
      // external function: name before its parameter list, no range
      {"ext_fn", kIdentProgram, 0x1100, 0, 0},
      // a static inside a function takes the function's range
      {"s_local", kIdentLocalStatic, 0x3008, 0x1100, 0x1180},
      {"p", kIdentLocalStatic, 0x3020, 0x1100, 0x1180},
      {"lbl_ext", kIdentLabel, 0x1120, 0, 0},
      // the external flag counts wherever it stands
      {"lbl_late", kIdentLabel, 0x1140, 0, 0},
      // labels leave the function's range alone
      {"s_after_labels", kIdentLocalStatic, 0x301C, 0x1100, 0x1180},
      // static function: the unit's range
      {"st_fn", kIdentStaticProgram, 0x1200, 0x1000, 0x2000},
      {"nosib_fn", kIdentStaticProgram, 0x1300, 0x1000, 0x2000},
      // without a sibling the function's children still end its scope
      {"s_in_nosib", kIdentLocalStatic, 0x300C, 0x1300, 0x1340},
      // a type before the name does not lose the name
      {"typed_first", kIdentVariable, 0x3010, 0x1000, 0x2000},
  };
  WalkHarness walk;
  walk.Load(BuildUnit());
  ASSERT_TRUE(walk.Walk());
  for (const Expected& e : cases) {
    const SymbolRecord* r = walk.Find(e.name);
    ASSERT_NE(r, nullptr) << e.name;
    EXPECT_EQ(r->ident, e.ident) << e.name;
    EXPECT_EQ(static_cast<std::uint32_t>(r->location), e.location) << e.name;
    EXPECT_EQ(r->fstart, e.fstart) << e.name;
    EXPECT_EQ(r->fend, e.fend) << e.name;
  }
  // Not written: the unit itself, a static with neither address nor size,
  // a label without DW_AT_external, a nameless variable.
  for (const char* absent : {"main.c", "s_nothing", "lbl_plain", "?", ""}) {
    EXPECT_EQ(walk.Find(absent), nullptr) << absent;
  }
  // The unit is known by its file name.
  EXPECT_NE(walk.console.find("unit[main.c]\n"), std::string::npos) << walk.console;
  EXPECT_EQ(walk.run.counters.symbol_count, walk.sink.emitted.size());
}

TEST(EntryProcessing, GlobalCopiesOfStatics) {
  WalkHarness walk(RunOptions{.global_statics = true});
  walk.Load(BuildUnit());
  ASSERT_TRUE(walk.Walk());
  const Expected copies[] = {
      {"s_file@main.c", kIdentVariable, 0x3004, 0x1000, 0x2000},
      {"s_local@ext_fn", kIdentVariable, 0x3008, 0x1100, 0x1180},
      {"p@ext_fn", kIdentVariable, 0x3020, 0x1100, 0x1180},
      {"s_in_nosib@nosib_fn", kIdentVariable, 0x300C, 0x1300, 0x1340},
  };
  for (const Expected& e : copies) {
    const SymbolRecord* r = walk.Find(e.name);
    ASSERT_NE(r, nullptr) << e.name;
    EXPECT_EQ(r->ident, e.ident) << e.name;
    EXPECT_EQ(static_cast<std::uint32_t>(r->location), e.location) << e.name;
    EXPECT_EQ(r->fstart, e.fstart) << e.name;
  }
  // The static itself stays beside its copy, in the same entry.
  const SymbolRecord* own = walk.Find("s_local");
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(own->ident, kIdentLocalStatic);
  EXPECT_EQ(walk.Find("s_nothing@main.c"), nullptr);
  EXPECT_EQ(walk.Find("g_global@main.c"), nullptr);

  // A combined name longer than the field is cut to the field.
  const std::string cut = (kLongName + "@main.c").substr(0, 256);
  const SymbolRecord* copy = walk.Find(cut);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->name[256], '\0');
  EXPECT_EQ(static_cast<std::uint32_t>(copy->location), 0x3018u);
}

TEST(EntryProcessing, NoLocalsDropsParametersAndLocalStatics) {
  WalkHarness walk(RunOptions{.no_locals = true});
  walk.Load(BuildUnit());
  ASSERT_TRUE(walk.Walk());
  for (const char* kept : {"g_global", "ext_fn", "st_fn", "lbl_ext", "typed_first"}) {
    EXPECT_NE(walk.Find(kept), nullptr) << kept;
  }
  for (const char* dropped : {"p", "s_file", "s_local", "s_in_nosib"}) {
    EXPECT_EQ(walk.Find(dropped), nullptr) << dropped;
  }
}

// Entries that complete another one carry no name of their own: a global's
// definition points to its declaration, an out-of-line copy of an inlined
// function to its abstract instance.
TEST(EntryProcessing, DefinitionsAndOutOfLineCopiesTakeTheirNames) {
  enum : std::uint8_t {
    kCu = 1, kDecl, kDefinition, kAbstractFn, kConcreteFn, kStaticAbstractFn,
    kInt, kAbstractParam, kConcreteParam, kBareParam,
  };
  constexpr std::uint8_t kAtInline = 0x20;
  DwarfBuilder b;
  b.Abbrev(kCu, kTagCompileUnit, true,
           {{kAtName, kFormString}, {kAtLowPc, kFormAddr}, {kAtHighPc, kFormAddr}});
  b.Abbrev(kDecl, kTagVariable, false,
           {{kAtName, kFormString}, {kAtExternal, kFormFlag}, {kAtDeclaration, kFormFlag}});
  b.Abbrev(kDefinition, kTagVariable, false,
           {{kAtSpecification, kFormRef4}, {kAtLocation, kFormBlock1}});
  b.Abbrev(kAbstractFn, kTagSubprogram, false,
           {{kAtExternal, kFormFlag}, {kAtName, kFormString}, {kAtInline, kFormData1}});
  b.Abbrev(kConcreteFn, kTagSubprogram, false,
           {{kAtAbstractOrigin, kFormRef4}, {kAtLowPc, kFormAddr}, {kAtHighPc, kFormAddr}});
  b.Abbrev(kStaticAbstractFn, kTagSubprogram, false,
           {{kAtName, kFormString}, {kAtInline, kFormData1}});
  b.Abbrev(kInt, kTagBaseType, false, {{kAtName, kFormString}, {kAtByteSize, kFormData1}});
  b.Abbrev(kAbstractParam, kTagFormalParameter, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}});
  b.Abbrev(kConcreteParam, kTagFormalParameter, false,
           {{kAtAbstractOrigin, kFormRef4}, {kAtLocation, kFormBlock1}});
  b.Abbrev(kBareParam, kTagFormalParameter, false, {{kAtAbstractOrigin, kFormRef4}});
  b.EndAbbrevs();
  b.BeginUnit();
  b.U8(kCu); b.Str("m.c"); b.U32(0x1000); b.U32(0x2000);
  const std::uint32_t decl = b.UnitOffset();
  b.U8(kDecl); b.Str("g_counter"); b.U8(1); b.U8(1);
  b.U8(kDefinition); b.U32(decl); b.AddrBlock(0x3000);
  const std::uint32_t abstract = b.UnitOffset();
  b.U8(kAbstractFn); b.U8(1); b.Str("area"); b.U8(1);
  b.U8(kConcreteFn); b.U32(abstract); b.U32(0x1400); b.U32(0x1440);
  const std::uint32_t static_abstract = b.UnitOffset();
  b.U8(kStaticAbstractFn); b.Str("helper"); b.U8(1);
  b.U8(kConcreteFn); b.U32(static_abstract); b.U32(0x1500); b.U32(0x1540);
  // A parameter of an abstract instance and two concrete copies of it: one
  // with a location of its own, one optimised away.
  const std::uint32_t int_type = b.UnitOffset();
  b.U8(kInt); b.Str("int"); b.U8(4);
  const std::uint32_t abstract_param = b.UnitOffset();
  b.U8(kAbstractParam); b.Str("n"); b.U32(int_type);
  b.U8(kConcreteParam); b.U32(abstract_param); b.AddrBlock(0x3010);
  b.U8(kBareParam); b.U32(abstract_param);
  // A definition that names itself must not be followed for ever.
  const std::uint32_t self = b.UnitOffset();
  b.U8(kDefinition); b.U32(self); b.AddrBlock(0x3004);
  b.U8(0);
  b.EndUnit();

  WalkHarness walk;
  walk.Load(b);
  // The abstract parameter, a bare declaration, takes this address by name;
  // the copy without a location must not take it too.
  walk.elf_symbols.Add("n", 0x5000);
  ASSERT_TRUE(walk.Walk());
  const Expected cases[] = {
      {"g_counter", kIdentVariable, 0x3000, 0x1000, 0x2000},
      {"area", kIdentProgram, 0x1400, 0, 0},
      {"helper", kIdentStaticProgram, 0x1500, 0x1000, 0x2000},
  };
  for (const Expected& e : cases) {
    const SymbolRecord* r = walk.Find(e.name);
    ASSERT_NE(r, nullptr) << e.name;
    EXPECT_EQ(r->ident, e.ident) << e.name;
    EXPECT_EQ(static_cast<std::uint32_t>(r->location), e.location) << e.name;
    EXPECT_EQ(r->fstart, e.fstart) << e.name;
  }
  // The copy with a location has the abstract parameter's name and type.
  std::size_t copies = 0;
  for (const auto& entry : walk.sink.emitted) {
    const SymbolRecord& r = entry.records[0];
    if (std::string(r.name) != "n" || r.location != 0x3010) continue;
    ++copies;
    EXPECT_EQ(r.ident, kIdentLocalStatic);
    EXPECT_STREQ(r.typen, "int");
    EXPECT_EQ(r.total_byte, 4);
  }
  EXPECT_EQ(copies, 1u);
  // The declaration and the abstract instances have no address of their
  // own; each name is written once, the parameter's by the abstract entry
  // and the copy with a location.
  EXPECT_EQ(walk.Names(),
            (std::vector<std::string>{"g_counter", "area", "helper", "n", "n"}));
}

// What the linker did, seen through the ELF symbols: an array defined
// without a bound takes its count from its symbol's size; a function at
// address 0 without a symbol there was removed, with all it contains.
TEST(EntryProcessing, WhatTheLinkerKeptOrRemoved) {
  enum : std::uint8_t {
    kCu = 1, kInt, kArray, kSubrange, kDecl, kDefinition, kFunction, kParam, kBlock,
  };
  DwarfBuilder b;
  b.Abbrev(kCu, kTagCompileUnit, true,
           {{kAtName, kFormString}, {kAtLowPc, kFormAddr}, {kAtHighPc, kFormAddr}});
  b.Abbrev(kInt, kTagBaseType, false, {{kAtName, kFormString}, {kAtByteSize, kFormData1}});
  b.Abbrev(kArray, kTagArrayType, true, {{kAtType, kFormRef4}});
  b.Abbrev(kSubrange, 0x21, false, {});
  b.Abbrev(kDecl, kTagVariable, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtDeclaration, kFormFlag}});
  b.Abbrev(kDefinition, kTagVariable, false,
           {{kAtSpecification, kFormRef4}, {kAtLocation, kFormBlock1}});
  // In clang's order: the address before the file and the name.
  b.Abbrev(kFunction, kTagSubprogram, true,
           {{kAtLowPc, kFormAddr}, {kAtHighPc, kFormAddr}, {kAtDeclFile, kFormData1},
            {kAtName, kFormString}});
  b.Abbrev(kParam, kTagFormalParameter, false,
           {{kAtName, kFormString}, {kAtType, kFormRef4}, {kAtLocation, kFormBlock1}});
  b.Abbrev(kBlock, 0x0B, true, {});
  b.EndAbbrevs();
  b.BeginUnit();
  b.U8(kCu); b.Str("k.c"); b.U32(0x1000); b.U32(0x2000);
  const std::uint32_t int_type = b.UnitOffset();
  b.U8(kInt); b.Str("int"); b.U8(4);
  const std::uint32_t unbounded = b.UnitOffset();
  b.U8(kArray); b.U32(int_type); b.U8(kSubrange); b.U8(0);
  const std::uint32_t table = b.UnitOffset();
  b.U8(kDecl); b.Str("table"); b.U32(unbounded); b.U8(1);
  b.U8(kDefinition); b.U32(table); b.AddrBlock(0x3000);
  const std::uint32_t orphan = b.UnitOffset();
  b.U8(kDecl); b.Str("orphan"); b.U32(unbounded); b.U8(1);
  b.U8(kDefinition); b.U32(orphan); b.AddrBlock(0x3100);
  b.U8(kFunction); b.U32(0); b.U32(0x20); b.U8(1); b.Str("gone");
  b.U8(kParam); b.Str("p"); b.U32(int_type); b.AddrBlock(0x3200);
  b.U8(kBlock);
  b.U8(kParam); b.Str("inner"); b.U32(int_type); b.AddrBlock(0x3204);
  b.U8(0); b.U8(0);
  b.U8(kFunction); b.U32(0); b.U32(0x20); b.U8(1); b.Str("reset");
  b.U8(kParam); b.Str("q"); b.U32(int_type); b.AddrBlock(0x3208);
  b.U8(0);
  b.U8(kFunction); b.U32(0x1100); b.U32(0x1120); b.U8(1); b.Str("kept");
  b.U8(kParam); b.Str("r"); b.U32(int_type); b.AddrBlock(0x3210);
  b.U8(0);
  b.U8(kParam); b.Str("after"); b.U32(int_type); b.AddrBlock(0x320C);
  b.U8(0);
  b.EndUnit();

  WalkHarness walk(RunOptions{.global_statics = true});
  walk.Load(b);
  walk.elf_symbols.Add("table", 0x3000, 28);
  walk.elf_symbols.Add("reset", 0, 4);
  ASSERT_TRUE(walk.Walk());
  // The declaration of "table" (its address from the ELF symbol) and its
  // definition, both statics with their "-g" copies, made before the count
  // was known; the parameter of the kept function (a function without type
  // or address is not written itself, nor names its statics' copies); the
  // statics of a function without a sibling are its own up to the end of
  // its children; nothing of the removed one.
  EXPECT_EQ(walk.Names(),
            (std::vector<std::string>{"table", "table", "table@k.c", "orphan", "orphan@k.c",
                                      "q", "q@", "kept", "r", "r@kept", "after",
                                      "after@k.c"}));
  const std::pair<const char*, std::int32_t> counts[] = {
      {"table", 7}, {"table@k.c", 7}, {"orphan", 0}, {"orphan@k.c", 0}};
  for (const auto& [name, count] : counts) {
    for (const auto& entry : walk.sink.emitted) {
      for (const SymbolRecord& r : entry.records) {
        if (std::string_view(r.name) != name) continue;
        EXPECT_EQ(r.kind, kKindArray) << name;
        EXPECT_EQ(r.ele_count, 1) << name;
        EXPECT_EQ(r.ele[0], count) << name;
        EXPECT_EQ(r.total_byte, count * 4) << name;
      }
    }
  }
}

}  // namespace
}  // namespace dwarfsift
