// The windowed verify on a real folder, a tree made by the engine with a seed: the box after an
// intact tree, after a stop and for a folder that cannot be read (a damaged tree is driven through
// both front-ends' suites); and the verify dialog's ticks from the job's counters.
#include "frontend/windowed_verify.h"

#include <gtest/gtest.h>

#include "engine/worker_thread.h"
#include "frontend/progress_view.h"
#include "platform/path.h"
#include "testing/engine_harness.h"
#include "testing/volume_fixture.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {

// Four files of 10 Kb filled with seed 77 under scratch/tree.
std::string makeTree(ScratchFolder& scratch, FileSystem& fs) {
  const std::string root = scratch / "tree";
  EngineHarness h{fs};
  h.job.rootFolder = withTrailingSeparator(root);
  h.job.byAllSize = false;
  h.job.minFiles = h.job.maxFiles = 4;
  h.job.minFileSize = h.job.maxFileSize = 10 << 10;
  h.job.runSeed = 77;
  h.job.seedGiven = true;
  EXPECT_EQ(runWorker(h.job, h.services), GenerationResult::Done);
  return root;
}

VerifyResult verified(const std::string& folder, FileSystem& fs, bool stopFirst = false) {
  WindowedVerify verify(folder);
  if (stopFirst) verify.job().requestStop();
  verify.start(fs);
  verify.join();
  return verify.result();
}

}  // namespace

TEST(WindowedVerify, IntactTreeGivesTheSummaryWithTheSeedFoundAndAnInformationIcon) {
  ScratchFolder scratch;
  auto fs = makeSystemFileSystem();
  const std::string root = makeTree(scratch, *fs);
  const MessageBox box = verifyResultBox(verified(root, *fs));
  EXPECT_EQ(box.icon, BoxIcon::Information);
  EXPECT_EQ(box.caption, "Talvane Quillet");
  EXPECT_TRUE(box.owned);
  EXPECT_EQ(box.text.rfind("Intact: 40.00 Kb in 4 files; corrupted 0 b;", 0), 0u) << box.text;
  EXPECT_NE(box.text.find("Seed: 77 (carried by most files' first blocks)"), std::string::npos) << box.text;
  EXPECT_EQ(box.text.find("stopped"), std::string::npos);
}

TEST(WindowedVerify, StopAndUnreadableFolderAreSaidInTheBox) {
  ScratchFolder scratch;
  auto fs = makeSystemFileSystem();
  const std::string root = makeTree(scratch, *fs);
  const MessageBox stopped = verifyResultBox(verified(root, *fs, true));
  EXPECT_EQ(stopped.icon, BoxIcon::Warning) << stopped.text;
  EXPECT_NE(stopped.text.find("\nVerify stopped before every file was checked.\n"), std::string::npos)
      << stopped.text;

  const MessageBox missing = verifyResultBox(verified(scratch / "no-such-folder", *fs));
  EXPECT_EQ(missing.icon, BoxIcon::Error);
  EXPECT_NE(missing.text.find("no-such-folder"), std::string::npos) << missing.text;
}

// An empty folder holds nothing a run made: the box says so first, with a warning, never as intact.
TEST(WindowedVerify, EmptyFolderGivesNothingGeneratedWithAWarning) {
  ScratchFolder scratch;
  auto fs = makeSystemFileSystem();
  const MessageBox box = verifyResultBox(verified(scratch.path(), *fs));
  EXPECT_EQ(box.icon, BoxIcon::Warning);
  EXPECT_EQ(box.text.rfind("Nothing generated found: no file in the folder", 0), 0u) << box.text;
}

TEST(VerifyProgressView, TicksShowTheCountersAndEndAsTheJobAndOptionSay) {
  VerifyJob job;
  ProgressView view;
  job.filesFound = 9;
  job.filesChecked = 3;
  job.bytesChecked = 1536;
  job.damagedBytes = 512;
  EXPECT_EQ(refreshVerifyProgress(job, false, view), ProgressEnding::None);
  EXPECT_EQ(view.filesValue, "3 of 9");
  EXPECT_EQ(view.sizeValue, "1.50 Kb");
  EXPECT_EQ(view.damagedValue, "512 b");
  EXPECT_EQ(view.sizeBar, (BarSetting{800, 300}));
  EXPECT_EQ(view.damagedBar.pos, 333);
  EXPECT_FALSE(view.closeMode);

  job.filesChecked = 1234;  // the walk has not caught up with what is checked
  job.filesFound = 1000;
  refreshVerifyProgress(job, false, view);
  EXPECT_EQ(view.filesValue, "1,234 of 1,234");

  job.finished = true;
  EXPECT_EQ(refreshVerifyProgress(job, true, view), ProgressEnding::Accepted);
  ProgressView kept;
  EXPECT_EQ(refreshVerifyProgress(job, false, kept), ProgressEnding::None);
  EXPECT_TRUE(kept.closeMode);
  EXPECT_EQ(kept.sizeBar, kFullBar);
  job.requestStop();  // Close after the end
  EXPECT_EQ(refreshVerifyProgress(job, false, kept), ProgressEnding::Accepted);

  VerifyJob running;
  running.requestStop();
  ProgressView stopped;
  EXPECT_EQ(refreshVerifyProgress(running, false, stopped), ProgressEnding::Rejected);
  EXPECT_FALSE(stopped.closeMode);
}

TEST(VerifyProgressView, DialogHasTheSizeFrameAndItsOwnFigures) {
  const ProgressFrame size = progressFrame(ProgressKind::Size);
  const ProgressFrame verify = progressFrame(ProgressKind::Verify);
  EXPECT_EQ(verify.width, size.width);
  EXPECT_EQ(verify.height, size.height);
  EXPECT_STREQ(verify.title, "Verifying");
  EXPECT_STREQ(size.title, "Generating");
  std::vector<std::string> labels;
  for (const ProgressControlRow& row : progressControlRows(ProgressKind::Verify)) {
    if (row.kind == ProgressControlKind::Label && *row.text) labels.emplace_back(row.text);
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"Files checked:", "Bytes checked:", "Damaged bytes:"}));
  EXPECT_EQ(progressControlRows(ProgressKind::Verify).back().item, ProgressItem::StopButton);
}
