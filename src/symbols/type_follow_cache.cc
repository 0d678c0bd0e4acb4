#include "symbols/type_follow_cache.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <span>
#include <utility>

#include "base/messages.h"
#include "symbols/entry_processing.h"
#include "symbols/unit_walk.h"

namespace dwarfsift {

namespace {

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

// A member slot packed: the 32-bit words of its numbers that are not zero,
// found by a mask, and each text field up to its last non-zero byte. Text
// fields are kept whole, bytes after their end included, so a slot comes
// back exactly as it was; the location rows, which member slots never
// take, are left out.
constexpr std::size_t kHeadBytes = offsetof(SymbolRecord, struct_name);
constexpr std::size_t kTailStart = offsetof(SymbolRecord, typen) + sizeof(SymbolRecord::typen);
constexpr std::size_t kRowsStart = offsetof(SymbolRecord, floc);
static_assert(offsetof(SymbolRecord, name) == kHeadBytes + sizeof(SymbolRecord::struct_name) &&
              offsetof(SymbolRecord, typen) ==
                  offsetof(SymbolRecord, name) + sizeof(SymbolRecord::name));
static_assert(kHeadBytes % 4 == 0 && kTailStart % 4 == 0 && kRowsStart % 4 == 0);
constexpr std::size_t kHeadWords = kHeadBytes / 4;
constexpr std::size_t kNumberWords = kHeadWords + (kRowsStart - kTailStart) / 4;
static_assert(kNumberWords <= 64);

// Where the i-th number word of a record lies.
constexpr std::size_t NumberWordOffset(std::size_t i) {
  return i < kHeadWords ? i * 4 : kTailStart + (i - kHeadWords) * 4;
}

// Appends `field` up to its last non-zero byte, after its length.
template <std::size_t N>
char* PackText(const char (&field)[N], char* out) {
  static constexpr char kZeros[N] = {};
  std::size_t n = strnlen(field, N);
  if (std::memcmp(field + n, kZeros, N - n) != 0) {
    n = N;
    while (field[n - 1] == '\0') --n;
  }
  out[0] = static_cast<char>(n & 0xFF);
  out[1] = static_cast<char>(n >> 8);
  std::memcpy(out + 2, field, n);
  return out + 2 + n;
}

template <std::size_t N>
void UnpackText(const char*& in, char (&field)[N]) {
  const std::size_t n = static_cast<unsigned char>(in[0]) |
                        (static_cast<std::size_t>(static_cast<unsigned char>(in[1])) << 8);
  in += 2;
  std::memcpy(field, in, n);
  in += n;
}

// A packed run of slots is a sequence of items, each a slot or the slots of
// a recorded member expansion.
enum PackedItem : char { kPackedSlot = 0, kPackedExpansion = 1 };

void PackMemberSlot(const SymbolRecord& slot, std::string& out) {
  // The longest packed slot, built here and appended at once.
  constexpr std::size_t kMostBytes = sizeof(std::uint64_t) + kNumberWords * 4 + 3 * 2 +
                                     sizeof slot.struct_name + sizeof slot.name +
                                     sizeof slot.typen;
  char packed[1 + kMostBytes];
  packed[0] = kPackedSlot;
  const auto* bytes = reinterpret_cast<const char*>(&slot);
  std::uint32_t words[kNumberWords];
  std::memcpy(words, bytes, kHeadBytes);
  std::memcpy(words + kHeadWords, bytes + kTailStart, kRowsStart - kTailStart);
  std::uint64_t mask = 0;
  char* at = packed + 1 + sizeof mask;
  for (std::size_t i = 0; i < kNumberWords; ++i) {
    if (words[i] == 0) continue;
    mask |= std::uint64_t{1} << i;
    std::memcpy(at, &words[i], 4);
    at += 4;
  }
  std::memcpy(packed + 1, &mask, sizeof mask);
  at = PackText(slot.struct_name, at);
  at = PackText(slot.name, at);
  at = PackText(slot.typen, at);
  out.append(packed, static_cast<std::size_t>(at - packed));
}

// Packs member slots first..last of `symbols` into `out`: the runs of them
// that a member expansion in `spans` wrote and nothing touched since as a
// reference to its result, the others slot by slot.
void PackMemberSlots(const SymbolTable& symbols, std::size_t first, std::size_t last,
                     std::span<const TypeFollowCache::Span> spans, std::string& out) {
  // From the last ended expansion back: each one taken lies wholly below
  // those taken before it, so the taken ones never overlap.
  std::vector<const TypeFollowCache::Span*> taken;
  std::size_t below = last + 1;
  for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
    if (span->first < first || span->last >= below || span->first > span->last) continue;
    if (!symbols.UntouchedSince(span->first, span->last, span->at)) continue;
    taken.push_back(&*span);
    below = span->first;
  }
  std::size_t i = first;
  for (auto span = taken.rbegin(); i <= last; ++i) {
    if (span != taken.rend() && (*span)->first == i) {
      const TypeFollowCache::MemberResult* result = (*span)->result;
      out.push_back(kPackedExpansion);
      out.append(reinterpret_cast<const char*>(&result), sizeof result);
      i = (*span)->last;
      ++span;
      continue;
    }
    PackMemberSlot(symbols[i], out);
  }
  // The budget counts what is kept, not what growing the text left spare.
  out.shrink_to_fit();
}

// Writes a packed slot over a slot whose bytes before the rows are zero.
void UnpackMemberSlot(const char*& in, SymbolRecord& slot) {
  auto* bytes = reinterpret_cast<char*>(&slot);
  std::uint64_t mask;
  std::memcpy(&mask, in, sizeof mask);
  in += sizeof mask;
  for (; mask != 0; mask &= mask - 1) {
    std::memcpy(bytes + NumberWordOffset(static_cast<std::size_t>(std::countr_zero(mask))), in, 4);
    in += 4;
  }
  UnpackText(in, slot.struct_name);
  UnpackText(in, slot.name);
  UnpackText(in, slot.typen);
}

// Writes `count` packed slots from `packed` into the slots from `first` on,
// all of them zero before their rows.
void UnpackMemberSlots(const std::string& packed, std::size_t count, SymbolTable& table,
                       std::size_t first) {
  const char* in = packed.data();
  for (std::size_t i = first; i < first + count;) {
    if (*in++ == kPackedSlot) {
      UnpackMemberSlot(in, table[i++]);
      continue;
    }
    const TypeFollowCache::MemberResult* result;
    std::memcpy(&result, in, sizeof result);
    in += sizeof result;
    UnpackMemberSlots(result->packed_members, result->member_slots, table, i);
    i += result->member_slots;
  }
}

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
         (walk.unit_work + recorded.work <= walk.unit_work_limit || walk.state().debug_trace);
}

// Counts what the recorded walk counted and meets the structures it met.
void ReplayCounts(WalkContext& walk, const Recorded& recorded) {
  for (const ExpansionStack::Entry& met : recorded.structures_met) {
    walk.expansion.Push(met.offset, met.depth);
  }
  walk.scope.member_overflow_count += recorded.member_advances;
  walk.follow_budget -= recorded.follows;
  walk.unit_work += recorded.work;
}

void Replay(WalkContext& walk, const TypeFollowCache::Result& result) {
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  CopyTypeFields(result.slot_zero, current);
  if (result.name_cleared) current.name[0] = '\0';
  if (result.member_slots > 0) {
    walk.replayed_members.Start(walk, result);
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
  if (walk.follow_cache.full() || walk.follow_cuts != before.follow_cuts ||
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
  const std::uint32_t end = ProcessChildren(walk, cursor, kTagMember, depth, slot_index, structure);
  --expansion.logging;
  RecordMembers(walk, key, before, start_slot, end, slot_index);
  walk.follow_depth_peak = std::max(walk.follow_depth_peak, follow_peak);
  expansion.set_nesting_peak(std::max(expansion.nesting_peak(), nesting_peak));
  if (expansion.logging == 0) expansion.queries.clear();
  return end;
}

// Bytes a result keeps besides its own object.
std::size_t KeptBytes(const Recorded& result) {
  return result.packed_members.size() +
         result.structures_met.size() * sizeof(ExpansionStack::Entry);
}

}  // namespace

std::uint32_t TakeMembersOrReplay(WalkContext& walk, ByteCursor cursor, int depth,
                                  int& slot_index, std::uint32_t structure) {
  if (!MembersMayBeCached(walk, depth, slot_index, structure)) {
    return ProcessChildren(walk, cursor, kTagMember, depth, slot_index, structure);
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
    return ProcessChildren(walk, cursor, kTagMember, depth, slot_index, structure);
  }
  return WalkAndRecordMembers(walk, key, cursor, depth, slot_index, structure);
}

void ReplayedMembers::Write(SymbolTable& table) {
  UnpackMemberSlots(result_->packed_members, result_->member_slots, table, 1);
  if (finished_) FinishMemberSlots(*walk_);
}

const TypeFollowCache::MemberResult* TypeFollowCache::AddMembers(const Key& key,
                                                                MemberResult&& result) {
  const std::size_t size = sizeof(MemberResult) + KeptBytes(result) +
                           result.earlier_answers.size() * sizeof(ExpansionStack::Query);
  if (member_bytes_ + size > kMemberByteBudget) return nullptr;
  const auto [at, added] = members_.try_emplace(key, std::move(result));
  if (added) {
    member_bytes_ += size;
    return &at->second;
  }
  MemberResult* last = &at->second;
  int variants = 1;
  for (; last->other != nullptr; last = last->other.get()) ++variants;
  if (variants >= kMemberVariants) return nullptr;
  last->other = std::make_unique<MemberResult>(std::move(result));
  member_bytes_ += size;
  return last->other.get();
}

void TypeFollowCache::Add(const Key& key, Result&& result) {
  result.serial = next_serial_++;
  const std::size_t size = sizeof(Result) + KeptBytes(result);
  if (bytes_ + size > kByteBudget) return;
  if (results_.try_emplace(key, std::move(result)).second) bytes_ += size;
}

bool FollowTypeOrReplay(WalkContext& walk, std::uint32_t reference, bool section_relative,
                        int depth, int& slot_index) {
  if (!IsFresh(walk, slot_index)) {
    return FollowType(walk, reference, section_relative, depth, slot_index);
  }
  const ResolvedReference target = ResolveReference(walk, reference, section_relative);
  if (!target.found) return false;
  const TypeFollowCache::Key key = MakeKey(walk, target.section_offset, depth);
  if (const TypeFollowCache::Result* recorded = walk.follow_cache.Find(key)) {
    if (!BudgetsAllow(walk, *recorded)) {
      return FollowType(walk, reference, section_relative, depth, slot_index);
    }
    Replay(walk, *recorded);
    return true;
  }
  const Before before(walk, kCurrentSlot);
  const bool found = FollowType(walk, reference, section_relative, depth, slot_index);
  if (found) Record(walk, key, before);
  return found;
}

}  // namespace dwarfsift
