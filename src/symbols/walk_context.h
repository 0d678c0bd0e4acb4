// Everything one conversion walk reads and writes, in the parts it is made
// of: the unit's section views (what entries are read with), the entry
// index and the units references lead into, the slot writer (where the
// current top-level entry goes), and the limits and budgets that bound the
// work. A WalkContext is all four, with the run, its clock and trace file;
// functions that need one part only take that part.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/run_context.h"
#include "dwarf/abbrev_table.h"
#include "dwarf/attribute_value.h"
#include "dwarf/byte_cursor.h"
#include "dwarf/readers.h"
#include "symbols/entry_index.h"
#include "symbols/entry_terms.h"
#include "symbols/expansion_stack.h"
#include "symbols/member_area.h"
#include "symbols/scope_state.h"
#include "symbols/symbol_table.h"
#include "symbols/type_follow_cache.h"

namespace dwarfsift {

class CallFrameTable;
class ElfSymbolTable;
class OutputFile;
struct ElfImage;
struct MemberRecord;
struct WalkContext;

// Where a finished entry goes. The run writes it to the SYM file; tests
// look at the slots instead.
class SymbolSink {
 public:
  virtual ~SymbolSink() = default;
  // Whether slot 0 would be written (it may take an ELF symbol's address).
  virtual bool IsWanted(SymbolRecord& current) = 0;
  // Writes the finished entry; true when it was written.
  virtual bool Emit(SymbolTable& table, std::uint32_t global_copy_count) = 0;
  // Whether Emit writes pending member slots itself when it needs them;
  // otherwise they are written before the entry is finished.
  virtual bool TakesPendingMembers() const { return false; }
};

// Milliseconds from an arbitrary start, wrapping like a 32-bit counter.
using TickSource = std::function<std::uint32_t()>;

// The entry processing as the rules it calls reach it again: a type rule
// follows a type or takes an entry's children, the follow cache walks what
// it has not recorded, and each of those comes back to ProcessEntry. The
// rules see only this interface, so the recursion runs through the walk
// without their modules and the entry processing including each other.
class EntryProcessor {
 public:
  virtual ~EntryProcessor() = default;
  // Follows a type reference and processes the referenced entry into the
  // current slot (see FollowType).
  virtual bool FollowType(WalkContext& walk, std::uint32_t reference, bool section_relative,
                          int depth, int& slot_index) const = 0;
  // Processes the children with `wanted_tag`, skipping the others (see
  // ProcessChildren).
  virtual std::uint32_t ProcessChildren(WalkContext& walk, ByteCursor cursor,
                                        std::uint32_t wanted_tag, int depth, int& slot_index,
                                        std::uint32_t self_offset) const = 0;
  // Reads an entry's values without using them (see SkipEntry).
  virtual std::uint32_t SkipEntry(WalkContext& walk, ByteCursor cursor, std::uint32_t tag,
                                  AbbrevDecl specs, bool clear_name) const = 0;
  // Names a slot after the entry a reference points at (see
  // TakeReferencedName).
  virtual void TakeReferencedName(WalkContext& walk, const AttributeInput& input,
                                  SymbolRecord& slot) const = 0;
};

// The objects the symbol conversion keeps for the run.
struct SymbolConversion {
  SymbolTable symbols;
  ScopeState scope;
  UnitRangeTable units;
  EntryIndex index;
  AbbrevTable abbrevs;
  GlobalStructList global_structs;
  OtherUnits other_units;
};

// The unit's section views: the run's readers and tables, where the walk
// stands in .debug_info, and the value objects entries are read into. The
// unit walk moves it from unit to unit; references and children are read
// through it.
struct UnitSections {
  const ElfImage& elf;
  DwarfParameters& dwarf;
  UnitRangeTable& units;
  // The abbreviations of the unit whose entries are read: the walked
  // unit's, or another's while a reference into it is followed.
  std::reference_wrapper<AbbrevTable> abbrevs;
  // The run's call-frame information; may be null.
  const CallFrameTable* call_frames = nullptr;
  // The run's ELF symbols, which complete what the entries leave open (an
  // array's bound, whether code was kept); may be null.
  const ElfSymbolTable* elf_symbols = nullptr;

  FormContext forms{};
  // Image positions of the first byte of .debug_info and of the current
  // unit header.
  std::uint32_t section_start = 0;
  std::uint32_t unit_start = 0;
  // The current unit's entries; references and children are read from it.
  ByteCursor unit_view{};
  // The abbreviation tables already traced in this walk, by offset.
  std::unordered_set<std::uint32_t> traced_abbrev_tables{};
  // One value object per follow level; they are made once and reused for
  // the whole run.
  std::vector<std::unique_ptr<AttributeValue>> values{};
};

// The entry index and the units references lead into.
struct EntryReferences {
  // The index of the unit whose entries are read: the walked unit's, or
  // another's while a reference into it is followed.
  std::reference_wrapper<EntryIndex> index;
  // The units references may lead into; may be null.
  OtherUnits* other_units = nullptr;
};

// Where the current top-level entry is converted to: the slots, the scope,
// the structures being expanded, the unit's follow cache, and where the
// finished entry goes.
struct SlotWriter {
  SymbolTable& symbols;
  ScopeState& scope;
  SymbolSink& sink;
  // The run's member area, for the number of stored members; may be null.
  const MemberArea<MemberRecord>* members = nullptr;

  // Structure expansion of the current top-level entry; both are reset
  // with the entry. Once the member slots are used up, the entry's further
  // members are dropped instead of being expanded into the last slot.
  ExpansionStack expansion{};
  bool member_slots_full = false;

  // The top-level function just converted is code the linker removed; the
  // unit walk steps over what it contains.
  bool removed_function = false;

  TypeFollowCache follow_cache{};
  // The member slots of the entry's replayed follow, while still pending
  // in `symbols`.
  ReplayedMembers replayed_members{};

  std::uint32_t stored_members() const {
    return members != nullptr ? static_cast<std::uint32_t>(members->size()) : 0;
  }
};

// References are followed at most this deep. Real type chains, even through
// a dozen nested structure members, stay far below it; only damaged input
// that the cycle test cannot see (an entry with two type attributes, say)
// reaches it.
inline constexpr int kMaxFollowDepth = 256;
// References followed for one top-level entry. Even the largest structure
// (8,191 member slots, each with a short type chain) needs far fewer; damaged
// input whose entries carry several type attributes could otherwise branch
// into exponential work.
inline constexpr std::uint32_t kFollowBudget = 1u << 18;
// Work allowed for one unit, counted in entries visited plus references
// followed: a measure of the input alone, so the same input gives the same
// files on any machine under any load. A unit may do kUnitWorkPerByte
// steps for each byte of its entries, and at least kUnitWorkBudget: work
// that grows with the unit is no sign of damage, while what damaged input
// whose expansion explodes may cost stays tied to its size. The heaviest
// real unit met, a GCC -O0 SQLite amalgamation of 660 KB, needs 8.5
// million steps, 13 per byte; no other real unit needs more than 9 per
// byte or 7 million in all.
inline constexpr std::uint64_t kUnitWorkBudget = 1ull << 24;
inline constexpr std::uint64_t kUnitWorkPerByte = 28;
// Work allowed for the whole run, so that many damaged units cannot each
// spend a unit's budget: kRunWorkPerByte steps per byte of all units'
// entries, and at least kRunWorkBudget. Real images use at most 3.4 steps
// per byte in all.
inline constexpr std::uint64_t kRunWorkBudget = 1ull << 26;
inline constexpr std::uint64_t kRunWorkPerByte = 8;

// The limits and budgets that bound the walk's work, and what it used.
struct WalkLimits {
  // How deep references are being followed right now.
  int follow_depth = 0;
  // The deepest follow reached since a recorded member expansion began.
  int follow_depth_peak = 0;
  // References still to be followed for the current top-level entry, and
  // what each top-level entry starts with.
  std::uint32_t follow_budget = 0;
  std::uint32_t follow_budget_per_entry = kFollowBudget;
  // Work done in the current unit, entries visited plus references
  // followed; the least a unit may use, what it may use per byte of its
  // entries, and what the current unit may use.
  std::uint64_t unit_work = 0;
  std::uint64_t unit_work_budget = kUnitWorkBudget;
  std::uint64_t unit_work_per_byte = kUnitWorkPerByte;
  std::uint64_t unit_work_limit = kUnitWorkBudget;
  // The run's work: the least it may use, what it may use per byte of its
  // units, and what is left of it.
  std::uint64_t run_work_budget = kRunWorkBudget;
  std::uint64_t run_work_per_byte = kRunWorkPerByte;
  std::uint64_t run_work_left = kRunWorkBudget;
  // A waiting trace trigger's position lies in the current unit.
  bool trigger_in_unit = false;
  // How many members were stored when the current unit began.
  std::uint32_t unit_first_member = 0;
  // Steps of any follow that something besides the followed type decided
  // (a limit reached, a symbol entry met, a message given); a follow that
  // took one is not recorded in the unit's cache.
  std::uint32_t follow_cuts = 0;
  // Those of them that the entry's follow budget made, and nothing else.
  std::uint32_t follow_budget_cuts = 0;
};

// One conversion walk: the run, its clock and trace file, and the four
// parts above.
struct WalkContext : UnitSections, EntryReferences, SlotWriter, WalkLimits {
  WalkContext(RunContext& run_context, const ElfImage& image, DwarfParameters& parameters,
              SymbolConversion& conversion, SymbolSink& entry_sink,
              const EntryProcessor& entry_processor, TickSource clock);

  RunContext& run;
  // What the rules hand entries back to.
  const EntryProcessor& processor;
  TickSource tick;
  OutputFile* trace_file = nullptr;

  MessageChannel& channel() { return run.channel; }
  const RunOptions& options() const { return run.options; }
  RunState& state() { return run.state; }
};

// Whether a trace trigger still waits for its position.
bool TriggerWaiting(const WalkContext& walk);
// Whether the work budgets are lifted: while a trace is being written, up
// to its cap.
bool WorkLimitsLifted(const WalkContext& walk);
// Whether the current unit has used up its work budget.
bool UnitWorkSpent(const WalkContext& walk);

// Says that the member slots of the entry are used up, and what that
// leaves out of its member group.
void ReportMemberSlotsFull(WalkContext& walk, int overflow_count);

}  // namespace dwarfsift
