// The structures being expanded for the current top-level entry, which keep
// a structure that reaches its own type again from being expanded without
// end.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dwarfsift {

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
// read empty). Valid C and C++ cannot do that (an unnamed member is an
// anonymous structure or union defined in place, or a bit field), so a
// structure met again at the depth it is still being expanded at is taken
// as met before; without that, every path through the types was walked.
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
  void Enter(std::uint32_t offset, int depth) {
    if (nesting_ < open_.size()) open_[nesting_] = Entry{offset, depth};
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

  // Whether the structure at `offset` was met at a smaller depth, or is
  // being expanded at this depth. Its own push, made at the same depth,
  // never counts.
  bool Contains(std::uint32_t offset, int depth) const {
    const Bucket& bucket = buckets_[Find(offset)];
    if (!bucket.used || bucket.least_depth > depth) return false;
    if (bucket.least_depth < depth) return true;
    const std::size_t open = std::min(nesting_, open_.size());
    for (std::size_t i = 0; i < open; ++i) {
      if (open_[i].offset == offset && open_[i].depth == depth) return true;
    }
    return false;
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
  std::array<Entry, kMaxStructureNesting> open_{};  // the expansions under way
  std::array<std::uint16_t, kCapacity> bucket_of_{};
  std::size_t count_ = 0;
  std::size_t nesting_ = 0;
  std::size_t nesting_peak_ = 0;
};

// The recursion test of a structure about to take its members.
inline bool StructureIsExpanding(ExpansionStack& stack, std::uint32_t offset, int depth) {
  return stack.Expanding(offset, depth);
}

}  // namespace dwarfsift
