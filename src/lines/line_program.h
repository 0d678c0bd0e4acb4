// The line-number phase: runs every line-number program of .debug_line and
// writes the LXX file, the intermediate address-to-line listing that the
// line-file finishing reads back.
//
// Each unit becomes one block: "#LNE_start_sequence#", the directory and file
// line of the unit's source file, the rows "+0x%08lX % 5lu" sorted by line
// number within each flush, and "$LNE_end_sequence=". All rows of a unit are
// attributed to its first file with a source extension, whatever file the
// program selects. With "-d" the header, the tables and every opcode are
// traced as "/" comment lines between the records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/output_file.h"
#include "base/run_context.h"
#include "dwarf/readers.h"
#include "elf/elf_image.h"

namespace dwarfsift {

// Limits of the per-unit tables and of the "-f" registry.
inline constexpr std::uint32_t kLineDirectoryLimit = 256;
inline constexpr std::uint32_t kLineFileLimit = 256;
inline constexpr std::uint32_t kLineNameLimit = 255;
inline constexpr std::uint32_t kLineRegistryLimit = 2047;

// One entry of a unit's file table, also the form kept by the registry.
struct LineFileEntry {
  std::string directory;  // copied from the directory table; may be empty
  std::string name;       // the last path component only
  std::uint32_t directory_index = 0;  // 1-based; 0 = none
  std::uint32_t time = 0;
  std::uint32_t length = 0;
  std::uint8_t marked = 0;  // 255 once a file line was written for it
};

// True when the extension of `name` (from its last ".") makes it a source
// file: .c .s .asm .src and the C++ ones, case ignored.
bool HasSourceExtension(std::string_view name);

// Writes the line blocks of every unit of .debug_line into `lxx` and counts
// each row line with CountLine. Returns the image position of the end of
// the section, or 0 when there is no .debug_line (or it lies at file offset
// 0), in which case nothing is written.
std::uint32_t GetDebugLineAll(OutputFile& lxx, const ElfImage& elf,
                              const DwarfParameters& dwarf, RunContext& run);

}  // namespace dwarfsift
