// Path rules with the Windows separator: "\" native, "/" accepted, drive roots keep theirs and a
// drive prefix is never a folder to create.
#include <gtest/gtest.h>

#include <vector>

#include "platform/path.h"

namespace quillet {
namespace {

TEST(Win32PathTest, BackslashIsNativeAndRootsKeepTheirSeparator) {
  EXPECT_EQ(withTrailingSeparator("C:\\Test"), "C:\\Test\\");
  EXPECT_EQ(withTrailingSeparator("C:/Test/"), "C:/Test/");
  EXPECT_EQ(withoutTrailingSeparator("C:\\Test\\\\"), "C:\\Test");
  EXPECT_EQ(withoutTrailingSeparator("C:\\"), "C:\\");
  EXPECT_EQ(joinPath("C:\\a", "b"), "C:\\a\\b");
  EXPECT_EQ(joinPath("C:/a/", "b"), "C:/a/b");
}

TEST(Win32PathTest, DrivePrefixIsSkippedWhenWalkingAFolderPath) {
  std::vector<std::string> seen;
  const auto collect = [&](std::string_view p) {
    seen.emplace_back(p);
    return true;
  };
  forEachFolderPrefix("X:\\new\\deeper\\", collect);
  EXPECT_EQ(seen, (std::vector<std::string>{"X:\\new", "X:\\new\\deeper"}));
  seen.clear();
  forEachFolderPrefix("q:/mixed\\seps/", collect);
  EXPECT_EQ(seen, (std::vector<std::string>{"q:/mixed", "q:/mixed\\seps"}));
}

TEST(Win32PathTest, ADriveRootOrANetworkShareMakesAPathAbsolute) {
  for (const char* path : {"C:\\", "c:\\test", "Z:/mixed\\seps", "\\\\server\\share", "\\\\server\\share\\x",
                           "//server/share"}) {
    EXPECT_TRUE(isAbsolutePath(path)) << path;
  }
  for (const char* path : {"", "   \\", "test\\", "C:", "C:test", "\\test", "\\\\server", "\\\\server\\",
                           "\\\\\\share", "1:\\x"}) {
    EXPECT_FALSE(isAbsolutePath(path)) << path;
  }
}

TEST(Win32PathTest, ConfinedRelativePathsDropDrivesClimbsAndUncStarts) {
  EXPECT_EQ(confinedRelativePath("..\\..\\esc???"), "esc???");
  EXPECT_EQ(confinedRelativePath("C:\\Windows\\f?"), "Windows\\f?");
  EXPECT_EQ(confinedRelativePath("c:..\\x"), "x");
  EXPECT_EQ(confinedRelativePath("\\\\server\\share\\f"), "server\\share\\f");
  EXPECT_EQ(confinedRelativePath("a/. ./.. \\b"), "a\\b");
  EXPECT_EQ(confinedRelativePath("sub/????"), "sub\\????");
}

TEST(Win32PathTest, TheSettingsDefaultRootIsAFolderHere) {
  EXPECT_EQ(displayedRootFolder("C:\\Test\\", "C:\\Users\\u"), "C:\\Test\\");
}

}  // namespace
}  // namespace quillet
