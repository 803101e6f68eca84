#include "mpi/shared_run.h"

#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/block_identity.h"
#include "engine/file_creation.h"
#include "engine/rate_text.h"
#include "engine/size_text.h"
#include "mpi/rank_summary.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/console_progress.h"
#include "script/run_report.h"
#include "script/script_log.h"
#include "script/verify_run.h"

namespace quillet {
namespace {

using Steady = std::chrono::steady_clock;

constexpr auto kRoundPeriod = std::chrono::milliseconds(100);
constexpr auto kPrintPeriod = std::chrono::seconds(1);
// After a stop signal the launcher ends the job about a second later; what is not agreed on by
// then is written from this rank's own figures.
constexpr double kStopGraceSeconds = 0.3;
constexpr double kStalledRoundSeconds = 0.1;
// A launcher that lost a rank warns the others (SIGCONT) and ends them a second later (Open MPI's
// default): a round still open this long after the warning waits for a rank that is gone, as live
// ranks complete one within milliseconds. A warning followed by a completed round was a resume.
constexpr double kWarnedRoundSeconds = 0.3;

std::int64_t microsOf(std::chrono::system_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

std::chrono::system_clock::time_point timeOf(std::int64_t us) {
  return std::chrono::system_clock::time_point(std::chrono::microseconds(us));
}

double secondsSince(Steady::time_point t) { return std::chrono::duration<double>(Steady::now() - t).count(); }

}  // namespace

SharedRun::SharedRun(RankExchange& exchange, FileSystem& fs, int shift, bool exchangeWhileRunning,
                     double silenceLimitSeconds)
    : exchange_(exchange),
      fs_(fs),
      shift_(shift),
      exchangeWhileRunning_(exchangeWhileRunning),
      silenceLimitSeconds_(silenceLimitSeconds) {
  mine_.startedUs = microsOf(std::chrono::system_clock::now());
}

RunSharing SharedRun::hooks(std::string rejection) {
  RunSharing h;
  h.writesLog = exchange_.rank() == 0;
  h.rejection = std::move(rejection);
  h.shareJob = [this](GenerationJob& job) { return shareJob(job, exchange_.rank(), true); };
  h.verifyPart = [this](std::string& root, std::optional<std::uint64_t>& seed) {
    verify_ = true;
    const int part = verifiedRank(exchange_.rank(), exchange_.ranks(), shift_);
    mine_.verifiedRank = part;
    verifyRoot_ = withTrailingSeparator(root);
    givenSeed_ = seed;
    root = verifyRoot_ + rankFolderName(part);
    if (seed) *seed = partSeed(*seed, part);
  };
  h.console = [this](const std::string& text) { console_ += text; };
  h.shareVerifiedJob = [this](GenerationJob& job) {
    // The job's root is already the checked rank's folder.
    const int part = verifiedRank(exchange_.rank(), exchange_.ranks(), shift_);
    const std::string folder = job.rootFolder;
    (void)shareJob(job, part, false);
    job.rootFolder = folder;
  };
  h.watchVerify = [this](VerifyJob& job) { watchVerify(job); };
  h.conclude = [this](int result, RunRecord& record, ScriptLog& log) {
    return conclude(result, record, &log);
  };
  return h;
}

std::string SharedRun::shareJob(GenerationJob& job, int part, bool create) {
  const std::string root = withTrailingSeparator(job.rootFolder);
  const std::string name = rankFolderName(part);
  const std::string folder = root + name;
  if (create) {
    // Every rank makes the root as far as it is missing (they race harmlessly: a folder another
    // made in between counts as made), then its own folder, which must be a real folder: a link
    // there would lead the rank's writes out of the root.
    if (const std::string failed = createMissingFolders(fs_, root); !failed.empty()) {
      return "Incorrect path - '" + failed + "'. Try to check root folder for errors.";
    }
    const Status made = fs_.createFolderBelow(root, name);
    std::error_code error;
    const auto status = std::filesystem::symlink_status(folder, error);
    if ((!made.ok() && made.kind() != ErrorKind::AlreadyExists) || error ||
        status.type() != std::filesystem::file_type::directory) {
      return "Incorrect path - '" + folder + "'. A rank's folder must be a folder, not a link or a file.";
    }
  }
  if (create) runWide_ = RunRecord::RunWide{root, job.allSize, job.limitSize, job.runSeed};
  job.rootFolder = withTrailingSeparator(folder);
  const int ranks = exchange_.ranks();
  if (job.byAllSize && !job.allPartition) {
    job.allSize = shareOf(job.allSize, part, ranks);
    zeroShare_ = job.allSize == 0;
  }
  if (!job.byAllSize && job.useLimitSize) job.limitSize = shareOf(job.limitSize, part, ranks);
  if (job.seedGiven) job.runSeed = partSeed(job.runSeed, part);
  return {};
}

bool SharedRun::tick(bool running) {
  if (stopSignalArrived()) {
    mine_.flags |= RankState::SignalStop;
    if (!signalAt_) signalAt_ = Steady::now();
  }
  if (running && !exchangeWhileRunning_) return false;
  if (continueSignalArrived() && !warnedAt_) warnedAt_ = Steady::now();
  const bool start = Steady::now() - lastRound_ >= kRoundPeriod;
  const bool completed = exchange_.poll(mine_, start);
  if (completed) {
    lastRound_ = Steady::now();
    warnedAt_.reset();
  }
  if (exchange_.waitingSeconds() > silenceLimitSeconds_) lost_ = true;
  if (warnedAt_ && secondsSince(*warnedAt_) > kWarnedRoundSeconds &&
      exchange_.waitingSeconds() > kWarnedRoundSeconds) {
    lost_ = true;
    endedByLauncher_ = true;
  }
  return completed;
}

const RankState& SharedRun::stateOf(int r) const {
  return r == exchange_.rank() ? mine_ : exchange_.all()[static_cast<std::size_t>(r)];
}

ProgressSnapshot SharedRun::summed(ProgressSnapshot local) const {
  local.filesCreated = 0;
  local.currentSize = 0;
  for (int r = 0; r < exchange_.ranks(); ++r) {
    const RankState& s = stateOf(r);
    local.filesCreated += s.files;
    local.currentSize += s.bytes;
  }
  return local;
}

void SharedRun::printProgress(const GenerationJob* job, bool last) {
  if (exchange_.rank() != 0 || format_ == ProgressFormat::Off) return;
  const auto now = Steady::now();
  if (!last && now - lastPrint_ < kPrintPeriod) return;
  lastPrint_ = now;
  const double seconds = std::chrono::duration<double>(now - shownFrom_).count();
  if (format_ == ProgressFormat::Json) {
    // Object lines only, as a single run gives them; the final one comes with the agreed result.
    if (last) return;
    if (job == nullptr) {
      const ReadFigures figures = summedRead();
      std::cerr << formatJsonReadLine(true, figures, readBefore_, seconds,
                                      std::chrono::duration<double>(now - jsonBeforeAt_).count()) +
                       "\n"
                << std::flush;
      readBefore_ = figures;
      jsonBeforeAt_ = now;
      return;
    }
    const ProgressSnapshot s = summed(job->snapshot());
    std::cerr << formatJsonProgressLine(s, jsonBefore_, byAllSize_, fillRandom_, seconds,
                                        std::chrono::duration<double>(now - jsonBeforeAt_).count()) +
                     "\n"
              << std::flush;
    jsonBefore_ = s;
    jsonBeforeAt_ = now;
    return;
  }
  const ReadFigures sums = summedRead();
  const std::int64_t files = sums.files, bytes = sums.bytes, damaged = sums.damagedBytes;
  int running = 0;
  for (int r = 0; r < exchange_.ranks(); ++r) {
    if (stateOf(r).phase != RankState::Concluded) ++running;
  }
  std::string line =
      "Ranks: " + std::to_string(exchange_.ranks()) + ", " + std::to_string(running) + " running; ";
  if (job == nullptr) {
    line += groupedCount(files) + " files and " + formatSize(bytes) + " checked, " + formatSize(damaged) +
            " damaged";
  } else {
    line += groupedCount(files) + " files, " + formatSize(bytes) + " written";
  }
  if (seconds > 0)
    line += ", " + formatSize(static_cast<std::int64_t>(static_cast<double>(bytes) / seconds)) + "/s";
  const bool terminal = standardErrorIsTerminal();
  if (terminal) {
    std::cerr << "\r" << line << "\x1b[K" << (last ? "\n" : "") << std::flush;
    lineOpen_ = !last;
  } else {
    std::cerr << line << "\n" << std::flush;
  }
}

void SharedRun::watchGeneration(GenerationJob& job) {
  mine_.phase = RankState::Running;
  shownFrom_ = lastPrint_ = jsonBeforeAt_ = Steady::now();
  byAllSize_ = job.byAllSize;
  fillRandom_ = job.fillRandom;
  while (!job.finished.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    mine_.files = job.filesCreated.load();
    mine_.bytes = job.currentSize.load();
    const bool completed = tick(true);
    if ((mine_.flags & RankState::SignalStop) != 0 || lost_) job.requestStop();
    if (completed) {
      for (int r = 0; r < exchange_.ranks(); ++r) {
        if (r == exchange_.rank()) continue;
        const RankState& s = exchange_.all()[static_cast<std::size_t>(r)];
        // Ctrl-C reaches every rank through the launcher; one it reached alone stops all the same.
        if ((s.flags & RankState::SignalStop) != 0) job.requestStop();
        // The shared volume is full, or a rank failed: the others end after the file in hand.
        if (s.phase == RankState::Concluded && endsOthers(s.result)) {
          job.endAtNextFile = true;
          if (mine_.endedByRank < 0) {
            mine_.endedByRank = r;
            mine_.endedByCode = s.result;
          }
        }
        if (s.phase == RankState::Concluded && s.result == toInt(GenerationResult::RankLost))
          job.requestStop();
      }
    }
    printProgress(&job, false);
  }
  mine_.files = job.filesCreated.load();
  mine_.bytes = job.currentSize.load();
}

ReadFigures SharedRun::summedRead() {
  ReadFigures figures;
  for (int r = 0; r < exchange_.ranks(); ++r) {
    const RankState& s = stateOf(r);
    figures.files += s.files;
    figures.bytes += s.bytes;
    figures.damagedBytes += s.damagedBytes;
  }
  // The ranks exchange what they checked, not what they found still to check.
  figures.filesFound = figures.files;
  return figures;
}

void SharedRun::watchVerify(VerifyJob& job) {
  mine_.phase = RankState::Running;
  shownFrom_ = lastPrint_ = jsonBeforeAt_ = Steady::now();
  while (!job.finished.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    mine_.files = job.filesChecked.load();
    mine_.bytes = job.bytesChecked.load();
    mine_.damagedBytes = job.damagedBytes.load();
    const bool completed = tick(true);
    if ((mine_.flags & RankState::SignalStop) != 0 || lost_) job.requestStop();
    if (completed) {
      for (const RankState& s : exchange_.all()) {
        if ((s.flags & RankState::SignalStop) != 0) job.requestStop();
      }
    }
    printProgress(nullptr, false);
  }
}

int SharedRun::conclude(int result, RunRecord& record, ScriptLog* log) {
  concluded_ = true;
  if (lineOpen_) std::cerr << "\n" << std::flush;
  // A zero share (a total smaller than the rank count) leaves nothing to make: done, not "zero size".
  if (zeroShare_ && result == toInt(GenerationResult::MaxSizeZero)) result = toInt(GenerationResult::Done);
  // Filling the shared volume, a rank that starts once the others have filled it finds no room
  // at all: the volume is full, not the sizes zero.
  if (const GenerationJob* job = record.job; job != nullptr && job->byAllSize && job->allPartition &&
                                             job->allSize <= 0 &&
                                             result == toInt(GenerationResult::MaxSizeZero)) {
    result = toInt(GenerationResult::VolumeFull);
  }
  mine_.phase = RankState::Concluded;
  mine_.result = result;
  mine_.startedUs = microsOf(record.started);
  mine_.endedUs = microsOf(record.ended);
  if (record.generationStarted) {
    mine_.generationStartUs = microsOf(*record.generationStarted);
    mine_.generationEndUs =
        mine_.generationStartUs + static_cast<std::int64_t>(record.generationSeconds * 1e6);
  }
  if (record.verifyMode) {
    verify_ = true;
    if (!record.verifyJson.empty()) {
      const auto j = nlohmann::json::parse(record.verifyJson, nullptr, false);
      if (!j.is_discarded()) {
        mine_.files = j.value("files_checked", std::int64_t{0});
        mine_.intactBytes = j["capacity"].value("intact_bytes", std::int64_t{0});
        std::int64_t damaged = 0;
        for (const auto& [name, c] : j["classes"].items()) {
          if (name != "ok") damaged += c.value("bytes", std::int64_t{0});
        }
        mine_.damagedBytes = damaged;
        const auto listed = [&j](const char* key) {
          return j.contains(key) && j[key].is_array() ? static_cast<std::int64_t>(j[key].size())
                                                      : std::int64_t{-1};
        };
        mine_.missingFiles = listed("missing_files");
        mine_.unexpectedFiles = listed("unexpected_files");
      }
    }
  } else if (const GenerationJob* job = record.job) {
    mine_.files = job->filesCreated.load();
    mine_.bytes = job->currentSize.load();
    mine_.foldersCreated = job->dirsCreated.load();
    mine_.foldersVisited = record.generationSeconds > 0 ? job->dirsProcessed.load() : 0;
    mine_.filesPlanned = job->filesPlanned.load();
    mine_.seedKnown = job->seedGiven || record.generationSeconds > 0 ? 1 : 0;
    mine_.runSeed = static_cast<std::int64_t>(job->runSeed);
    if (record.generationStarted) {
      for (const WriterTimes& w : job->writerTimes) {
        if (w.firstDone < 0) continue;
        const std::int64_t first = mine_.generationStartUs + static_cast<std::int64_t>(w.firstDone * 1e6);
        const std::int64_t last = mine_.generationStartUs + static_cast<std::int64_t>(w.lastDone * 1e6);
        if (mine_.firstDoneUs == 0 || first < mine_.firstDoneUs) mine_.firstDoneUs = first;
        if (last > mine_.lastDoneUs) mine_.lastDoneUs = last;
      }
    }
  }
  // What rank 0 receives at the end, one text: the rank's host name (for the end table and the
  // report), the log lines, the console lines, the verify object.
  std::string lines = std::string(1, kHostMarker) + hostName() + "\n";
  if (log != nullptr) {
    for (const auto& line : log->keptLines()) lines += line + "\n";
  }
  mine_.consoleBytes = static_cast<std::int64_t>(console_.size());
  mine_.verifyJsonBytes = static_cast<std::int64_t>(record.verifyJson.size());
  lines += console_ + record.verifyJson;
  mine_.logLines = static_cast<std::int64_t>(lines.size());

  // Rounds until every rank has concluded in one, which every rank sees in the same round.
  for (;;) {
    if (tick(false) && exchange_.allConcluded()) break;
    if (lost_) break;
    // Live ranks complete a round within milliseconds; one that has waited longer after a stop
    // signal waits for a rank the launcher has already ended.
    if (signalAt_ &&
        (secondsSince(*signalAt_) > kStopGraceSeconds || exchange_.waitingSeconds() > kStalledRoundSeconds)) {
      gaveUp_ = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const bool leader = exchange_.rank() == 0;
  if (lost_ || gaveUp_) {
    const int code = lost_                                        ? toInt(GenerationResult::RankLost)
                     : (mine_.flags & RankState::SignalStop) != 0 ? toInt(GenerationResult::Stopped)
                                                                  : result;
    if (leader && log != nullptr && endedByLauncher_) {
      log->writeLine(
          "A rank ended without its part (killed, or its node lost) and the launcher is ending the job; "
          "the figures are rank 0's own.");
    } else if (leader && log != nullptr) {
      log->writeLine(
          lost_ ? "No answer from the other ranks for " +
                      std::to_string(static_cast<int>(silenceLimitSeconds_)) +
                      " seconds: a rank ended without its part (killed, or its node lost). The figures are "
                      "rank 0's own."
                : "Stopped before every rank could report; the figures are rank 0's own.");
    }
    if (endedByLauncher_) {
      std::cerr << "quillet-mpi: rank " << exchange_.rank()
                << ": a rank ended without its part; ending the run\n";
    } else if (lost_) {
      std::cerr << "quillet-mpi: rank " << exchange_.rank()
                << ": no answer from the other ranks; ending the run\n";
    }
    return code;
  }

  const std::vector<RankState> all = exchange_.all();
  int decidedBy = -1;
  const int code = agreedResult(all, decidedBy);
  std::vector<std::string> texts;
  const bool gathered =
      exchange_.gatherTexts(lines, signalAt_ ? kStopGraceSeconds : silenceLimitSeconds_, texts);
  if (!gathered) {
    gaveUp_ = true;
    lost_ = !signalAt_;
  }
  if (!leader || log == nullptr) return code;

  std::vector<std::string> hosts(all.size(), "unknown");
  std::vector<std::int64_t> hostBytes(texts.size(), 0);
  for (std::size_t r = 0; r < texts.size(); ++r) {
    if (!texts[r].empty() && texts[r].front() == kHostMarker) {
      const auto end = texts[r].find('\n');
      if (r < hosts.size())
        hosts[r] = texts[r].substr(1, end == std::string::npos ? std::string::npos : end - 1);
      hostBytes[r] = static_cast<std::int64_t>(end == std::string::npos ? texts[r].size() : end + 1);
      texts[r].erase(0, static_cast<std::size_t>(hostBytes[r]));
    }
  }
  // Each rank's text in its parts, as its state announced them; a text cut at the size limit
  // loses its last parts first.
  std::vector<std::string> logs(texts.size()), consoles(texts.size()), verifyParts(texts.size());
  for (std::size_t r = 0; r < texts.size(); ++r) {
    const RankState& s = all[r];
    const auto cut = [&](std::size_t from, std::int64_t bytes) {
      return from >= texts[r].size()
                 ? std::string()
                 : texts[r].substr(from, static_cast<std::size_t>(std::max<std::int64_t>(bytes, 0)));
    };
    const std::int64_t logBytes = s.logLines - hostBytes[r] - s.consoleBytes - s.verifyJsonBytes;
    logs[r] = cut(0, logBytes);
    consoles[r] = cut(static_cast<std::size_t>(std::max<std::int64_t>(logBytes, 0)), s.consoleBytes);
    verifyParts[r] = cut(static_cast<std::size_t>(std::max<std::int64_t>(logBytes + s.consoleBytes, 0)),
                         s.verifyJsonBytes);
  }
  for (std::size_t r = 1; r < logs.size(); ++r) {
    std::size_t from = 0;
    for (std::size_t to; (to = logs[r].find('\n', from)) != std::string::npos; from = to + 1) {
      const std::string line = logs[r].substr(from, to - from);
      // Every rank reads the same script: a rejection is rank 0's line already.
      if (!record.rejection.empty() && line == record.rejection) continue;
      log->writeLine("Rank " + std::to_string(r) + ": " + line);
    }
    // The console gets each rank's summary and first damage (the indented lines), as rank 0's own
    // are shown.
    from = 0;
    for (std::size_t to; (to = consoles[r].find('\n', from)) != std::string::npos; from = to + 1) {
      const std::string line = consoles[r].substr(from, to - from);
      if (from == 0 || line.rfind("First damage:", 0) == 0) {
        std::cout << "Rank " << r << ": " << line << "\n";
      } else if (line.rfind("  ", 0) == 0) {
        std::cout << line << "\n";
      }
    }
  }
  if (verify_) {
    const std::string merged = mergedVerifyJson(verifyParts, all, verifyRoot_, givenSeed_);
    if (!merged.empty()) record.verifyJson = merged;
  }
  std::cout << std::flush;
  RunRecord::Totals totals;
  std::int64_t started = 0, ended = 0, generationEnd = 0;
  for (const RankState& s : all) {
    totals.filesCreated += s.files;
    totals.bytesAllocated += s.bytes;
    totals.foldersCreated += s.foldersCreated;
    totals.foldersVisited += s.foldersVisited;
    totals.filesPlanned += s.filesPlanned;
    if (s.startedUs > 0 && (started == 0 || s.startedUs < started)) started = s.startedUs;
    ended = std::max(ended, s.endedUs);
    generationEnd = std::max(generationEnd, s.generationEndUs);
  }
  const std::int64_t generationStart = earliestGenerationStart(all);
  if (decidedBy >= 0 && code != toInt(GenerationResult::Done)) {
    log->writeLine("Rank " + std::to_string(decidedBy) + " ended the run: " + resultText(code) + ".");
  }
  if (!verify_ && record.rejection.empty()) {
    log->writeLine("Ranks: " + std::to_string(all.size()) + "; made " + groupedCount(totals.filesCreated) +
                   " files, " + formatSize(totals.bytesAllocated) + " in all.");
    record.totals = totals;
    if (generationStart > 0)
      record.generationSeconds = static_cast<double>(generationEnd - generationStart) / 1e6;
  }
  if (started > 0) record.started = timeOf(started);
  if (ended > 0) record.ended = timeOf(ended);
  if (started > 0 && ended > started) record.durationSeconds = static_cast<double>(ended - started) / 1e6;
  record.sharedJson = ranksJson(all, decidedBy, verify_, verifyParts);
  std::vector<RankRate> rates;
  for (std::size_t r = 0; r < all.size(); ++r) {
    const RankState& s = all[r];
    const double seconds = s.generationStartUs > 0 && s.generationEndUs > s.generationStartUs
                               ? static_cast<double>(s.generationEndUs - s.generationStartUs) / 1e6
                               : 0.0;
    rates.push_back({hosts[r], s.files, s.bytes, seconds});
  }
  {
    // The hosts and the rates' spread join what the ranks' rows already say.
    auto shared = nlohmann::ordered_json::parse(record.sharedJson);
    for (std::size_t r = 0; r < hosts.size() && r < shared["per_rank"].size(); ++r)
      shared["per_rank"][r]["host"] = hosts[r];
    if (!verify_) {
      shared["rate_summary"] =
          rankRateJson(rates, totals.bytesAllocated, totals.filesCreated, record.generationSeconds);
    }
    record.sharedJson = shared.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }
  record.runWide = runWide_;
  if (verify_ && format_ == ProgressFormat::Json) {
    // The verify's final line: the sums over all ranks and the result they agreed on.
    const auto now = Steady::now();
    std::cerr << formatJsonReadLine(true, summedRead(), readBefore_,
                                    std::chrono::duration<double>(now - shownFrom_).count(),
                                    std::chrono::duration<double>(now - jsonBeforeAt_).count(), &code) +
                     "\n"
              << std::flush;
  }
  if (!verify_ && generationStart > 0 && format_ != ProgressFormat::Off) {
    ProgressSnapshot s;
    s.filesCreated = totals.filesCreated;
    s.currentSize = totals.bytesAllocated;
    s.dirsCreated = static_cast<std::int32_t>(totals.foldersCreated);
    s.dirsProcessed = static_cast<std::uint32_t>(totals.foldersVisited);
    s.finished = true;
    if (format_ == ProgressFormat::Json) {
      const auto now = Steady::now();
      std::cerr << formatJsonProgressLine(s, jsonBefore_, byAllSize_, fillRandom_, record.generationSeconds,
                                          std::chrono::duration<double>(now - jsonBeforeAt_).count(), &code) +
                       "\n"
                << std::flush;
    } else {
      for (const std::string& line :
           formatRankTable(rates, totals.bytesAllocated, totals.filesCreated, record.generationSeconds)) {
        std::cerr << line << "\n";
      }
      std::cerr << formatSummaryLine(code, s) << ' '
                << formatRateSentence("Aggregate write", totals.bytesAllocated, totals.filesCreated,
                                      record.generationSeconds)
                << ".\n"
                << std::flush;
    }
  }
  return code;
}

bool SharedRun::awaitLeader() {
  if (lost_ || gaveUp_) return false;
  if (exchange_.barrier(signalAt_ ? kStopGraceSeconds : silenceLimitSeconds_)) return true;
  gaveUp_ = true;
  return false;
}

int SharedRun::concludeUnlogged(int result) {
  RunRecord record;
  record.started = record.ended = std::chrono::system_clock::now();
  // The others have nothing to report to: they stop as a signal would stop them.
  mine_.flags |= RankState::SignalStop;
  return conclude(result, record, nullptr);
}

}  // namespace quillet
