// The type and member rules: how a chain of type entries folds into the
// record of the slot it was followed for, and how structure members fill
// the slots after slot 0.
//
// ProcessEntry decides which attribute of which entry reaches which rule;
// the rules themselves live behind the functions declared here. The
// expansion stack keeps a structure that reaches its own type again from
// being expanded without end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "dwarf/abbrev_table.h"
#include "dwarf/attribute_value.h"
#include "dwarf/byte_cursor.h"

namespace dwarfsift {

struct WalkContext;

// One attribute as the entry and type rules see it: a DW_FORM_ref2 type
// reference arrives already turned into a section offset (form
// DW_FORM_ref_addr).
struct AttributeInput {
  std::uint32_t attribute;
  std::uint32_t form;
  std::uint32_t number;
  const AttributeValue& value;
  // All attributes of the entry, for rules that depend on the others.
  std::span<const AttributeSpec> entry_specs = {};
};

// Structures whose members are being taken inside one another. Real
// firmware nests a few levels below the member depth limit of 11; only
// structures that reach themselves through unnamed members (damaged names)
// come near it.
inline constexpr std::size_t kMaxStructureNesting = 64;

// The structures being expanded for the current top-level entry.
//
// A structure that reaches its own type again (a list node pointing to its
// node type) is expanded once; the inner occurrence is only marked. The
// stack records each structure met with the member depth it was met at.
//
// The member depth grows only through named members, so it cannot see a
// structure that reaches itself through unnamed ones (damaged names all
// read empty); there the nesting of expansions itself is bounded.
class ExpansionStack {
 public:
  static constexpr std::size_t kCapacity = 2000;

  struct Entry {
    std::uint32_t offset;
    int depth;
  };

  ExpansionStack() : buckets_(kBucketCount) {}

  // Only the buckets the recorded structures took are emptied: the stack is
  // cleared after every top-level entry.
  void Clear() {
    for (std::size_t i = 0; i < count_; ++i) buckets_[bucket_of_[i]].used = false;
    count_ = 0;
    nesting_ = 0;
    nesting_peak_ = 0;
  }
  std::size_t size() const { return count_; }
  // The structures recorded so far, in the order they were met.
  std::span<const Entry> entries() const { return {entries_.data(), count_}; }

  // Structures whose members are being taken, one inside the other.
  void Enter() {
    if (++nesting_ > nesting_peak_) nesting_peak_ = nesting_;
  }
  void Leave() { --nesting_; }
  std::size_t nesting() const { return nesting_; }

  // A full stack records nothing more; a structure first met after that is
  // expanded again at every level, down to the member depth limit.
  void Push(std::uint32_t offset, int depth) {
    if (count_ == kCapacity) return;
    const std::size_t b = Find(offset);
    Bucket& bucket = buckets_[b];
    if (!bucket.used) {
      bucket = Bucket{offset, depth, true};
    } else if (depth < bucket.least_depth) {
      bucket.least_depth = depth;
    }
    entries_[count_] = Entry{offset, depth};
    bucket_of_[count_++] = static_cast<std::uint16_t>(b);
  }

  // Whether the structure at `offset` was met at a smaller depth. Its own
  // push, made at the same depth, never counts.
  bool Contains(std::uint32_t offset, int depth) const {
    const Bucket& bucket = buckets_[Find(offset)];
    return bucket.used && bucket.least_depth < depth;
  }

  // The recursion test of a structure about to take its members: met at a
  // smaller depth, or nested too deep. While a member expansion is being
  // recorded (`logging`), each answer is logged with the number of
  // structures met before it, so that the recording can tell the answers
  // its own structures gave from those of the structures met before it.
  struct Query {
    std::uint32_t offset;
    int depth;
    bool answer;
    std::uint32_t met_before;
  };
  bool Expanding(std::uint32_t offset, int depth) {
    const bool met = Contains(offset, depth);
    if (logging > 0) queries.push_back(Query{offset, depth, met, static_cast<std::uint32_t>(count_)});
    if (!met && nesting_ >= kMaxStructureNesting) {
      ++nesting_cuts;
      return true;
    }
    return met;
  }
  // The deepest nesting reached since it was last set.
  std::size_t nesting_peak() const { return nesting_peak_; }
  void set_nesting_peak(std::size_t peak) { nesting_peak_ = peak; }

  int logging = 0;
  std::vector<Query> queries;
  // Answers the nesting bound gave.
  std::uint32_t nesting_cuts = 0;

 private:
  // Each structure met keeps the least depth it was met at, in an open
  // table of twice the stack's capacity: a deep expansion asks for every
  // structure it meets, and a scan of the stack made that quadratic.
  static constexpr std::size_t kBucketCount = 4096;
  struct Bucket {
    std::uint32_t offset = 0;
    int least_depth = 0;
    bool used = false;
  };
  std::size_t Find(std::uint32_t offset) const {
    std::size_t b = (offset * 2654435761u) >> 20;
    while (buckets_[b].used && buckets_[b].offset != offset) b = (b + 1) & (kBucketCount - 1);
    return b;
  }

  std::vector<Bucket> buckets_;
  std::array<Entry, kCapacity> entries_{};
  std::array<std::uint16_t, kCapacity> bucket_of_{};
  std::size_t count_ = 0;
  std::size_t nesting_ = 0;
  std::size_t nesting_peak_ = 0;
};



// The recursion test of a structure about to take its members.
inline bool StructureIsExpanding(ExpansionStack& stack, std::uint32_t offset, int depth) {
  return stack.Expanding(offset, depth);
}

// Member admission for a DW_TAG_member entry. May advance `slot_index` to
// the member's own slot. When it returns false the entry is not processed
// further and ProcessEntry returns `skip_to`.
bool AdmitMember(WalkContext& walk, ByteCursor cursor, AbbrevDecl specs,
                 int depth, int& slot_index, std::uint32_t& skip_to);

// Says that the member slots of the entry are used up, and what that
// leaves out of its member group.
void ReportMemberSlotsFull(WalkContext& walk, int overflow_count);

// The type rules of the entry's tag for one attribute, written to
// `type_slot`. Called only while slot 0 has a name.
void ApplyTypeRules(WalkContext& walk, std::uint32_t tag,
                    const AttributeInput& input, int depth, int& slot_index,
                    int type_slot, std::uint32_t self_offset);

// The type rules the entry's tag decides alone, before its attributes: a
// pointer or reference is one even as an entry without attributes (LLVM
// writes `void *` so).
void ApplyTagTypeRules(WalkContext& walk, std::uint32_t tag, int type_slot);

// Array and structure/union types take their own children; returns the
// position after them (or `cursor`'s position when nothing was taken).
// `has_children` is the entry's children flag: a type without children (a
// declared structure) takes none. `type_slot` is the slot the entry's own
// attributes were written to; an array's dimensions go there even when
// following its element type moved `slot_index` past the element's members.
std::uint32_t TakeTypeChildren(WalkContext& walk, ByteCursor cursor, std::uint32_t tag,
                               bool has_children, int depth, int& slot_index,
                               int type_slot, std::uint32_t self_offset);

// The tag of an array's dimensions, and whether a dimension entry gives
// its bound.
inline constexpr std::uint32_t kTagSubrangeType = 0x21;
bool HasBound(std::span<const AttributeSpec> specs);
// A dimension of unknown bound ("[]") in `slot`: counted as 0 elements
// when the slot is the symbol's own.
void AddUnboundDimension(WalkContext& walk, int slot);

// Completes `total_byte` and the other sizes of the finished entry.
void FinishTypeSizes(WalkContext& walk);
// The same for its member slots alone.
void FinishMemberSlots(WalkContext& walk);

// Forgets the structures being expanded for the current entry.
void ResetMemberExpansion(WalkContext& walk);

}  // namespace dwarfsift
