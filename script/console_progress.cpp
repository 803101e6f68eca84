#include "script/console_progress.h"

#include <chrono>
#include <thread>

#include "engine/size_text.h"

namespace quillet {
namespace {

int percent(double part, double whole) {
  if (whole <= 0) return 0;
  return static_cast<int>(part * 100.0 / whole);
}

std::string usedData(const DiskFigures& disk) {
  return "used data " + formatSize(disk.used) + " of " + formatSize(disk.total) + " (" +
         std::to_string(percent(static_cast<double>(disk.used), static_cast<double>(disk.total))) + "%)";
}

// A console line is read, and copied into reports, as a whole number; the dialogs keep their own
// short form.
std::string count(std::int64_t n) { return std::to_string(n); }

}  // namespace

std::string resultText(int result) {
  switch (static_cast<GenerationResult>(result)) {
    case GenerationResult::Done: return "done";
    case GenerationResult::VolumeFull: return "the volume is full or a file cannot be allocated";
    case GenerationResult::Stopped: return "stopped";
    case GenerationResult::NamesUsedUp: return "the mask's names are used up";
    case GenerationResult::FolderLimit: return "the folder limit was reached";
    case GenerationResult::LimitSizeReached: return "the limit size was reached";
    case GenerationResult::MaxSizeZero: return "the maximum file size is zero";
    case GenerationResult::PathFailed: return "a path cannot be created";
  }
  return "unknown result";
}

std::string formatProgressLine(const ProgressSnapshot& s, bool byAllSize, bool allPartition, const DiskFigures& disk) {
  if (byAllSize) {
    std::string line = "Generating: " + count(s.filesCreated) + " files, " + formatSize(s.currentSize);
    if (allPartition) {
      line += " of the free space";
    } else {
      line += " of " + formatSize(s.allSize) + " (" +
              std::to_string(percent(static_cast<double>(s.currentSize), static_cast<double>(s.allSize))) + "%)";
    }
    return line + ", " + usedData(disk);
  }
  if (s.statusText == "Make-up tree") {
    return "Make-up tree: " + std::to_string(s.dirsCreated) + " dirs created of at most " +
           std::to_string(s.dirsLimit) + ", " + usedData(disk);
  }
  if (s.statusText == "Calculating folders") {
    return "Calculating folders: " + std::to_string(s.dirsCalculated) + " dirs found, " + usedData(disk);
  }
  if (s.statusText.empty()) return "Starting, " + usedData(disk);
  return s.statusText + ": dirs " + std::to_string(s.dirsProcessed) + " of " + std::to_string(s.dirsCalculated) +
         " (" + std::to_string(percent(s.dirsProcessed, s.dirsCalculated)) + "%), " + count(s.filesCreated) +
         " files, " + formatSize(s.currentSize) + ", this folder " +
         std::to_string(s.finished ? s.folderFilesPlanned : s.folderFileIndex) + " of " +
         std::to_string(s.folderFilesPlanned) + ", " + usedData(disk);
}

std::string formatSummaryLine(int result, const ProgressSnapshot& s) {
  return "Finished: " + resultText(result) + " (exit code " + std::to_string(result) + "); " +
         count(s.filesCreated) + " files, " + formatSize(s.currentSize) + " written.";
}

void ConsoleProgress::show(GenerationJob& job) {
  using Clock = std::chrono::steady_clock;
  const auto stopSignalled = [this] { return stopAsked_ && stopAsked_(); };
  DiskFigures disk;
  auto lastPlain = Clock::now() - std::chrono::milliseconds(plainIntervalMs_);
  bool stopRequested = false;
  for (;;) {
    if (!stopRequested && stopSignalled()) {
      job.requestStop();
      stopRequested = true;
    }
    // The volume query runs before the lock is taken, as the dialog's does.
    const auto space = fs_.volumeSpace(job.rootFolder);
    if (space.ok()) disk = {space.value().total, space.value().total - space.value().availableToCaller};
    const ProgressSnapshot s = job.snapshot();
    const std::string line = formatProgressLine(s, job.byAllSize, job.allPartition, disk);
    if (isTerminal_) {
      out_ << '\r' << line << "\x1b[K" << std::flush;
    } else if (s.finished || Clock::now() - lastPlain >= std::chrono::milliseconds(plainIntervalMs_)) {
      out_ << line << '\n' << std::flush;
      lastPlain = Clock::now();
    }
    if (s.finished) {
      if (isTerminal_) out_ << '\n';
      out_ << formatSummaryLine(exitCode_.load(), s) << '\n' << std::flush;
      return;
    }
    // Wait for the next tick, but notice the end of the run at once so that a short run is not
    // held up by the display.
    for (int slice = 0; slice < 10 && !job.finished.load() && (stopRequested || !stopSignalled()); ++slice) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

}  // namespace quillet
