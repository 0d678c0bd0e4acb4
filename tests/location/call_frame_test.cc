// Call-frame information: the CFA rules of hand-assembled FDEs in both
// byte orders, .eh_frame pointer encodings, the FDE lookup and damaged
// sections.
#include "location/call_frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "elf/elf_image.h"

namespace dwarfsift {
namespace {

using Ranges = std::vector<std::array<std::int64_t, 4>>;  // begin, end, reg, offset

constexpr std::uint32_t kImagePad = 8;  // the section starts here in the image

// Entries of one section in either byte order. Instruction bytes are given
// as they lie; numbers written through U16/U32 follow the order.
class FrameBytes {
 public:
  FrameBytes(ByteOrder order, bool eh_frame) : order_(order), eh_(eh_frame) {}

  // A CIE; returns its section offset.
  std::uint32_t Cie(std::uint8_t version, const std::string& augmentation,
                    std::vector<std::uint8_t> augmentation_data,
                    std::vector<std::uint8_t> initial, std::int8_t data_align = -4) {
    const std::uint32_t offset = Begin(eh_ ? 0 : 0xffffffffu);
    z_ = !augmentation.empty() && augmentation[0] == 'z';
    bytes_.push_back(version);
    bytes_.insert(bytes_.end(), augmentation.begin(), augmentation.end());
    bytes_.push_back(0);
    if (version == 4) bytes_.insert(bytes_.end(), {4, 0});
    bytes_.push_back(2);  // code alignment
    bytes_.push_back(static_cast<std::uint8_t>(data_align & 0x7f));
    bytes_.push_back(14);  // return address register
    if (!augmentation.empty()) {
      bytes_.push_back(static_cast<std::uint8_t>(augmentation_data.size()));
      bytes_.insert(bytes_.end(), augmentation_data.begin(), augmentation_data.end());
    }
    bytes_.insert(bytes_.end(), initial.begin(), initial.end());
    End();
    return offset;
  }
  // An FDE of the CIE at `cie`. In .eh_frame the pc is stored pc-relative
  // when `pc_relative`, counting from `section_address`.
  std::uint32_t Fde(std::uint32_t cie, std::uint32_t pc, std::uint32_t range,
                    std::vector<std::uint8_t> instructions, bool pc_relative = false,
                    std::uint32_t section_address = 0) {
    const std::uint32_t offset = Size();
    const std::uint32_t id_offset = offset + 4;
    Begin(eh_ ? id_offset - cie : cie);
    const std::uint32_t pc_field = Size();
    U32(pc_relative ? pc - (section_address + pc_field) : pc);
    U32(range);
    if (eh_ && z_) bytes_.push_back(0);  // augmentation data length
    bytes_.insert(bytes_.end(), instructions.begin(), instructions.end());
    End();
    return offset;
  }
  void Raw(std::vector<std::uint8_t> raw) { bytes_.insert(bytes_.end(), raw.begin(), raw.end()); }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
      const int shift = order_ == ByteOrder::kLittle ? 8 * i : 24 - 8 * i;
      bytes_.push_back(static_cast<std::uint8_t>(v >> shift));
    }
  }
  std::vector<std::uint8_t> U32Bytes(std::uint32_t v) const {
    FrameBytes scratch(order_, eh_);
    scratch.U32(v);
    return scratch.bytes_;
  }
  std::uint32_t Size() const { return static_cast<std::uint32_t>(bytes_.size()); }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  // Loads the section into `table`, placed after a few bytes of padding.
  void LoadInto(CallFrameTable& table, std::uint32_t section_address = 0) {
    image_.assign(kImagePad, 0xee);
    image_.insert(image_.end(), bytes_.begin(), bytes_.end());
    image_.resize(image_.size() + 8, 0xee);  // bytes past the section
    table.LoadSection(ByteCursor(image_, order_).View(kImagePad, kImagePad + bytes_.size()), eh_,
                      section_address, 4);
  }

 private:
  std::uint32_t Begin(std::uint32_t id) {
    const std::uint32_t offset = Size();
    length_at_ = bytes_.size();
    U32(0);
    U32(id);
    return offset;
  }
  void End() {
    const std::uint32_t length = Size() - static_cast<std::uint32_t>(length_at_) - 4;
    std::vector<std::uint8_t> encoded = U32Bytes(length);
    std::copy(encoded.begin(), encoded.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(length_at_));
  }

  ByteOrder order_;
  bool eh_;
  bool z_ = false;  // the last CIE's FDEs carry an augmentation length
  std::size_t length_at_ = 0;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint8_t> image_;
};

Ranges RulesOf(const CallFrameTable& table, std::uint32_t pc, std::size_t room = 48) {
  std::vector<CfaRange> out(room);
  const int n = table.RulesAt(pc, out);
  Ranges ranges;
  for (int i = 0; i < n; ++i) {
    ranges.push_back({out[i].begin, out[i].end, out[i].reg, out[i].offset});
  }
  return ranges;
}

// The CIE of these cases: code alignment 2, data alignment -4, CFA = r13+0.
const std::vector<std::uint8_t> kInitial = {0x0c, 13, 0};

struct InstructionCase {
  const char* what;
  std::vector<std::uint8_t> instructions;  // little-endian
  Ranges expected;                          // empty: no rules at all
  // Multi-byte operands (index, size), turned for the big-endian run.
  std::vector<std::pair<std::ptrdiff_t, std::ptrdiff_t>> wide = {};
};

const InstructionCase kInstructionCases[] = {
    {"advances, offsets and register changes; equal neighbours merge",
     {0x41, 0x0e, 8, 0x41, 0x0d, 7, 0x4a, 0x0e, 8, 0x42, 0x0c, 13, 0},
     {{0x1000, 0x1002, 13, 0}, {0x1002, 0x1004, 13, 8}, {0x1004, 0x101c, 7, 8},
      {0x101c, 0x1040, 13, 0}}},
    {"an expression CFA gives no range; remember and restore",
     {0x41, 0x0a, 0x0f, 2, 0x70, 0x00, 0x42, 0x0b},
     {{0x1000, 0x1002, 13, 0}, {0x1006, 0x1040, 13, 0}}},
    {"factored forms use the data alignment",
     {0x12, 11, 0x7e, 0x41, 0x13, 0x7c},
     {{0x1000, 0x1002, 11, 8}, {0x1002, 0x1040, 11, 16}}},
    {"one-, two- and four-byte advances and set_loc",
     {0x02, 3, 0x0e, 4, 0x03, 5, 0, 0x0e, 8, 0x04, 1, 0, 0, 0, 0x0e, 12, 0x01, 0x30, 0x10, 0, 0,
      0x0e, 16},
     {{0x1000, 0x1006, 13, 0}, {0x1006, 0x1010, 13, 4}, {0x1010, 0x1012, 13, 8},
      {0x1012, 0x1030, 13, 12}, {0x1030, 0x1040, 13, 16}},
     {{5, 2}, {10, 4}, {17, 4}}},
    {"register rules are read past",
     {0x8e, 1, 0x05, 20, 3, 0x06, 20, 0x07, 5, 0x08, 5, 0x09, 1, 2, 0x10, 3, 1, 0x00, 0x11, 4,
      0x7f, 0x14, 1, 1, 0x15, 1, 0x7f, 0x16, 1, 1, 0x00, 0x2e, 8, 0x2f, 1, 1, 0xce, 0x00, 0x2d,
      0x41, 0x0e, 4},
     {{0x1000, 0x1002, 13, 0}, {0x1002, 0x1040, 13, 4}}},
    {"an advance past the range ends at the range",
     {0x41, 0x0e, 4, 0x04, 0xff, 0xff, 0xff, 0xff, 0x0e, 8, 0x1d, 1, 0, 0, 0, 0, 0, 0, 0},
     {{0x1000, 0x1002, 13, 0}, {0x1002, 0x1040, 13, 4}},
     {{4, 4}, {11, 8}}},
    {"an unknown instruction", {0x41, 0x0e, 4, 0x17, 0x41}, {}},
    {"set_loc backwards", {0x41, 0x01, 0x00, 0x10, 0, 0}, {}, {{2, 4}}},
    {"restore_state without remember_state", {0x41, 0x0b}, {}},
    {"remember_state nesting without bound",
     std::vector<std::uint8_t>(17, 0x0a), {}},
    {"an operand running off the FDE", {0x41, 0x0c, 0x80}, {}},
};

TEST(CallFrame, InstructionsGiveTheCfaRangesInBothByteOrders) {
  for (const ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
    for (const InstructionCase& c : kInstructionCases) {
      SCOPED_TRACE(c.what);
      std::vector<std::uint8_t> instructions = c.instructions;
      if (order == ByteOrder::kBig) {
        for (const auto& [at, size] : c.wide) {
          std::reverse(instructions.begin() + at, instructions.begin() + at + size);
        }
      }
      FrameBytes bytes(order, false);
      const std::uint32_t cie = bytes.Cie(1, "", {}, kInitial);
      bytes.Fde(cie, 0x1000, 0x40, instructions);
      CallFrameTable table;
      bytes.LoadInto(table);
      EXPECT_EQ(RulesOf(table, 0x1000), c.expected);
      EXPECT_EQ(RulesOf(table, 0x103f), c.expected);
    }
  }
}

TEST(CallFrame, RangesStopAtTheRoomGiven) {
  std::vector<std::uint8_t> instructions;
  for (int i = 0; i < 30; ++i) {
    instructions.insert(instructions.end(), {0x41, 0x0e, static_cast<std::uint8_t>(4 * (i % 2 + 1))});
  }
  FrameBytes bytes(ByteOrder::kLittle, false);
  bytes.Fde(bytes.Cie(1, "", {}, kInitial), 0x1000, 0x100, instructions);
  CallFrameTable table;
  bytes.LoadInto(table);
  const Ranges all = RulesOf(table, 0x1000);
  ASSERT_EQ(all.size(), 31u);
  const Ranges first = RulesOf(table, 0x1000, 10);
  ASSERT_EQ(first.size(), 10u);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), all.begin()));
}

TEST(CallFrame, FdesAreFoundByTheAddressTheyCover) {
  FrameBytes bytes(ByteOrder::kLittle, false);
  const std::uint32_t cie = bytes.Cie(3, "", {}, kInitial);
  bytes.Raw({0, 0, 0, 0});  // padding between entries
  bytes.Fde(cie, 0x2000, 0x10, {0x0e, 8});
  bytes.Fde(cie, 0x1000, 0x20, {});
  bytes.Fde(cie, 0x1000, 0x20, {0x0e, 4});  // a second FDE at one address
  bytes.Fde(cie, 0x3000, 0, {});            // covers nothing
  CallFrameTable table;
  bytes.LoadInto(table);
  EXPECT_EQ(table.fde_count(), 3u);
  EXPECT_EQ(RulesOf(table, 0x1010), (Ranges{{0x1000, 0x1020, 13, 0}}));
  EXPECT_EQ(RulesOf(table, 0x200f), (Ranges{{0x2000, 0x2010, 13, 8}}));
  EXPECT_EQ(RulesOf(table, 0x0fff), Ranges{});
  EXPECT_EQ(RulesOf(table, 0x1020), Ranges{});
  EXPECT_EQ(RulesOf(table, 0x2010), Ranges{});
  EXPECT_EQ(RulesOf(table, 0x3000), Ranges{});
}

TEST(CallFrame, DamagedEntriesAreNotIndexed) {
  struct Case {
    const char* what;
    bool keeps_first;
    void (*add)(FrameBytes&, std::uint32_t cie);
  };
  const Case cases[] = {
      {"FDE of a missing CIE", true,
       [](FrameBytes& b, std::uint32_t) { b.Fde(0x400, 0x2000, 0x10, {}); }},
      {"FDE pointing into another entry", true,
       [](FrameBytes& b, std::uint32_t cie) { b.Fde(cie + 4, 0x2000, 0x10, {}); }},
      {"length past the section", true,
       [](FrameBytes& b, std::uint32_t) {
         b.U32(0x100);
         b.U32(0);
       }},
      {"64-bit entry", true,
       [](FrameBytes& b, std::uint32_t) {
         b.U32(0xffffffffu);
         b.U32(0);
       }},
      {"CIE of version 2", true,
       [](FrameBytes& b, std::uint32_t) { b.Fde(b.Cie(2, "", {}, kInitial), 0x2000, 0x10, {}); }},
      {"CIE with an augmentation that cannot be read past", true,
       [](FrameBytes& b, std::uint32_t) { b.Fde(b.Cie(1, "eh", {}, kInitial), 0x2000, 0x10, {}); }},
      {"FDE cut short", true, [](FrameBytes& b, std::uint32_t) { b.Raw({4, 0, 0, 0, 0, 0, 0, 0}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FrameBytes bytes(ByteOrder::kLittle, false);
    const std::uint32_t cie = bytes.Cie(1, "", {}, kInitial);
    bytes.Fde(cie, 0x1000, 0x10, {});
    c.add(bytes, cie);
    CallFrameTable table;
    bytes.LoadInto(table);
    EXPECT_EQ(table.fde_count(), c.keeps_first ? 1u : 0u);
    EXPECT_EQ(RulesOf(table, 0x2000), Ranges{});
    EXPECT_EQ(RulesOf(table, 0x1000), (Ranges{{0x1000, 0x1010, 13, 0}}));
  }
}

TEST(CallFrame, VersionFourCiesCarryTheirAddressSize) {
  FrameBytes bytes(ByteOrder::kBig, false);
  bytes.Fde(bytes.Cie(4, "", {}, kInitial), 0x1000, 0x10, {0x41, 0x0e, 8});
  CallFrameTable table;
  bytes.LoadInto(table);
  EXPECT_EQ(RulesOf(table, 0x1000), (Ranges{{0x1000, 0x1002, 13, 0}, {0x1002, 0x1010, 13, 8}}));
}

TEST(CallFrame, EhFramePointersAbsoluteOrPcRelative) {
  constexpr std::uint32_t kAddress = 0x8000;
  struct Case {
    const char* what;
    std::string augmentation;
    std::vector<std::uint8_t> data;
    bool pc_relative;
    bool readable;
  };
  const Case cases[] = {
      {"no augmentation: absolute", "", {}, false, true},
      {"zR pc-relative sdata4", "zR", {0x1b}, true, true},
      {"zR pc-relative udata4", "zR", {0x13}, true, true},
      {"zR absolute udata4", "zR", {0x03}, false, true},
      {"zPLR with a personality pointer", "zPLR", {0x00, 1, 2, 3, 4, 0x1b, 0x1b}, true, true},
      {"zR indirect", "zR", {0x9b}, true, false},
      {"zR two-byte pointers", "zR", {0x02}, false, false},
      {"zR data-relative", "zR", {0x3b}, false, false},
      {"an augmentation letter before R that cannot be sized", "zXR", {0x00, 0x1b}, true, false},
  };
  for (const ByteOrder order : {ByteOrder::kLittle, ByteOrder::kBig}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      FrameBytes bytes(order, true);
      const std::uint32_t cie = bytes.Cie(1, c.augmentation, c.data, kInitial);
      // set_loc's operand is encoded like the FDE's pc. It follows the
      // length, the CIE pointer, pc, range, the augmentation length (with
      // "z") and the set_loc code.
      const std::uint32_t operand_at =
          bytes.Size() + 16 + (c.augmentation.empty() ? 0 : 1) + 1;
      constexpr std::uint32_t kTarget = 0x1008;
      std::vector<std::uint8_t> instructions = {0x01};
      const std::vector<std::uint8_t> operand =
          bytes.U32Bytes(c.pc_relative ? kTarget - (kAddress + operand_at) : kTarget);
      instructions.insert(instructions.end(), operand.begin(), operand.end());
      instructions.insert(instructions.end(), {0x0e, 8});
      bytes.Fde(cie, 0x1000, 0x10, instructions, c.pc_relative, kAddress);
      bytes.U32(0);  // terminator: what follows is not read
      bytes.Raw({0xde, 0xad, 0xbe, 0xef, 0xff, 0xff, 0xff, 0xff});
      CallFrameTable table;
      bytes.LoadInto(table, kAddress);
      if (!c.readable) {
        EXPECT_TRUE(table.empty());
        continue;
      }
      EXPECT_EQ(table.fde_count(), 1u);
      EXPECT_EQ(RulesOf(table, 0x1004),
                (Ranges{{0x1000, 0x1008, 13, 0}, {0x1008, 0x1010, 13, 8}}));
    }
  }
}

TEST(CallFrame, LoadPrefersDebugFrameAndSkipsUnusableSections) {
  FrameBytes debug(ByteOrder::kLittle, false);
  debug.Fde(debug.Cie(1, "", {}, kInitial), 0x1000, 0x10, {0x0e, 4});
  FrameBytes eh(ByteOrder::kLittle, true);
  eh.Fde(eh.Cie(1, "zR", {0x03}, kInitial), 0x1000, 0x10, {0x0e, 8});

  constexpr std::uint32_t kProgbits = 1;
  constexpr std::uint32_t kNobits = 8;
  struct Case {
    const char* what;
    bool with_debug;
    std::uint32_t debug_type;
    std::uint32_t debug_size_extra;  // grows the section past the image
    bool with_eh;
    std::int32_t offset;  // the CFA offset expected; -1: no rules
    // The file ends inside .debug_frame and .eh_frame is an inflated section
    // behind it: a plain section must not reach the inflated bytes.
    bool file_ends_inside = false;
  };
  const Case cases[] = {
      {"both: .debug_frame", true, kProgbits, 0, true, 4},
      {".debug_frame only", true, kProgbits, 0, false, 4},
      {".eh_frame only", false, kProgbits, 0, true, 8},
      {".debug_frame without bytes", true, kNobits, 0, true, 8},
      {".debug_frame past the file", true, kProgbits, 0x1000, true, 8},
      {"neither", false, kProgbits, 0, false, -1},
      {".debug_frame past the file, into inflated bytes", true, kProgbits, 0, true, 8, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> image(16, 0);
    ElfImage elf;
    elf.section_headers.push_back(SectionHeader{});
    elf.section_names.push_back("");
    const auto add = [&](const char* name, const std::vector<std::uint8_t>& bytes,
                         std::uint32_t type, std::uint32_t extra) {
      SectionHeader sh{};
      sh.sh_type = type;
      sh.sh_offset = static_cast<std::uint32_t>(image.size());
      sh.sh_size = static_cast<std::uint32_t>(bytes.size()) + extra;
      image.insert(image.end(), bytes.begin(), bytes.end());
      elf.section_headers.push_back(sh);
      elf.section_names.push_back(name);
    };
    if (c.with_debug) add(".debug_frame", debug.bytes(), c.debug_type, c.debug_size_extra);
    if (c.with_eh) add(".eh_frame", eh.bytes(), kProgbits, 0);
    elf.bytes = image;
    if (c.file_ends_inside) {
      elf.file_size = elf.section_headers[1].sh_offset + 1;
      elf.inflated_sections = {false, false, true};
    }
    CallFrameTable table;
    table.Load(elf, 4);
    if (c.offset < 0) {
      EXPECT_TRUE(table.empty());
      continue;
    }
    EXPECT_EQ(RulesOf(table, 0x1000), (Ranges{{0x1000, 0x1010, 13, c.offset}}));
  }
}

}  // namespace
}  // namespace dwarfsift
