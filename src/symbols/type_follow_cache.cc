#include "symbols/type_follow_cache.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <span>
#include <utility>

#include "symbols/type_sizes.h"

namespace dwarfsift {

namespace {

// A member slot packed: the 32-bit words of its numbers that are not zero,
// found by a mask, and each text field up to its last non-zero byte. Text
// fields are kept whole, bytes after their end included, so a slot comes
// back exactly as it was; the location rows, which member slots never
// take, are left out.
//
// The number words are those of RecordNumbers, then those of SlotFields
// between its texts and its rows (the register text among them).
constexpr std::size_t kSharedWords = sizeof(RecordNumbers) / 4;
constexpr std::size_t kTailStart = offsetof(SlotFields, typen) + sizeof(SlotFields::typen);
constexpr std::size_t kRowsStart = offsetof(SlotFields, floc);
static_assert(offsetof(SlotFields, struct_name) == 0 &&
              offsetof(SlotFields, name) == sizeof(SlotFields::struct_name) &&
              offsetof(SlotFields, typen) ==
                  offsetof(SlotFields, name) + sizeof(SlotFields::name));
static_assert(sizeof(RecordNumbers) % 4 == 0 && kTailStart % 4 == 0 && kRowsStart % 4 == 0);
constexpr std::size_t kNumberWords = kSharedWords + (kRowsStart - kTailStart) / 4;
static_assert(kNumberWords <= 64);

// The bytes of a slot's numbers shared with stored members, and of its own
// fields.
char* SharedBytes(SymbolRecord& slot) {
  return reinterpret_cast<char*>(static_cast<RecordNumbers*>(&slot));
}
const char* SharedBytes(const SymbolRecord& slot) {
  return reinterpret_cast<const char*>(static_cast<const RecordNumbers*>(&slot));
}
char* OwnBytes(SymbolRecord& slot) {
  return reinterpret_cast<char*>(static_cast<SlotFields*>(&slot));
}
const char* OwnBytes(const SymbolRecord& slot) {
  return reinterpret_cast<const char*>(static_cast<const SlotFields*>(&slot));
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
  std::uint32_t words[kNumberWords];
  std::memcpy(words, SharedBytes(slot), sizeof(RecordNumbers));
  std::memcpy(words + kSharedWords, OwnBytes(slot) + kTailStart, kRowsStart - kTailStart);
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

}  // namespace

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

namespace {

// Writes a packed slot over a slot whose bytes before the rows are zero.
void UnpackMemberSlot(const char*& in, SymbolRecord& slot) {
  char* const shared = SharedBytes(slot);
  char* const own = OwnBytes(slot) + kTailStart;
  std::uint64_t mask;
  std::memcpy(&mask, in, sizeof mask);
  in += sizeof mask;
  for (; mask != 0; mask &= mask - 1) {
    const auto i = static_cast<std::size_t>(std::countr_zero(mask));
    std::memcpy(i < kSharedWords ? shared + i * 4 : own + (i - kSharedWords) * 4, in, 4);
    in += 4;
  }
  UnpackText(in, slot.struct_name);
  UnpackText(in, slot.name);
  UnpackText(in, slot.typen);
}

}  // namespace

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

namespace {

// Bytes a result keeps besides its own object.
std::size_t KeptBytes(const TypeFollowCache::Recorded& result) {
  return result.packed_members.size() +
         result.structures_met.size() * sizeof(ExpansionStack::Entry);
}

}  // namespace

void ReplayedMembers::Write(SymbolTable& table) {
  UnpackMemberSlots(result_->packed_members, result_->member_slots, table, 1);
  if (finished_) FinishMemberSlots(table, scope_->highest_slot, dwarf_->address_size);
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

}  // namespace dwarfsift
