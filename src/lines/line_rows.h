// The rows of one line-number sequence, kept by line number until they are
// flushed in ascending line order.
//
// Every line below kLineSlotCount has one slot holding the first address
// seen for it; further addresses that DW_LNS_copy reports for a filled line
// go to a bounded extra-address list and come out right after their line's
// slot. A flush visits only the slots filled since the previous flush (kept
// in a list and sorted), never the whole table, so a unit with a handful of
// rows costs a handful of steps.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace dwarfsift {

inline constexpr std::uint32_t kLineSlotCount = 100000;
inline constexpr std::uint32_t kExtraAddressLimit = 10000;

class LineRowTable {
 public:
  LineRowTable() : slots_(kLineSlotCount) {
    touched_.reserve(1024);
    extras_.reserve(1024);
  }

  // Empties every slot and the extra list without writing anything.
  void Clear();

  // A row from a special opcode: only an empty slot takes it.
  void RecordSpecial(std::int32_t line, std::uint32_t address);
  // A row from DW_LNS_copy: an empty slot takes it, a filled slot with
  // another address adds it to the extra list (when `keep_extras`).
  void RecordCopy(std::int32_t line, std::uint32_t address, bool keep_extras);
  // The row one line past the largest filled line, at the sequence's end
  // address, unless a filled slot already holds that address.
  void RecordEnd(std::uint32_t address);

  bool pending() const { return !touched_.empty(); }

  // Calls write(address, line) for every filled slot in ascending line
  // order, each followed by its extra addresses (with `with_extras`), and
  // empties the table.
  template <typename Write>
  void Flush(bool with_extras, Write&& write) {
    std::sort(touched_.begin(), touched_.end());
    for (const std::uint32_t line : touched_) {
      Slot& slot = slots_[line];
      write(slot.address, line);
      if (with_extras) {
        for (std::int32_t i = slot.first_extra; i >= 0; i = extras_[i].next) {
          if (extras_[i].address != slot.address) write(extras_[i].address, line);
        }
      }
      slot = Slot{};
    }
    touched_.clear();
    extras_.clear();
    max_line_ = 0;
  }

 private:
  struct Slot {
    std::uint32_t address = 0;
    std::uint32_t line = 0;  // 0: empty
    std::int32_t first_extra = -1;
    std::int32_t last_extra = -1;
  };
  struct Extra {
    std::uint32_t address;
    std::int32_t next;
  };

  static bool Storable(std::int32_t line) {
    return line > 0 && static_cast<std::uint32_t>(line) < kLineSlotCount;
  }
  void Fill(std::uint32_t line, std::uint32_t address);

  std::vector<Slot> slots_;
  std::vector<std::uint32_t> touched_;  // the filled slots, unordered
  std::vector<Extra> extras_;           // chained per slot, insertion order
  std::uint32_t max_line_ = 0;          // the largest filled line
};

}  // namespace dwarfsift
