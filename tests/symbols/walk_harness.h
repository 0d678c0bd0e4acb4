// Hand-assembled .debug_info/.debug_abbrev images and a unit walk over them
// whose finished entries are collected instead of written.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/run_context.h"
#include "dwarf/attribute_value.h"
#include "elf/elf_image.h"
#include "elf/symbol_table.h"
#include "symbols/entry_processing.h"
#include "symbols/members.h"
#include "symbols/unit_walk.h"

namespace dwarfsift::testing {

inline constexpr std::uint8_t kOpAddr = 0x03;

// Bytes of both sections, little-endian, 4-byte addresses.
class DwarfBuilder {
 public:
  struct Attr {
    std::uint32_t attribute;
    std::uint32_t form;
  };

  // One abbreviation declaration (codes below 128, attributes and forms
  // below 128, so each is one LEB128 byte).
  void Abbrev(std::uint8_t code, std::uint8_t tag, bool children,
              std::initializer_list<Attr> attrs) {
    abbrev_.insert(abbrev_.end(), {code, tag, static_cast<std::uint8_t>(children)});
    for (const Attr& a : attrs) {
      abbrev_.push_back(static_cast<std::uint8_t>(a.attribute));
      abbrev_.push_back(static_cast<std::uint8_t>(a.form));
    }
    abbrev_.insert(abbrev_.end(), {0, 0});
  }
  void EndAbbrevs() { abbrev_.push_back(0); }

  // Starts a unit header; the length is filled in by EndUnit.
  void BeginUnit(std::uint16_t version = 2) {
    unit_start_ = info_.size();
    U32(0);
    U16(version);
    U32(0);  // abbreviations at the start of .debug_abbrev
    U8(4);
  }
  void EndUnit() {
    const auto length = static_cast<std::uint32_t>(info_.size() - unit_start_ - 4);
    for (int i = 0; i < 4; ++i) info_[unit_start_ + i] = static_cast<std::uint8_t>(length >> (8 * i));
  }
  // Offsets of the next byte, from the section and from the unit start.
  std::uint32_t SectionOffset() const { return static_cast<std::uint32_t>(info_.size()); }
  std::uint32_t UnitOffset() const { return static_cast<std::uint32_t>(info_.size() - unit_start_); }

  void U8(std::uint8_t v) { info_.push_back(v); }
  void U16(std::uint16_t v) { U8(v & 0xFF); U8(v >> 8); }
  void U32(std::uint32_t v) { U16(v & 0xFFFF); U16(v >> 16); }
  void Str(std::string_view s) {
    info_.insert(info_.end(), s.begin(), s.end());
    info_.push_back(0);
  }
  // A DW_OP_addr expression in DW_FORM_block1.
  void AddrBlock(std::uint32_t address) {
    U8(5);
    U8(kOpAddr);
    U32(address);
  }
  // Overwrites a 4-byte field written earlier (for forward references).
  void Patch32(std::uint32_t section_offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) info_[section_offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
  }

  const std::vector<std::uint8_t>& abbrev() const { return abbrev_; }
  const std::vector<std::uint8_t>& info() const { return info_; }

 private:
  std::vector<std::uint8_t> abbrev_;
  std::vector<std::uint8_t> info_;
  std::size_t unit_start_ = 0;
};

// A finished entry as the sink saw it: slot 0 and its "-g" copies, and its
// named member slots.
struct Emitted {
  std::vector<SymbolRecord> records;
  std::vector<SymbolRecord> members;
};

class RecordingSink : public SymbolSink {
 public:
  explicit RecordingSink(const RunState& state, const ElfSymbolTable& elf)
      : state_(state), elf_(elf) {}
  bool IsWanted(SymbolRecord& current) override {
    return SymbolIsWanted(current, state_, elf_);
  }
  bool Emit(SymbolTable& table, std::uint32_t copies) override {
    if (!IsWanted(table[0])) return false;
    Emitted entry;
    entry.records.push_back(table[0]);
    for (std::uint32_t c = 0; c < copies; ++c) {
      entry.records.push_back(table[kFirstCopySlot + c]);
    }
    for (std::size_t i = 1; i <= table.highest_touched_member_slot(); ++i) {
      const SymbolRecord& slot = std::as_const(table)[i];
      if (slot.name[0] != '\0') entry.members.push_back(slot);
    }
    emitted.push_back(std::move(entry));
    return true;
  }
  std::vector<Emitted> emitted;

 private:
  const RunState& state_;
  const ElfSymbolTable& elf_;
};

// One walk over the built sections.
class WalkHarness {
 public:
  explicit WalkHarness(const RunOptions& options = {}) : run(options) {
    run.channel.CaptureConsole(&console);
  }

  // Lays the sections out behind a few bytes of padding (a section at file
  // offset 0 counts as absent).
  void Load(const DwarfBuilder& built) {
    image.assign(16, 0);
    const auto abbrev_at = static_cast<std::uint32_t>(image.size());
    image.insert(image.end(), built.abbrev().begin(), built.abbrev().end());
    const auto info_at = static_cast<std::uint32_t>(image.size());
    image.insert(image.end(), built.info().begin(), built.info().end());
    elf.bytes = image;
    elf.debug_abbrev = Section(1, abbrev_at, built.abbrev().size());
    elf.debug_info = Section(2, info_at, built.info().size());
  }

  bool Walk() {
    WalkContext walk(run, elf, dwarf, state, sink, DefaultEntryProcessor(),
                     [this] { return clock(); });
    walk.trace_file = nullptr;
    walk.follow_budget_per_entry = follow_budget;
    walk.unit_work_budget = work_budget;
    walk.unit_work_per_byte = work_per_byte;
    walk.run_work_budget = run_work_budget;
    walk.run_work_per_byte = run_work_per_byte;
    walk.elf_symbols = &elf_symbols;
    walk.members = members;
    return GetDebugInfoAll(walk);
  }

  // The first emitted record with `name`, or null.
  const SymbolRecord* Find(std::string_view name) const {
    for (const Emitted& e : sink.emitted) {
      for (const SymbolRecord& r : e.records) {
        if (name == r.name) return &r;
      }
    }
    return nullptr;
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const Emitted& e : sink.emitted) {
      for (const SymbolRecord& r : e.records) names.emplace_back(r.name);
    }
    return names;
  }

  RunContext run;
  std::string console;
  std::vector<std::uint8_t> image;
  ElfImage elf;
  DwarfParameters dwarf;
  ElfSymbolTable elf_symbols;
  SymbolConversion state;
  RecordingSink sink{run.state, elf_symbols};
  std::function<std::uint32_t()> clock = [] { return 0u; };
  // References each top-level entry may follow; a small one keeps tests of
  // the bound quick.
  std::uint32_t follow_budget = kFollowBudget;
  std::uint64_t work_budget = kUnitWorkBudget;
  std::uint64_t work_per_byte = kUnitWorkPerByte;
  std::uint64_t run_work_budget = kRunWorkBudget;
  std::uint64_t run_work_per_byte = kRunWorkPerByte;
  // The run's member area, for its count and room; none by default.
  const SymbolMemberArea* members = nullptr;

 private:
  static SectionView Section(std::uint32_t index, std::uint32_t at, std::size_t size) {
    return SectionView{index, at, static_cast<std::uint32_t>(size), at,
                       at + static_cast<std::uint32_t>(size)};
  }
};

}  // namespace dwarfsift::testing
