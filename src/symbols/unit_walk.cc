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
#include "symbols/entry_processing.h"
#include "symbols/members.h"
#include "symbols/references.h"
#include "symbols/type_rules.h"

namespace dwarfsift {

namespace {

inline constexpr std::uint32_t kTagImportedUnit = 0x3D;
inline constexpr std::uint32_t kTagPartialUnit = 0x3C;
inline constexpr std::uint32_t kAtImport = 0x18;

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

// Reads the code of the entry at `cursor` and steps over its values. A null
// entry or an unknown code gives a declaration that is not found.
AbbrevDecl StepOverEntry(WalkContext& walk, ByteCursor& cursor, std::uint32_t& code) {
  code = ReadUleb128(cursor);
  AbbrevDecl decl = FindAbbrev(walk.abbrevs, code);
  if (!decl.found()) return decl;
  AttributeValue& value = *walk.values.front();
  AttributeSpec spec;
  while (decl.NextSpec(spec)) SkipAttributeValue(spec.form, cursor, walk.forms, value);
  return decl;
}

// Steps over the children of the entry whose values ended at `cursor`, to
// the position after the null entry that closes them, reading only what it
// must to find the entries' ends.
void SkipSubtree(WalkContext& walk, ByteCursor& cursor) {
  int open = 1;
  while (open > 0 && !cursor.AtEnd()) {
    ++walk.unit_work;
    std::uint32_t code;
    const AbbrevDecl decl = StepOverEntry(walk, cursor, code);
    if (code == 0) {
      --open;
    } else if (decl.found() && decl.children() != 0) {
      ++open;
    }
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
  const std::uint32_t next = ProcessEntry(walk, cursor, decl, 0, slot_index, 0);
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

// Steps over the entries before a waiting trace trigger's position, so
// that a unit whose work is spent still gets its trace where it was asked
// for.
void StepToTrigger(WalkContext& walk, ByteCursor& cursor) {
  while (!cursor.AtEnd() && cursor.position() < walk.options().trace_trigger_pos) {
    std::uint32_t code;
    const AbbrevDecl decl = StepOverEntry(walk, cursor, code);
    if (code == 0) {
      LeaveChildList(walk.scope);
    } else if (decl.found() && decl.children() != 0) {
      EnterChildList(walk.scope);
    }
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

// Whether the run's member area still holds the largest group one symbol
// can store; a group it cannot hold would be refused without a word.
bool MemberAreaHasRoom(const WalkContext& walk) {
  return walk.members == nullptr || walk.members->room() >= kLastMemberSlot;
}

// A unit that has stored this many members converts the rest of its
// entries without local structures and members. The allowance is the
// unit's own: one unit of huge structures (an amalgamated source) may not
// take the member area from the units after it. A member area without room
// for another group ends members for the rest of the run.
void CheckMemberLimit(WalkContext& walk) {
  RunState& state = walk.state();
  const std::uint32_t stored = walk.stored_members();
  const bool area_full = !MemberAreaHasRoom(walk);
  if ((area_full || stored - walk.unit_first_member >= kStoredMemberLimit) &&
      !(state.no_local_structs && state.no_members)) {
    walk.channel().EmitFormatted(texts::kMemberSizeLimit, static_cast<int>(stored));
    if (area_full) {
      walk.channel().EmitFormatted(texts::kMemberAreaFullCut,
                                   static_cast<int>(walk.members->capacity()));
    } else {
      walk.channel().EmitFormatted(texts::kMemberSizeLimitCut, walk.scope.unit_name,
                                   static_cast<int>(kStoredMemberLimit));
    }
    state.no_local_structs = true;
    state.no_members = true;
  }
}

// Each unit starts with the members and local structures the options ask
// for, whatever the member limit switched off in the unit before; a full
// member area stays full.
void StartUnitMembers(WalkContext& walk) {
  walk.unit_first_member = walk.stored_members();
  if (MemberAreaHasRoom(walk)) {
    walk.state().no_local_structs = walk.options().no_local_structs;
    walk.state().no_members = walk.options().no_members;
  }
  CheckMemberLimit(walk);
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
    if (UnitTimeOver(walk, start_time)) {
      if (!TriggerWaiting(walk) || !walk.trigger_in_unit) return false;
      ResetSymbolSlots(walk, ResetScope::kEntry);
      StepToTrigger(walk, cursor);
      continue;
    }
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
  walk.trigger_in_unit = walk.options().trace_trigger_pos < unit_end;
  walk.unit_work_limit = std::min(
      std::max(walk.unit_work_budget, walk.unit_work_per_byte * entries.remaining()),
      walk.run_work_left);
  StartUnitMembers(walk);
  ByteCursor cursor = entries;
  const bool whole = ConvertEntries(walk, cursor, start_time, 0);
  walk.run_work_left -= std::min(walk.run_work_left, walk.unit_work);
  return whole ? cursor.position() : unit_end;
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

  std::uint64_t unit_bytes = section.size;
  if (walk.elf.debug_types.present()) unit_bytes += walk.elf.debug_types.size;
  walk.run_work_left = std::max(walk.run_work_budget, walk.run_work_per_byte * unit_bytes);

  std::uint32_t position = section.start;
  std::uint32_t number = 0;
  while (position < section.end) {
    if (walk.run_work_left == 0 && !WorkLimitsLifted(walk) && !TriggerWaiting(walk)) {
      channel.ReportDamage(texts::kRunWorkSpent, static_cast<int>(number));
      break;
    }
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
