// The progress display of a script run without a display: the dialog's figures on standard error,
// one line rewritten every 100 ms on a terminal, a plain line every few seconds otherwise, and a
// summary line at the end. A stop signal acts as the Stop button. Main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "engine/generation_job.h"
#include "platform/file_system.h"
#include "script/script_run.h"

namespace quillet {

struct DiskFigures {
  std::int64_t total = 0;
  std::int64_t used = 0;
};

// The figures of one tick as one line (no line end): stage, counts, sizes and percentages as the
// progress dialog of the mode shows them.
std::string formatProgressLine(const ProgressSnapshot& s, bool byAllSize, bool allPartition,
                               const DiskFigures& disk);

// "Finished: <result text> (exit code N); F files, S written."
std::string formatSummaryLine(int result, const ProgressSnapshot& s);

// The meaning of a result code, in a few words.
std::string resultText(int result);

// One object line of /progress:json (no line end): the stage, the cumulative figures at `now`
// and what changed since `before`, interval seconds earlier. result is given on the last line
// only, which is then marked final.
std::string formatJsonProgressLine(const ProgressSnapshot& now, const ProgressSnapshot& before,
                                   bool byAllSize, bool fillRandom, double elapsedSeconds,
                                   double intervalSeconds, const int* result = nullptr);

// A message for standard error as an object line of /progress:json (no line end); severity is
// "error" or "notice".
std::string formatJsonNotice(const std::string& severity, const std::string& text);

inline constexpr const char* kProgressSchema = "quillet-progress/1";

// What a verify or a measure has read so far. filesFound is a verify's only (files listed so far).
struct ReadFigures {
  std::int64_t filesFound = 0;
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  std::int64_t damagedBytes = 0;
};

// One object line of a verify's (mode "verify", stage "verifying") or a measure's (mode "measure",
// stage "measuring") /progress:json, as formatJsonProgressLine gives a run's: cumulative figures,
// what changed since `before`, and on the last line, marked final, stage "finished" and the result.
std::string formatJsonReadLine(bool verify, const ReadFigures& now, const ReadFigures& before,
                               double elapsedSeconds, double intervalSeconds, const int* result = nullptr);

// The one line a run that ends before any progress was shown (a rejected line, a root that cannot
// be made or read) leaves on standard error: "quillet: <text>" in text, or under /progress:json an
// error notice marked final with the result ("script rejected" for a rejection). Every mode ends
// this way, so no end is silent.
void printEnding(std::ostream& out, ProgressFormat format, const std::string& text, int result,
                 bool rejected);

class ConsoleProgress final : public ProgressDisplay {
 public:
  // The run's result, for the final line, is the job's once the worker has finished. isTerminal
  // selects the rewritten line; stopAsked, polled every 10 ms, stops the run like the Stop button
  // once it says true (a stop signal); plainInterval is the period of plain lines in milliseconds.
  ConsoleProgress(FileSystem& fs, std::ostream& out, bool isTerminal, std::function<bool()> stopAsked,
                  int plainIntervalMs = 5000)
      : fs_(fs),
        out_(out),
        isTerminal_(isTerminal),
        stopAsked_(std::move(stopAsked)),
        plainIntervalMs_(plainIntervalMs) {}

  void show(GenerationJob& job) override;
  void setFormat(ProgressFormat format) override { format_ = format; }

 private:
  void showJson(GenerationJob& job);
  bool waitForTick(const GenerationJob& job, bool stopRequested);

  ProgressFormat format_ = ProgressFormat::Human;
  FileSystem& fs_;
  std::ostream& out_;
  bool isTerminal_;
  std::function<bool()> stopAsked_;
  int plainIntervalMs_;
};

}  // namespace quillet
