// The conversion driver: creates the output files, writes their headers and
// runs the phases in their fixed order, announcing each one.
#pragma once

#include <cstdint>
#include <span>

#include "app/input_files.h"
#include "base/file_headers.h"
#include "base/output_file.h"
#include "base/run_context.h"
#include "dwarf/readers.h"
#include "elf/elf_image.h"
#include "elf/symbol_table.h"
#include "location/call_frame.h"
#include "symbols/members.h"
#include "symbols/symbol_record.h"
#include "symbols/unit_walk.h"

namespace dwarfsift {

// What the phases of one conversion share besides the run context.
struct ConversionState {
  ElfImage elf;
  DwarfParameters dwarf;
  ElfSymbolTable elf_symbols;  // the unit walk looks declarations up here
  CallFrameTable call_frames;  // frame bases given as DW_OP_call_frame_cfa
  SymbolConversion symbols;
};

// Runs the phases over `image`. The member phase runs only when `members`
// exists. The SYM, MEB and S-record files take their names as they are
// completed; the line listing goes into `lxx` (created by the caller, so
// that it decides where the listing lives), which is left finished but not
// committed. Nothing runs when `lxx` is not open.
void RunConversion(const OutputFileSet& names, std::span<const std::uint8_t> image,
                   RunContext& run, SymbolMemberArea& members,
                   ConversionState& state, OutputFile& lxx);
// The same with the listing written and committed under its name.
void RunConversion(const OutputFileSet& names, std::span<const std::uint8_t> image,
                   RunContext& run, SymbolMemberArea& members,
                   ConversionState& state);

}  // namespace dwarfsift
