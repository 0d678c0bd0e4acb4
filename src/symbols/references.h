// References between entries: looked up in the unit's entry index or in
// the unit that holds them, and read there while they are followed; and
// the index itself, built for each unit before its entries are converted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "dwarf/byte_cursor.h"
#include "symbols/entry_index.h"
#include "symbols/walk_context.h"

namespace dwarfsift {

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

// The index build and the conversion walk both trace every entry they meet;
// their lines differ only in the marks.
enum class EntryPass { kIndex, kConversion };

// Traces an entry with its tag's name, which stays in `tag_name` for the
// lines that follow.
void TraceTaggedEntry(WalkContext& walk, EntryPass pass, std::uint32_t tag,
                      std::uint32_t section_offset, std::uint32_t unit_offset,
                      std::uint32_t code, std::string& tag_name);

}  // namespace dwarfsift
