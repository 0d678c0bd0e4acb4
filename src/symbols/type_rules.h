// The structures being expanded for the current top-level entry.
//
// A structure that reaches its own type again (a list node pointing to its
// node type) is expanded once; the inner occurrence is only marked. The
// stack records each structure met with the member depth it was met at.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace dwarfsift {

class ExpansionStack {
 public:
  static constexpr std::size_t kCapacity = 2000;

  void Clear() { count_ = 0; }
  std::size_t size() const { return count_; }

  // A full stack records nothing more; a structure first met after that is
  // expanded again at every level, down to the member depth limit.
  void Push(std::uint32_t offset, int depth) {
    if (count_ < kCapacity) entries_[count_++] = Entry{offset, depth};
  }

  // Whether the structure at `offset` was met at a smaller depth. Its own
  // push, made at the same depth, never counts.
  bool Contains(std::uint32_t offset, int depth) const {
    for (std::size_t i = count_; i-- > 0;) {
      if (entries_[i].offset == offset && entries_[i].depth < depth) return true;
    }
    return false;
  }

 private:
  struct Entry {
    std::uint32_t offset;
    int depth;
  };
  std::array<Entry, kCapacity> entries_{};
  std::size_t count_ = 0;
};

// The recursion test of a structure about to take its members.
inline bool StructureIsExpanding(const ExpansionStack& stack,
                                 std::uint32_t offset, int depth) {
  return stack.Contains(offset, depth);
}

}  // namespace dwarfsift
