// The ELF symbol table as a name-to-address table.
//
// GetDebugSymTabAll walks .symtab once, before the compilation units are
// read, tracing every entry with "-d" and storing each symbol's name and
// value. The symbol-record writer later asks FindElfSymbol for the address of
// a declaration that carries none of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dwarfsift {

class MessageChannel;
class OutputFile;
struct ElfImage;

class ElfSymbolTable {
 public:
  // Longer names are stored cut to this many bytes.
  static constexpr std::size_t kNameLimit = 256;

  void Clear();
  // Appends one symbol. The table takes every symbol of the file: a
  // declaration finds its address however late its symbol comes.
  void Add(std::string_view name, std::uint32_t value, std::uint32_t size = 0);

  std::size_t size() const { return entries_.size(); }
  std::string_view name(std::size_t i) const {
    return std::string_view(names_).substr(entries_[i].name_at, entries_[i].name_size);
  }
  std::uint32_t value(std::size_t i) const { return entries_[i].value; }
  std::uint32_t symbol_size(std::size_t i) const { return entries_[i].size; }

  // The value of the symbol named `name`: an exact name wins (the first in
  // table order); otherwise the first symbol whose name continues `name`
  // with a character that cannot belong to a C identifier, as in the
  // "counter.1" that the compiler makes of a static local "counter". A name
  // that merely continues the identifier ("mainloop" for "main") is another
  // symbol and does not match. The empty name gives the first entry.
  std::optional<std::uint32_t> FindElfSymbol(std::string_view name) const;

  // The size of the symbol that stands for an object named `name` at
  // `value`: one of exactly that name and value, else the one FindElfSymbol
  // finds, when its value is `value`.
  std::optional<std::uint32_t> SizeOfSymbolAt(std::string_view name, std::uint32_t value) const;
  // Whether a symbol of exactly this name has this value.
  bool HasSymbolAt(std::string_view name, std::uint32_t value) const;

 private:
  struct Entry {
    std::uint32_t name_at;
    std::uint32_t name_size;
    std::uint32_t value;
    std::uint32_t size;
  };
  void BuildIndex() const;
  // The first name of the sorted index not before `wanted` (the index is
  // brought up to date first).
  std::vector<std::uint32_t>::const_iterator FirstNotBefore(std::string_view wanted) const;
  // The entry FindElfSymbol answers with.
  std::optional<std::uint32_t> FindIndex(std::string_view name) const;
  // The first entry of exactly this name and value.
  std::optional<std::uint32_t> FindExact(std::string_view name, std::uint32_t value) const;
  bool NameLess(std::uint32_t a, std::uint32_t b) const;

  std::string names_;  // every name, back to back
  std::vector<Entry> entries_;
  // Entry numbers sorted by (name, table order), built on the first lookup
  // after a change: the unit walk asks for many names, so a lookup must not
  // scan the whole table.
  mutable std::vector<std::uint32_t> by_name_;
  mutable bool index_current_ = false;
};

// The symbol-table phase: fills `table` from the .symtab section of `elf`
// (the table is emptied first) and traces every entry into `sym_file` with
// "-d". Does nothing more when .symtab was not located or lies at offset 0.
void GetDebugSymTabAll(const ElfImage& elf, ElfSymbolTable& table,
                       MessageChannel& channel, OutputFile* sym_file);

}  // namespace dwarfsift
