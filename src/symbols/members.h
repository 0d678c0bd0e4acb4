// Member groups: the member records of each structure symbol, stored once
// in the member area and shared by every symbol with an equal group, and
// the MEB file written from them at the end of the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "symbols/member_area.h"
#include "symbols/scope_state.h"
#include "symbols/symbol_record.h"
#include "symbols/symbol_table.h"

namespace dwarfsift {

// A stored member: what the MEB file prints of it and what decides whether
// two groups are equal. Members carry no location rows, register text or
// range (see SymbolTable), so those are left out; the texts live in the
// area's text blocks.
struct MemberRecord : RecordNumbers {
  const char* struct_name;
  const char* name;
  const char* typen;
};

using SymbolMemberArea = MemberArea<MemberRecord>;

// The groups stored so far, in stored order. Groups are indexed by a hash
// of the fields that decide equality, so a new group is compared only with
// the stored groups that can be equal to it, oldest first.
class MemberGroupList {
 public:
  struct Group {
    std::uint32_t first;
    std::uint32_t last;
  };

  void Clear();
  std::size_t size() const { return groups_.size(); }
  const Group& operator[](std::size_t i) const { return groups_[i]; }

  // Adds a group whose records hash to `hash`.
  void Add(std::uint64_t hash, std::uint32_t first, std::uint32_t last);

  // Calls `visit(group)` for each stored group with `hash`, in stored order,
  // until it returns true; returns that group's index, or -1.
  template <typename Visit>
  std::ptrdiff_t FindFirst(std::uint64_t hash, Visit visit) const {
    const auto chain = chains_.find(hash);
    if (chain == chains_.end()) return -1;
    for (std::uint32_t g = chain->second.head; g != kNone; g = next_[g]) {
      if (visit(groups_[g])) return static_cast<std::ptrdiff_t>(g);
    }
    return -1;
  }

 private:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  struct Chain {
    std::uint32_t head;
    std::uint32_t tail;
  };
  std::vector<Group> groups_;
  std::vector<std::uint32_t> next_;  // the next group with the same hash
  std::unordered_map<std::uint64_t, Chain> chains_;
};

// The run's MemberStore: stores the member slots of the entry being written
// (slots 1.. up to the entry's highest slot, while they are members).
class MemberGroupStore : public MemberStore {
 public:
  MemberGroupStore(SymbolMemberArea& area, const ScopeState& scope)
      : area_(area), scope_(scope) {}

  MemberGroupRange StoreMembers(SymbolTable& table) override;

  const MemberGroupList& groups() const { return groups_; }

 private:
  MemberGroupRange StoreMemberSlots(const SymbolTable& table, const char* group_name);

  SymbolMemberArea& area_;
  const ScopeState& scope_;
  MemberGroupList groups_;
  // The group each identity of pending members was stored as, under the
  // group name it was stored with.
  struct KnownGroup {
    char group_name[kGroupNameLimit + 1];
    MemberGroupRange range;
  };
  std::unordered_map<std::uint64_t, KnownGroup> groups_by_identity_;
};

// Writes every stored member record to `context.out` (the MEB file, its
// header already written), after giving structure records the range of
// their own members and nameless records a "?n" name.
void GetDebugMemberAll(const SymbolWriteContext& context, SymbolMemberArea& area);

}  // namespace dwarfsift
