// Generation by files number on tmpfs volumes.
#include "engine/generate_by_files_number.h"

#include <gtest/gtest.h>

#include <map>

#include "engine/names.h"
#include "testing/engine_harness.h"
#include "testing/fake_file_system.h"
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

// The stop is seen after each chunk a writer writes and before each file it begins, so a writer
// stopped on a file's last chunk leaves that file whole and the folder's next file unmade, as one
// stopped between two files does, while one stopped on an earlier chunk leaves its file cut. Either
// way nothing is begun after the stop: the folder in hand is part-filled up to that file and no
// further, which is what the verify's end rules weigh.
TEST(FilesNumberStopTest, AStoppedWriterLeavesItsFileWholeOrCutAndBeginsNoOther) {
  constexpr auto kChunk = static_cast<std::int64_t>(kWriteChunk);
  const struct {
    int stopAtWrite;  // each file is three writes: a is 0-2, b 3-5, c 6-8
    std::vector<std::int64_t> sizes;
  } rows[] = {
      {2, {3 * kChunk}},          // on a's last chunk: a whole, b never begun
      {3, {3 * kChunk, kChunk}},  // on b's first chunk: b cut
      {7, {3 * kChunk, 3 * kChunk, 2 * kChunk}},
      {8, {3 * kChunk, 3 * kChunk, 3 * kChunk}},
  };
  for (const auto& row : rows) {
    test_support::FakeFileSystem fs;
    fs.addFolder("/root");
    EngineHarness h{fs};
    h.job.rootFolder = "/root/";
    h.job.byAllSize = false;
    h.job.clusterSize = 4096;
    h.job.minFiles = h.job.maxFiles = 5;
    h.job.minFileSize = h.job.maxFileSize = 3 * kChunk;
    fs.beforeWrite = [&](int write) {
      if (write == row.stopAtWrite) h.job.requestStop();
    };
    EXPECT_EQ(generateByFilesNumber("/root/", h.ctx), GenerationResult::Stopped) << row.stopAtWrite;
    std::vector<std::int64_t> sizes;
    for (const auto& [path, file] : fs.files()) sizes.push_back(file.size);
    EXPECT_EQ(sizes, row.sizes) << row.stopAtWrite;
    // The counts are the disk's: every whole file counted, a cut one's bytes up to its last whole
    // block.
    std::int64_t whole = 0, bytes = 0;
    for (const auto size : row.sizes) {
      whole += size == 3 * kChunk;
      bytes += size == 3 * kChunk ? size : size - static_cast<std::int64_t>(kBlock);
    }
    EXPECT_EQ(h.job.filesCreated.load(), whole) << row.stopAtWrite;
    EXPECT_EQ(h.job.currentSize.load(), bytes) << row.stopAtWrite;
  }
}

}  // namespace
}  // namespace quillet
