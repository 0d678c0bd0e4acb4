// Turning debugging entries into symbol records.
//
// The unit walk hands every entry of a unit to ProcessEntry in stored order.
// Entries that describe a symbol (variables, parameters, labels, functions,
// the unit itself) fill slot 0 of the SymbolTable; a DW_AT_type is followed
// at once (FollowType), so the type chain folds into the same record and,
// for structure members, into the slots after it. The type and member rules
// are declared in type_rules.h, the location rules in location_rules.h.
//
// Everything one unit's conversion reads and writes is reached through a
// WalkContext: a UnitContext for reading, an EntryContext for the slots.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "base/run_context.h"
#include "dwarf/abbrev_table.h"
#include "dwarf/attribute_value.h"
#include "dwarf/byte_cursor.h"
#include "dwarf/readers.h"
#include "symbols/member_area.h"
#include "symbols/scope_state.h"
#include "symbols/symbol_table.h"
#include "symbols/type_follow_cache.h"
#include "symbols/type_rules.h"

namespace dwarfsift {

class CallFrameTable;
class ElfSymbolTable;
class EntryIndex;
class OtherUnits;
class OutputFile;
struct ElfImage;
struct MemberRecord;
struct SymbolConversion;

// The DWARF tags and attributes the symbol conversion acts on.
inline constexpr std::uint32_t kTagArrayType = 0x01;
inline constexpr std::uint32_t kTagClassType = 0x02;
inline constexpr std::uint32_t kTagFormalParameter = 0x05;
inline constexpr std::uint32_t kTagLabel = 0x0A;
inline constexpr std::uint32_t kTagMember = 0x0D;
inline constexpr std::uint32_t kTagPointerType = 0x0F;
inline constexpr std::uint32_t kTagCompileUnit = 0x11;
inline constexpr std::uint32_t kTagStructureType = 0x13;
inline constexpr std::uint32_t kTagTypedef = 0x16;
inline constexpr std::uint32_t kTagInheritance = 0x1C;
inline constexpr std::uint32_t kTagUnionType = 0x17;
inline constexpr std::uint32_t kTagSubprogram = 0x2E;
inline constexpr std::uint32_t kTagVariable = 0x34;

inline constexpr std::uint32_t kAtSibling = 0x01;
inline constexpr std::uint32_t kAtLocation = 0x02;
inline constexpr std::uint32_t kAtName = 0x03;
inline constexpr std::uint32_t kAtByteSize = 0x0B;
inline constexpr std::uint32_t kAtBitOffset = 0x0C;
inline constexpr std::uint32_t kAtBitSize = 0x0D;
inline constexpr std::uint32_t kAtLowPc = 0x11;
inline constexpr std::uint32_t kAtHighPc = 0x12;
inline constexpr std::uint32_t kAtUpperBound = 0x2F;
inline constexpr std::uint32_t kAtCount = 0x37;
inline constexpr std::uint32_t kAtDataMemberLocation = 0x38;
inline constexpr std::uint32_t kAtEncoding = 0x3E;
inline constexpr std::uint32_t kAtExternal = 0x3F;
inline constexpr std::uint32_t kAtFrameBase = 0x40;
inline constexpr std::uint32_t kAtDeclFile = 0x3A;
inline constexpr std::uint32_t kAtDeclaration = 0x3C;
inline constexpr std::uint32_t kAtType = 0x49;
inline constexpr std::uint32_t kAtAbstractOrigin = 0x31;
inline constexpr std::uint32_t kAtSpecification = 0x47;
inline constexpr std::uint32_t kAtDataBitOffset = 0x6B;
inline constexpr std::uint32_t kAtSignature = 0x69;

// The form classes the entry, type and location rules act on. A
// DW_FORM_ref2 type reference is already turned into DW_FORM_ref_addr when
// the rules see it.
inline bool IsStringForm(std::uint32_t form) {
  return form == kFormString || form == kFormStrp;
}
inline bool IsBlockForm(std::uint32_t form) {
  return form == kFormBlock1 || form == kFormBlock || form == kFormExprloc;
}
inline bool IsReferenceForm(std::uint32_t form) {
  return form == kFormRefAddr || form == kFormRef4 || form == kFormRefUdata;
}
// Whether an abbreviation lists `attribute`.
inline bool HasAttribute(std::span<const AttributeSpec> specs, std::uint32_t attribute) {
  return std::any_of(specs.begin(), specs.end(),
                     [attribute](const AttributeSpec& spec) { return spec.attribute == attribute; });
}
// The entries that stand in an object's layout as members: fields, and the
// base classes a C++ class derives from.
inline bool IsMemberTag(std::uint32_t tag) { return tag == kTagMember || tag == kTagInheritance; }
// The classes of locals, which -l and -x drop.
inline bool IsLocal(std::int32_t ident) {
  return ident == kIdentLocalStatic || ident == kIdentLocalRegister ||
         ident == kIdentLocalFrame;
}

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

// The sink of a conversion run: SymbolIsWanted and EmitCurrentSymbol.
class SymFileSink : public SymbolSink {
 public:
  explicit SymFileSink(const SymbolWriteContext& context) : context_(context) {}
  bool IsWanted(SymbolRecord& current) override;
  bool Emit(SymbolTable& table, std::uint32_t global_copy_count) override;
  bool TakesPendingMembers() const override { return true; }

 private:
  SymbolWriteContext context_;
};

// Milliseconds from an arbitrary start, wrapping like a 32-bit counter.
using TickSource = std::function<std::uint32_t()>;

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

// What a unit's entries are read with: the run's readers and tables, and
// where the walk stands in .debug_info. The unit walk moves it from unit to
// unit; references and children are read through it.
struct UnitContext {
  const ElfImage& elf;
  DwarfParameters& dwarf;
  UnitRangeTable& units;
  // The index and abbreviations of the unit whose entries are read: the
  // walked unit's, or another's while a reference into it is followed.
  std::reference_wrapper<EntryIndex> index;
  std::reference_wrapper<AbbrevTable> abbrevs;
  // The units references may lead into; may be null.
  OtherUnits* other_units = nullptr;
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
};

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

// What the current top-level entry is converted into: the slots, the scope,
// the follow and expansion state, and where the finished entry goes.
struct EntryContext {
  SymbolTable& symbols;
  ScopeState& scope;
  SymbolSink& sink;
  // The run's member area, for the number of stored members; may be null.
  const MemberArea<MemberRecord>* members = nullptr;

  // How deep references are being followed right now. Each level keeps its
  // own value object; they are made once and reused for the whole run.
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
  // How many members were stored when the current unit began.
  std::uint32_t unit_first_member = 0;
  std::vector<std::unique_ptr<AttributeValue>> values{};

  // Structure expansion of the current top-level entry; both are reset
  // with the entry. Once the member slots are used up, the entry's further
  // members are dropped instead of being expanded into the last slot.
  ExpansionStack expansion{};
  bool member_slots_full = false;

  // The top-level function just converted is code the linker removed; the
  // unit walk steps over what it contains.
  bool removed_function = false;

  // Steps of any follow that something besides the followed type decided
  // (a limit reached, a symbol entry met, a message given); a follow that
  // took one is not recorded in the unit's cache.
  std::uint32_t follow_cuts = 0;
  TypeFollowCache follow_cache{};
  // The member slots of the entry's replayed follow, while still pending
  // in `symbols`.
  ReplayedMembers replayed_members{};

  std::uint32_t stored_members() const {
    return members != nullptr ? static_cast<std::uint32_t>(members->size()) : 0;
  }
};

// One conversion walk: the run, its clock and trace file, the unit being
// read and the entry being converted.
struct WalkContext : UnitContext, EntryContext {
  WalkContext(RunContext& run_context, const ElfImage& image, DwarfParameters& parameters,
              SymbolConversion& conversion, SymbolSink& entry_sink, TickSource clock);

  RunContext& run;
  TickSource tick;
  OutputFile* trace_file = nullptr;

  MessageChannel& channel() { return run.channel; }
  const RunOptions& options() const { return run.options; }
  RunState& state() { return run.state; }
};

// Whether the current unit has used up its work budget; never while it is
// being traced.
bool UnitWorkSpent(const WalkContext& walk);

// Processes the entry whose attribute values start at `cursor` (right after
// its abbreviation code) and returns the position after its values, or
// after its children when it took them itself. `slot_index` is the slot the
// entry works on; the caller sees where the entry left it. `self_offset` is
// the entry's section offset when it was reached through a reference (or,
// for a child, its parent's), 0 when the unit walk hands it over.
std::uint32_t ProcessEntry(WalkContext& walk, ByteCursor cursor,
                           std::uint32_t tag, AbbrevDecl specs, int depth,
                           int& slot_index, std::uint32_t self_offset);

// Follows a type reference (section- or unit-relative) and processes the
// referenced entry into the current slot. False only when the reference was
// not found; a found entry counts even when nothing could be processed (its
// code has no declaration, or the follow limits are reached), so callers
// restore their slot index exactly as after a followed type.
bool FollowType(WalkContext& walk, std::uint32_t reference,
                bool section_relative, int depth, int& slot_index);

// Names `slot` after the entry a reference attribute points at (or after
// the declaration that entry completes); leaves it alone when there is none.
void TakeReferencedName(WalkContext& walk, const AttributeInput& input, SymbolRecord& slot);

// Reads the child entries that start at `cursor` up to the first null entry
// (or a code without declaration) and returns the position after it. Children
// with `wanted_tag` go to ProcessEntry, all others are skipped.
std::uint32_t ProcessChildren(WalkContext& walk, ByteCursor cursor,
                              std::uint32_t wanted_tag, int depth,
                              int& slot_index, std::uint32_t self_offset);

// Reads (and traces) the attribute values of an entry without using them;
// clears slot 0's name when asked. Returns the position after the values.
std::uint32_t SkipEntry(WalkContext& walk, ByteCursor cursor,
                        std::uint32_t tag, AbbrevDecl specs,
                        bool clear_name);

// Copies `text` into a fixed name field, cut to the field.
template <std::size_t N>
void CopyName(char (&field)[N], std::string_view text, std::size_t limit = N - 1) {
  const std::size_t n = std::min({text.size(), limit, N - 1});
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

}  // namespace dwarfsift
