// The small text tests shared by the whole tool.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace dwarfsift {

// ASCII letters in upper case; every other byte as it is (names are
// compared without regard to case only in their ASCII letters).
constexpr char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// When `text` begins with `prefix` (byte for byte), the position just after
// the prefix. An empty prefix matches at the start.
std::optional<std::size_t> StartsWith(std::string_view text,
                                      std::string_view prefix);

// When `text` begins with `word`, ASCII letters compared without regard to
// case, and the byte after the word is a control or blank (code 32 or less),
// a byte of 128 or more, or the end of the text: the position after the word.
std::optional<std::size_t> MatchWordNoCase(std::string_view text,
                                           std::string_view word);

// The position of the extension dot of `path`, or path.size() when it has
// none. Both "\" and "/" separate directories, so a dot inside a directory
// name is never an extension dot. The scan is bytewise: a 0x5C byte always
// counts as "\".
std::size_t FindExtension(std::string_view path);

// Upper-case hexadecimal digits by value, for texts formatted by hand.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

struct HexParse {
  std::uint32_t value;
  std::size_t stop;  // index in the text where reading stopped
};
// Hexadecimal with an optional "0x" prefix and leading zeros; more than eight
// significant digits saturate to 0xFFFFFFFF.
HexParse ParseHexValue(std::string_view text);

}  // namespace dwarfsift
