#include "base/text_match.h"

namespace dwarfsift {
namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::size_t> StartsWith(std::string_view text,
                                      std::string_view prefix) {
  if (!text.starts_with(prefix)) return std::nullopt;
  return prefix.size();
}

std::optional<std::size_t> MatchWordNoCase(std::string_view text,
                                           std::string_view word) {
  if (text.size() < word.size()) return std::nullopt;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (UpperAscii(text[i]) != UpperAscii(word[i])) return std::nullopt;
  }
  if (text.size() > word.size()) {
    const auto next = static_cast<unsigned char>(text[word.size()]);
    if (next > 32 && next < 128) return std::nullopt;
  }
  return word.size();
}

std::size_t FindExtension(std::string_view path) {
  for (std::size_t i = path.size(); i-- > 0;) {
    const char c = path[i];
    if (c == '.') return i;
    if (c == '\\' || c == '/') return path.size();
  }
  return path.size();
}

HexParse ParseHexValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == '0') ++i;
  if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
    ++i;
    while (i < text.size() && text[i] == '0') ++i;
  }
  std::uint32_t value = 0;
  int digits = 0;
  for (; i < text.size(); ++i) {
    const int digit = HexDigitValue(text[i]);
    if (digit < 0) break;
    if (++digits > 8) return {0xFFFFFFFFu, i + 1};
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return {value, i};
}

}  // namespace dwarfsift
