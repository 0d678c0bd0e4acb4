// The type and member rules: how a chain of type entries folds into the
// record of the slot it was followed for, and how structure members fill
// the slots after slot 0.
//
// ProcessEntry decides which attribute of which entry reaches which rule;
// the rules themselves live behind the functions declared here. The
// expansion stack keeps a structure that reaches its own type again from
// being expanded without end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dwarf/abbrev_table.h"
#include "dwarf/byte_cursor.h"
#include "symbols/entry_terms.h"
#include "symbols/walk_context.h"

namespace dwarfsift {

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

// The type rules the entry's tag decides alone, before its attributes: a
// pointer or reference is one even as an entry without attributes (LLVM
// writes `void *` so).
void ApplyTagTypeRules(WalkContext& walk, std::uint32_t tag, int type_slot);

// Array and structure/union types take their own children; returns the
// position after them (or `cursor`'s position when nothing was taken).
// `specs` is the entry's declaration: a type without children (a declared
// structure) takes none. `type_slot` is the slot the entry's own attributes
// were written to; an array's dimensions go there even when following its
// element type moved `slot_index` past the element's members.
std::uint32_t TakeTypeChildren(WalkContext& walk, ByteCursor cursor, const AbbrevDecl& specs,
                               int depth, int& slot_index, int type_slot,
                               std::uint32_t self_offset);

// Whether a dimension entry gives its bound.
bool HasBound(std::span<const AttributeSpec> specs);
// A dimension of unknown bound ("[]") in `slot`: counted as 0 elements
// when the slot is the symbol's own.
void AddUnboundDimension(WalkContext& walk, int slot);

// Completes `total_byte` and the other sizes of the finished entry.
void FinishTypeSizes(WalkContext& walk);

// Forgets the structures being expanded for the current entry.
void ResetMemberExpansion(SlotWriter& slots);

}  // namespace dwarfsift
