// The rows a location list is decoded into.
//
// The host debugger takes at most kLocationRows rows per symbol, each one
// operation of a list entry with the range it holds over. The rows are a
// plain fixed array so that the list reader can fill a symbol's own rows in
// place, without a copy per list.
#pragma once

#include <cstdint>

namespace dwarfsift {

inline constexpr int kLocationRows = 48;

// The columns of a row. The list reader fills them and the SYM writer
// prints them, so both index them by these names.
enum FlocColumn : int {
  kFlocOrdinal,  // piece ordinal
  kFlocBegin,
  kFlocEnd,
  kFlocOpcode,
  kFlocOperand1,
  kFlocOperand2,
};
inline constexpr int kLocationColumns = kFlocOperand2 + 1;

// A row whose begin and end are both 0 ends the rows.
using LocationRows = std::int32_t[kLocationRows][kLocationColumns];

}  // namespace dwarfsift
