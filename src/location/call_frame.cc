#include "location/call_frame.h"

#include <algorithm>
#include <string_view>

#include "dwarf/readers.h"
#include "elf/elf_image.h"

namespace dwarfsift {

namespace {

constexpr std::uint32_t kSectionTypeNobits = 8;

// Pointer encodings of .eh_frame that can be read without the loaded
// program: absolute or pc-relative, in four bytes.
constexpr std::uint8_t kPointerAbsolute = 0x00;
constexpr std::uint8_t kPointerUdata4 = 0x03;
constexpr std::uint8_t kPointerSdata4 = 0x0b;
constexpr std::uint8_t kPointerPcRelative = 0x10;
constexpr std::uint8_t kPointerFormatMask = 0x0f;
constexpr std::uint8_t kPointerApplyMask = 0xf0;

bool IsPlainPointer(std::uint8_t encoding) {
  const std::uint8_t format = encoding & kPointerFormatMask;
  const std::uint8_t apply = encoding & kPointerApplyMask;
  return (format == kPointerAbsolute || format == kPointerUdata4 ||
          format == kPointerSdata4) &&
         (apply == 0 || apply == kPointerPcRelative);
}

// Bytes of a pointer in `encoding` (format part only); 0 when the size
// depends on the value (LEB128) or is unknown.
int EncodedPointerSize(std::uint8_t encoding) {
  switch (encoding & kPointerFormatMask) {
    case 0x00: return 4;  // absolute pointers are 32 bits in these files
    case 0x02: case 0x0a: return 2;
    case 0x03: case 0x0b: return 4;
    case 0x04: case 0x0c: return 8;
    default: return 0;
  }
}

// Skips a pointer of any encoding; false when its length cannot be known.
bool SkipEncodedPointer(ByteCursor& cursor, std::uint8_t encoding) {
  switch (encoding & kPointerFormatMask) {
    case 0x01: case 0x09:
      ReadUleb128(cursor);
      return cursor.ok();
    default: {
      const int size = EncodedPointerSize(encoding);
      if (size == 0) return false;
      cursor.Skip(static_cast<std::uint64_t>(size));
      return cursor.ok();
    }
  }
}

// Call-frame instructions that matter or need their operands known.
enum CfaOp : std::uint8_t {
  kCfaNop = 0x00,
  kCfaSetLoc = 0x01,
  kCfaAdvanceLoc1 = 0x02,
  kCfaAdvanceLoc2 = 0x03,
  kCfaAdvanceLoc4 = 0x04,
  kCfaOffsetExtended = 0x05,
  kCfaRestoreExtended = 0x06,
  kCfaUndefined = 0x07,
  kCfaSameValue = 0x08,
  kCfaRegister = 0x09,
  kCfaRememberState = 0x0a,
  kCfaRestoreState = 0x0b,
  kCfaDefCfa = 0x0c,
  kCfaDefCfaRegister = 0x0d,
  kCfaDefCfaOffset = 0x0e,
  kCfaDefCfaExpression = 0x0f,
  kCfaExpression = 0x10,
  kCfaOffsetExtendedSf = 0x11,
  kCfaDefCfaSf = 0x12,
  kCfaDefCfaOffsetSf = 0x13,
  kCfaValOffset = 0x14,
  kCfaValOffsetSf = 0x15,
  kCfaValExpression = 0x16,
  kCfaMipsAdvanceLoc8 = 0x1d,
  kCfaGnuWindowSave = 0x2d,
  kCfaGnuArgsSize = 0x2e,
  kCfaGnuNegativeOffsetExtended = 0x2f,
};
constexpr std::uint8_t kCfaAdvanceLoc = 0x1;  // in the top two bits
constexpr std::uint8_t kCfaOffset = 0x2;
constexpr std::uint8_t kCfaRestore = 0x3;

}  // namespace

// Follows the call-frame instructions of one FDE, its CIE's first, and
// collects the stretches over which the CFA is a register plus an offset.
class CallFrameTable::CfaMachine {
 public:
  CfaMachine(const CallFrameTable& table, const Cie& cie, const Fde& fde,
             std::span<CfaRange> out)
      : table_(table), cie_(cie), location_(fde.pc_begin), end_(fde.pc_end), out_(out) {}

  // Runs the instructions at [from, to) of the image; false when they are
  // damaged or use an instruction whose operands cannot be known.
  bool Execute(std::uint32_t from, std::uint32_t to) {
    ByteCursor cursor = table_.section_.View(from, to);
    while (!cursor.AtEnd()) {
      if (!Step(cursor) || !cursor.ok()) return false;
    }
    return true;
  }
  // Closes the range still open at the end of the FDE.
  bool Finish() { return MoveTo(end_); }
  int count() const { return count_; }

 private:
  struct Rule {
    bool is_register = false;  // false: undefined or an expression
    std::uint32_t reg = 0;
    std::int32_t offset = 0;
  };
  // remember_state nests this deep at most; GCC uses one or two levels.
  static constexpr int kMaxRememberedStates = 16;

  bool Step(ByteCursor& cursor);
  void DefineCfa(std::uint8_t op, ByteCursor& cursor);
  static bool SkipOperands(std::uint8_t op, ByteCursor& cursor);

  bool SetLocation(ByteCursor& cursor) {
    std::uint32_t location = 0;
    if (table_.eh_frame_) {
      if (!table_.ReadPointer(cursor, cie_.pointer_encoding, true, location)) return false;
    } else {
      location = static_cast<std::uint32_t>(ReadFixed(cursor, cie_.address_size));
    }
    return MoveTo(location);
  }
  bool Advance(std::uint64_t delta) {
    // Past the FDE's range in any case; avoid overflowing the product.
    const std::uint64_t step =
        delta > UINT32_MAX ? std::uint64_t{UINT32_MAX} << 1 : delta * cie_.code_align;
    return MoveTo(location_ + step);
  }
  // Moves to `location`, closing the range the current rule covered.
  // A location behind the current one means the instructions are damaged.
  bool MoveTo(std::uint64_t location) {
    if (location < location_) return false;
    if (location > end_) location = end_;
    if (location > location_ && rule_.is_register) Emit(location);
    location_ = location;
    return true;
  }
  bool Remember() {
    if (depth_ == kMaxRememberedStates) return false;
    saved_[depth_++] = rule_;
    return true;
  }
  bool Restore() {
    if (depth_ == 0) return false;
    rule_ = saved_[--depth_];
    return true;
  }
  void Emit(std::uint64_t end) {
    const auto begin32 = static_cast<std::uint32_t>(location_);
    const auto end32 = static_cast<std::uint32_t>(end);
    if (count_ > 0) {
      CfaRange& last = out_[static_cast<std::size_t>(count_ - 1)];
      if (last.end == begin32 && last.reg == rule_.reg && last.offset == rule_.offset) {
        last.end = end32;
        return;
      }
    }
    if (static_cast<std::size_t>(count_) == out_.size()) return;
    out_[static_cast<std::size_t>(count_++)] = CfaRange{begin32, end32, rule_.reg, rule_.offset};
  }

  const CallFrameTable& table_;
  const Cie& cie_;
  std::uint64_t location_;
  std::uint64_t end_;
  std::span<CfaRange> out_;
  int count_ = 0;
  Rule rule_{};
  Rule saved_[kMaxRememberedStates]{};
  int depth_ = 0;
};

bool CallFrameTable::CfaMachine::Step(ByteCursor& cursor) {
  const std::uint8_t op = cursor.ReadByte();
  switch (op >> 6) {
    case kCfaAdvanceLoc:
      return Advance(op & 0x3fu);
    case kCfaOffset:
      ReadUleb128(cursor);
      return true;
    case kCfaRestore:
      return true;
    default:
      break;
  }
  switch (op) {
    case kCfaSetLoc:
      return SetLocation(cursor);
    case kCfaAdvanceLoc1:
      return Advance(ReadFixed(cursor, 1));
    case kCfaAdvanceLoc2:
      return Advance(ReadFixed(cursor, 2));
    case kCfaAdvanceLoc4:
      return Advance(ReadFixed(cursor, 4));
    case kCfaMipsAdvanceLoc8:
      return Advance(ReadFixed(cursor, 8));
    case kCfaRememberState:
      return Remember();
    case kCfaRestoreState:
      return Restore();
    case kCfaDefCfa:
    case kCfaDefCfaSf:
    case kCfaDefCfaRegister:
    case kCfaDefCfaOffset:
    case kCfaDefCfaOffsetSf:
    case kCfaDefCfaExpression:
      DefineCfa(op, cursor);
      return true;
    default:
      return SkipOperands(op, cursor);
  }
}

void CallFrameTable::CfaMachine::DefineCfa(std::uint8_t op, ByteCursor& cursor) {
  const auto factored = [&] {
    return static_cast<std::int32_t>(std::int64_t{ReadSleb128(cursor)} * cie_.data_align);
  };
  switch (op) {
    case kCfaDefCfa:
      rule_.reg = ReadUleb128(cursor);
      rule_.offset = static_cast<std::int32_t>(ReadUleb128(cursor));
      rule_.is_register = true;
      break;
    case kCfaDefCfaSf:
      rule_.reg = ReadUleb128(cursor);
      rule_.offset = factored();
      rule_.is_register = true;
      break;
    case kCfaDefCfaRegister:
      rule_.reg = ReadUleb128(cursor);
      rule_.is_register = true;
      break;
    case kCfaDefCfaOffset:
      rule_.offset = static_cast<std::int32_t>(ReadUleb128(cursor));
      break;
    case kCfaDefCfaOffsetSf:
      rule_.offset = factored();
      break;
    case kCfaDefCfaExpression:
      cursor.Skip(ReadUleb128(cursor));
      rule_.is_register = false;
      break;
    default:
      break;
  }
}

// Instructions that leave the CFA alone: their operands are read past.
bool CallFrameTable::CfaMachine::SkipOperands(std::uint8_t op, ByteCursor& cursor) {
  switch (op) {
    case kCfaNop:
    case kCfaGnuWindowSave:
      return true;
    case kCfaRestoreExtended:
    case kCfaUndefined:
    case kCfaSameValue:
    case kCfaGnuArgsSize:
      ReadUleb128(cursor);
      return true;
    case kCfaOffsetExtended:
    case kCfaRegister:
    case kCfaValOffset:
    case kCfaGnuNegativeOffsetExtended:
      ReadUleb128(cursor);
      ReadUleb128(cursor);
      return true;
    case kCfaOffsetExtendedSf:
    case kCfaValOffsetSf:
      ReadUleb128(cursor);
      ReadSleb128(cursor);
      return true;
    case kCfaExpression:
    case kCfaValExpression:
      ReadUleb128(cursor);
      cursor.Skip(ReadUleb128(cursor));
      return true;
    default:
      // Its operands cannot be known, so nothing after it can be.
      return false;
  }
}

void CallFrameTable::Load(const ElfImage& elf, int address_size) {
  *this = CallFrameTable{};
  // As for the other sections, the last of several with one name wins.
  std::uint32_t debug_frame = 0;
  std::uint32_t eh_frame = 0;
  for (std::uint32_t i = 1; i < elf.section_headers.size() && i < elf.section_names.size(); ++i) {
    const SectionHeader& sh = elf.section_headers[i];
    if (sh.sh_type == kSectionTypeNobits || sh.sh_size == 0) continue;
    if (std::uint64_t{sh.sh_offset} + sh.sh_size > elf.SectionLimit(i)) continue;
    if (elf.section_names[i] == ".debug_frame") debug_frame = i;
    if (elf.section_names[i] == ".eh_frame") eh_frame = i;
  }
  const std::uint32_t chosen = debug_frame != 0 ? debug_frame : eh_frame;
  if (chosen == 0) return;
  const SectionHeader& sh = elf.section_headers[chosen];
  const ByteCursor section = ByteCursor(elf.bytes, elf.byte_order)
                                 .View(sh.sh_offset, std::uint64_t{sh.sh_offset} + sh.sh_size);
  LoadSection(section, debug_frame == 0, sh.sh_addr, address_size);
}

bool CallFrameTable::ReadPointer(ByteCursor& cursor, std::uint8_t encoding, bool apply_pc,
                                 std::uint32_t& value) const {
  const std::uint32_t field = cursor.position();
  value = ReadFixed32(cursor);
  if (!cursor.ok()) return false;
  if (apply_pc && (encoding & kPointerApplyMask) == kPointerPcRelative) {
    value += section_address_ + (field - section_.begin());
  }
  return true;
}

bool CallFrameTable::ReadCie(ByteCursor cursor, std::uint32_t offset, std::uint32_t end,
                             Cie& cie) const {
  cie.offset = offset;
  cie.end = end;
  cie.address_size = static_cast<std::uint8_t>(address_size_);
  const std::uint8_t version = cursor.ReadByte();
  if (version != 1 && version != 3 && version != 4) return false;
  const std::string_view augmentation = cursor.ReadCString();
  if (version == 4) {
    cie.address_size = cursor.ReadByte();
    const std::uint8_t segment_size = cursor.ReadByte();
    if (segment_size != 0 || (cie.address_size != 2 && cie.address_size != 4)) return false;
  }
  cie.code_align = ReadUleb128(cursor);
  cie.data_align = ReadSleb128(cursor);
  if (version == 1) {
    cursor.ReadByte();
  } else {
    ReadUleb128(cursor);
  }
  if (!augmentation.empty()) {
    // Only the "z" family says how long its data is; anything else ("eh"
    // of old compilers, say) cannot be read past.
    if (augmentation[0] != 'z') return false;
    cie.has_augmentation_data = true;
    const std::uint32_t length = ReadUleb128(cursor);
    if (!cursor.ok() || length > cursor.remaining()) return false;
    ByteCursor data = cursor.View(cursor.position(), std::uint64_t{cursor.position()} + length);
    cursor.Skip(length);
    for (const char c : augmentation.substr(1)) {
      if (c == 'R') {
        cie.pointer_encoding = data.ReadByte();
      } else if (c == 'P') {
        if (!SkipEncodedPointer(data, data.ReadByte())) return false;
      } else if (c == 'L') {
        data.ReadByte();
      } else if (c != 'S' && c != 'B') {
        // Data we cannot size may hide the FDE pointer encoding.
        return false;
      }
    }
    if (!data.ok()) return false;
  }
  if (eh_frame_ && !IsPlainPointer(cie.pointer_encoding)) return false;
  cie.instructions = cursor.position();
  return cursor.ok() && cie.instructions <= end;
}

void CallFrameTable::LoadSection(ByteCursor section, bool eh_frame,
                                 std::uint32_t section_address, int address_size) {
  *this = CallFrameTable{};
  section_ = section;
  eh_frame_ = eh_frame;
  section_address_ = section_address;
  address_size_ = address_size == 2 ? 2 : 4;

  struct PendingFde {
    std::uint32_t offset;
    std::uint32_t cie_offset;
    std::uint32_t body;  // image position after the CIE pointer
    std::uint32_t end;
  };
  std::vector<PendingFde> pending;
  const std::uint32_t begin = section.begin();
  std::uint32_t position = begin;
  while (section.end() - position >= 4) {
    ByteCursor cursor = section.At(position);
    const std::uint32_t length = ReadFixed32(cursor);
    if (length == 0) {
      // .eh_frame ends with a zero terminator; in .debug_frame it is padding.
      if (eh_frame_) break;
      position += 4;
      continue;
    }
    // The 64-bit format (and the reserved lengths) are not read.
    if (length >= 0xfffffff0u || length > cursor.remaining()) break;
    const std::uint32_t end = cursor.position() + length;
    const std::uint32_t id_position = cursor.position();
    const std::uint32_t id = ReadFixed32(cursor);
    const std::uint32_t offset = position - begin;
    const bool is_cie = eh_frame_ ? id == 0 : id == 0xffffffffu;
    if (is_cie) {
      Cie cie;
      if (cursor.ok() && ReadCie(cursor.View(cursor.position(), end), offset, end, cie)) {
        cies_.push_back(cie);
      }
    } else if (cursor.ok()) {
      // .eh_frame points back from the pointer itself; .debug_frame gives
      // the CIE's section offset.
      const std::uint32_t id_offset = id_position - begin;
      if (!eh_frame_ || id <= id_offset) {
        pending.push_back({offset, eh_frame_ ? id_offset - id : id, cursor.position(), end});
      }
    }
    position = end;
  }

  for (const PendingFde& entry : pending) {
    const auto found = std::lower_bound(
        cies_.begin(), cies_.end(), entry.cie_offset,
        [](const Cie& cie, std::uint32_t offset) { return cie.offset < offset; });
    if (found == cies_.end() || found->offset != entry.cie_offset) continue;
    const Cie& cie = *found;
    ByteCursor cursor = section.View(entry.body, entry.end);
    std::uint32_t pc_begin = 0;
    std::uint32_t range = 0;
    if (eh_frame_) {
      if (!ReadPointer(cursor, cie.pointer_encoding, true, pc_begin) ||
          !ReadPointer(cursor, cie.pointer_encoding, false, range)) {
        continue;
      }
    } else {
      pc_begin = static_cast<std::uint32_t>(ReadFixed(cursor, cie.address_size));
      range = static_cast<std::uint32_t>(ReadFixed(cursor, cie.address_size));
    }
    if (cie.has_augmentation_data) {
      const std::uint32_t length = ReadUleb128(cursor);
      cursor.Skip(length);
    }
    if (!cursor.ok() || range == 0) continue;
    fdes_.push_back(Fde{pc_begin, std::uint64_t{pc_begin} + range, cursor.position(), entry.end,
                        entry.offset, static_cast<std::uint32_t>(found - cies_.begin())});
  }
  std::stable_sort(fdes_.begin(), fdes_.end(),
                   [](const Fde& a, const Fde& b) { return a.pc_begin < b.pc_begin; });
}

const CallFrameTable::Fde* CallFrameTable::FindFde(std::uint32_t pc) const {
  auto next = std::upper_bound(fdes_.begin(), fdes_.end(), pc,
                               [](std::uint32_t value, const Fde& fde) { return value < fde.pc_begin; });
  if (next == fdes_.begin()) return nullptr;
  auto found = next - 1;
  // Of several FDEs starting at one address the first in the section wins.
  while (found != fdes_.begin() && (found - 1)->pc_begin == found->pc_begin) --found;
  return pc < found->pc_end ? &*found : nullptr;
}

int CallFrameTable::RulesAt(std::uint32_t pc, std::span<CfaRange> out,
                            std::uint32_t* fde_offset) const {
  const Fde* fde = FindFde(pc);
  if (fde == nullptr || out.empty()) return 0;
  if (fde_offset != nullptr) *fde_offset = fde->offset;
  const Cie& cie = cies_[fde->cie];
  CfaMachine machine(*this, cie, *fde, out);
  if (!machine.Execute(cie.instructions, cie.end) ||
      !machine.Execute(fde->instructions, fde->end) || !machine.Finish()) {
    return 0;
  }
  return machine.count();
}

}  // namespace dwarfsift
