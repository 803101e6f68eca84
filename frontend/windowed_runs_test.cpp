// The main dialog's run jobs: the exit code is the last finished run's result, whatever Generates
// that started no run came after it, and each new job starts from what the one before would keep.
#include "frontend/windowed_runs.h"

#include <gtest/gtest.h>

#include <optional>

#include "testing/fake_file_system.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {

SettingsValues fieldsFor(const std::string& root) {
  SettingsValues v;
  v.rootFolderText = root;
  return v;
}

// What a worker does last: stores the result and says the run has finished.
void endRun(GenerationJob& job, GenerationResult result) {
  std::lock_guard guard(job.lock);
  job.result = result;
  job.finished = true;
}

}  // namespace

TEST(WindowedRuns, ExitCodeIsTheLastFinishedRunsWhateverGenerateCameAfter) {
  FakeFileSystem fs;
  WindowedRuns runs;
  EXPECT_FALSE(runs.lastResult().has_value()) << "no Generate yet";

  // One step per row: the root typed, how the run it starts ends (none: a Generate that fills the
  // job and starts nothing, as when its root cannot be made), and the exit code after it.
  const struct {
    const char* root;
    PreparationOutcome prepared;
    std::optional<GenerationResult> ended;
    std::optional<int> exitCode;
  } steps[] = {
      {"/a", PreparationOutcome::Ready, std::nullopt, std::nullopt},
      {"/a", PreparationOutcome::Ready, GenerationResult::VolumeFull, 1},
      {"/b", PreparationOutcome::Ready, std::nullopt, 1},
      {"/c", PreparationOutcome::Ready, std::nullopt, 1},
      {"", PreparationOutcome::EmptyRoot, std::nullopt, 1},
      {"rel", PreparationOutcome::RelativeRoot, std::nullopt, 1},
      {"/d", PreparationOutcome::Ready, GenerationResult::Stopped, 2},
      {"/e", PreparationOutcome::Ready, GenerationResult::Done, 0},
      {"/f", PreparationOutcome::Ready, std::nullopt, 0},
  };
  for (const auto& step : steps) {
    const GenerationJob* before = &runs.job();
    const std::string rootBefore = runs.job().rootFolder;
    SettingsValues fields = fieldsFor(step.root);
    ASSERT_EQ(runs.prepare(fields, fs), step.prepared) << step.root;
    if (step.prepared == PreparationOutcome::Ready) {
      EXPECT_EQ(runs.job().rootFolder, std::string(step.root) + "/");
      EXPECT_FALSE(runs.job().snapshot().finished) << step.root;
    } else {
      // A refused Generate leaves the job as it was.
      EXPECT_EQ(&runs.job(), before) << step.root;
      EXPECT_EQ(runs.job().rootFolder, rootBefore) << step.root;
    }
    if (step.ended) endRun(runs.job(), *step.ended);
    EXPECT_EQ(runs.lastResult(), step.exitCode) << step.root;
  }
}

// A job filled again keeps what the dialog's one job always kept from its last run: the stage shown
// until the worker names another, the last file name, and the parameters the fields do not set.
TEST(WindowedRuns, NextJobStartsFromWhatTheLastOneKeeps) {
  FakeFileSystem fs;
  WindowedRuns runs;
  SettingsValues fields = fieldsFor("/a");
  fields.byAllSize = false;
  fields.useLimitSize = true;
  fields.limitSizeText = "7";
  fields.limitSizeUnit = 0;
  ASSERT_EQ(runs.prepare(fields, fs), PreparationOutcome::Ready);
  GenerationJob& ran = runs.job();
  ran.enterStage(RunStage::GeneratingFiles);
  ran.currentFileName = "zq";
  ran.filesCreated = 5;
  ran.currentSize = 50;
  endRun(ran, GenerationResult::LimitSizeReached);

  fields.byAllSize = true;
  fields.useLimitSize = false;
  fields.rootFolderText = "/b";
  ASSERT_EQ(runs.prepare(fields, fs), PreparationOutcome::Ready);
  const GenerationJob& next = runs.job();
  EXPECT_EQ(next.snapshot().stage, RunStage::GeneratingFiles);
  EXPECT_EQ(next.currentFileName, std::string("zq"));
  EXPECT_EQ(next.limitSize, std::int64_t(7));  // not in use, so not filled: left from before
  EXPECT_TRUE(next.byAllSize);
  EXPECT_EQ(next.rootFolder, std::string("/b/"));
  EXPECT_EQ(next.filesCreated.load(), std::int64_t(0));
  EXPECT_EQ(next.currentSize.load(), std::int64_t(0));
  // The run that finished is still the exit code.
  EXPECT_EQ(runs.lastResult(), std::optional<int>(6));
}
