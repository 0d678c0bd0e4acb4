#include "symbols/location_rules.h"

#include <cstring>
#include <span>

#include "base/message_channel.h"
#include "dwarf/register_names.h"
#include "elf/elf_image.h"
#include "location/call_frame.h"
#include "location/location_expression.h"
#include "location/location_list.h"
#include "symbols/walk_context.h"

namespace dwarfsift {

namespace {

LocationTarget TargetOf(const WalkContext& walk) {
  return LocationTarget{walk.dwarf.address_size, walk.elf.header.e_machine, &walk.forms.unit};
}

LocationResult DecodeFirst(const WalkContext& walk, std::span<const std::uint8_t> block,
                           std::string* text) {
  return DecodeFirstLocationOp(block, walk.dwarf.byte_order, TargetOf(walk), text);
}

void SetFunctionRange(const ScopeState& scope, SymbolRecord& record) {
  record.fstart = scope.function_low_pc;
  record.fend = scope.function_high_pc;
}

void SetRegisters(const WalkContext& walk, SymbolRecord& record, std::int32_t code,
                  std::int32_t operand1, std::int32_t operand2) {
  record.regcode = code;
  record.regop1 = operand1;
  record.regop2 = operand2;
  RegisterOperandText(walk.elf.header.e_machine, static_cast<std::uint32_t>(code), operand1,
                      operand2, record.regn);
}

// The register lines of a record under a list are those of its first row.
void TakeFirstRow(const WalkContext& walk, const LocationRows& rows, SymbolRecord& record) {
  SetRegisters(walk, record, rows[0][kFlocOpcode], rows[0][kFlocOperand1],
               rows[0][kFlocOperand2]);
}

// The address DW_OP_addr (or DW_OP_addrx, through .debug_addr) gives: 16
// bits on 2-byte targets.
std::uint32_t AddressOf(const WalkContext& walk, const LocationResult& first) {
  std::uint32_t address = first.opcode;
  if (walk.dwarf.address_size != 2) {
    address |= (static_cast<std::uint32_t>(first.operand1) & 0xFFFF) << 16;
  }
  return address;
}

bool IsAddressOp(std::uint8_t code) { return code == kOpAddr || code == kOpAddrx; }

// DW_OP_addr: a static, over the function it is declared in or else over
// its unit.
void ApplyAddress(const WalkContext& walk, const LocationResult& first, SymbolRecord& current) {
  const ScopeState& scope = walk.scope;
  const std::uint32_t address = AddressOf(walk, first);
  if (current.ident == kIdentNon) current.ident = kIdentLocalStatic;
  current.location = static_cast<std::int32_t>(address);
  if (scope.function_scope_end != 0) {
    SetFunctionRange(scope, current);
  } else {
    current.fstart = scope.unit_low_pc;
    current.fend = scope.unit_high_pc;
  }
}

// DW_OP_regx: the debugger looks at the third byte only, which is the next
// operation when the register number takes one byte.
void ApplyRegx(const WalkContext& walk, std::span<const std::uint8_t> block,
               const LocationResult& first, SymbolRecord& current) {
  const std::uint8_t next = block.size() > 2 ? block[2] : 0;
  if (next == 0) {
    SetRegisters(walk, current, kOpRegx, first.operand1, 0);
  } else if (next == kOpPiece) {
    SetRegisters(walk, current, kOpReg7, 0, 0);
  }
}

// DW_OP_fbreg: the host adds the frame base itself; it only needs to know
// which register-based shape the frame base has.
void ApplyFrameOffset(const WalkContext& walk, const LocationResult& first,
                      SymbolRecord& current) {
  std::int32_t regcode = walk.scope.frame_base_opcode;
  if (regcode == 0) {
    regcode = kOpFbreg;
  } else if (regcode < kOpBreg0) {
    regcode += kOpBreg0 - kOpReg0;
  }
  SetRegisters(walk, current, regcode, first.operand1, 0);
}

}  // namespace

void ApplyLocationRules(WalkContext& walk, const AttributeValue& value) {
  const auto block = value.block();
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  const ScopeState& scope = walk.scope;
  const std::uint8_t code = block.empty() ? 0 : block[0];
  if (code == 0) {
    current.ident = kIdentNon;
    SetFunctionRange(scope, current);
    return;
  }
  const LocationResult first = DecodeFirst(walk, block, nullptr);
  if (IsAddressOp(code)) {
    ApplyAddress(walk, first, current);
    return;
  }
  const bool in_code = code >= kOpReg0 && code <= kOpBreg31;
  if (!in_code && code != kOpRegx && code != kOpBregx && code != kOpFbreg) return;
  current.ident = code == kOpFbreg ? kIdentLocalFrame : kIdentLocalRegister;
  SetFunctionRange(scope, current);
  if (in_code || code == kOpBregx) {
    SetRegisters(walk, current, code, first.operand1, first.operand2);
  } else if (code == kOpRegx) {
    ApplyRegx(walk, block, first, current);
  } else {
    ApplyFrameOffset(walk, first, current);
  }
}

bool StaticAddress(const WalkContext& walk, const AttributeValue& value, std::uint32_t& address) {
  const auto block = value.block();
  if (block.empty() || !IsAddressOp(block[0])) return false;
  address = AddressOf(walk, DecodeFirst(walk, block, nullptr));
  return true;
}

void SaveFrameBase(WalkContext& walk, const AttributeValue& value) {
  const LocationResult first = DecodeFirst(walk, value.block(), nullptr);
  // An operation that stores no opcode of its own (DW_OP_call_frame_cfa, the
  // frame base of every DWARF 3 and 4 function GCC writes) is still saved by
  // its code, so frame-based locals carry it rather than passing for
  // functions without any frame base: the host must not take the CFA for
  // the frame base it assumes when none is given.
  walk.scope.frame_base_opcode =
      first.opcode == 0 && !value.block().empty() ? value.block()[0] : first.opcode;
  walk.scope.frame_base_operand1 = first.operand1;
  walk.scope.frame_base_operand2 = first.operand2;
  walk.scope.frame_base_is_cfa = value.block().size() == 1 && value.block()[0] == kOpCallFrameCfa;
}

void FirstOperationText(WalkContext& walk, const AttributeValue& value, std::string& out) {
  std::string text;
  DecodeFirst(walk, value.block(), &text);
  out += text;
}

// ---------------------------------------------------------------------------
// Lists applied to the symbol being processed.

namespace {

// Reads the list at `offset` into `rows`. An offset past the section (or a
// file without .debug_loc) adds no row. Returns false when the run drops
// locals (-l): the list is not read, and a record it was meant for goes.
bool ReadRowsAt(WalkContext& walk, const LocationListSource& source, std::uint32_t offset,
                LocationRows& rows) {
  if (offset >= source.section.end() - source.section.begin()) return true;
  if (source.no_locals) return false;
  ReadLocationList(walk.channel(), walk.trace_file, source, walk.scope.unit_low_pc, rows,
                   source.section.begin() + offset);
  return true;
}

void ReadIntoWorkRows(WalkContext& walk, const LocationListSource& source,
                      std::uint32_t offset, LocationRows& work) {
  std::memset(work, 0, sizeof work);
  ReadRowsAt(walk, source, offset, work);
}

}  // namespace

void ApplyLocationList(WalkContext& walk, std::uint32_t offset) {
  const LocationListSource source = MakeLocationListSource(walk.elf, walk.dwarf, walk.options(), walk.state().input_kind,
                                                           &walk.forms.unit);
  const ScopeState& scope = walk.scope;
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  current.ident = kIdentLocalFrame;
  current.fstart = scope.function_low_pc;
  current.fend = scope.function_high_pc;

  LocationRows work;
  ReadIntoWorkRows(walk, source, offset, work);
  TakeFirstRow(walk, work, current);
  for (int row = 0; row < kLocationRows; ++row) {
    std::memcpy(&current.floc[row][kFlocBegin], &work[row][kFlocBegin],
                sizeof(std::int32_t) * (kLocationColumns - kFlocBegin));
  }

  if (current.regcode == kOpFbreg && scope.cfa_row_count > 0) {
    std::memcpy(current.floc, scope.cfa_rows,
                sizeof scope.cfa_rows[0] * static_cast<std::size_t>(scope.cfa_row_count));
  } else if (current.regcode == kOpFbreg && scope.frame_base_is_list) {
    // The rows then say where the frame base lives over each range; the
    // variable's own offset stays in regop1.
    if (!ReadRowsAt(walk, source, scope.frame_base_list_offset, current.floc)) {
      current.name[0] = '\0';
    }
  } else if (current.regcode != kOpFbreg) {
    current.ident = kIdentLocalRegister;
  }
}

void ApplyFrameBaseList(WalkContext& walk, std::uint32_t offset) {
  const LocationListSource source = MakeLocationListSource(walk.elf, walk.dwarf, walk.options(), walk.state().input_kind,
                                                           &walk.forms.unit);
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  LocationRows work;
  ReadIntoWorkRows(walk, source, offset, work);
  TakeFirstRow(walk, work, current);
  std::memcpy(current.floc, work, sizeof current.floc);
}

// ---------------------------------------------------------------------------
// A frame base of DW_OP_call_frame_cfa made from the call-frame information.

namespace {

// One CFA range as a frame-base row, in the shapes the decoder gives
// DW_OP_bregN and DW_OP_bregx.
void SetCfaRow(const CfaRange& range, std::int32_t* row) {
  row[kFlocOrdinal] = 0;
  row[kFlocBegin] = static_cast<std::int32_t>(range.begin);
  row[kFlocEnd] = static_cast<std::int32_t>(range.end);
  if (range.reg < 32) {
    row[kFlocOpcode] = static_cast<std::int32_t>(kOpBreg0 + range.reg);
    row[kFlocOperand1] = range.offset;
    row[kFlocOperand2] = 0;
  } else {
    row[kFlocOpcode] = kOpBregx;
    row[kFlocOperand1] = static_cast<std::int32_t>(range.reg);
    row[kFlocOperand2] = range.offset;
  }
}

// Whether the function being read has a CFA frame base that rows can be made
// for. Clears the previous function's rows whenever the function has a
// frame base of its own.
bool WantsCfaRows(WalkContext& walk) {
  ScopeState& scope = walk.scope;
  // A function declared inside another has no frame base of its own; the
  // locals after it still belong to the outer function.
  if (!scope.frame_base_read) return false;
  scope.cfa_row_count = 0;
  if (!scope.frame_base_is_cfa || !scope.function_low_pc_read) return false;
  // Without locals nothing would use the rows, as with a list.
  return walk.call_frames != nullptr && !walk.options().no_locals;
}

}  // namespace

void ResolveCallFrameBase(WalkContext& walk) {
  if (!WantsCfaRows(walk)) return;
  ScopeState& scope = walk.scope;
  CfaRange ranges[kLocationRows];
  std::uint32_t fde_offset = 0;
  const int count = walk.call_frames->RulesAt(scope.function_low_pc, ranges, &fde_offset);
  if (count == 0) return;

  MessageChannel& channel = walk.channel();
  for (int i = 0; i < count; ++i) {
    const CfaRange& range = ranges[i];
    SetCfaRow(range, scope.cfa_rows[i]);
    channel.TraceLine(walk.trace_file,
                      "/%s FDE[0x%04X] beginning[0x%08X] ending[0x%08X] CFA[r%u%+d]\n",
                      walk.call_frames->section_name(), fde_offset, range.begin, range.end,
                      range.reg, range.offset);
  }
  scope.cfa_row_count = count;
  // Frame-based locals now refer to the rows, as under a frame-base list.
  scope.frame_base_opcode = scope.frame_base_operand1 = scope.frame_base_operand2 = 0;

  SymbolRecord& current = walk.symbols[kCurrentSlot];
  std::memset(current.floc, 0, sizeof current.floc);
  std::memcpy(current.floc, scope.cfa_rows,
              sizeof scope.cfa_rows[0] * static_cast<std::size_t>(count));
  TakeFirstRow(walk, current.floc, current);
}

}  // namespace dwarfsift
