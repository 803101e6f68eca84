// Generation by files number on tmpfs volumes.
#include "engine/generate_by_files_number.h"

#include <gtest/gtest.h>

#include <map>

#include "engine/names.h"
#include "testing/engine_harness.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using test_support::EngineHarness;

class FilesNumberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    vol = test_support::MountedVolume::tmpfs(32 << 20, reason);
    if (!vol) GTEST_SKIP() << reason;
    root = vol->path() + "/";
    h.job.byAllSize = false;
    h.job.clusterSize = 4096;
    h.job.minFileSize = h.job.maxFileSize = 100;
  }
  std::unique_ptr<test_support::MountedVolume> vol;
  std::string root;
  std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  EngineHarness h{*fs};
};

TEST_F(FilesNumberTest, EveryFolderGetsItsOwnNamesFromA) {
  fs->createFolder(*vol / "sub");
  h.job.minFiles = h.job.maxFiles = 3;
  h.job.recurseSubfolders = true;
  EXPECT_EQ(generateByFilesNumber(root, h.ctx), GenerationResult::Done);
  for (const char* p : {"a", "b", "c", "sub/a", "sub/b", "sub/c"})
    EXPECT_EQ(test_support::fileSize(*vol / p), 100) << p;
  EXPECT_EQ(h.job.filesCreated, 6);
  EXPECT_EQ(h.job.dirsProcessed, 2u);
  EXPECT_EQ(h.job.folderFilesPlanned, 3);
}

TEST_F(FilesNumberTest, NoFilesPlannedStillVisitsSubFoldersButNeverHiddenOnes) {
  fs->createFolder(*vol / "x");
  fs->createFolder(*vol / "x/y");
  fs->createFolder(*vol / ".hidden");
  h.job.minFiles = h.job.maxFiles = 0;
  h.job.recurseSubfolders = true;
  EXPECT_EQ(generateByFilesNumber(root, h.ctx), GenerationResult::Done);
  EXPECT_EQ(h.job.dirsProcessed, 3u);

  h.job.minFiles = h.job.maxFiles = 1;
  h.job.dirsProcessed = 1;
  h.job.recurseSubfolders = false;
  EXPECT_EQ(generateByFilesNumber(root, h.ctx), GenerationResult::Done);
  EXPECT_EQ(h.job.dirsProcessed, 1u);
  EXPECT_EQ(test_support::fileSize(*vol / "x/a"), -1);
  EXPECT_EQ(test_support::fileSize(*vol / ".hidden/a"), -1);
}

TEST_F(FilesNumberTest, LimitSizeCutsTheLastFileThenEndsTheRun) {
  h.job.minFiles = h.job.maxFiles = 5;
  h.job.minFileSize = h.job.maxFileSize = 600 * 1024;
  h.job.useLimitSize = true;
  h.job.limitSize = 1 << 20;
  EXPECT_EQ(generateByFilesNumber(root, h.ctx), GenerationResult::LimitSizeReached);
  EXPECT_EQ(test_support::fileSize(*vol / "a"), 600 * 1024);
  EXPECT_EQ(test_support::fileSize(*vol / "b"), 424 * 1024);
  EXPECT_EQ(test_support::fileSize(*vol / "c"), -1);
  EXPECT_EQ(h.job.currentSize, 1 << 20);
}

TEST_F(FilesNumberTest, UsedUpMaskEndsOnlyTheFolderAndTheRunGoesOn) {
  fs->createFolder(*vol / "sub");
  h.job.minFiles = h.job.maxFiles = 50;
  h.job.recurseSubfolders = true;
  h.job.useFileMask = true;
  h.job.fileMask = "?";
  h.job.fileNameSpace = 36;
  EXPECT_EQ(generateByFilesNumber(root, h.ctx), GenerationResult::Done);
  EXPECT_EQ(h.job.filesCreated, 72);
  EXPECT_EQ(test_support::fileSize(*vol / "sub/9"), 100);
}

TEST_F(FilesNumberTest, FullVolumeIsAlwaysReported) {
  h.job.minFiles = h.job.maxFiles = 1000;
  h.job.minFileSize = h.job.maxFileSize = 1 << 20;
  EXPECT_EQ(generateByFilesNumber(root, h.ctx), GenerationResult::VolumeFull);
  ASSERT_EQ(h.presenter.shown().size(), 1u);
  EXPECT_EQ(h.presenter.shown()[0].kind, FailureKind::VolumeFull);
  EXPECT_EQ(h.presenter.shown()[0].path, vol->path());
  h.job.maxFileSize = 0;
  EXPECT_EQ(generateByFilesNumber(root, h.ctx), GenerationResult::MaxSizeZero);
}

}  // namespace
}  // namespace quillet
