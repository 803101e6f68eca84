// Seeded runs and the flushes a run may ask for, through the fake file system (which keeps the
// bytes written and records every flush in order).
#include <gtest/gtest.h>

#include "engine/block_identity.h"
#include "engine/file_creation.h"
#include "engine/generate_by_files_number.h"
#include "engine/worker_thread.h"
#include "testing/engine_harness.h"
#include "testing/fake_file_system.h"

namespace quillet {
namespace {

using test_support::EngineHarness;
using test_support::FakeFileSystem;

std::vector<std::string> effectsStartingWith(const FakeFileSystem& fs, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& e : fs.effects()) {
    if (e.rfind(prefix, 0) == 0) out.push_back(e);
  }
  return out;
}

class RunSeedTest : public ::testing::Test {
 protected:
  RunSeedTest() {
    fs.keepContent = true;
    fs.addFolder("/root");
    h.job.rootFolder = "/root/";
    h.job.clusterSize = 4096;
  }
  // The sizes of the files a folder gets, after `earlier` draws of folders filled before it.
  std::vector<std::int64_t> draws(const std::string& folder, int earlier) {
    FakeFileSystem fake;
    fake.addFolder("/root/y");
    EngineHarness run{fake};
    run.job.rootFolder = "/root/";
    run.job.byAllSize = false;
    run.job.minFiles = 1;
    run.job.maxFiles = 30;
    run.job.minFileSize = 1;
    run.job.maxFileSize = 5000;
    run.job.runSeed = 99;
    run.job.seedGiven = seeded;
    for (int i = 0; i < earlier; ++i) run.ctx.random.rand();
    EXPECT_EQ(generateByFilesNumber(folder, run.ctx), GenerationResult::Done);
    std::vector<std::int64_t> sizes;
    for (const auto& [path, file] : fake.files()) sizes.push_back(file.size);
    return sizes;
  }

  FakeFileSystem fs;
  EngineHarness h{fs};
  bool seeded = true;
};

TEST_F(RunSeedTest, AFileCutShortByAFullDiskHoldsAPrefixOfItsIdentifiedContent) {
  h.job.runSeed = 0xABCDEF0123456789ull;
  fs.freeBytes = 300 * 1024 + 5;
  std::int64_t counter = 0, createdHere = 0;
  bool usedUp = false;
  EXPECT_EQ(createNextFile("/root/", counter, 1 << 20, h.ctx, createdHere, FullVolume::Report, usedUp),
            GenerationResult::VolumeFull);
  const auto partial = fs.files().at("/root/a").content;
  ASSERT_EQ(partial.size(), 300u * 1024 + 5);
  std::vector<std::uint8_t> expected(partial.size());
  fillIdentifiedContent(h.job.runSeed, fileIdentity("a"), 1 << 20, 0, expected.data(), expected.size());
  EXPECT_EQ(partial, expected);
}

TEST_F(RunSeedTest, SeededDrawsOfAFolderDoNotDependOnTheFoldersFilledBeforeIt) {
  const auto alone = draws("/root/y/", 0);
  EXPECT_EQ(draws("/root/y/", 7), alone);
  EXPECT_GT(alone.size(), 1u);
  EXPECT_NE(draws("/root/", 0), alone);  // another folder, other draws

  // Without a seed the count of a folder continues the previous folder's sequence, as it always has.
  seeded = false;
  EXPECT_NE(draws("/root/y/", 7), draws("/root/y/", 0));
}

TEST_F(RunSeedTest, FileSyncFlushesEachFileBeforeClosingAndAFailedFlushIsNeverCounted) {
  h.job.sync = SyncMode::File;
  std::int64_t counter = 0, createdHere = 0;
  bool usedUp = false;
  ASSERT_EQ(createNextFile("/root/", counter, 5000, h.ctx, createdHere, FullVolume::Report, usedUp),
            GenerationResult::Done);
  h.job.fillRandom = false;  // an allocation is flushed too
  ASSERT_EQ(createNextFile("/root/", counter, 8192, h.ctx, createdHere, FullVolume::Report, usedUp),
            GenerationResult::Done);
  const auto effects = fs.effects();
  const std::vector<std::string> tail(effects.end() - 7, effects.end());
  EXPECT_EQ(tail,
            (std::vector<std::string>{"write /root/a 5000", "sync /root/a", "close /root/a", "create /root/b",
                                      "allocate /root/b 8192", "sync /root/b", "close /root/b"}));
  EXPECT_EQ(h.job.filesCreated, 2);

  // An I/O error, or a full thin volume whose file system still shows free space: lost data,
  // reported as a failed write, the run ends and the file is not counted.
  h.job.fillRandom = true;
  for (const ErrorKind kind : {ErrorKind::Other, ErrorKind::DiskFull}) {
    fs.failSyncContaining = "/root/";
    fs.failSyncKind = kind;
    h.job.stopRequested = false;
    EXPECT_EQ(createNextFile("/root/", counter, 3000, h.ctx, createdHere, FullVolume::Report, usedUp),
              GenerationResult::PathFailed);
    EXPECT_EQ(h.job.filesCreated, 2);
    EXPECT_TRUE(h.job.stopRequested);
    ASSERT_FALSE(h.presenter.shown().empty());
    EXPECT_EQ(h.presenter.shown().back().kind, FailureKind::WriteFile);
    EXPECT_EQ(h.presenter.shown().back().path.rfind("/root/", 0), 0u) << h.presenter.shown().back().path;
  }

  // A flush that fails because the volume really is full ends the run as full.
  h.job.stopRequested = false;
  fs.freeBytes = 100;
  EXPECT_EQ(createNextFile("/root/", counter, 50, h.ctx, createdHere, FullVolume::Report, usedUp),
            GenerationResult::VolumeFull);
  EXPECT_EQ(h.job.filesCreated, 2);
}

class EndSyncTest : public ::testing::Test {
 protected:
  EndSyncTest() {
    fs.addFolder("/root");
    h.job.rootFolder = "/root/";
    h.job.minFileSize = h.job.maxFileSize = 2000;
    h.job.allSize = 10000;
    h.job.sync = SyncMode::End;
  }
  GenerationResult run() {
    const auto result = runWorker(h.job, h.services);
    EXPECT_EQ(h.job.snapshot().result, result);
    return result;
  }
  FakeFileSystem fs;
  EngineHarness h{fs};
};

TEST_F(EndSyncTest, FlushesTheVolumeOnceAfterTheLastFile) {
  EXPECT_EQ(run(), GenerationResult::Done);
  const auto effects = fs.effects();
  ASSERT_FALSE(effects.empty());
  EXPECT_EQ(effects.back(), "syncfs /root");
  EXPECT_EQ(effectsStartingWith(fs, "syncfs").size(), 1u);
  EXPECT_TRUE(effectsStartingWith(fs, "sync ").empty());
  EXPECT_TRUE(h.job.volumeSynced);

  // Without the mode nothing is flushed; the content seed is still drawn from the clock's ticks.
  FakeFileSystem plain;
  plain.addFolder("/root");
  EngineHarness p{plain};
  p.job.rootFolder = "/root/";
  p.job.minFileSize = p.job.maxFileSize = 2000;
  p.job.allSize = 4000;
  EXPECT_EQ(runWorker(p.job, p.services), GenerationResult::Done);
  EXPECT_TRUE(effectsStartingWith(plain, "sync").empty());
  EXPECT_FALSE(p.job.volumeSynced);
  EXPECT_EQ(p.job.runSeed, drawnRunSeed(p.clock));
  EXPECT_EQ(p.job.firstSeed, p.clock.secondsSinceEpoch());
}

TEST_F(EndSyncTest, AFailedFlushFailsTheRunAndARefusedOneIsOnlyNoted) {
  fs.volumeSyncStatus = Status::failure(ErrorKind::Other, 5, "/root", "Input/output error");
  EXPECT_EQ(run(), GenerationResult::PathFailed);
  ASSERT_EQ(h.presenter.shown().size(), 1u);
  EXPECT_EQ(h.presenter.shown()[0].kind, FailureKind::VolumeFlush);
  EXPECT_EQ(h.presenter.shown()[0].path, "/root");
  EXPECT_EQ(h.presenter.shown()[0].status.cause(), "Input/output error");
  EXPECT_FALSE(h.job.volumeSynced);

  FakeFileSystem refusing;
  refusing.addFolder("/root");
  refusing.volumeSyncStatus =
      Status::failure(ErrorKind::Unsupported, 5, "C:\\", "flushing the volume needs administrator rights");
  EngineHarness r{refusing};
  r.job.rootFolder = "/root/";
  r.job.minFileSize = r.job.maxFileSize = r.job.allSize = 2000;
  r.job.sync = SyncMode::End;
  EXPECT_EQ(runWorker(r.job, r.services), GenerationResult::Done);
  EXPECT_FALSE(r.job.volumeSynced);
  EXPECT_EQ(r.job.volumeSyncNote,
            "the volume was not flushed: C:\\: flushing the volume needs administrator rights");
  EXPECT_EQ(r.presenter.notices(), std::vector<std::string>{r.job.volumeSyncNote});
  EXPECT_TRUE(r.presenter.shown().empty());

  // With a journal the refusal acknowledged nothing: the run fails rather than record no file.
  struct Journal final : FlushJournal {
    Status begin(std::uint64_t) override { return {}; }
    Status acknowledge(const AcknowledgedFile& file) override {
      files.push_back(file.path);
      return {};
    }
    Status finish() override { return {}; }
    const std::string& path() const override { return name; }
    std::string name = "J:\\j.jsonl";
    std::vector<std::string> files;
  } journal;
  EngineHarness j{refusing};
  j.job.rootFolder = "/root/";
  j.job.minFileSize = j.job.maxFileSize = j.job.allSize = 2000;
  j.job.sync = SyncMode::End;
  j.job.journal = &journal;
  EXPECT_EQ(runWorker(j.job, j.services), GenerationResult::PathFailed);
  EXPECT_TRUE(journal.files.empty());
  ASSERT_EQ(j.presenter.shown().size(), 1u);
  EXPECT_EQ(j.presenter.shown()[0].kind, FailureKind::JournalVolumeFlush);
  EXPECT_EQ(j.presenter.shown()[0].path, "/root");
  EXPECT_EQ(j.presenter.shown()[0].status.cause(), "flushing the volume needs administrator rights");
}

}  // namespace
}  // namespace quillet
