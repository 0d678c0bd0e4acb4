// A unit walk over hand-assembled sections plus a .debug_loc, keeping every
// finished named entry (whether or not the SYM file would take it), so the
// location fields can be looked at before the type rules decide.
#pragma once

#include <string_view>
#include <vector>

#include "location/call_frame.h"
#include "symbols/walk_harness.h"
#include "symbols/unit_walk.h"

namespace dwarfsift::testing {

class KeepAllSink : public SymbolSink {
 public:
  bool IsWanted(SymbolRecord&) override { return true; }
  bool Emit(SymbolTable& table, std::uint32_t) override {
    if (table[0].name[0] != '\0') records.push_back(table[0]);
    return true;
  }
  std::vector<SymbolRecord> records;
};

class LocationWalk {
 public:
  explicit LocationWalk(std::uint32_t machine = kMachineArm, const RunOptions& options = {})
      : harness(options) {
    harness.elf.header.e_machine = machine;
  }
  // `loc` goes behind the other sections; empty: the file has no .debug_loc.
  void Load(const DwarfBuilder& built, const std::vector<std::uint8_t>& loc) {
    harness.Load(built);
    if (loc.empty()) return;
    const auto at = static_cast<std::uint32_t>(harness.image.size());
    harness.image.insert(harness.image.end(), loc.begin(), loc.end());
    harness.elf.bytes = harness.image;
    const auto size = static_cast<std::uint32_t>(loc.size());
    harness.elf.debug_loc = SectionView{3, at, size, at, at + size};
  }
  void Walk() {
    WalkHarness& h = harness;
    WalkContext walk(h.run, h.elf, h.dwarf, h.state, sink, DefaultEntryProcessor(),
                     [] { return 0u; });
    // Real files bring their call-frame information; hand-built ones have
    // no section table, so theirs stays empty unless a test loads one.
    if (call_frames.empty()) call_frames.Load(h.elf, h.dwarf.address_size);
    walk.call_frames = &call_frames;
    ASSERT_TRUE(GetDebugInfoAll(walk));
  }
  const SymbolRecord* Find(std::string_view name) const {
    for (const SymbolRecord& r : sink.records) {
      if (name == r.name) return &r;
    }
    return nullptr;
  }

  WalkHarness harness;
  KeepAllSink sink;
  CallFrameTable call_frames;
};

}  // namespace dwarfsift::testing
