#include "lines/line_rows.h"

#include <bit>

namespace dwarfsift {
namespace {

// The index starts small and grows by doubling up to kDenseLineLimit.
constexpr std::uint32_t kInitialDenseLines = std::uint32_t{1} << 12;
constexpr std::uint32_t kInitialFarEntries = 64;

// Scatters lines that differ only in their high bits.
std::uint32_t Mix(std::uint32_t h) {
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

}  // namespace

LineRowTable::LineRowTable() : dense_(kInitialDenseLines) {
  slots_.reserve(1024);
  extras_.reserve(1024);
}

void LineRowTable::Clear() {
  for (const Slot& slot : slots_) {
    if (slot.line < kDenseLineLimit) dense_[slot.line] = 0;
  }
  for (const std::uint32_t pos : far_used_) far_[pos] = FarEntry{0, 0};
  far_used_.clear();
  slots_.clear();
  extras_.clear();
  max_line_ = 0;
}

std::uint32_t LineRowTable::FindFar(std::uint32_t line) const {
  const auto mask = static_cast<std::uint32_t>(far_.size() - 1);
  std::uint32_t pos = Mix(line) & mask;
  while (far_[pos].line != 0 && far_[pos].line != line) pos = (pos + 1) & mask;
  return pos;
}

void LineRowTable::GrowFar() {
  std::vector<FarEntry> old(far_.empty() ? kInitialFarEntries : far_.size() * 2);
  old.swap(far_);
  for (std::uint32_t& pos : far_used_) {
    const FarEntry entry = old[pos];
    pos = FindFar(entry.line);
    far_[pos] = entry;
  }
}

std::uint32_t& LineRowTable::IndexOf(std::uint32_t line) {
  if (line < kDenseLineLimit) {
    if (line >= dense_.size()) {
      const std::uint32_t size = std::max(static_cast<std::uint32_t>(dense_.size()) * 2,
                                          std::bit_ceil(line + 1));
      dense_.resize(std::min(size, kDenseLineLimit));
    }
    return dense_[line];
  }
  if (far_.empty()) GrowFar();
  std::uint32_t pos = FindFar(line);
  if (far_[pos].line == 0) {
    // At most half full, so that probe runs stay short.
    if (2 * (far_used_.size() + 1) > far_.size()) {
      GrowFar();
      pos = FindFar(line);
    }
    far_[pos] = FarEntry{line, 0};
    far_used_.push_back(pos);
  }
  return far_[pos].slot;
}

void LineRowTable::Fill(std::uint32_t& index, std::uint32_t line, std::uint32_t address) {
  slots_.push_back({line, address, -1, -1});
  index = static_cast<std::uint32_t>(slots_.size());
  if (line > max_line_) max_line_ = line;
}

void LineRowTable::RecordSpecial(std::uint32_t line, std::uint32_t address) {
  if (line == 0) return;
  std::uint32_t& index = IndexOf(line);
  if (index == 0) Fill(index, line, address);
}

void LineRowTable::RecordCopy(std::uint32_t line, std::uint32_t address,
                              bool keep_extras) {
  if (line == 0) return;
  std::uint32_t& index = IndexOf(line);
  if (index == 0) {
    Fill(index, line, address);
    return;
  }
  Slot& slot = slots_[index - 1];
  if (slot.address == address || !keep_extras) return;
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
  if (max_line_ == 0 || next == 0) return;
  for (const Slot& slot : slots_) {
    if (slot.address == address) return;
  }
  Fill(IndexOf(next), next, address);
}

}  // namespace dwarfsift
