// The header lines that open every output file: the tool, its version and
// the echoed command line, then the lines of the file's kind.
#pragma once

#include "base/output_file.h"
#include "base/run_context.h"

namespace dwarfsift {

// The header of the LXX and LIN files.
void WriteLineFileHeader(OutputFile& file, const RunContext& run);
// The header of the SYM and MEB files.
void WriteSymbolFileHeader(OutputFile& file, const RunContext& run);
// The line after the SYM and LIN headers: the DWARF version of the first
// unit of .debug_info.
void WriteDwarfVersionLine(OutputFile& file, int version);

}  // namespace dwarfsift
