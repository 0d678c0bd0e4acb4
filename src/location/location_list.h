// Location lists in .debug_loc.
//
// A variable whose place changes over its function refers to a list of
// (begin, end, expression) entries instead of holding one expression. The
// phase GetDebugLocAll walks every list once for the trace; afterwards the
// symbol conversion reads one list whenever a variable, a parameter or a
// function's frame base refers to it, into the rows of its record.
#pragma once

#include <cstdint>

#include "dwarf/attribute_value.h"
#include "dwarf/byte_cursor.h"
#include "dwarf/readers.h"
#include "location/location_expression.h"
#include "location/location_rows.h"

namespace dwarfsift {

class MessageChannel;
class OutputFile;
struct ElfImage;
struct RunOptions;

// Where the lists lie and how their entries are laid out.
struct LocationListSource {
  // .debug_loc, or .debug_loclists for DWARF 5 units; an empty view when
  // the file has none.
  ByteCursor section{};
  // The lists are DWARF 5 ones (.debug_loclists): typed entries whose
  // addresses may be indexes into the unit's .debug_addr table.
  bool typed_entries = false;
  ByteCursor addresses{};  // .debug_addr
  // Both list sections, whatever the version: the phase traces both.
  ByteCursor loc{};
  ByteCursor loclists{};
  std::uint32_t addr_base = UnitBases::kNoBase;
  LocationTarget target{};
  int length_width = 2;  // bytes of an entry's expression length
  bool no_locals = false;  // -l: the lists are neither traced nor read
};

// The expression-length width for an input of `input_kind` (InputKind of
// app/input_files.h), normalised `machine` and DWARF `version`: older tool
// chains of the "abs" and "out" formats wrote a one-byte length.
int LocationLengthWidth(std::uint32_t input_kind, std::uint32_t machine,
                        std::uint32_t version);

// The lists of a unit of `dwarf.version`: .debug_loc up to version 4,
// .debug_loclists (addresses through `unit`'s .debug_addr base) from 5 on.
LocationListSource MakeLocationListSource(const ElfImage& elf, const DwarfParameters& dwarf,
                                          const RunOptions& options, std::uint32_t input_kind,
                                          const UnitBases* unit = nullptr);

// Reads the list whose first entry is at image position `position` into
// `rows` from the first row on (ranges moved by `base`; rows past the list's
// last are left as they are) and returns the position after its terminating
// pair. A list that leaves the section stops there: the entry that does not
// fit adds no row and the section end is returned. The caller decides about
// `source.no_locals`.
std::uint32_t ReadLocationList(MessageChannel& channel, OutputFile* file,
                               const LocationListSource& source, std::uint32_t base,
                               LocationRows& rows, std::uint32_t position);

// The phase: traces every list of .debug_loc, then every list of
// .debug_loclists. Returns the end position of .debug_loc, or 0 when the
// file has none.
std::uint32_t GetDebugLocAll(MessageChannel& channel, OutputFile* file,
                             const LocationListSource& source);

}  // namespace dwarfsift
