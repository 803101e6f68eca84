#include "script/console_progress.h"

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/rate_text.h"
#include "engine/size_text.h"
#include "script/verify_run.h"

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
    case GenerationResult::DataDamaged: return "damaged or missing data was found";
    case GenerationResult::FolderLimit: return "the folder limit was reached";
    case GenerationResult::LimitSizeReached: return "the limit size was reached";
    case GenerationResult::MaxSizeZero: return "the maximum file size is zero";
    case GenerationResult::PathFailed: return "a path cannot be created";
    case GenerationResult::RankLost: return "a rank stopped answering";
  }
  return "unknown result";
}

std::string formatProgressLine(const ProgressSnapshot& s, bool byAllSize, bool allPartition,
                               const DiskFigures& disk) {
  if (byAllSize) {
    std::string line = "Generating: " + count(s.filesCreated) + " files, " + formatSize(s.currentSize);
    if (allPartition) {
      line += " of the free space";
    } else {
      line += " of " + formatSize(s.allSize) + " (" +
              std::to_string(percent(static_cast<double>(s.currentSize), static_cast<double>(s.allSize))) +
              "%)";
    }
    return line + ", " + usedData(disk);
  }
  switch (s.stage) {
    case RunStage::Starting: return "Starting, " + usedData(disk);
    case RunStage::MakeUpTree:
      return std::string(runStageText(s.stage)) + ": " + std::to_string(s.dirsCreated) +
             " dirs created of at most " + std::to_string(s.dirsLimit) + ", " + usedData(disk);
    case RunStage::CalculatingFolders:
      return std::string(runStageText(s.stage)) + ": " + std::to_string(s.dirsCalculated) + " dirs found, " +
             usedData(disk);
    case RunStage::GeneratingFiles: break;
  }
  return std::string(runStageText(s.stage)) + ": dirs " + std::to_string(s.dirsProcessed) + " of " +
         std::to_string(s.dirsCalculated) + " (" +
         std::to_string(percent(s.dirsProcessed, s.dirsCalculated)) + "%), " + count(s.filesCreated) +
         " files, " + formatSize(s.currentSize) + ", this folder " +
         std::to_string(s.finished ? s.folderFilesPlanned : s.folderFileIndex) + " of " +
         std::to_string(s.folderFilesPlanned) + ", " + usedData(disk);
}

namespace {

const char* stageWord(const ProgressSnapshot& s, bool byAllSize) {
  if (s.finished) return "finished";
  // A run by all size has one stage and names none.
  if (byAllSize) return "generating_files";
  switch (s.stage) {
    case RunStage::Starting: break;
    case RunStage::MakeUpTree: return "make_up_tree";
    case RunStage::CalculatingFolders: return "calculating_folders";
    case RunStage::GeneratingFiles: return "generating_files";
  }
  return "starting";
}

double perSecond(double amount, double seconds) { return seconds > 0 ? amount / seconds : 0.0; }

std::string oneLine(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

std::string formatJsonProgressLine(const ProgressSnapshot& now, const ProgressSnapshot& before,
                                   bool byAllSize, bool fillRandom, double elapsedSeconds,
                                   double intervalSeconds, const int* result) {
  const double files = static_cast<double>(now.filesCreated);
  const double bytes = static_cast<double>(now.currentSize);
  const double intervalFiles = static_cast<double>(now.filesCreated - before.filesCreated);
  const double intervalBytes = static_cast<double>(now.currentSize - before.currentSize);
  nlohmann::ordered_json j;
  j["schema"] = kProgressSchema;
  j["type"] = "progress";
  j["final"] = result != nullptr;
  j["stage"] = stageWord(now, byAllSize);
  j["elapsed_seconds"] = elapsedSeconds;
  j["interval_seconds"] = intervalSeconds;
  j["files_created"] = now.filesCreated;
  j["bytes_written"] = fillRandom ? now.currentSize : 0;
  j["bytes_allocated"] = now.currentSize;
  j["folders_created"] = now.dirsCreated;
  j["folders_visited"] = now.dirsProcessed;
  j["folders_found"] = now.dirsCalculated;
  j["bytes_per_second"] = perSecond(bytes, elapsedSeconds);
  j["files_per_second"] = perSecond(files, elapsedSeconds);
  j["interval_files_created"] = now.filesCreated - before.filesCreated;
  j["interval_bytes_allocated"] = now.currentSize - before.currentSize;
  j["interval_bytes_per_second"] = perSecond(intervalBytes, intervalSeconds);
  j["interval_files_per_second"] = perSecond(intervalFiles, intervalSeconds);
  if (result != nullptr) j["result"] = {{"code", *result}, {"text", resultText(*result)}};
  return oneLine(j);
}

std::string formatJsonNotice(const std::string& severity, const std::string& text) {
  nlohmann::ordered_json j;
  j["schema"] = kProgressSchema;
  j["type"] = "notice";
  j["severity"] = severity;
  j["text"] = text;
  return oneLine(j);
}

std::string formatJsonReadLine(bool verify, const ReadFigures& now, const ReadFigures& before,
                               double elapsedSeconds, double intervalSeconds, const int* result) {
  const std::int64_t intervalFiles = now.files - before.files;
  const std::int64_t intervalBytes = now.bytes - before.bytes;
  nlohmann::ordered_json j;
  j["schema"] = kProgressSchema;
  j["type"] = "progress";
  j["mode"] = verify ? "verify" : "measure";
  j["final"] = result != nullptr;
  j["stage"] = result != nullptr ? "finished" : verify ? "verifying" : "measuring";
  j["elapsed_seconds"] = elapsedSeconds;
  j["interval_seconds"] = intervalSeconds;
  if (verify) {
    j["files_found"] = now.filesFound;
    j["files_checked"] = now.files;
    j["bytes_checked"] = now.bytes;
    j["damaged_bytes"] = now.damagedBytes;
  } else {
    j["files_measured"] = now.files;
    j["measured_bytes"] = now.bytes;
  }
  j["bytes_per_second"] = perSecond(static_cast<double>(now.bytes), elapsedSeconds);
  j["files_per_second"] = perSecond(static_cast<double>(now.files), elapsedSeconds);
  j[verify ? "interval_files_checked" : "interval_files_measured"] = intervalFiles;
  j[verify ? "interval_bytes_checked" : "interval_measured_bytes"] = intervalBytes;
  j["interval_bytes_per_second"] = perSecond(static_cast<double>(intervalBytes), intervalSeconds);
  j["interval_files_per_second"] = perSecond(static_cast<double>(intervalFiles), intervalSeconds);
  if (result != nullptr) j["result"] = {{"code", *result}, {"text", resultText(*result)}};
  return oneLine(j);
}

void printEnding(std::ostream& out, ProgressFormat format, const std::string& text, int result,
                 bool rejected) {
  if (format != ProgressFormat::Json) {
    // The text may carry a root or a parameter as typed: shown escaped, as the log writes it.
    out << "quillet: " << escapeConsoleText(text) << "\n" << std::flush;
    return;
  }
  nlohmann::ordered_json j;
  j["schema"] = kProgressSchema;
  j["type"] = "notice";
  j["severity"] = "error";
  j["text"] = text;
  j["final"] = true;
  j["result"] = {{"code", result}, {"text", rejected ? std::string("script rejected") : resultText(result)}};
  out << oneLine(j) + "\n" << std::flush;
}

std::string formatSummaryLine(int result, const ProgressSnapshot& s) {
  return "Finished: " + resultText(result) + " (exit code " + std::to_string(result) + "); " +
         count(s.filesCreated) + " files, " + formatSize(s.currentSize) + " written.";
}

// Waits up to one tick of 100 ms, but notices the end of the run at once so that a short run is
// not held up by the display. Returns whether a stop signal asks to stop.
bool ConsoleProgress::waitForTick(const GenerationJob& job, bool stopRequested) {
  const auto stopSignalled = [this] { return stopAsked_ && stopAsked_(); };
  for (int slice = 0; slice < 10 && !job.finished.load() && (stopRequested || !stopSignalled()); ++slice) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return !stopRequested && stopSignalled();
}

// One object line a second and one when the run has finished; /progress:off the same without the
// lines, so that a stop signal still stops the run.
void ConsoleProgress::showJson(GenerationJob& job) {
  using Clock = std::chrono::steady_clock;
  using Seconds = std::chrono::duration<double>;
  const auto start = Clock::now();
  auto lastLine = start;
  ProgressSnapshot before;
  bool stopRequested = stopAsked_ && stopAsked_();
  if (stopRequested) job.requestStop();
  for (;;) {
    const ProgressSnapshot s = job.snapshot();
    const auto now = Clock::now();
    if (s.finished || now - lastLine >= std::chrono::seconds(1)) {
      const int result = toInt(s.result);
      if (format_ == ProgressFormat::Json) {
        out_ << formatJsonProgressLine(s, before, job.byAllSize, job.fillRandom, Seconds(now - start).count(),
                                       Seconds(now - lastLine).count(), s.finished ? &result : nullptr) +
                    "\n"
             << std::flush;
      }
      before = s;
      lastLine = now;
    }
    if (s.finished) return;
    if (waitForTick(job, stopRequested)) {
      job.requestStop();
      stopRequested = true;
    }
  }
}

void ConsoleProgress::show(GenerationJob& job) {
  if (format_ != ProgressFormat::Human) return showJson(job);
  using Clock = std::chrono::steady_clock;
  const auto stopSignalled = [this] { return stopAsked_ && stopAsked_(); };
  DiskFigures disk;
  auto lastPlain = Clock::now() - std::chrono::milliseconds(plainIntervalMs_);
  const auto started = Clock::now();
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
      const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
      out_ << formatSummaryLine(toInt(s.result), s) << ' '
           << formatRateSentence("Write", s.currentSize, s.filesCreated, seconds) << ".\n"
           << std::flush;
      return;
    }
    waitForTick(job, stopRequested);
  }
}

}  // namespace quillet
