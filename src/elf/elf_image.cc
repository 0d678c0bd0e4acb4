#include "elf/elf_image.h"

#include <cstdio>
#include <string>

#include "app/message_channel.h"
#include "app/messages.h"
#include "dwarf/value_text.h"

namespace dwarfsift {
namespace {

constexpr std::uint32_t kElfHeaderSize = 52;
constexpr std::uint32_t kProgramHeaderSize = 32;
constexpr std::uint32_t kSectionHeaderSize = 40;
constexpr std::uint8_t kElfClass32 = 1;
constexpr std::uint8_t kElfDataBig = 2;

// The ELF header as the trace shows it: label, offset, unit count and width.
struct HeaderField {
  const char* label;
  std::uint32_t offset;
  int count;
  int width;
  std::uint32_t ElfHeader::*field;  // null for e_ident
};
constexpr HeaderField kHeaderFields[] = {
    {"/e_ident", 0, 16, 1, nullptr},
    {"/e_type", 16, 1, 2, &ElfHeader::e_type},
    {"/e_machine", 18, 1, 2, &ElfHeader::e_machine},
    {"/e_version", 20, 1, 4, &ElfHeader::e_version},
    {"/e_entry", 24, 1, 4, &ElfHeader::e_entry},
    {"/e_phoff", 28, 1, 4, &ElfHeader::e_phoff},
    {"/e_sh0ff", 32, 1, 4, &ElfHeader::e_shoff},  // zero for "o", as shown
    {"/e_flags", 36, 1, 4, &ElfHeader::e_flags},
    {"/e_ehsize", 40, 1, 2, &ElfHeader::e_ehsize},
    {"/e_phentsize", 42, 1, 2, &ElfHeader::e_phentsize},
    {"/e_phnum", 44, 1, 2, &ElfHeader::e_phnum},
    {"/e_shentsize", 46, 1, 2, &ElfHeader::e_shentsize},
    {"/e_shnum", 48, 1, 2, &ElfHeader::e_shnum},
    {"/e_shstrndx", 50, 1, 2, &ElfHeader::e_shstrndx},
};

constexpr const char* kProgramHeaderLabels[] = {
    "/p_type", "/p_offset", "/p_vaddr", "/p_paddr",
    "/p_filesz", "/p_memsz", "/p_flags", "/p_align"};
constexpr const char* kSectionLabels[] = {
    "/sh_name", "/sh_type", "/sh_flags", "/sh_addr", "/sh_offset",
    "/sh_size", "/sh_link", "/sh_info", "/sh_addralign", "/sh_entsize"};

// Whether a table of `count` entries of `entry_size` bytes, `stride` apart
// from `offset`, lies inside an image of `image_size` bytes.
bool TableFits(std::uint64_t offset, std::uint64_t stride, std::uint64_t count,
               std::uint64_t entry_size, std::uint64_t image_size) {
  if (count == 0) return true;
  if (stride < entry_size) return false;
  return offset + stride * (count - 1) + entry_size <= image_size;
}

void ReadFields(ByteCursor cursor, std::uint32_t* fields, int count) {
  for (int i = 0; i < count; ++i) fields[i] = ReadFixed32(cursor);
}

struct MachineByFlags {
  std::uint32_t flags;
  std::uint32_t machine;
};
constexpr MachineByFlags kMachineByFlags[] = {
    {0x00800000, kMachineH8300}, {0x00810000, kMachineH8300H},
    {0x00820000, kMachineH8S},   {0x00830000, kMachineH8300H},
    {0x00840000, kMachineH8S},   {0x00850000, kMachineH8S},
    {0x00860000, kMachineH8S},   {0x05000402, kMachineArm},
    {0x05000002, kMachineArm},
};

// The first unit header of .debug_info gives the version line and the
// address size of the whole run: length (4), version (2), abbreviation
// offset (4), address size (1). A section too short to hold it gives
// neither.
void ReadFirstUnitHeader(const ElfImage& elf, DwarfParameters& dwarf,
                         OutputFile* sym_file) {
  ByteCursor unit = elf.Cursor(elf.debug_info);
  ReadFixed32(unit);
  const std::uint16_t version = ReadFixed16(unit);
  ReadFixed32(unit);
  const std::uint8_t address_size = unit.ReadByte();
  if (!unit.ok()) return;
  dwarf.version = version;
  dwarf.address_size = address_size;
  char text[64];
  std::snprintf(text, sizeof text, "/Dwarf-Version[%d]\n", version);
  if (sym_file != nullptr) sym_file->Write(text);
}

}  // namespace

std::uint32_t NormaliseMachine(std::uint32_t e_machine, std::uint32_t e_flags) {
  if (e_machine == kMachineRx) return kMachineRx;
  for (const MachineByFlags& row : kMachineByFlags) {
    if (row.flags == e_flags) return row.machine;
  }
  return kMachineSh;
}

bool GetSection(std::span<const std::uint8_t> image, ElfImage& elf,
                DwarfParameters& dwarf, MessageChannel& channel,
                OutputFile* sym_file) {
  elf = ElfImage{};
  elf.bytes = image;
  dwarf = DwarfParameters{};
  const std::uint64_t image_size = image.size();

  // The byte order governs every later multi-byte read, so it comes first.
  const std::uint8_t class_byte = image_size > 4 ? image[4] : 0;
  const std::uint8_t order_byte = image_size > 5 ? image[5] : 0;
  elf.byte_order = order_byte == kElfDataBig ? ByteOrder::kBig : ByteOrder::kLittle;
  dwarf.byte_order = elf.byte_order;
  const ByteCursor file(image, elf.byte_order);

  // The dump comes before any test, so a rejected header is still shown; it
  // stops at the first field the file does not hold.
  channel.TraceLine(sym_file, "/<<<<<<<<<< ELF Header >>>>>>>>>>\n");
  for (const HeaderField& field : kHeaderFields) {
    const std::uint64_t field_end =
        field.offset + static_cast<std::uint64_t>(field.count) * field.width;
    if (field_end > image_size) break;
    TraceLabelledValue(channel, sym_file, field.label, file.At(field.offset),
                       field.count, field.width);
  }

  if (class_byte != kElfClass32 || order_byte == 0) return false;
  if (image_size < kElfHeaderSize) {
    channel.EmitFormatted(texts::kElfHeaderIncomplete, static_cast<unsigned>(image_size));
    return false;
  }

  ElfHeader& header = elf.header;
  for (const HeaderField& field : kHeaderFields) {
    if (field.field == nullptr) continue;
    ByteCursor at = file.At(field.offset);
    header.*field.field = static_cast<std::uint32_t>(ReadFixed(at, field.width));
  }
  header.e_machine = NormaliseMachine(header.e_machine, header.e_flags);
  elf.header_read = true;

  if (header.e_phnum > kMaxElfTableEntries) return false;
  if (!TableFits(header.e_phoff, header.e_phentsize, header.e_phnum,
                 kProgramHeaderSize, image_size)) {
    // Only the S-record writer needs them; the sections can still be read.
    channel.EmitFormatted(texts::kProgramHeadersOutside, header.e_phoff);
  } else {
    for (std::uint32_t i = 0; i < header.e_phnum; ++i) {
      const std::uint32_t pos = header.e_phoff + header.e_phentsize * i;
      channel.TraceLine(sym_file,
                        "/********** Program Header [% 3d] **********\n",
                        static_cast<int>(i));
      for (int f = 0; f < 8; ++f) {
        TraceLabelledValue(channel, sym_file, kProgramHeaderLabels[f],
                           file.At(pos + 4u * f), 1, 4);
      }
      ProgramHeader ph{};
      ReadFields(file.At(pos), &ph.p_type, 8);
      elf.program_headers.push_back(ph);
    }
  }

  if (header.e_shnum > kMaxElfTableEntries) return false;
  if (!TableFits(header.e_shoff, header.e_shentsize, header.e_shnum,
                 kSectionHeaderSize, image_size)) {
    channel.EmitFormatted(texts::kSectionHeadersOutside, header.e_shoff);
    return false;
  }
  for (std::uint32_t i = 0; i < header.e_shnum; ++i) {
    const std::uint32_t pos = header.e_shoff + header.e_shentsize * i;
    channel.TraceLine(sym_file, "/---------- Section Header [% 3d] ----------\n",
                      static_cast<int>(i));
    for (int f = 0; f < 10; ++f) {
      TraceLabelledValue(channel, sym_file, kSectionLabels[f],
                         file.At(pos + 4u * f), 1, 4);
    }
    SectionHeader sh{};
    ReadFields(file.At(pos), &sh.sh_name, 10);
    elf.section_headers.push_back(sh);
  }

  // Names come from the section-name string table; a name that does not lie
  // inside it stays empty.
  elf.section_names.assign(header.e_shnum, std::string_view());
  ByteCursor names;
  bool names_usable = header.e_shstrndx < header.e_shnum;
  if (names_usable) {
    const SectionHeader& table = elf.section_headers[header.e_shstrndx];
    names_usable = static_cast<std::uint64_t>(table.sh_offset) + table.sh_size <= image_size;
    names = file.View(table.sh_offset, static_cast<std::uint64_t>(table.sh_offset) + table.sh_size);
  }
  if (!names_usable && header.e_shnum > 0) {
    channel.EmitFormatted(texts::kSectionNamesUnusable, header.e_shstrndx);
  }
  for (std::uint32_t i = 0; i < header.e_shnum; ++i) {
    if (names_usable) {
      const std::uint64_t name_pos =
          static_cast<std::uint64_t>(names.begin()) + elf.section_headers[i].sh_name;
      if (name_pos < names.end()) {
        ByteCursor at = names.At(name_pos);
        elf.section_names[i] = at.ReadCString();
      }
    }
    const std::string name(elf.section_names[i]);
    channel.TraceLine(sym_file, "/Section Name [% 3d]%s\n", static_cast<int>(i),
                      name.c_str());
  }

  struct Wanted {
    std::string_view name;
    SectionView ElfImage::*view;
  };
  static constexpr Wanted kWanted[] = {
      {".debug_info", &ElfImage::debug_info},
      {".debug_abbrev", &ElfImage::debug_abbrev},
      {".debug_line", &ElfImage::debug_line},
      {".debug_loc", &ElfImage::debug_loc},
      {".symtab", &ElfImage::symtab},
      {".debug_str", &ElfImage::debug_str},
      {".strtab", &ElfImage::strtab},
  };
  // Entry 0 is the null section; index 0 means "not found", so nothing is
  // located there.
  for (std::uint32_t i = 1; i < header.e_shnum; ++i) {
    const std::string_view name = elf.section_names[i];
    for (const Wanted& wanted : kWanted) {
      if (name != wanted.name) continue;
      const SectionHeader& sh = elf.section_headers[i];
      const std::uint64_t end = static_cast<std::uint64_t>(sh.sh_offset) + sh.sh_size;
      if (end > image_size) {
        channel.EmitFormatted(texts::kSectionOutside, i, std::string(name).c_str());
        break;
      }
      SectionView& view = elf.*wanted.view;
      view = {i, sh.sh_offset, sh.sh_size, sh.sh_offset,
              static_cast<std::uint32_t>(end)};
      if (wanted.view == &ElfImage::debug_info) ReadFirstUnitHeader(elf, dwarf, sym_file);
      break;
    }
  }
  return true;
}

}  // namespace dwarfsift
