// The walk over the compilation units of .debug_info.
//
// GetDebugInfoAll takes the units in stored order. Each unit is indexed
// (EntryIndex), tested for cyclic type chains, and then every entry, at any
// depth, goes to ProcessEntry once; after each entry the finished symbol is
// written. Units of any size are converted, within a budget of work that
// grows with the unit (kUnitWorkPerByte). Units of later versions, of the
// 64-bit format and of the DWARF 5 types not converted on their own are
// passed over whole; partial units are converted where another unit
// imports them, and references may lead into any unit (OtherUnits).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "symbols/entry_processing.h"

namespace dwarfsift {

// Members one unit may store; past it the unit's remaining entries are
// converted without local structures and members.
inline constexpr std::uint32_t kStoredMemberLimit = 150000;

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

struct ResolvedReference {
  bool found = false;
  std::uint32_t section_offset = 0;
  std::size_t index = 0;
  // The unit holding the target when it is not the one being read.
  OtherUnits::Unit* unit = nullptr;
};

// Looks a reference up: a section-relative one (DW_FORM_ref_addr, or a
// DW_FORM_ref2 already made one) by section offset, a unit-relative one by
// unit offset, in the unit being read. A section-relative one outside it is
// looked up in the unit that holds it, unless `other_units` is false.
// Targets not at the start of an entry are not found.
ResolvedReference ResolveReference(WalkContext& walk, std::uint32_t reference,
                                   bool section_relative, bool other_units = true);

// The section offset of the type entry a type signature (DW_FORM_ref_sig8)
// names; none when no type unit gives it.
std::optional<std::uint32_t> SignatureTarget(const WalkContext& walk, std::uint64_t signature);

// While it lives, the walk reads the entries of the unit a reference led
// into (nothing changes for a target in the unit being read): its index,
// abbreviations, address size, bases and version. The walked unit's are
// restored afterwards.
class UnitVisit {
 public:
  UnitVisit(WalkContext& walk, OtherUnits::Unit* unit);
  ~UnitVisit();
  UnitVisit(const UnitVisit&) = delete;
  UnitVisit& operator=(const UnitVisit&) = delete;

 private:
  // What the walk read with before; only a visit to another unit saves it,
  // so that a follow inside the unit costs nothing.
  struct Saved {
    EntryIndex* index;
    AbbrevTable* abbrevs;
    std::uint32_t unit_start;
    ByteCursor unit_view;
    UnitBases bases;
    std::uint8_t address_size;
    std::uint16_t version;
    std::uint32_t visiting;
  };
  WalkContext& walk_;
  std::optional<Saved> saved_;
};

// Whether the type chain starting at index entry i loops.
bool TypeChainIsCyclic(WalkContext& walk, std::size_t i);

// Indexes the entries in `entries` (the current unit after its header).
void BuildEntryIndex(WalkContext& walk, ByteCursor entries);

// Whether the function whose attributes were just read is code the linker
// removed: GCC keeps the entries of a discarded function with address 0. On
// targets whose code does start at 0, an ELF symbol of the function's name
// is there.
bool FunctionWasRemoved(const WalkContext& walk);

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
  OtherUnits other_units;
};

}  // namespace dwarfsift
