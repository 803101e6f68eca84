#include "frontend/folder_browsing.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(TrimInitialFolderTest, DropsTrailingBlanksThenOneSeparator) {
  EXPECT_EQ(trimInitialFolder("C:\\Test\\"), "C:\\Test");
  EXPECT_EQ(trimInitialFolder("C:\\Test\\  "), "C:\\Test");
  EXPECT_EQ(trimInitialFolder("/data/run/\t"), "/data/run");
  EXPECT_EQ(trimInitialFolder("C:\\Test\\\\"), "C:\\Test\\") << "only one separator goes";
  EXPECT_EQ(trimInitialFolder("C:\\Test"), "C:\\Test");
  EXPECT_EQ(trimInitialFolder("  "), "");
  EXPECT_EQ(trimInitialFolder(""), "");
}

}  // namespace
}  // namespace quillet
