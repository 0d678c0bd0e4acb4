// The type rules: how a chain of type entries folds into the record of the
// slot it was followed for, and how structure members fill the slots after
// slot 0.
#include "symbols/type_rules.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "base/messages.h"
#include "base/text_match.h"
#include "dwarf/dwarf_names.h"
#include "location/location_expression.h"
#include "symbols/follow_replay.h"
#include "symbols/type_sizes.h"

namespace dwarfsift {

namespace {

inline constexpr std::uint32_t kTagEnumerationType = 0x04;
inline constexpr std::uint32_t kTagReferenceType = 0x10;
inline constexpr std::uint32_t kTagRvalueReferenceType = 0x42;
inline constexpr std::uint32_t kTagBaseType = 0x24;
inline constexpr std::uint32_t kTagConstType = 0x26;
inline constexpr std::uint32_t kTagRestrictType = 0x37;
inline constexpr std::uint32_t kTagVolatileType = 0x35;
// DWARF 5 qualifiers: _Atomic is read like volatile, D's immutable like const
// (and so is C's restrict).
inline constexpr std::uint32_t kTagAtomicType = 0x47;
inline constexpr std::uint32_t kTagImmutableType = 0x4B;


// Members nested this deep are not expanded.
inline constexpr int kMemberDepthLimit = 12;
inline constexpr std::size_t kMemberNameLimit = 256;
inline constexpr std::size_t kTypeNameLimit = 31;



// "-x": no local structures.
bool DropsLocalStruct(WalkContext& walk) {
  if (!walk.state().no_local_structs) return false;
  return IsLocal(std::as_const(walk.symbols)[kCurrentSlot].ident);
}

// The slot at `index` when types may write to it. Member slots end where
// the "-g" copies begin; a slot index left at the end of a full member
// region writes nowhere.
SymbolRecord* WritableSlot(WalkContext& walk, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= kFirstCopySlot) return nullptr;
  return &walk.symbols[static_cast<std::size_t>(index)];
}

bool Follow(WalkContext& walk, const AttributeInput& input, int depth,
            int& slot_index) {
  return walk.processor.FollowType(walk, input.number, input.form == kFormRefAddr, depth,
                    slot_index);
}

void AddDimension(SymbolRecord& slot, std::uint32_t value) {
  if (slot.ele_count < 0 || slot.ele_count >= kMaxArrayDimensions) return;
  slot.ele[slot.ele_count++] = static_cast<std::int32_t>(value);
}

bool SlotZeroIsStruct(WalkContext& walk) {
  return (std::as_const(walk.symbols)[kCurrentSlot].kind & kKindStruct) != 0;
}

// Rules shared by base types and enumerations.
void ScalarRules(SymbolRecord& type, const AttributeInput& input) {
  if (input.form != kFormData1) return;
  switch (input.attribute) {
    case kAtByteSize:
      type.one_byte = static_cast<std::int32_t>(input.number);
      return;
    case kAtBitOffset:
      type.kind |= kKindBit;
      type.bit_off = static_cast<std::int32_t>(input.number);
      return;
    case kAtBitSize:
      type.kind |= kKindBit;
      type.bit_size = static_cast<std::int32_t>(input.number);
      return;
    case kAtEncoding:
      CopyName(type.typen, BaseTypeName(input.number));
      return;
    default:
      return;
  }
}

void EnumerationName(SymbolRecord* slot, std::string_view name) {
  if (slot == nullptr) return;
  char text[sizeof slot->struct_name];
  const std::size_t n = std::min(name.size(), kTypeNameLimit);
  std::copy_n(name.data(), n, text);
  constexpr std::string_view kSuffix = "(enum)";
  std::copy(kSuffix.begin(), kSuffix.end(), text + n);
  CopyName(slot->struct_name, std::string_view(text, n + kSuffix.size()));
}

// Base types and enumerations: a base type's name is its type name, an
// enumeration's goes to its record's struct text. An enumeration without
// an encoding (clang writes none) is named by its underlying type.
void ScalarTypeRules(WalkContext& walk, std::uint32_t tag, SymbolRecord& type,
                     const AttributeInput& input, int depth, int& slot_index) {
  const bool name = input.attribute == kAtName && IsStringForm(input.form);
  if (tag == kTagBaseType && name) {
    CopyName(type.typen, input.value.text(), kTypeNameLimit);
  } else if (name) {
    EnumerationName(WritableSlot(walk, slot_index), input.value.text());
  } else if (input.attribute == kAtType && IsReferenceForm(input.form)) {
    if (!HasAttribute(input.entry_specs, kAtEncoding)) Follow(walk, input, depth, slot_index);
  } else {
    ScalarRules(type, input);
  }
}

void StructureRules(WalkContext& walk, SymbolRecord& type,
                    const AttributeInput& input, int depth, int slot_index,
                    std::uint32_t self_offset) {
  ScopeState& scope = walk.scope;
  switch (input.attribute) {
    case kAtByteSize:
      if (SymbolRecord* at = WritableSlot(walk, slot_index)) at->entry2 = self_offset;
      type.kind |= kKindStruct;
      type.struct_len = static_cast<std::int32_t>(input.number);
      walk.expansion.Push(self_offset, depth);
      return;
    case kAtSibling:
      if (scope.struct_tag_name[0] == '\0' && depth <= 1) {
        CopyName(scope.struct_tag_name, scope.pending_type_name, kGroupNameLimit);
      }
      return;
    case kAtName:
      // A typedef's name, met first, wins over the structure's tag.
      if (scope.pending_type_name[0] == '\0' && depth <= 1) {
        CopyName(scope.pending_type_name, input.value.text(), kGroupNameLimit);
      }
      return;
    default:
      return;
  }
}

// A bit field's DW_AT_data_bit_offset (the field's first bit counted from
// the structure's start, as DWARF 5 writers give it) turned into what older
// writers give instead and the member records carry: the byte location of
// the storage unit that holds the field (a unit of the field type's size,
// placed on a multiple of that size where the field fits) and DW_AT_bit_offset,
// the bits from the unit's most significant bit to the field's. The field's
// type and bit size come before this attribute in the entries of those
// writers. As with DW_AT_bit_offset, a value outside one data byte is not
// kept.
void DataBitOffsetRule(WalkContext& walk, SymbolRecord& type, std::uint32_t data_bit_offset) {
  const std::uint32_t storage_bytes = type.one_byte > 0 ? static_cast<std::uint32_t>(type.one_byte) : 0;
  const std::uint32_t storage_bits = storage_bytes * 8;
  const auto field_bits = static_cast<std::uint32_t>(std::max(type.bit_size, 0));
  if (storage_bits == 0 || field_bits == 0) return;
  const std::uint64_t deepest = std::uint64_t{data_bit_offset} + field_bits;
  // The last storage unit ending at or after the field's last bit, unless
  // that one starts after the field's first bit.
  std::uint64_t unit_bit = (deepest + storage_bits - 1) / storage_bits * storage_bits - storage_bits;
  if (unit_bit > data_bit_offset) {
    unit_bit = (deepest - storage_bits + storage_bits - 1) / storage_bits * storage_bits;
  }
  const std::int64_t bit_offset =
      walk.dwarf.byte_order == ByteOrder::kBig
          ? static_cast<std::int64_t>(data_bit_offset) - static_cast<std::int64_t>(unit_bit)
          : static_cast<std::int64_t>(unit_bit + storage_bits) - static_cast<std::int64_t>(deepest);
  type.ident = kIdentMember;
  type.location = static_cast<std::int32_t>(unit_bit / 8);
  if (bit_offset >= 0 && bit_offset <= 0xFF) {
    type.kind |= kKindBit;
    type.bit_off = static_cast<std::int32_t>(bit_offset);
  }
}

void MemberRules(WalkContext& walk, SymbolRecord& type,
                 const AttributeInput& input, int depth, int& slot_index,
                 std::uint32_t self_offset) {
  switch (input.attribute) {
    case kAtName:
      if (!IsStringForm(input.form)) return;
      if (SymbolRecord* at = WritableSlot(walk, slot_index)) {
        at->entry = self_offset;
        at->ident = kIdentMember;
        CopyName(at->name, input.value.text(), kMemberNameLimit);
      }
      return;
    case kAtDataMemberLocation:
      if (IsBlockForm(input.form)) {
        const auto block = input.value.block();
        if (block.empty() || block[0] != kOpPlusUconst) return;
        ByteCursor operand(block, walk.dwarf.byte_order);
        operand.Skip(1);
        type.ident = kIdentMember;
        type.location = static_cast<std::int32_t>(ReadUleb128(operand));
      } else if (input.form == kFormData1 || input.form == kFormData2 ||
                 input.form == kFormUdata) {
        type.ident = kIdentMember;
        type.location = static_cast<std::int32_t>(input.number);
      }
      return;
    case kAtDataBitOffset:
      if (input.form == kFormData1 || input.form == kFormData2 || input.form == kFormData4 ||
          input.form == kFormUdata) {
        DataBitOffsetRule(walk, type, input.number);
      }
      return;
    case kAtBitOffset:
    case kAtBitSize:
    case kAtByteSize:
      if (input.form != kFormData1) return;
      if (input.attribute == kAtByteSize) {
        type.one_byte = static_cast<std::int32_t>(input.number);
      } else if (input.attribute == kAtBitOffset) {
        type.kind |= kKindBit;
        type.bit_off = static_cast<std::int32_t>(input.number);
      } else {
        type.kind |= kKindBit;
        type.bit_size = static_cast<std::int32_t>(input.number);
      }
      return;
    case kAtType:
      if (IsReferenceForm(input.form)) Follow(walk, input, depth, slot_index);
      return;
    default:
      return;
  }
}

// A base class stands in its derived class's layout like a member named
// after the base, whose type is the base.
void InheritanceRules(WalkContext& walk, SymbolRecord& type, const AttributeInput& input,
                      int depth, int& slot_index, std::uint32_t self_offset) {
  if (input.attribute == kAtType && IsReferenceForm(input.form)) {
    if (SymbolRecord* at = WritableSlot(walk, slot_index)) {
      at->entry = self_offset;
      at->ident = kIdentMember;
      walk.processor.TakeReferencedName(walk, input, *at);
    }
  }
  MemberRules(walk, type, input, depth, slot_index, self_offset);
}

}  // namespace

bool AdmitMember(WalkContext& walk, ByteCursor cursor, AbbrevDecl specs,
                 int depth, int& slot_index, std::uint32_t& skip_to) {
  const SymbolTable& symbols = walk.symbols;
  const bool refused = symbols[kCurrentSlot].name[0] == '\0' ||
                       DropsLocalStruct(walk) || walk.state().no_members;
  if (refused) {
    skip_to = walk.processor.SkipEntry(walk, cursor, kTagMember, specs, true);
    return false;
  }
  // A static data member is declared in the class but lives elsewhere; its
  // definition is converted as a variable of its own.
  if (HasAttribute(specs.specs(), kAtDeclaration)) {
    skip_to = walk.processor.SkipEntry(walk, cursor, kTagMember, specs, false);
    return false;
  }
  // Members too deep, and the rest of the entry's members once the slots
  // are used up, are dropped with what they would expand; the symbol keeps
  // the members that fit. Deep chains are common (pointers through linked
  // structures), and the variable itself must not vanish over them.
  if ((slot_index > 0 && depth >= kMemberDepthLimit) || walk.member_slots_full ||
      static_cast<std::size_t>(slot_index) >= kFirstCopySlot) {
    skip_to = walk.processor.SkipEntry(walk, cursor, kTagMember, specs, false);
    return false;
  }
  ScopeState& scope = walk.scope;
  if (symbols[static_cast<std::size_t>(slot_index)].name[0] != '\0') {
    ++slot_index;
    ++scope.member_overflow_count;
    if (static_cast<std::size_t>(slot_index) == kFirstCopySlot) {
      ReportMemberSlotsFull(walk, scope.member_overflow_count);
      walk.member_slots_full = true;
      skip_to = walk.processor.SkipEntry(walk, cursor, kTagMember, specs, false);
      return false;
    }
  }
  walk.symbols[static_cast<std::size_t>(slot_index)].nest = depth;
  // A member without a type is still one of the entry's members.
  if (slot_index > scope.highest_slot) scope.highest_slot = slot_index;
  return true;
}

void ApplyTypeRules(WalkContext& walk, std::uint32_t tag,
                    const AttributeInput& input, int depth, int& slot_index,
                    int type_slot, std::uint32_t self_offset) {
  SymbolRecord* const type = WritableSlot(walk, type_slot);
  if (type == nullptr) return;
  const bool reference = input.attribute == kAtType && IsReferenceForm(input.form);
  switch (tag) {
    case kTagTypedef:
      if (reference) {
        Follow(walk, input, depth, slot_index);
      } else if (input.attribute == kAtName && IsStringForm(input.form) && depth <= 1) {
        CopyName(walk.scope.pending_type_name, input.value.text(), kGroupNameLimit);
      }
      return;
    case kTagConstType:
    case kTagImmutableType:
    case kTagRestrictType:
      if (reference) Follow(walk, input, depth, slot_index);
      return;
    case kTagVolatileType:
    case kTagAtomicType:
      if (reference) {
        const int saved = slot_index;
        if (Follow(walk, input, depth, slot_index)) slot_index = saved;
      }
      return;
    case kTagPointerType:
    case kTagReferenceType:
    case kTagRvalueReferenceType:
      // A pointer without a type (void *) is still one; a reference holds
      // an address too (read as the object, its bytes would mislead).
      type->kind |= kKindPointer;
      if (reference) Follow(walk, input, depth, slot_index);
      return;
    case kTagArrayType:
      type->kind |= kKindArray;
      if (reference) {
        // An array of structures keeps the slot index past the members its
        // element type expanded.
        const bool keep = SlotZeroIsStruct(walk);
        const int saved = slot_index;
        Follow(walk, input, depth, slot_index);
        if (!keep && !SlotZeroIsStruct(walk)) slot_index = saved;
      }
      return;
    case kTagSubrangeType:
      if (input.attribute == kAtUpperBound) {
        AddDimension(*type, input.number + 1);
      } else if (input.attribute == kAtCount) {
        AddDimension(*type, input.number);
      }
      return;
    case kTagBaseType:
    case kTagEnumerationType:
      ScalarTypeRules(walk, tag, *type, input, depth, slot_index);
      return;
    case kTagStructureType:
    case kTagClassType:
    case kTagUnionType:
      StructureRules(walk, *type, input, depth, slot_index, self_offset);
      return;
    case kTagMember:
      MemberRules(walk, *type, input, depth, slot_index, self_offset);
      return;
    case kTagInheritance:
      InheritanceRules(walk, *type, input, depth, slot_index, self_offset);
      return;
    default:
      return;
  }
}

void ApplyTagTypeRules(WalkContext& walk, std::uint32_t tag, int type_slot) {
  if (tag != kTagPointerType && tag != kTagReferenceType && tag != kTagRvalueReferenceType) return;
  if (std::as_const(walk.symbols)[kCurrentSlot].name[0] == '\0') return;
  if (SymbolRecord* type = WritableSlot(walk, type_slot)) type->kind |= kKindPointer;
}

std::uint32_t TakeTypeChildren(WalkContext& walk, ByteCursor cursor, const AbbrevDecl& specs,
                               int depth, int& slot_index, int type_slot,
                               std::uint32_t self_offset) {
  const std::uint32_t tag = specs.tag();
  const bool has_children = specs.children() != 0;
  // Without children the entries that follow are its siblings: read as
  // children they would give an opaque structure the members of whatever
  // structure comes next in the unit.
  if (!has_children && tag == kTagArrayType) return cursor.position();
  if (tag == kTagArrayType) {
    // The dimensions go to the array's own slot; the caller's slot index
    // stays where the element type left it.
    int array_slot = type_slot;
    return walk.processor.ProcessChildren(walk, cursor, kTagSubrangeType, depth, array_slot,
                           self_offset);
  }
  if (DropsLocalStruct(walk)) {
    walk.symbols[kCurrentSlot].name[0] = '\0';
    return cursor.position();
  }
  if (walk.state().no_members) return cursor.position();
  walk.symbols.WritePendingMembers();
  if (!StructureIsExpanding(walk.expansion, self_offset, depth)) {
    if (!has_children) return cursor.position();
    const SymbolTable& symbols = walk.symbols;
    const auto at = static_cast<std::size_t>(slot_index);
    const bool named_type =
        type_slot >= 0 && static_cast<std::size_t>(type_slot) < SymbolTable::size() &&
        symbols[static_cast<std::size_t>(type_slot)].name[0] != '\0';
    const int member_depth =
        (at < SymbolTable::size() ? symbols[at].nest : depth) + (named_type ? 1 : 0);
    walk.expansion.Enter(self_offset, depth);
    const std::uint32_t end = TakeMembersOrReplay(walk, cursor, member_depth, slot_index, self_offset);
    walk.expansion.Leave();
    return end;
  }
  if (SymbolRecord* at = WritableSlot(walk, slot_index)) at->kind |= kKindStruct2P;
  return cursor.position();
}

bool HasBound(std::span<const AttributeSpec> specs) {
  return HasAttribute(specs, kAtUpperBound) || HasAttribute(specs, kAtCount);
}

void AddUnboundDimension(WalkContext& walk, int slot) {
  // Only a symbol's own array can learn its count (from its ELF symbol); a
  // member's (a flexible array member) keeps the description it had.
  if (slot != static_cast<int>(kCurrentSlot)) return;
  if (SymbolRecord* at = WritableSlot(walk, slot)) AddDimension(*at, 0);
}

void FinishTypeSizes(WalkContext& walk) {
  SymbolTable& symbols = walk.symbols;
  const SymbolRecord& current = std::as_const(symbols)[kCurrentSlot];
  const std::int32_t address_size = walk.dwarf.address_size;
  if (current.name[0] != '\0') FinishSlot(symbols[kCurrentSlot], current, address_size);
  // Pending member slots are completed when they are written.
  if (symbols.pending_members() != nullptr) {
    walk.replayed_members.MarkFinished();
  } else {
    FinishMemberSlots(symbols, walk.scope.highest_slot, address_size);
  }
  const auto copies = std::min<std::size_t>(
      static_cast<std::size_t>(std::max(walk.scope.global_copy_count, 0)), kMaxGlobalCopies);
  for (std::size_t i = kFirstCopySlot; i < kFirstCopySlot + copies; ++i) {
    if (std::as_const(symbols)[i].name[0] == '\0') continue;
    FinishSlot(symbols[i], current, address_size);
  }
}

void ResetMemberExpansion(SlotWriter& slots) {
  slots.expansion.Clear();
  slots.follow_cache.spans.clear();
  slots.member_slots_full = false;
}

}  // namespace dwarfsift
