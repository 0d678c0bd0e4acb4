#include "app/driver.h"

#include "base/messages.h"
#include "base/platform.h"
#include "elf/srecord_writer.h"
#include "lines/line_program.h"
#include "location/location_list.h"
#include "symbols/entry_processing.h"
#include "symbols/members.h"

namespace dwarfsift {

namespace {

// What both record writers (SYM and MEB) take from the run; the SYM writer
// adds its global structure list and member store.
SymbolWriteContext MakeWriteContext(RunContext& run, const ConversionState& state,
                                    OutputFile* out) {
  SymbolWriteContext write;
  write.out = out;
  write.channel = &run.channel;
  write.options = &run.options;
  write.state = &run.state;
  write.elf_symbols = &state.elf_symbols;
  write.byte_order = state.dwarf.byte_order;
  write.machine = state.elf.header.e_machine;
  return write;
}

// The unit walk over .debug_info, writing the SYM records.
void ConvertSymbols(RunContext& run, ConversionState& state,
                    SymbolMemberArea& members, OutputFile* sym) {
  SymbolConversion& symbols = state.symbols;
  symbols.global_structs.Clear();
  SymbolWriteContext write = MakeWriteContext(run, state, sym);
  write.global_structs = &symbols.global_structs;
  MemberGroupStore member_store(members, symbols.scope);
  if (members.exists()) write.member_store = &member_store;
  SymFileSink sink(write);
  WalkContext walk(run, state.elf, state.dwarf, symbols, sink, DefaultEntryProcessor(),
                   platform::TickCount);
  walk.trace_file = sym;
  walk.members = members.exists() ? &members : nullptr;
  walk.elf_symbols = &state.elf_symbols;
  // Only frame-based locals use it, and "-l" drops them all.
  if (!run.options.no_locals) {
    state.call_frames.Load(state.elf, state.dwarf.address_size);
    walk.call_frames = &state.call_frames;
  }
  // A present section the walk gave up on had a unit whose abbreviations
  // could not be loaded; every unit from it on is lost.
  if (!GetDebugInfoAll(walk) && state.elf.debug_info.present()) {
    run.channel.ReportDamage(texts::kUnitWalkStopped, walk.units.current(),
                             state.elf.debug_info.start + walk.units.current_start());
  }
}

// What the user should know about the input before the phases run: an
// object that is not linked yet, or an image without debugging information
// (unless a damaged section explains that already).
void DescribeInput(RunContext& run, const ElfImage& elf) {
  if (!elf.header_read) return;
  const char* input = run.options.input_name.c_str();
  if (elf.header.e_type == kElfTypeRelocatable) {
    run.channel.EmitFormatted(texts::kRelocatableObject, input);
  }
  if (!elf.debug_info.found() && !run.state.input_damaged) {
    run.channel.EmitFormatted(texts::kNoDebugInfo, input);
  }
}

// The S-records, and a report for each loadable section left out of them.
void WriteSrecords(RunContext& run, const ElfImage& elf, OutputFile& mot,
                   const std::string& mot_name) {
  for (const std::uint32_t i : WriteSrecordImage(mot, mot_name, elf)) {
    const std::string name(i < elf.section_names.size() ? elf.section_names[i] : "");
    run.channel.ReportDamage(texts::kSectionLeftOutOfMot, i, name.c_str(), mot_name.c_str());
  }
}

}  // namespace

void RunConversion(const OutputFileSet& names, std::span<const std::uint8_t> image,
                   RunContext& run, SymbolMemberArea& members,
                   ConversionState& state, OutputFile& lxx) {
  MessageChannel& channel = run.channel;

  if (!lxx.is_open()) return;
  WriteLineFileHeader(lxx, run);
  OutputFile sym;
  if (!channel.CreateOutput(sym, names.sym)) return;
  WriteSymbolFileHeader(sym, run);
  OutputFile mot;
  if (!names.mot.empty()) channel.CreateOutput(mot, names.mot);

  channel.EmitMessage(texts::kGetSection);
  GetSection(image, state.elf, state.dwarf, channel, &sym);
  DescribeInput(run, state.elf);

  // The phases below are announced in their fixed order; their work is
  // added phase by phase.
  if (!run.options.no_locals) {
    channel.EmitMessage(texts::kGetDebugLocAll);
    GetDebugLocAll(channel, &sym,
                   MakeLocationListSource(state.elf, state.dwarf, run.options,
                                          run.state.input_kind));
  }
  channel.EmitMessage(texts::kGetDebugSymTabAll);
  GetDebugSymTabAll(state.elf, state.elf_symbols, channel, &sym);
  channel.EmitMessage(texts::kGetDebugInfoAll);
  ConvertSymbols(run, state, members, &sym);
  if (run.options.trace_trigger && !run.state.trace_triggered) {
    channel.EmitFormatted(texts::kTraceNotReached, run.options.trace_trigger_pos);
  }
  channel.EmitMessage(texts::kGetDebugLineAll);
  GetDebugLineAll(lxx, state.elf, state.dwarf, run);

  if (members.exists()) {
    OutputFile meb;
    if (channel.CreateOutput(meb, names.meb)) WriteSymbolFileHeader(meb, run);
    channel.EmitMessage(texts::kGetDebugMemberAll);
    GetDebugMemberAll(MakeWriteContext(run, state, meb.is_open() ? &meb : nullptr), members);
    channel.CommitOutput(meb, names.meb);
  }
  if (mot.is_open()) WriteSrecords(run, state.elf, mot, names.mot);
  channel.CommitOutput(mot, names.mot);
  channel.CommitOutput(sym, names.sym);
  channel.FinishOutput(lxx, names.lxx);
}

void RunConversion(const OutputFileSet& names, std::span<const std::uint8_t> image,
                   RunContext& run, SymbolMemberArea& members,
                   ConversionState& state) {
  OutputFile lxx;
  if (run.channel.CreateOutput(lxx, names.lxx)) {
    RunConversion(names, image, run, members, state, lxx);
  }
  run.channel.CommitOutput(lxx, names.lxx);
}

}  // namespace dwarfsift
