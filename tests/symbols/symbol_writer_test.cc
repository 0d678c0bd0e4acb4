// The text form of a symbol record and the adjustments made while writing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "symbols/members.h"
#include "symbols/symbol_test_support.h"

namespace dwarfsift {
namespace {

using testing_support::MakeRecord;
using testing_support::WriterRig;

// Writes one record on its own and returns the text.
std::string WriteAlone(WriterRig& rig, SymbolRecord record,
                       ByteOrder order = ByteOrder::kLittle) {
  std::vector<SymbolRecord> table{record};
  WriteSymbolRecord(rig.Context(order), table, 0, RecordTableKind::kMemberArea);
  return rig.text();
}

SymbolRecord Tbl() {
  SymbolRecord r = MakeRecord("tbl", "int", kIdentVariable, kKindArray);
  r.location = 0x1000;
  r.ele_count = 1;
  r.ele[0] = 10;
  r.one_byte = 4;
  r.total_byte = 40;
  r.fstart = 0x1000;
  r.fend = 0x2000;
  return r;
}

TEST(SymbolWriter, GlobalArrayRecordIsByteExact) {
  WriterRig rig;
  rig.state.debug_trace = true;  // record lines then reach the channel too
  std::string console;
  rig.channel.CaptureConsole(&console);
  EXPECT_EQ(WriteAlone(rig, Tbl()),
            ": index[0]\r\n"
            "+ nest[0]\r\n"
            "+ name[tbl]\r\n"
            "+ location[0x1000]\r\n"
            "+ typen[int]\r\n"
            "+ ident[VARIABLE]\r\n"
            "+ kind[ARRAY ]\r\n"
            "+ ele[1 10 0 0 0 0 0]\r\n"
            "+ fstart[0x1000]\r\n"
            "+ fend[0x2000]\r\n"
            "+ one_byte[4]\r\n"
            "+ total_byte[40]\r\n"
            "=\r\n");
  EXPECT_NE(console.find("+ name[tbl]"), std::string::npos);
  EXPECT_NE(console.find("=\n"), std::string::npos);
}

TEST(SymbolWriter, EntryPositionsAddTwoLinesAfterTheIndex) {
  SymbolRecord r = Tbl();
  r.entry = 0x2A;
  r.entry2 = 0xBEEF;
  WriterRig plain;
  std::string expected = WriteAlone(plain, r);
  expected.insert(expected.find("\r\n") + 2, "+ entry[0x2A]\r\n+ entry2[0xBEEF]\r\n");
  WriterRig with_e;
  with_e.options.entry_positions = true;
  EXPECT_EQ(WriteAlone(with_e, r), expected);
}

TEST(SymbolWriter, NamelessRecordIsNotWritten) {
  WriterRig rig;
  std::vector<SymbolRecord> table{MakeRecord("", "int", kIdentVariable, 0)};
  EXPECT_FALSE(WriteSymbolRecord(rig.Context(), table, 0, RecordTableKind::kSymbolTable));
  EXPECT_FALSE(WriteSymbolRecord(rig.Context(), table, 1, RecordTableKind::kSymbolTable));
  EXPECT_EQ(rig.text(), "");
}

// Every optional line at once, to pin their order.
TEST(SymbolWriter, OptionalLinesKeepTheirOrder) {
  SymbolRecord r = MakeRecord("f", "int", kIdentLocalRegister,
                              kKindBit | kKindStruct2P | kKindStruct | kKindPointer | kKindArray);
  std::strcpy(r.struct_name, "color(enum)");
  r.nest = 2;
  r.mebtop = -1;
  r.mebend = 12;
  r.ele_count = 2;
  r.ele[0] = 3;
  r.ele[1] = 5;
  r.one_byte = 4;  // a bit field prints no sizes
  r.bit_off = 0x1C;
  r.bit_size = 4;
  r.struct_len = 24;
  std::strcpy(r.regn, "R4");
  r.regcode = 0x54;
  r.regop2 = -1;
  r.fend = 0x88;
  r.floc[0][1] = 0x80;
  r.floc[0][3] = 0x54;
  WriterRig rig;
  EXPECT_EQ(WriteAlone(rig, r),
            ": index[0]\r\n+ nest[2]\r\n+ struct[color(enum)]\r\n+ name[f]\r\n"
            "+ location[0x0]\r\n+ typen[int]\r\n+ ident[LOCAL_R]\r\n"
            "+ kind[ARRAY POINTER STRUCT STRUCT2P BIT ]\r\n+ mebtop[-1]\r\n+ mebend[12]\r\n"
            "+ ele[2 3 5 0 0 0 0]\r\n+ fstart[0x80]\r\n+ fend[0x88]\r\n"
            "+ bit_off[0x1C]\r\n+ bit_size[0x4]\r\n+ struct_len[24]\r\n"
            "+ regn[R4]\r\n+ regcode[0x54]\r\n+ regop1[0]\r\n+ regop2[-1]\r\n"
            "+ floc[0 0x80 0x0 0x54 0 0]\r\n=\r\n");
}

TEST(SymbolWriter, UnknownClassAndFlagsGiveEmptyClassAndSimple) {
  WriterRig rig;
  const std::string text = WriteAlone(rig, MakeRecord("x", "int", 3, 0x100));
  EXPECT_NE(text.find("+ ident[]\r\n+ kind[SIMPLE ]\r\n"), std::string::npos) << text;
}

TEST(SymbolWriter, BaseTypeRenames) {
  const struct {
    const char* typen;
    const char* printed;
  } cases[] = {
      {"unsigned long long", "int64"},  {"signed long long", "int64"},
      {"long long", "int64"},           {"long long int", "int64"},
      {"long long signed int", "int64"}, {"long long unsigned int", "int64"},
      {"int64_t", "int64"},             {"uint64_t", "int64"},
      {"unsigned char", "Uchar"},       {"UNSIGNED CHAR", "Uchar"},
      {"signed char", "char"},          {"unsigned short", "Ushort"},
      {"unsigned short int", "Ushort"}, {"signed short", "short"},
      {"short unsigned int", "Ushort"}, {"short int", "short"},
      {"unsigned int", "Uint"},         {"signed int", "int"},
      {"unsigned long", "Ulong"},       {"unsigned long int", "Ulong"},
      {"signed long", "long"},          {"long unsigned int", "Ulong"},
      {"Long Int", "long"},             {"", "void"},
      {"char", "char"},                 {"long double", "long double"},
      {"unsigned charx", "unsigned charx"}, {"unsigned", "unsigned"},
      {"\x82\xA0type", "\x82\xA0type"},  // only an empty name becomes void
  };
  for (const auto& c : cases) {
    WriterRig rig;
    const std::string text = WriteAlone(rig, MakeRecord("v", c.typen, kIdentVariable, 0));
    EXPECT_NE(text.find("+ typen[" + std::string(c.printed) + "]\r\n"), std::string::npos)
        << "typen \"" << c.typen << "\" gave:\n" << text;
  }
}

TEST(SymbolWriter, TwoBytePointersResizeOnlyPointers) {
  const struct {
    std::int32_t pointer_size;
    std::int32_t kind;
    std::int32_t one_byte, total_byte;  // printed
  } cases[] = {
      {2, kKindPointer | kKindArray, 2, 6},  // 3 elements of 2 bytes
      {4, kKindPointer | kKindArray, 4, 12},
      {2, kKindPointer, 2, 2},
      {2, kKindArray, 4, 12},  // not a pointer: unchanged
  };
  for (const auto& c : cases) {
    WriterRig rig;
    rig.options.pointer_size = c.pointer_size;
    SymbolRecord r = MakeRecord("p", "char", kIdentVariable, c.kind);
    r.ele_count = 1;
    r.ele[0] = 3;
    r.one_byte = 4;
    r.total_byte = 12;
    const std::string text = WriteAlone(rig, r);
    EXPECT_NE(text.find("+ one_byte[" + std::to_string(c.one_byte) + "]\r\n+ total_byte[" +
                        std::to_string(c.total_byte) + "]\r\n"),
              std::string::npos)
        << text;
  }
}

// Rows of a location list: ordinal, begin, end, operation, operand 1, 2.
void SetRow(SymbolRecord& r, int row, std::int32_t ordinal, std::int32_t begin,
            std::int32_t end, std::int32_t op, std::int32_t op1 = 0) {
  r.floc[row][0] = ordinal;
  r.floc[row][1] = begin;
  r.floc[row][2] = end;
  r.floc[row][3] = op;
  r.floc[row][4] = op1;
}

TEST(SymbolWriter, RangeFallsBackToTheLocationListInTextOnly) {
  SymbolRecord r = MakeRecord("v", "int", kIdentLocalRegister, 0);
  SetRow(r, 0, 0, 0x100, 0x120, 0x50);
  SetRow(r, 1, 0, 0x120, 0x180, 0x51);
  SetRow(r, 2, 0, 0x180, 0, 0x52);  // open end: not the last end
  std::vector<SymbolRecord> table{r};
  WriterRig rig;
  WriteSymbolRecord(rig.Context(), table, 0, RecordTableKind::kMemberArea);
  const std::string text = rig.text();
  EXPECT_NE(text.find("+ fstart[0x100]\r\n+ fend[0x180]\r\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("floc"), std::string::npos) << "no regn, no rows";
  EXPECT_EQ(table[0].fstart, 0u);
  EXPECT_EQ(table[0].fend, 0u);

  // With a register text the rows follow it, up to the first empty row.
  WriterRig with_regn;
  std::strcpy(r.regn, "R0");
  r.regcode = 0x50;
  r.fstart = 0x90;
  r.floc[1][4] = -3;
  const std::string full = WriteAlone(with_regn, r);
  EXPECT_NE(full.find("+ fstart[0x90]\r\n+ fend[0x180]\r\n"), std::string::npos) << full;
  EXPECT_NE(full.find("+ regn[R0]\r\n+ regcode[0x50]\r\n+ regop1[0]\r\n+ regop2[0]\r\n"
                      "+ floc[0 0x100 0x120 0x50 0 0]\r\n"
                      "+ floc[1 0x120 0x180 0x51 -3 0]\r\n"
                      "+ floc[2 0x180 0x0 0x52 0 0]\r\n=\r\n"),
            std::string::npos)
      << full;
}

// A 64-bit value in r0/r1 over one range and r2/r3 over another: each range
// is a register, a piece, a register, a piece.
SymbolRecord PairedRecord(std::int32_t ident) {
  SymbolRecord r = MakeRecord("w", "long long unsigned int", ident, 0);
  SetRow(r, 0, 0, 0x10, 0x20, 0x50);
  SetRow(r, 1, 0, 0x10, 0x20, 0x93, 4);
  SetRow(r, 2, 1, 0x10, 0x20, 0x51);
  SetRow(r, 3, 1, 0x10, 0x20, 0x93, 4);
  SetRow(r, 4, 0, 0x20, 0x30, 0x52);
  SetRow(r, 5, 0, 0x20, 0x30, 0x93, 4);
  SetRow(r, 6, 1, 0x20, 0x30, 0x53);
  SetRow(r, 7, 1, 0x20, 0x30, 0x93, 4);
  return r;
}

TEST(SymbolWriter, RegisterPairsMergeByByteOrder) {
  const struct {
    ByteOrder order;
    std::int32_t ident;
    std::int32_t codes[4];  // of rows 0, 2, 4 and 6 afterwards
    std::int32_t regcode;
  } cases[] = {
      {ByteOrder::kLittle, kIdentLocalRegister, {0x5150, 0x5150, 0x5352, 0x5352}, 0x5150},
      {ByteOrder::kBig, kIdentLocalRegister, {0x5051, 0x5051, 0x5253, 0x5253}, 0x5051},
      {ByteOrder::kLittle, kIdentLocalFrame, {0x5150, 0x5150, 0x5352, 0x5352}, 0x91},
      {ByteOrder::kLittle, kIdentVariable, {0x50, 0x51, 0x52, 0x53}, 0x91},  // not a local
  };
  for (const auto& c : cases) {
    std::vector<SymbolRecord> table{PairedRecord(c.ident)};
    SymbolRecord& r = table[0];
    r.regcode = 0x91;  // frame based, so the recomputed text is known
    r.regop1 = -8;
    std::strcpy(r.regn, "stale");
    WriterRig rig;
    WriteSymbolRecord(rig.Context(c.order), table, 0, RecordTableKind::kMemberArea);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(r.floc[2 * i][3], c.codes[i]) << "row " << 2 * i;
    EXPECT_EQ(r.floc[1][3], 0x93);
    EXPECT_EQ(r.regcode, c.regcode);
    // A merged pair code has no register text; a frame offset gets its text
    // back; unmerged records keep theirs.
    const bool recomputed = c.ident == kIdentLocalFrame;
    EXPECT_STREQ(r.regn, recomputed ? "@(.-8+FB)" : "stale");
    EXPECT_NE(rig.text().find("+ typen[int64]"), std::string::npos);
  }
}

TEST(SymbolWriter, RegisterPairNeedsSameRangeAndStopsAtEmptyCode) {
  SymbolRecord r = MakeRecord("w", "int64_t", kIdentLocalRegister, 0);
  SetRow(r, 0, 0, 0x10, 0x20, 0x50);
  SetRow(r, 1, 0, 0x10, 0x20, 0x93, 4);
  SetRow(r, 2, 1, 0x11, 0x20, 0x51);  // another range: no partner of row 0
  SetRow(r, 3, 1, 0x11, 0x20, 0x93, 4);
  SetRow(r, 4, 0, 0x20, 0x30, 0);     // the scan ends here
  SetRow(r, 5, 0, 0x20, 0x30, 0x52);
  SetRow(r, 6, 0, 0x20, 0x30, 0x93, 4);
  SetRow(r, 7, 1, 0x20, 0x30, 0x53);
  std::vector<SymbolRecord> table{r};
  WriterRig rig;
  WriteSymbolRecord(rig.Context(), table, 0, RecordTableKind::kMemberArea);
  EXPECT_EQ(table[0].floc[0][3], 0x50);
  EXPECT_EQ(table[0].floc[2][3], 0x51);
  EXPECT_EQ(table[0].floc[5][3], 0x52);
  EXPECT_EQ(table[0].floc[7][3], 0x53);
  EXPECT_EQ(table[0].regcode, 0);
}

struct BitField {
  std::int32_t location, bit_off, one_byte;
  std::uint8_t fixed;
};

std::vector<SymbolRecord> BitRun(std::initializer_list<BitField> fields) {
  std::vector<SymbolRecord> table;
  for (const BitField& f : fields) {
    SymbolRecord r = MakeRecord("b", "unsigned int", kIdentMember, kKindBit);
    r.location = f.location;
    r.bit_off = f.bit_off;
    r.one_byte = f.one_byte;
    r.bit_size = 3;
    r.bit_fixed = f.fixed;
    table.push_back(r);
  }
  return table;
}

TEST(SymbolWriter, BitFieldAdjustment) {
  const struct {
    const char* what;
    std::vector<SymbolRecord> table;
    std::vector<BitField> after;
  } cases[] = {
      {"16-bit halves of a word",
       BitRun({{0, 20, 4, 0}, {0, 17, 4, 0}, {4, 16, 4, 0}, {0, 3, 4, 0}}),
       {{2, 4, 4, 255}, {2, 1, 4, 255}, {4, 16, 4, 255}, {0, 3, 4, 0}}},
      {"32-bit halves of a double word",
       BitRun({{0, 40, 8, 0}, {0, 33, 8, 0}, {8, 35, 8, 0}, {0, 20, 8, 0}}),
       {{4, 8, 8, 255}, {4, 1, 8, 255}, {8, 35, 8, 255}, {0, 20, 8, 0}}},
      {"low half of a double word",
       BitRun({{4, 5, 8, 0}, {8, 10, 8, 0}, {0, 7, 8, 0}, {4, 40, 8, 0}, {4, 2, 8, 0}}),
       {{4, 37, 8, 255}, {4, 10, 8, 255}, {0, 39, 8, 255}, {4, 40, 8, 255}, {4, 34, 8, 255}}},
      {"only fixed records would trigger",
       BitRun({{0, 20, 4, 0}, {4, 17, 4, 255}}),
       {{0, 20, 4, 0}, {4, 17, 4, 255}}},
      {"own fixed mark does not stop it",
       BitRun({{0, 20, 4, 255}, {4, 17, 4, 0}}),
       {{2, 4, 4, 255}, {4, 17, 4, 255}}},
  };
  for (const auto& c : cases) {
    std::vector<SymbolRecord> table = c.table;
    WriterRig rig;
    WriteSymbolRecord(rig.Context(), table, 0, RecordTableKind::kMemberArea);
    for (std::size_t i = 0; i < c.after.size(); ++i) {
      EXPECT_EQ(table[i].location, c.after[i].location) << c.what << " record " << i;
      EXPECT_EQ(table[i].bit_off, c.after[i].bit_off) << c.what << " record " << i;
      EXPECT_EQ(table[i].bit_fixed, c.after[i].fixed) << c.what << " record " << i;
    }
  }
}

// The MEB file is written from compact stored members, turned back into
// full records a run at a time: what writing one record does to the records
// after it must reach them as it does in one table.
TEST(SymbolWriter, MemberFileAdjustsRunsAsOneTableDoes) {
  std::vector<SymbolRecord> table =
      BitRun({{4, 5, 8, 0}, {8, 10, 8, 0}, {0, 7, 8, 0}, {4, 40, 8, 0}, {4, 2, 8, 0}});
  table.push_back(MakeRecord("plain", "int", kIdentMember, 0));
  for (const SymbolRecord& r : BitRun({{0, 20, 4, 0}, {0, 17, 4, 0}, {4, 16, 4, 0}})) {
    table.push_back(r);
  }
  SymbolMemberArea area;
  ASSERT_TRUE(area.Create());
  for (const SymbolRecord& r : table) {
    MemberRecord m{};
    m.name = area.KeepText(r.name);
    m.typen = area.KeepText(r.typen);
    m.struct_name = "";
    m.ident = r.ident;
    m.kind = r.kind;
    m.location = r.location;
    m.bit_off = r.bit_off;
    m.bit_size = r.bit_size;
    m.one_byte = r.one_byte;
    ASSERT_TRUE(area.Append(m));
  }
  WriterRig whole;
  for (std::size_t i = 0; i < table.size(); ++i) {
    WriteSymbolRecord(whole.Context(), table, i, RecordTableKind::kMemberArea);
  }
  WriterRig meb;
  GetDebugMemberAll(meb.Context(), area);
  EXPECT_EQ(meb.text(), whole.text());
  EXPECT_NE(whole.text().find("+ bit_off[0x22]"), std::string::npos) << "a run was adjusted";
}

TEST(SymbolWriter, BitFieldRunEndsAtANonBitRecordAndAtTheMemberLimit) {
  {
    std::vector<SymbolRecord> table = BitRun({{0, 20, 4, 0}, {0, 0, 4, 0}, {4, 17, 4, 0}});
    table[1].kind = 0;
    WriterRig rig;
    WriteSymbolRecord(rig.Context(), table, 0, RecordTableKind::kMemberArea);
    EXPECT_EQ(table[0].bit_off, 20);
    EXPECT_NE(rig.text().find("+ location[0x0]\r\n"), std::string::npos);
    EXPECT_NE(rig.text().find("+ bit_off[0x14]\r\n+ bit_size[0x3]\r\n=\r\n"),
              std::string::npos)
        << rig.text();
  }
  // A member-area record at 8191 has no run; one at 8190 has 8191 in its run.
  std::vector<SymbolRecord> area(8193, BitRun({{0, 0, 0, 0}})[0]);
  const BitField base{0, 20, 4, 0}, trigger{4, 17, 4, 0};
  for (std::size_t index : {std::size_t{8190}, std::size_t{8191}}) {
    for (std::size_t i : {index, index + 1}) {
      const BitField& f = i == index ? base : trigger;
      area[i].location = f.location;
      area[i].bit_off = f.bit_off;
      area[i].one_byte = f.one_byte;
      area[i].bit_fixed = 0;
    }
    WriterRig rig;
    WriteSymbolRecord(rig.Context(), area, index, RecordTableKind::kMemberArea);
    EXPECT_EQ(area[index].bit_off, index == 8190 ? 4 : 20) << index;
    EXPECT_NE(rig.text().find(": index[" + std::to_string(index) + "]"), std::string::npos);
  }
}

}  // namespace
}  // namespace dwarfsift
