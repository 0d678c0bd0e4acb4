// The loadable contents of the ELF file as Motorola S-records (the mot file
// written with "-a").
//
// The file holds a header record carrying the mot name, data records of at
// most 16 bytes for every allocated program section at its load address,
// and an end record carrying the entry address. The address width of every
// record follows its own address.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace dwarfsift {

class OutputFile;
struct ElfImage;
struct SectionHeader;

inline constexpr std::size_t kSrecordDataLimit = 16;
inline constexpr std::size_t kSrecordNameLimit = 40;

// Writes one record line of `type` (0 to 9) for `address` and `data`. The
// address takes 2 bytes for types 0, 1, 5 and 9, 3 for 2 and 8, 4 for 3
// and 7. Data beyond 250 bytes, more than any record can count, is left out.
void WriteSrecord(OutputFile& file, std::span<const std::uint8_t> data,
                  std::uint32_t address, int type);

// Where the section's bytes are loaded: the physical address of the first
// segment that starts with the section and runs it from another, non-zero
// address (initialised data kept in ROM); its own address otherwise.
std::uint32_t LoadAddressOfSection(const ElfImage& elf, const SectionHeader& section);

// Writes the whole mot file. A loadable section whose bytes do not lie
// inside the file is left out; the indices of those are returned, for the
// caller to report. When the ELF header was rejected the file holds only
// the header record and an end record for address 0.
std::vector<std::uint32_t> WriteSrecordImage(OutputFile& file, std::string_view mot_name,
                                             const ElfImage& elf);

}  // namespace dwarfsift
