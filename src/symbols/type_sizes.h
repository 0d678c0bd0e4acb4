// The sizes a finished record's type leaves to be completed: a floating
// type's name by its size, a pointer's size, an array's total bytes, and a
// member's range.
#pragma once

#include <cstdint>

#include "symbols/symbol_record.h"
#include "symbols/symbol_table.h"

namespace dwarfsift {

// Completes `slot`'s sizes; members take the range of `current` (slot 0).
void FinishSlot(SymbolRecord& slot, const SymbolRecord& current, std::int32_t address_size);

// The same for the member slots of the entry in slot 0, up to its highest
// slot.
void FinishMemberSlots(SymbolTable& symbols, int highest_slot, std::int32_t address_size);

}  // namespace dwarfsift
