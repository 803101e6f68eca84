#include "engine/size_text.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(SizeTextTest, PicksTheLargestUnitThatHoldsAWholeOne) {
  EXPECT_EQ(formatSize(0), "0 b");
  EXPECT_EQ(formatSize(1023), "1023 b");
  EXPECT_EQ(formatSize(1024), "1.00 Kb");
  EXPECT_EQ(formatSize(1536), "1.50 Kb");
  EXPECT_EQ(formatSize(1048575), "1024.00 Kb");
  EXPECT_EQ(formatSize(1048576), "1.00 Mb");
  EXPECT_EQ(formatSize(1073741824), "1.00 Gb");
  EXPECT_EQ(formatSize(5LL * 1024 * 1073741824), "5120.00 Gb");
  EXPECT_EQ(formatSize(-5), "-5 b");
  EXPECT_EQ(formatSize(-(1LL << 32) + 7), "7 b");
}

}  // namespace
}  // namespace quillet
