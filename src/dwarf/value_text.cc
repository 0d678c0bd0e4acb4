#include "dwarf/value_text.h"

#include "base/message_channel.h"
#include "base/text_match.h"
#include "dwarf/readers.h"

namespace dwarfsift {

void AppendHex(std::string& out, std::uint32_t value, int digits) {
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    out.push_back(kHexDigits[(value >> shift) & 0xF]);
  }
}

std::uint32_t FormatUnits(std::string& out, ByteCursor& cursor, int count,
                          int width) {
  for (int i = 0; i < count; ++i) {
    const auto unit = static_cast<std::uint32_t>(ReadFixed(cursor, width));
    out += "0x";
    AppendHex(out, unit, width * 2);
    out.push_back(' ');
  }
  return cursor.position();
}

void TraceLabelledValue(MessageChannel& channel, OutputFile* file,
                        std::string_view label, ByteCursor cursor, int count,
                        int width) {
  if (!channel.tracing()) return;
  constexpr std::size_t kValueColumn = 20;
  std::string line(kValueColumn, ' ');
  // A label of 20 characters or more is cut where the value begins.
  label = label.substr(0, kValueColumn);
  line.replace(0, label.size(), label);
  FormatUnits(line, cursor, count, width);
  line.push_back('\n');
  channel.TraceText(file, line);
}

std::uint32_t HexDigits(std::string& out, ByteCursor& cursor, int count) {
  for (int i = 0; i < count; ++i) AppendHex(out, cursor.ReadByte(), 2);
  return cursor.position();
}

}  // namespace dwarfsift
