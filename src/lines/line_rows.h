// The rows of one line-number sequence, kept by line number until they are
// flushed in ascending line order.
//
// Every line from 1 to 0xFFFFFFFF has one slot holding the first address
// seen for it; further addresses that DW_LNS_copy reports for a filled line
// go to an extra-address list and come out right after their line's slot.
// The list grows with the sequence: each of its pairs costs the program a
// byte at least, so it stays within a multiple of the section's size. The filled slots sit in one list in the order they were filled; a
// flush sorts that list, never the whole line range, so a unit with a
// handful of rows costs a handful of steps.
//
// A line finds its slot through an index: lines below kDenseLineLimit,
// which is where real sources put nearly all of them, through a plain array
// that grows to the largest such line met; lines from it up (a "#line" far
// out, or a line register wrapped by a bad program) through a small
// open-addressing table. Both only grow, so a run allocates while it meets
// larger units and not afterwards.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace dwarfsift {

inline constexpr std::uint32_t kDenseLineLimit = std::uint32_t{1} << 20;

class LineRowTable {
 public:
  LineRowTable();

  // Empties every slot and the extra list without writing anything.
  void Clear();

  // A row from a special opcode: only an empty slot takes it.
  void RecordSpecial(std::uint32_t line, std::uint32_t address);
  // A row from DW_LNS_copy: an empty slot takes it, a filled slot with
  // another address adds it to the extra list (when `keep_extras`).
  void RecordCopy(std::uint32_t line, std::uint32_t address, bool keep_extras);
  // The row one line past the largest filled line, at the sequence's end
  // address, unless a filled slot already holds that address or the next
  // line would wrap to 0.
  void RecordEnd(std::uint32_t address);

  bool pending() const { return !slots_.empty(); }

  // Calls write(address, line) for every filled slot in ascending line
  // order, each followed by its extra addresses (with `with_extras`), and
  // empties the table.
  template <typename Write>
  void Flush(bool with_extras, Write&& write) {
    // The index still points into the unsorted list, but is emptied below
    // without being read.
    std::sort(slots_.begin(), slots_.end(),
              [](const Slot& a, const Slot& b) { return a.line < b.line; });
    for (const Slot& slot : slots_) {
      write(slot.address, slot.line);
      if (with_extras) {
        for (std::int32_t i = slot.first_extra; i >= 0; i = extras_[i].next) {
          if (extras_[i].address != slot.address) write(extras_[i].address, slot.line);
        }
      }
    }
    Clear();
  }

 private:
  struct Slot {
    std::uint32_t line;
    std::uint32_t address;
    std::int32_t first_extra;
    std::int32_t last_extra;
  };
  struct Extra {
    std::uint32_t address;
    std::int32_t next;
  };
  struct FarEntry {
    std::uint32_t line;  // 0: unused
    std::uint32_t slot;
  };

  // Where the index keeps the slot number of `line` (not 0), plus one; 0
  // while the line has no slot. Made room for when the line is new.
  std::uint32_t& IndexOf(std::uint32_t line);
  // The position of `line` in far_: its entry, or the unused one that ends
  // its probe run.
  std::uint32_t FindFar(std::uint32_t line) const;
  void GrowFar();
  void Fill(std::uint32_t& index, std::uint32_t line, std::uint32_t address);

  std::vector<Slot> slots_;              // the filled slots, in filling order
  std::vector<std::uint32_t> dense_;     // indexed by line
  std::vector<FarEntry> far_;            // lines from kDenseLineLimit up
  std::vector<std::uint32_t> far_used_;  // the used positions of far_
  std::vector<Extra> extras_;            // chained per slot, insertion order
  std::uint32_t max_line_ = 0;           // the largest filled line
};

}  // namespace dwarfsift
