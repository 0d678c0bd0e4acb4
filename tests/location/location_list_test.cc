// Location lists: the rows one list leaves, and the phase walk.
#include "location/location_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/input_files.h"
#include "base/run_context.h"
#include "elf/elf_image.h"
#include "location/list_bytes.h"

namespace dwarfsift {
namespace {

using testing::ListBytes;
using testing::Row;
using testing::RowOf;

constexpr std::uint32_t kPad = 16;  // .debug_loc starts here in the image

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
    std::memset(rows, 0, sizeof rows);
    run.channel.CaptureConsole(&trace);
  }
  std::uint32_t Read(std::uint32_t offset, std::uint32_t base = 0) {
    return ReadLocationList(run.channel, nullptr, source, base, rows, kPad + offset);
  }
  std::vector<std::uint8_t> image;
  LocationListSource source;
  LocationRows rows;
  RunContext run{RunOptions{.debug_trace = true}};
  std::string trace;
};

TEST(LocationList, EntriesBecomeRowsMovedByTheBase) {
  ListBytes list;
  list.Entry(0x100, 0x120, {0x51}).Entry(0x120, 0x180, {0x7d, 0x08}).End();
  ListRun run(list.bytes);
  EXPECT_EQ(run.Read(0, 0x1000), kPad + list.bytes.size());
  EXPECT_EQ(RowOf(run.rows, 0), (Row{0, 0x1100, 0x1120, 0x51, 0, 0}));
  EXPECT_EQ(RowOf(run.rows, 1), (Row{0, 0x1120, 0x1180, 0x7d, 8, 0}));
  EXPECT_EQ(RowOf(run.rows, 2), (Row{}));
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
  for (int i = 0; i < 8; ++i) EXPECT_EQ(RowOf(run.rows, i), expected[i]) << i;
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
  EXPECT_EQ(RowOf(run.rows, 47), (Row{47, 0x10, 0x20, 0x50 + 47 % 32, 0, 0}));
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
  EXPECT_EQ(RowOf(run.rows, 0), (Row{0, 0x10, 0x20, 0x70, 0, 0}));
}

TEST(LocationList, DamagedListsStayInsideTheSection) {
  {  // An expression longer than what remains: no row, the walk ends.
    ListBytes list;
    list.U32(0x10), list.U32(0x14);
    list.bytes.insert(list.bytes.end(), {0x20, 0x00, 0x51, 0x52});
    ListRun run(list.bytes, 2, 0);
    EXPECT_EQ(run.Read(0), kPad + list.bytes.size());
    EXPECT_EQ(RowOf(run.rows, 0), (Row{}));
  }
  {  // No terminating pair.
    ListBytes list;
    list.Entry(0x10, 0x14, {0x51});
    list.bytes.push_back(0);
    ListRun run(list.bytes, 2, 0);
    EXPECT_EQ(run.Read(0), kPad + list.bytes.size());
    EXPECT_EQ(RowOf(run.rows, 0), (Row{0, 0x10, 0x14, 0x51, 0, 0}));
  }
  {  // A range wider than the section ends the reading a section beyond.
    ListBytes list;
    list.Entry(0x10, 0x100000, {0x51}).End();
    ListRun run(list.bytes, 2, 0);
    EXPECT_EQ(run.Read(0), kPad + 10 + list.bytes.size());
    EXPECT_EQ(RowOf(run.rows, 0), (Row{}));
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

}  // namespace
}  // namespace dwarfsift
