// Hand-assembled .debug_loc bytes and the rows a list leaves, for the
// tests of the list reader and of the rules built on it.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <vector>

#include "location/location_rows.h"

namespace dwarfsift::testing {

// Little-endian list bytes with 4-byte addresses.
class ListBytes {
 public:
  ListBytes& Entry(std::uint32_t begin, std::uint32_t end,
                   std::initializer_list<std::uint8_t> expression, int length_width = 2) {
    U32(begin), U32(end);
    const auto n = static_cast<std::uint32_t>(expression.size());
    bytes.push_back(static_cast<std::uint8_t>(n));
    if (length_width == 2) bytes.push_back(static_cast<std::uint8_t>(n >> 8));
    bytes.insert(bytes.end(), expression);
    return *this;
  }
  ListBytes& End() {
    U32(0), U32(0);
    return *this;
  }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  std::vector<std::uint8_t> bytes;
};

using Row = std::array<std::int32_t, kLocationColumns>;
inline Row RowOf(const LocationRows& rows, int i) {
  Row row;
  std::copy(std::begin(rows[i]), std::end(rows[i]), row.begin());
  return row;
}

}  // namespace dwarfsift::testing
