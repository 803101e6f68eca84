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

TEST(PathTest, TheSettingsDefaultRootStandsForTestInTheHomeFolder) {
  EXPECT_EQ(displayedRootFolder("C:\\Test\\", "/home/u/"), "/home/u/Test/");
  EXPECT_EQ(displayedRootFolder("C:\\Test\\", "/"), "/Test/");
  EXPECT_EQ(displayedRootFolder("/data/run/", "/home/u"), "/data/run/");
  EXPECT_EQ(displayedRootFolder("c:\\test\\", "/home/u"), "c:\\test\\");
}

}  // namespace
}  // namespace quillet
