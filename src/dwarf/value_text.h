// Fixed-layout texts of raw file bytes, used by the traces and by the texts
// of decoded attribute values. Hexadecimal digits are upper case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "dwarf/byte_cursor.h"

namespace dwarfsift {

class MessageChannel;
class OutputFile;

// Appends `count` units of `width` bytes (1, 2 or 4) read from `cursor` (2-
// and 4-byte units in the file's byte order), each as "0x", 2/4/8 digits and
// one space. Returns the position after the last unit.
std::uint32_t FormatUnits(std::string& out, ByteCursor& cursor, int count,
                          int width);

// With the trace on, writes one trace line: `label` from column 0, the
// FormatUnits text from column 20, and a newline. Does nothing otherwise.
void TraceLabelledValue(MessageChannel& channel, OutputFile* file,
                        std::string_view label, ByteCursor cursor, int count,
                        int width);

// Appends `count` bytes as bare digit pairs, in stored order. Returns the
// position after the bytes.
std::uint32_t HexDigits(std::string& out, ByteCursor& cursor, int count);

// Appends `value` as exactly `digits` upper-case hex digits.
void AppendHex(std::string& out, std::uint32_t value, int digits);

}  // namespace dwarfsift
