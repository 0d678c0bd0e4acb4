#include <gtest/gtest.h>

#include "symbols/member_area.h"
#include "symbols/symbol_record.h"

namespace dwarfsift {
namespace {

TEST(MemberArea, HoldsRecordsUpToItsCapacity) {
  MemberArea<int> area(5000);
  EXPECT_FALSE(area.Append(1)) << "an area that was never created stores nothing";
  ASSERT_TRUE(area.Create());
  EXPECT_TRUE(area.exists());
  // Grows past its first block, keeps every record in order, and refuses
  // the record beyond its capacity.
  for (int i = 0; i < 5000; ++i) ASSERT_TRUE(area.Append(i * 3)) << i;
  EXPECT_EQ(area.room(), 0u);
  EXPECT_FALSE(area.Append(-1));
  EXPECT_EQ(area.size(), 5000u);
  for (int i = 0; i < 5000; i += 997) EXPECT_EQ(area[i], i * 3);
  area.Release();
  EXPECT_FALSE(area.exists());
  EXPECT_EQ(area.size(), 0u);
  EXPECT_FALSE(area.Append(1));
}

TEST(MemberArea, RunCapacityIsTheLogicalLimitOnly) {
  MemberArea<SymbolRecord> area;
  EXPECT_EQ(area.capacity(), 200000u);
  ASSERT_TRUE(area.Create());
  SymbolRecord record{};
  record.nest = 1;
  ASSERT_TRUE(area.Append(record));
  EXPECT_EQ(area.room(), 199999u);
  EXPECT_EQ(area[0].nest, 1);
}

}  // namespace
}  // namespace dwarfsift
