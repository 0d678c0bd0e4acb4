// Turning debugging entries into symbol records.
//
// The unit walk hands every entry of a unit to ProcessEntry in stored order.
// Entries that describe a symbol (variables, parameters, labels, functions,
// the unit itself) fill slot 0 of the SymbolTable; a DW_AT_type is followed
// at once (FollowType), so the type chain folds into the same record and,
// for structure members, into the slots after it. The type and member rules
// are declared in type_rules.h, the location rules in location_rules.h;
// they reach ProcessEntry again through the walk's EntryProcessor.
#pragma once

#include <cstdint>

#include "dwarf/abbrev_table.h"
#include "dwarf/byte_cursor.h"
#include "symbols/entry_terms.h"
#include "symbols/symbol_table.h"
#include "symbols/walk_context.h"

namespace dwarfsift {

// The sink of a conversion run: SymbolIsWanted and EmitCurrentSymbol.
class SymFileSink : public SymbolSink {
 public:
  explicit SymFileSink(const SymbolWriteContext& context) : context_(context) {}
  bool IsWanted(SymbolRecord& current) override;
  bool Emit(SymbolTable& table, std::uint32_t global_copy_count) override;
  bool TakesPendingMembers() const override { return true; }

 private:
  SymbolWriteContext context_;
};

// Processes the entry whose attribute values start at `cursor` (right after
// its abbreviation code) and returns the position after its values, or
// after its children when it took them itself. `slot_index` is the slot the
// entry works on; the caller sees where the entry left it. `self_offset` is
// the entry's section offset when it was reached through a reference (or,
// for a child, its parent's), 0 when the unit walk hands it over.
std::uint32_t ProcessEntry(WalkContext& walk, ByteCursor cursor, AbbrevDecl specs, int depth,
                           int& slot_index, std::uint32_t self_offset);

// Follows a type reference (section- or unit-relative) and processes the
// referenced entry into the current slot. False only when the reference was
// not found; a found entry counts even when nothing could be processed (its
// code has no declaration, or the follow limits are reached), so callers
// restore their slot index exactly as after a followed type.
bool FollowType(WalkContext& walk, std::uint32_t reference,
                bool section_relative, int depth, int& slot_index);

// Names `slot` after the entry a reference attribute points at (or after
// the declaration that entry completes); leaves it alone when there is none.
void TakeReferencedName(WalkContext& walk, const AttributeInput& input, SymbolRecord& slot);

// Reads the child entries that start at `cursor` up to the first null entry
// (or a code without declaration) and returns the position after it. Children
// with `wanted_tag` go to ProcessEntry, all others are skipped.
std::uint32_t ProcessChildren(WalkContext& walk, ByteCursor cursor,
                              std::uint32_t wanted_tag, int depth,
                              int& slot_index, std::uint32_t self_offset);

// Reads (and traces) the attribute values of an entry without using them;
// clears slot 0's name when asked. Returns the position after the values.
std::uint32_t SkipEntry(WalkContext& walk, ByteCursor cursor,
                        std::uint32_t tag, AbbrevDecl specs,
                        bool clear_name);

// The processor a conversion walk gives its rules: the functions above.
const EntryProcessor& DefaultEntryProcessor();

}  // namespace dwarfsift
