// What following a symbol's type wrote, kept for the rest of the unit.
//
// A structure type expands its whole member tree into the slots each time a
// variable of that type is converted; in a large unit most variables share
// a handful of types. Two kinds of walk are recorded and replayed:
// - a top-level follow: the first follow of a type from a fresh entry (slot
//   0 has its own attributes only, no member slot or structure met yet);
//   later follows of the same type from an equally fresh entry write the
//   recorded result instead of walking the chain again;
// - a member expansion: a structure's member list taken below the top level,
//   recorded relative to the member slot it starts from, so that a structure
//   reached from many types of the unit is expanded once (or a few times,
//   where the structures met before it differ).
// The walk records and replays through follow_replay.h; this is the store.
// DWARFSIFT_FOLLOW_CACHE=off (RunOptions::follow_cache) walks everything,
// and so does a traced run, so that the trace shows each step. The files
// are the same either way; the rules below are what keeps them so.
//
// What a key holds. A replay must write what the walk would have written,
// so everything the type and member rules read is either in the key, equal
// by the freshness test (IsFresh, MembersMayBeCached), or checked again
// before each replay (the budgets, the reach of the walk, the recursion
// answers). The key is the type or structure entry (a section offset), the
// member depth, and flags for what else the rules read: whether slot 0 has
// a name (the type rules act only then), whether -x drops this entry's
// structures, whether members are switched off (the member limit may do so
// mid-run), and for member expansions whether the start slot is slot 0
// (only members past slot 0 are dropped at the depth limit) and whether
// slot 0 is a structure (an array of structures keeps the slot index only
// under one). A rule that reads anything new must add it here.
//
// What counts as a cut. A walk that something besides the key decided is
// not recorded: every limit reached on the way (follow depth, follow
// budget, unit work, structure nesting, member slots), a symbol entry met
// through a type reference, a "-g" copy made, slot 0 changed outside its
// type fields (top level) or at all (member expansions), the start slot
// changed, member slots left pending, the expansion stack filling up part
// way. WalkLimits::follow_cuts and ExpansionStack::nesting_cuts count the
// limits; a new limit must count there too.
//
// Which writes the clock must see. A recording refers to a member expansion
// recorded or replayed earlier in the same entry (a Span) instead of
// packing its slots again, but only while SymbolTable::UntouchedSince says
// nothing wrote those slots since. The table counts every non-const access
// to a slot (and taking the mutable span counts as touching all); a write
// that bypassed them would leave a reference to slots that changed.
//
// Why references between results stay valid. Recorded results live in the
// nodes of two unordered maps (and in the `other` chains hanging from
// them): nodes never move when a map grows, and nothing is erased until
// Clear() drops both maps together at the end of the unit. Spans are
// dropped with each top-level entry (ResetMemberExpansion); a result's
// packed slots may name results of the same unit only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dwarf/readers.h"
#include "symbols/scope_state.h"
#include "symbols/symbol_record.h"
#include "symbols/symbol_table.h"
#include "symbols/expansion_stack.h"

namespace dwarfsift {

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

  // What a recorded walk wrote to the member slots after its start slot
  // (slot 0 for a top-level follow) and what it counted; both kinds of
  // result have it.
  struct Recorded {
    // The slots after the start slot that were written, packed (see
    // PackMemberSlots).
    std::size_t member_slots = 0;
    std::string packed_members;
    int member_advances = 0;
    std::vector<ExpansionStack::Entry> structures_met;
    std::uint32_t follows = 0;
    std::uint64_t work = 0;
    // Follows the entry's budget refused on the way (top-level follows
    // only). Such a walk began with the whole budget and used it all, so
    // it is replayed only where the budget is whole again.
    std::uint32_t budget_cuts = 0;
  };

  // A top-level follow.
  struct Result : Recorded {
    TypeFields slot_zero;
    bool name_cleared = false;
    // The walk filled the member slots and said so.
    bool member_slots_full = false;
    int highest_slot = 0;
    char struct_tag_name[kMemberGroupNameSize] = {};
    char pending_type_name[kMemberGroupNameSize] = {};
    // Unique in the run: names the member slots for member-group lookups.
    std::uint64_t serial = 0;
  };

  // A structure's members as taken from one member slot (the start slot):
  // what they wrote, relative to that slot.
  struct MemberResult : Recorded {
    std::uint32_t end = 0;
    // The slot index and the highest slot afterwards, less the start slot.
    int advance = 0;
    int highest = 0;
    // The structure stack was full at the start, so nothing was pushed.
    bool met_none = false;
    // How many of the structures met the expansion's own answers need: a
    // stack with room for that many, though not for all, still gives them.
    std::size_t met_needed = 0;
    // Recursion-test answers that structures met before the expansion gave;
    // a replay needs the same answers from the structures met before it.
    std::vector<ExpansionStack::Query> earlier_answers;
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
  // `scope` and `dwarf` give the entry's highest slot and the address size
  // when the slots are written and completed.
  void Start(const TypeFollowCache::Result& result, const ScopeState& scope,
             const DwarfParameters& dwarf) {
    result_ = &result;
    scope_ = &scope;
    dwarf_ = &dwarf;
    finished_ = false;
  }
  // The entry's sizes were completed without the pending slots; they are
  // completed when written.
  void MarkFinished() { finished_ = true; }

  void Write(SymbolTable& table) override;
  std::uint64_t identity() const override { return result_->serial; }

 private:
  const TypeFollowCache::Result* result_ = nullptr;
  const ScopeState* scope_ = nullptr;
  const DwarfParameters* dwarf_ = nullptr;
  bool finished_ = false;
};

// The type fields of a record or of a TypeFields, copied to the other.
template <typename From, typename To>
void CopyTypeFields(const From& from, To& to) {
  to.entry2 = from.entry2;
  std::memcpy(to.struct_name, from.struct_name, sizeof to.struct_name);
  std::memcpy(to.typen, from.typen, sizeof to.typen);
  to.kind = from.kind;
  to.ele_count = from.ele_count;
  std::memcpy(to.ele, from.ele, sizeof to.ele);
  to.one_byte = from.one_byte;
  to.struct_len = from.struct_len;
  to.bit_off = from.bit_off;
  to.bit_size = from.bit_size;
}

// Whether the type fields of a record (or of a TypeFields) are all zero.
template <typename Fields>
bool IsClear(const Fields& fields) {
  static constexpr TypeFields kClear{};
  return fields.entry2 == 0 && fields.kind == 0 && fields.ele_count == 0 &&
         fields.one_byte == 0 && fields.struct_len == 0 && fields.bit_off == 0 &&
         fields.bit_size == 0 &&
         std::memcmp(fields.ele, kClear.ele, sizeof fields.ele) == 0 &&
         std::memcmp(fields.struct_name, kClear.struct_name, sizeof fields.struct_name) == 0 &&
         std::memcmp(fields.typen, kClear.typen, sizeof fields.typen) == 0;
}

// Packs member slots first..last of `symbols` into `out`: the runs of them
// that a member expansion in `spans` wrote and nothing touched since as a
// reference to its result, the others slot by slot.
void PackMemberSlots(const SymbolTable& symbols, std::size_t first, std::size_t last,
                     std::span<const TypeFollowCache::Span> spans, std::string& out);

// Writes `count` packed slots from `packed` into the slots from `first` on,
// all of them zero before their rows.
void UnpackMemberSlots(const std::string& packed, std::size_t count, SymbolTable& table,
                       std::size_t first);

}  // namespace dwarfsift
