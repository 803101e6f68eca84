// The verify engine over the in-memory file system: a seeded run made by the engine itself checks
// clean with its seed told from the data, links are never opened, and the dry run that re-derives
// a run's files gives exactly the files the run made.
#include "engine/verify.h"

#include <gtest/gtest.h>

#include <set>

#include "engine/verify_plan.h"
#include "engine/worker_thread.h"
#include "testing/engine_harness.h"
#include "testing/fake_file_system.h"

namespace quillet {
namespace {

using testing::EngineHarness;
using testing::FakeFileSystem;

void seededFilesNumberRun(GenerationJob& job) {
  job.rootFolder = "/root/";
  job.byAllSize = false;
  job.recurseSubfolders = true;
  job.minFiles = 2;
  job.maxFiles = 9;
  job.minFileSize = 1;
  job.maxFileSize = 70000;
  job.runSeed = 4242;
  job.seedGiven = true;
}

TEST(VerifyEngineTest, SeededRunChecksCleanAndItsLinksAreNeverOpened) {
  FakeFileSystem fs;
  fs.keepContent = true;
  fs.addFolder("/root");
  fs.addFolder("/root/sub");
  EngineHarness h{fs};
  seededFilesNumberRun(h.job);
  std::atomic<int> exitCode{0};
  ASSERT_EQ(runWorker(h.job, h.services, exitCode), GenerationResult::Done);
  fs.addLink("/root/link");
  fs.addLink("/root/sub/link");
  std::int64_t made = 0;
  for (const auto& [path, file] : fs.files()) made += file.size;

  VerifyJob job;
  job.rootFolder = "/root/";
  VerifyResult result;
  runVerify(job, fs, result);
  EXPECT_TRUE(job.finished);
  EXPECT_EQ(result.seedSource, SeedSource::FromData);
  EXPECT_EQ(result.seed, 4242u);
  EXPECT_EQ(result.files, h.job.filesCreated.load());
  EXPECT_EQ(result.intactBytes(), made);
  EXPECT_FALSE(result.anyDamage());
  EXPECT_EQ(job.bytesChecked.load(), made);
  for (const auto& e : fs.effects()) EXPECT_EQ(e.find("link"), std::string::npos) << e;

  // Checked against another seed, every block is another run's.
  VerifyJob other;
  other.rootFolder = "/root/";
  other.seed = 1;
  runVerify(other, fs, result);
  EXPECT_EQ(result.intactBytes(), 0);
  EXPECT_EQ(result.classBytes[static_cast<std::size_t>(BlockClass::Stale)], made);
}

TEST(VerifyEngineTest, DryRunGivesTheFilesTheRunMade) {
  FakeFileSystem fs;
  fs.addFolder("/root");
  fs.addFolder("/root/a");
  fs.addFolder("/root/a/b");
  EngineHarness h{fs};
  seededFilesNumberRun(h.job);
  std::atomic<int> exitCode{0};
  ASSERT_EQ(runWorker(h.job, h.services, exitCode), GenerationResult::Done);
  std::set<std::pair<std::string, std::int64_t>> made;
  for (const auto& [path, file] : fs.files()) made.emplace(path.substr(std::string("/root/").size()), file.size);

  GenerationJob planJob;
  seededFilesNumberRun(planJob);
  PlanVolume volume{4096, "EXT4", std::int64_t{1} << 50, std::int64_t{1} << 51};
  std::string why;
  // The stand-in volume holds the tree the run found.
  const auto plan = planRun(
      planJob, volume,
      [](GenerationJob&, FileSystem& planFs) {
        ASSERT_TRUE(planFs.createFolder("/root/a").ok());
        ASSERT_TRUE(planFs.createFolder("/root/a/b").ok());
      },
      why);
  ASSERT_TRUE(plan.has_value()) << why;
  std::set<std::pair<std::string, std::int64_t>> planned;
  for (const auto& p : *plan) planned.emplace(p.relativePath, p.size);
  EXPECT_EQ(planned, made);
  EXPECT_EQ(plan->size(), made.size());

  GenerationJob unseeded;
  seededFilesNumberRun(unseeded);
  unseeded.seedGiven = false;
  EXPECT_FALSE(planRun(unseeded, volume, [](GenerationJob&, FileSystem&) {}, why).has_value());
  EXPECT_NE(why.find("/seed"), std::string::npos);
}

}  // namespace
}  // namespace quillet
