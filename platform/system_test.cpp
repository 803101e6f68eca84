#include "platform/system.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "testing/volume_fixture.h"

namespace quillet {
namespace {

TEST(SystemTest, AppendFileIsHeldExclusivelyAndNeverTruncated) {
  testing::ScratchFolder dir;
  const std::string path = dir / "log";
  {
    auto first = openExclusiveAppend(path);
    ASSERT_TRUE(first.ok());
    first.value()->append("one\r\n");
    auto second = openExclusiveAppend(path);
    EXPECT_FALSE(second.ok());
    first.value()->append("two\r\n");
    first.value()->close();
  }
  auto third = openExclusiveAppend(path);
  ASSERT_TRUE(third.ok());
  third.value()->append("three\r\n");
  third.value()->close();
  EXPECT_EQ(testing::readFile(path), "one\r\ntwo\r\nthree\r\n");
  EXPECT_FALSE(openExclusiveAppend(dir / "missing/log").ok());
}

TEST(SystemTest, ProgramPathAndUserFoldersAreAbsolute) {
  EXPECT_EQ(runningProgramPath().front(), '/');
  ::setenv("XDG_STATE_HOME", "/somewhere/state", 1);
  EXPECT_EQ(userStateFolder(), "/somewhere/state/talvane-quillet");
  ::setenv("XDG_STATE_HOME", "relative", 1);  // ignored, as the base directory rules say
  ::setenv("HOME", "/home/tester", 1);
  EXPECT_EQ(userStateFolder(), "/home/tester/.local/state/talvane-quillet");
  ::unsetenv("XDG_STATE_HOME");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(userConfigFolder(), "/home/tester/.config/talvane-quillet");
}

TEST(SystemTest, FolderTreeIsCreatedAndWritabilityReported) {
  testing::ScratchFolder dir;
  ASSERT_TRUE(createFolderTree(dir / "a/b/c").ok());
  EXPECT_TRUE(folderIsWritable(dir / "a/b/c"));
  EXPECT_FALSE(folderIsWritable(dir / "a/none"));
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 1 << 20);
  ::mount("tmpfs", tmp->path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
  EXPECT_FALSE(folderIsWritable(tmp->path()));
}

}  // namespace
}  // namespace quillet
