// What following a symbol's type wrote, kept for the rest of the unit.
//
// A structure type expands its whole member tree into the slots each time a
// variable of that type is converted; in a large unit most variables share
// a handful of types. The first follow of a type from a fresh entry is
// recorded (the type fields of slot 0, the member slots, the group names,
// the structures met, the work counted) and later follows of the same type
// from an equally fresh entry write the recorded result instead of walking
// the chain again. The output is the same either way: a follow is recorded
// only when nothing but the type and the key decided it (slot 0 is checked
// to have changed only in its type fields), and it is replayed only under
// the same conditions. While tracing every follow walks, so the trace shows each
// step.
//
// Inside a walk, a structure's member list taken below the top level is
// recorded too, relative to the slot it starts from: what it wrote, the
// structures it met, and the answers the recursion test gave it that came
// from structures met before it. It is replayed where those answers are the
// same, so a structure reached from many types of the unit is expanded once
// (or a few times, where the structures met before it differ).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dwarf/byte_cursor.h"
#include "symbols/scope_state.h"
#include "symbols/symbol_record.h"
#include "symbols/symbol_table.h"
#include "symbols/type_rules.h"

namespace dwarfsift {

struct WalkContext;

// The fields of a record that the type rules write into the slot a type is
// followed for.
struct TypeFields {
  std::uint32_t entry2 = 0;
  char struct_name[sizeof(SymbolRecord::struct_name)] = {};
  char typen[sizeof(SymbolRecord::typen)] = {};
  std::int32_t kind = 0;
  std::int32_t ele_count = 0;
  std::int32_t ele[kMaxArrayDimensions] = {};
  std::int32_t one_byte = 0;
  std::int32_t struct_len = 0;
  std::int32_t bit_off = 0;
  std::int32_t bit_size = 0;
};

class TypeFollowCache {
 public:
  // Everything a recorded follow depends on besides the slots being fresh:
  // the type entry, the member depth it starts at, and what the rules read
  // of slot 0 and of the run state.
  struct Key {
    std::uint32_t target;
    std::int32_t depth;
    std::uint32_t flags;
    bool operator==(const Key&) const = default;
  };

  struct Result {
    TypeFields slot_zero;
    bool name_cleared = false;
    // The walk filled the member slots and said so.
    bool member_slots_full = false;
    // Member slots 1..member_slots, packed (see PackMemberSlots).
    std::size_t member_slots = 0;
    std::string packed_members;
    int highest_slot = 0;
    int member_advances = 0;
    char struct_tag_name[kMemberGroupNameSize] = {};
    char pending_type_name[kMemberGroupNameSize] = {};
    std::vector<ExpansionStack::Entry> structures_met;
    std::uint32_t follows = 0;
    std::uint64_t work = 0;
    // Unique in the run: names the member slots for member-group lookups.
    std::uint64_t serial = 0;
  };

  // A structure's members as taken from one member slot (the start slot):
  // what they wrote, relative to that slot. Kept for structures met below
  // the top level, so that a structure reached from many types of the unit
  // is expanded once.
  struct MemberResult {
    std::uint32_t end = 0;
    // The slot index and the highest slot afterwards, less the start slot.
    int advance = 0;
    int highest = 0;
    int member_advances = 0;
    // The slots after the start slot that were written, packed.
    std::size_t member_slots = 0;
    std::string packed_members;
    std::vector<ExpansionStack::Entry> structures_met;
    // The structure stack was full at the start, so nothing was pushed.
    bool met_none = false;
    // How many of the structures met the expansion's own answers need: a
    // stack with room for that many, though not for all, still gives them.
    std::size_t met_needed = 0;
    // Recursion-test answers that structures met before the expansion gave;
    // a replay needs the same answers from the structures met before it.
    std::vector<ExpansionStack::Query> earlier_answers;
    std::uint32_t follows = 0;
    std::uint64_t work = 0;
    // How much deeper than at the start references were followed and
    // structures nested.
    int follow_reach = 0;
    std::size_t nesting_reach = 0;
    // The same structure from the same slot state, recorded where the
    // structures met before gave other answers.
    std::unique_ptr<MemberResult> other;
  };
  // Results kept per key at most.
  static constexpr int kMemberVariants = 4;

  // Bytes of recorded results one unit may keep; past it, follows walk.
  static constexpr std::size_t kByteBudget = std::size_t{16} << 20;
  // Bytes of member expansions one unit may keep besides.
  static constexpr std::size_t kMemberByteBudget = std::size_t{4} << 20;

  // Forgets the unit's results; serials are never given twice.
  void Clear() {
    // A fresh table rather than clear(), which zeroes every bucket: after
    // one large unit that would cost each later unit as much again.
    if (!results_.empty()) decltype(results_)().swap(results_);
    if (!members_.empty()) decltype(members_)().swap(members_);
    bytes_ = 0;
    member_bytes_ = 0;
  }
  const Result* Find(const Key& key) const {
    const auto found = results_.find(key);
    return found == results_.end() ? nullptr : &found->second;
  }
  void Add(const Key& key, Result&& result);
  const MemberResult* FindMembers(const Key& key) const {
    const auto found = members_.find(key);
    return found == members_.end() ? nullptr : &found->second;
  }
  // Keeps another result for the key; null when the unit's budget is used
  // up or the key has all the results it may keep.
  const MemberResult* AddMembers(const Key& key, MemberResult&& result);
  bool full() const { return bytes_ >= kByteBudget; }
  bool members_full() const { return member_bytes_ >= kMemberByteBudget; }

  // The member expansions recorded or replayed for the current top-level
  // entry, in the order they ended: the slots they wrote and when. A
  // recording whose slots include one of them, untouched since, refers to
  // its result instead of packing those slots again.
  struct Span {
    std::size_t first;
    std::size_t last;
    std::uint64_t at;
    const MemberResult* result;
  };
  std::vector<Span> spans;

  // The least depth each structure met inside a recorded expansion was met
  // at, and how many were met up to that meeting, while its answers are
  // sorted; kept to reuse its buckets.
  std::unordered_map<std::uint32_t, std::pair<int, std::size_t>> least_depths;

 private:
  struct KeyHash {
    std::size_t operator()(const Key& key) const {
      return (std::size_t{key.target} * 0x9E3779B97F4A7C15ull) ^
             (static_cast<std::size_t>(key.depth) << 8) ^ key.flags;
    }
  };
  std::unordered_map<Key, Result, KeyHash> results_;
  std::unordered_map<Key, MemberResult, KeyHash> members_;
  std::size_t bytes_ = 0;
  std::size_t member_bytes_ = 0;
  std::uint64_t next_serial_ = 1;
};

// The member slots of a replayed follow, written only when something needs
// them: most entries of a structure type only store a member group that was
// stored before, which the result's serial finds.
class ReplayedMembers final : public PendingMembers {
 public:
  void Start(WalkContext& walk, const TypeFollowCache::Result& result) {
    walk_ = &walk;
    result_ = &result;
    finished_ = false;
  }
  // The entry's sizes were completed without the pending slots; they are
  // completed when written.
  void MarkFinished() { finished_ = true; }

  void Write(SymbolTable& table) override;
  std::uint64_t identity() const override { return result_->serial; }

 private:
  WalkContext* walk_ = nullptr;
  const TypeFollowCache::Result* result_ = nullptr;
  bool finished_ = false;
};

// Follows the type of the entry in slot 0 (a variable's, a parameter's or
// a function's) as FollowType does, through the unit's cache when the
// entry is fresh enough for a recorded result to hold.
bool FollowSymbolType(WalkContext& walk, std::uint32_t reference, bool section_relative,
                      int depth, int& slot_index);

// Takes the members of the structure at section offset `structure`, whose
// children start at `cursor`, from member depth `depth` on, as
// ProcessChildren does; through the unit's cache when the slots are as
// fresh as a recorded expansion requires. Returns the position after them.
std::uint32_t TakeMembers(WalkContext& walk, ByteCursor cursor, int depth, int& slot_index,
                          std::uint32_t structure);

}  // namespace dwarfsift
