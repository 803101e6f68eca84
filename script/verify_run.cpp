#include "script/verify_run.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "engine/journal_check.h"
#include "engine/rate_series.h"
#include "engine/rate_text.h"
#include "engine/size_text.h"
#include "engine/verify_plan.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/console_progress.h"
#include "script/flush_journal.h"
#include "script/read_line_pacer.h"
#include "script/report_page.h"
#include "script/report_series.h"
#include "script/run_frame.h"
#include "script/run_report.h"
#include "script/script_log.h"

namespace quillet {
namespace {

// A /limsize past every file several writers by files number can have made under the job's limit:
// the limit and one file more, plus `writers` folders of the largest count of largest files (those
// not full at the end, and the last one begun). Saturates far below overflow.
std::int64_t beyondWritersReach(const GenerationJob& j, int writers) {
  constexpr std::int64_t kFar = INT64_C(1) << 60;
  const auto times = [](std::int64_t a, std::int64_t b) { return a != 0 && b > kFar / a ? kFar : a * b; };
  const std::int64_t largest = std::max<std::int64_t>(j.maxFileSize, j.minFileSize);
  const std::int64_t count = std::max<std::int64_t>({j.maxFiles, j.minFiles, 1});
  const std::int64_t folders = times(times(writers, count), std::min(largest, kFar));
  const auto plus = [](std::int64_t a, std::int64_t b) { return a >= kFar || b >= kFar - a ? kFar : a + b; };
  return std::max(j.limitSize, plus(plus(j.limitSize, std::min(largest, kFar)), plus(folders, 1)));
}

std::string grouped(std::int64_t n) { return groupedCount(n); }

std::string filesText(std::int64_t n) { return grouped(n) + (n == 1 ? " file" : " files"); }

ReadFigures readFigures(const VerifyJob& job) {
  return {job.filesFound.load(), job.filesChecked.load(), job.bytesChecked.load(), job.damagedBytes.load()};
}

// Shows the counters until the worker has finished; a stop signal stops the verify.
void showProgress(VerifyJob& job, ProgressFormat format, const std::function<bool()>& stopAsked,
                  ReadLinePacer& jsonLines) {
  using Clock = std::chrono::steady_clock;
  const bool terminal = standardErrorIsTerminal();
  const auto started = Clock::now();
  jsonLines.start(started);
  auto lastLine = started;
  bool lineOpen = false;
  const auto line = [&] {
    return "Verifying: " + grouped(job.filesChecked.load()) + " of " + filesText(job.filesFound.load()) +
           ", " + formatSize(job.bytesChecked.load()) + " checked, " + formatSize(job.damagedBytes.load()) +
           " damaged";
  };
  while (!job.finished.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (stopAsked && stopAsked()) job.requestStop();
    const auto now = Clock::now();
    if (format == ProgressFormat::Off) continue;
    const auto since = now - lastLine;
    if (format == ProgressFormat::Json) {
      const std::string jsonLine = jsonLines.lineAt(now, [&job] { return readFigures(job); });
      if (!jsonLine.empty()) std::cerr << jsonLine + "\n" << std::flush;
    } else if (terminal ? since >= std::chrono::milliseconds(100) : since >= std::chrono::seconds(5)) {
      std::cerr << (terminal ? "\r" + line() + "\x1b[K" : line() + "\n") << std::flush;
      lineOpen = terminal;
      lastLine = now;
    }
  }
  if (lineOpen) std::cerr << "\r" << line() << "\x1b[K\n" << std::flush;
}

// What the check of a flush journal found, beside the verify's own figures: the acknowledged files
// the storage lost, and the files it was not yet asked to keep (never damage).
struct FlushFigures {
  std::string journalPath;
  const JournalContents* journal = nullptr;
  JournalVerdict verdict;
  std::int64_t unacknowledgedFound = 0;
  std::int64_t unacknowledgedDamaged = 0;
  std::optional<std::int64_t> unacknowledgedAbsent;  // known only with the run's line and seed

  std::int64_t lost() const { return static_cast<std::int64_t>(verdict.lost.size()); }
  std::string summary() const {
    const std::int64_t m = verdict.acknowledged;
    if (lost() > 0)
      return "Flush broken: " + grouped(lost()) + " of " + grouped(m) + " acknowledged files lost";
    return "Flushes kept: " + grouped(m) + " of " + grouped(m);
  }
  std::string unacknowledgedLine() const {
    std::string s = "Not acknowledged (not damage): " + filesText(unacknowledgedFound) + " found, " +
                    grouped(unacknowledgedDamaged) + " of them cut or damaged";
    if (unacknowledgedAbsent) s += ", " + grouped(*unacknowledgedAbsent) + " absent";
    return s;
  }
};

FlushFigures flushFigures(const std::string& journalPath, const JournalContents& journal,
                          JournalVerdict verdict, const VerifyResult& result) {
  FlushFigures f;
  f.journalPath = journalPath;
  f.journal = &journal;
  f.verdict = std::move(verdict);
  std::set<std::string> acknowledged;
  for (const auto& file : journal.files) acknowledged.insert(file.path);
  std::int64_t lostMissing = 0;
  for (const auto& l : f.verdict.lost) lostMissing += l.what == "missing" ? 1 : 0;
  f.unacknowledgedFound = std::max<std::int64_t>(0, result.files - (f.verdict.acknowledged - lostMissing));
  for (const auto& d : result.damaged) f.unacknowledgedDamaged += acknowledged.count(d.relativePath) ? 0 : 1;
  if (result.planned) {
    std::int64_t absent = 0;
    for (const auto& m : result.missing) absent += acknowledged.count(m) ? 0 : 1;
    f.unacknowledgedAbsent = absent;
  }
  return f;
}

std::string flushJson(const FlushFigures& f) {
  using nlohmann::ordered_json;
  ordered_json j;
  j["journal"] = f.journalPath;
  j["run_line"] = f.journal->header.line;
  j["seed"] = f.journal->header.seed;
  j["sync"] = f.journal->header.sync;
  j["torn_lines"] = f.journal->tornLines;
  j["acknowledged_files"] = f.verdict.acknowledged;
  j["checked_files"] = f.verdict.checked;
  j["lost_files"] = f.lost();
  j["kept"] = f.lost() == 0 && !f.verdict.stopped;
  ordered_json lost = ordered_json::array();
  for (const auto& l : f.verdict.lost) lost.push_back({{"path", l.path}, {"what", l.what}});
  j["lost"] = lost;
  ordered_json u;
  u["found_files"] = f.unacknowledgedFound;
  u["damaged_files"] = f.unacknowledgedDamaged;
  u["absent_files"] = f.unacknowledgedAbsent ? ordered_json(*f.unacknowledgedAbsent) : ordered_json(nullptr);
  j["not_acknowledged"] = u;
  return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

}  // namespace

int runVerifyScript(const ScriptArgs& script, const ScriptRunServices& services) {
  const RunSharing* sharing = services.sharing;
  RunFrame frame(script, services, sharing);
  if (!frame.open()) return 0;
  const bool writesLog = frame.writesLog();
  ScriptLog& log = frame.log();
  RunRecord& record = frame.record();
  record.verifyMode = true;
  frame.wantReport(true);
  const std::string& reportPath = frame.reportPath();
  const auto stopAsked = [&frame] { return frame.stopAsked(); };

  VerifyResult result;
  VerifyJob job;
  // The /progress:json lines, the final one's interval counted from the last of them.
  ReadLinePacer jsonLines(true);
  // The end's one line on standard error: the line that ended the verify (a rejection, a root that
  // cannot be read), or under /progress:json the final progress line. A shared verify's lines are
  // its watcher's.
  if (sharing == nullptr || !sharing->watchVerify) {
    frame.setFinalLine([&](int ended) {
      std::cerr << jsonLines.finalLine(readFigures(job), record.verifySeconds, ended) + "\n" << std::flush;
    });
  }
  const auto end = [&](std::optional<GenerationResult> code) { return frame.end(code ? toInt(*code) : 0); };

  std::string planNote;
  GenerationJob runJob;
  ParseOutcome runParsed;
  VerifyParse parsed = parseVerify(script, runJob, runParsed);
  if (parsed.accepted && sharing != nullptr && !sharing->rejection.empty()) {
    parsed.accepted = false;
    parsed.rejection = "Invalid script. " + sharing->rejection;
  }
  if (!parsed.accepted) {
    frame.reject(parsed.rejection);
    return end(stopAsked() ? std::optional(GenerationResult::Stopped) : std::nullopt);
  }
  record.extensions = parsed.extensions;
  record.extensions.reportPath = reportPath;
  frame.setConsoleForm(parsed.extensions.progress);
  // With a flush journal: the files the storage acknowledged, and the run's seed they carry.
  std::optional<JournalContents> journal;
  const std::string journalPath =
      parsed.extensions.journalPath.empty() ? std::string() : absolutePath(parsed.extensions.journalPath);
  bool seedFromJournal = false;
  if (!journalPath.empty()) {
    JournalContents contents;
    std::string why;
    if (!readJournal(journalPath, contents, why)) {
      const std::string line = "Can not read journal '" + journalPath + "': " + why + ".";
      frame.endingLine(line);
      return end(GenerationResult::PathFailed);
    }
    if (!parsed.seed) {
      parsed.seed = contents.header.seed;
      seedFromJournal = true;
    }
    journal = std::move(contents);
  }

  std::string verifiedRoot = absolutePath(parsed.root);
  std::optional<std::uint64_t> verifiedSeed = parsed.seed;
  if (sharing != nullptr && sharing->verifyPart) sharing->verifyPart(verifiedRoot, verifiedSeed);
  job.rootFolder = withTrailingSeparator(verifiedRoot);
  job.seed = verifiedSeed;
  job.readers = parsed.threads;
  // The same count tells the run's writers: each may have left a file cut short.
  job.runWriters = parsed.threads;
  record.threads = parsed.threads;
  log.writeLine("Verify of '" + withoutTrailingSeparator(job.rootFolder) + "' started.");
  if (parsed.withRunParameters) {
    // A run by a profile is re-derived by the same profile.
    if (const std::string refused = attachProfile(runJob, parsed.extensions); !refused.empty()) {
      frame.reject(refused);
      return end(std::nullopt);
    }
    runJob.rootFolder = job.rootFolder;
    // The parameters as the line gives them, before the volume as it is now (full) completes their
    // sizes: each plan starts a job of its own from them.
    const JobParameters asGiven = runJob;
    if (sharing != nullptr && sharing->shareVerifiedJob) sharing->shareVerifiedJob(runJob);
    completeScriptJob(runJob, runParsed, services.fs);
    record.job = &runJob;
    record.byAllSize = runJob.byAllSize;
    // The parameters tell whether the run only allocated its files, and, with the seed, which
    // files it made: the engine re-derives them once the tree's bytes are known.
    job.planAllocationOnly = !runJob.fillRandom;
    job.allocationOnlyKnown = true;
    // Several writers by files number fill several folders at once and share /limsize file by file.
    const bool limitByTiming = !runJob.byAllSize && runJob.useLimitSize && job.runWriters > 1;
    if (limitByTiming) job.runLimitBytes = runJob.limitSize;
    if (!job.seed) {
      log.writeLine("Missing and unexpected files are told only with the run's /seed.");
    } else {
      job.planner = [&, asGiven, limitByTiming](
                        std::int64_t bytesInTree,
                        const std::vector<std::string>& folders) -> std::optional<std::vector<PlannedFile>> {
        // A job of its own, since the plan uses it up.
        GenerationJob planJob;
        static_cast<JobParameters&>(planJob) = asGiven;
        const FoundRun found{bytesInTree, folders, job.runWriters, runJob.allPartition,
                             std::max<std::int64_t>(planJob.maxFileSize, planJob.minFileSize)};
        if (sharing != nullptr && sharing->shareVerifiedJob) sharing->shareVerifiedJob(planJob);
        std::string why;
        auto plan = planFoundRun(
            planJob, services.fs, found,
            [&](GenerationJob& j, FileSystem& planFs) {
              completeScriptJob(j, runParsed, planFs);
              // One writer stops at the limit in plan order, but n writers reach into up to n
              // folders at once: the plan goes on as far as any of them can have got (the full
              // folders before the last one begun hold no more than the limit and one file, the
              // others are at most n folders of the largest count of largest files).
              if (limitByTiming) j.limitSize = beyondWritersReach(j, job.runWriters);
            },
            why);
        planNote = why;
        return plan;
      };
    }
  }
  if (stopAsked()) return end(GenerationResult::Stopped);

  const auto verifyStarted = std::chrono::steady_clock::now();
  {
    // The speed record is sampled only for a report: a verify without one pays nothing for it.
    std::optional<RateSampler> sampler;
    if (frame.reportWanted()) sampler.emplace([&job] { return sampleOf(job); });
    std::thread worker([&] { runVerify(job, services.fs, result); });
    if (sharing != nullptr && sharing->watchVerify) {
      sharing->watchVerify(job);
    } else {
      showProgress(job, parsed.extensions.progress, stopAsked, jsonLines);
    }
    worker.join();
    if (sampler) record.series = sampler->finish();
  }
  record.verifySeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - verifyStarted).count();
  const double readSeconds = record.verifySeconds;
  result.planNote = planNote;
  // The user gave no seed: saying "given" would credit the line with what the journal told.
  if (seedFromJournal && result.seedSource == SeedSource::Given) result.seedSource = SeedSource::FromJournal;
  record.readerTimes = result.readerTimes;
  if (!planNote.empty()) log.writeLine("The run's files: " + planNote + ".");
  record.verifyJson = verifyJson(result, job.rootFolder);
  record.verifiedBytes = job.bytesChecked.load();
  record.verifiedFiles = result.files;
  if (result.rootMissing) {
    frame.endingLine(result.rootError);
    return end(GenerationResult::PathFailed);
  }
  std::optional<FlushFigures> flush;
  if (journal) {
    const std::atomic<bool> stop{result.stopped || stopAsked()};
    flush = flushFigures(
        journalPath, *journal,
        checkAcknowledgedFiles(services.fs, job.rootFolder, journal->header.seed, journal->header.shape,
                               journal->header.filled, journal->files, stop),
        result);
    record.flushJournalJson = flushJson(*flush);
  }
  const std::string summary = formatVerifySummary(result);
  {
    // A shared run checks each part with a seed derived from the one given: the console names the
    // seed the user gave, as the report's parameters do.
    const std::uint64_t checkedSeed = result.seed;
    if (sharing != nullptr && parsed.seed && result.seedSource == SeedSource::Given) {
      result.seed = *parsed.seed;
    }
    // The read rate is the console's alone: the log keeps its lines as they were.
    std::string text =
        summary + "\n" +
        formatRateSentence("Read", job.bytesChecked.load(), job.filesChecked.load(), readSeconds, false) +
        "\n";
    for (const auto& l : formatVerifyDetails(result)) text += l + "\n";
    result.seed = checkedSeed;
    if (writesLog) {
      std::cout << text << std::flush;
    } else if (sharing->console) {
      sharing->console(text);
    }
  }
  log.writeLine(summary + ".");
  for (const auto& l : formatVerifyLogLines(result)) log.writeLine(l);
  if (flush) {
    // Only what the storage acknowledged can be lost; the rest is counted, never damage.
    if (writesLog) {
      std::cout << flush->summary() << "\n";
      for (std::size_t i = 0; i < flush->verdict.lost.size() && i < 10; ++i) {
        std::cout << "  lost after flush: " << escapeConsoleText(flush->verdict.lost[i].path) << ": "
                  << flush->verdict.lost[i].what << "\n";
      }
      std::cout << flush->unacknowledgedLine() << "\n" << std::flush;
    }
    log.writeLine(flush->summary() + ".");
    for (std::size_t i = 0; i < flush->verdict.lost.size() && i < 100; ++i) {
      log.writeLine("Lost after flush: " + flush->verdict.lost[i].path + ": " + flush->verdict.lost[i].what +
                    ".");
    }
    if (flush->verdict.lost.size() > 100) {
      log.writeLine("... and " + grouped(static_cast<std::int64_t>(flush->verdict.lost.size()) - 100) +
                    " more files lost after flush.");
    }
    if (result.stopped || flush->verdict.stopped) {
      log.writeLine("Verify stopped before every file was checked.");
      return end(GenerationResult::Stopped);
    }
    return end(flush->lost() > 0 ? GenerationResult::DataDamaged : GenerationResult::Done);
  }
  if (result.stopped) {
    log.writeLine("Verify stopped before every file was checked.");
    return end(GenerationResult::Stopped);
  }
  // A verify that found nothing a run made proves nothing: it never passes.
  if (result.nothingGenerated())
    log.writeLine("Nothing generated was found in '" + withoutTrailingSeparator(job.rootFolder) + "'.");
  return end(result.anyDamage() || result.nothingGenerated() ? GenerationResult::DataDamaged
                                                             : GenerationResult::Done);
}

}  // namespace quillet
