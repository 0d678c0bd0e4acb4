// The entries of a unit by position, and the other units references may
// lead into.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "dwarf/abbrev_table.h"
#include "dwarf/attribute_value.h"
#include "dwarf/byte_cursor.h"
#include "dwarf/readers.h"

namespace dwarfsift {

// The entries of the current unit in stored order, with their section and
// unit offsets (both ascending) and their type references as section
// offsets (0: none). It holds any number of entries.
class EntryIndex {
 public:
  void Clear();
  // Room for the entries of a unit this many bytes long (header included).
  void Reserve(std::size_t unit_bytes);
  std::size_t size() const { return section_offsets_.size(); }
  void Add(std::uint32_t section_offset, std::uint32_t unit_offset,
           std::uint32_t type_target);

  std::uint32_t section_offset(std::size_t i) const { return section_offsets_[i]; }
  std::uint32_t unit_offset(std::size_t i) const { return unit_offsets_[i]; }
  std::uint32_t type_target(std::size_t i) const { return type_targets_[i]; }

  std::optional<std::size_t> FindSectionOffset(std::uint32_t offset) const;
  std::optional<std::size_t> FindUnitOffset(std::uint32_t offset) const;

  // Whether the type chain from entry i never ends. Answered for all
  // entries at once, in time linear in the index.
  bool ChainNeverEnds(std::size_t i);

 private:
  void ClassifyChains();

  std::vector<std::uint32_t> section_offsets_;
  std::vector<std::uint32_t> unit_offsets_;
  // By unit offset: 1 + the index of the entry starting there, 0 for none.
  std::vector<std::uint32_t> by_unit_offset_;
  // Section offset minus unit offset, the same for every entry of a unit.
  std::uint32_t unit_base_ = 0;
  std::vector<std::uint32_t> type_targets_;
  std::vector<std::uint8_t> chain_state_;
  std::vector<std::uint32_t> path_;
  bool chains_classified_ = false;
};

// The units besides the one being walked that references lead into: other
// units of .debug_info (the early units an -flto program's functions point
// back to, partial units) and type units, of .debug_types or of .debug_info.
// Each is read with its own abbreviations, address size and bases; a unit is
// loaded the first time a reference lands in it and kept for the run, so
// what the run allocates stays proportional to the input.
//
// Positions of entries in .debug_types are given, like those in .debug_info,
// as offsets from the start of .debug_info (modulo 2^32): every entry of the
// file then has an offset of its own, and whatever is keyed by section
// offset (the entry index, the follow caches) never mixes two entries.
class OtherUnits {
 public:
  struct Unit {
    std::uint32_t start = 0;        // image position of the header
    std::uint32_t end = 0;          // image position after the unit
    std::uint32_t first_entry = 0;  // image position of the top entry
    std::uint16_t version = 0;
    std::uint8_t address_size = 0;
    std::uint32_t abbrev_offset = 0;
    bool loaded = false;
    bool usable = false;
    AbbrevTable abbrevs;
    EntryIndex index;
    UnitBases bases;
  };

  void Clear();
  // Lists the units of .debug_info, or of .debug_types, by their headers,
  // and the signatures of the type units among them.
  void ListUnits(const ByteCursor& section, bool types_section);
  // The unit whose entries lie around an image position; null for none.
  Unit* Holding(std::uint32_t position);
  // The image position of the type entry a type unit gives this signature.
  std::optional<std::uint32_t> TypeEntry(std::uint64_t signature) const;

  // Holds the values read while a unit is indexed, apart from those of the
  // entries being converted.
  AttributeValue& scratch() { return *scratch_; }

 private:
  std::vector<std::unique_ptr<Unit>> units_;  // by start
  std::unordered_map<std::uint64_t, std::uint32_t> signatures_;
  std::unique_ptr<AttributeValue> scratch_ = std::make_unique<AttributeValue>();
};

}  // namespace dwarfsift
