// The location rules through a unit walk: what the first operation of an
// expression, a location list or a function's call-frame information puts
// into a variable's, a parameter's or a function's record.
#include "symbols/location_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "elf/elf_image.h"
#include "location/list_bytes.h"
#include "symbols/location_walk.h"

namespace dwarfsift {
namespace {

using testing::ListBytes;
using testing::Row;

Row RowOf(const SymbolRecord& r, int i) { return testing::RowOf(r.floc, i); }

// The location rules, through a unit walk: one function per frame-base shape.
TEST(LocationRules, VariablesAndParametersTakeTheShapeOfTheirFirstOperation) {
  using testing::DwarfBuilder;
  DwarfBuilder b;
  b.Abbrev(1, 0x11, true, {{0x03, 0x08}, {0x11, 0x01}, {0x12, 0x01}});
  b.Abbrev(2, 0x2e, true, {{0x03, 0x08}, {0x3a, 0x0b}, {0x11, 0x01}, {0x12, 0x01}, {0x40, 0x0a}});
  b.Abbrev(3, 0x34, false, {{0x03, 0x08}, {0x02, 0x0a}});
  b.Abbrev(4, 0x05, false, {{0x03, 0x08}, {0x02, 0x0a}});
  b.Abbrev(5, 0x2e, true, {{0x03, 0x08}, {0x3a, 0x0b}, {0x11, 0x01}, {0x12, 0x01}});
  b.EndAbbrevs();
  b.BeginUnit(2);
  b.U8(1), b.Str("u.c"), b.U32(0x1000), b.U32(0x2000);
  const auto variable = [&b](std::uint8_t code, const char* name,
                             std::initializer_list<std::uint8_t> expression) {
    b.U8(code), b.Str(name), b.U8(static_cast<std::uint8_t>(expression.size()));
    for (std::uint8_t byte : expression) b.U8(byte);
  };
  // Frame base DW_OP_reg6.
  b.U8(2), b.Str("f"), b.U8(1), b.U32(0x1100), b.U32(0x1200), b.U8(1), b.U8(0x56);
  variable(3, "fb", {0x91, 0x78});               // fbreg -8
  variable(3, "rx", {0x90, 0x03});               // regx 3
  variable(3, "rxp", {0x90, 0x03, 0x93, 0x04});  // regx 3, piece 4
  variable(3, "rxo", {0x90, 0x03, 0x9f});        // regx 3, stack_value
  variable(4, "bx", {0x92, 0x02, 0x7c});         // bregx 2 -4
  variable(4, "br", {0x7d, 0x08});               // breg13 8
  variable(3, "st", {0x03, 0x00, 0x40, 0x00, 0x00});
  variable(3, "empty", {});
  variable(3, "other", {0x9c});
  b.U8(0);
  // Frame base DW_OP_call_frame_cfa.
  b.U8(2), b.Str("g"), b.U8(1), b.U32(0x1200), b.U32(0x1300), b.U8(1), b.U8(0x9c);
  variable(3, "cfa", {0x91, 0x78});
  b.U8(0);
  // No frame base at all.
  b.U8(5), b.Str("h"), b.U8(1), b.U32(0x1300), b.U32(0x1400);
  variable(3, "none", {0x91, 0x78});
  b.U8(0);
  b.U8(0);
  b.EndUnit();

  testing::LocationWalk walk;
  walk.Load(b, {});
  walk.Walk();

  struct Expected {
    const char* name;
    std::int32_t ident;
    std::int32_t regcode, regop1, regop2;
    const char* regn;
    std::uint32_t fstart, fend;
  };
  const Expected expected[] = {
      {"fb", kIdentLocalFrame, 0x76, -8, 0, "@(.-8+R6)", 0x1100, 0x1200},
      {"rx", kIdentLocalRegister, 0x90, 3, 0, "R3", 0x1100, 0x1200},
      {"rxp", kIdentLocalRegister, 0x57, 0, 0, "R7", 0x1100, 0x1200},
      {"rxo", kIdentLocalRegister, 0, 0, 0, "", 0x1100, 0x1200},
      {"bx", kIdentLocalRegister, 0x92, 2, -4, "@(.-4+R2)", 0x1100, 0x1200},
      {"br", kIdentLocalRegister, 0x7d, 8, 0, "@(.8+R13)", 0x1100, 0x1200},
      // A static of a function without DW_AT_sibling: its children end it.
      {"st", kIdentLocalStatic, 0, 0, 0, "", 0x1100, 0x1200},
      {"empty", kIdentNon, 0, 0, 0, "", 0x1100, 0x1200},
      {"other", kIdentNon, 0, 0, 0, "", 0, 0},
      // A DW_OP_call_frame_cfa frame base is kept by its code: the local
      // carries it and gets no register text.
      {"cfa", kIdentLocalFrame, 0x9c, -8, 0, "", 0x1200, 0x1300},
      {"none", kIdentLocalFrame, 0x91, -8, 0, "@(.-8+FB)", 0x1300, 0x1400},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.name);
    const SymbolRecord* r = walk.Find(e.name);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->ident, e.ident);
    EXPECT_EQ(r->regcode, e.regcode);
    EXPECT_EQ(r->regop1, e.regop1);
    EXPECT_EQ(r->regop2, e.regop2);
    EXPECT_STREQ(r->regn, e.regn);
    EXPECT_EQ(r->fstart, e.fstart);
    EXPECT_EQ(r->fend, e.fend);
  }
  EXPECT_EQ(walk.Find("st")->location, 0x4000);
}

TEST(LocationRules, AddressOfATwoByteTargetAndLocalsDroppedByNoLocals) {
  using testing::DwarfBuilder;
  DwarfBuilder b;
  b.Abbrev(1, 0x11, true, {{0x03, 0x08}});
  b.Abbrev(2, 0x34, false, {{0x03, 0x08}, {0x3f, 0x0c}, {0x02, 0x0a}});
  b.Abbrev(3, 0x34, false, {{0x03, 0x08}, {0x02, 0x0a}});
  b.EndAbbrevs();
  b.BeginUnit(2);
  b.U8(1), b.Str("u.c");
  b.U8(2), b.Str("global"), b.U8(1), b.U8(5), b.U8(0x03), b.U32(0x12345678);
  b.U8(3), b.Str("reg"), b.U8(1), b.U8(0x51);
  b.U8(0);
  b.EndUnit();

  for (const bool no_locals : {false, true}) {
    SCOPED_TRACE(no_locals);
    testing::LocationWalk walk(kMachineArm, RunOptions{.no_locals = no_locals});
    walk.Load(b, {});
    walk.Walk();
    const SymbolRecord* global = walk.Find("global");
    ASSERT_NE(global, nullptr);
    EXPECT_EQ(global->ident, kIdentVariable);
    EXPECT_EQ(global->location, 0x12345678);
    EXPECT_EQ(walk.Find("reg") == nullptr, no_locals);
  }

  testing::LocationWalk narrow;
  narrow.Load(b, {});
  narrow.harness.dwarf.address_size = 2;
  narrow.Walk();
  ASSERT_NE(narrow.Find("global"), nullptr);
  EXPECT_EQ(narrow.Find("global")->location, 0x5678);
}

// Lists reached from entries: a frame-base list at offset 0, a register list
// in DW_FORM_sec_offset, frame-based lists in functions with a list, an
// expression and no .debug_loc range at all.
TEST(LocationList, ListsAppliedToVariablesAndFrameBases) {
  ListBytes loc;
  loc.Entry(0x500, 0x510, {0x50}).Entry(0x510, 0x540, {0x70, 0x04}).End();  // frame base
  const auto registers = static_cast<std::uint32_t>(loc.bytes.size());
  loc.Entry(0x400, 0x420, {0x51}).Entry(0x420, 0x480, {0x7d, 0x08}).End();
  const auto frame_based = static_cast<std::uint32_t>(loc.bytes.size());
  loc.Entry(0x400, 0x500, {0x91, 0x74}).End();  // fbreg -12
  loc.bytes.resize(0x200, 0);  // room for the ranges

  using testing::DwarfBuilder;
  DwarfBuilder b;
  b.Abbrev(1, 0x11, true, {{0x03, 0x08}, {0x11, 0x01}, {0x12, 0x01}});
  b.Abbrev(2, 0x2e, true, {{0x03, 0x08}, {0x3a, 0x0b}, {0x11, 0x01}, {0x12, 0x01}, {0x40, 0x17}});
  b.Abbrev(3, 0x2e, true, {{0x03, 0x08}, {0x3a, 0x0b}, {0x11, 0x01}, {0x12, 0x01}, {0x40, 0x0a}});
  b.Abbrev(4, 0x34, false, {{0x03, 0x08}, {0x02, 0x17}});
  b.Abbrev(5, 0x05, false, {{0x03, 0x08}, {0x02, 0x06}});
  b.EndAbbrevs();
  b.BeginUnit(4);
  b.U8(1), b.Str("u.c"), b.U32(0x1000), b.U32(0x2000);
  b.U8(2), b.Str("m"), b.U8(1), b.U32(0x1400), b.U32(0x1500), b.U32(0);
  b.U8(4), b.Str("l1"), b.U32(registers);
  b.U8(5), b.Str("l2"), b.U32(frame_based);
  b.U8(0);
  b.U8(3), b.Str("n"), b.U8(1), b.U32(0x1500), b.U32(0x1600), b.U8(1), b.U8(0x56);
  b.U8(5), b.Str("l3"), b.U32(frame_based);
  b.U8(4), b.Str("l4"), b.U32(0x1000);  // past the section
  b.U8(0);
  b.U8(0);
  b.EndUnit();

  testing::LocationWalk walk;
  walk.Load(b, loc.bytes);
  walk.Walk();

  const SymbolRecord* m = walk.Find("m");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->regcode, 0x50);
  EXPECT_STREQ(m->regn, "R0");
  EXPECT_EQ(RowOf(*m, 1), (Row{0, 0x1510, 0x1540, 0x70, 4, 0}));

  const SymbolRecord* l1 = walk.Find("l1");
  ASSERT_NE(l1, nullptr);
  EXPECT_EQ(l1->ident, kIdentLocalRegister);
  EXPECT_EQ(l1->regcode, 0x51);
  EXPECT_STREQ(l1->regn, "R1");
  EXPECT_EQ(l1->fstart, 0x1400u);
  EXPECT_EQ(l1->fend, 0x1500u);
  EXPECT_EQ(RowOf(*l1, 0), (Row{0, 0x1400, 0x1420, 0x51, 0, 0}));
  EXPECT_EQ(RowOf(*l1, 1), (Row{0, 0x1420, 0x1480, 0x7d, 8, 0}));

  // The frame base's rows, the variable's offset.
  const SymbolRecord* l2 = walk.Find("l2");
  ASSERT_NE(l2, nullptr);
  EXPECT_EQ(l2->ident, kIdentLocalFrame);
  EXPECT_EQ(l2->regcode, 0x91);
  EXPECT_EQ(l2->regop1, -12);
  EXPECT_STREQ(l2->regn, "@(.-12+FB)");
  EXPECT_EQ(RowOf(*l2, 0), (Row{0, 0x1500, 0x1510, 0x50, 0, 0}));
  EXPECT_EQ(RowOf(*l2, 1), (Row{0, 0x1510, 0x1540, 0x70, 4, 0}));
  EXPECT_EQ(RowOf(*l2, 2), (Row{}));

  // The frame base is an expression: the variable keeps its own rows.
  const SymbolRecord* l3 = walk.Find("l3");
  ASSERT_NE(l3, nullptr);
  EXPECT_EQ(l3->ident, kIdentLocalFrame);
  EXPECT_EQ(RowOf(*l3, 0), (Row{0, 0x1400, 0x1500, 0x91, -12, 0}));
  EXPECT_EQ(RowOf(*l3, 1), (Row{}));

  const SymbolRecord* l4 = walk.Find("l4");
  ASSERT_NE(l4, nullptr);
  EXPECT_EQ(l4->ident, kIdentLocalRegister);
  EXPECT_EQ(l4->regcode, 0);
  EXPECT_EQ(RowOf(*l4, 0), (Row{}));

  // Without .debug_loc the same entries get no rows.
  testing::LocationWalk bare;
  bare.Load(b, {});
  bare.Walk();
  ASSERT_NE(bare.Find("l1"), nullptr);
  EXPECT_EQ(RowOf(*bare.Find("l1"), 0), (Row{}));
  EXPECT_EQ(RowOf(*bare.Find("m"), 0), (Row{}));
}

// .debug_frame with one CIE (code alignment 2, CFA = r13+0) and one FDE per
// function: after 2 bytes CFA = `reg` + 8.
std::vector<std::uint8_t> DebugFrame(std::initializer_list<std::pair<std::uint32_t, std::uint8_t>> fdes) {
  ListBytes out;
  out.U32(12), out.U32(0xffffffffu);
  out.bytes.insert(out.bytes.end(), {1, 0, 2, 0x7c, 14, 0x0c, 13, 0});
  for (const auto& [pc, reg] : fdes) {
    out.U32(16), out.U32(0), out.U32(pc), out.U32(0x40);
    out.bytes.insert(out.bytes.end(), {0x41, 0x0c, reg, 8});
  }
  return out.bytes;
}

TEST(LocationList, CallFrameRulesServeAsTheFrameBaseList) {
  ListBytes loc;
  loc.Entry(0x000, 0x010, {0x91, 0x6c}).Entry(0x010, 0x020, {0x51}).Entry(0x020, 0x030, {0x52}).End();
  loc.bytes.resize(0x200, 0);

  using testing::DwarfBuilder;
  DwarfBuilder b;
  b.Abbrev(1, 0x11, true, {{0x03, 0x08}, {0x11, 0x01}, {0x12, 0x01}});
  b.Abbrev(2, 0x2e, true, {{0x03, 0x08}, {0x11, 0x01}, {0x12, 0x01}, {0x40, 0x0a}});
  b.Abbrev(3, 0x2e, true, {{0x03, 0x08}, {0x40, 0x0a}, {0x11, 0x01}, {0x12, 0x01}});
  b.Abbrev(4, 0x34, false, {{0x03, 0x08}, {0x02, 0x0a}});
  b.Abbrev(5, 0x34, false, {{0x03, 0x08}, {0x02, 0x06}});
  b.Abbrev(6, 0x2e, false, {{0x03, 0x08}, {0x3c, 0x0c}});  // a declaration
  b.EndAbbrevs();
  b.BeginUnit(3);
  b.U8(1), b.Str("u.c"), b.U32(0x1000), b.U32(0x4000);
  // Covered by an FDE: CFA r13+0, then r7+8.
  b.U8(2), b.Str("f"), b.U32(0x1000), b.U32(0x1040), b.U8(1), b.U8(0x9c);
  b.U8(4), b.Str("f_single"), b.U8(2), b.U8(0x91), b.U8(0x74);  // fbreg -12
  b.U8(6), b.Str("ext"), b.U8(1);  // "extern void ext(void);" in the body
  b.U8(5), b.Str("f_list"), b.U32(0);
  b.U8(0);
  // No FDE covers it.
  b.U8(2), b.Str("g"), b.U32(0x2000), b.U32(0x2040), b.U8(1), b.U8(0x9c);
  b.U8(4), b.Str("g_single"), b.U8(2), b.U8(0x91), b.U8(0x74);
  b.U8(0);
  // The frame base comes before the address; CFA in register 40.
  b.U8(3), b.Str("h"), b.U8(1), b.U8(0x9c), b.U32(0x3000), b.U32(0x3040);
  b.U8(5), b.Str("h_list"), b.U32(0);
  b.U8(0);
  b.U8(0);
  b.EndUnit();

  const std::vector<std::uint8_t> frames = DebugFrame({{0x1000, 7}, {0x3000, 40}});
  const auto walk_with = [&](testing::LocationWalk& walk) {
    walk.Load(b, loc.bytes);
    walk.harness.image.insert(walk.harness.image.end(), frames.begin(), frames.end());
    walk.harness.elf.bytes = walk.harness.image;
    const auto at = walk.harness.image.size() - frames.size();
    walk.call_frames.LoadSection(ByteCursor(walk.harness.image, ByteOrder::kLittle)
                                     .View(at, walk.harness.image.size()),
                                 false, 0, 4);
    walk.Walk();
  };
  testing::LocationWalk walk;
  walk_with(walk);

  const SymbolRecord* f = walk.Find("f");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->regcode, 0x7d);
  EXPECT_EQ(f->regop1, 0);
  EXPECT_STREQ(f->regn, "@(.0+R13)");
  EXPECT_EQ(RowOf(*f, 0), (Row{0, 0x1000, 0x1002, 0x7d, 0, 0}));
  EXPECT_EQ(RowOf(*f, 1), (Row{0, 0x1002, 0x1040, 0x77, 8, 0}));
  EXPECT_EQ(RowOf(*f, 2), (Row{}));

  const SymbolRecord* f_single = walk.Find("f_single");
  ASSERT_NE(f_single, nullptr);
  EXPECT_EQ(f_single->ident, kIdentLocalFrame);
  EXPECT_EQ(f_single->regcode, 0x91);
  EXPECT_STREQ(f_single->regn, "@(.-12+FB)");

  // The frame-base rows replace the list's first rows; the third stays.
  const SymbolRecord* f_list = walk.Find("f_list");
  ASSERT_NE(f_list, nullptr);
  EXPECT_EQ(f_list->ident, kIdentLocalFrame);
  EXPECT_EQ(f_list->regcode, 0x91);
  EXPECT_EQ(f_list->regop1, -20);
  EXPECT_EQ(RowOf(*f_list, 0), (Row{0, 0x1000, 0x1002, 0x7d, 0, 0}));
  EXPECT_EQ(RowOf(*f_list, 1), (Row{0, 0x1002, 0x1040, 0x77, 8, 0}));
  EXPECT_EQ(RowOf(*f_list, 2), (Row{0, 0x1020, 0x1030, 0x52, 0, 0}));

  // Without an FDE nothing changes.
  const SymbolRecord* g = walk.Find("g");
  ASSERT_NE(g, nullptr);
  EXPECT_EQ(g->regcode, 0);
  EXPECT_EQ(RowOf(*g, 0), (Row{}));
  const SymbolRecord* g_single = walk.Find("g_single");
  ASSERT_NE(g_single, nullptr);
  EXPECT_EQ(g_single->regcode, 0x9c);
  EXPECT_STREQ(g_single->regn, "");

  // Registers from 32 on need DW_OP_bregx, register then offset.
  const SymbolRecord* h = walk.Find("h");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(RowOf(*h, 1), (Row{0, 0x3002, 0x3040, 0x92, 40, 8}));
  EXPECT_EQ(h->regcode, 0x7d);
  const SymbolRecord* h_list = walk.Find("h_list");
  ASSERT_NE(h_list, nullptr);
  EXPECT_EQ(RowOf(*h_list, 1), (Row{0, 0x3002, 0x3040, 0x92, 40, 8}));

  // "-l": no rows are made, as none are read from lists.
  testing::LocationWalk bare(kMachineArm, RunOptions{.no_locals = true});
  walk_with(bare);
  ASSERT_NE(bare.Find("f"), nullptr);
  EXPECT_EQ(bare.Find("f")->regcode, 0);
  EXPECT_EQ(RowOf(*bare.Find("f"), 0), (Row{}));
}

}  // namespace
}  // namespace dwarfsift
