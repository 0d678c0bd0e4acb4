// The abbreviation declarations of the current compilation unit.
//
// Every entry of .debug_info starts with an abbreviation code naming a
// declaration in .debug_abbrev: the entry's tag, its children flag and the
// (attribute, form) pairs of the values that follow. LoadAbbrevTable reads
// one unit's declarations (tracing each with "-d") and FindAbbrev looks an
// entry's code up. The declarations are decoded once per load into flat
// arrays that are reused from unit to unit, so the entry walk neither
// re-reads LEB128 pairs nor allocates; the table stays valid until the next
// load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "dwarf/byte_cursor.h"

namespace dwarfsift {

class MessageChannel;
class OutputFile;

struct AttributeSpec {
  std::uint32_t attribute = 0;
  std::uint32_t form = 0;
  // DW_FORM_implicit_const keeps its value here, in the declaration, not in
  // the entries.
  std::int32_t implicit_const = 0;
};

// A read cursor over one declaration's attribute specifications. A default
// AbbrevDecl is "none": the code had no declaration.
class AbbrevDecl {
 public:
  AbbrevDecl() = default;

  bool found() const { return found_; }
  std::uint32_t code() const { return code_; }
  std::uint32_t tag() const { return tag_; }
  // The children flag is one byte (DW_CHILDREN_yes 1, no 0); the
  // specifications start right after it, as the load read them.
  std::uint8_t children() const { return children_; }
  // Image position of the declaration's first byte (its code), and of its
  // first attribute specification (right after the children flag).
  std::uint32_t position() const { return position_; }
  std::uint32_t specs_position() const { return specs_position_; }

  // The next specification, or false after the last one.
  bool NextSpec(AttributeSpec& spec) {
    if (next_ == specs_.size()) return false;
    spec = specs_[next_++];
    return true;
  }
  bool AllSpecsRead() const { return next_ == specs_.size(); }
  void RewindSpecs() { next_ = 0; }
  std::span<const AttributeSpec> specs() const { return specs_; }

 private:
  friend class AbbrevTable;

  std::span<const AttributeSpec> specs_;
  std::size_t next_ = 0;
  std::uint32_t code_ = 0;
  std::uint32_t tag_ = 0;
  std::uint32_t position_ = 0;
  std::uint32_t specs_position_ = 0;
  std::uint8_t children_ = 0;
  bool found_ = false;
};

class AbbrevTable {
 public:
  // Number of declarations read by the last successful load (repeated codes
  // counted each time).
  std::size_t declaration_count() const { return declarations_.size(); }

 private:
  friend bool LoadAbbrevTable(AbbrevTable& table,
                              const ByteCursor& debug_abbrev,
                              std::uint32_t abbrev_offset,
                              MessageChannel& channel, OutputFile* trace_file);
  friend AbbrevDecl FindAbbrev(const AbbrevTable& table, std::uint32_t code);
  friend AbbrevDecl FindLargeAbbrev(const AbbrevTable& table, std::uint32_t code);

  struct Declaration {
    std::uint32_t code;
    std::uint32_t tag;
    std::uint32_t position;
    std::uint32_t specs_position;
    std::uint32_t first_spec;
    std::uint32_t spec_count;
    std::uint8_t children;
  };
  // Codes below this are indexed directly; the rare larger ones (damaged or
  // exotic input) through a sorted list.
  static constexpr std::uint32_t kDirectCodes = 1u << 16;

  void Reset();
  void Enter(std::uint32_t code, std::uint32_t index);
  AbbrevDecl Cursor(std::uint32_t index) const {
    const Declaration& d = declarations_[index];
    AbbrevDecl decl;
    decl.specs_ = std::span<const AttributeSpec>(specs_).subspan(d.first_spec, d.spec_count);
    decl.code_ = d.code;
    decl.tag_ = d.tag;
    decl.position_ = d.position;
    decl.specs_position_ = d.specs_position;
    decl.children_ = d.children;
    decl.found_ = true;
    return decl;
  }

  std::vector<Declaration> declarations_;
  std::vector<AttributeSpec> specs_;
  // Declaration index + 1 by code; 0 is an empty slot. Only the codes of the
  // current unit are ever non-zero, so a reset clears just those.
  std::vector<std::uint32_t> by_code_;
  // (code, declaration index + 1) for codes of kDirectCodes and more.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> large_codes_;
};

// Loads the declarations that start at `abbrev_offset` in .debug_abbrev, whose
// bytes `debug_abbrev` views, and traces each of them to `trace_file` while
// the debug trace is on.
//
// Fails, leaving the table as it was, when the view is empty (the file has no
// .debug_abbrev) or the offset lies outside it. A list that runs into the end of the section
// without its closing 0 code ends there: the declarations completed before
// the end are kept and the load succeeds, so the entries that use them can
// still be read; a declaration cut off by the end is left out.
bool LoadAbbrevTable(AbbrevTable& table, const ByteCursor& debug_abbrev,
                     std::uint32_t abbrev_offset, MessageChannel& channel,
                     OutputFile* trace_file);

// FindAbbrev for codes of AbbrevTable::kDirectCodes and more.
AbbrevDecl FindLargeAbbrev(const AbbrevTable& table, std::uint32_t code);

// The declaration for an entry's code; none for code 0 (a null entry) or a
// code the unit does not declare. A repeated code finds its last declaration.
// Every entry visited looks its code up, so the common case is inline.
inline AbbrevDecl FindAbbrev(const AbbrevTable& table, std::uint32_t code) {
  if (code >= AbbrevTable::kDirectCodes) return FindLargeAbbrev(table, code);
  const std::uint32_t slot = code < table.by_code_.size() ? table.by_code_[code] : 0;
  return slot == 0 ? AbbrevDecl() : table.Cursor(slot - 1);
}

}  // namespace dwarfsift
