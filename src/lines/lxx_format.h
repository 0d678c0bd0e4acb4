// The lines of the LXX listing, shared by the line phase that writes it and
// the line file finishing that reads it back and writes the LIN file from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/text_match.h"

namespace dwarfsift::lxx {

// A sequence starts before its first file line and ends after its last row.
// The reader only looks at the first byte of either.
inline constexpr std::string_view kStartMarker = "#LNE_start_sequence#\n";
inline constexpr std::string_view kEndMarker = "$LNE_end_sequence=\n";

// Leads of the file and directory lines; the reader tells them apart by
// their first two bytes. Without -r the directory line is only a comment.
inline constexpr std::string_view kFileLead = "+****  ";
inline constexpr std::string_view kDirectoryLead = "-****  ";
inline constexpr std::string_view kCommentDirectoryLead = "/****  ";

// A row is kRowLead followed by the row body "0x%08X %5u\n"; the LIN file
// writes the same body after its own lead.
inline constexpr char kRowLead = '+';
inline constexpr std::string_view kRowAddressPrefix = "0x";
inline constexpr std::size_t kRowBodyMost = 2 + 8 + 1 + 10 + 1;

// Writes the row body at `out`, which has room for kRowBodyMost bytes, and
// returns its length. Formatted by hand: this is the hot path of both phases.
inline std::size_t FormatRowBody(char* out, std::uint32_t address, std::uint32_t line) {
  std::size_t at = 0;
  out[at++] = kRowAddressPrefix[0];
  out[at++] = kRowAddressPrefix[1];
  for (int shift = 28; shift >= 0; shift -= 4) out[at++] = kHexDigits[(address >> shift) & 0xF];
  out[at++] = ' ';
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + line % 10);
    line /= 10;
  } while (line != 0);
  for (int pad = n; pad < 5; ++pad) out[at++] = ' ';
  while (n > 0) out[at++] = digits[--n];
  out[at++] = '\n';
  return at;
}

}  // namespace dwarfsift::lxx
