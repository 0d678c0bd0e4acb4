// What the walk asks of the unit's follow cache: a type followed, or a
// structure's members taken, either walked (and recorded) or replayed from
// an earlier walk of the same key. The cache itself, and the rules that
// keep a replay equal to a walk, are in type_follow_cache.h.
#pragma once

#include <cstdint>

#include "dwarf/byte_cursor.h"
#include "symbols/walk_context.h"

namespace dwarfsift {

// Follows the type of the entry in slot 0 (a variable's, a parameter's or
// a function's) as FollowType does, or replays the unit's recorded result
// when the entry is fresh enough for one to hold (and records the walk
// when there is none yet).
bool FollowTypeOrReplay(WalkContext& walk, std::uint32_t reference, bool section_relative,
                        int depth, int& slot_index);

// Takes the members of the structure at section offset `structure`, whose
// children start at `cursor`, from member depth `depth` on, as
// ProcessChildren does, or replays a recorded expansion when the slots are
// as fresh as one requires (and records the walk when none fits). Returns
// the position after them.
std::uint32_t TakeMembersOrReplay(WalkContext& walk, ByteCursor cursor, int depth,
                                  int& slot_index, std::uint32_t structure);

}  // namespace dwarfsift
