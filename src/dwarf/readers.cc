#include "dwarf/readers.h"

namespace dwarfsift {

std::uint32_t ReadLongUleb128(ByteCursor& cursor) {
  std::uint32_t result = 0;
  unsigned shift = 0;
  while (!cursor.AtEnd()) {
    const std::uint8_t byte = cursor.ReadByte();
    if (shift < 32) result |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
    shift += 7;
    if ((byte & 0x80) == 0) return result;
  }
  cursor.Skip(1);  // ran off the view: mark the cursor exhausted
  return 0;        // an incomplete number reads as zero, like every read
}

std::int32_t ReadSleb128(ByteCursor& cursor) {
  std::uint32_t result = 0;
  unsigned shift = 0;
  std::uint8_t byte = 0;
  for (;;) {
    if (cursor.AtEnd()) {
      cursor.Skip(1);  // ran off the view: exhausted, and the value is zero
      return 0;
    }
    byte = cursor.ReadByte();
    if (shift < 32) result |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
    shift += 7;
    if ((byte & 0x80) == 0) break;
  }
  if (shift < 32 && (byte & 0x40) != 0) result |= ~0u << shift;
  return static_cast<std::int32_t>(result);
}

std::uint64_t ReadFixed(ByteCursor& cursor, int size) {
  const std::uint8_t* bytes = cursor.Take(static_cast<std::uint64_t>(size));
  if (bytes == nullptr) return 0;
  std::uint64_t value = 0;
  if (cursor.byte_order() == ByteOrder::kBig) {
    for (int i = 0; i < size; ++i) value = (value << 8) | bytes[i];
  } else {
    for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[i];
  }
  return value;
}

std::uint16_t ReadFixed16(ByteCursor& cursor) {
  return static_cast<std::uint16_t>(ReadFixed(cursor, 2));
}

std::uint32_t ReadFixed32(ByteCursor& cursor) {
  return static_cast<std::uint32_t>(ReadFixed(cursor, 4));
}

}  // namespace dwarfsift
