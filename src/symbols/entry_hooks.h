// The points where the type and member rules join the entry processing.
//
// ProcessEntry decides which attribute of which entry reaches which rule;
// the rules themselves (folding type chains into a record, expanding
// structure members) live behind these functions. Where a rule set is not
// part of the tool yet, its hook leaves the record as it is. The location
// rules have their own header, location_rules.h.
#pragma once

#include <cstdint>

#include "dwarf/abbrev_table.h"
#include "dwarf/attribute_value.h"
#include "dwarf/byte_cursor.h"

namespace dwarfsift {

struct WalkContext;

// One attribute as the rules see it: a DW_FORM_ref2 type reference arrives
// already turned into a section offset (form DW_FORM_ref_addr).
struct AttributeInput {
  std::uint32_t attribute;
  std::uint32_t form;
  std::uint32_t number;
  const AttributeValue& value;
};

// Member admission for a DW_TAG_member entry. May advance `slot_index` to
// the member's own slot. When it returns false the entry is not processed
// further and ProcessEntry returns `skip_to`.
bool AdmitMember(WalkContext& walk, ByteCursor cursor, AbbrevDecl specs,
                 int depth, int& slot_index, std::uint32_t& skip_to);

// The type rules of the entry's tag for one attribute, written to
// `type_slot`. Called only while slot 0 has a name.
void ApplyTypeRules(WalkContext& walk, std::uint32_t tag,
                    const AttributeInput& input, int depth, int& slot_index,
                    int type_slot, std::uint32_t self_offset);

// Array and structure/union types take their own children; returns the
// position after them (or `cursor`'s position when nothing was taken).
// `has_children` is the entry's children flag: a type without children (a
// declared structure) takes none. `type_slot` is the slot the entry's own
// attributes were written to; an array's dimensions go there even when
// following its element type moved `slot_index` past the element's members.
std::uint32_t TakeTypeChildren(WalkContext& walk, ByteCursor cursor, std::uint32_t tag,
                               bool has_children, int depth, int& slot_index,
                               int type_slot, std::uint32_t self_offset);

// Completes `total_byte` and the other sizes of the finished entry.
void FinishTypeSizes(WalkContext& walk);

// Forgets the structures being expanded for the current entry.
void ResetMemberExpansion(WalkContext& walk);

}  // namespace dwarfsift
