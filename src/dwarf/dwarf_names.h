// The DWARF names shown by the debug trace, and the short base-type names
// written into the symbol file.
//
// Each trace name is the DWARF name, "(0x", the code in at least two
// upper-case hex digits, ")" and spaces up to the column width of its table,
// so the abbreviation and entry traces line up. Codes a table does not know
// print with the table's fallback name. The tables keep this tool's own
// historical spellings (DW_TAG_compiler_unit, DW_AT_declaretion,
// DW_ATE_undigned_char, the "{3}" marker of DWARF 3 attributes) because
// existing trace readers compare against them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dwarfsift {

class MessageChannel;

// The longest trace name is the attribute fallback with an eight-digit code.
inline constexpr std::size_t kLongestTraceName = 48;

// Each replaces `out` with the trace name of `code` while the debug trace is
// on; with the trace off they leave `out` untouched and cost nothing.
void AttributeNameText(const MessageChannel& channel, std::string& out,
                       std::uint32_t code);
void TagNameText(const MessageChannel& channel, std::string& out,
                 std::uint32_t code);
void FormNameText(const MessageChannel& channel, std::string& out,
                  std::uint32_t code);
void EncodingNameText(const MessageChannel& channel, std::string& out,
                      std::uint32_t code);

// The short name of a base type by its DW_ATE encoding ("int", "Uchar", ...;
// "void" for any encoding without one). Independent of the trace.
std::string_view BaseTypeName(std::uint32_t encoding);

}  // namespace dwarfsift
