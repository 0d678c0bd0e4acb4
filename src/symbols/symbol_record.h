// One symbol as the SYM and MEB files describe it.
//
// The record is plain data of fixed size: the unit walk builds records in a
// table of slots, and the member area keeps copies of them for the whole run.
#pragma once

#include <cstdint>

#include "location/location_rows.h"

namespace dwarfsift {

inline constexpr int kMaxArrayDimensions = 6;

struct SymbolRecord {
  std::uint32_t entry;   // member: section offset of its structure type
  std::uint32_t entry2;  // structure-typed record: section offset of the type
  std::int32_t nest;     // member depth; 0 for a top-level symbol
  char struct_name[38];  // `struct` of the SYM grammar
  char name[257];        // empty: free slot, not written
  char typen[33];
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
  std::int32_t external;
  std::uint32_t fstart;
  std::uint32_t fend;
  std::int32_t mebtop;
  std::int32_t mebend;
  char regn[32];
  std::int32_t regcode;
  std::int32_t regop1;
  std::int32_t regop2;
  // Location-list rows, indexed by FlocColumn.
  LocationRows floc;
};

}  // namespace dwarfsift
