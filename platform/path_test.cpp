#include "platform/path.h"

#include <gtest/gtest.h>

#include <vector>

namespace quillet {
namespace {

TEST(PathTest, TrailingSeparatorIsAddedOnceAndRootsKeepTheirs) {
  EXPECT_EQ(withTrailingSeparator("/tmp/a"), "/tmp/a/");
  EXPECT_EQ(withTrailingSeparator("/tmp/a/"), "/tmp/a/");
  EXPECT_EQ(withTrailingSeparator(""), "");
  EXPECT_EQ(withoutTrailingSeparator("/tmp/a//"), "/tmp/a");
  EXPECT_EQ(withoutTrailingSeparator("/"), "/");
  EXPECT_EQ(joinPath("/a", "b"), "/a/b");
  EXPECT_EQ(joinPath("/a/", "b"), "/a/b");
  EXPECT_EQ(folderPart("/usr/bin/quillet"), "/usr/bin/");
  EXPECT_EQ(folderPart("build/quillet"), "build/");
  EXPECT_EQ(folderPart("quillet"), "");
}

TEST(PathTest, FolderPrefixesStartAtTheSecondCharacter) {
  std::vector<std::string> seen;
  forEachFolderPrefix("/new/deeper/", [&](std::string_view p) {
    seen.emplace_back(p);
    return true;
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"/new", "/new/deeper"}));

  seen.clear();
  forEachFolderPrefix("rel/x/", [&](std::string_view p) {
    seen.emplace_back(p);
    return p != "rel";  // stop early
  });
  EXPECT_EQ(seen, (std::vector<std::string>{"rel"}));
}

TEST(PathTest, OnlyPathsFromTheRootAreAbsolute) {
  EXPECT_TRUE(isAbsolutePath("/"));
  EXPECT_TRUE(isAbsolutePath("/mnt/test/"));
  EXPECT_FALSE(isAbsolutePath(""));
  EXPECT_FALSE(isAbsolutePath("   /"));  // a root of spaces, as the dialog appends the separator
  EXPECT_FALSE(isAbsolutePath("data/"));
  EXPECT_FALSE(isAbsolutePath("./data"));
  EXPECT_FALSE(isAbsolutePath("C:\\test"));
}

TEST(PathTest, ConfinedRelativePathsCannotClimbOrStartAtTheTop) {
  EXPECT_EQ(confinedRelativePath("../../esc???"), "esc???");
  EXPECT_EQ(confinedRelativePath("/../../../../f?"), "f?");
  EXPECT_EQ(confinedRelativePath("a//./b/../c/"), "a/b/c");
  EXPECT_EQ(confinedRelativePath(".../x"), "x");
  EXPECT_EQ(confinedRelativePath("//"), "");
  // Names that only hold dots among other characters are names.
  EXPECT_EQ(confinedRelativePath("..a/b..c/.d"), "..a/b..c/.d");
  // A backslash is an ordinary character in a POSIX name.
  EXPECT_EQ(confinedRelativePath("a\\..\\b"), "a\\..\\b");
}

TEST(PathTest, TheSettingsDefaultRootStandsForTestInTheHomeFolder) {
  EXPECT_EQ(displayedRootFolder("C:\\Test\\", "/home/u/"), "/home/u/Test/");
  EXPECT_EQ(displayedRootFolder("C:\\Test\\", "/"), "/Test/");
  EXPECT_EQ(displayedRootFolder("/data/run/", "/home/u"), "/data/run/");
  EXPECT_EQ(displayedRootFolder("c:\\test\\", "/home/u"), "c:\\test\\");
}

}  // namespace
}  // namespace quillet
