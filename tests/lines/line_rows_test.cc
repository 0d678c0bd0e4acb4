// The row table against the plain model it replaces: 100000 slots scanned in
// full on every flush and every end row. Random programs must give the same
// rows in the same order, with and without the extra addresses.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "lines/line_rows.h"

namespace dwarfsift {
namespace {

using Rows = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// The full-scan table, written the long way.
class ScanModel {
 public:
  ScanModel() : slot_address_(kLineSlotCount), slot_line_(kLineSlotCount) {}
  void Special(std::int32_t line, std::uint32_t address) {
    if (line > 0 && line < 100000 && slot_line_[line] == 0) Fill(line, address);
  }
  void Copy(std::int32_t line, std::uint32_t address) {
    if (line <= 0 || line > 99999) return;
    if (slot_line_[line] == 0) {
      Fill(line, address);
    } else if (slot_address_[line] != address && extras_.size() < kExtraAddressLimit) {
      extras_.push_back({address, line});
    }
  }
  void End(std::uint32_t address) {
    std::uint32_t m = 0;
    for (std::uint32_t l = 0; l < kLineSlotCount; ++l) {
      if (slot_line_[l] != 0) m = l;
    }
    if (m == 0 || m + 1 >= 100000) return;
    for (std::uint32_t l = 0; l < kLineSlotCount; ++l) {
      if (slot_line_[l] != 0 && slot_address_[l] == address) return;
    }
    Fill(m + 1, address);
  }
  void Flush(bool with_extras, Rows& out) {
    for (std::uint32_t l = 0; l < kLineSlotCount; ++l) {
      if (slot_line_[l] == 0) continue;
      out.push_back({slot_address_[l], l});
      if (with_extras) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> kept;
        for (const auto& e : extras_) {
          if (e.second == l && e.first != slot_address_[l]) {
            out.push_back(e);
          } else {
            kept.push_back(e);
          }
        }
        extras_ = kept;
      }
      slot_line_[l] = 0;
    }
  }

 private:
  void Fill(std::uint32_t line, std::uint32_t address) {
    slot_line_[line] = line;
    slot_address_[line] = address;
  }
  std::vector<std::uint32_t> slot_address_, slot_line_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> extras_;
};

TEST(LineRowTable, MatchesTheFullScan) {
  std::mt19937 random(7);
  for (int program = 0; program < 16; ++program) {
    const bool with_extras = program % 3 != 0;
    // Lines cluster like a real unit's, with outliers at both limits.
    const std::int32_t base = program % 5 == 0 ? 99990 : 1 + random() % 3000;
    LineRowTable table;
    ScanModel model;
    Rows got, expected;
    for (int step = 0; step < 250; ++step) {
      const std::int32_t line = base + static_cast<std::int32_t>(random() % 40) - 20;
      const std::uint32_t address = 0x1000 + random() % 64;
      switch (random() % 10) {
        case 0:
          table.RecordEnd(address);
          model.End(address);
          [[fallthrough]];
        case 1:
          table.Flush(with_extras, [&](std::uint32_t a, std::uint32_t l) {
            got.push_back({a, l});
          });
          model.Flush(with_extras, expected);
          break;
        case 2:
        case 3:
        case 4:
          table.RecordCopy(line, address, with_extras);
          model.Copy(line, address);
          break;
        default:
          table.RecordSpecial(line, address);
          model.Special(line, address);
          break;
      }
    }
    ASSERT_EQ(got, expected) << "program " << program;
    EXPECT_GT(got.size(), 0u);
  }
}

}  // namespace
}  // namespace dwarfsift
