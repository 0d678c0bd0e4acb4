#include "lines/line_rows.h"

namespace dwarfsift {

void LineRowTable::Clear() {
  for (const std::uint32_t line : touched_) slots_[line] = Slot{};
  touched_.clear();
  extras_.clear();
  max_line_ = 0;
}

void LineRowTable::Fill(std::uint32_t line, std::uint32_t address) {
  Slot& slot = slots_[line];
  slot.address = address;
  slot.line = line;
  touched_.push_back(line);
  if (line > max_line_) max_line_ = line;
}

void LineRowTable::RecordSpecial(std::int32_t line, std::uint32_t address) {
  if (!Storable(line)) return;
  const auto index = static_cast<std::uint32_t>(line);
  if (slots_[index].line == 0) Fill(index, address);
}

void LineRowTable::RecordCopy(std::int32_t line, std::uint32_t address,
                              bool keep_extras) {
  if (!Storable(line)) return;
  const auto index = static_cast<std::uint32_t>(line);
  Slot& slot = slots_[index];
  if (slot.line == 0) {
    Fill(index, address);
    return;
  }
  if (slot.address == address || !keep_extras) return;
  if (extras_.size() >= kExtraAddressLimit) return;
  const auto added = static_cast<std::int32_t>(extras_.size());
  extras_.push_back({address, -1});
  if (slot.last_extra >= 0) {
    extras_[slot.last_extra].next = added;
  } else {
    slot.first_extra = added;
  }
  slot.last_extra = added;
}

void LineRowTable::RecordEnd(std::uint32_t address) {
  const std::uint32_t next = max_line_ + 1;
  if (max_line_ == 0 || next >= kLineSlotCount) return;
  for (const std::uint32_t line : touched_) {
    if (slots_[line].address == address) return;
  }
  Fill(next, address);
}

}  // namespace dwarfsift
