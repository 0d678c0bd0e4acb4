// The row table against the plain model it replaces: an ordered map from
// line to address, walked in full on every flush and every end row. Random
// programs must give the same rows in the same order, with and without the
// extra addresses.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "lines/line_rows.h"

namespace dwarfsift {
namespace {

using Rows = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// The map table, written the long way.
class ScanModel {
 public:
  void Special(std::uint32_t line, std::uint32_t address) {
    if (line != 0 && !slots_.contains(line)) slots_[line] = address;
  }
  void Copy(std::uint32_t line, std::uint32_t address) {
    if (line == 0) return;
    if (!slots_.contains(line)) {
      slots_[line] = address;
    } else if (slots_[line] != address) {
      extras_.push_back({address, line});
    }
  }
  void End(std::uint32_t address) {
    if (slots_.empty() || slots_.rbegin()->first == 0xFFFFFFFFu) return;
    for (const auto& [line, a] : slots_) {
      if (a == address) return;
    }
    slots_[slots_.rbegin()->first + 1] = address;
  }
  void Flush(bool with_extras, Rows& out) {
    for (const auto& [l, address] : slots_) {
      out.push_back({address, l});
      if (with_extras) {
        for (const auto& e : extras_) {
          if (e.second == l && e.first != address) out.push_back(e);
        }
      }
    }
    Clear();
  }
  void Clear() {
    slots_.clear();
    extras_.clear();
  }

 private:
  std::map<std::uint32_t, std::uint32_t> slots_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> extras_;
};

TEST(LineRowTable, MatchesTheFullScan) {
  std::mt19937 random(7);
  // Lines cluster like a real unit's, around the first line, the end of a
  // large source, the edge of the directly indexed lines and the wrap of the
  // line register; the last programs scatter lines over all 32 bits (each
  // met again and again) and flush rarely, so that the far table fills and
  // grows.
  const std::uint32_t bases[] = {21, 99990, 500000, kDenseLineLimit - 20, 0xFFFFFFF0u};
  for (int program = 0; program < 22; ++program) {
    const bool with_extras = program % 3 != 0;
    const bool scatter = program >= 20;
    const std::uint32_t base = bases[program % 5] + (program % 5 == 0 ? random() % 3000 : 0);
    LineRowTable table;
    ScanModel model;
    Rows got, expected;
    std::vector<std::uint32_t> scattered(1024);
    for (std::uint32_t& line : scattered) line = random();
    for (int step = 0; step < (scatter ? 4000 : 250); ++step) {
      const std::uint32_t line = scatter ? scattered[random() % 1024] : base + random() % 40 - 20;
      const std::uint32_t address = 0x1000 + random() % 64;
      int op = random() % 10;
      if (scatter && (op < 2 || op == 9) && random() % 40 != 0) op = 2;
      switch (op) {
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
        case 9:
          table.Clear();
          model.Clear();
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
