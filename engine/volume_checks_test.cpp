#include "engine/volume_checks.h"

#include <gtest/gtest.h>

#include <fstream>

#include "testing/engine_harness.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

TEST(VolumeChecksTest, FileSystemLimitsFollowTheTableAndCompareWholeNames) {
  EXPECT_EQ(fileSystemSizeLimit("NTFS"), 0);
  EXPECT_EQ(fileSystemSizeLimit("FAT32"), 4294967295LL);
  EXPECT_EQ(fileSystemSizeLimit("FAT"), 2147483647LL);
  EXPECT_EQ(fileSystemSizeLimit("EXT3"), 4294967295LL);
  EXPECT_EQ(fileSystemSizeLimit("EXT4"), 0);
  EXPECT_EQ(fileSystemSizeLimit("TMPFS"), 0);
  EXPECT_EQ(fileSystemSizeLimit("NTFSX"), 2147483647LL);
  EXPECT_EQ(fileSystemSizeLimit(""), 2147483647LL);
}

TEST(VolumeChecksTest, RealVolumesSetTheirLimitAndRoot) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 1 << 20);
  auto fs = makeSystemFileSystem();
  GenerationJob job;
  job.rootFolder = *vol / "not/there/";
  setFileSystemLimit(job, *fs);
  EXPECT_EQ(job.driveRoot, vol->path() + "/");
  EXPECT_EQ(job.fsFileSizeLimit, 0);
}

TEST(VolumeChecksTest, RootIsCreatedPrefixByPrefixOrTheFailingPrefixIsReported) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 1 << 20);
  auto fs = makeSystemFileSystem();
  test_support::EngineHarness h{*fs};
  h.job.rootFolder = *vol / "new/deeper/";
  EXPECT_TRUE(createRootFolder(h.job, h.services));
  EXPECT_TRUE(fs->exists(*vol / "new/deeper"));

  std::ofstream(*vol / "file") << "x";
  h.job.rootFolder = *vol / "file/sub/more/";
  EXPECT_FALSE(createRootFolder(h.job, h.services));
  ASSERT_EQ(h.presenter.shown().size(), 1u);
  EXPECT_EQ(h.presenter.shown()[0].kind, FailureKind::RootPath);
  EXPECT_EQ(h.presenter.shown()[0].path, *vol / "file/sub");
  EXPECT_EQ(test_support::readFile(*vol / "file"), "x");
}

}  // namespace
}  // namespace quillet
