// Recording and replaying type follows and member expansions; the rules
// they keep are written at the head of type_follow_cache.h.
#include "symbols/follow_replay.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "base/messages.h"
#include "symbols/references.h"
#include "symbols/type_follow_cache.h"

namespace dwarfsift {

namespace {

using Recorded = TypeFollowCache::Recorded;

// What both kinds of recording need besides their own freshness: the
// switch on, no trace to write (a trace that reached its cap writes nothing
// more), no slots pending or used up, and not a local static, whose record
// every entry of its type chain finishes (or copies).
bool CacheMayAct(WalkContext& walk) {
  const SymbolTable& symbols = walk.symbols;
  return walk.options().follow_cache && !walk.channel().writes_trace() &&
         !walk.options().trace_trigger && symbols.pending_members() == nullptr &&
         !walk.member_slots_full && symbols[kCurrentSlot].ident != kIdentLocalStatic;
}

// Whether the entry is as fresh as a recorded follow requires: nothing but
// slot 0's own attributes written yet, no type folded into it, no member
// slot used, no structure met and no group named.
bool IsFresh(WalkContext& walk, int slot_index) {
  const SymbolTable& symbols = walk.symbols;
  const ScopeState& scope = walk.scope;
  return CacheMayAct(walk) && slot_index == 0 && walk.follow_depth == 0 &&
         scope.highest_slot == 0 && symbols.highest_touched_member_slot() == 0 &&
         walk.expansion.size() == 0 && walk.expansion.nesting() == 0 &&
         scope.struct_tag_name[0] == '\0' && scope.pending_type_name[0] == '\0' &&
         IsClear(symbols[kCurrentSlot]);
}

// Whether the members of `structure` may be taken through the cache:
// below the top level (where the rules that name member groups act),
// nothing written after the start slot, and a named start slot (so the
// first member takes the next one).
bool MembersMayBeCached(WalkContext& walk, int depth, int slot_index, std::uint32_t structure) {
  if (structure == 0 || depth < 2 || slot_index < 0 || !CacheMayAct(walk)) return false;
  const SymbolTable& symbols = walk.symbols;
  const auto start = static_cast<std::size_t>(slot_index);
  return start < kFirstCopySlot && walk.scope.highest_slot == slot_index &&
         symbols.highest_touched_member_slot() <= start && symbols[start].name[0] != '\0';
}

// The key flags that both kinds share: what the rules read of the run
// state for this entry.
std::uint32_t RunStateFlags(WalkContext& walk) {
  const RunState& state = walk.state();
  std::uint32_t flags = 0;
  if (state.no_local_structs && IsLocal(std::as_const(walk.symbols)[kCurrentSlot].ident)) {
    flags |= 2;
  }
  if (state.no_members) flags |= 4;
  return flags;
}

// What the type rules read of slot 0 and of the run state.
TypeFollowCache::Key MakeKey(WalkContext& walk, std::uint32_t target, int depth) {
  std::uint32_t flags = RunStateFlags(walk);
  if (std::as_const(walk.symbols)[kCurrentSlot].name[0] != '\0') flags |= 1;
  return {target, depth, flags};
}

// What the member rules read of slot 0, of the start slot and of the run
// state.
TypeFollowCache::Key MakeMemberKey(WalkContext& walk, std::uint32_t structure, int depth,
                                   int slot_index) {
  std::uint32_t flags = RunStateFlags(walk);
  // Only a member past slot 0 is dropped at the member depth limit.
  if (slot_index == 0) flags |= 1;
  // An array of structures keeps the slot index only under a structure.
  if ((std::as_const(walk.symbols)[kCurrentSlot].kind & kKindStruct) != 0) flags |= 8;
  return {structure, depth, flags};
}

// Whether a replay stays within what the walk would be allowed (a traced
// unit has no work limit).
bool BudgetsAllow(WalkContext& walk, const Recorded& recorded) {
  return walk.follow_budget >= recorded.follows &&
         (walk.unit_work + recorded.work <= walk.unit_work_limit || WorkLimitsLifted(walk));
}

// Counts what the recorded walk counted and meets the structures it met.
void ReplayCounts(WalkContext& walk, const Recorded& recorded) {
  for (const ExpansionStack::Entry& met : recorded.structures_met) {
    walk.expansion.Push(met.offset, met.depth);
  }
  walk.scope.member_overflow_count += recorded.member_advances;
  walk.follow_budget -= recorded.follows;
  walk.follow_cuts += recorded.budget_cuts;
  walk.follow_budget_cuts += recorded.budget_cuts;
  walk.unit_work += recorded.work;
}

void Replay(WalkContext& walk, const TypeFollowCache::Result& result) {
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  CopyTypeFields(result.slot_zero, current);
  if (result.name_cleared) current.name[0] = '\0';
  if (result.member_slots > 0) {
    walk.replayed_members.Start(result, walk.scope, walk.dwarf);
    walk.symbols.SetPendingMembers(&walk.replayed_members);
  }
  ReplayCounts(walk, result);
  ScopeState& scope = walk.scope;
  scope.highest_slot = result.highest_slot;
  // The member slots filled up at the walk's last member advance, so the
  // message carries the count the walk ended with.
  if (result.member_slots_full) {
    walk.member_slots_full = true;
    ReportMemberSlotsFull(walk, scope.member_overflow_count);
  }
  CopyName(scope.struct_tag_name, result.struct_tag_name);
  CopyName(scope.pending_type_name, result.pending_type_name);
}

// The state of the walk before a walk that may be recorded, from the slot
// `start` on.
struct Before {
  Before(WalkContext& walk, std::size_t start_slot)
      : start(start_slot),
        member_advances(walk.scope.member_overflow_count),
        follow_budget(walk.follow_budget),
        unit_work(walk.unit_work),
        follow_cuts(walk.follow_cuts),
        follow_budget_cuts(walk.follow_budget_cuts),
        global_copies(walk.scope.global_copy_count),
        nesting_cuts(walk.expansion.nesting_cuts),
        queries(walk.expansion.queries.size()),
        met(walk.expansion.size()),
        spans(walk.follow_cache.spans.size()) {
    std::memcpy(&current, &std::as_const(walk.symbols)[kCurrentSlot], sizeof current);
  }

  std::size_t start;
  SymbolRecord current;
  int member_advances;
  std::uint32_t follow_budget;
  std::uint64_t unit_work;
  std::uint32_t follow_cuts;
  std::uint32_t follow_budget_cuts;
  int global_copies;
  std::uint32_t nesting_cuts;
  std::size_t queries;
  std::size_t met;
  std::size_t spans;
};

// Fills what both kinds of result record: the slots written after the
// start slot, the structures met and what the walk counted.
void RecordCounts(WalkContext& walk, const Before& before, Recorded& result) {
  const SymbolTable& symbols = walk.symbols;
  result.member_slots = symbols.highest_touched_member_slot() - before.start;
  PackMemberSlots(symbols, before.start + 1, before.start + result.member_slots,
                  std::span(walk.follow_cache.spans).subspan(before.spans),
                  result.packed_members);
  result.member_advances = walk.scope.member_overflow_count - before.member_advances;
  const auto met = walk.expansion.entries().subspan(before.met);
  result.structures_met.assign(met.begin(), met.end());
  result.follows = before.follow_budget - walk.follow_budget;
  result.work = walk.unit_work - before.unit_work;
}

// Records the top-level follow that just ended, unless something besides
// the key decided it.
void Record(WalkContext& walk, const TypeFollowCache::Key& key, const Before& before) {
  // The entry's follow budget is the one limit a fresh entry always meets
  // in the same state, whole: a walk it cut is decided by the key as well.
  // Damaged types that branch without end reach it for every variable.
  const std::uint32_t cuts = walk.follow_cuts - before.follow_cuts;
  const std::uint32_t budget_cuts = walk.follow_budget_cuts - before.follow_budget_cuts;
  const bool cut_by_whole_budget =
      cuts == budget_cuts && before.follow_budget == walk.follow_budget_per_entry;
  if (walk.follow_cache.full() || (cuts != 0 && !cut_by_whole_budget) ||
      walk.expansion.nesting() != 0 || walk.scope.global_copy_count != before.global_copies) {
    return;
  }
  const SymbolRecord& current = std::as_const(walk.symbols)[kCurrentSlot];
  // Slot 0 may differ from before only in its type fields and its name's
  // first byte.
  SymbolRecord check;
  std::memcpy(&check, &current, sizeof check);
  CopyTypeFields(before.current, check);
  check.name[0] = before.current.name[0];
  if (std::memcmp(&check, &before.current, sizeof check) != 0) return;

  TypeFollowCache::Result result;
  CopyTypeFields(current, result.slot_zero);
  result.name_cleared = before.current.name[0] != '\0' && current.name[0] == '\0';
  result.member_slots_full = walk.member_slots_full;
  result.budget_cuts = budget_cuts;
  RecordCounts(walk, before, result);
  const ScopeState& scope = walk.scope;
  result.highest_slot = scope.highest_slot;
  CopyName(result.struct_tag_name, scope.struct_tag_name);
  CopyName(result.pending_type_name, scope.pending_type_name);
  walk.follow_cache.Add(key, std::move(result));
}

bool CanReplayMembers(WalkContext& walk, const TypeFollowCache::MemberResult& result,
                      std::size_t start) {
  const ExpansionStack& expansion = walk.expansion;
  if (!BudgetsAllow(walk, result) ||
      walk.follow_depth + result.follow_reach >= kMaxFollowDepth ||
      expansion.nesting() + result.nesting_reach >= kMaxStructureNesting ||
      (result.met_none ? expansion.size() != ExpansionStack::kCapacity
                       : ExpansionStack::kCapacity - expansion.size() < result.met_needed) ||
      start + result.member_slots >= kFirstCopySlot) {
    return false;
  }
  for (const ExpansionStack::Query& query : result.earlier_answers) {
    if (expansion.Contains(query.offset, query.depth) != query.answer) return false;
  }
  return true;
}

void ReplayMembers(WalkContext& walk, const TypeFollowCache::MemberResult& result,
                   int& slot_index) {
  ExpansionStack& expansion = walk.expansion;
  const auto met_before = static_cast<std::uint32_t>(expansion.size());
  if (expansion.logging > 0) {
    for (ExpansionStack::Query query : result.earlier_answers) {
      query.met_before = met_before;
      expansion.queries.push_back(query);
    }
  }
  ReplayCounts(walk, result);
  const auto start = static_cast<std::size_t>(slot_index);
  UnpackMemberSlots(result.packed_members, result.member_slots, walk.symbols, start + 1);
  if (result.member_slots > 0) {
    walk.follow_cache.spans.push_back(
        {start + 1, start + result.member_slots, walk.symbols.clock(), &result});
  }
  slot_index += result.advance;
  walk.scope.highest_slot += result.highest;
  walk.follow_depth_peak = std::max(walk.follow_depth_peak, walk.follow_depth + result.follow_reach);
  expansion.set_nesting_peak(
      std::max(expansion.nesting_peak(), expansion.nesting() + result.nesting_reach));
}

// The logged answers of the expansion that structures met before it gave:
// an answer that a structure met inside (at a smaller depth, before the
// question) decided is the expansion's own.
void KeepEarlierAnswers(WalkContext& walk, const Before& before,
                        TypeFollowCache::MemberResult& result) {
  const ExpansionStack& expansion = walk.expansion;
  const auto met = expansion.entries();
  auto& least = walk.follow_cache.least_depths;
  least.clear();
  std::size_t pushed = before.met;
  for (std::size_t q = before.queries; q < expansion.queries.size(); ++q) {
    const ExpansionStack::Query& query = expansion.queries[q];
    for (; pushed < query.met_before && pushed < met.size(); ++pushed) {
      const std::pair<int, std::size_t> meeting{met[pushed].depth, pushed + 1 - before.met};
      const auto [it, added] = least.try_emplace(met[pushed].offset, meeting);
      if (!added && meeting.first < it->second.first) it->second = meeting;
    }
    const auto inside = least.find(query.offset);
    if (inside != least.end() && inside->second.first < query.depth) {
      // The stack must keep the meeting that decided it.
      result.met_needed = std::max(result.met_needed, inside->second.second);
      continue;
    }
    result.earlier_answers.push_back(query);
  }
}

// Records the member expansion that just ended from slot `before.start`,
// unless something besides the key and the earlier answers decided it.
void RecordMembers(WalkContext& walk, const TypeFollowCache::Key& key, const Before& before,
                   const SymbolRecord& start_slot, std::uint32_t end, int slot_index) {
  const SymbolTable& symbols = walk.symbols;
  const ExpansionStack& expansion = walk.expansion;
  const std::size_t start = before.start;
  if (walk.follow_cache.members_full() || walk.follow_cuts != before.follow_cuts ||
      expansion.nesting_cuts != before.nesting_cuts || walk.member_slots_full ||
      // A stack that filled up on the way dropped structures.
      (expansion.size() >= ExpansionStack::kCapacity && before.met < ExpansionStack::kCapacity) ||
      symbols.pending_members() != nullptr ||
      std::memcmp(&symbols[kCurrentSlot], &before.current, sizeof before.current) != 0 ||
      std::memcmp(&symbols[start], &start_slot, sizeof start_slot) != 0) {
    return;
  }
  TypeFollowCache::MemberResult result;
  result.end = end;
  result.advance = slot_index - static_cast<int>(start);
  result.highest = walk.scope.highest_slot - static_cast<int>(start);
  RecordCounts(walk, before, result);
  result.met_none = before.met == ExpansionStack::kCapacity;
  KeepEarlierAnswers(walk, before, result);
  result.follow_reach = walk.follow_depth_peak - walk.follow_depth;
  result.nesting_reach = expansion.nesting_peak() - expansion.nesting();
  const std::size_t slots = result.member_slots;
  const TypeFollowCache::MemberResult* kept = walk.follow_cache.AddMembers(key, std::move(result));
  if (kept != nullptr && slots > 0) {
    walk.follow_cache.spans.push_back({start + 1, start + slots, symbols.clock(), kept});
  }
}

// Walks the members with the recursion answers logged, and records them.
std::uint32_t WalkAndRecordMembers(WalkContext& walk, const TypeFollowCache::Key& key,
                                   ByteCursor cursor, int depth, int& slot_index,
                                   std::uint32_t structure) {
  ExpansionStack& expansion = walk.expansion;
  const Before before(walk, static_cast<std::size_t>(slot_index));
  SymbolRecord start_slot;
  std::memcpy(&start_slot, &std::as_const(walk.symbols)[before.start], sizeof start_slot);
  // The reach is measured from here; the outer recordings' continues after.
  const int follow_peak = walk.follow_depth_peak;
  const std::size_t nesting_peak = expansion.nesting_peak();
  walk.follow_depth_peak = walk.follow_depth;
  expansion.set_nesting_peak(expansion.nesting());
  ++expansion.logging;
  const std::uint32_t end =
      walk.processor.ProcessChildren(walk, cursor, kTagMember, depth, slot_index, structure);
  --expansion.logging;
  RecordMembers(walk, key, before, start_slot, end, slot_index);
  walk.follow_depth_peak = std::max(walk.follow_depth_peak, follow_peak);
  expansion.set_nesting_peak(std::max(expansion.nesting_peak(), nesting_peak));
  if (expansion.logging == 0) expansion.queries.clear();
  return end;
}

}  // namespace

std::uint32_t TakeMembersOrReplay(WalkContext& walk, ByteCursor cursor, int depth,
                                  int& slot_index, std::uint32_t structure) {
  if (!MembersMayBeCached(walk, depth, slot_index, structure)) {
    return walk.processor.ProcessChildren(walk, cursor, kTagMember, depth, slot_index, structure);
  }
  const TypeFollowCache::Key key = MakeMemberKey(walk, structure, depth, slot_index);
  int variants = 0;
  for (const TypeFollowCache::MemberResult* recorded = walk.follow_cache.FindMembers(key);
       recorded != nullptr; recorded = recorded->other.get(), ++variants) {
    if (CanReplayMembers(walk, *recorded, static_cast<std::size_t>(slot_index))) {
      ReplayMembers(walk, *recorded, slot_index);
      return recorded->end;
    }
  }
  if (variants >= TypeFollowCache::kMemberVariants) {
    return walk.processor.ProcessChildren(walk, cursor, kTagMember, depth, slot_index, structure);
  }
  return WalkAndRecordMembers(walk, key, cursor, depth, slot_index, structure);
}

bool FollowTypeOrReplay(WalkContext& walk, std::uint32_t reference, bool section_relative,
                        int depth, int& slot_index) {
  if (!IsFresh(walk, slot_index)) {
    return walk.processor.FollowType(walk, reference, section_relative, depth, slot_index);
  }
  const ResolvedReference target = ResolveReference(walk, reference, section_relative);
  if (!target.found) return false;
  const TypeFollowCache::Key key = MakeKey(walk, target.section_offset, depth);
  if (const TypeFollowCache::Result* recorded = walk.follow_cache.Find(key)) {
    if (!BudgetsAllow(walk, *recorded)) {
      return walk.processor.FollowType(walk, reference, section_relative, depth, slot_index);
    }
    Replay(walk, *recorded);
    return true;
  }
  const Before before(walk, kCurrentSlot);
  const bool found =
      walk.processor.FollowType(walk, reference, section_relative, depth, slot_index);
  if (found) Record(walk, key, before);
  return found;
}

}  // namespace dwarfsift
