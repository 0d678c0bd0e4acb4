#include "symbols/references.h"

#include <algorithm>
#include <string>
#include <utility>

#include "base/messages.h"
#include "dwarf/dwarf_names.h"
#include "dwarf/unit_header.h"
#include "dwarf/value_text.h"
#include "elf/elf_image.h"

namespace dwarfsift {

UnitVisit::UnitVisit(WalkContext& walk, OtherUnits::Unit* unit) : walk_(walk) {
  if (unit == nullptr) return;
  saved_.emplace(Saved{&walk.index.get(), &walk.abbrevs.get(), walk.unit_start, walk.unit_view,
                       walk.forms.unit, walk.forms.address_size, walk.dwarf.version,
                       walk.units.Visit(unit->start - walk.section_start)});
  walk.index = unit->index;
  walk.abbrevs = unit->abbrevs;
  walk.unit_start = unit->start;
  walk.unit_view = ByteCursor(walk.elf.bytes, walk.elf.byte_order).View(unit->start, unit->end);
  walk.forms.unit = unit->bases;
  if (unit->address_size != 0 && unit->address_size <= 8) {
    walk.forms.address_size = unit->address_size;
  }
  walk.dwarf.version = unit->version;
}

UnitVisit::~UnitVisit() {
  if (!saved_) return;
  walk_.index = *saved_->index;
  walk_.abbrevs = *saved_->abbrevs;
  walk_.unit_start = saved_->unit_start;
  walk_.unit_view = saved_->unit_view;
  walk_.forms.unit = saved_->bases;
  walk_.forms.address_size = saved_->address_size;
  walk_.dwarf.version = saved_->version;
  walk_.units.Visit(saved_->visiting);
}

namespace {

void IndexEntries(WalkContext& walk, ByteCursor entries, AttributeValue& value);

// Loads a unit a reference led into: its abbreviations, its bases and its
// entry index. Nothing of it is traced: the trace follows the walked units.
void LoadOtherUnit(WalkContext& walk, OtherUnits::Unit& unit) {
  unit.loaded = true;
  RunState& state = walk.state();
  const bool tracing = state.debug_trace;
  state.debug_trace = false;
  unit.usable = LoadAbbrevTable(unit.abbrevs, walk.elf.Cursor(walk.elf.debug_abbrev),
                                unit.abbrev_offset, walk.channel(), walk.trace_file);
  if (unit.usable) {
    unit.bases = walk.forms.unit;
    unit.bases.ClearBases();
    UnitVisit visit(walk, &unit);
    AttributeValue& scratch = walk.other_units->scratch();
    if (unit.version >= 5) {
      ReadUnitBases(unit.abbrevs, walk.unit_view.View(unit.first_entry, unit.end), walk.forms,
                    scratch);
      unit.bases = walk.forms.unit;
    }
    IndexEntries(walk, walk.unit_view.View(unit.first_entry, unit.end), scratch);
  }
  state.debug_trace = tracing;
}

// A section offset outside the unit being read, looked up in the unit that
// holds it.
ResolvedReference ResolveElsewhere(WalkContext& walk, std::uint32_t reference) {
  if (walk.other_units == nullptr) return {};
  OtherUnits::Unit* unit = walk.other_units->Holding(walk.section_start + reference);
  if (unit == nullptr || unit->start == walk.unit_start) return {};
  if (!unit->loaded) LoadOtherUnit(walk, *unit);
  if (!unit->usable) return {};
  const std::optional<std::size_t> k = unit->index.FindSectionOffset(reference);
  if (!k) return {};
  return {true, unit->index.section_offset(*k), *k, unit};
}

}  // namespace

ResolvedReference ResolveReference(WalkContext& walk, std::uint32_t reference,
                                   bool section_relative, bool other_units) {
  const EntryIndex& index = walk.index;
  const std::optional<std::size_t> k = section_relative
                                           ? index.FindSectionOffset(reference)
                                           : index.FindUnitOffset(reference);
  ResolvedReference found;
  if (k) {
    found = {true, index.section_offset(*k), *k, nullptr};
  } else if (section_relative && other_units) {
    found = ResolveElsewhere(walk, reference);
  }
  if (!found.found) {
    walk.channel().TraceLine(walk.trace_file, "/__not{0x0000} entry[0x%04X] entry check\n",
                             reference);
    return {};
  }
  walk.channel().TraceLine(walk.trace_file, "/==abs{0x%04X} entry[0x%04X] entry check\n",
                           found.section_offset, reference);
  return found;
}

std::optional<std::uint32_t> SignatureTarget(const WalkContext& walk, std::uint64_t signature) {
  if (walk.other_units == nullptr) return std::nullopt;
  const std::optional<std::uint32_t> position = walk.other_units->TypeEntry(signature);
  if (!position) return std::nullopt;
  return *position - walk.section_start;
}

bool TypeChainIsCyclic(WalkContext& walk, std::size_t i) {
  EntryIndex& index = walk.index;
  if (!walk.channel().tracing()) return index.ChainNeverEnds(i);
  // With the trace on, the chain is followed step by step so that each
  // resolution shows up.
  const std::uint32_t origin = index.section_offset(i);
  std::size_t j = i;
  for (std::size_t step = 0; step < index.size(); ++step) {
    const std::uint32_t target = index.type_target(j);
    if (target == 0) return false;
    const ResolvedReference next = ResolveReference(walk, target, true, false);
    if (!next.found) return false;
    if (next.section_offset == origin) return true;
    j = next.index;
  }
  return true;
}

void TraceTaggedEntry(WalkContext& walk, EntryPass pass, std::uint32_t tag,
                      std::uint32_t section_offset, std::uint32_t unit_offset,
                      std::uint32_t code, std::string& tag_name) {
  MessageChannel& channel = walk.channel();
  TagNameText(channel, tag_name, tag);
  channel.TraceLine(walk.trace_file,
                    pass == EntryPass::kIndex ? texts::kTraceSearchedEntry
                                              : texts::kTraceUsedEntry,
                    section_offset, unit_offset, tag_name.c_str(), static_cast<int>(code));
}

namespace {

// The entries of a declaration whose forms all have a fixed size: their
// size, and where their type reference lies (-1: none). Such entries are
// stepped over at once.
struct EntryLayout {
  bool known = false;
  bool fixed = false;
  std::uint32_t size = 0;
  std::int32_t type_at = -1;
  std::uint32_t type_form = 0;
};

// Codes below this have their layout kept; real units use a few hundred.
constexpr std::uint32_t kLayoutCodes = 1024;

// The forms of a type reference the index keeps. DW_FORM_ref2 counts too:
// the entry processing follows it, so the cycle test must see it.
bool IsIndexedTypeForm(std::uint32_t form) {
  return form == kFormRefAddr || form == kFormRef4 || form == kFormRefUdata || form == kFormRef2;
}

// A type reference as a section offset, so one lookup serves both kinds.
std::uint32_t TypeTarget(std::uint32_t form, std::uint32_t number,
                         std::uint32_t unit_offset_in_section) {
  return form == kFormRefAddr ? number : unit_offset_in_section + number;
}

EntryLayout LayoutOf(const AbbrevDecl& decl, const FormContext& forms) {
  EntryLayout layout;
  layout.known = true;
  for (const AttributeSpec& spec : decl.specs()) {
    const int size = FixedFormSize(spec.form, forms);
    if (size < 0) return layout;
    if (spec.attribute == kAtType) {
      // One type reference, of a kept form; anything else the slow way.
      if (layout.type_at >= 0 || !IsIndexedTypeForm(spec.form)) return layout;
      layout.type_at = static_cast<std::int32_t>(layout.size);
      layout.type_form = spec.form;
    }
    layout.size += static_cast<std::uint32_t>(size);
  }
  layout.fixed = true;
  return layout;
}

}  // namespace

void BuildEntryIndex(WalkContext& walk, ByteCursor entries) {
  if (walk.values.empty()) walk.values.push_back(std::make_unique<AttributeValue>());
  IndexEntries(walk, entries, *walk.values.front());
}

namespace {

void IndexEntries(WalkContext& walk, ByteCursor entries, AttributeValue& value) {
  EntryIndex& index = walk.index;
  MessageChannel& channel = walk.channel();
  index.Clear();
  index.Reserve(entries.end() - walk.unit_start);
  const std::uint32_t unit_offset_in_section = walk.unit_start - walk.section_start;
  std::string tag_name;
  std::string attribute_name;
  std::string form_name;
  const bool tracing = channel.writes_trace();
  std::vector<EntryLayout> layouts(tracing ? 0 : kLayoutCodes);
  while (!entries.AtEnd()) {
    const std::uint32_t entry_pos = entries.position();
    const std::uint32_t code = ReadUleb128(entries);
    AbbrevDecl decl = FindAbbrev(walk.abbrevs, code);
    if (!decl.found()) continue;
    const std::uint32_t section_offset = entry_pos - walk.section_start;
    const std::uint32_t unit_offset = entry_pos - walk.unit_start;
    if (code < layouts.size()) {
      EntryLayout& layout = layouts[code];
      if (!layout.known) layout = LayoutOf(decl, walk.forms);
      if (layout.fixed && entries.remaining() >= layout.size) {
        std::uint32_t type_target = 0;
        if (layout.type_at >= 0) {
          ByteCursor at = entries.At(entries.position() + static_cast<std::uint32_t>(layout.type_at));
          const std::uint32_t number =
              static_cast<std::uint32_t>(ReadFixed(at, layout.type_form == kFormRef2 ? 2 : 4));
          type_target = TypeTarget(layout.type_form, number, unit_offset_in_section);
        }
        entries.Skip(layout.size);
        index.Add(section_offset, unit_offset, type_target);
        continue;
      }
    }
    if (channel.writes_trace()) {
      TraceTaggedEntry(walk, EntryPass::kIndex, decl.tag(), section_offset, unit_offset,
                       code, tag_name);
    }
    std::uint32_t type_target = 0;
    AttributeSpec spec;
    while (decl.NextSpec(spec)) {
      std::uint32_t form = spec.form;
      // Only the type reference is needed unless the values are traced.
      if (spec.attribute != kAtType && !channel.writes_trace()) {
        SkipAttributeValue(form, entries, walk.forms, value);
        continue;
      }
      ReadAttributeValue(form, entries, walk.forms, value, spec.implicit_const);
      if (channel.writes_trace()) {
        AttributeNameText(channel, attribute_name, spec.attribute);
        FormNameText(channel, form_name, TracedForm(form, value));
        channel.TraceLine(walk.trace_file, "/::[%04d] %s %s %s\n",
                          static_cast<int>(index.size()), attribute_name.c_str(),
                          form_name.c_str(), value.c_str());
      }
      if (spec.attribute == kAtType && IsIndexedTypeForm(form)) {
        type_target = TypeTarget(form, value.number(), unit_offset_in_section);
      }
    }
    if (tracing) channel.TraceLine(walk.trace_file, "/==null Tag[%s]\n", tag_name.c_str());
    index.Add(section_offset, unit_offset, type_target);
  }
}

}  // namespace

}  // namespace dwarfsift
