// The DWARF terms the symbol conversion acts on: tags, attributes, the form
// classes its rules tell apart, and one attribute as the rules see it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "dwarf/abbrev_table.h"
#include "dwarf/attribute_value.h"
#include "symbols/symbol_table.h"

namespace dwarfsift {

// The DWARF tags and attributes the symbol conversion acts on.
inline constexpr std::uint32_t kTagArrayType = 0x01;
inline constexpr std::uint32_t kTagClassType = 0x02;
inline constexpr std::uint32_t kTagFormalParameter = 0x05;
inline constexpr std::uint32_t kTagLabel = 0x0A;
inline constexpr std::uint32_t kTagMember = 0x0D;
inline constexpr std::uint32_t kTagPointerType = 0x0F;
inline constexpr std::uint32_t kTagCompileUnit = 0x11;
inline constexpr std::uint32_t kTagStructureType = 0x13;
inline constexpr std::uint32_t kTagSubrangeType = 0x21;
inline constexpr std::uint32_t kTagTypedef = 0x16;
inline constexpr std::uint32_t kTagInheritance = 0x1C;
inline constexpr std::uint32_t kTagUnionType = 0x17;
inline constexpr std::uint32_t kTagSubprogram = 0x2E;
inline constexpr std::uint32_t kTagVariable = 0x34;

inline constexpr std::uint32_t kAtSibling = 0x01;
inline constexpr std::uint32_t kAtLocation = 0x02;
inline constexpr std::uint32_t kAtName = 0x03;
inline constexpr std::uint32_t kAtByteSize = 0x0B;
inline constexpr std::uint32_t kAtBitOffset = 0x0C;
inline constexpr std::uint32_t kAtBitSize = 0x0D;
inline constexpr std::uint32_t kAtLowPc = 0x11;
inline constexpr std::uint32_t kAtHighPc = 0x12;
inline constexpr std::uint32_t kAtUpperBound = 0x2F;
inline constexpr std::uint32_t kAtCount = 0x37;
inline constexpr std::uint32_t kAtDataMemberLocation = 0x38;
inline constexpr std::uint32_t kAtEncoding = 0x3E;
inline constexpr std::uint32_t kAtExternal = 0x3F;
inline constexpr std::uint32_t kAtFrameBase = 0x40;
inline constexpr std::uint32_t kAtDeclFile = 0x3A;
inline constexpr std::uint32_t kAtDeclaration = 0x3C;
inline constexpr std::uint32_t kAtType = 0x49;
inline constexpr std::uint32_t kAtAbstractOrigin = 0x31;
inline constexpr std::uint32_t kAtSpecification = 0x47;
inline constexpr std::uint32_t kAtDataBitOffset = 0x6B;
inline constexpr std::uint32_t kAtSignature = 0x69;

// The form classes the entry, type and location rules act on. A
// DW_FORM_ref2 type reference is already turned into DW_FORM_ref_addr when
// the rules see it.
inline bool IsStringForm(std::uint32_t form) {
  return form == kFormString || form == kFormStrp;
}
inline bool IsBlockForm(std::uint32_t form) {
  return form == kFormBlock1 || form == kFormBlock || form == kFormExprloc;
}
inline bool IsReferenceForm(std::uint32_t form) {
  return form == kFormRefAddr || form == kFormRef4 || form == kFormRefUdata;
}
// Whether an abbreviation lists `attribute`.
inline bool HasAttribute(std::span<const AttributeSpec> specs, std::uint32_t attribute) {
  return std::any_of(specs.begin(), specs.end(),
                     [attribute](const AttributeSpec& spec) { return spec.attribute == attribute; });
}
// The entries that stand in an object's layout as members: fields, and the
// base classes a C++ class derives from.
inline bool IsMemberTag(std::uint32_t tag) { return tag == kTagMember || tag == kTagInheritance; }
// The classes of locals, which -l and -x drop.
inline bool IsLocal(std::int32_t ident) {
  return ident == kIdentLocalStatic || ident == kIdentLocalRegister ||
         ident == kIdentLocalFrame;
}

// One attribute as the entry and type rules see it: a DW_FORM_ref2 type
// reference arrives already turned into a section offset (form
// DW_FORM_ref_addr).
struct AttributeInput {
  std::uint32_t attribute;
  std::uint32_t form;
  std::uint32_t number;
  const AttributeValue& value;
  // All attributes of the entry, for rules that depend on the others.
  std::span<const AttributeSpec> entry_specs = {};
};

// Copies `text` into a fixed name field, cut to the field.
template <std::size_t N>
void CopyName(char (&field)[N], std::string_view text, std::size_t limit = N - 1) {
  const std::size_t n = std::min({text.size(), limit, N - 1});
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace dwarfsift
