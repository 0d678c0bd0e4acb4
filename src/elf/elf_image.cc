#include "elf/elf_image.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "base/file_headers.h"
#include "base/message_channel.h"
#include "base/messages.h"
#include "dwarf/value_text.h"
#include "elf/section_inflate.h"

namespace dwarfsift {
namespace {

constexpr std::uint32_t kElfHeaderSize = 52;
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

// The 4-byte fields of a table entry in file order, with their trace labels.
template <typename Entry>
struct EntryField {
  const char* label;
  std::uint32_t Entry::*field;
};
constexpr EntryField<ProgramHeader> kProgramHeaderFields[] = {
    {"/p_type", &ProgramHeader::p_type},     {"/p_offset", &ProgramHeader::p_offset},
    {"/p_vaddr", &ProgramHeader::p_vaddr},   {"/p_paddr", &ProgramHeader::p_paddr},
    {"/p_filesz", &ProgramHeader::p_filesz}, {"/p_memsz", &ProgramHeader::p_memsz},
    {"/p_flags", &ProgramHeader::p_flags},   {"/p_align", &ProgramHeader::p_align},
};
constexpr EntryField<SectionHeader> kSectionHeaderFields[] = {
    {"/sh_name", &SectionHeader::sh_name},
    {"/sh_type", &SectionHeader::sh_type},
    {"/sh_flags", &SectionHeader::sh_flags},
    {"/sh_addr", &SectionHeader::sh_addr},
    {"/sh_offset", &SectionHeader::sh_offset},
    {"/sh_size", &SectionHeader::sh_size},
    {"/sh_link", &SectionHeader::sh_link},
    {"/sh_info", &SectionHeader::sh_info},
    {"/sh_addralign", &SectionHeader::sh_addralign},
    {"/sh_entsize", &SectionHeader::sh_entsize},
};

// Whether a table of `count` entries of `entry_size` bytes, `stride` apart
// from `offset`, lies inside an image of `image_size` bytes.
bool TableFits(std::uint64_t offset, std::uint64_t stride, std::uint64_t count,
               std::uint64_t entry_size, std::uint64_t image_size) {
  if (count == 0) return true;
  if (stride < entry_size) return false;
  return offset + stride * (count - 1) + entry_size <= image_size;
}

// The call-frame reader finds .debug_frame in the section table itself.
constexpr std::string_view kDebugFrame = ".debug_frame";

// The plain name of a debugging section the conversion reads, given its name
// in the file: itself, or for the GNU form ".zdebug_X" the name ".debug_X"
// (`gnu` tells which). None for every other section.
std::optional<std::string_view> ReadDebugSectionName(std::string_view name, bool& gnu) {
  gnu = name.starts_with(".zdebug_");
  const std::string plain = gnu ? "." + std::string(name.substr(2)) : std::string(name);
  if (plain == kDebugFrame) return kDebugFrame;
  for (const LocatedSection& wanted : kLocatedSections) {
    if (wanted.name.starts_with(".debug_") && plain == wanted.name) return wanted.name;
  }
  return std::nullopt;
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
// offset (4), address size (1); from version 5 on, the unit type (1) and the
// address size (1) come before the offset. A section too short to hold it gives
// neither.
void ReadFirstUnitHeader(const ElfImage& elf, DwarfParameters& dwarf,
                         OutputFile* sym_file) {
  ByteCursor unit = elf.Cursor(elf.debug_info);
  ReadFixed32(unit);
  const std::uint16_t version = ReadFixed16(unit);
  // Version 5 headers put the unit type and the address size before the
  // abbreviation offset. Prebuilt C libraries bring such units into files
  // whose own units are older, and the byte at offset 10 would then be part
  // of an offset, not an address size.
  // Either way the header's first 11 bytes must be there.
  std::uint8_t rest[5];
  for (std::uint8_t& byte : rest) byte = unit.ReadByte();
  if (!unit.ok()) return;
  const std::uint8_t address_size = version >= 5 ? rest[1] : rest[4];
  dwarf.version = version;
  dwarf.address_size = address_size;
  if (sym_file != nullptr) WriteDwarfVersionLine(*sym_file, version);
}

}  // namespace

std::uint32_t NormaliseMachine(std::uint32_t e_machine, std::uint32_t e_flags) {
  if (e_machine == kMachineRx) return kMachineRx;
  for (const MachineByFlags& row : kMachineByFlags) {
    if (row.flags == e_flags) return row.machine;
  }
  return kMachineSh;
}

namespace {

// One run of the section phase: the image, the tables it fills and where
// its trace and reports go.
class SectionPhase {
 public:
  SectionPhase(std::span<const std::uint8_t> image, ElfImage& elf,
               DwarfParameters& dwarf, MessageChannel& channel,
               OutputFile* sym_file)
      : image_size_(image.size()),
        elf_(elf),
        dwarf_(dwarf),
        channel_(channel),
        sym_file_(sym_file) {
    elf_ = ElfImage{};
    elf_.bytes = image;
    elf_.file_size = static_cast<std::uint32_t>(image.size());
    dwarf_ = DwarfParameters{};
    // The byte order governs every later multi-byte read, so it comes first.
    order_byte_ = image_size_ > 5 ? image[5] : 0;
    class_byte_ = image_size_ > 4 ? image[4] : 0;
    elf_.byte_order = order_byte_ == kElfDataBig ? ByteOrder::kBig : ByteOrder::kLittle;
    dwarf_.byte_order = elf_.byte_order;
    file_ = ByteCursor(image, elf_.byte_order);
  }

  bool Run() {
    TraceHeader();
    if (!ReadHeader()) return false;
    if (elf_.header.e_phnum > kMaxElfTableEntries) return false;
    ReadProgramHeaders();
    if (elf_.header.e_shnum > kMaxElfTableEntries) return false;
    if (!ReadSectionHeaders()) return false;
    NameSections();
    InflateSections();
    LocateSections();
    return true;
  }

 private:
  // The dump comes before any test, so a rejected header is still shown; it
  // stops at the first field the file does not hold.
  void TraceHeader() {
    channel_.TraceLine(sym_file_, "/<<<<<<<<<< ELF Header >>>>>>>>>>\n");
    for (const HeaderField& field : kHeaderFields) {
      const std::uint64_t field_end =
          field.offset + static_cast<std::uint64_t>(field.count) * field.width;
      if (field_end > image_size_) break;
      TraceLabelledValue(channel_, sym_file_, field.label, file_.At(field.offset),
                         field.count, field.width);
    }
  }

  bool ReadHeader() {
    if (class_byte_ != kElfClass32 || order_byte_ == 0) return false;
    if (image_size_ < kElfHeaderSize) {
      channel_.ReportDamage(texts::kElfHeaderIncomplete,
                             static_cast<unsigned>(image_size_));
      return false;
    }
    ElfHeader& header = elf_.header;
    for (const HeaderField& field : kHeaderFields) {
      if (field.field == nullptr) continue;
      ByteCursor at = file_.At(field.offset);
      header.*field.field = static_cast<std::uint32_t>(ReadFixed(at, field.width));
    }
    elf_.file_machine = header.e_machine;
    header.e_machine = NormaliseMachine(header.e_machine, header.e_flags);
    elf_.header_read = true;
    return true;
  }

  // Only the S-record writer needs the program headers: a table outside the
  // file is reported and skipped, and the sections are still read.
  void ReadProgramHeaders() {
    const ElfHeader& header = elf_.header;
    const bool read = ReadTable(
        header.e_phoff, header.e_phentsize, header.e_phnum, kProgramHeaderFields,
        elf_.program_headers, [&](std::uint32_t i) {
          channel_.TraceLine(sym_file_, "/********** Program Header [% 3d] **********\n",
                             static_cast<int>(i));
        });
    if (!read) channel_.ReportDamage(texts::kProgramHeadersOutside, header.e_phoff);
  }

  bool ReadSectionHeaders() {
    const ElfHeader& header = elf_.header;
    const bool read = ReadTable(
        header.e_shoff, header.e_shentsize, header.e_shnum, kSectionHeaderFields,
        elf_.section_headers, [&](std::uint32_t i) {
          channel_.TraceLine(sym_file_, "/---------- Section Header [% 3d] ----------\n",
                             static_cast<int>(i));
        });
    if (!read) channel_.ReportDamage(texts::kSectionHeadersOutside, header.e_shoff);
    return read;
  }

  // Traces and copies `count` entries `stride` apart from `offset`, each
  // read as its fixed 32-bit layout. A table that does not lie inside the
  // file is not read at all (false).
  template <typename Entry, std::size_t N, typename TraceBanner>
  bool ReadTable(std::uint32_t offset, std::uint32_t stride, std::uint32_t count,
                 const EntryField<Entry> (&fields)[N], std::vector<Entry>& out,
                 TraceBanner trace_banner) {
    if (!TableFits(offset, stride, count, 4 * N, image_size_)) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t pos = offset + stride * i;
      trace_banner(i);
      ByteCursor at = file_.At(pos);
      Entry entry{};
      for (const EntryField<Entry>& field : fields) {
        TraceLabelledValue(channel_, sym_file_, field.label, at, 1, 4);
        entry.*field.field = ReadFixed32(at);
      }
      out.push_back(entry);
    }
    return true;
  }

  // Names come from the section-name string table; a name that does not lie
  // inside it stays empty.
  void NameSections() {
    const ElfHeader& header = elf_.header;
    elf_.section_names.assign(header.e_shnum, std::string_view());
    ByteCursor names;
    bool names_usable = header.e_shstrndx < header.e_shnum;
    if (names_usable) {
      const SectionHeader& table = elf_.section_headers[header.e_shstrndx];
      const std::uint64_t end = static_cast<std::uint64_t>(table.sh_offset) + table.sh_size;
      names_usable = end <= image_size_;
      names = file_.View(table.sh_offset, end);
    }
    if (!names_usable && header.e_shnum > 0) {
      channel_.ReportDamage(texts::kSectionNamesUnusable, header.e_shstrndx);
    }
    for (std::uint32_t i = 0; i < header.e_shnum; ++i) {
      if (names_usable) {
        const std::uint64_t name_pos =
            static_cast<std::uint64_t>(names.begin()) + elf_.section_headers[i].sh_name;
        if (name_pos < names.end()) {
          ByteCursor at = names.At(name_pos);
          elf_.section_names[i] = at.ReadCString();
        }
      }
      const std::string name(elf_.section_names[i]);
      channel_.TraceLine(sym_file_, "/Section Name [% 3d]%s\n", static_cast<int>(i),
                         name.c_str());
    }
  }

  // Sections are located by their exact names; when several carry one name,
  // the last wins. A section whose bytes lie outside the file is reported and
  // not located.
  void LocateSections() {
    // Entry 0 is the null section; index 0 means "not found", so nothing is
    // located there.
    for (std::uint32_t i = 1; i < elf_.header.e_shnum; ++i) {
      const std::string_view name = elf_.section_names[i];
      for (const LocatedSection& wanted : kLocatedSections) {
        if (name != wanted.name) continue;
        const SectionHeader& sh = elf_.section_headers[i];
        const std::uint64_t end = static_cast<std::uint64_t>(sh.sh_offset) + sh.sh_size;
        if (!inflated_[i] && end > image_size_) {
          channel_.ReportDamage(texts::kSectionOutside, i, std::string(name).c_str());
          break;
        }
        SectionView& view = elf_.*wanted.view;
        view = {i, sh.sh_offset, sh.sh_size, sh.sh_offset,
                static_cast<std::uint32_t>(end)};
        if (wanted.view == &ElfImage::debug_info) ReadFirstUnitHeader(elf_, dwarf_, sym_file_);
        break;
      }
    }
  }

  // Inflates every compressed debugging section the conversion reads into
  // one buffer behind a copy of the file, and points its header and name at
  // the plain bytes there; one that cannot be inflated is reported and
  // loses its name, so that nothing reads it.
  void InflateSections() {
    const std::uint32_t count = elf_.header.e_shnum;
    inflated_.assign(count, false);
    std::vector<Pending> pending;
    // What all the sections together may claim: the input keeps its bounds
    // whatever the headers say, and every position stays 32-bit.
    const std::uint64_t bound = std::min<std::uint64_t>(
        64 * image_size_ + (std::uint64_t{64} << 20), UINT32_MAX - image_size_);
    std::uint64_t claimed = 0;
    for (std::uint32_t i = 1; i < count; ++i) {
      bool gnu = false;
      const std::optional<std::string_view> plain =
          ReadDebugSectionName(elf_.section_names[i], gnu);
      const SectionHeader& sh = elf_.section_headers[i];
      if (!plain || (!gnu && (sh.sh_flags & kShfCompressed) == 0)) continue;
      const std::uint64_t end = static_cast<std::uint64_t>(sh.sh_offset) + sh.sh_size;
      if (end > image_size_) {
        channel_.ReportDamage(texts::kSectionOutside, i,
                              std::string(elf_.section_names[i]).c_str());
        elf_.section_names[i] = std::string_view();
        continue;
      }
      std::string reason;
      std::optional<CompressedStream> stream =
          ReadCompressionHeader(file_.View(sh.sh_offset, end), gnu, reason);
      if (stream && stream->claimed_size > bound - claimed) {
        reason = FormatString(texts::kInflateBeyondBound,
                              static_cast<unsigned long long>(stream->claimed_size),
                              static_cast<unsigned long long>(bound));
        stream.reset();
      }
      if (!stream) {
        DropSection(i, reason);
        continue;
      }
      pending.push_back({i, *plain, *stream, image_size_ + claimed});
      claimed += stream->claimed_size;
    }
    if (pending.empty()) return;
    std::shared_ptr<std::uint8_t[]> buffer(new std::uint8_t[image_size_ + claimed]);
    std::copy(elf_.bytes.begin(), elf_.bytes.end(), buffer.get());
    for (const Pending& section : pending) {
      std::string reason;
      if (!InflateStream(section.stream, buffer.get() + section.position, reason)) {
        DropSection(section.index, reason);
        continue;
      }
      SectionHeader& sh = elf_.section_headers[section.index];
      sh.sh_offset = static_cast<std::uint32_t>(section.position);
      sh.sh_size = static_cast<std::uint32_t>(section.stream.claimed_size);
      sh.sh_flags &= ~kShfCompressed;
      elf_.section_names[section.index] = section.plain_name;
      inflated_[section.index] = true;
    }
    elf_.bytes = std::span<const std::uint8_t>(buffer.get(), image_size_ + claimed);
    elf_.inflated = std::move(buffer);
    elf_.inflated_sections = inflated_;
  }

  struct Pending {
    std::uint32_t index;
    std::string_view plain_name;
    CompressedStream stream;
    std::uint64_t position;  // of its plain bytes in the buffer
  };

  void DropSection(std::uint32_t i, const std::string& reason) {
    channel_.ReportDamage(texts::kSectionNotInflated, i,
                          std::string(elf_.section_names[i]).c_str(), reason.c_str());
    elf_.section_names[i] = std::string_view();
  }

  std::uint64_t image_size_;
  std::vector<bool> inflated_;
  ElfImage& elf_;
  DwarfParameters& dwarf_;
  MessageChannel& channel_;
  OutputFile* sym_file_;
  ByteCursor file_;
  std::uint8_t class_byte_ = 0;
  std::uint8_t order_byte_ = 0;
};

}  // namespace

bool GetSection(std::span<const std::uint8_t> image, ElfImage& elf,
                DwarfParameters& dwarf, MessageChannel& channel,
                OutputFile* sym_file) {
  return SectionPhase(image, elf, dwarf, channel, sym_file).Run();
}

}  // namespace dwarfsift
