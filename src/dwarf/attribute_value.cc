#include "dwarf/attribute_value.h"

#include <algorithm>
#include <cstring>

#include "base/text_match.h"

namespace dwarfsift {

FormContext MakeFormContext(const ByteCursor& debug_str,
                            const DwarfParameters& dwarf) {
  return FormContext{dwarf.address_size, debug_str};
}

namespace {

// The bytes of entry `index` (of `width` bytes each) of a table that starts
// `base` bytes into `section`; null when the base is missing or the entry
// lies outside the section.
const std::uint8_t* TableEntry(const ByteCursor& section, std::uint32_t base,
                               std::uint32_t index, std::uint32_t width,
                               ByteCursor& at) {
  if (base == UnitBases::kNoBase) return nullptr;
  const std::uint64_t position = std::uint64_t{section.begin()} + base +
                                 std::uint64_t{index} * width;
  if (position + width > section.end()) return nullptr;
  at = section.At(position);
  return at.Take(width);
}

}  // namespace

bool UnitBases::Address(std::uint32_t index, std::uint8_t address_size,
                        std::uint32_t& address) const {
  ByteCursor at;
  address = 0;
  if (TableEntry(addresses, addr_base, index, address_size, at) == nullptr) return false;
  ByteCursor read = addresses.At(at.position() - address_size);
  address = static_cast<std::uint32_t>(ReadFixed(read, address_size));
  return true;
}

bool UnitBases::ListOffset(const ByteCursor& section, std::uint32_t base,
                           std::uint32_t index, std::uint32_t& offset) const {
  ByteCursor at;
  offset = 0;
  if (TableEntry(section, base, index, 4, at) == nullptr) return false;
  ByteCursor read = section.At(at.position() - 4);
  const std::uint64_t sum = std::uint64_t{base} + ReadFixed32(read);
  if (sum > UINT32_MAX) return false;
  offset = static_cast<std::uint32_t>(sum);
  return true;
}

void AttributeValue::Clear() {
  // Bytes past value_used_ are zero already, so a short value is cleared
  // with one fixed-size store.
  if (value_used_ <= 8) {
    std::memset(value_, 0, 8);
  } else {
    std::memset(value_, 0, value_used_);
  }
  value_used_ = 0;
  length_ = 0;
  text_size_ = 0;
  text_[0] = '\0';
  pending_ = PendingText::kNone;
}

void AttributeValue::WriteText() const {
  char* out = text_ + text_size_;
  // The value area bounds the dump, and the capacity covers a full area
  // inside the indirect marks.
  if (pending_ == PendingText::kLeb128) {
    const std::uint32_t n = number();
    int digits = 1;
    while (digits < 8 && (n >> (digits * 4)) != 0) ++digits;
    *out++ = '0';
    *out++ = 'x';
    for (int i = 0; i < digits; ++i) *out++ = kHexDigits[(n >> ((digits - 1 - i) * 4)) & 0xF];
  } else {
    const bool reversed = pending_ == PendingText::kReversedDump;
    for (std::uint32_t i = 0; i < pending_count_; ++i) {
      const std::uint8_t byte = value_[reversed ? pending_count_ - 1 - i : i];
      *out++ = '0';
      *out++ = 'x';
      *out++ = kHexDigits[byte >> 4];
      *out++ = kHexDigits[byte & 0xF];
      *out++ = ' ';
    }
  }
  text_size_ = static_cast<std::uint32_t>(out - text_);
  *out = '\0';
  pending_ = PendingText::kNone;
}

// The decoding of one value; it writes the AttributeValue's storage directly.
class FormDecoder {
 public:
  FormDecoder(ByteCursor& cursor, const FormContext& context,
              AttributeValue& value)
      : cursor_(cursor), context_(context), v_(value) {}

  // The forms of DWARF 2 to 4 and the extension forms of known size.
  void Decode(std::uint32_t form);
  // Any form: returns the DWARF 4 form the value stands for.
  std::uint32_t DecodeNewer(std::uint32_t form, std::int32_t implicit_const);
  void Append(std::string_view text);

 private:
  void FixedNumber(std::uint32_t width) { FixedNumberFrom(cursor_, width); }
  void FixedNumberFrom(ByteCursor& from, std::uint32_t width);
  // A number that is not in the entry's bytes, laid out as a stored number
  // of `width` bytes in the file's byte order.
  void Number(std::uint32_t number, std::uint32_t width);
  std::uint32_t Index(std::uint32_t form, std::uint32_t first_fixed_form);
  std::uint32_t IndexedString(std::uint32_t form);
  std::uint32_t IndexedAddress(std::uint32_t form);
  std::uint32_t ListIndex(const ByteCursor& section, std::uint32_t base);
  std::uint32_t ImplicitConst(std::int32_t value);
  void Leb128(bool is_signed);
  void Block(std::uint32_t length_field_width);
  void InlineString();
  void StringOffset(const ByteCursor& strings);
  // The 4-byte string offset at `from`, and the string it names.
  void StringOffsetFrom(ByteCursor& from, const ByteCursor& strings);
  void Skip(std::uint32_t width) { cursor_.Skip(width); }
  void SkipUleb128() { ReadUleb128(cursor_); }

  void Store(const std::uint8_t* bytes, std::uint32_t count, bool reversed);
  void DeferText(AttributeValue::PendingText kind, std::uint32_t count);
  void AppendCut(std::string_view text);
  // A value cut off by the end of the view yields nothing, not a part.
  void Truncated();

  ByteCursor& cursor_;
  const FormContext& context_;
  AttributeValue& v_;
  std::uint32_t text_mark_ = 0;
};

void FormDecoder::Decode(std::uint32_t form) {
  text_mark_ = v_.text_size_;
  switch (form) {
    case kFormAddr:
      return FixedNumber(context_.address_size);
    case kFormData1:
    case kFormFlag:
    case kFormRef1:
      return FixedNumber(1);
    case kFormData2:
    case kFormRef2:
      return FixedNumber(2);
    case kFormData4:
    case kFormRef4:
    case kFormRefAddr:  // 4 bytes in every version: only 32-bit DWARF is read
    case kFormSecOffset:
      return FixedNumber(4);
    case kFormData8:
    case kFormRef8:
      return FixedNumber(8);
    case kFormSdata:
      return Leb128(true);
    case kFormUdata:
    case kFormRefUdata:
      return Leb128(false);
    case kFormBlock1:
      return Block(1);
    case kFormBlock2:
      return Block(2);
    case kFormBlock4:
      return Block(4);
    case kFormBlock:
    case kFormExprloc:
      return Block(0);
    case kFormString:
      return InlineString();
    case kFormStrp:
      return StringOffset(context_.strings);
    case kFormFlagPresent:
      v_.value_[0] = 1;
      v_.value_used_ = 1;
      return;
    // A type unit's signature, which references a type by its content.
    case kFormRefSig8:
      return FixedNumber(8);
    // Not decoded, but their size is known: stepping over them keeps the
    // rest of the entry aligned.
    case kFormGnuRefAlt:
    case kFormGnuStrpAlt:
      return Skip(4);
    case kFormGnuAddrIndex:
    case kFormGnuStrIndex:
      return SkipUleb128();
    default:
      return;  // unknown size: nothing is consumed
  }
}

// The forms of DWARF 5; all others go to Decode.
std::uint32_t FormDecoder::DecodeNewer(std::uint32_t form, std::int32_t implicit_const) {
  text_mark_ = v_.text_size_;
  const UnitBases& unit = context_.unit;
  switch (form) {
    case kFormStrx:
    case kFormStrx1:
    case 0x26:  // DW_FORM_strx2
    case 0x27:  // DW_FORM_strx3
    case kFormStrx4:
      return IndexedString(form);
    case kFormLineStrp:
      StringOffset(unit.line_strings);
      return kFormStrp;
    case kFormAddrx:
    case kFormAddrx1:
    case 0x2A:  // DW_FORM_addrx2
    case 0x2B:  // DW_FORM_addrx3
    case kFormAddrx4:
      return IndexedAddress(form);
    case kFormLoclistx:
      return ListIndex(unit.loclists, unit.loclists_base);
    case kFormRnglistx:
      return ListIndex(unit.rnglists, unit.rnglists_base);
    case kFormImplicitConst:
      return ImplicitConst(implicit_const);
    case kFormData16: {
      const std::uint8_t* bytes = cursor_.Take(16);
      if (bytes == nullptr) {
        Truncated();
      } else {
        Store(bytes, 16, false);
        v_.length_ = 16;
        DeferText(AttributeValue::PendingText::kDump, 16);
      }
      return kFormBlock1;
    }
    case kFormRefSup4:
    case kFormStrpSup:
      Skip(4);
      return form;
    case kFormRefSup8:
      Skip(8);
      return form;
    default:
      Decode(form);
      return form;
  }
}


void FormDecoder::FixedNumberFrom(ByteCursor& from, std::uint32_t width) {
  const std::uint8_t* bytes = from.Take(width);
  if (bytes == nullptr) return Truncated();
  const bool reversed = from.byte_order() == ByteOrder::kBig;
  Store(bytes, width, reversed);
  v_.length_ = width;
  DeferText(reversed ? AttributeValue::PendingText::kReversedDump
                     : AttributeValue::PendingText::kDump,
            width);
}

void FormDecoder::Number(std::uint32_t number, std::uint32_t width) {
  std::uint8_t bytes[4];
  for (std::uint32_t i = 0; i < width; ++i) {
    const std::uint32_t shift =
        cursor_.byte_order() == ByteOrder::kBig ? 8 * (width - 1 - i) : 8 * i;
    bytes[i] = static_cast<std::uint8_t>(number >> shift);
  }
  ByteCursor from(std::span<const std::uint8_t>(bytes, width), cursor_.byte_order());
  FixedNumberFrom(from, width);
}

// The index of an indexed form: LEB128 for the plain form, else 1 to 4
// bytes by the form's place after `first_fixed_form`.
std::uint32_t FormDecoder::Index(std::uint32_t form, std::uint32_t first_fixed_form) {
  if (form < first_fixed_form) return ReadUleb128(cursor_);
  return static_cast<std::uint32_t>(
      ReadFixed(cursor_, static_cast<int>(form - first_fixed_form + 1)));
}

std::uint32_t FormDecoder::IndexedString(std::uint32_t form) {
  const std::uint32_t index = Index(form, kFormStrx1);
  if (!cursor_.ok()) {
    Truncated();
    return kFormStrp;
  }
  const UnitBases& unit = context_.unit;
  ByteCursor at;
  if (TableEntry(unit.str_offsets, unit.str_offsets_base, index, 4, at) == nullptr) {
    return kFormStrp;  // empty: no base, or an index past the table
  }
  ByteCursor offset = unit.str_offsets.At(at.position() - 4);
  StringOffsetFrom(offset, context_.strings);
  return kFormStrp;
}

std::uint32_t FormDecoder::IndexedAddress(std::uint32_t form) {
  const std::uint32_t index = Index(form, kFormAddrx1);
  if (!cursor_.ok()) {
    Truncated();
    return kFormAddr;
  }
  const UnitBases& unit = context_.unit;
  const std::uint32_t width = context_.address_size;
  ByteCursor at;
  if (TableEntry(unit.addresses, unit.addr_base, index, width, at) != nullptr) {
    ByteCursor address = unit.addresses.At(at.position() - width);
    FixedNumberFrom(address, width);
  }
  return kFormAddr;
}

std::uint32_t FormDecoder::ListIndex(const ByteCursor& section, std::uint32_t base) {
  const std::uint32_t index = ReadUleb128(cursor_);
  if (!cursor_.ok()) {
    Truncated();
    return kFormSecOffset;
  }
  std::uint32_t offset = 0;
  if (context_.unit.ListOffset(section, base, index, offset)) Number(offset, 4);
  return kFormSecOffset;
}

// DWARF 4 writers put a constant in the smallest data form that holds it,
// and a negative one in DW_FORM_sdata.
std::uint32_t FormDecoder::ImplicitConst(std::int32_t value) {
  const auto number = static_cast<std::uint32_t>(value);
  if (value < 0) {
    const std::uint8_t bytes[4] = {
        static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
        static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
    Store(bytes, 4, false);
    v_.length_ = 4;
    DeferText(AttributeValue::PendingText::kLeb128, 4);
    return kFormSdata;
  }
  if (number <= 0xFF) {
    Number(number, 1);
    return kFormData1;
  }
  if (number <= 0xFFFF) {
    Number(number, 2);
    return kFormData2;
  }
  Number(number, 4);
  return kFormData4;
}

void FormDecoder::Leb128(bool is_signed) {
  const std::uint32_t start = cursor_.position();
  const std::uint32_t number =
      is_signed ? static_cast<std::uint32_t>(ReadSleb128(cursor_))
                : ReadUleb128(cursor_);
  if (!cursor_.ok()) return Truncated();
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
      static_cast<std::uint8_t>(number >> 16),
      static_cast<std::uint8_t>(number >> 24)};
  Store(bytes, 4, false);
  v_.length_ = cursor_.position() - start;
  DeferText(AttributeValue::PendingText::kLeb128, 4);
}

void FormDecoder::Block(std::uint32_t length_field_width) {
  const std::uint32_t length =
      length_field_width == 0
          ? ReadUleb128(cursor_)
          : static_cast<std::uint32_t>(ReadFixed(
                cursor_, static_cast<int>(length_field_width)));
  const std::uint8_t* bytes = cursor_.ok() ? cursor_.Take(length) : nullptr;
  if (bytes == nullptr) return Truncated();
  // The block is consumed whole; the value area keeps its first bytes.
  const auto kept = std::min<std::uint32_t>(length, AttributeValue::kValueSize);
  Store(bytes, kept, false);
  v_.length_ = length;
  DeferText(AttributeValue::PendingText::kDump, kept);
}

void FormDecoder::InlineString() {
  const std::string_view text = cursor_.ReadCString();
  if (!cursor_.ok()) return Truncated();
  v_.length_ = static_cast<std::uint32_t>(text.size()) + 1;
  AppendCut(text);
}

void FormDecoder::StringOffset(const ByteCursor& strings) {
  StringOffsetFrom(cursor_, strings);
}

void FormDecoder::StringOffsetFrom(ByteCursor& from, const ByteCursor& strings) {
  FixedNumberFrom(from, 4);
  if (v_.length_ == 0) return;  // the offset itself was cut off
  ByteCursor at = strings.View(
      static_cast<std::uint64_t>(strings.begin()) + v_.number(), strings.end());
  const std::string_view text = at.ReadCString();
  v_.pending_ = AttributeValue::PendingText::kNone;  // the offset's dump is not the text
  v_.text_size_ = text_mark_;
  // An offset outside .debug_str, or a string that runs off its end, shows
  // as an empty text; the offset stays in the value.
  if (at.ok()) AppendCut(text);
  v_.text_[v_.text_size_] = '\0';
}

void FormDecoder::Store(const std::uint8_t* bytes, std::uint32_t count,
                        bool reversed) {
  if (reversed) {
    std::reverse_copy(bytes, bytes + count, v_.value_);
  } else if (count == 4) {
    // The common widths as fixed-size copies, which need no call.
    std::memcpy(v_.value_, bytes, 4);
  } else if (count == 1) {
    v_.value_[0] = bytes[0];
  } else if (count == 2) {
    std::memcpy(v_.value_, bytes, 2);
  } else {
    std::memcpy(v_.value_, bytes, count);
  }
  v_.value_used_ = std::max(v_.value_used_, count);
}

void FormDecoder::DeferText(AttributeValue::PendingText kind,
                            std::uint32_t count) {
  v_.pending_ = kind;
  v_.pending_count_ = count;
}

void FormDecoder::Append(std::string_view text) {
  v_.WritePendingText();
  const std::size_t room = AttributeValue::kTextCapacity - 1 - v_.text_size_;
  const std::size_t n = std::min(text.size(), room);
  std::memcpy(v_.text_ + v_.text_size_, text.data(), n);
  v_.text_size_ += static_cast<std::uint32_t>(n);
  v_.text_[v_.text_size_] = '\0';
}

void FormDecoder::AppendCut(std::string_view text) {
  Append(text.substr(0, AttributeValue::kStringTextLimit));
}

void FormDecoder::Truncated() {
  v_.pending_ = AttributeValue::PendingText::kNone;
  std::memset(v_.value_, 0, v_.value_used_);
  v_.value_used_ = 0;
  v_.length_ = 0;
  v_.text_size_ = text_mark_;
  v_.text_[v_.text_size_] = '\0';
}

std::uint32_t ReadAttributeValue(std::uint32_t& form, ByteCursor& cursor,
                                 const FormContext& context,
                                 AttributeValue& value, std::int32_t implicit_const) {
  value.Clear();
  // An indirect form names the real form in the data, which may itself be
  // indirect; the chain is followed in a loop, with a bound, not recursively.
  int depth = 0;
  while (form == kFormIndirect && depth < AttributeValue::kIndirectLimit) {
    form = ReadUleb128(cursor);
    ++depth;
  }
  value.form_ = form;
  FormDecoder decoder(cursor, context, value);
  for (int i = 0; i < depth; ++i) decoder.Append("<");
  // A chain that is still indirect at the bound reads as unrecognised.
  // The forms of DWARF 2 to 4 (all below the DWARF 5 codes) are nearly
  // every value of a file: they go straight to their decoding.
  if (form <= kFormFlagPresent) {
    decoder.Decode(form);
  } else if (form != kFormIndirect) {
    form = decoder.DecodeNewer(form, implicit_const);
  }
  for (int i = 0; i < depth; ++i) decoder.Append(">");
  return cursor.position();
}

int FixedFormSize(std::uint32_t form, const FormContext& context) {
  switch (form) {
    case kFormAddr:
      return context.address_size;
    case kFormData1:
    case kFormFlag:
    case kFormRef1:
      return 1;
    case kFormData2:
    case kFormRef2:
      return 2;
    case kFormData4:
    case kFormRef4:
    case kFormRefAddr:
    case kFormSecOffset:
    case kFormStrp:
      return 4;
    case kFormData8:
    case kFormRef8:
    case kFormRefSig8:
      return 8;
    case kFormFlagPresent:
      return 0;
    default:
      return -1;
  }
}

std::uint32_t SkipAttributeValue(std::uint32_t form, ByteCursor& cursor,
                                 const FormContext& context,
                                 AttributeValue& scratch) {
  switch (form) {
    case kFormAddr:
      cursor.Skip(context.address_size);
      break;
    case kFormData1:
    case kFormFlag:
    case kFormRef1:
      cursor.Skip(1);
      break;
    case kFormData2:
    case kFormRef2:
      cursor.Skip(2);
      break;
    case kFormData4:
    case kFormRef4:
    case kFormRefAddr:
    case kFormSecOffset:
    case kFormStrp:
      cursor.Skip(4);
      break;
    case kFormData8:
    case kFormRef8:
    case kFormRefSig8:
      cursor.Skip(8);
      break;
    case kFormSdata:
    case kFormUdata:
    case kFormRefUdata:
      ReadUleb128(cursor);  // a signed number has the same bytes
      break;
    case kFormBlock1:
    case kFormBlock2:
    case kFormBlock4:
    case kFormBlock:
    case kFormExprloc: {
      const std::uint32_t length =
          form == kFormBlock1   ? static_cast<std::uint32_t>(ReadFixed(cursor, 1))
          : form == kFormBlock2 ? static_cast<std::uint32_t>(ReadFixed(cursor, 2))
          : form == kFormBlock4 ? static_cast<std::uint32_t>(ReadFixed(cursor, 4))
                                : ReadUleb128(cursor);
      if (cursor.ok()) cursor.Skip(length);
      break;
    }
    case kFormString:
      cursor.ReadCString();
      break;
    case kFormFlagPresent:
      break;
    default:
      return ReadAttributeValue(form, cursor, context, scratch);
  }
  return cursor.position();
}

}  // namespace dwarfsift
