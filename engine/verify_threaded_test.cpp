// A verify on its worker thread while another thread reads its counters and stops it, as the
// console and the windowed progress do: run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <thread>

#include "engine/verify.h"
#include "engine/worker_thread.h"
#include "testing/engine_harness.h"
#include "testing/fake_file_system.h"

namespace quillet {
namespace {

TEST(VerifyThreadedTest, CountersAreReadAndTheStopIsSetWhileTheVerifyRuns) {
  testing::FakeFileSystem fs;
  fs.keepContent = true;
  fs.addFolder("/root");
  testing::EngineHarness h{fs};
  h.job.rootFolder = "/root/";
  h.job.byAllSize = false;
  h.job.minFiles = h.job.maxFiles = 40;
  h.job.minFileSize = h.job.maxFileSize = 5 << 20;  // several chunks each, checked on threads
  h.job.runSeed = 9;
  h.job.seedGiven = true;
  std::atomic<int> exitCode{0};
  ASSERT_EQ(runWorker(h.job, h.services, exitCode), GenerationResult::Done);

  for (const bool stop : {false, true}) {
    VerifyJob job;
    job.rootFolder = "/root/";
    VerifyResult result;
    std::thread worker([&] { runVerify(job, fs, result); });
    std::int64_t lastBytes = 0;
    while (!job.finished.load()) {
      const std::int64_t bytes = job.bytesChecked.load();
      EXPECT_GE(bytes, lastBytes);
      lastBytes = bytes;
      EXPECT_LE(job.filesChecked.load(), job.filesFound.load());
      if (stop && bytes > 0) job.requestStop();
      std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(result.damagedBytes(), 0);
    if (!stop) {
      EXPECT_FALSE(result.stopped);
      EXPECT_EQ(result.intactBytes(), 40 * (5 << 20));
      EXPECT_EQ(job.bytesChecked.load(), 40 * (5 << 20));
    }
  }
}

}  // namespace
}  // namespace quillet
