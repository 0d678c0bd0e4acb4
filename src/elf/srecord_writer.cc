#include "elf/srecord_writer.h"

#include <algorithm>

#include "base/output_file.h"
#include "base/text_match.h"
#include "dwarf/byte_cursor.h"
#include "elf/elf_image.h"

namespace dwarfsift {
namespace {

constexpr std::uint32_t kShtProgbits = 1;
// The most data a count byte can announce beside a 4-byte address and the
// checksum.
constexpr std::size_t kRecordDataMax = 255 - 4 - 1;

int AddressBytes(int type) {
  switch (type) {
    case 2: case 8: return 3;
    case 3: case 7: return 4;
    default: return 2;
  }
}

// The smallest address width that holds `address`: 0 for 2 bytes, 1 for 3
// and 2 for 4, to be added to the data type 1 or subtracted from end type 9.
int AddressClass(std::uint32_t address) {
  if (address < 0x10000) return 0;
  if (address < 0x1000000) return 1;
  return 2;
}

// Program sections that are loaded: allocated, and writable or executable
// but not both.
bool IsLoadedSection(const SectionHeader& section) {
  const std::uint32_t access = section.sh_flags & 0xF;
  return section.sh_type == kShtProgbits && (access == 2 || access == 3 || access == 6);
}

}  // namespace

void WriteSrecord(OutputFile& file, std::span<const std::uint8_t> data,
                  std::uint32_t address, int type) {
  if (data.size() > kRecordDataMax) data = data.first(kRecordDataMax);
  const int address_bytes = AddressBytes(type);
  const auto count = static_cast<std::uint32_t>(data.size() + address_bytes + 1);

  // "S", type, then count, address, data and checksum as digit pairs, "\n".
  char line[2 + 2 * 256 + 1];
  std::size_t at = 0;
  std::uint32_t sum = 0;
  auto put = [&](std::uint32_t byte) {
    line[at++] = kHexDigits[byte >> 4];
    line[at++] = kHexDigits[byte & 0xF];
    sum += byte;
  };
  line[at++] = 'S';
  line[at++] = static_cast<char>('0' + type);
  put(count);
  for (int i = address_bytes - 1; i >= 0; --i) put((address >> (8 * i)) & 0xFF);
  for (const std::uint8_t byte : data) put(byte);
  put(~sum & 0xFF);
  line[at++] = '\n';
  file.Write(std::string_view(line, at));
}

std::uint32_t LoadAddressOfSection(const ElfImage& elf, const SectionHeader& section) {
  for (const ProgramHeader& segment : elf.program_headers) {
    if (segment.p_offset == section.sh_offset && segment.p_vaddr != segment.p_paddr &&
        segment.p_vaddr == section.sh_addr && segment.p_paddr != 0) {
      return segment.p_paddr;
    }
  }
  return section.sh_addr;
}

std::vector<std::uint32_t> WriteSrecordImage(OutputFile& file, std::string_view mot_name,
                                             const ElfImage& elf) {
  const std::string_view name = mot_name.substr(0, kSrecordNameLimit);
  WriteSrecord(file,
               std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()),
               0, 0);
  std::vector<std::uint32_t> left_out;
  if (!elf.header_read) {
    WriteSrecord(file, {}, 0, 9);
    return left_out;
  }

  // Bytes past the file are inflated debugging sections, never code.
  const ByteCursor image(elf.bytes.first(elf.file_size), elf.byte_order);
  for (std::uint32_t i = 0; i < elf.section_headers.size(); ++i) {
    const SectionHeader& section = elf.section_headers[i];
    if (!IsLoadedSection(section)) continue;
    const std::uint64_t end = static_cast<std::uint64_t>(section.sh_offset) + section.sh_size;
    if (end > elf.file_size) {
      left_out.push_back(i);
      continue;
    }
    ByteCursor bytes = image.View(section.sh_offset, end);
    std::uint32_t address = LoadAddressOfSection(elf, section);
    while (!bytes.AtEnd()) {
      const std::uint32_t n = std::min<std::uint32_t>(bytes.remaining(), kSrecordDataLimit);
      WriteSrecord(file, std::span(bytes.Take(n), n), address, 1 + AddressClass(address));
      address += n;
    }
  }
  const std::uint32_t entry = elf.header.e_entry;
  WriteSrecord(file, {}, entry, 9 - AddressClass(entry));
  return left_out;
}

}  // namespace dwarfsift
