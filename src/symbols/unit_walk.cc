#include "symbols/unit_walk.h"

#include <algorithm>
#include <string>
#include <utility>

#include "base/messages.h"
#include "dwarf/dwarf_names.h"
#include "dwarf/value_text.h"
#include "elf/elf_image.h"
#include "elf/symbol_table.h"
#include "dwarf/unit_header.h"
#include "symbols/type_rules.h"

namespace dwarfsift {

void EntryIndex::Clear() {
  section_offsets_.clear();
  unit_offsets_.clear();
  type_targets_.clear();
  by_unit_offset_.clear();
  unit_base_ = 0;
  chains_classified_ = false;
}

void EntryIndex::Reserve(std::size_t unit_bytes) {
  // Every entry starts inside the unit, so the offset table is sized once.
  by_unit_offset_.assign(unit_bytes, 0);
}

void EntryIndex::Add(std::uint32_t section_offset, std::uint32_t unit_offset,
                     std::uint32_t type_target) {
  if (size() == 0) unit_base_ = section_offset - unit_offset;
  if (unit_offset >= by_unit_offset_.size()) by_unit_offset_.resize(unit_offset + 1, 0);
  by_unit_offset_[unit_offset] = static_cast<std::uint32_t>(size() + 1);
  section_offsets_.push_back(section_offset);
  unit_offsets_.push_back(unit_offset);
  type_targets_.push_back(type_target);
  chains_classified_ = false;
}

namespace {

enum ChainState : std::uint8_t { kUnknown, kOnPath, kEnds, kNeverEnds };

}  // namespace

std::optional<std::size_t> EntryIndex::FindSectionOffset(std::uint32_t offset) const {
  if (offset < unit_base_) return std::nullopt;
  return FindUnitOffset(offset - unit_base_);
}

std::optional<std::size_t> EntryIndex::FindUnitOffset(std::uint32_t offset) const {
  if (offset >= by_unit_offset_.size() || by_unit_offset_[offset] == 0) return std::nullopt;
  return static_cast<std::size_t>(by_unit_offset_[offset] - 1);
}

// Each entry has at most one successor, so every chain either ends or runs
// into a loop; one pass that remembers each entry's outcome settles all.
void EntryIndex::ClassifyChains() {
  chain_state_.assign(size(), kUnknown);
  for (std::size_t start = 0; start < size(); ++start) {
    path_.clear();
    std::size_t j = start;
    ChainState outcome = kEnds;
    for (;;) {
      if (chain_state_[j] == kOnPath) {
        outcome = kNeverEnds;
        break;
      }
      if (chain_state_[j] != kUnknown) {
        outcome = static_cast<ChainState>(chain_state_[j]);
        break;
      }
      chain_state_[j] = kOnPath;
      path_.push_back(static_cast<std::uint32_t>(j));
      const std::uint32_t target = type_targets_[j];
      const std::optional<std::size_t> next =
          target != 0 ? FindSectionOffset(target) : std::nullopt;
      if (!next) break;
      j = *next;
    }
    for (const std::uint32_t k : path_) chain_state_[k] = outcome;
  }
  chains_classified_ = true;
}

bool EntryIndex::ChainNeverEnds(std::size_t i) {
  if (!chains_classified_) ClassifyChains();
  return chain_state_[i] == kNeverEnds;
}

WalkContext::WalkContext(RunContext& run_context, const ElfImage& image,
                         DwarfParameters& parameters, SymbolConversion& conversion,
                         SymbolSink& entry_sink, TickSource clock)
    : UnitContext{image, parameters, conversion.units, conversion.index, conversion.abbrevs},
      EntryContext{conversion.symbols, conversion.scope, entry_sink},
      run(run_context),
      tick(std::move(clock)) {
  other_units = &conversion.other_units;
}

void OtherUnits::Clear() {
  units_.clear();
  signatures_.clear();
}

void OtherUnits::ListUnits(const ByteCursor& section, bool types_section) {
  std::uint32_t position = section.begin();
  while (position + 11 <= section.end()) {
    const UnitHeader header = ReadUnitHeader(section.At(position));
    // The 64-bit format is not read; its units end the list.
    if (header.length == 0xFFFFFFFFu) return;
    const std::uint32_t end = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(std::uint64_t{position} + 4 + header.length, section.end()));
    auto unit = std::make_unique<Unit>();
    unit->start = position;
    unit->end = end;
    unit->version = header.version;
    unit->address_size = header.address_size;
    unit->abbrev_offset = header.abbrev_offset;
    // A type unit's header adds its signature and the offset of its type
    // entry: DWARF 4 units in .debug_types, DWARF 5 units of type "type".
    constexpr std::uint8_t kUnitTypeType = 0x02;
    const bool type_unit = types_section ? header.version == 4
                                         : header.version == 5 && header.unit_type == kUnitTypeType;
    std::uint32_t header_size = header.header_size;
    if (type_unit) {
      ByteCursor fields = section.At(position + header.header_size);
      const std::uint64_t signature = ReadFixed(fields, 8);
      const std::uint32_t type_offset = ReadFixed32(fields);
      header_size += 12;
      if (fields.ok() && type_offset < end - position) {
        signatures_.emplace(signature, position + type_offset);
      }
    }
    unit->first_entry = std::min(position + header_size, end);
    // Only the unit types whose entries the walk reads are visited.
    if (header.version >= 2 && header.version <= 5 &&
        (type_unit || (!types_section && IsConvertedUnitType(header)))) {
      units_.push_back(std::move(unit));
    }
    if (end <= position) return;
    position = end;
  }
}

OtherUnits::Unit* OtherUnits::Holding(std::uint32_t position) {
  auto after = std::upper_bound(units_.begin(), units_.end(), position,
                                [](std::uint32_t p, const std::unique_ptr<Unit>& unit) {
                                  return p < unit->start;
                                });
  if (after == units_.begin()) return nullptr;
  Unit* unit = std::prev(after)->get();
  return position < unit->end ? unit : nullptr;
}

std::optional<std::uint32_t> OtherUnits::TypeEntry(std::uint64_t signature) const {
  const auto found = signatures_.find(signature);
  if (found == signatures_.end()) return std::nullopt;
  return found->second;
}

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

namespace {

inline constexpr std::uint32_t kTagImportedUnit = 0x3D;
inline constexpr std::uint32_t kTagPartialUnit = 0x3C;
inline constexpr std::uint32_t kAtImport = 0x18;

// The index build and the conversion walk both trace every entry they meet;
// their lines differ only in the marks.
enum class EntryPass { kIndex, kConversion };

// Traces an entry with its tag's name, which stays in `tag_name` for the
// lines that follow.
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

// "-?<hex>" switches the trace on at the first unit or entry at or after
// that position: a position inside an entry's values still finds it.
void TriggerTraceAt(WalkContext& walk, std::uint32_t position) {
  const RunOptions& options = walk.options();
  RunState& state = walk.state();
  if (options.trace_trigger && !state.trace_triggered && position >= options.trace_trigger_pos) {
    state.debug_trace = true;
    state.trace_triggered = true;
  }
}

}  // namespace

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

bool FunctionWasRemoved(const WalkContext& walk) {
  // The address as the record took it: the scope's copy is cleared again
  // by a DW_AT_decl_file that follows DW_AT_low_pc, as clang orders them.
  const SymbolRecord& current = std::as_const(walk.symbols)[kCurrentSlot];
  if (!walk.scope.function_low_pc_read || current.location != 0) return false;
  // Without ELF symbols nothing tells removed code from code at 0.
  if (walk.elf_symbols == nullptr || walk.elf_symbols->size() == 0) return false;
  const std::string_view name(current.name);
  // Symbols are listed without one leading underscore.
  return !walk.elf_symbols->HasSymbolAt(name, 0) &&
         !(name.starts_with('_') && walk.elf_symbols->HasSymbolAt(name.substr(1), 0));
}

void ResetSymbolSlots(WalkContext& walk, ResetScope reset) {
  ScopeState& scope = walk.scope;
  SymbolTable& symbols = walk.symbols;
  if (reset == ResetScope::kUnit) {
    scope.unit_low_pc = scope.unit_high_pc = 0;
    scope.function_low_pc = scope.function_high_pc = 0;
    scope.frame_base_opcode = scope.frame_base_operand1 = scope.frame_base_operand2 = 0;
    scope.frame_base_list_offset = 0;
    scope.frame_base_read = scope.frame_base_is_cfa = scope.function_low_pc_read = false;
    scope.cfa_row_count = 0;
    scope.function_name[0] = '\0';
    scope.open_lists = 0;
    if (scope.function_scope_end == kScopeEndsWithList) scope.function_scope_end = 0;
    walk.follow_cache.Clear();
  }
  // Only the slots written since the last reset are cleared.
  symbols.ClearAll();
  scope.highest_slot = 0;
  scope.global_copy_count = 0;
  scope.member_overflow_count = 0;
  ResetMemberExpansion(walk);
  scope.struct_tag_name[0] = '\0';
  scope.pending_type_name[0] = '\0';
}

namespace {

// Builds the unit's entry index and tells whether the unit can be converted:
// not when a type chain runs into a loop, which following it would never
// leave.
bool CheckUnitIndex(WalkContext& walk, ByteCursor entries) {
  MessageChannel& channel = walk.channel();
  BuildEntryIndex(walk, entries);
  EntryIndex& index = walk.index;
  for (std::size_t i = 0; i < index.size(); ++i) {
    if (index.type_target(i) != 0 && TypeChainIsCyclic(walk, i)) {
      channel.ReportDamage(texts::kSelfDestructEntry, index.section_offset(i),
                            static_cast<int>(i));
      return false;
    }
  }
  return true;
}

// The trace line of an entry the conversion walk meets; a code without
// declaration shows as a null entry.
void TraceEntry(WalkContext& walk, const AbbrevDecl& decl, std::uint32_t code,
                std::uint32_t section_offset, std::uint32_t unit_offset,
                std::string& tag_name) {
  MessageChannel& channel = walk.channel();
  if (!decl.found()) {
    channel.TraceLine(walk.trace_file, texts::kTraceUsedEntry, section_offset, unit_offset,
                      "/Null entry", static_cast<int>(code));
    return;
  }
  if (channel.writes_trace()) {
    TraceTaggedEntry(walk, EntryPass::kConversion, decl.tag(), section_offset, unit_offset,
                     code, tag_name);
  }
}

// An entry at or past the end of the current function's children is no
// longer inside it.
void LeaveEndedFunction(ScopeState& scope, std::uint32_t unit_offset) {
  if (scope.function_scope_end != 0 && unit_offset >= scope.function_scope_end) {
    scope.function_scope_end = 0;
  }
}

// Steps over the children of the entry whose values ended at `cursor`, to
// the position after the null entry that closes them, reading only what it
// must to find the entries' ends.
void SkipSubtree(WalkContext& walk, ByteCursor& cursor) {
  AttributeValue& value = *walk.values.front();
  int open = 1;
  while (open > 0 && !cursor.AtEnd()) {
    ++walk.unit_work;
    const std::uint32_t code = ReadUleb128(cursor);
    if (code == 0) {
      --open;
      continue;
    }
    AbbrevDecl decl = FindAbbrev(walk.abbrevs, code);
    if (!decl.found()) continue;
    AttributeSpec spec;
    while (decl.NextSpec(spec)) SkipAttributeValue(spec.form, cursor, walk.forms, value);
    if (decl.children() != 0) ++open;
  }
}

// Converts one top-level entry into the slots and moves `cursor` past it
// (never back, whatever the entry's own end says). A removed function goes
// with everything it contains: its parameters and locals would otherwise
// be written at addresses of code that is not there.
void ConvertEntry(WalkContext& walk, ByteCursor& cursor, const AbbrevDecl& decl) {
  int slot_index = 0;
  walk.follow_budget = walk.follow_budget_per_entry;
  walk.removed_function = false;
  const std::uint32_t next = ProcessEntry(walk, cursor, decl.tag(), decl, 0, slot_index, 0);
  cursor.Seek(std::max(next, cursor.position()));
  if (walk.removed_function && decl.children() != 0) {
    const std::uint32_t from = cursor.position();
    SkipSubtree(walk, cursor);
    // Its end is known now, whatever its sibling said or did not say.
    ScopeState& scope = walk.scope;
    if (scope.function_scope_end == kScopeEndsWithList) scope.function_scope_end = 0;
    walk.channel().TraceLine(walk.trace_file, "/removed code [0x%04X]-[0x%04X] skipped\n",
                             from - walk.section_start, cursor.position() - walk.section_start);
  }
}

// A unit that needs too much work is abandoned, except while it is being
// traced. The message still tells the time it took.
bool UnitTimeOver(WalkContext& walk, std::uint32_t start_time) {
  if (!UnitWorkSpent(walk)) return false;
  const std::uint32_t elapsed = walk.tick() - start_time;
  walk.channel().EmitFormatted(texts::kUnitTimeOver, walk.scope.unit_name,
                               static_cast<int>(walk.stored_members()),
                               static_cast<int>(elapsed));
  return true;
}

// The count of an array defined without a bound ("extern T table[];" in a
// header, the table defined elsewhere without a type of its own): the size
// of the ELF symbol at its address divided by the size of one element. A
// bound that cannot be found this way stays 0; the variable is written
// all the same.
void CompleteUnknownBound(WalkContext& walk) {
  const SymbolRecord& current = std::as_const(walk.symbols)[kCurrentSlot];
  if ((current.kind & kKindArray) == 0 || walk.elf_symbols == nullptr) return;
  // A declaration is written at the address its ELF symbol gives.
  std::optional<std::uint32_t> address = static_cast<std::uint32_t>(current.location);
  if (current.location == 0) address = walk.elf_symbols->FindElfSymbol(current.name);
  if (!address || *address == 0) return;
  const int dims = std::clamp(current.ele_count, 0, kMaxArrayDimensions);
  int unknown = -1;
  std::uint64_t element = (current.kind & kKindPointer) != 0 ? walk.dwarf.address_size
                          : (current.kind & kKindStruct) != 0 ? current.struct_len
                                                                : current.one_byte;
  for (int i = 0; i < dims; ++i) {
    if (current.ele[i] == 0 && unknown < 0) {
      unknown = i;
    } else {
      element *= static_cast<std::uint32_t>(current.ele[i]);
    }
  }
  if (unknown < 0 || element == 0 || element > 0xFFFFFFFFu) return;
  const std::optional<std::uint32_t> size =
      walk.elf_symbols->SizeOfSymbolAt(current.name, *address);
  if (!size) return;
  const auto count = static_cast<std::int32_t>(*size / element);
  walk.symbols[kCurrentSlot].ele[unknown] = count;
  // The "-g" copies were taken before the count was known.
  const auto copies = std::min<std::size_t>(
      static_cast<std::size_t>(std::max(walk.scope.global_copy_count, 0)), kMaxGlobalCopies);
  for (std::size_t i = kFirstCopySlot; i < kFirstCopySlot + copies; ++i) {
    SymbolRecord& copy = walk.symbols[i];
    if (copy.ele_count > unknown && copy.ele[unknown] == 0) copy.ele[unknown] = count;
  }
}

// Writes the finished entry, when it has a name, and clears its slots for
// the next one.
void EmitFinishedEntry(WalkContext& walk) {
  if (!walk.sink.TakesPendingMembers()) walk.symbols.WritePendingMembers();
  if (std::as_const(walk.symbols)[kCurrentSlot].name[0] != '\0') {
    CompleteUnknownBound(walk);
    FinishTypeSizes(walk);
    if (walk.sink.Emit(walk.symbols,
                       static_cast<std::uint32_t>(walk.scope.global_copy_count))) {
      walk.run.counters.CountSymbol();
    }
  }
  ResetSymbolSlots(walk, ResetScope::kEntry);
}

// A unit that has stored this many members converts the rest of its
// entries without local structures and members. The allowance is the
// unit's own: one unit of huge structures (an amalgamated source) may not
// take the member area from the units after it.
void CheckMemberLimit(WalkContext& walk) {
  RunState& state = walk.state();
  const std::uint32_t stored = walk.stored_members();
  if (stored - walk.unit_first_member >= kStoredMemberLimit &&
      !(state.no_local_structs && state.no_members)) {
    walk.channel().EmitFormatted(texts::kMemberSizeLimit, static_cast<int>(stored));
    walk.channel().EmitFormatted(texts::kMemberSizeLimitCut, walk.scope.unit_name,
                                 static_cast<int>(kStoredMemberLimit));
    state.no_local_structs = true;
    state.no_members = true;
  }
}

// Each unit starts with the members and local structures the options ask
// for, whatever the member limit switched off in the unit before.
void StartUnitMembers(WalkContext& walk) {
  walk.unit_first_member = walk.stored_members();
  walk.state().no_local_structs = walk.options().no_local_structs;
  walk.state().no_members = walk.options().no_members;
}

// The header fields, each as its bytes; DWARF 5 has the unit type and the
// address size before the abbreviation offset.
void TraceUnitHeader(WalkContext& walk, const ByteCursor& info, std::uint32_t unit_start,
                     std::uint16_t version) {
  MessageChannel& channel = walk.channel();
  TraceLabelledValue(channel, walk.trace_file, "/length", info.At(unit_start), 1, 4);
  TraceLabelledValue(channel, walk.trace_file, "/version", info.At(unit_start + 4), 1, 2);
  if (version >= 5) {
    TraceLabelledValue(channel, walk.trace_file, "/type", info.At(unit_start + 6), 1, 1);
    TraceLabelledValue(channel, walk.trace_file, "/size", info.At(unit_start + 7), 1, 1);
    TraceLabelledValue(channel, walk.trace_file, "/offset", info.At(unit_start + 8), 1, 4);
    return;
  }
  TraceLabelledValue(channel, walk.trace_file, "/offset", info.At(unit_start + 6), 1, 4);
  TraceLabelledValue(channel, walk.trace_file, "/size", info.At(unit_start + 10), 1, 1);
}

// Loads the unit's abbreviation table. Real compilers give each unit a
// table of its own; a table that units share is traced the first time only,
// or a crafted file of many small units could multiply one table's trace.
bool LoadUnitAbbrevs(WalkContext& walk, std::uint32_t abbrev_offset) {
  RunState& state = walk.state();
  const bool tracing = state.debug_trace;
  if (tracing && !walk.traced_abbrev_tables.insert(abbrev_offset).second) {
    state.debug_trace = false;
  }
  const bool loaded = LoadAbbrevTable(walk.abbrevs, walk.elf.Cursor(walk.elf.debug_abbrev),
                                      abbrev_offset, walk.channel(), walk.trace_file);
  state.debug_trace = tracing;
  return loaded;
}

bool ConvertEntries(WalkContext& walk, ByteCursor& cursor, std::uint32_t start_time,
                    int imports);

// Partial units (as dwz writes them) are imported by the units that share
// their entries; one imported inside another stops at this depth, so that
// units importing each other end.
constexpr int kMaxImportNesting = 8;

// The top entry of a partial unit; its children are converted where a unit
// imports it, not on their own.
bool IsPartialUnitTop(const AbbrevDecl& decl) { return decl.tag() == kTagPartialUnit; }

// An imported_unit entry whose values start at `cursor`: the children of
// the partial unit it names are converted as if they stood here, in the
// importing unit's scope. False when the unit's work ran out inside.
bool ConvertImportedUnit(WalkContext& walk, ByteCursor& cursor, AbbrevDecl decl,
                         std::uint32_t start_time, int imports) {
  AttributeValue& value = walk.other_units->scratch();
  std::optional<std::uint32_t> reference;
  bool section_relative = false;
  AttributeSpec spec;
  decl.RewindSpecs();
  while (decl.NextSpec(spec)) {
    std::uint32_t form = spec.form;
    ReadAttributeValue(form, cursor, walk.forms, value, spec.implicit_const);
    if (spec.attribute == kAtImport && IsReferenceForm(form)) {
      reference = value.number();
      section_relative = form == kFormRefAddr;
    }
  }
  if (!reference || imports >= kMaxImportNesting) return true;
  const ResolvedReference top = ResolveReference(walk, *reference, section_relative);
  // A unit that imports itself adds nothing.
  if (!top.found || top.unit == nullptr) return true;
  const UnitVisit visit(walk, top.unit);
  ByteCursor entries = walk.unit_view.At(walk.section_start + top.section_offset);
  AbbrevDecl top_decl = FindAbbrev(walk.abbrevs, ReadUleb128(entries));
  if (!IsPartialUnitTop(top_decl)) return true;
  while (top_decl.NextSpec(spec)) SkipAttributeValue(spec.form, entries, walk.forms, value);
  walk.channel().TraceLine(walk.trace_file, "/imported unit [0x%04X]\n", top.section_offset);
  // The partial unit's children end with a null entry of their own; the
  // importer's open lists stand as before whatever the partial unit holds.
  const int open_lists = walk.scope.open_lists;
  EnterChildList(walk.scope);
  const bool finished = ConvertEntries(walk, entries, start_time, imports + 1);
  walk.scope.open_lists = open_lists;
  return finished;
}

// Converts the entries from `cursor` to the end of its view, each top-level
// entry written when finished. False when the unit's work ran out.
bool ConvertEntries(WalkContext& walk, ByteCursor& cursor, std::uint32_t start_time,
                    int imports) {
  std::string tag_name;
  while (!cursor.AtEnd()) {
    ++walk.unit_work;
    const std::uint32_t entry_pos = cursor.position();
    const std::uint32_t code = ReadUleb128(cursor);
    const AbbrevDecl decl = FindAbbrev(walk.abbrevs, code);
    const std::uint32_t unit_offset = entry_pos - walk.unit_start;
    TraceEntry(walk, decl, code, entry_pos - walk.section_start, unit_offset, tag_name);
    if (!decl.found()) {
      if (code == 0) LeaveChildList(walk.scope);
      continue;
    }
    TriggerTraceAt(walk, entry_pos);
    LeaveEndedFunction(walk.scope, unit_offset);
    if (decl.tag() == kTagImportedUnit) {
      if (!ConvertImportedUnit(walk, cursor, decl, start_time, imports)) return false;
      continue;
    }
    ConvertEntry(walk, cursor, decl);
    // A removed function's children were stepped over, null entry and all.
    if (decl.children() != 0 && !walk.removed_function) EnterChildList(walk.scope);
    if (UnitTimeOver(walk, start_time)) return false;
    EmitFinishedEntry(walk);
    CheckMemberLimit(walk);
  }
  return true;
}

}  // namespace

std::uint32_t ConvertUnitEntries(WalkContext& walk, std::uint32_t first_entry,
                                 std::uint32_t unit_end) {
  walk.channel().TraceLine(walk.trace_file,
                           "/>>start[0x%08X] end[0x%08X] wide[0x%08X] info.address\n",
                           first_entry, unit_end, unit_end - first_entry);
  const ByteCursor entries = walk.unit_view.View(first_entry, unit_end);
  if (!CheckUnitIndex(walk, entries)) return unit_end;

  const std::uint32_t start_time = walk.tick();
  ResetSymbolSlots(walk, ResetScope::kUnit);
  walk.unit_work = 0;
  walk.unit_work_limit =
      std::max(walk.unit_work_budget, walk.unit_work_per_byte * entries.remaining());
  StartUnitMembers(walk);
  ByteCursor cursor = entries;
  if (!ConvertEntries(walk, cursor, start_time, 0)) return unit_end;
  return cursor.position();
}

std::optional<std::uint32_t> ConvertUnit(WalkContext& walk,
                                         std::uint32_t unit_start) {
  MessageChannel& channel = walk.channel();
  const ByteCursor info = walk.elf.Cursor(walk.elf.debug_info);
  const UnitHeader unit = ReadUnitHeader(info.At(unit_start));
  const std::uint32_t length = unit.length;
  if (channel.writes_trace()) TraceUnitHeader(walk, info, unit_start, unit.version);
  ByteCursor header = info.At(unit_start + 4);
  const auto unit_number = static_cast<int>(walk.units.current());
  // Nothing past the section is ever a unit, so a length beyond it ends the
  // walk instead of wrapping the position around.
  const auto next_at = [&](std::uint64_t unit_size) {
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(unit_start + unit_size, info.end()));
  };
  if (length == 0xFFFFFFFFu) {
    const std::uint64_t length64 = ReadFixed(header, 8);
    const std::uint16_t version = ReadFixed16(header);
    channel.EmitFormatted(texts::kUnit64BitSkipped, unit_number, unit_start, version);
    walk.scope.unit_name[0] = '\0';
    return next_at(12 + length64);
  }
  const std::uint32_t next = next_at(4ull + length);
  if (unit.version > 5) {
    channel.ReportDamage(texts::kUnitVersionSkipped, unit_number, unit_start, unit.version);
    walk.scope.unit_name[0] = '\0';
    return next;
  }
  if (!IsConvertedUnitType(unit)) {
    channel.EmitFormatted(texts::kUnitTypeSkipped, unit_number, unit_start, unit.version,
                          UnitTypeName(unit.unit_type), unit.unit_type);
    walk.scope.unit_name[0] = '\0';
    return next;
  }
  walk.dwarf.version = unit.version;
  if (!LoadUnitAbbrevs(walk, unit.abbrev_offset)) return std::nullopt;
  walk.unit_start = unit_start;
  walk.unit_view = info.View(unit_start, next);
  const std::uint32_t first_entry = unit_start + unit.header_size;
  ByteCursor top = walk.unit_view.At(first_entry);
  if (IsPartialUnitTop(FindAbbrev(walk.abbrevs, ReadUleb128(top)))) {
    walk.scope.unit_name[0] = '\0';
    return next;
  }
  if (unit.version >= 5) {
    // The indexed forms of any entry, the top one included, resolve against
    // the bases its top entry gives, wherever among its attributes they lie.
    if (walk.values.empty()) walk.values.push_back(std::make_unique<AttributeValue>());
    ReadUnitBases(walk.abbrevs, walk.unit_view.View(first_entry, next), walk.forms,
                  *walk.values.front());
  } else {
    walk.forms.unit.ClearBases();
  }
  ConvertUnitEntries(walk, first_entry, next);
  return next;
}

bool GetDebugInfoAll(WalkContext& walk) {
  const SectionView& section = walk.elf.debug_info;
  if (!section.present()) return false;
  MessageChannel& channel = walk.channel();
  walk.forms = MakeFormContext(walk.elf.Cursor(walk.elf.debug_str), walk.dwarf);
  SetUnitSections(walk.elf, walk.forms.unit);
  walk.section_start = section.start;
  // A walk starts outside any function, whatever an earlier walk with the
  // same scope left.
  walk.scope.function_scope_end = 0;
  walk.scope.unit_name[0] = '\0';
  walk.units.Clear();
  if (walk.other_units != nullptr) {
    walk.other_units->Clear();
    walk.other_units->ListUnits(walk.elf.Cursor(section), false);
    if (walk.elf.debug_types.present()) {
      walk.other_units->ListUnits(walk.elf.Cursor(walk.elf.debug_types), true);
    }
  }

  std::uint32_t position = section.start;
  std::uint32_t number = 0;
  while (position < section.end) {
    TriggerTraceAt(walk, position);
    channel.TraceLine(walk.trace_file,
                      "/[0x%04X]<<<<<<<<<<<<<<<<<<<< .debug_info Section [% 3d] "
                      ">>>>>>>>>>>>>>>>>>>>\n",
                      position, static_cast<int>(number));
    walk.units.BeginUnit(number, position - section.start);
    const std::uint32_t started = walk.tick();
    const std::optional<std::uint32_t> next = ConvertUnit(walk, position);
    const std::uint32_t elapsed = walk.tick() - started;
    if (!next) return false;
    walk.units.EndUnit(*next - section.start - 1);
    channel.EmitFormatted("{0x%08X}.debug_info[%4d] time[%4dms] Member[%8d] unit[%s]\n",
                          position, static_cast<int>(number), static_cast<int>(elapsed),
                          static_cast<int>(walk.stored_members()), walk.scope.unit_name);
    ++number;
    position = *next;
  }
  return true;
}

}  // namespace dwarfsift
