#include "dwarf/abbrev_table.h"

#include <algorithm>
#include <string>

#include "base/message_channel.h"
#include "base/messages.h"
#include "dwarf/attribute_value.h"
#include "dwarf/dwarf_names.h"
#include "dwarf/readers.h"
#include "dwarf/value_text.h"

namespace dwarfsift {
namespace {

// A labelled trace line of a decoded number rather than of file bytes: the
// low bytes of the number are laid out little-endian and shown as one unit.
void TraceNumber(MessageChannel& channel, OutputFile* file,
                 std::string_view label, std::uint32_t number, int width) {
  if (!channel.tracing()) return;
  const std::uint8_t bytes[4] = {
      static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
      static_cast<std::uint8_t>(number >> 16),
      static_cast<std::uint8_t>(number >> 24)};
  TraceLabelledValue(channel, file, label,
                     ByteCursor(bytes, ByteOrder::kLittle), 1, width);
}

// Whether the next two bytes are the (0, 0) pair that closes a declaration.
bool AtDeclarationEnd(const ByteCursor& cursor) {
  ByteCursor probe = cursor;
  return probe.remaining() >= 2 && probe.ReadByte() == 0 &&
         probe.ReadByte() == 0;
}

}  // namespace

void AbbrevTable::Reset() {
  for (const Declaration& d : declarations_) {
    if (d.code < by_code_.size()) by_code_[d.code] = 0;
  }
  declarations_.clear();
  specs_.clear();
  large_codes_.clear();
}

void AbbrevTable::Enter(std::uint32_t code, std::uint32_t index) {
  if (code == 0) return;  // 0 always means a null entry
  if (code < kDirectCodes) {
    if (code >= by_code_.size()) by_code_.resize(code + 1, 0);
    by_code_[code] = index + 1;  // a later declaration replaces an earlier one
  } else {
    large_codes_.emplace_back(code, index + 1);
  }
}

bool LoadAbbrevTable(AbbrevTable& table, const ByteCursor& debug_abbrev,
                     std::uint32_t abbrev_offset, MessageChannel& channel,
                     OutputFile* trace_file) {
  const std::uint32_t section_size = debug_abbrev.end() - debug_abbrev.begin();
  if (abbrev_offset >= section_size) return false;
  table.Reset();

  ByteCursor cursor =
      debug_abbrev.At(std::uint64_t{debug_abbrev.begin()} + abbrev_offset);
  std::string attribute_name;
  std::string form_name;
  while (!cursor.AtEnd() && cursor.PeekByte() != 0) {
    const std::uint32_t position = cursor.position();
    // The first byte is the code itself for codes below 256.
    channel.TraceLine(trace_file, texts::kTraceAbbrevDeclaration, cursor.PeekByte(), position);
    AbbrevTable::Declaration d{};
    d.position = position;
    d.code = ReadUleb128(cursor);
    TraceNumber(channel, trace_file, "/Entry", d.code, 2);
    d.tag = ReadUleb128(cursor);
    TraceNumber(channel, trace_file, "/Tag", d.tag, 2);
    d.children = cursor.ReadByte();
    TraceNumber(channel, trace_file, "/Childe", d.children, 1);
    d.specs_position = cursor.position();
    d.first_spec = static_cast<std::uint32_t>(table.specs_.size());

    bool complete = false;
    while (cursor.ok() && cursor.remaining() >= 2) {
      if (AtDeclarationEnd(cursor)) {
        cursor.Skip(2);
        complete = true;
        break;
      }
      AttributeSpec spec;
      spec.attribute = ReadUleb128(cursor);
      spec.form = ReadUleb128(cursor);
      if (spec.form == kFormImplicitConst) spec.implicit_const = ReadSleb128(cursor);
      if (!cursor.ok()) break;
      if (channel.tracing()) {
        AttributeNameText(channel, attribute_name, spec.attribute);
        FormNameText(channel, form_name, spec.form);
        channel.TraceLine(trace_file, "/%s %s\n", attribute_name.c_str(),
                          form_name.c_str());
      }
      table.specs_.push_back(spec);
    }
    if (!complete) {
      // Cut off by the end of the section: keep what was complete.
      table.specs_.resize(d.first_spec);
      break;
    }
    d.spec_count =
        static_cast<std::uint32_t>(table.specs_.size()) - d.first_spec;
    const auto index = static_cast<std::uint32_t>(table.declarations_.size());
    table.declarations_.push_back(d);
    table.Enter(d.code, index);
  }
  // Equal codes stay in declaration order, so the last one of a run wins.
  std::sort(table.large_codes_.begin(), table.large_codes_.end());
  return true;
}

AbbrevDecl FindLargeAbbrev(const AbbrevTable& table, std::uint32_t code) {
  const auto& large = table.large_codes_;
  auto it = std::upper_bound(large.begin(), large.end(), code,
                             [](std::uint32_t c, const auto& entry) { return c < entry.first; });
  const std::uint32_t slot = it != large.begin() && (--it)->first == code ? it->second : 0;
  return slot == 0 ? AbbrevDecl() : table.Cursor(slot - 1);
}

}  // namespace dwarfsift
