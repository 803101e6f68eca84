// File creation through the fake file system, which reaches failures a real disk rarely shows.
#include "engine/file_creation.h"

#include <gtest/gtest.h>

#include "testing/engine_harness.h"
#include "testing/fake_file_system.h"

namespace quillet {
namespace {

using test_support::EngineHarness;
using test_support::FakeFileSystem;

class FileCreationTest : public ::testing::Test {
 protected:
  FileCreationTest() {
    fs.addFolder("/root");
    h.job.rootFolder = "/root/";
    h.job.clusterSize = 4096;
  }
  GenerationResult create(std::int64_t size, FullVolume fullVolume = FullVolume::Report) {
    bool usedUp = false;
    return createNextFile("/root/", counter, size, h.ctx, createdHere, fullVolume, usedUp);
  }

  FakeFileSystem fs;
  EngineHarness h{fs};
  std::int64_t counter = 0;
  std::int64_t createdHere = 0;
};

TEST_F(FileCreationTest, RandomContentIsWrittenAndCountedToTheByte) {
  EXPECT_EQ(create(1500), GenerationResult::Done);
  EXPECT_EQ(fs.files().at("/root/a").size, 1500);
  EXPECT_EQ(h.job.currentSize, 1500);
  EXPECT_EQ(h.job.filesCreated, 1);
  EXPECT_EQ(createdHere, 1);
  // Large files go out in gathered writes.
  EXPECT_EQ(create(600 * 1024), GenerationResult::Done);
  EXPECT_EQ(fs.files().at("/root/b").size, 600 * 1024);
  EXPECT_EQ(h.job.currentSize, 1500 + 600 * 1024);
}

TEST_F(FileCreationTest, TakenNamesAreSkippedWithoutTouchingTheExistingFile) {
  fs.addFile("/root/a", 77);
  fs.addFolder("/root/b");
  EXPECT_EQ(create(10), GenerationResult::Done);
  EXPECT_EQ(fs.files().at("/root/a").size, 77);
  EXPECT_EQ(fs.files().at("/root/c").size, 10);
  EXPECT_EQ(h.job.currentFileName, "c");
}

TEST_F(FileCreationTest, AllocationRetriesOneClusterShorterAndCountsTheDrawnSize) {
  h.job.fillRandom = false;
  fs.allocateFailures = 1;
  EXPECT_EQ(create(1 << 20), GenerationResult::Done);
  EXPECT_EQ(fs.files().at("/root/a").allocated, (1 << 20) - 4096);
  EXPECT_EQ(h.job.currentSize, 1 << 20);
  EXPECT_EQ(h.job.filesCreated, 1);

  fs.allocateFailures = 2;
  EXPECT_EQ(create(1 << 20), GenerationResult::VolumeFull);
  EXPECT_EQ(h.presenter.shown().back().kind, FailureKind::CannotAllocate);
  EXPECT_EQ(h.job.filesCreated, 1);
  EXPECT_TRUE(fs.files().at("/root/b").closed);  // the file stays, closed

  // A retry that would ask for nothing is not a success.
  fs.allocateFailures = 1;
  EXPECT_EQ(create(4096), GenerationResult::VolumeFull);
}

TEST_F(FileCreationTest, DiskFillingMidWriteEndsTheRunOnlyWhenTheVolumeIsReallyFull) {
  // Really full: reported, partial file left uncounted.
  fs.freeBytes = 300 * 1024;
  EXPECT_EQ(create(1 << 20), GenerationResult::VolumeFull);
  EXPECT_EQ(fs.files().at("/root/a").size, 300 * 1024);
  EXPECT_EQ(h.job.filesCreated, 0);
  EXPECT_EQ(h.job.currentSize, 300 * 1024);
  ASSERT_EQ(h.presenter.shown().size(), 1u);
  EXPECT_EQ(h.presenter.shown()[0].kind, FailureKind::VolumeFull);
  EXPECT_EQ(h.presenter.shown()[0].path, "/");
  EXPECT_EQ(h.presenter.shown()[0].lastFile, "a");

  // Silent when filling the volume is the goal.
  EXPECT_EQ(create(10, FullVolume::Silent), GenerationResult::VolumeFull);
  EXPECT_EQ(h.presenter.shown().size(), 1u);
}

TEST_F(FileCreationTest, DiskFullWithSpaceLeftKeepsTheShortFileAsCreated) {
  // The second chunk meets a transient "disk full" while the volume still has room.
  fs.diskFullAtWrite = 1;
  fs.diskFullPartial = 10 * 1024;
  EXPECT_EQ(create(1 << 20), GenerationResult::Done);
  EXPECT_EQ(h.job.filesCreated, 1);
  EXPECT_EQ(fs.files().at("/root/a").size, 256 * 1024 + 10 * 1024);
  EXPECT_EQ(h.job.currentSize, 256 * 1024 + 10 * 1024);
  EXPECT_TRUE(h.presenter.shown().empty());
}

TEST_F(FileCreationTest, CreationFailuresStopTheRunAndSayWhatFailed) {
  fs.failCreateContaining = "/root/";
  fs.failCreateKind = ErrorKind::WrongPath;
  EXPECT_EQ(create(10), GenerationResult::PathFailed);
  EXPECT_TRUE(h.job.stopRequested);
  EXPECT_EQ(h.presenter.shown().back().kind, FailureKind::FilePath);
  EXPECT_EQ(h.presenter.shown().back().path, "/root/a");

  // Any other cause names the file and keeps the platform's cause.
  h.job.stopRequested = false;
  fs.failCreateKind = ErrorKind::Other;
  EXPECT_EQ(create(10), GenerationResult::PathFailed);
  EXPECT_TRUE(h.job.stopRequested);
  const RunFailure other = h.presenter.shown().back();
  EXPECT_EQ(other.kind, FailureKind::CreateFile);
  EXPECT_EQ(other.path, "/root/b");
  EXPECT_EQ(other.status.kind(), ErrorKind::Other);
  EXPECT_FALSE(other.status.cause().empty());
  EXPECT_EQ(h.job.filesCreated, 0);
}

TEST_F(FileCreationTest, WriteAndCloseFailuresAreReportedAndNeverCounted) {
  // An input/output error on the second chunk: the file is not created as far as the run goes.
  fs.failWriteAt = 1;
  EXPECT_EQ(create(1 << 20), GenerationResult::PathFailed);
  EXPECT_EQ(h.job.filesCreated, 0);
  EXPECT_EQ(createdHere, 0);
  EXPECT_TRUE(h.job.stopRequested);
  ASSERT_EQ(h.presenter.shown().size(), 1u);
  EXPECT_EQ(h.presenter.shown()[0].kind, FailureKind::WriteFile);
  EXPECT_EQ(h.presenter.shown()[0].path, "/root/a");
  EXPECT_EQ(h.presenter.shown()[0].status.cause(), "input/output error");

  // A write-back failure reported when closing, written or allocated alike.
  h.job.stopRequested = false;
  fs.failCloseContaining = "/root/b";
  EXPECT_EQ(create(1500), GenerationResult::PathFailed);
  EXPECT_EQ(h.job.filesCreated, 0);
  fs.failCloseContaining = "/root/c";
  h.job.stopRequested = false;
  h.job.fillRandom = false;
  EXPECT_EQ(create(1 << 20), GenerationResult::PathFailed);
  EXPECT_EQ(h.job.filesCreated, 0);
  EXPECT_EQ(h.presenter.shown().size(), 3u);

  // A close that meets a full disk on a really full volume is a full volume.
  fs.failCloseContaining = "/root/d";
  fs.failCloseKind = ErrorKind::DiskFull;
  h.job.stopRequested = false;
  h.job.fillRandom = true;
  fs.beforeWrite = [&](int) { fs.freeBytes = 1000; };
  EXPECT_EQ(create(500), GenerationResult::VolumeFull);
  EXPECT_EQ(h.job.filesCreated, 0);
}

TEST_F(FileCreationTest, NoRoomForANewFileIsAFullVolumeAndAnUnknownFigureIsNoFigure) {
  // ENOSPC at creation: the inode table is full although bytes are free.
  fs.failCreateContaining = "/root/";
  fs.failCreateKind = ErrorKind::DiskFull;
  EXPECT_EQ(create(10), GenerationResult::VolumeFull);
  EXPECT_EQ(h.presenter.shown().back().kind, FailureKind::VolumeFull);
  EXPECT_EQ(create(10, FullVolume::Silent), GenerationResult::VolumeFull);
  EXPECT_EQ(h.presenter.shown().size(), 1u);

  // A failed free-space query is reported as what it is, never read as a full volume.
  std::int64_t freeBytes = -1;
  fs.volumeQueryFails = true;
  EXPECT_EQ(checkFreeSpace("/root/", h.ctx, freeBytes), GenerationResult::PathFailed);
  EXPECT_EQ(h.presenter.shown().back().kind, FailureKind::FolderPath);
  EXPECT_EQ(h.presenter.shown().back().path, "/root");
  EXPECT_TRUE(h.job.stopRequested);
}

TEST_F(FileCreationTest, StopDuringAWriteLeavesThePartialFileUncounted) {
  fs.beforeWrite = [&](int index) {
    if (index == 1) h.job.stopRequested = true;
  };
  EXPECT_EQ(create(1 << 20), GenerationResult::Stopped);
  // Both chunks reached the file; the block during which the stop was seen is not counted.
  EXPECT_EQ(fs.files().at("/root/a").size, 512 * 1024);
  EXPECT_EQ(h.job.currentSize, 512 * 1024 - 1024);
  EXPECT_EQ(h.job.filesCreated, 0);
  EXPECT_TRUE(fs.files().at("/root/a").closed);
}

TEST_F(FileCreationTest, FolderPathsAreCreatedPrefixByPrefix) {
  EXPECT_EQ(ensureFolderPath("/root/new/deeper/", h.ctx), GenerationResult::Done);
  EXPECT_EQ(fs.effects(), (std::vector<std::string>{"mkdir /root/new", "mkdir /root/new/deeper"}));
  fs.failFolderPath = "/root/x";
  EXPECT_EQ(ensureFolderPath("/root/x/y/", h.ctx), GenerationResult::PathFailed);
  EXPECT_EQ(h.presenter.shown().back().kind, FailureKind::FolderPath);
  EXPECT_EQ(h.presenter.shown().back().path, "/root/x");
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

TEST(FreeSpaceQueryTest, ManySmallFilesShareAFreshFigureButANearlyFullVolumeIsAskedEveryTime) {
  test_support::FakeFileSystem fs;
  fs.addFolder("/root");
  test_support::EngineHarness h{fs};
  h.job.clusterSize = 4096;
  std::int64_t freeBytes = 0;
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(checkFreeSpace("/root/", h.ctx, freeBytes, 4096), GenerationResult::Done);
    h.job.currentSize += 4096;
  }
  EXPECT_LT(fs.volumeQueries, 10);
  EXPECT_EQ(freeBytes, fs.freeBytes - 99 * 4096);  // the figure less what was written since

  // A large file asks again, and so does another folder.
  fs.volumeQueries = 0;
  checkFreeSpace("/root/", h.ctx, freeBytes, 4096);
  checkFreeSpace("/root/", h.ctx, freeBytes, fs.freeBytes);
  fs.addFolder("/other");
  checkFreeSpace("/other/", h.ctx, freeBytes, 4096);
  EXPECT_EQ(fs.volumeQueries, 2);

  // Within the margin of a full volume no figure is reused.
  test_support::FakeFileSystem tight;
  tight.addFolder("/root");
  tight.freeBytes = 32 << 20;
  test_support::EngineHarness t{tight};
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(checkFreeSpace("/root/", t.ctx, freeBytes, 4096), GenerationResult::Done);
  EXPECT_EQ(tight.volumeQueries, 10);
}

}  // namespace
}  // namespace quillet
