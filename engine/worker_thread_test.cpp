// The worker on its own thread, watched the way the progress display watches it. These tests also
// run under ThreadSanitizer.
#include "engine/worker_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "testing/engine_harness.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using namespace std::chrono_literals;

class WorkerThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    vol = test_support::MountedVolume::tmpfs(64 << 20, reason);
    if (!vol) GTEST_SKIP() << reason;
    job.rootFolder = vol->path() + "/";
  }
  std::unique_ptr<test_support::MountedVolume> vol;
  std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  test_support::FixedClock clock;
  test_support::RecordingPresenter presenter;
  EngineServices services{*fs, clock, presenter};
  GenerationJob job;
};

TEST_F(WorkerThreadTest, PolledSnapshotsSeeMonotonicCountersAndFinishedLast) {
  job.byAllSize = false;
  job.recurseSubfolders = job.makeUpTree = true;
  job.treeDeep = 2;
  job.rootSize = 5;
  job.dirsLimit = 100;
  job.minFiles = 20;
  job.maxFiles = 40;
  job.minFileSize = 1;
  job.maxFileSize = 20000;
  WorkerThread worker(job, services);
  worker.start();
  ProgressSnapshot last;
  std::vector<RunStage> stages;
  for (;;) {
    const ProgressSnapshot s = job.snapshot();
    EXPECT_GE(s.filesCreated, last.filesCreated);
    EXPECT_GE(s.currentSize, last.currentSize);
    EXPECT_GE(s.dirsCreated, last.dirsCreated);
    EXPECT_GE(s.dirsProcessed, last.dirsProcessed);
    if (stages.empty() || stages.back() != s.stage) stages.push_back(s.stage);
    last = s;
    if (s.finished) break;
    std::this_thread::sleep_for(1ms);
  }
  worker.join();
  EXPECT_EQ(job.snapshot().result, GenerationResult::Done);
  EXPECT_EQ(last.dirsCreated, 30);
  EXPECT_EQ(last.dirsCalculated, 31u);
  EXPECT_EQ(last.dirsProcessed, 31u);
  EXPECT_EQ(stages.back(), RunStage::GeneratingFiles);
  EXPECT_TRUE(std::is_sorted(stages.begin(), stages.end()));  // the stages come in their order
  // Once finished is seen, every counter already holds its final value.
  const ProgressSnapshot after = job.snapshot();
  EXPECT_EQ(after.filesCreated, last.filesCreated);
  EXPECT_EQ(after.currentSize, last.currentSize);
}

TEST_F(WorkerThreadTest, StopDuringTreeMakeUpEndsTheWholeRunWithTwo) {
  job.byAllSize = false;
  job.recurseSubfolders = job.makeUpTree = true;
  job.treeDeep = 3;
  job.rootSize = 30;
  job.dirsLimit = 30000;
  job.minFiles = job.maxFiles = 5;
  job.minFileSize = job.maxFileSize = 10;
  WorkerThread worker(job, services);
  worker.start();
  while (job.snapshot().dirsCreated < 50) std::this_thread::sleep_for(100us);
  job.requestStop();
  const auto stopped = std::chrono::steady_clock::now();
  worker.join();
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 2s);
  EXPECT_EQ(job.snapshot().result, GenerationResult::Stopped);
  EXPECT_EQ(job.snapshot().filesCreated, 0);
  EXPECT_TRUE(job.snapshot().finished);
}

TEST_F(WorkerThreadTest, AllSizeRunNamesNoStageAndStoresVolumeFull) {
  job.byAllSize = true;
  job.allPartition = true;
  job.minFileSize = 1 << 20;
  job.maxFileSize = 4 << 20;
  WorkerThread worker(job, services);
  worker.start();
  worker.join();
  EXPECT_EQ(job.snapshot().result, GenerationResult::VolumeFull);
  EXPECT_EQ(job.snapshot().stage, RunStage::Starting);
  EXPECT_EQ(job.clusterSize, fs->clusterSize(vol->path()).value());
  EXPECT_TRUE(presenter.shown().empty());
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

// After a make-up that could not see the whole tree, the folders are still counted by walking it.
TEST(WorkerFolderCountTest, FoldersBelowTheMakeUpDepthAreStillCounted) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 8 << 20);
  auto fs = makeSystemFileSystem();
  for (const char* p : {"x", "x/y", "x/y/z", "x/.hidden"}) fs->createFolder(*vol / p);
  test_support::FixedClock clock;
  test_support::RecordingPresenter presenter;
  const EngineServices services{*fs, clock, presenter};
  auto run = [&](int treeDeep, int rootSize) {
    GenerationJob job;
    job.rootFolder = vol->path() + "/";
    job.byAllSize = false;
    job.recurseSubfolders = job.makeUpTree = true;
    job.treeDeep = treeDeep;
    job.rootSize = rootSize;
    job.dirsLimit = 100;
    job.minFiles = job.maxFiles = 1;
    job.minFileSize = job.maxFileSize = 1;
    EXPECT_EQ(runWorker(job, services), GenerationResult::Done);
    return std::pair<std::uint32_t, std::int32_t>(job.dirsCalculated.load(), job.dirsCreated.load());
  };
  // Depth 1: x is met but not entered by the make-up; its y and z are found by the count.
  const auto [calculated1, created1] = run(1, 2);
  EXPECT_EQ(created1, 2);                                  // x and the new a
  EXPECT_EQ(calculated1, 1u + 4u);                         // root, x, a, x/y, x/y/z
  EXPECT_EQ(test_support::fileSize(*vol / "x/y/z/a"), 1);  // and filled
  EXPECT_EQ(test_support::fileSize(*vol / "x/.hidden/a"), -1);
  // Depth 3 enters x and x/y; the make-up sees every visible folder, so the count matches it.
  const auto [calculated3, created3] = run(3, 1);
  EXPECT_EQ(calculated3, 1u + static_cast<std::uint32_t>(created3));
  EXPECT_TRUE(fs->exists(*vol / "x/y/z/b"));  // every folder of the known tree is filled again
}

}  // namespace
}  // namespace quillet
