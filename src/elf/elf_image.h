// The ELF container: header, program and section headers, and the sections
// the later phases read.
//
// GetSection is the first phase of a conversion. It fixes the byte order and
// the DWARF parameters, copies both header tables, names the sections and
// locates .debug_info, .debug_abbrev, .debug_line, .debug_loc, .debug_str,
// .symtab and .strtab by their exact names. Compressed debugging sections
// (SHF_COMPRESSED, or the GNU .zdebug_* form) are inflated once, here, and
// every later phase sees their plain bytes under the plain name. Every
// header field, table offset, stride and section extent is checked against
// the image before it is used: a table or section outside the file, or one
// that cannot be inflated, is reported as damage and left out, never read.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "dwarf/attribute_value.h"
#include "dwarf/readers.h"
#include "dwarf/register_names.h"

namespace dwarfsift {

class MessageChannel;
class OutputFile;

struct ElfHeader {
  std::uint32_t e_type = 0;
  std::uint32_t e_machine = 0;  // normalised, see NormaliseMachine
  std::uint32_t e_version = 0;
  std::uint32_t e_entry = 0;
  std::uint32_t e_phoff = 0;
  std::uint32_t e_shoff = 0;
  std::uint32_t e_flags = 0;
  std::uint32_t e_ehsize = 0;
  std::uint32_t e_phentsize = 0;
  std::uint32_t e_phnum = 0;
  std::uint32_t e_shentsize = 0;
  std::uint32_t e_shnum = 0;
  std::uint32_t e_shstrndx = 0;
};

struct ProgramHeader {
  std::uint32_t p_type, p_offset, p_vaddr, p_paddr, p_filesz, p_memsz, p_flags,
      p_align;
};

struct SectionHeader {
  std::uint32_t sh_name, sh_type, sh_flags, sh_addr, sh_offset, sh_size,
      sh_link, sh_info, sh_addralign, sh_entsize;
};

// A located section. Index 0 means "not found". A section is only located
// when its bytes lie inside the image.
struct SectionView {
  std::uint32_t index = 0;
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  std::uint32_t start = 0;  // image position of the first byte
  std::uint32_t end = 0;    // start + size

  bool found() const { return index != 0; }
  // Most readers also treat a section at file offset 0 as absent.
  bool present() const { return index != 0 && offset != 0; }
};

// The normalised machine codes (kMachine*) are the register-name families of
// dwarf/register_names.h. EM_ARM as the file gives it (kMachineArm is the
// register-name family):
inline constexpr std::uint32_t kElfMachineArm = 40;

// e_ident[EI_CLASS] and the two classes ELF has.
inline constexpr std::size_t kElfClassByte = 4;
inline constexpr std::uint8_t kElfClass32 = 1;
inline constexpr std::uint8_t kElfClass64 = 2;
// e_type of a relocatable object.
inline constexpr std::uint32_t kElfTypeRelocatable = 1;

// Only the ELF tables may hold more entries than this; beyond it the file is
// rejected.
inline constexpr std::uint32_t kMaxElfTableEntries = 1024;

struct ElfImage {
  // The input file, followed by the plain bytes of the compressed debugging
  // sections GetSection inflated (their headers below then give that place
  // and their plain size, their names the plain ".debug_*" name).
  std::span<const std::uint8_t> bytes;
  std::uint32_t file_size = 0;
  // Holds `bytes` once a section was inflated; otherwise the caller's image.
  std::shared_ptr<const std::uint8_t[]> inflated;
  ByteOrder byte_order = ByteOrder::kLittle;
  bool header_read = false;
  ElfHeader header;
  // e_machine as the file gives it; header.e_machine is normalised.
  std::uint32_t file_machine = 0;
  std::vector<ProgramHeader> program_headers;
  std::vector<SectionHeader> section_headers;
  std::vector<std::string_view> section_names;

  SectionView debug_info;
  SectionView debug_abbrev;
  SectionView debug_line;
  SectionView debug_loc;
  SectionView debug_str;
  // DWARF 5: the strings of the line tables and unit names, the string and
  // address index tables, the location and range lists.
  SectionView debug_line_str;
  SectionView debug_str_offsets;
  SectionView debug_addr;
  SectionView debug_loclists;
  SectionView debug_rnglists;
  // DWARF 4: the type units that -fdebug-types-section moves types into.
  SectionView debug_types;
  SectionView symtab;
  SectionView strtab;

  // Which sections were inflated; empty when none was (then `bytes` is the
  // file alone).
  std::vector<bool> inflated_sections;

  // Where the bytes section `index` may take end: a section that was not
  // inflated must lie in the file, or a damaged header could reach the
  // inflated bytes after it.
  std::uint64_t SectionLimit(std::uint32_t index) const {
    if (inflated_sections.empty()) return bytes.size();
    return index < inflated_sections.size() && inflated_sections[index] ? bytes.size()
                                                                       : file_size;
  }

  // A cursor over the located section (empty when it was not located).
  ByteCursor Cursor(const SectionView& section) const {
    return ByteCursor(bytes, byte_order).View(section.start, section.end);
  }
};

// The sections the later phases locate, by name, and where each is kept.
struct LocatedSection {
  std::string_view name;
  SectionView ElfImage::*view;
};
inline constexpr LocatedSection kLocatedSections[] = {
    {".debug_info", &ElfImage::debug_info},
    {".debug_abbrev", &ElfImage::debug_abbrev},
    {".debug_line", &ElfImage::debug_line},
    {".debug_loc", &ElfImage::debug_loc},
    {".symtab", &ElfImage::symtab},
    {".debug_str", &ElfImage::debug_str},
    {".strtab", &ElfImage::strtab},
    {".debug_line_str", &ElfImage::debug_line_str},
    {".debug_str_offsets", &ElfImage::debug_str_offsets},
    {".debug_addr", &ElfImage::debug_addr},
    {".debug_loclists", &ElfImage::debug_loclists},
    {".debug_rnglists", &ElfImage::debug_rnglists},
    {".debug_types", &ElfImage::debug_types},
};

// Points the DWARF 5 table views of `unit` at the file's sections (empty
// views for the sections it lacks); the unit's bases are left alone.
inline void SetUnitSections(const ElfImage& elf, UnitBases& unit) {
  unit.line_strings = elf.Cursor(elf.debug_line_str);
  unit.str_offsets = elf.Cursor(elf.debug_str_offsets);
  unit.addresses = elf.Cursor(elf.debug_addr);
  unit.loclists = elf.Cursor(elf.debug_loclists);
  unit.rnglists = elf.Cursor(elf.debug_rnglists);
}

// The machine code that selects the register names: RX keeps its code, every
// other file is classified by its flags alone.
std::uint32_t NormaliseMachine(std::uint32_t e_machine, std::uint32_t e_flags);

// The section phase. Writes the trace (with "-d") and the DWARF version line
// to `sym_file`. Returns false when the header is rejected; the sections
// located so far (none, then) are what later phases see.
bool GetSection(std::span<const std::uint8_t> image, ElfImage& elf,
                DwarfParameters& dwarf, MessageChannel& channel,
                OutputFile* sym_file);

}  // namespace dwarfsift
