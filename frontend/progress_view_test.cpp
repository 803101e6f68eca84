// One progress tick from a job and the volume figures to what the dialogs show: the stages of the
// files-number dialog, the end of a run with and without closing by itself, stops, the growing
// total of a run to all partition size, and the tables.
#include "frontend/progress_view.h"

#include <gtest/gtest.h>

#include <set>

#include "testing/fake_file_system.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {

constexpr VolumeFigures kVolume{1000, 250, 750};

ProgressEnding tick(ProgressKind kind, GenerationJob& job, ProgressView& view,
                    VolumeFigures volume = kVolume) {
  return refreshProgress(kind, job, volume, view);
}

}  // namespace

TEST(ProgressView, NumberDialogFollowsItsStagesAndLeavesTheFiguresAloneBeforeOne) {
  GenerationJob job;
  ProgressView view;
  job.stage = RunStage::MakeUpTree;
  job.dirsLimit = 9;
  job.dirsCreated = 4;
  EXPECT_EQ(tick(ProgressKind::Number, job, view), ProgressEnding::None);
  EXPECT_EQ(view.firstLabel, "Dirs created:");
  EXPECT_EQ(view.firstValue, "4");
  EXPECT_EQ(view.foldersValue, "0");
  EXPECT_EQ(view.sizeBar, (BarSetting{800, 400}));
  EXPECT_EQ(view.foldersBar, (BarSetting{100, 0}));  // position reset, range as the bar started
  EXPECT_EQ(view.usedDataBar, (BarSetting{998, 749}));
  EXPECT_EQ(view.usedDataValue, "750 b");
  EXPECT_EQ(view.statusValue, "Make-up tree");

  job.stage = RunStage::CalculatingFolders;
  job.dirsCalculated = 17;
  tick(ProgressKind::Number, job, view);
  EXPECT_EQ(view.secondLabel, "Dirs calculated:");
  EXPECT_EQ(view.secondValue, "17");
  EXPECT_EQ(view.sizeBar, (BarSetting{800, 0}));  // position only: the range stays
  EXPECT_EQ(view.statusValue, "Calculating folders");

  job.stage = RunStage::GeneratingFiles;
  job.dirsProcessed = 3;
  job.dirsCalculated = 7;
  job.folderFilesPlanned = 9;
  job.folderFileIndex = 4;
  job.filesCreated = 1000000;
  job.currentSize = 2048;
  tick(ProgressKind::Number, job, view);
  EXPECT_EQ(view.firstLabel, "Files created:");
  EXPECT_EQ(view.secondLabel, "Current size:");
  EXPECT_EQ(view.foldersValue, "3 of 7");
  EXPECT_EQ(view.firstValue, "1e+06");
  EXPECT_EQ(view.secondValue, "2.00 Kb");
  EXPECT_EQ(view.sizeBar, (BarSetting{801, 400}));
  EXPECT_EQ(view.foldersBar, (BarSetting{875, 375}));
  EXPECT_EQ(view.statusValue, "Generating files");

  // No stage named (a job kept from a run by all size): only the status changes.
  job.stage = RunStage::Starting;
  job.filesCreated = 5;
  const ProgressView before = view;
  tick(ProgressKind::Number, job, view, VolumeFigures{1000, 0, 1000});
  EXPECT_EQ(view.statusValue, "");
  EXPECT_EQ(view.firstValue, before.firstValue);
  EXPECT_EQ(view.usedDataBar, before.usedDataBar);
  EXPECT_EQ(view.sizeBar, before.sizeBar);
}

TEST(ProgressView, AFinishedRunClosesByItselfOrTurnsStopIntoClose) {
  for (ProgressKind kind : {ProgressKind::Number, ProgressKind::Size}) {
    GenerationJob job;
    job.allSize = 100;
    job.stage = RunStage::GeneratingFiles;
    job.autoClose = true;
    job.finished = true;
    ProgressView view;
    EXPECT_EQ(tick(kind, job, view), ProgressEnding::Accepted);
    EXPECT_FALSE(view.closeMode);

    job.autoClose = false;
    ProgressView kept;
    EXPECT_EQ(tick(kind, job, kept), ProgressEnding::None);
    EXPECT_TRUE(kept.closeMode);
    EXPECT_EQ(job.snapshot().stage, RunStage::GeneratingFiles);  // the display only reads the job
    EXPECT_EQ(kept.sizeBar, kFullBar);
    EXPECT_EQ(kept.foldersBar, kind == ProgressKind::Number ? kFullBar : kNewBar);
    EXPECT_EQ(kept.usedDataBar, (BarSetting{998, 749}));  // the volume's figure, never forced
    EXPECT_EQ(kept.statusValue, "Generation complete");

    job.requestStop();  // "Close" after the end
    EXPECT_EQ(tick(kind, job, kept), ProgressEnding::Accepted);
  }
  GenerationJob running;
  running.requestStop();
  ProgressView view;
  EXPECT_EQ(tick(ProgressKind::Size, running, view), ProgressEnding::Rejected);
  EXPECT_FALSE(view.closeMode);
}

// The bars of a finished run show the share really written: full only when the run reached its
// goal (all it was to write, or a full volume for a run to all partition size); a run that ended
// short says why in its status.
TEST(ProgressView, AFinishedRunShowsTheShareWrittenAndWhyItEnded) {
  struct Row {
    ProgressKind kind;
    GenerationResult result;
    bool allPartition;
    std::int64_t written;  // of 200
    BarSetting sizeBar;
    BarSetting foldersBar;  // by files number only
    const char* status;
  };
  const Row rows[] = {
      {ProgressKind::Size,
       GenerationResult::NamesUsedUp,
       false,
       90,
       {990, 447},
       kNewBar,
       "Ended: names used up"},
      {ProgressKind::Size,
       GenerationResult::VolumeFull,
       false,
       64,
       {990, 318},
       kNewBar,
       "Ended: the volume is full"},
      {ProgressKind::Size, GenerationResult::VolumeFull, true, 64, kFullBar, kNewBar, "Generation complete"},
      {ProgressKind::Size, GenerationResult::Done, false, 200, kFullBar, kNewBar, "Generation complete"},
      {ProgressKind::Number,
       GenerationResult::NamesUsedUp,
       false,
       90,
       {801, 400},
       {875, 375},
       "Ended: names used up"},
      {ProgressKind::Number,
       GenerationResult::LimitSizeReached,
       false,
       90,
       {801, 400},
       {875, 375},
       "Ended: limit size reached"},
      {ProgressKind::Number, GenerationResult::Done, false, 90, kFullBar, kFullBar, "Generation complete"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.status);
    GenerationJob job;
    job.autoClose = false;
    job.allPartition = row.allPartition;
    job.allSize = 200;
    job.currentSize = row.written;
    job.stage = row.kind == ProgressKind::Number ? RunStage::GeneratingFiles : RunStage::Starting;
    job.dirsProcessed = 3;
    job.dirsCalculated = 7;
    job.folderFilesPlanned = 9;
    job.folderFileIndex = 4;
    ProgressView view;
    tick(row.kind, job, view);
    EXPECT_EQ(view.statusValue, "Generating files");  // the size dialog names the one stage too
    job.result = row.result;
    job.finished = true;
    EXPECT_EQ(tick(row.kind, job, view), ProgressEnding::None);
    EXPECT_TRUE(view.closeMode);
    EXPECT_EQ(view.sizeBar, row.sizeBar);
    EXPECT_EQ(view.foldersBar, row.foldersBar);
    EXPECT_EQ(view.statusValue, row.status);
    // A later tick keeps the end text and the bars where they stood.
    EXPECT_EQ(tick(row.kind, job, view), ProgressEnding::None);
    EXPECT_EQ(view.statusValue, row.status);
    EXPECT_EQ(view.sizeBar, row.sizeBar);
    EXPECT_EQ(view.foldersBar, row.foldersBar);
  }
}

// Used-up names end a run without a box, so an interactive dialog stays open to say why even when
// it would close by itself; a script's closes as asked (its log says why).
TEST(ProgressView, AnInteractiveRunWhoseNamesRanOutStaysOpenToSaySo) {
  for (const bool script : {false, true}) {
    GenerationJob job;
    job.autoClose = true;
    job.scriptMode = script;
    job.result = GenerationResult::NamesUsedUp;
    job.finished = true;
    ProgressView view;
    EXPECT_EQ(tick(ProgressKind::Size, job, view), script ? ProgressEnding::Accepted : ProgressEnding::None);
    EXPECT_EQ(view.closeMode, !script);
  }
}

TEST(ProgressView, SizeDialogGrowsItsBarTotalByTheFreeSpaceAndLeavesTheJobAlone) {
  GenerationJob job;
  job.allSize = 1000;
  job.currentSize = 500;
  job.filesCreated = 3;
  ProgressView view;
  tick(ProgressKind::Size, job, view);
  EXPECT_EQ(view.sizeBar, (BarSetting{998, 499}));
  EXPECT_EQ(view.filesValue, "3");
  EXPECT_EQ(view.sizeValue, "500 b");
  EXPECT_EQ(view.sizeBarTotal, 1000);

  job.currentSize = 1500;  // written past the total: the bar scales to it once more, then grows
  tick(ProgressKind::Size, job, view);
  EXPECT_EQ(view.sizeBar, (BarSetting{998, 1498}));
  EXPECT_EQ(view.sizeBarTotal, 1250);
  tick(ProgressKind::Size, job, view);
  EXPECT_EQ(view.sizeBar, (BarSetting{998, 1199}));
  EXPECT_EQ(view.sizeBarTotal, 1500);
  job.finished = true;
  job.result = GenerationResult::Stopped;
  job.autoClose = false;
  tick(ProgressKind::Size, job, view);
  EXPECT_EQ(view.sizeBarTotal, 1500);  // not once the run has ended
  EXPECT_EQ(view.sizeBar, (BarSetting{998, 999}));
  EXPECT_EQ(job.snapshot().allSize, 1000);  // the run's own total never changes
}

TEST(ProgressView, AFailedVolumeQueryKeepsTheLastFigures) {
  FakeFileSystem fs;
  fs.addFolder("/v");
  fs.totalBytes = 1000;
  fs.freeBytes = 400;
  VolumeFigures figures;
  queryVolume(fs, "/v/", figures);
  EXPECT_EQ(figures.total, 1000u);
  EXPECT_EQ(figures.free, 400u);
  EXPECT_EQ(figures.used, 600);
  fs.volumeQueryFails = true;
  fs.freeBytes = 100;
  queryVolume(fs, "/v/", figures);
  EXPECT_EQ(figures.free, 400u);
  EXPECT_EQ(figures.used, 600);
}

TEST(ProgressView, TablesPlaceEveryControlOnceInsideTheirDialog) {
  for (ProgressKind kind : {ProgressKind::Number, ProgressKind::Size}) {
    const ProgressFrame frame = progressFrame(kind);
    std::set<ProgressItem> items;
    int buttons = 0;
    for (const ProgressControlRow& row : progressControlRows(kind)) {
      EXPECT_TRUE(items.insert(row.item).second) << row.name;
      EXPECT_LE(row.x + row.width, frame.width) << row.name;
      EXPECT_LE(row.y + row.height, frame.height) << row.name;
      if (row.kind == ProgressControlKind::Button) ++buttons;
    }
    EXPECT_EQ(buttons, 1);
    EXPECT_TRUE(items.count(ProgressItem::UsedDataBar));
    EXPECT_EQ(items.count(ProgressItem::FoldersBar), kind == ProgressKind::Number ? 1u : 0u);
  }
  GenerationJob job;
  job.byAllSize = true;
  EXPECT_EQ(progressKindFor(job), ProgressKind::Size);
}
