#include "script/console_progress.h"

#include <gtest/gtest.h>

#include <chrono>

#include "script/read_line_pacer.h"

namespace quillet {
namespace {

TEST(ConsoleProgressTest, LinesShowTheFiguresOfEachStage) {
  ProgressSnapshot s;
  s.filesCreated = 1000000;
  s.currentSize = 50 << 20;
  s.allSize = 200 << 20;
  const DiskFigures disk{1LL << 30, 256LL << 20};
  EXPECT_EQ(formatProgressLine(s, true, false, disk),
            "Generating: 1000000 files, 50.00 Mb of 200.00 Mb (25%), used data 256.00 Mb of 1.00 Gb (25%)");
  EXPECT_EQ(formatProgressLine(s, true, true, disk),
            "Generating: 1000000 files, 50.00 Mb of the free space, used data 256.00 Mb of 1.00 Gb (25%)");

  s.stage = RunStage::MakeUpTree;
  s.dirsCreated = 12;
  s.dirsLimit = 200;
  EXPECT_EQ(formatProgressLine(s, false, false, disk),
            "Make-up tree: 12 dirs created of at most 200, used data 256.00 Mb of 1.00 Gb (25%)");
  s.stage = RunStage::CalculatingFolders;
  s.dirsCalculated = 31;
  EXPECT_EQ(formatProgressLine(s, false, false, {}),
            "Calculating folders: 31 dirs found, used data 0 b of 0 b (0%)");
  s.stage = RunStage::GeneratingFiles;
  s.dirsProcessed = 3;
  s.filesCreated = 42;
  s.folderFileIndex = 4;
  s.folderFilesPlanned = 10;
  EXPECT_EQ(formatProgressLine(s, false, false, {}),
            "Generating files: dirs 3 of 31 (9%), 42 files, 50.00 Mb, this folder 4 of 10, used data 0 b of "
            "0 b (0%)");
  EXPECT_EQ(formatSummaryLine(2, s), "Finished: stopped (exit code 2); 42 files, 50.00 Mb written.");
  s.filesCreated = 12345678901LL;
  EXPECT_EQ(formatSummaryLine(0, s), "Finished: done (exit code 0); 12345678901 files, 50.00 Mb written.");
}

// The stage a /progress:json line names: the worker's for a run by files number, the one stage of a
// run by all size.
TEST(ConsoleProgressTest, JsonLinesNameTheRunsStage) {
  struct Row {
    RunStage stage;
    bool byAllSize;
    const char* word;
  };
  const Row rows[] = {
      {RunStage::Starting, false, "starting"},
      {RunStage::MakeUpTree, false, "make_up_tree"},
      {RunStage::CalculatingFolders, false, "calculating_folders"},
      {RunStage::GeneratingFiles, false, "generating_files"},
      {RunStage::Starting, true, "generating_files"},
  };
  for (const Row& row : rows) {
    ProgressSnapshot s;
    s.stage = row.stage;
    const std::string line = formatJsonProgressLine(s, s, row.byAllSize, true, 1.0, 1.0, nullptr);
    EXPECT_NE(line.find(std::string("\"stage\":\"") + row.word + "\""), std::string::npos) << line;
  }
}

// A reading mode's json lines: none until a second has passed since the last, each with the figures
// since the line before, and the final line's interval from the last line given (or the start).
TEST(ConsoleProgressTest, ReadLinesComeOnceASecondWithTheirIntervals) {
  using std::chrono::milliseconds;
  const auto t0 = ReadLinePacer::Clock::time_point{} + std::chrono::hours(1);
  ReadLinePacer pacer(true);
  pacer.start(t0);
  int asked = 0;
  ReadFigures figures{5, 2, 100, 0};
  const auto figuresNow = [&] {
    ++asked;
    return figures;
  };
  EXPECT_EQ(pacer.lineAt(t0 + milliseconds(999), figuresNow), "");
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(pacer.lineAt(t0 + milliseconds(1000), figuresNow),
            formatJsonReadLine(true, figures, {}, 1.0, 1.0));
  const ReadFigures first = figures;
  figures = {9, 6, 400, 10};
  EXPECT_EQ(pacer.lineAt(t0 + milliseconds(1999), figuresNow), "");
  EXPECT_EQ(pacer.lineAt(t0 + milliseconds(2500), figuresNow),
            formatJsonReadLine(true, figures, first, 2.5, 1.5));
  EXPECT_EQ(asked, 2);
  const int damaged = 4;
  const ReadFigures last{9, 9, 900, 10};
  EXPECT_EQ(pacer.finalLine(last, 3.0, damaged), formatJsonReadLine(true, last, figures, 3.0, 0.5, &damaged));

  ReadLinePacer quiet(false);
  quiet.start(t0);
  const int done = 0;
  EXPECT_EQ(quiet.finalLine({0, 3, 30, 0}, 0.25, done),
            formatJsonReadLine(false, {0, 3, 30, 0}, {}, 0.25, 0.25, &done));
}

}  // namespace
}  // namespace quillet
