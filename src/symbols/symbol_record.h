// One symbol as the SYM and MEB files describe it.
//
// The record is plain data of fixed size: the unit walk builds records in a
// table of slots, and the member area keeps copies of them for the whole run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "location/location_rows.h"

namespace dwarfsift {

inline constexpr int kMaxArrayDimensions = 6;

// The numbers of a record, whether it is built in a slot or stored as a
// member: the entries it came from, its class, its type (flags, dimensions,
// sizes, bit field), its address and its place among a structure's members.
struct RecordNumbers {
  std::uint32_t entry;   // member: section offset of its structure type
  std::uint32_t entry2;  // structure-typed record: section offset of the type
  std::int32_t nest;     // member depth; 0 for a top-level symbol
  std::int32_t ident;    // symbol class
  std::int32_t kind;     // type flags
  std::int32_t ele_count;
  std::int32_t ele[kMaxArrayDimensions];
  std::int32_t location;
  std::int32_t one_byte;
  std::int32_t total_byte;
  std::int32_t struct_len;
  std::int32_t bit_off;
  std::int32_t bit_size;
  std::uint8_t bit_fixed;
  std::uint32_t fstart;
  std::uint32_t fend;
  std::int32_t mebtop;
  std::int32_t mebend;
};

// What only a record in a slot has: its texts in place (a stored member
// points at them instead), its register, and its location-list rows, last
// so that clearing a slot can stop before them.
struct SlotFields {
  char struct_name[38];  // `struct` of the SYM grammar
  char name[257];        // empty: free slot, not written
  char typen[33];
  std::int32_t external;
  char regn[32];
  std::int32_t regcode;
  std::int32_t regop1;
  std::int32_t regop2;
  // Location-list rows, indexed by FlocColumn.
  LocationRows floc;
};

struct SymbolRecord : RecordNumbers, SlotFields {};
static_assert(offsetof(SlotFields, floc) + sizeof(LocationRows) == sizeof(SlotFields));

// The bytes of a record before its location rows, which clearing a record
// that never took rows can leave alone: the rows are most of its size.
inline std::size_t BytesBeforeRows(const SymbolRecord& record) {
  return static_cast<std::size_t>(reinterpret_cast<const char*>(&record.floc) -
                                  reinterpret_cast<const char*>(&record));
}

}  // namespace dwarfsift
