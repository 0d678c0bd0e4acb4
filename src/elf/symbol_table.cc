#include "elf/symbol_table.h"

#include <algorithm>

#include "base/message_channel.h"
#include "dwarf/readers.h"
#include "dwarf/value_text.h"
#include "elf/elf_image.h"

namespace dwarfsift {
namespace {

constexpr std::uint32_t kSymbolEntrySize = 16;

// The fields of one entry in file order, as the trace labels them.
struct SymbolField {
  const char* label;
  int width;
};
constexpr SymbolField kSymbolFields[] = {
    {"/st_name", 4}, {"/st_value", 4}, {"/st_size", 4},
    {"/st_info", 1}, {"/st_other", 1}, {"/st_shndx", 2},
};

// Characters the compiler may use inside an identifier. "$" and bytes of 128
// or more count too: GCC accepts both in identifiers.
bool IsIdentifierChar(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '$' || c >= 0x80;
}

const char* TypeWord(std::uint8_t st_info) {
  switch (st_info & 0xF) {
    case 1: return "DATA";
    case 2: return "CODE";
    case 3: return "SECT";
    case 4: return "FILE";
    default: return "----";
  }
}

// The name at `st_name` in .strtab. A name that does not start and end
// inside .strtab (or a file without .strtab) gives the empty name rather
// than a text from elsewhere in the file.
std::string_view ReadSymbolName(const ElfImage& elf, std::uint32_t st_name) {
  if (!elf.strtab.found() || st_name >= elf.strtab.size) return {};
  ByteCursor names = elf.Cursor(elf.strtab);
  names.Seek(static_cast<std::uint64_t>(names.begin()) + st_name);
  const std::string_view name = names.ReadCString();
  return names.ok() ? name : std::string_view();
}

}  // namespace

void ElfSymbolTable::Clear() {
  names_.clear();
  entries_.clear();
  by_name_.clear();
  index_current_ = false;
}

void ElfSymbolTable::Add(std::string_view name, std::uint32_t value, std::uint32_t size) {
  name = name.substr(0, kNameLimit);
  entries_.push_back({static_cast<std::uint32_t>(names_.size()),
                      static_cast<std::uint32_t>(name.size()), value, size});
  names_.append(name);
  index_current_ = false;
}

bool ElfSymbolTable::NameLess(std::uint32_t a, std::uint32_t b) const {
  const int order = name(a).compare(name(b));
  return order != 0 ? order < 0 : a < b;
}

void ElfSymbolTable::BuildIndex() const {
  by_name_.resize(entries_.size());
  for (std::uint32_t i = 0; i < by_name_.size(); ++i) by_name_[i] = i;
  std::sort(by_name_.begin(), by_name_.end(),
            [this](std::uint32_t a, std::uint32_t b) { return NameLess(a, b); });
  index_current_ = true;
}

std::optional<std::uint32_t> ElfSymbolTable::FindElfSymbol(std::string_view wanted) const {
  const std::optional<std::uint32_t> found = FindIndex(wanted);
  if (!found) return std::nullopt;
  return entries_[*found].value;
}

std::optional<std::uint32_t> ElfSymbolTable::FindExact(std::string_view wanted,
                                                       std::uint32_t value) const {
  if (entries_.empty() || wanted.empty()) return std::nullopt;
  for (auto it = FirstNotBefore(wanted); it != by_name_.end() && name(*it) == wanted; ++it) {
    if (entries_[*it].value == value) return *it;
  }
  return std::nullopt;
}

bool ElfSymbolTable::HasSymbolAt(std::string_view wanted, std::uint32_t value) const {
  return FindExact(wanted, value).has_value();
}

std::optional<std::uint32_t> ElfSymbolTable::SizeOfSymbolAt(std::string_view wanted,
                                                            std::uint32_t value) const {
  std::optional<std::uint32_t> found = FindExact(wanted, value);
  if (!found) found = FindIndex(wanted);
  if (!found || entries_[*found].value != value) return std::nullopt;
  return entries_[*found].size;
}

std::vector<std::uint32_t>::const_iterator ElfSymbolTable::FirstNotBefore(
    std::string_view wanted) const {
  if (!index_current_) BuildIndex();
  return std::lower_bound(by_name_.begin(), by_name_.end(), wanted,
                          [this](std::uint32_t i, std::string_view key) { return name(i) < key; });
}

std::optional<std::uint32_t> ElfSymbolTable::FindIndex(std::string_view wanted) const {
  if (entries_.empty()) return std::nullopt;
  if (wanted.empty()) return 0;
  auto it = FirstNotBefore(wanted);
  if (it != by_name_.end() && name(*it) == wanted) return *it;

  // Every name that continues `wanted` follows here in sorted order. Names
  // continuing it with an identifier character c are skipped as one block by
  // moving on to the first name not below `wanted` followed by c + 1.
  std::optional<std::uint32_t> best;
  while (it != by_name_.end() && name(*it).starts_with(wanted)) {
    const auto next = static_cast<unsigned char>(name(*it)[wanted.size()]);
    if (!IsIdentifierChar(next)) {
      if (!best || *it < *best) best = *it;
      ++it;
      continue;
    }
    if (next == 0xFF) break;  // nothing sorts after this block
    it = std::lower_bound(it, by_name_.cend(), next + 1,
                          [this, &wanted](std::uint32_t i, unsigned bound) {
                            const std::string_view n = name(i);
                            return n.starts_with(wanted) &&
                                   static_cast<unsigned char>(n[wanted.size()]) < bound;
                          });
  }
  return best;
}

void GetDebugSymTabAll(const ElfImage& elf, ElfSymbolTable& table,
                       MessageChannel& channel, OutputFile* sym_file) {
  table.Clear();
  if (!elf.symtab.present()) return;
  channel.TraceLine(sym_file,
                    "/[0x%04X]<<<<<<<<<<<<<<<<<<<< .symtab Section  >>>>>>>>>>>>>>>>>>>>\n",
                    elf.symtab.offset);
  ByteCursor symtab = elf.Cursor(elf.symtab);
  std::uint32_t counter = 0;
  // A trailing piece shorter than one entry is no symbol and is not read.
  while (symtab.remaining() >= kSymbolEntrySize) {
    channel.TraceLine(sym_file, "Index[0x%04X]\n", counter);
    ++counter;
    if (channel.tracing()) {
      ByteCursor raw = symtab;
      for (const SymbolField& field : kSymbolFields) {
        TraceLabelledValue(channel, sym_file, field.label, raw, 1, field.width);
        raw.Skip(field.width);
      }
    }
    const std::uint32_t st_name = ReadFixed32(symtab);
    const std::uint32_t st_value = ReadFixed32(symtab);
    const std::uint32_t st_size = ReadFixed32(symtab);
    const std::uint8_t st_info = symtab.ReadByte();
    symtab.Skip(3);  // st_other, st_shndx

    // Labels, sections and files (size 0) are stored without a name.
    std::string_view name;
    if (st_size != 0) {
      name = ReadSymbolName(elf, st_name);
      if (name.starts_with('_')) name.remove_prefix(1);
    }
    channel.TraceLine(sym_file, "# 0x%08X %s 0x%04X %.*s\n", st_value, TypeWord(st_info),
                      st_size, static_cast<int>(name.size()), name.empty() ? "" : name.data());
    // A Thumb function's value carries the instruction set in bit 0; its
    // address is the value without it.
    const bool thumb_bit = elf.file_machine == kElfMachineArm && (st_info & 0xF) == 2;
    table.Add(name, thumb_bit ? st_value & ~1u : st_value, st_size);
  }
}

}  // namespace dwarfsift
