// The line-number phase on hand-assembled .debug_line units: one case per
// edge of the state machine, the row recording and the file lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "base/output_file.h"
#include "base/run_context.h"
#include "lines/line_program.h"

namespace dwarfsift {
namespace {

using Bytes = std::vector<std::uint8_t>;

// line_base -5 and line_range 14, as the GNU assembler writes them.
constexpr int kLineBase = -5, kLineRange = 14;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}
Bytes Uleb(std::uint32_t v) {
  Bytes b;
  do {
    b.push_back((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
    v >>= 7;
  } while (v != 0);
  return b;
}
Bytes Sleb(std::int32_t v) {
  Bytes b;
  for (bool more = true; more;) {
    const std::uint8_t byte = v & 0x7F;
    v >>= 7;
    more = !((v == 0 && !(byte & 0x40)) || (v == -1 && (byte & 0x40)));
    b.push_back(byte | (more ? 0x80 : 0));
  }
  return b;
}
Bytes Le32(std::uint32_t v) { return {Bytes::value_type(v), Bytes::value_type(v >> 8),
                                      Bytes::value_type(v >> 16), Bytes::value_type(v >> 24)}; }
Bytes Str(const std::string& s) { Bytes b(s.begin(), s.end()); b.push_back(0); return b; }

// The opcodes, little-endian operands.
Bytes SetAddress(std::uint32_t a) { return Cat({{0, 5, 2}, Le32(a)}); }
const Bytes kEnd = {0, 1, 1};
const Bytes kCopy = {1};
Bytes AdvancePc(std::uint32_t n) { return Cat({{2}, Uleb(n)}); }
Bytes AdvanceLine(std::int32_t n) { return Cat({{3}, Sleb(n)}); }
Bytes SetFile(std::uint32_t n) { return Cat({{4}, Uleb(n)}); }
// A special opcode for opcode_base `base`: line += dl, address += da.
Bytes Special(int dl, int da, int base = 13) {
  return {Bytes::value_type(base + (dl - kLineBase) + kLineRange * da)};
}

struct File {
  std::string name;
  std::uint32_t dir = 0;
};

// One line-number unit in the little-endian 32-bit layout of `version`.
struct Unit {
  std::uint16_t version = 3;
  std::uint8_t opcode_base = 13;
  std::vector<std::string> dirs;
  std::vector<File> files;
  Bytes program;
  std::uint8_t min_length = 1;
  std::uint8_t line_range = kLineRange;
  bool tables = true;   // false: header_length ends before the tables
  std::int64_t length_delta = 0;  // added to the true unit_length
  // Version 5: the tables as given here replace those made of `dirs` and
  // `files` (empty: made of them, directory 0 being "." and `files`
  // starting with file 0).
  Bytes v5_tables;

  Bytes Build() const {
    static const std::uint8_t kLengths[] = {0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1};
    Bytes after_length = {min_length};
    if (version >= 4) after_length.push_back(1);  // maximum_operations_per_instruction
    after_length.insert(after_length.end(), {1, Bytes::value_type(kLineBase), line_range,
                                             opcode_base});
    for (int i = 1; i < opcode_base; ++i) after_length.push_back(i <= 12 ? kLengths[i - 1] : 2);
    Bytes tables_bytes;
    if (version == 5) {
      tables_bytes = v5_tables;
      if (tables_bytes.empty()) {
        // Directories: path as a string; files: path, directory index.
        tables_bytes = Cat({{1, 1, 0x08}, Uleb(dirs.size() + 1), Str(".")});
        for (const std::string& d : dirs) tables_bytes = Cat({tables_bytes, Str(d)});
        tables_bytes = Cat({tables_bytes, {2, 1, 0x08, 2, 0x0F}, Uleb(files.size())});
        for (const File& f : files) tables_bytes = Cat({tables_bytes, Str(f.name), Uleb(f.dir)});
      }
    } else {
      for (const std::string& d : dirs) tables_bytes = Cat({tables_bytes, Str(d)});
      tables_bytes.push_back(0);
      for (const File& f : files) {
        tables_bytes = Cat({tables_bytes, Str(f.name), Uleb(f.dir), {0, 0}});
      }
      tables_bytes.push_back(0);
    }
    const std::size_t header_length = after_length.size() + (tables ? tables_bytes.size() : 0);
    const Bytes sizes = version == 5 ? Bytes{4, 0} : Bytes{};  // address, segment selector
    Bytes body = Cat({{Bytes::value_type(version), Bytes::value_type(version >> 8)}, sizes,
                      Le32(static_cast<std::uint32_t>(header_length)), after_length,
                      tables_bytes, program});
    if (!tables) body.resize(body.size() - program.size() - tables_bytes.size());
    if (!tables) body = Cat({body, program});
    return Cat({Le32(static_cast<std::uint32_t>(body.size() + length_delta)), body});
  }
};

struct LineRun {
  std::string lxx;  // CR LF turned back into "\n"
  std::uint32_t count = 0;
  std::uint32_t result = 0;
};

LineRun RunLines(const Bytes& section, std::initializer_list<bool RunOptions::*> flags = {},
                 bool directory_info = true) {
  Bytes image(16, 0xEE);  // the section must not lie at file offset 0
  image.insert(image.end(), section.begin(), section.end());
  image.insert(image.end(), 8, 0xEE);  // bytes after the section stay unread
  ElfImage elf;
  elf.bytes = image;
  const auto size = static_cast<std::uint32_t>(section.size());
  elf.debug_line = {1, 16, size, 16, 16 + size};
  RunOptions options;
  for (bool RunOptions::*flag : flags) options.*flag = true;
  options.directory_info = directory_info;
  options.echo_trace = false;
  RunContext run(options);
  std::string console;  // record lines are echoed while tracing
  run.channel.CaptureConsole(&console);
  OutputFile lxx;
  lxx.CreateInMemory();
  LineRun out;
  out.result = GetDebugLineAll(lxx, elf, DwarfParameters{}, run);
  for (const char c : lxx.memory()) {
    if (c != '\r') out.lxx.push_back(c);
  }
  out.count = run.counters.line_count;
  return out;
}

// The unit most cases use: directory "src", files a.h and main.c.
Unit Plain(Bytes program) {
  Unit u;
  u.dirs = {"src"};
  u.files = {{"a.h", 1}, {"main.c", 1}};
  u.program = std::move(program);
  return u;
}
const std::string kHead = "#LNE_start_sequence#\n-****  src\n+****  main.c\n";
const std::string kTail = "$LNE_end_sequence=\n";

struct Case {
  const char* what;
  std::vector<Unit> units;
  std::string expected;
  std::initializer_list<bool RunOptions::*> flags = {};
  bool directory_info = true;
};

TEST(LineProgram, EdgeCases) {
  Unit v4 = Plain(Cat({SetAddress(0x100), AdvanceLine(9), kCopy, Special(2, 3), kEnd}));
  v4.version = 4;
  Unit v5 = Plain(Cat({SetAddress(0x500), kCopy, kEnd}));
  v5.version = 6;
  Unit cpp;
  cpp.files = {{"x.h"}, {"y.cpp"}};
  cpp.program = Cat({SetAddress(4), kCopy, kEnd});
  Unit headers_only = cpp;
  headers_only.files = {{"x.h"}, {"y.hpp"}};
  Unit windows;
  windows.files = {{"C:\\src\\main.c"}};
  windows.program = Cat({SetFile(1), SetAddress(4), kCopy, kEnd});
  Unit no_tables = Plain(Cat({SetAddress(8), kCopy, kEnd}));
  no_tables.tables = false;
  Unit over_dir = Plain(Cat({kEnd}));
  over_dir.files = {{"m.s", 7}};
  Unit base10 = Plain(Cat({SetAddress(0x10), AdvanceLine(9), {12}, kCopy, kEnd}));
  base10.opcode_base = 10;
  Unit no_range = Plain(Cat({SetAddress(0x10), {20}, {8}, AdvanceLine(10), kCopy, kEnd}));
  no_range.line_range = 0;
  Unit min4 = Plain(Cat({AdvancePc(2), kCopy, Special(1, 1), {8}, {9, 4, 0}, kCopy, kEnd}));
  min4.min_length = 4;

  const Case cases[] = {
      {"a special opcode that lowers the line records no row; a copy does",
       {Plain(Cat({SetAddress(0x10), AdvanceLine(9), Special(0, 0), Special(-2, 2), kCopy,
                   kEnd}))},
       kHead + "+0x00000012     8\n+0x00000010    10\n" + kTail},
      {"the first address of a line wins for special rows; copies add the others",
       {Plain(Cat({SetAddress(0x10), AdvanceLine(4), Special(0, 0), Special(0, 2), kCopy,
                   AdvancePc(2), kCopy, Special(1, 1), kEnd}))},
       kHead + "+0x00000010     5\n+0x00000012     5\n+0x00000014     5\n"
               "+0x00000015     6\n" + kTail},
      {"with -i each line keeps its first address only",
       {Plain(Cat({SetAddress(0x10), AdvanceLine(4), Special(0, 0), Special(0, 2), kCopy,
                   AdvancePc(2), kCopy, Special(1, 1), kEnd}))},
       kHead + "+0x00000010     5\n+0x00000015     6\n" + kTail,
       {&RunOptions::inline_delete}},
      {"end row one line past the largest, unless a row has the end address; "
       "line 1 is the base again, the address goes on",
       {Plain(Cat({SetAddress(0x20), AdvanceLine(9), kCopy, AdvanceLine(10), Special(0, 4),
                   Special(-5, 2), AdvancePc(6), kEnd, Special(1, 0), kEnd}))},
       kHead + "+0x00000020    10\n+0x00000024    20\n+0x0000002C    21\n"
               "+0x0000002C     2\n" + kTail},
      {"rows still pending at the unit end are dropped; the next unit starts empty",
       {Plain(Cat({SetAddress(0x10), kCopy})), Plain(Cat({SetAddress(0x40), Special(2, 0), kEnd}))},
       kHead + kTail + kHead + "+0x00000040     3\n" + kTail},
      {"set_file writes the source file's line until rows are pending, then flushes "
       "and stops; an index past the table gives the over-index line",
       {Plain(Cat({SetFile(1), SetFile(3), SetAddress(0x10), kCopy, SetFile(1), Special(1, 1),
                   SetFile(2), kEnd}))},
       kHead + "-****  src\n+****  main.c\n/****  SrcNameOverIndex(3) Regs(2)\n"
               "+0x00000010     1\n+0x00000011     2\n" + kTail},
      {"no row for line 0; any other 32-bit line in line order, a second address "
       "after the first; no end row past 0xFFFFFFFF",
       {Plain(Cat({SetAddress(0x10), AdvanceLine(-1), kCopy, AdvanceLine(-1), kCopy,
                   AdvanceLine(2000001), kCopy, AdvancePc(2), kCopy, AdvanceLine(-1900000),
                   kCopy, AdvanceLine(-1), Special(0, 1), AdvancePc(1), kEnd}))},
       kHead + "+0x00000013 99999\n+0x00000012 100000\n+0x00000010 2000000\n"
               "+0x00000012 2000000\n+0x00000010 4294967295\n" + kTail},
      {"an extended opcode other than end and set_address is skipped whole",
       {Plain(Cat({SetAddress(0x10), {0, 2, 4, 0x05}, {0, 3, 0x80, 1, 2}, kCopy, kEnd}))},
       kHead + "+0x00000010     1\n" + kTail},
      {"a version 4 header carries maximum_operations_per_instruction",
       {v4}, kHead + "+0x00000100    10\n+0x00000103    12\n" + kTail},
      {"standard opcodes 10 to opcode_base-1 are skipped with their operands",
       {Plain(Cat({SetAddress(0x10), {10}, {11}, {12, 0x81, 0x01}, AdvanceLine(1), kCopy, kEnd}))},
       kHead + "+0x00000010     2\n" + kTail},
      {"with opcode_base 10 the opcode 10 is special",
       {base10}, kHead + "+0x00000010     7\n" + kTail},
      {"a version 6 unit is skipped by its length; the next one is read",
       {v5, Plain(Cat({SetAddress(0x600), kCopy, kEnd}))},
       kHead + "+0x00000600     1\n" + kTail},
      {"C++ sources name the unit; headers alone give no file line",
       {cpp, headers_only},
       "#LNE_start_sequence#\n+****  y.cpp\n+0x00000004     1\n" + kTail +
           "#LNE_start_sequence#\n+0x00000004     1\n" + kTail},
      {"a path with directory index 0 adds its directory; -r makes it a comment",
       {windows},
       "#LNE_start_sequence#\n/****  C:\\src\n+****  main.c\n/****  C:\\src\n+****  main.c\n"
       "+0x00000004     1\n" + kTail, {}, false},
      {"without tables the first file line is the over-index line",
       {no_tables}, "#LNE_start_sequence#\n/****  SrcNameOverIndex(1) Regs(0)\n"
                    "+0x00000008     1\n" + kTail},
      {"a directory index past the table",
       {over_dir}, "#LNE_start_sequence#\n/****  DirNameOverIndex(7) Regs(1)\n+****  m.s\n" + kTail},
      {"a line_range of 0 divides nothing",
       {no_range}, kHead + "+0x00000010     6\n" + kTail},
      {"minimum_instruction_length multiplies every address step but fixed_advance_pc",
       {min4}, kHead + "+0x00000008     1\n+0x0000000C     2\n+0x00000054     2\n"
                       "+0x00000054     3\n" + kTail},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes section;
    for (const Unit& u : c.units) section = Cat({section, u.Build()});
    const LineRun run = RunLines(section, c.flags, c.directory_info);
    EXPECT_EQ(run.lxx, c.expected);
    std::uint32_t rows = 0;
    for (auto at = run.lxx.find("+0x"); at != std::string::npos; at = run.lxx.find("+0x", at + 1)) {
      ++rows;
    }
    EXPECT_EQ(run.count, rows);
    EXPECT_EQ(run.result, 16 + section.size());
  }
}

// "-f": every file of every unit is registered once (names compared without
// regard to case); the ones that never got a file line end the file as empty
// blocks, in registration order, with their directory unless it is empty.
TEST(LineProgram, AllIncludesRegistersFilesAndWritesEmptyBlocks) {
  Unit first = Plain(kEnd);
  first.files = {{"a.h", 1}, {"main.c", 1}, {"y.c", 1}};
  Unit second;
  second.files = {{"A.H"}, {"b.h"}, {"Y.C"}};
  second.program = kEnd;
  const Bytes section = Cat({first.Build(), second.Build()});
  const std::string blocks = kHead + kTail + "#LNE_start_sequence#\n+****  Y.C\n" + kTail;
  EXPECT_EQ(RunLines(section).lxx, blocks);
  for (const bool directory_info : {true, false}) {
    EXPECT_EQ(RunLines(section, {&RunOptions::all_includes}, directory_info).lxx,
              (directory_info ? blocks : "#LNE_start_sequence#\n/****  src\n+****  main.c\n" +
                                             kTail + "#LNE_start_sequence#\n+****  Y.C\n" + kTail) +
                  "#LNE_start_sequence#\n" + (directory_info ? "-" : "/") +
                  "****  src\n+****  a.h\n" + kTail + "#LNE_start_sequence#\n+****  b.h\n" + kTail);
  }
}

// Damaged sections: a unit_length past the section end, and every cut of an
// intact section. Nothing outside the section is read (the bytes after it
// would decode as opcodes), and each written row is counted.
TEST(LineProgram, DamagedSectionsStayInside) {
  Unit longer = Plain(Cat({SetAddress(0x10), kCopy, kEnd}));
  longer.length_delta = 1000;
  EXPECT_EQ(RunLines(longer.Build()).lxx, kHead + "+0x00000010     1\n" + kTail);

  Unit v4 = Plain(Cat({SetAddress(0x100), AdvanceLine(9), kCopy, Special(2, 3), {10}, kEnd}));
  v4.version = 4;
  const Bytes intact = Cat({Plain(Cat({SetAddress(0x10), kCopy, SetFile(2), kEnd})).Build(),
                            v4.Build()});
  std::mt19937 random(3);
  for (std::size_t n = 0; n <= intact.size() + 300; ++n) {
    // Every cut, then random bytes (never the 0xEE outside) written over the
    // intact section.
    Bytes damaged(intact.begin(), intact.begin() + std::min(n, intact.size()));
    for (std::size_t k = intact.size(); k < n && k < intact.size() + 4; ++k) {
      damaged[random() % damaged.size()] = static_cast<std::uint8_t>(random() % 0xEE);
    }
    const LineRun run = RunLines(damaged, {&RunOptions::debug_trace, &RunOptions::all_includes});
    EXPECT_EQ(run.result, n == 0 ? 16u : 16u + damaged.size()) << n;
    std::uint32_t rows = 0;
    for (auto at = run.lxx.find("\n+0x"); at != std::string::npos; at = run.lxx.find("\n+0x", at + 1)) {
      ++rows;
    }
    EXPECT_EQ(run.count, rows) << n;
    EXPECT_EQ(run.lxx.find("0xEE"), std::string::npos) << n;
  }
}

TEST(LineProgram, NoSectionWritesNothing) {
  ElfImage elf;
  RunContext run;
  OutputFile lxx;
  lxx.CreateInMemory();
  EXPECT_EQ(GetDebugLineAll(lxx, elf, DwarfParameters{}, run), 0u);
  elf.debug_line = {3, 0, 4, 0, 4};  // at file offset 0: taken as absent
  const Bytes image = Plain(kEnd).Build();
  elf.bytes = image;
  EXPECT_EQ(GetDebugLineAll(lxx, elf, DwarfParameters{}, run), 0u);
  EXPECT_EQ(lxx.memory(), "");
}

// A version 5 unit gives the LXX lines its version 4 twin gives: file 0 is
// the primary file, repeated as file 1 by the assemblers or not; where file
// 1 is a header, the file switches are made where the file of the rows
// changes. Tables that cannot be read leave the unit without files.
TEST(LineProgram, Version5UnitsReadLikeTheirOlderTwins) {
  // The rows in the header come below those before them: a file switch,
  // which writes the rows so far, shows in their order.
  const Bytes rows = Cat({SetAddress(0x10), AdvanceLine(9), kCopy, Special(2, 4)});
  const Bytes header_rows = Cat({AdvanceLine(-10), kCopy});
  Unit four = Plain(Cat({rows, SetFile(2), header_rows, SetFile(1), Special(1, 2), kEnd}));
  four.version = 4;
  four.dirs = {"src"};
  four.files = {{"main.c", 1}, {"a.h", 1}};
  Unit repeated = four;  // file 0 repeated as file 1, as the GNU assembler writes
  repeated.version = 5;
  repeated.files = {{"main.c", 1}, {"main.c", 1}, {"a.h", 1}};
  Unit primary_by_path = repeated;  // file 0 by a path under directory 0
  primary_by_path.files[0] = {"src/main.c", 0};
  Unit header_first = repeated;  // file 1 a header: the program switches elsewhere
  header_first.files = {{"main.c", 1}, {"a.h", 1}, {"main.c", 1}};
  header_first.program =
      Cat({SetFile(2), rows, SetFile(1), header_rows, SetFile(2), Special(1, 2), kEnd});
  Unit bad_form = repeated;  // a file path in a form no table may use
  bad_form.v5_tables = {1, 1, 0x08, 1, '.', 0, 1, 1, 0x21, 1, 0};
  Unit no_files = four;
  no_files.files = {};

  const std::string expected = RunLines(four.Build()).lxx;
  ASSERT_NE(expected.find("+****  main.c"), std::string::npos);
  for (const Unit* twin : {&repeated, &primary_by_path, &header_first}) {
    EXPECT_EQ(RunLines(twin->Build()).lxx, expected);
    EXPECT_EQ(RunLines(twin->Build(), {&RunOptions::all_includes}).lxx,
              RunLines(four.Build(), {&RunOptions::all_includes}).lxx);
  }
  EXPECT_EQ(RunLines(bad_form.Build()).lxx, RunLines(no_files.Build()).lxx);
}

// "-d": the header, the tables and every opcode are traced between the
// records; without the trace lines the file is the same as without "-d".
TEST(LineProgram, TraceTexts) {
  Unit v5 = Plain(kEnd);
  v5.version = 6;
  Unit u = Plain(Cat({SetFile(2), {5, 3}, SetAddress(0x10), AdvanceLine(9), kCopy, AdvancePc(2),
                      {9, 4, 0}, {6}, {7}, {8}, {10}, {12, 0x81, 0x01}, Special(-1, 1), kCopy,
                      {0, 3, 0x80, 1, 2}, kEnd}));
  u.version = 4;
  const Bytes section = Cat({v5.Build(), u.Build()});
  const LineRun traced = RunLines(section, {&RunOptions::debug_trace});
  EXPECT_EQ(traced.lxx,
            "/<<<<<<<<<<<<<<<<<<<< .debug_line Section [  0] >>>>>>>>>>>>>>>>>>>>\n"
            "/length             0x00000032 \n"
            "/version            0x0006 \n"
            "/----- Version[6] unsupported, unit skipped -----\n"
            "/<<<<<<<<<<<<<<<<<<<< .debug_line Section [  1] >>>>>>>>>>>>>>>>>>>>\n"
            "/length             0x00000053 \n"
            "/version            0x0004 \n"
            "/prologue           0x00000029 \n"
            "/min                0x01 \n"
            "/max_ops            0x01 \n"
            "/stmt               0x01 \n"
            "/l_base             0xFB \n"
            "/l_range            0x0E \n"
            "/o_base             0x0D \n"
            "/opcode             0x00 0x01 0x01 0x01 0x01 0x00 0x00 0x00 0x01 \n"
            "/directories {src}\n"
            "/----- DirName[src] Index[1] -----\n"
            "/----- FileName[a.h] Index[1] Time[0] Length[0] -----\n"
            "/----- FileName[main.c] Index[1] Time[0] Length[0] -----\n" +
                kHead + "-****  src\n+****  main.c\n"
            "/ DW_set_file(0x04)         op(0x2) \n"
            "/ DW_set_column(0x05)       op(0x3) \n"
            "/ DW_LNS_extended(0x00)     length(0x5) DW_set_address(0x02)  sub(0x10) sub(0x0) "
            "sub(0x0) sub(0x0) \n"
            "/ DW_advence_line(0x03)     op(9) line(10) \n"
            "/ DW_copy(0x01)             Lines(10) Address(0x10) \n"
            "/ DW_advence_pc(0x02)       pc(0x2) adr(0x12) \n"
            "/ DW_fixed_advence_pc(0x09) fix(0x4) adr(0x16) \n"
            "/ DW_negate_stmt(0x06)      \n"
            "/ DW_set_basic_block(0x07)  \n"
            "/ DW_const_add_pc(0x08)     dl(0) line(10) da(0x11) adr(0x27) \n"
            "/ DW_prologue_end(0x0A)     \n"
            "/ DW_set_isa(0x0C)          op(0x81) \n"
            "/ DW_special(0x1F)          dl(-1) line(9) da(0x1) adr(0x28) \n"
            "/ DW_copy(0x01)             Lines(9) Address(0x28) \n"
            "/ DW_LNS_extended(0x00)     length(0x3) sub(0x1) sub(0x2) \n"
            // No end row: line 9 holds the end address.
            "+0x00000028     9\n+0x00000010    10\n"
            "/ DW_LNS_extended(0x00)     length(0x1) DW_end_sequence(0x01) \n" + kTail);
  std::string records;
  for (std::size_t at = 0, next; at < traced.lxx.size(); at = next) {
    next = traced.lxx.find('\n', at) + 1;
    const std::string line = traced.lxx.substr(at, next - at);
    if (line[0] != '/' || line.starts_with("/****")) records += line;
  }
  EXPECT_EQ(records, RunLines(section).lxx);
}

}  // namespace
}  // namespace dwarfsift
