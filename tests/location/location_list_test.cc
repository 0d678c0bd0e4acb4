// Location lists: the rows one list leaves in a record, the phase walk, and
// lists applied to variables, parameters and frame bases through a unit walk.
#include "location/location_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/input_files.h"
#include "base/run_context.h"
#include "elf/elf_image.h"
#include "location/call_frame.h"
#include "location/location_walk.h"
#include "symbols/symbol_record.h"

namespace dwarfsift {
namespace {

constexpr std::uint32_t kPad = 16;  // .debug_loc starts here in the image

// Little-endian list bytes with 4-byte addresses.
class ListBytes {
 public:
  ListBytes& Entry(std::uint32_t begin, std::uint32_t end,
                   std::initializer_list<std::uint8_t> expression, int length_width = 2) {
    U32(begin), U32(end);
    const auto n = static_cast<std::uint32_t>(expression.size());
    bytes.push_back(static_cast<std::uint8_t>(n));
    if (length_width == 2) bytes.push_back(static_cast<std::uint8_t>(n >> 8));
    bytes.insert(bytes.end(), expression);
    return *this;
  }
  ListBytes& End() {
    U32(0), U32(0);
    return *this;
  }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::vector<std::uint8_t> bytes;
};

// A list's ranges must not be wider than the section: `room` zero bytes
// follow the lists, as other lists would in a real file.
struct ListRun {
  explicit ListRun(const std::vector<std::uint8_t>& loc, int length_width = 2,
                   std::size_t room = 0x200) {
    image.assign(kPad, 0);
    image.insert(image.end(), loc.begin(), loc.end());
    image.resize(image.size() + room, 0);
    source.section = ByteCursor(image, ByteOrder::kLittle)
                         .View(kPad, kPad + loc.size() + room);
    source.length_width = length_width;
    source.target.machine = kMachineArm;
    std::memset(&record, 0, sizeof record);
    run.channel.CaptureConsole(&trace);
  }
  std::uint32_t Read(std::uint32_t offset, std::uint32_t base = 0) {
    return ReadLocationList(run.channel, nullptr, source, base, record, kPad + offset);
  }
  std::vector<std::uint8_t> image;
  LocationListSource source;
  SymbolRecord record;
  RunContext run{RunOptions{.debug_trace = true}};
  std::string trace;
};

using Row = std::array<std::int32_t, kLocationColumns>;
Row RowOf(const SymbolRecord& r, int i) {
  Row row;
  std::copy(std::begin(r.floc[i]), std::end(r.floc[i]), row.begin());
  return row;
}

TEST(LocationList, EntriesBecomeRowsMovedByTheBase) {
  ListBytes list;
  list.Entry(0x100, 0x120, {0x51}).Entry(0x120, 0x180, {0x7d, 0x08}).End();
  ListRun run(list.bytes);
  EXPECT_EQ(run.Read(0, 0x1000), kPad + list.bytes.size());
  EXPECT_EQ(RowOf(run.record, 0), (Row{0, 0x1100, 0x1120, 0x51, 0, 0}));
  EXPECT_EQ(RowOf(run.record, 1), (Row{0, 0x1120, 0x1180, 0x7d, 8, 0}));
  EXPECT_EQ(RowOf(run.record, 2), (Row{}));
  EXPECT_EQ(run.trace,
            "/[0x0000] beginning[0x00001100] ending[0x00001120] DW_OP_regn(0x51)        R1\n"
            "/[0x000B] beginning[0x00001120] ending[0x00001180] DW_OP_bregn(0x7D)[8]   "
            "@(.8+R13)\n");
}

TEST(LocationList, PiecesDerefAndPlusUconstShapeTheRows) {
  ListBytes list;
  list.Entry(0x10, 0x20, {0x71, 0x04, 0x23, 0x08})                  // breg1 4, plus_uconst 8
      .Entry(0x20, 0x30, {0x51, 0x93, 0x04, 0x52, 0x93, 0x04})       // reg1 piece reg2 piece
      .Entry(0x30, 0x40, {0x23, 0x05, 0x72, 0x00, 0x06, 0x93, 0x02})  // plus first, deref
      .End();
  ListRun run(list.bytes);
  run.Read(0);
  const Row expected[] = {
      {0, 0x10, 0x20, 0x71, 12, 0}, {0, 0x20, 0x30, 0x51, 0, 0}, {1, 0x20, 0x30, 0x93, 4, 0},
      // An entry that starts with plus_uconst adds it to the row before.
      {2, 0x20, 0x30, 0x52, 0, 0},  {3, 0x20, 0x30, 0x93, 9, 0}, {0, 0x30, 0x40, 0x72, 0, 0},
      {1, 0x30, 0x40, 0x93, 2, 0},  {},
  };
  for (int i = 0; i < 8; ++i) EXPECT_EQ(RowOf(run.record, i), expected[i]) << i;
  EXPECT_NE(run.trace.find("\n/[------] beginning[----------] ending[----------] "
                           "DW_OP_plus_uconst(0x23)[0x8] \n"),
            std::string::npos);
}

TEST(LocationList, OnlyFortyEightRowsAreKeptButAllAreTraced) {
  std::vector<std::uint8_t> ops;
  for (int i = 0; i < 50; ++i) ops.push_back(static_cast<std::uint8_t>(0x50 + i % 32));
  ListBytes list;
  list.U32(0x10), list.U32(0x20);
  list.bytes.insert(list.bytes.end(), {50, 0});
  list.bytes.insert(list.bytes.end(), ops.begin(), ops.end());
  list.End();
  ListRun run(list.bytes);
  EXPECT_EQ(run.Read(0), kPad + list.bytes.size());
  EXPECT_EQ(RowOf(run.record, 47), (Row{47, 0x10, 0x20, 0x50 + 47 % 32, 0, 0}));
  EXPECT_NE(run.trace.find("DW_OP_regn(0x61)        R17\n"), std::string::npos);  // op 49
}

TEST(LocationList, LengthWidthFollowsExtensionMachineAndVersion) {
  struct Case {
    std::uint32_t kind, machine, version;
    int width;
  };
  const Case cases[] = {
      {kInputKindAbs, kMachineRx, 2, 2}, {kInputKindAbs, kMachineSh, 3, 2},
      {kInputKindAbs, kMachineSh, 2, 1}, {kInputKindAbs, kMachineArm, 4, 1},
      {kInputKindOut, kMachineRx, 2, 2}, {kInputKindOut, kMachineSh, 3, 1},
      {kInputKindElf, kMachineSh, 2, 2}, {kInputKindX, kMachineArm, 2, 2},
      {0, kMachineArm, 2, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LocationLengthWidth(c.kind, c.machine, c.version), c.width)
        << c.kind << " " << c.machine << " " << c.version;
  }
  // The same entry read with a one-byte length.
  ListBytes narrow;
  narrow.Entry(0x10, 0x20, {0x70, 0x00}, 1).End();
  ListRun run(narrow.bytes, 1);
  EXPECT_EQ(run.Read(0), kPad + narrow.bytes.size());
  EXPECT_EQ(RowOf(run.record, 0), (Row{0, 0x10, 0x20, 0x70, 0, 0}));
}

TEST(LocationList, DamagedListsStayInsideTheSection) {
  {  // An expression longer than what remains: no row, the walk ends.
    ListBytes list;
    list.U32(0x10), list.U32(0x14);
    list.bytes.insert(list.bytes.end(), {0x20, 0x00, 0x51, 0x52});
    ListRun run(list.bytes, 2, 0);
    EXPECT_EQ(run.Read(0), kPad + list.bytes.size());
    EXPECT_EQ(RowOf(run.record, 0), (Row{}));
  }
  {  // No terminating pair.
    ListBytes list;
    list.Entry(0x10, 0x14, {0x51});
    list.bytes.push_back(0);
    ListRun run(list.bytes, 2, 0);
    EXPECT_EQ(run.Read(0), kPad + list.bytes.size());
    EXPECT_EQ(RowOf(run.record, 0), (Row{0, 0x10, 0x14, 0x51, 0, 0}));
  }
  {  // A range wider than the section ends the reading a section beyond.
    ListBytes list;
    list.Entry(0x10, 0x100000, {0x51}).End();
    ListRun run(list.bytes, 2, 0);
    EXPECT_EQ(run.Read(0), kPad + 10 + list.bytes.size());
    EXPECT_EQ(RowOf(run.record, 0), (Row{}));
  }
}

TEST(LocationList, ThePhaseTracesEveryListUnlessLocalsAreDropped) {
  ListBytes lists;
  lists.Entry(0x10, 0x20, {0x51}).End().Entry(0x20, 0x30, {0x9c}).End();
  ListRun run(lists.bytes, 2, 0);
  EXPECT_EQ(GetDebugLocAll(run.run.channel, nullptr, run.source), kPad + lists.bytes.size());
  EXPECT_EQ(run.trace,
            "/.debug_loc Section[0]\n"
            "/[0x0000] beginning[0x00000010] ending[0x00000020] DW_OP_regn(0x51)        R1\n"
            "/.debug_loc Section[1]\n"
            "/[0x0013] beginning[0x00000020] ending[0x00000030] DW_OP_call_frame_cfa(0x9C)\n");

  ListRun quiet(lists.bytes, 2, 0);
  quiet.source.no_locals = true;
  EXPECT_EQ(GetDebugLocAll(quiet.run.channel, nullptr, quiet.source), kPad + lists.bytes.size());
  EXPECT_EQ(quiet.trace, "");

  ListRun absent({});
  absent.source.section = ByteCursor();
  EXPECT_EQ(GetDebugLocAll(absent.run.channel, nullptr, absent.source), 0u);
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
