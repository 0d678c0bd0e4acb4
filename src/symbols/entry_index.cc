#include "symbols/entry_index.h"

#include <algorithm>
#include <utility>

#include "dwarf/unit_header.h"

namespace dwarfsift {

void EntryIndex::Clear() {
  section_offsets_.clear();
  unit_offsets_.clear();
  type_targets_.clear();
  by_unit_offset_.clear();
  unit_base_ = 0;
  chains_classified_ = false;
}

void EntryIndex::Reserve(std::size_t unit_bytes) {
  // Every entry starts inside the unit, so the offset table is sized once.
  by_unit_offset_.assign(unit_bytes, 0);
}

void EntryIndex::Add(std::uint32_t section_offset, std::uint32_t unit_offset,
                     std::uint32_t type_target) {
  if (size() == 0) unit_base_ = section_offset - unit_offset;
  if (unit_offset >= by_unit_offset_.size()) by_unit_offset_.resize(unit_offset + 1, 0);
  by_unit_offset_[unit_offset] = static_cast<std::uint32_t>(size() + 1);
  section_offsets_.push_back(section_offset);
  unit_offsets_.push_back(unit_offset);
  type_targets_.push_back(type_target);
  chains_classified_ = false;
}

namespace {

enum ChainState : std::uint8_t { kUnknown, kOnPath, kEnds, kNeverEnds };

}  // namespace

std::optional<std::size_t> EntryIndex::FindSectionOffset(std::uint32_t offset) const {
  if (offset < unit_base_) return std::nullopt;
  return FindUnitOffset(offset - unit_base_);
}

std::optional<std::size_t> EntryIndex::FindUnitOffset(std::uint32_t offset) const {
  if (offset >= by_unit_offset_.size() || by_unit_offset_[offset] == 0) return std::nullopt;
  return static_cast<std::size_t>(by_unit_offset_[offset] - 1);
}

// Each entry has at most one successor, so every chain either ends or runs
// into a loop; one pass that remembers each entry's outcome settles all.
void EntryIndex::ClassifyChains() {
  chain_state_.assign(size(), kUnknown);
  for (std::size_t start = 0; start < size(); ++start) {
    path_.clear();
    std::size_t j = start;
    ChainState outcome = kEnds;
    for (;;) {
      if (chain_state_[j] == kOnPath) {
        outcome = kNeverEnds;
        break;
      }
      if (chain_state_[j] != kUnknown) {
        outcome = static_cast<ChainState>(chain_state_[j]);
        break;
      }
      chain_state_[j] = kOnPath;
      path_.push_back(static_cast<std::uint32_t>(j));
      const std::uint32_t target = type_targets_[j];
      const std::optional<std::size_t> next =
          target != 0 ? FindSectionOffset(target) : std::nullopt;
      if (!next) break;
      j = *next;
    }
    for (const std::uint32_t k : path_) chain_state_[k] = outcome;
  }
  chains_classified_ = true;
}

bool EntryIndex::ChainNeverEnds(std::size_t i) {
  if (!chains_classified_) ClassifyChains();
  return chain_state_[i] == kNeverEnds;
}

void OtherUnits::Clear() {
  units_.clear();
  signatures_.clear();
}

void OtherUnits::ListUnits(const ByteCursor& section, bool types_section) {
  std::uint32_t position = section.begin();
  while (position + 11 <= section.end()) {
    const UnitHeader header = ReadUnitHeader(section.At(position));
    // The 64-bit format is not read; its units end the list.
    if (header.length == 0xFFFFFFFFu) return;
    const std::uint32_t end = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{position} + 4 + header.length, section.end()));
    auto unit = std::make_unique<Unit>();
    unit->start = position;
    unit->end = end;
    unit->version = header.version;
    unit->address_size = header.address_size;
    unit->abbrev_offset = header.abbrev_offset;
    // A type unit's header adds its signature and the offset of its type
    // entry: DWARF 4 units in .debug_types, DWARF 5 units of type "type".
    constexpr std::uint8_t kUnitTypeType = 0x02;
    const bool type_unit = types_section ? header.version == 4
                                         : header.version == 5 && header.unit_type == kUnitTypeType;
    std::uint32_t header_size = header.header_size;
    if (type_unit) {
      ByteCursor fields = section.At(position + header.header_size);
      const std::uint64_t signature = ReadFixed(fields, 8);
      const std::uint32_t type_offset = ReadFixed32(fields);
      header_size += 12;
      if (fields.ok() && type_offset < end - position) {
        signatures_.emplace(signature, position + type_offset);
      }
    }
    unit->first_entry = std::min(position + header_size, end);
    // Only the unit types whose entries the walk reads are visited.
    if (header.version >= 2 && header.version <= 5 &&
        (type_unit || (!types_section && IsConvertedUnitType(header)))) {
      units_.push_back(std::move(unit));
    }
    if (end <= position) return;
    position = end;
  }
}

OtherUnits::Unit* OtherUnits::Holding(std::uint32_t position) {
  auto after = std::upper_bound(units_.begin(), units_.end(), position,
                                [](std::uint32_t p, const std::unique_ptr<Unit>& unit) {
                                  return p < unit->start;
                                });
  if (after == units_.begin()) return nullptr;
  Unit* unit = std::prev(after)->get();
  return position < unit->end ? unit : nullptr;
}

std::optional<std::uint32_t> OtherUnits::TypeEntry(std::uint64_t signature) const {
  const auto found = signatures_.find(signature);
  if (found == signatures_.end()) return std::nullopt;
  return found->second;
}

}  // namespace dwarfsift
