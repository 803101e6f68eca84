// The process services every system promises alike, run on each build (POSIX and Win32). What only
// one system does (flock's neighbours, share-mode readers, environment variable names) stays in
// system_test.cpp and win32_system_test.cpp.
#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

TEST(SystemContractTest, AppendFileIsHeldExclusivelyAndNeverTruncated) {
  test_support::ScratchFolder dir;
  const std::string path = joinPath(dir.path(), "scripts.log");
  {
    auto first = openExclusiveAppend(path);
    ASSERT_TRUE(first.ok()) << first.status().message();
    first.value()->append("one\r\n");
    EXPECT_FALSE(openExclusiveAppend(path).ok()) << "a second holder while the first is open";
    first.value()->append("two\r\n");
    first.value()->close();
  }
  auto third = openExclusiveAppend(path);
  ASSERT_TRUE(third.ok());
  third.value()->append("three\r\n");
  third.value()->close();
  EXPECT_EQ(test_support::readFile(path), "one\r\ntwo\r\nthree\r\n");

  const auto missing = openExclusiveAppend(joinPath(joinPath(dir.path(), "missing"), "scripts.log"));
  EXPECT_EQ(missing.status().kind(), ErrorKind::WrongPath);
  EXPECT_NE(missing.status().message().find("missing"), std::string::npos) << "the error names the path";
}

TEST(SystemContractTest, FolderTreesAreCreatedWholeAndWritabilityReported) {
  test_support::ScratchFolder dir;
  const std::string deep = joinPath(joinPath(joinPath(dir.path(), "a"), "b"), "c");
  ASSERT_TRUE(createFolderTree(deep).ok());
  EXPECT_TRUE(folderIsWritable(deep));
  EXPECT_TRUE(createFolderTree(deep).ok()) << "existing folders are passed";
  EXPECT_FALSE(folderIsWritable(joinPath(joinPath(dir.path(), "a"), "none")));
  // The writability probe leaves nothing behind.
  auto fs = makeSystemFileSystem();
  auto reader = fs->openFolder(deep);
  ASSERT_TRUE(reader.ok()) << reader.status().message();
  FolderEntry entry;
  const auto next = reader.value()->next(entry);
  ASSERT_TRUE(next.ok()) << next.status().message();
  EXPECT_FALSE(next.value()) << "left behind: " << entry.name;
}

TEST(SystemContractTest, ProgramPathAndUserFoldersAreAbsolute) {
  EXPECT_TRUE(isAbsolutePath(runningProgramPath())) << runningProgramPath();
  EXPECT_TRUE(isAbsolutePath(userStateFolder())) << userStateFolder();
  EXPECT_TRUE(isAbsolutePath(userConfigFolder())) << userConfigFolder();
}

}  // namespace
}  // namespace quillet
