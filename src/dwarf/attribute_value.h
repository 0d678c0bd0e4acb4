// Decoding one attribute value of a .debug_info entry.
//
// ReadAttributeValue consumes exactly the bytes its form occupies and fills
// an AttributeValue: the value area (numbers least significant byte first,
// block bytes as stored), the 32-bit number view, the length and a short
// text that the entry traces print and that names take their strings from.
// The entry walkers call it for every attribute of every entry, so the
// AttributeValue is a fixed-size object that the caller keeps and reuses;
// nothing is allocated per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "dwarf/byte_cursor.h"
#include "dwarf/readers.h"

namespace dwarfsift {

// DW_FORM codes of DWARF 2 to 4, and the extension forms whose size is known.
inline constexpr std::uint32_t kFormAddr = 0x01;
inline constexpr std::uint32_t kFormBlock2 = 0x03;
inline constexpr std::uint32_t kFormBlock4 = 0x04;
inline constexpr std::uint32_t kFormData2 = 0x05;
inline constexpr std::uint32_t kFormData4 = 0x06;
inline constexpr std::uint32_t kFormData8 = 0x07;
inline constexpr std::uint32_t kFormString = 0x08;
inline constexpr std::uint32_t kFormBlock = 0x09;
inline constexpr std::uint32_t kFormBlock1 = 0x0A;
inline constexpr std::uint32_t kFormData1 = 0x0B;
inline constexpr std::uint32_t kFormFlag = 0x0C;
inline constexpr std::uint32_t kFormSdata = 0x0D;
inline constexpr std::uint32_t kFormStrp = 0x0E;
inline constexpr std::uint32_t kFormUdata = 0x0F;
inline constexpr std::uint32_t kFormRefAddr = 0x10;
inline constexpr std::uint32_t kFormRef1 = 0x11;
inline constexpr std::uint32_t kFormRef2 = 0x12;
inline constexpr std::uint32_t kFormRef4 = 0x13;
inline constexpr std::uint32_t kFormRef8 = 0x14;
inline constexpr std::uint32_t kFormRefUdata = 0x15;
inline constexpr std::uint32_t kFormIndirect = 0x16;
inline constexpr std::uint32_t kFormSecOffset = 0x17;
inline constexpr std::uint32_t kFormExprloc = 0x18;
inline constexpr std::uint32_t kFormFlagPresent = 0x19;
// DWARF 5.
inline constexpr std::uint32_t kFormStrx = 0x1A;
inline constexpr std::uint32_t kFormAddrx = 0x1B;
inline constexpr std::uint32_t kFormRefSup4 = 0x1C;
inline constexpr std::uint32_t kFormStrpSup = 0x1D;
inline constexpr std::uint32_t kFormData16 = 0x1E;
inline constexpr std::uint32_t kFormLineStrp = 0x1F;
inline constexpr std::uint32_t kFormRefSig8 = 0x20;
inline constexpr std::uint32_t kFormImplicitConst = 0x21;
inline constexpr std::uint32_t kFormLoclistx = 0x22;
inline constexpr std::uint32_t kFormRnglistx = 0x23;
inline constexpr std::uint32_t kFormRefSup8 = 0x24;
inline constexpr std::uint32_t kFormStrx1 = 0x25;
inline constexpr std::uint32_t kFormStrx4 = 0x28;
inline constexpr std::uint32_t kFormAddrx1 = 0x29;
inline constexpr std::uint32_t kFormAddrx4 = 0x2C;
inline constexpr std::uint32_t kFormGnuAddrIndex = 0x1F01;
inline constexpr std::uint32_t kFormGnuStrIndex = 0x1F02;
inline constexpr std::uint32_t kFormGnuRefAlt = 0x1F20;
inline constexpr std::uint32_t kFormGnuStrpAlt = 0x1F21;

// The sections and bases through which the indexed forms of DWARF 5 are
// resolved. The sections are the run's; the bases belong to the unit being
// read (its top entry's DW_AT_str_offsets_base, DW_AT_addr_base,
// DW_AT_loclists_base and DW_AT_rnglists_base), and a base the unit does not
// give leaves the forms that need it empty.
struct UnitBases {
  ByteCursor line_strings;  // .debug_line_str
  ByteCursor str_offsets;   // .debug_str_offsets
  ByteCursor addresses;     // .debug_addr
  ByteCursor loclists;      // .debug_loclists
  ByteCursor rnglists;      // .debug_rnglists
  // Section offsets; kNoBase when the unit gives none.
  static constexpr std::uint32_t kNoBase = 0xFFFFFFFFu;
  std::uint32_t str_offsets_base = kNoBase;
  std::uint32_t addr_base = kNoBase;
  std::uint32_t loclists_base = kNoBase;
  std::uint32_t rnglists_base = kNoBase;

  void ClearBases() {
    str_offsets_base = addr_base = loclists_base = rnglists_base = kNoBase;
  }
  // Entry `index` of the unit's .debug_addr table; false (and 0) when the
  // unit has no base or the entry lies outside the section.
  bool Address(std::uint32_t index, std::uint8_t address_size,
               std::uint32_t& address) const;
  // The section offset that entry `index` of the unit's offset table in
  // .debug_loclists (or .debug_rnglists) names; false when out of range.
  bool ListOffset(const ByteCursor& section, std::uint32_t base,
                  std::uint32_t index, std::uint32_t& offset) const;
};

// What a value decodes against besides its own bytes.
struct FormContext {
  std::uint8_t address_size = 4;  // the run's, from the first unit header
  ByteCursor strings;             // .debug_str; an empty view when absent
  UnitBases unit{};               // DWARF 5 sections and the unit's bases
};
// `debug_str` views the bytes of .debug_str (empty when the file has none).
FormContext MakeFormContext(const ByteCursor& debug_str,
                            const DwarfParameters& dwarf);

class AttributeValue {
 public:
  static constexpr std::size_t kValueSize = 256;
  // Strings are shown (and used as names) up to this many bytes.
  static constexpr std::size_t kStringTextLimit = 255;
  // Damaged input could chain DW_FORM_indirect without end; a chain longer
  // than this is read as an unrecognised form.
  static constexpr int kIndirectLimit = 8;
  // The longest text: the dump of a full value area inside the indirect
  // marks, and the terminator.
  static constexpr std::size_t kTextCapacity =
      kValueSize * 5 + 2 * kIndirectLimit + 1;

  AttributeValue() { Clear(); }

  // Empties the value area (only the bytes the last value used), the length
  // and the text. ReadAttributeValue does this first.
  void Clear();

  // The form that was read; for DW_FORM_indirect the form found in the data.
  // (ReadAttributeValue hands the caller the DWARF 4 form the value stands
  // for; this stays the form of the data, for the traces.)
  std::uint32_t form() const { return form_; }
  // Bytes the value occupies in the file: the width of a fixed-size form, the
  // bytes of a LEB128 number, the block length without its length field, the
  // string length plus 1 for DW_FORM_string, 4 for DW_FORM_strp.
  std::uint32_t length() const { return length_; }
  // The first four value bytes, least significant first.
  std::uint32_t number() const {
    return static_cast<std::uint32_t>(value_[0]) |
           static_cast<std::uint32_t>(value_[1]) << 8 |
           static_cast<std::uint32_t>(value_[2]) << 16 |
           static_cast<std::uint32_t>(value_[3]) << 24;
  }
  // The first eight value bytes, least significant first: an 8-byte number.
  std::uint64_t number64() const {
    std::uint64_t n = 0;
    for (int i = 7; i >= 0; --i) n = n << 8 | value_[i];
    return n;
  }
  std::span<const std::uint8_t, kValueSize> value() const { return value_; }
  // The stored bytes of a block form: the whole block, or its first
  // kValueSize bytes when it is longer than the value area (its dump text
  // then shows those bytes too).
  std::span<const std::uint8_t> block() const {
    return {value_, length_ < kValueSize ? length_ : kValueSize};
  }
  std::string_view text() const {
    WritePendingText();
    return {text_, text_size_};
  }
  const char* c_str() const {
    WritePendingText();
    return text_;
  }

 private:
  friend std::uint32_t ReadAttributeValue(std::uint32_t& form,
                                          ByteCursor& cursor,
                                          const FormContext& context,
                                          AttributeValue& value,
                                          std::int32_t implicit_const);
  friend class FormDecoder;

  // The text of a number or block is written only when it is asked for:
  // only traces show it, and most values are never traced. Until then the
  // value area holds what it is made from.
  enum class PendingText : std::uint8_t {
    kNone,
    kDump,          // "0xNN " per byte of value_, in stored order
    kReversedDump,  // the same for a big-endian number, in file order
    kLeb128,        // the number in hexadecimal
  };
  void WritePendingText() const {
    if (pending_ != PendingText::kNone) WriteText();
  }
  void WriteText() const;

  std::uint32_t form_ = 0;
  std::uint32_t length_ = 0;
  std::uint32_t value_used_ = kValueSize;  // bytes of value_ that may be set
  mutable std::uint32_t text_size_ = 0;
  mutable PendingText pending_ = PendingText::kNone;
  std::uint32_t pending_count_ = 0;  // value bytes a pending dump shows
  std::uint8_t value_[kValueSize];
  mutable char text_[kTextCapacity];
};

// Decodes the value of `form` at the cursor into `value` and returns the
// position after it. DW_FORM_indirect replaces `form` by the form found.
//
// The forms of DWARF 5 come back as the DWARF 4 form whose value they equal,
// so the rules that act on forms work unchanged: the string forms (strx*,
// line_strp) as DW_FORM_strp with the string's text, the address index forms
// as DW_FORM_addr with the address, loclistx and rnglistx as
// DW_FORM_sec_offset with the list's section offset, data16 as a 16-byte
// DW_FORM_block1, and implicit_const (whose value `implicit_const` carries
// from the abbreviation) as the smallest DW_FORM_data1/2/4 that holds it, or
// DW_FORM_sdata when negative. An index outside its table, or a base the
// unit lacks, gives an empty value (the text too). The supplementary-file
// forms are stepped over like the GNU alternate-file forms.
//
// Unrecognised forms consume nothing and leave an empty value; the extension
// forms of known size (DW_FORM_ref_sig8 and the GNU index and alternate-file
// forms) consume their bytes but are otherwise treated the same, so the rest
// of the entry stays aligned. A value that would run past the end of the
// cursor's view reads as an empty value (zero, length 0, empty text) and
// leaves the cursor exhausted (see byte_cursor.h), so the caller's walk
// ends. A DW_FORM_strp offset outside .debug_str, or a string there without
// its terminator, keeps the offset as the value but gives an empty text.
std::uint32_t ReadAttributeValue(std::uint32_t& form, ByteCursor& cursor,
                                 const FormContext& context,
                                 AttributeValue& value,
                                 std::int32_t implicit_const = 0);

// The form a trace shows for a value read as `form`: a DWARF 5 form by its
// own name rather than by the DWARF 4 form it was read as.
inline bool IsDwarf5Form(std::uint32_t form) {
  return form >= kFormStrx && form <= kFormAddrx4 && form != kFormRefSig8;
}
inline std::uint32_t TracedForm(std::uint32_t form, const AttributeValue& value) {
  return IsDwarf5Form(value.form()) ? value.form() : form;
}

// The size of a value of `form` when the form alone fixes it (as
// SkipAttributeValue steps over it), -1 when the value's bytes decide.
int FixedFormSize(std::uint32_t form, const FormContext& context);

// Moves the cursor past the value of `form` exactly as ReadAttributeValue
// would, without decoding it where the form's size is enough to know. Forms
// it does not step over itself are read into `scratch`. Returns the position
// after the value.
std::uint32_t SkipAttributeValue(std::uint32_t form, ByteCursor& cursor,
                                 const FormContext& context,
                                 AttributeValue& scratch);

}  // namespace dwarfsift
