#include "location/location_list.h"

#include <cstring>
#include <string>

#include "base/input_kind.h"
#include "base/message_channel.h"
#include "base/run_options.h"
#include "location/call_frame.h"
#include "dwarf/register_names.h"
#include "elf/elf_image.h"
#include "symbols/entry_hooks.h"
#include "symbols/entry_processing.h"
#include "symbols/symbol_record.h"

namespace dwarfsift {

namespace {

std::uint32_t SaturatedPosition(std::uint64_t position) {
  return position > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(position);
}

}  // namespace

int LocationLengthWidth(std::uint32_t input_kind, std::uint32_t machine,
                        std::uint32_t version) {
  if (input_kind == kInputKindAbs) return machine == kMachineRx || version == 3 ? 2 : 1;
  if (input_kind == kInputKindOut) return machine == kMachineRx ? 2 : 1;
  return 2;
}

LocationListSource MakeLocationListSource(const ElfImage& elf, const DwarfParameters& dwarf,
                                          const RunOptions& options, std::uint32_t input_kind) {
  LocationListSource source;
  if (elf.debug_loc.present()) source.section = elf.Cursor(elf.debug_loc);
  source.target = LocationTarget{dwarf.address_size, elf.header.e_machine};
  source.length_width = LocationLengthWidth(input_kind,
                                            elf.header.e_machine, dwarf.version);
  source.no_locals = options.no_locals;
  return source;
}

std::uint32_t ReadLocationList(MessageChannel& channel, OutputFile* file,
                               const LocationListSource& source, std::uint32_t base,
                               SymbolRecord& record, std::uint32_t position) {
  if (source.no_locals) {
    record.name[0] = '\0';
    return position;
  }
  const ByteCursor& section = source.section;
  const std::uint32_t section_size = section.end() - section.begin();
  const int address_size = source.target.address_size;
  ByteCursor cursor = section.At(position);
  const bool tracing = channel.tracing();
  std::string text;
  if (tracing) text.reserve(kLocationTextLimit + 1);
  int rows = 0;

  while (true) {
    const std::uint32_t entry_position = cursor.position();
    std::uint32_t begin = static_cast<std::uint32_t>(ReadFixed(cursor, address_size));
    std::uint32_t end = static_cast<std::uint32_t>(ReadFixed(cursor, address_size));
    // A list without its terminating pair ends with the section.
    if (!cursor.ok()) return section.end();
    if (begin == 0 && end == 0) return cursor.position();
    begin += base;
    end += base;
    const std::uint32_t length =
        static_cast<std::uint32_t>(ReadFixed(cursor, source.length_width));
    if (end - begin > section_size) {
      return SaturatedPosition(std::uint64_t{cursor.position()} + section_size);
    }
    if (!cursor.ok() || length > cursor.remaining()) return section.end();

    ByteCursor expression = cursor.View(cursor.position(), std::uint64_t{cursor.position()} + length);
    cursor.Skip(length);
    int ordinal = 0;
    bool first = true;
    while (!expression.AtEnd()) {
      LocationResult result;
      const std::uint8_t code = expression.PeekByte();
      if (tracing) {
        text.clear();
        DecodeLocationOp(expression, source.target, result, &text);
        text += '\n';
        if (first) {
          channel.TraceLine(file, "/[0x%04X] beginning[0x%08X] ending[0x%08X] %s",
                            entry_position - section.begin(), begin, end, text.c_str());
        } else {
          channel.TraceLine(file, "/[------] beginning[----------] ending[----------] %s",
                            text.c_str());
        }
      } else {
        DecodeLocationOp(expression, source.target, result, nullptr);
      }
      first = false;
      if (rows >= kLocationRows || code == kOpDeref) continue;
      if (code == kOpPlusUconst) {
        // The offset is folded into the register-plus-offset row before it.
        if (rows > 0) record.floc[rows - 1][kFlocOperand1] += result.opcode;
        continue;
      }
      std::int32_t* row = record.floc[rows];
      row[kFlocOrdinal] = ordinal;
      row[kFlocBegin] = static_cast<std::int32_t>(begin);
      row[kFlocEnd] = static_cast<std::int32_t>(end);
      row[kFlocOpcode] = result.opcode;
      row[kFlocOperand1] = result.operand1;
      row[kFlocOperand2] = result.operand2;
      ++ordinal;
      ++rows;
    }
  }
}

std::uint32_t GetDebugLocAll(MessageChannel& channel, OutputFile* file,
                             const LocationListSource& source) {
  const ByteCursor& section = source.section;
  if (section.begin() == section.end()) return 0;
  // The walk only feeds the trace; its records are thrown away.
  if (!source.no_locals && channel.tracing()) {
    SymbolRecord scratch;
    std::uint32_t position = section.begin();
    for (int list = 0; position < section.end(); ++list) {
      channel.TraceLine(file, "/.debug_loc Section[%d]\n", list);
      std::memset(&scratch, 0, sizeof scratch);
      const std::uint32_t next = ReadLocationList(channel, file, source, 0, scratch, position);
      // Every list takes at least its terminating pair; a reader that made
      // no progress would spin here.
      if (next <= position) break;
      position = next;
    }
  }
  return section.end();
}

// ---------------------------------------------------------------------------
// Lists applied to the symbol being processed.

namespace {

// Reads the list at `offset` into `record`'s rows. An offset past the
// section (or a file without .debug_loc) adds no row.
void ReadListAt(WalkContext& walk, const LocationListSource& source, std::uint32_t offset,
                SymbolRecord& record) {
  if (offset >= source.section.end() - source.section.begin()) return;
  ReadLocationList(walk.channel(), walk.trace_file, source, walk.scope.unit_low_pc, record,
                   source.section.begin() + offset);
}

void ReadIntoWorkRecord(WalkContext& walk, const LocationListSource& source,
                        std::uint32_t offset, SymbolRecord& work) {
  std::memset(&work, 0, sizeof work);
  ReadListAt(walk, source, offset, work);
}

void TakeFirstRow(const SymbolRecord& work, SymbolRecord& current) {
  current.regcode = work.floc[0][kFlocOpcode];
  current.regop1 = work.floc[0][kFlocOperand1];
  current.regop2 = work.floc[0][kFlocOperand2];
}

void SetRegisterText(const WalkContext& walk, SymbolRecord& current) {
  RegisterOperandText(walk.elf.header.e_machine, static_cast<std::uint32_t>(current.regcode),
                      current.regop1, current.regop2, current.regn);
}

}  // namespace

void ApplyLocationList(WalkContext& walk, std::uint32_t offset) {
  const LocationListSource source = MakeLocationListSource(
      walk.elf, walk.dwarf, walk.options(), walk.state().input_kind);
  const ScopeState& scope = walk.scope;
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  current.ident = kIdentLocalFrame;
  current.fstart = scope.function_low_pc;
  current.fend = scope.function_high_pc;

  SymbolRecord work;
  ReadIntoWorkRecord(walk, source, offset, work);
  TakeFirstRow(work, current);
  for (int row = 0; row < kLocationRows; ++row) {
    std::memcpy(&current.floc[row][kFlocBegin], &work.floc[row][kFlocBegin],
                sizeof(std::int32_t) * (kLocationColumns - kFlocBegin));
  }

  if (current.regcode == kOpFbreg && scope.cfa_row_count > 0) {
    std::memcpy(current.floc, scope.cfa_rows,
                sizeof scope.cfa_rows[0] * static_cast<std::size_t>(scope.cfa_row_count));
  } else if (current.regcode == kOpFbreg && scope.frame_base_is_list) {
    // The rows then say where the frame base lives over each range; the
    // variable's own offset stays in regop1.
    ReadListAt(walk, source, scope.frame_base_list_offset, current);
  } else if (current.regcode != kOpFbreg) {
    current.ident = kIdentLocalRegister;
  }
  SetRegisterText(walk, current);
}

void ApplyFrameBaseList(WalkContext& walk, std::uint32_t offset) {
  const LocationListSource source = MakeLocationListSource(
      walk.elf, walk.dwarf, walk.options(), walk.state().input_kind);
  SymbolRecord& current = walk.symbols[kCurrentSlot];
  SymbolRecord work;
  ReadIntoWorkRecord(walk, source, offset, work);
  TakeFirstRow(work, current);
  std::memcpy(current.floc, work.floc, sizeof current.floc);
  SetRegisterText(walk, current);
}

void ResolveCallFrameBase(WalkContext& walk) {
  ScopeState& scope = walk.scope;
  // A function declared inside another has no frame base of its own; the
  // locals after it still belong to the outer function.
  if (!scope.frame_base_read) return;
  scope.cfa_row_count = 0;
  if (!scope.frame_base_is_cfa || !scope.function_low_pc_read) return;
  // Without locals nothing would use the rows, as with a list.
  if (walk.call_frames == nullptr || walk.options().no_locals) return;
  CfaRange ranges[kLocationRows];
  std::uint32_t fde_offset = 0;
  const int count = walk.call_frames->RulesAt(scope.function_low_pc, ranges, &fde_offset);
  if (count == 0) return;

  MessageChannel& channel = walk.channel();
  for (int i = 0; i < count; ++i) {
    const CfaRange& range = ranges[i];
    std::int32_t* row = scope.cfa_rows[i];
    row[kFlocOrdinal] = 0;
    row[kFlocBegin] = static_cast<std::int32_t>(range.begin);
    row[kFlocEnd] = static_cast<std::int32_t>(range.end);
    // The shapes the decoder gives DW_OP_bregN and DW_OP_bregx.
    if (range.reg < 32) {
      row[kFlocOpcode] = static_cast<std::int32_t>(kOpBreg0 + range.reg);
      row[kFlocOperand1] = range.offset;
      row[kFlocOperand2] = 0;
    } else {
      row[kFlocOpcode] = kOpBregx;
      row[kFlocOperand1] = static_cast<std::int32_t>(range.reg);
      row[kFlocOperand2] = range.offset;
    }
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
  TakeFirstRow(current, current);
  SetRegisterText(walk, current);
}

}  // namespace dwarfsift
