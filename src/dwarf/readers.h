// The primitive DWARF readers and the run-wide DWARF parameters.
//
// ReadUleb128, ReadSleb128 and ReadFixed are the lowest layer of all
// decoding; the ELF header and symbol-table readers use ReadFixed as well.
// They consume from a ByteCursor and never read outside its view (see
// byte_cursor.h for what an out-of-range read yields; a LEB128 number whose
// continuation runs off the view reads as zero as well).
#pragma once

#include <cstdint>
#include <span>

#include "dwarf/byte_cursor.h"

namespace dwarfsift {

// One instance per run. The byte order and the address size are fixed by the
// section phase; the version follows the unit being read.
struct DwarfParameters {
  ByteOrder byte_order = ByteOrder::kLittle;
  // Taken from the first unit header and used for every unit of the file.
  std::uint8_t address_size = 4;
  // Only the 32-bit DWARF format is read.
  static constexpr std::uint8_t kOffsetSize = 4;
  std::uint16_t version = 0;

  ByteCursor Cursor(std::span<const std::uint8_t> image) const {
    return ByteCursor(image, byte_order);
  }
};

// ReadUleb128 for a number of more than one byte (or none: at the end).
std::uint32_t ReadLongUleb128(ByteCursor& cursor);
// Unsigned LEB128, kept to 32 bits: every continuation byte is consumed, bits
// that would land at position 32 or above are dropped. Codes, forms and most
// numbers take one byte, which is read here.
inline std::uint32_t ReadUleb128(ByteCursor& cursor) {
  const std::uint8_t first = cursor.PeekByte();
  if (first < 0x80 && !cursor.AtEnd()) {
    cursor.Skip(1);
    return first;
  }
  return ReadLongUleb128(cursor);
}
// Signed LEB128 in 32 bits; encodings of five or more bytes are not
// sign-extended.
std::int32_t ReadSleb128(ByteCursor& cursor);
// A 1-, 2-, 4- or 8-byte number in the cursor's byte order.
std::uint64_t ReadFixed(ByteCursor& cursor, int size);
std::uint16_t ReadFixed16(ByteCursor& cursor);
std::uint32_t ReadFixed32(ByteCursor& cursor);

}  // namespace dwarfsift
