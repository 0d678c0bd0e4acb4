#include <gtest/gtest.h>

#include "app/run_options.h"

namespace dwarfsift {
namespace {

TEST(ParseHexValue, Basic) { EXPECT_EQ(ParseHexValue("0x1F").value, 31u); }

}  // namespace
}  // namespace dwarfsift
