#include "symbols/entry_processing.h"

#include <array>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "base/messages.h"
#include "dwarf/dwarf_names.h"
#include "elf/elf_image.h"
#include "elf/symbol_table.h"
#include "location/location_expression.h"
#include "symbols/location_rules.h"
#include "symbols/follow_replay.h"
#include "symbols/references.h"
#include "symbols/type_rules.h"

namespace dwarfsift {

bool SymFileSink::IsWanted(SymbolRecord& current) {
  return SymbolIsWanted(current, *context_.state, *context_.elf_symbols);
}

bool SymFileSink::Emit(SymbolTable& table, std::uint32_t global_copy_count) {
  return EmitCurrentSymbol(context_, table, global_copy_count);
}

namespace {

inline constexpr std::size_t kNameLimit = 256;

// A location-list offset: DWARF 2 and 3 give it as data4, DWARF 4 as
// sec_offset.
bool IsListForm(std::uint32_t form) {
  return form == kFormData4 || form == kFormSecOffset;
}

// The "-l" test: locals are not written.
bool DropsLocal(WalkContext& walk) {
  return walk.options().no_locals &&
         IsLocal(std::as_const(walk.symbols)[kCurrentSlot].ident);
}

void ClearName(SymbolRecord& record) { record.name[0] = '\0'; }

// The value object of the current follow level.
AttributeValue& LevelValue(WalkContext& walk) {
  const auto level = static_cast<std::size_t>(walk.follow_depth);
  while (walk.values.size() <= level) {
    walk.values.push_back(std::make_unique<AttributeValue>());
  }
  return *walk.values[level];
}

// Keeps the follow depth for the time of a nested call.
class FollowLevel {
 public:
  explicit FollowLevel(WalkContext& walk) : walk_(walk) {
    if (++walk_.follow_depth > walk_.follow_depth_peak) walk_.follow_depth_peak = walk_.follow_depth;
  }
  ~FollowLevel() { --walk_.follow_depth; }
  FollowLevel(const FollowLevel&) = delete;
  FollowLevel& operator=(const FollowLevel&) = delete;

 private:
  WalkContext& walk_;
};

// A unit name is known by its file name alone.
std::string_view FileNamePart(std::string_view path) {
  const std::size_t cut = path.find_last_of(":\\/");
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// "f(int)" is known as "f".
std::string_view BeforeParameterList(std::string_view name) {
  return name.substr(0, name.find('('));
}

void ClearMemberGroupNames(ScopeState& scope) {
  scope.struct_tag_name[0] = '\0';
  scope.pending_type_name[0] = '\0';
}

// Follows the type of a variable, parameter or function; the entry's own
// later attributes start again from the slot it started from.
void FollowOwnType(WalkContext& walk, std::uint32_t reference, bool section_relative,
                   int& slot_index) {
  const int saved = slot_index;
  const int depth = std::as_const(walk.symbols)[static_cast<std::size_t>(slot_index)].nest;
  if (FollowTypeOrReplay(walk, reference, section_relative, depth, slot_index)) {
    slot_index = saved;
  }
}

// DW_AT_external as a number: DW_FORM_flag gives its byte, DW_FORM_flag_present
// says yes, any other form says nothing.
std::optional<std::uint32_t> ExternalFlag(std::uint32_t form, std::uint32_t number) {
  if (form == kFormFlag) return number;
  if (form == kFormFlagPresent) return 1;
  return std::nullopt;
}

// What an entry inherits from the entry it completes: an out-of-line
// function or its locals from their abstract instance (DW_AT_abstract_origin),
// a variable's definition from its declaration (DW_AT_specification). GCC
// leaves name, type and external flag on the completed entry only; without
// them these entries would lose their name, their type or their address.
struct Inherited {
  char name[kNameLimit + 1] = {};
  bool has_external = false;
  std::uint32_t external = 0;
  bool has_type = false;
  std::uint32_t type_offset = 0;  // section offset of the type entry
};

// How many declarations a chain of such references may pass through.
constexpr int kMaxOriginHops = 4;

// A reference value as a section offset; unit-relative forms count from the
// current unit.
std::uint32_t SectionReference(WalkContext& walk, std::uint32_t form, std::uint32_t value) {
  return form == kFormRefAddr ? value : value + walk.units.current_start();
}

// A type unit's type named by its signature becomes a section reference
// to it; an unknown signature stays as it is, which no rule follows.
void SignatureAsSectionReference(WalkContext& walk, const AttributeValue& value,
                                 std::uint32_t& form, std::uint32_t& number) {
  if (const std::optional<std::uint32_t> target = SignatureTarget(walk, value.number64())) {
    number = *target;
    form = kFormRefAddr;
  }
}

// Reads what the completed entries of the chain starting at `input` give;
// the nearest entry that has an attribute decides it.
bool ReadOrigin(WalkContext& walk, const AttributeInput& input, Inherited& out) {
  if (!IsReferenceForm(input.form)) return false;
  if (walk.follow_depth >= kMaxFollowDepth) {
    ++walk.follow_cuts;
    return false;
  }
  FollowLevel level(walk);
  AttributeValue& value = LevelValue(walk);
  std::uint32_t reference = input.number;
  bool section_relative = input.form == kFormRefAddr;
  for (int hop = 0; hop < kMaxOriginHops; ++hop) {
    const ResolvedReference target = ResolveReference(walk, reference, section_relative);
    if (!target.found) break;
    const UnitVisit visit(walk, target.unit);
    ByteCursor cursor = walk.unit_view.At(walk.section_start + target.section_offset);
    AbbrevDecl decl = FindAbbrev(walk.abbrevs, ReadUleb128(cursor));
    if (!decl.found()) break;
    bool next_hop = false;
    AttributeSpec spec;
    while (decl.NextSpec(spec)) {
      std::uint32_t form = spec.form;
      ReadAttributeValue(form, cursor, walk.forms, value, spec.implicit_const);
      std::uint32_t number = value.number();
      if (form == kFormRefSig8) SignatureAsSectionReference(walk, value, form, number);
      const std::uint32_t reference_form = form == kFormRef2 ? kFormRef4 : form;
      const std::optional<std::uint32_t> external =
          spec.attribute == kAtExternal ? ExternalFlag(form, number) : std::nullopt;
      if (spec.attribute == kAtName && IsStringForm(form) && out.name[0] == '\0') {
        CopyName(out.name, value.text());
      } else if (external && !out.has_external) {
        out.has_external = true;
        out.external = *external;
      } else if (spec.attribute == kAtType && !out.has_type &&
                 IsReferenceForm(reference_form)) {
        out.has_type = true;
        out.type_offset = SectionReference(walk, form, number);
      } else if ((spec.attribute == kAtAbstractOrigin || spec.attribute == kAtSpecification) &&
                 IsReferenceForm(reference_form)) {
        next_hop = true;
        reference = SectionReference(walk, form, number);
        section_relative = true;
      }
    }
    if ((out.name[0] != '\0' && out.has_type) || !next_hop) break;
  }
  return out.name[0] != '\0' || out.has_type || out.has_external;
}

bool IsVariableTag(std::uint32_t tag) {
  return tag == kTagVariable || tag == kTagFormalParameter;
}

// Which of the attributes an entry may inherit it carries itself; its own
// always win, wherever they stand among its attributes.
struct OwnAttributes {
  bool name = false;
  bool type = false;
  bool external = false;
};

OwnAttributes OwnAttributesOf(std::span<const AttributeSpec> specs) {
  return {HasAttribute(specs, kAtName), HasAttribute(specs, kAtType),
          HasAttribute(specs, kAtExternal)};
}

// Follows a variable's or parameter's type, its own or inherited. A still
// nameless entry folds it under a stand-in name, which keeps the type rules
// working and is dropped again afterwards.
void FollowVariableType(WalkContext& walk, std::uint32_t reference, bool section_relative,
                        int& slot_index) {
  if (walk.symbols[kCurrentSlot].name[0] == '\0') CopyName(walk.symbols[kCurrentSlot].name, "?");
  FollowOwnType(walk, reference, section_relative, slot_index);
  SymbolRecord& after = walk.symbols[kCurrentSlot];
  if (after.name[0] == '?') ClearName(after);
}

// A variable or parameter completing another entry. The inherited name
// and external flag give the class they would give had they stood first;
// a class the entry's own location already gave is kept.
void InheritVariable(WalkContext& walk, std::uint32_t tag, const AttributeInput& input,
                     std::span<const AttributeSpec> specs, int depth, int& slot_index) {
  Inherited origin;
  if (!ReadOrigin(walk, input, origin)) return;
  const OwnAttributes own = OwnAttributesOf(specs);
  SymbolRecord& record = walk.symbols[kCurrentSlot];
  if (!own.name && origin.name[0] != '\0') {
    CopyName(record.name, origin.name, kNameLimit);
    if (depth > 1) ClearMemberGroupNames(walk.scope);
    if (record.ident == 0) record.ident = kIdentNon;
  }
  if (!own.type && origin.has_type) FollowVariableType(walk, origin.type_offset, true, slot_index);
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  if (!own.external && origin.has_external) {
    current.external = static_cast<std::int32_t>(origin.external);
    if (current.ident == 0 || current.ident == kIdentNon) {
      current.ident = origin.external != 0 ? kIdentVariable : kIdentLocalStatic;
    } else if (current.ident == kIdentLocalStatic && origin.external != 0) {
      current.ident = kIdentVariable;
    }
  }
  if (tag == kTagFormalParameter && walk.options().no_locals) ClearName(current);
}

void VariableRules(WalkContext& walk, std::uint32_t tag, const AttributeInput& input,
                   std::span<const AttributeSpec> specs, int depth, int& slot_index) {
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  switch (input.attribute) {
    case kAtName:
      if (!IsStringForm(input.form)) return;
      CopyName(current.name, input.value.text(), kNameLimit);
      if (depth > 1) ClearMemberGroupNames(walk.scope);
      current.ident = kIdentNon;
      if (tag == kTagFormalParameter && walk.options().no_locals) ClearName(current);
      return;
    case kAtExternal:
      if (const std::optional<std::uint32_t> flag = ExternalFlag(input.form, input.number)) {
        current.external = static_cast<std::int32_t>(*flag);
        current.ident = *flag != 0 ? kIdentVariable : kIdentLocalStatic;
      }
      return;
    case kAtDeclaration:
      if (input.form == kFormFlag && input.number != 0) current.ident = kIdentNon;
      return;
    case kAtSpecification:
    case kAtAbstractOrigin:
      InheritVariable(walk, tag, input, specs, depth, slot_index);
      return;
    case kAtType:
      if (IsReferenceForm(input.form)) {
        FollowVariableType(walk, input.number, input.form == kFormRefAddr, slot_index);
      }
      return;
    case kAtLocation:
      if (IsBlockForm(input.form)) {
        ApplyLocationRules(walk, input.value);
      } else if (IsListForm(input.form)) {
        ApplyLocationList(walk, input.number);
      } else {
        return;
      }
      if (DropsLocal(walk)) ClearName(walk.symbols[kCurrentSlot]);
      return;
    default:
      return;
  }
}

void LabelRules(WalkContext& walk, const AttributeInput& input) {
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  switch (input.attribute) {
    case kAtName:
      if (!IsStringForm(input.form) || current.external == 0) return;
      CopyName(current.name, input.value.text(), kNameLimit);
      current.ident = kIdentLabel;
      current.kind = 0;
      return;
    case kAtExternal:
      if (const std::optional<std::uint32_t> flag = ExternalFlag(input.form, input.number)) {
        current.external = static_cast<std::int32_t>(*flag);
      }
      return;
    // A label's address is its own: the function's range, which the
    // locals after the label take, stays the function's.
    case kAtLowPc:
      if (input.form != kFormAddr) return;
      current.location = static_cast<std::int32_t>(input.number);
      return;
    case kAtLocation:
      if (input.form == kFormAddr) {
        current.location = static_cast<std::int32_t>(input.number);
      } else if (std::uint32_t address = 0;
                 IsBlockForm(input.form) && StaticAddress(walk, input.value, address)) {
        current.location = static_cast<std::int32_t>(address);
      }
      return;
    default:
      return;
  }
}

void CompileUnitRules(WalkContext& walk, const AttributeInput& input,
                      int& slot_index) {
  slot_index = 0;
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  ScopeState& scope = walk.scope;
  switch (input.attribute) {
    case kAtName: {
      if (!IsStringForm(input.form)) return;
      const std::string_view name = FileNamePart(input.value.text());
      CopyName(current.name, name, kNameLimit);
      CopyName(scope.unit_name, name);
      current.ident = kIdentUnit;
      return;
    }
    case kAtLowPc:
      if (input.form != kFormAddr) return;
      scope.unit_low_pc = current.fstart = input.number;
      return;
    case kAtHighPc:
      if (input.form == kFormAddr) {
        scope.unit_high_pc = current.fend = input.number;
      } else if (input.form == kFormData4) {
        scope.unit_high_pc = current.fend = scope.unit_low_pc + input.number;
      }
      return;
    default:
      return;
  }
}

void ResetFunctionScope(ScopeState& scope) {
  scope.frame_base_list_offset = 0;
  scope.frame_base_is_list = false;
  scope.function_low_pc = scope.function_high_pc = 0;
  scope.frame_base_opcode = scope.frame_base_operand1 = scope.frame_base_operand2 = 0;
  scope.function_scope_end = 0;
}

// A function completing another entry (an out-of-line instance, or a
// definition of a declaration): the name, external flag and return type it
// lacks come from there.
void InheritFunction(WalkContext& walk, const AttributeInput& input,
                     std::span<const AttributeSpec> specs, int depth, int& slot_index) {
  ScopeState& scope = walk.scope;
  Inherited origin;
  if (!ReadOrigin(walk, input, origin)) return;
  const OwnAttributes own = OwnAttributesOf(specs);
  SymbolRecord& record = walk.symbols[kCurrentSlot];
  if (!own.name && origin.name[0] != '\0' && record.name[0] == '\0') {
    const std::string_view name = BeforeParameterList(origin.name);
    CopyName(record.name, name, kScopeNameSize - 1);
    CopyName(scope.function_name, name);
    if (depth > 1) ClearMemberGroupNames(scope);
  }
  if (!own.external && origin.has_external) {
    record.external = static_cast<std::int32_t>(origin.external);
  }
  // The return type, folded into the record as an own DW_AT_type is.
  if (!own.type && origin.has_type && record.name[0] != '\0') {
    FollowOwnType(walk, origin.type_offset, true, slot_index);
  }
}

// A function's address: its start, and its class from its external flag
// (a static function takes its unit's range).
void FunctionAddressRule(WalkContext& walk, std::uint32_t address) {
  ScopeState& scope = walk.scope;
  SymbolRecord& record = walk.symbols[kCurrentSlot];
  scope.function_low_pc = address;
  scope.function_low_pc_read = true;
  record.location = static_cast<std::int32_t>(address);
  if (record.external != 0) {
    record.ident = kIdentProgram;
    record.fstart = record.fend = 0;
  } else {
    record.ident = kIdentStaticProgram;
    record.fstart = scope.unit_low_pc;
    record.fend = scope.unit_high_pc;
  }
}

// The rules of a function entry, one attribute at a time.
void SubprogramRules(WalkContext& walk, const AttributeInput& input,
                     std::span<const AttributeSpec> specs, int depth, int& slot_index) {
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  ScopeState& scope = walk.scope;
  switch (input.attribute) {
    case kAtDeclFile:
      ResetFunctionScope(scope);
      break;
    case kAtName: {
      if (!IsStringForm(input.form)) break;
      const std::string_view name = BeforeParameterList(input.value.text());
      CopyName(current.name, name, kScopeNameSize - 1);
      CopyName(scope.function_name, name);
      if (depth > 1) ClearMemberGroupNames(scope);
      break;
    }
    case kAtExternal:
      if (const std::optional<std::uint32_t> flag = ExternalFlag(input.form, input.number)) {
        current.external = static_cast<std::int32_t>(*flag);
      }
      break;
    case kAtAbstractOrigin:
    case kAtSpecification:
      InheritFunction(walk, input, specs, depth, slot_index);
      break;
    case kAtType:
      if (IsReferenceForm(input.form)) {
        FollowOwnType(walk, input.number, input.form == kFormRefAddr, slot_index);
      }
      break;
    case kAtFrameBase:
      scope.frame_base_read = true;
      if (IsListForm(input.form)) {
        scope.frame_base_list_offset = input.number;
        scope.frame_base_is_list = true;
        ApplyFrameBaseList(walk, input.number);
      } else if (IsBlockForm(input.form)) {
        SaveFrameBase(walk, input.value);
      }
      break;
    case kAtLowPc:
      if (input.form == kFormAddr) FunctionAddressRule(walk, input.number);
      break;
    case kAtHighPc:
      if (input.form == kFormAddr) {
        scope.function_high_pc = input.number;
      } else if (input.form == kFormData4) {
        scope.function_high_pc = scope.function_low_pc + input.number;
      }
      break;
    case kAtSibling:
      scope.function_scope_end = input.number;
      break;
    default:
      break;
  }
  if (DropsLocal(walk)) ClearName(walk.symbols[kCurrentSlot]);
}

// Whether the type rules of `tag` act on `attribute` (see ApplyTypeRules);
// the other attributes of a type entry, its declaration coordinates say,
// need no decoding. Pointer and array types act on any attribute.
bool TypeRulesRead(std::uint32_t tag, std::uint32_t attribute) {
  switch (attribute) {
    case kAtName:
    case kAtType:
    case kAtSibling:
    case kAtByteSize:
    case kAtBitOffset:
    case kAtBitSize:
    case kAtEncoding:
    case kAtUpperBound:
    case kAtCount:
    case kAtDataMemberLocation:
    case kAtDataBitOffset:
    case kAtSignature:
      return true;
    default:
      return tag == kTagArrayType || tag == kTagPointerType;
  }
}

// The tags whose rules write the entry's own record and scope.
bool IsSymbolTag(std::uint32_t tag) {
  return tag == kTagVariable || tag == kTagFormalParameter || tag == kTagLabel ||
         tag == kTagCompileUnit || tag == kTagSubprogram;
}

void ApplySymbolRules(WalkContext& walk, std::uint32_t tag, const AttributeInput& input,
                      std::span<const AttributeSpec> specs, int depth, int& slot_index) {
  switch (tag) {
    case kTagVariable:
    case kTagFormalParameter:
      return VariableRules(walk, tag, input, specs, depth, slot_index);
    case kTagLabel:
      return LabelRules(walk, input);
    case kTagCompileUnit:
      return CompileUnitRules(walk, input, slot_index);
    case kTagSubprogram:
      return SubprogramRules(walk, input, specs, depth, slot_index);
    default:
      return;
  }
}

// One attribute of the entry being processed: its value read at `cursor`
// (which moves past it), traced, and handed to the entry's rules.
// A type entry that only names a type unit's type (DW_AT_signature) stands
// for that type: it is followed like a typedef's. True when the attribute
// was one.
bool FollowedSignature(WalkContext& walk, std::uint32_t attribute, std::uint32_t form,
                       std::uint32_t number, int depth, int& slot_index) {
  if (attribute != kAtSignature || form != kFormRefAddr) return false;
  FollowType(walk, number, true, depth, slot_index);
  return true;
}

struct AttributeStep {
  std::uint32_t tag;
  std::span<const AttributeSpec> specs;
  int depth;
  int type_slot;
  std::uint32_t self_offset;
};

void ApplyAttribute(WalkContext& walk, ByteCursor& cursor, const AttributeSpec& spec,
                    const AttributeStep& step, AttributeValue& value, int& slot_index) {
  MessageChannel& channel = walk.channel();
  std::uint32_t form = spec.form;
  ReadAttributeValue(form, cursor, walk.forms, value, spec.implicit_const);
  std::uint32_t number = value.number();
  if (spec.attribute == kAtType && form == kFormRef2) {
    number += walk.units.current_start();
    form = kFormRefAddr;
  } else if (form == kFormRefSig8) {
    SignatureAsSectionReference(walk, value, form, number);
  }
  if (channel.writes_trace()) {
    std::string extra;
    if (IsBlockForm(form)) {
      FirstOperationText(walk, value, extra);
    } else if (spec.attribute == kAtEncoding && form == kFormData1) {
      EncodingNameText(channel, extra, number);
    }
    std::string attribute_name;
    std::string form_name;
    AttributeNameText(channel, attribute_name, spec.attribute);
    FormNameText(channel, form_name, TracedForm(form, value));
    channel.TraceLine(walk.trace_file, "/ [%2d] Tag[0x%02X] %s %s %s %s\n", step.depth,
                      step.tag, attribute_name.c_str(), form_name.c_str(), value.c_str(),
                      extra.c_str());
  }
  const AttributeInput input{spec.attribute, form, number, value, step.specs};
  ApplySymbolRules(walk, step.tag, input, step.specs, step.depth, slot_index);
  if (std::as_const(walk.symbols)[kCurrentSlot].name[0] == '\0') return;
  if (FollowedSignature(walk, spec.attribute, form, number, step.depth, slot_index)) return;
  ApplyTypeRules(walk, step.tag, input, step.depth, slot_index, step.type_slot,
                 step.self_offset);
}

// The symbol rules read what other attributes of the same entry set: a
// function's class its external flag, a high_pc given as a length the
// low_pc, a local's class its name and location. They are applied in the
// order below whatever order the producer wrote the attributes in (GCC
// writes this order, LLVM puts locations, addresses and frame bases before
// the name and the external flag last). Attributes not listed take the
// group's neutral rank; their rules read nothing the ranked ones set.
enum class RuleGroup : std::uint8_t { kNone, kVariable, kSubprogram, kLabel, kUnit };

struct RuleRank {
  RuleGroup group;
  std::uint32_t attribute;
  std::uint8_t rank;
};

constexpr RuleRank kRuleRanks[] = {
    {RuleGroup::kVariable, kAtSpecification, 1},  {RuleGroup::kVariable, kAtAbstractOrigin, 1},
    {RuleGroup::kVariable, kAtName, 2},           {RuleGroup::kVariable, kAtExternal, 4},
    {RuleGroup::kVariable, kAtDeclaration, 5},    {RuleGroup::kVariable, kAtLocation, 6},
    {RuleGroup::kSubprogram, kAtExternal, 1},     {RuleGroup::kSubprogram, kAtName, 2},
    {RuleGroup::kSubprogram, kAtSpecification, 3}, {RuleGroup::kSubprogram, kAtAbstractOrigin, 3},
    {RuleGroup::kSubprogram, kAtDeclFile, 4},     {RuleGroup::kSubprogram, kAtLowPc, 6},
    {RuleGroup::kSubprogram, kAtHighPc, 7},       {RuleGroup::kSubprogram, kAtFrameBase, 8},
    {RuleGroup::kSubprogram, kAtSibling, 9},      {RuleGroup::kLabel, kAtExternal, 1},
    {RuleGroup::kLabel, kAtName, 2},              {RuleGroup::kLabel, kAtLowPc, 4},
    {RuleGroup::kLabel, kAtLocation, 5},          {RuleGroup::kUnit, kAtName, 2},
    {RuleGroup::kUnit, kAtLowPc, 3},              {RuleGroup::kUnit, kAtHighPc, 4},
};

// Between the ranks of what a neutral attribute may rely on (a variable's
// or function's type on the name) and what relies on nothing it sets.
constexpr std::uint8_t NeutralRank(RuleGroup group) {
  return group == RuleGroup::kSubprogram ? 5 : 3;
}

RuleGroup GroupOf(std::uint32_t tag) {
  switch (tag) {
    case kTagVariable:
    case kTagFormalParameter:
      return RuleGroup::kVariable;
    case kTagSubprogram:
      return RuleGroup::kSubprogram;
    case kTagLabel:
      return RuleGroup::kLabel;
    case kTagCompileUnit:
      return RuleGroup::kUnit;
    default:
      return RuleGroup::kNone;
  }
}

// The ranks by group and attribute: every symbol entry asks for each of
// its attributes, so the rows are laid out once for a direct look-up.
constexpr std::uint32_t kRankedAttributeLimit = 0x80;
constexpr auto kRankTable = [] {
  std::array<std::array<std::uint8_t, kRankedAttributeLimit>, 5> table{};
  for (const RuleRank& row : kRuleRanks) {
    table[static_cast<std::size_t>(row.group)][row.attribute] = row.rank;
  }
  return table;
}();

// The attribute's rank, or 0 when it is neutral.
std::uint8_t RankOf(RuleGroup group, std::uint32_t attribute) {
  if (attribute >= kRankedAttributeLimit) return 0;
  return kRankTable[static_cast<std::size_t>(group)][attribute];
}

// Whether the ranked attributes already stand in rule order, so that the
// entry can be applied as it is read.
bool RulesInOrder(std::uint32_t tag, std::span<const AttributeSpec> specs) {
  const RuleGroup group = GroupOf(tag);
  std::uint8_t last = 0;
  for (const AttributeSpec& spec : specs) {
    const std::uint8_t rank = RankOf(group, spec.attribute);
    if (rank == 0) continue;
    if (rank < last) return false;
    last = rank;
  }
  return true;
}

// Entries of more attributes than this (no producer writes them) are
// applied as read.
constexpr std::size_t kMaxOrderedAttributes = 64;

// Applies the entry's attributes in rule order: one pass finds where each
// value lies, the second reads them in order. Returns the position after
// the entry's values.
std::uint32_t ApplyInRuleOrder(WalkContext& walk, ByteCursor cursor, const AttributeStep& step,
                               AttributeValue& value, int& slot_index) {
  struct Placed {
    std::uint8_t rank;
    std::uint32_t position;
  };
  const RuleGroup group = GroupOf(step.tag);
  std::array<Placed, kMaxOrderedAttributes> placed;
  const std::size_t count = step.specs.size();
  if (count > placed.size()) {
    for (const AttributeSpec& spec : step.specs) {
      ApplyAttribute(walk, cursor, spec, step, value, slot_index);
    }
    return cursor.position();
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t rank = RankOf(group, step.specs[i].attribute);
    placed[i] = Placed{rank != 0 ? rank : NeutralRank(group), cursor.position()};
    SkipAttributeValue(step.specs[i].form, cursor, walk.forms, value);
  }
  const std::uint32_t end = cursor.position();
  // A stable insertion sort: a few attributes, and no allocation.
  std::array<std::uint8_t, kMaxOrderedAttributes> order;
  for (std::size_t i = 0; i < count; ++i) {
    std::size_t j = i;
    for (; j > 0 && placed[order[j - 1]].rank > placed[i].rank; --j) order[j] = order[j - 1];
    order[j] = static_cast<std::uint8_t>(i);
  }
  for (std::size_t i = 0; i < count; ++i) {
    ByteCursor at = cursor.At(placed[order[i]].position);
    ApplyAttribute(walk, at, step.specs[order[i]], step, value, slot_index);
  }
  return end;
}

// The "-g" copy of a static: a VARIABLE named after the static and its scope.
void MakeGlobalCopy(WalkContext& walk) {
  ScopeState& scope = walk.scope;
  const std::size_t slot = kFirstCopySlot + static_cast<std::size_t>(scope.global_copy_count);
  SymbolRecord& copy = walk.symbols[slot];
  copy = std::as_const(walk.symbols)[kCurrentSlot];
  copy.ident = kIdentVariable;
  const char* scope_name =
      scope.function_scope_end != 0 ? scope.function_name : scope.unit_name;
  // The combined name is cut to the name field.
  std::string_view own(copy.name);
  char combined[sizeof copy.name];
  std::size_t n = own.size();
  std::memcpy(combined, own.data(), n);
  if (n < sizeof combined - 1) combined[n++] = '@';
  const std::string_view tail(scope_name);
  const std::size_t room = sizeof combined - 1 - n;
  const std::size_t take = tail.size() < room ? tail.size() : room;
  std::memcpy(combined + n, tail.data(), take);
  n += take;
  CopyName(copy.name, std::string_view(combined, n));
  ++scope.global_copy_count;
}

// Steps over a skipped entry's children, their children included, to the
// position after the null entry that ends them.
std::uint32_t SkipChildren(WalkContext& walk, ByteCursor cursor) {
  int open = 1;
  while (open > 0 && !cursor.AtEnd()) {
    const std::uint32_t code = ReadUleb128(cursor);
    if (code == 0) {
      --open;
      continue;
    }
    AbbrevDecl decl = FindAbbrev(walk.abbrevs, code);
    if (!decl.found()) break;
    cursor.Seek(SkipEntry(walk, cursor, decl.tag(), decl, false));
    if (decl.children() != 0) ++open;
  }
  return cursor.position();
}

bool TagTakesChildren(std::uint32_t tag) {
  return tag == kTagArrayType || tag == kTagStructureType || tag == kTagClassType ||
         tag == kTagUnionType;
}

// Whether the function whose attributes were just read is code the linker
// removed: GCC keeps the entries of a discarded function with address 0. On
// targets whose code does start at 0, an ELF symbol of the function's name
// is there.
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

// A function of removed code is not written, and the walk steps over what
// it contains.
void DropRemovedFunction(WalkContext& walk) {
  if (!FunctionWasRemoved(walk)) return;
  walk.removed_function = true;
  ClearName(walk.symbols[kCurrentSlot]);
  walk.scope.function_name[0] = '\0';
}

// Applies the entry's attributes, in rule order when a symbol entry's stand
// in another; returns the position after its values.
std::uint32_t ApplyAttributes(WalkContext& walk, ByteCursor cursor, AbbrevDecl& specs,
                              const AttributeStep& step, int& slot_index) {
  AttributeValue& value = LevelValue(walk);
  if (IsSymbolTag(step.tag) && !RulesInOrder(step.tag, step.specs)) {
    return ApplyInRuleOrder(walk, cursor, step, value, slot_index);
  }
  const bool quiet = !walk.channel().writes_trace() && !IsSymbolTag(step.tag);
  specs.RewindSpecs();
  AttributeSpec spec;
  while (specs.NextSpec(spec)) {
    if (quiet && !TypeRulesRead(step.tag, spec.attribute)) {
      SkipAttributeValue(spec.form, cursor, walk.forms, value);
      continue;
    }
    ApplyAttribute(walk, cursor, spec, step, value, slot_index);
  }
  return cursor.position();
}

// What a function entry settles once all its attributes are read: its
// frame base, where it ends, and whether the linker removed it.
void FinishFunctionEntry(WalkContext& walk, const AbbrevDecl& specs, std::uint32_t self_offset) {
  ScopeState& scope = walk.scope;
  ResolveCallFrameBase(walk);
  // Without a sibling to say where the function ends, its children do.
  if (self_offset == 0 && specs.children() != 0 && !HasAttribute(specs.specs(), kAtSibling)) {
    scope.function_scope_end = kScopeEndsWithList;
    scope.function_list = scope.open_lists;
  }
  if (self_offset == 0) DropRemovedFunction(walk);
}

// What a variable's record settles once all its attributes are read.
void FinishVariableEntry(WalkContext& walk, std::uint32_t tag, const AbbrevDecl& specs,
                         std::uint32_t self_offset) {
  // Read without writing: an entry that leaves slot 0 alone (a type at
  // unit level) spares the slot's clearing.
  const SymbolRecord& current = std::as_const(walk.symbols)[kCurrentSlot];
  // A concrete instance of a variable or parameter without a location of
  // its own (optimised away there) adds nothing to its abstract entry,
  // which is converted itself; as a bare declaration it would only take
  // the address of some unrelated ELF symbol of the same name.
  if (self_offset == 0 && current.ident == kIdentNon && IsVariableTag(tag) &&
      HasAttribute(specs.specs(), kAtAbstractOrigin)) {
    ClearName(walk.symbols[kCurrentSlot]);
  }
  if (current.ident == kIdentLocalStatic) {
    if (current.location == 0 && current.one_byte == 0) {
      ClearName(walk.symbols[kCurrentSlot]);
    } else if (walk.options().global_statics &&
               static_cast<std::size_t>(walk.scope.global_copy_count) < kMaxGlobalCopies) {
      MakeGlobalCopy(walk);
    }
  }
}

}  // namespace

std::uint32_t ProcessEntry(WalkContext& walk, ByteCursor cursor, AbbrevDecl specs, int depth,
                           int& slot_index, std::uint32_t self_offset) {
  const std::uint32_t tag = specs.tag();
  ScopeState& scope = walk.scope;
  MessageChannel& channel = walk.channel();
  if (slot_index > scope.highest_slot) scope.highest_slot = slot_index;
  const int entry_slot = slot_index;
  if (walk.follow_depth > 0 && IsSymbolTag(tag)) ++walk.follow_cuts;

  if (IsMemberTag(tag)) {
    std::uint32_t skip_to = cursor.position();
    if (!AdmitMember(walk, cursor, specs, depth, slot_index, skip_to)) {
      return skip_to;
    }
  }
  const int type_slot = slot_index;
  if (tag == kTagSubprogram) {
    scope.frame_base_read = scope.frame_base_is_cfa = scope.function_low_pc_read = false;
    // An instance written apart from its declaration (out of line, or by
    // -flto) has no DW_AT_decl_file of its own, and is a function all the same.
    if (self_offset == 0 && !HasAttribute(specs.specs(), kAtDeclFile)) ResetFunctionScope(scope);
  }

  std::string tag_name;
  if (channel.writes_trace()) {
    TagNameText(channel, tag_name, tag);
    if (self_offset != 0) {
      channel.TraceLine(walk.trace_file,
                        "/ss{0x%04X} Tag[%s] Index[%d] Sindex[%d] Nest[%d] Sym[%s]\n",
                        self_offset, tag_name.c_str(), slot_index, entry_slot, depth,
                        std::as_const(walk.symbols)[static_cast<std::size_t>(type_slot)].name);
    }
  }

  ApplyTagTypeRules(walk, tag, type_slot);
  const AttributeStep step{tag, specs.specs(), depth, type_slot, self_offset};
  cursor.Seek(ApplyAttributes(walk, cursor, specs, step, slot_index));
  if (tag == kTagSubprogram) FinishFunctionEntry(walk, specs, self_offset);
  if (channel.writes_trace()) {
    channel.TraceLine(walk.trace_file, "/Null entry<0x%04X>[%2d] Tag[%s]\n",
                      self_offset, depth, tag_name.c_str());
  }
  FinishVariableEntry(walk, tag, specs, self_offset);
  if (std::as_const(walk.symbols)[kCurrentSlot].name[0] == '\0') return cursor.position();

  if (TagTakesChildren(tag)) {
    return TakeTypeChildren(walk, cursor, specs, depth, slot_index, type_slot, self_offset);
  }
  if (tag == kTagSubprogram && !walk.sink.IsWanted(walk.symbols[kCurrentSlot])) {
    ClearName(walk.symbols[kCurrentSlot]);
    scope.function_name[0] = '\0';
  }
  return cursor.position();
}

void TakeReferencedName(WalkContext& walk, const AttributeInput& input, SymbolRecord& slot) {
  Inherited origin;
  if (ReadOrigin(walk, input, origin) && origin.name[0] != '\0') CopyName(slot.name, origin.name);
}

bool FollowType(WalkContext& walk, std::uint32_t reference,
                bool section_relative, int depth, int& slot_index) {
  const ResolvedReference target = ResolveReference(walk, reference, section_relative);
  if (!target.found) return false;
  // A walk reads and writes the member slots: a replayed follow's must be
  // there.
  walk.symbols.WritePendingMembers();
  ++walk.unit_work;
  const bool too_deep = walk.follow_depth >= kMaxFollowDepth;
  const bool work_spent = UnitWorkSpent(walk);
  if (too_deep || walk.follow_budget == 0 || work_spent) {
    ++walk.follow_cuts;
    if (!too_deep && !work_spent) ++walk.follow_budget_cuts;
    return true;
  }
  --walk.follow_budget;

  const UnitVisit visit(walk, target.unit);
  ByteCursor cursor = walk.unit_view.At(walk.section_start + target.section_offset);
  const std::uint32_t code = ReadUleb128(cursor);
  const AbbrevDecl decl = FindAbbrev(walk.abbrevs, code);
  if (!decl.found()) return true;
  MessageChannel& channel = walk.channel();
  if (channel.writes_trace()) {
    std::string tag_name;
    TagNameText(channel, tag_name, decl.tag());
    channel.TraceLine(walk.trace_file, texts::kTraceFollowedEntry,
                      tag_name.c_str(), static_cast<int>(code), cursor.position());
  }
  FollowLevel level(walk);
  ProcessEntry(walk, cursor, decl, depth, slot_index, target.section_offset);
  return true;
}

std::uint32_t ProcessChildren(WalkContext& walk, ByteCursor cursor,
                              std::uint32_t wanted_tag, int depth,
                              int& slot_index, std::uint32_t self_offset) {
  if (walk.follow_depth >= kMaxFollowDepth) {
    ++walk.follow_cuts;
    return cursor.position();
  }
  FollowLevel level(walk);
  MessageChannel& channel = walk.channel();
  while (!cursor.AtEnd() && !UnitWorkSpent(walk)) {
    ++walk.unit_work;
    const std::uint32_t code = ReadUleb128(cursor);
    AbbrevDecl decl = FindAbbrev(walk.abbrevs, code);
    if (!decl.found()) break;
    if (channel.writes_trace()) {
      std::string tag_name;
      TagNameText(channel, tag_name, decl.tag());
      channel.TraceLine(walk.trace_file,
                        texts::kTraceFollowedEntry,
                        tag_name.c_str(), static_cast<int>(code), cursor.position());
    }
    std::uint32_t next;
    const bool wanted =
        decl.tag() == wanted_tag || (wanted_tag == kTagMember && IsMemberTag(decl.tag()));
    if (wanted && wanted_tag == kTagSubrangeType && !HasBound(decl.specs())) {
      // "[]": a dimension all the same, whose count the definition's ELF
      // symbol may give later.
      AddUnboundDimension(walk, slot_index);
      next = ProcessEntry(walk, cursor, decl, depth, slot_index, self_offset);
    } else if (wanted) {
      next = ProcessEntry(walk, cursor, decl, depth, slot_index, self_offset);
      if (next == cursor.position()) next = SkipEntry(walk, cursor, decl.tag(), decl, true);
    } else {
      next = SkipEntry(walk, cursor, decl.tag(), decl, false);
      // A class's member functions have parameters of their own; read as
      // siblings, their null entry would end the class's members early.
      if (decl.children() != 0) next = SkipChildren(walk, cursor.At(next));
    }
    cursor.Seek(next);
  }
  if (UnitWorkSpent(walk)) ++walk.follow_cuts;
  return cursor.position();
}

std::uint32_t SkipEntry(WalkContext& walk, ByteCursor cursor,
                        std::uint32_t tag, AbbrevDecl specs, bool clear_name) {
  MessageChannel& channel = walk.channel();
  AttributeValue& value = LevelValue(walk);
  std::string tag_name;
  if (channel.writes_trace()) TagNameText(channel, tag_name, tag);
  specs.RewindSpecs();
  AttributeSpec spec;
  if (!channel.writes_trace()) {
    while (specs.NextSpec(spec)) SkipAttributeValue(spec.form, cursor, walk.forms, value);
    if (clear_name) ClearName(walk.symbols[kCurrentSlot]);
    return cursor.position();
  }
  while (specs.NextSpec(spec)) {
    std::uint32_t form = spec.form;
    ReadAttributeValue(form, cursor, walk.forms, value, spec.implicit_const);
    std::string extra;
    if (form == kFormBlock1 || form == kFormBlock2) {
      FirstOperationText(walk, value, extra);
    } else if (spec.attribute == kAtEncoding && form == kFormData1) {
      EncodingNameText(channel, extra, value.number());
    }
    std::string attribute_name;
    std::string form_name;
    AttributeNameText(channel, attribute_name, spec.attribute);
    FormNameText(channel, form_name, TracedForm(form, value));
    channel.TraceLine(walk.trace_file, "/skip Tag[%s] %s %s %s %s\n", tag_name.c_str(),
                      attribute_name.c_str(), form_name.c_str(), value.c_str(),
                      extra.c_str());
  }
  channel.TraceLine(walk.trace_file, "/skip(null) Tag[%s]\n", tag_name.c_str());
  if (clear_name) ClearName(walk.symbols[kCurrentSlot]);
  return cursor.position();
}

namespace {

class EntryProcessing final : public EntryProcessor {
 public:
  bool FollowType(WalkContext& walk, std::uint32_t reference, bool section_relative, int depth,
                  int& slot_index) const override {
    return dwarfsift::FollowType(walk, reference, section_relative, depth, slot_index);
  }
  std::uint32_t ProcessChildren(WalkContext& walk, ByteCursor cursor, std::uint32_t wanted_tag,
                                int depth, int& slot_index,
                                std::uint32_t self_offset) const override {
    return dwarfsift::ProcessChildren(walk, cursor, wanted_tag, depth, slot_index, self_offset);
  }
  std::uint32_t SkipEntry(WalkContext& walk, ByteCursor cursor, std::uint32_t tag,
                          AbbrevDecl specs, bool clear_name) const override {
    return dwarfsift::SkipEntry(walk, cursor, tag, specs, clear_name);
  }
  void TakeReferencedName(WalkContext& walk, const AttributeInput& input,
                          SymbolRecord& slot) const override {
    dwarfsift::TakeReferencedName(walk, input, slot);
  }
};

}  // namespace

const EntryProcessor& DefaultEntryProcessor() {
  // Stateless: every call works on the walk it is given.
  static const EntryProcessing kProcessor;
  return kProcessor;
}

}  // namespace dwarfsift
