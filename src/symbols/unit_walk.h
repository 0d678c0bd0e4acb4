// The walk over the compilation units of .debug_info.
//
// GetDebugInfoAll takes the units in stored order. Each unit is indexed
// (EntryIndex), tested for cyclic type chains, and then every entry, at any
// depth, goes to ProcessEntry once; after each entry the finished symbol is
// written. Units of any size are converted, within a budget of work that
// grows with the unit (kUnitWorkPerByte). Units of later versions, of the
// 64-bit format and of the DWARF 5 types not converted on their own are
// passed over whole; partial units are converted where another unit
// imports them, and references may lead into any unit (OtherUnits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "symbols/walk_context.h"

namespace dwarfsift {

// Members one unit may store; past it the unit's remaining entries are
// converted without local structures and members.
inline constexpr std::uint32_t kStoredMemberLimit = 150000;

enum class ResetScope { kUnit, kEntry };
void ResetSymbolSlots(WalkContext& walk, ResetScope scope);

// Converts the entries from `first_entry` to `unit_end` (image positions);
// returns the position where the unit's walk ended.
std::uint32_t ConvertUnitEntries(WalkContext& walk, std::uint32_t first_entry,
                                 std::uint32_t unit_end);

// Converts the unit whose header starts at `unit_start` and returns the
// start of the next one; none when its abbreviations cannot be loaded.
std::optional<std::uint32_t> ConvertUnit(WalkContext& walk,
                                         std::uint32_t unit_start);

// The phase. False when .debug_info is missing or the walk was stopped by a
// unit whose abbreviations could not be loaded.
bool GetDebugInfoAll(WalkContext& walk);

}  // namespace dwarfsift
