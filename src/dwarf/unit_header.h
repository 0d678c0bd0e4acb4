// Compilation-unit headers of .debug_info, in every layout the file may
// hold, and the bases a DWARF 5 unit's top entry gives its indexed forms.
//
// DWARF 2 to 4 headers are length, version, abbreviation offset and address
// size; DWARF 5 puts a unit type and the address size before the
// abbreviation offset, and type and split units carry more fields after it.
// Only compile and partial units are converted; the others are passed over
// by their length.
#pragma once

#include <cstdint>

#include "dwarf/abbrev_table.h"
#include "dwarf/attribute_value.h"
#include "dwarf/byte_cursor.h"

namespace dwarfsift {

inline constexpr std::uint8_t kUnitTypeCompile = 0x01;
inline constexpr std::uint8_t kUnitTypePartial = 0x03;

// The attributes of a unit's top entry that locate its DWARF 5 tables.
inline constexpr std::uint32_t kAtStrOffsetsBase = 0x72;
inline constexpr std::uint32_t kAtAddrBase = 0x73;
inline constexpr std::uint32_t kAtRnglistsBase = 0x74;
inline constexpr std::uint32_t kAtLoclistsBase = 0x8C;

struct UnitHeader {
  std::uint32_t length = 0;
  std::uint16_t version = 0;
  // DWARF 5 unit type; compile for older units.
  std::uint8_t unit_type = kUnitTypeCompile;
  std::uint8_t address_size = 0;
  std::uint32_t abbrev_offset = 0;
  // Bytes from the header's first byte to the first entry.
  std::uint32_t header_size = 11;
};

// Reads the 32-bit-format header at the cursor (the caller has ruled out
// the 64-bit format). A cut-off header reads as zeros.
UnitHeader ReadUnitHeader(ByteCursor cursor);

// Whether a unit of this header is converted: versions up to 4, and compile
// and partial units of version 5.
inline bool IsConvertedUnitType(const UnitHeader& header) {
  return header.version < 5 || header.unit_type == kUnitTypeCompile ||
         header.unit_type == kUnitTypePartial;
}

// The English name of a DWARF 5 unit type, for the message of a unit that
// is passed over.
const char* UnitTypeName(std::uint8_t unit_type);

// Reads the attributes of the top entry at `entries` (a unit's first entry)
// and sets the unit's bases in `forms` from DW_AT_str_offsets_base,
// DW_AT_addr_base, DW_AT_loclists_base and DW_AT_rnglists_base; bases it
// does not give are cleared. Entries that use an indexed form before the
// base comes are then read with the base all the same. `scratch` holds the
// values while they are read.
void ReadUnitBases(const AbbrevTable& abbrevs, ByteCursor entries, FormContext& forms,
                   AttributeValue& scratch);

}  // namespace dwarfsift
