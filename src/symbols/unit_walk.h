// The walk over the compilation units of .debug_info.
//
// GetDebugInfoAll takes the units in stored order. Each unit is indexed
// (EntryIndex), tested for cyclic type chains, and then every entry, at any
// depth, goes to ProcessEntry once; after each entry the finished symbol is
// written. The walk enforces the tool's limits: 50,000 entries and a budget
// of work (kUnitWorkBudget) per unit, 150,000 stored structure members in
// the run. DWARF 5 compile and partial units are converted; units of a later
// version, of another DWARF 5 unit type, or in the 64-bit format are passed
// over whole with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "symbols/entry_processing.h"

namespace dwarfsift {

inline constexpr std::size_t kMaxUnitEntries = 50000;
inline constexpr std::uint32_t kStoredMemberLimit = 150000;

// The entries of the current unit in stored order, with their section and
// unit offsets (both ascending) and their type references as section
// offsets (0: none).
class EntryIndex {
 public:
  static constexpr std::size_t kCapacity = kMaxUnitEntries;

  void Clear();
  // Room for the entries of a unit this many bytes long (header included).
  void Reserve(std::size_t unit_bytes);
  std::size_t size() const { return section_offsets_.size(); }
  bool full() const { return size() >= kCapacity; }
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
  // The capacity keeps every value within 16 bits.
  std::vector<std::uint16_t> by_unit_offset_;
  // Section offset minus unit offset, the same for every entry of a unit.
  std::uint32_t unit_base_ = 0;
  std::vector<std::uint32_t> type_targets_;
  std::vector<std::uint8_t> chain_state_;
  std::vector<std::uint32_t> path_;
  bool chains_classified_ = false;
};

struct ResolvedReference {
  bool found = false;
  std::uint32_t section_offset = 0;
  std::size_t index = 0;
};

// Looks a reference up in the current unit: a section-relative one
// (DW_FORM_ref_addr, or a DW_FORM_ref2 already made one) by section offset,
// a unit-relative one by unit offset. Targets outside the unit, or not at
// the start of an entry, are not found.
ResolvedReference ResolveReference(WalkContext& walk, std::uint32_t reference,
                                   bool section_relative);

// Whether the type chain starting at index entry i loops.
bool TypeChainIsCyclic(WalkContext& walk, std::size_t i);

// Indexes the entries in `entries` (the current unit after its header).
void BuildEntryIndex(WalkContext& walk, ByteCursor entries);

enum class ResetScope { kUnit, kEntry };
void ResetSymbolSlots(WalkContext& walk, ResetScope scope);

// Converts the entries from `first_entry` to `unit_end` (image positions);
// returns the position where the unit's walk ended.
std::uint32_t ConvertUnitEntries(WalkContext& walk, std::uint32_t first_entry,
                                 std::uint32_t unit_end);

// Converts the unit whose header starts at `unit_start` and returns the
// start of the next one; none when its abbreviations cannot be loaded.
std::optional<std::uint32_t> ConvertUnit(WalkContext& walk,
                                         std::uint32_t unit_start);

// The phase. False when .debug_info is missing or the walk was stopped by a
// unit whose abbreviations could not be loaded.
bool GetDebugInfoAll(WalkContext& walk);

// The objects the symbol conversion keeps for the run.
struct SymbolConversion {
  SymbolTable symbols;
  ScopeState scope;
  UnitRangeTable units;
  EntryIndex index;
  AbbrevTable abbrevs;
  GlobalStructList global_structs;
};

}  // namespace dwarfsift
