#include "script/script_run.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <optional>

#include "engine/names.h"
#include "engine/population_sampler.h"
#include "engine/volume_checks.h"
#include "engine/worker_thread.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/console_progress.h"
#include "script/device_run.h"
#include "script/failure_text.h"
#include "script/flush_journal.h"
#include "script/measure_run.h"
#include "script/population_profile_read.h"
#include "script/population_report.h"
#include "script/probe_run.h"
#include "script/report_page.h"
#include "script/report_series.h"
#include "script/run_frame.h"
#include "script/run_report.h"
#include "script/script_log.h"
#include "script/verify_run.h"

namespace quillet {
namespace {

// How a script run tells the engine's failures. Those a script is expected to meet (a wrong path, a
// full volume, a size that cannot be allocated, a free space that cannot be asked) are one log
// line. An unexpected one (a file that cannot be created or written, a volume that cannot be
// flushed) raises the run's box when it has a display; without one it becomes a log line and a line
// on standard error. With /progress:json, standard error carries object lines only, so these lines
// become notices.
class ScriptFailurePresenter final : public FailurePresenter {
 public:
  ScriptFailurePresenter(LogSink& log, ProgressFormat format, FailurePresenter* box)
      : log_(log), format_(format), box_(box) {}
  void present(const RunFailure& failure) override {
    if (!unexpected(failure.kind)) {
      log_.writeLine(failureLogLine(failure));
    } else if (box_ != nullptr) {
      box_->present(failure);
    } else {
      const std::string line = oneLine(failureBoxText(failure));
      log_.writeLine(line);
      say("error", line);
    }
  }
  void showNotice(const std::string& text) override {
    if (box_ != nullptr) {
      box_->showNotice(text);
    } else {
      say("notice", text);
    }
  }

 private:
  static bool unexpected(FailureKind kind) {
    return kind == FailureKind::CreateFile || kind == FailureKind::WriteFile ||
           kind == FailureKind::VolumeFlush || kind == FailureKind::JournalVolumeFlush;
  }
  // The box's text as a line: an empty line between sentences, as any other line break, becomes
  // a blank, so that a name holding a line break cannot break the line either.
  static std::string oneLine(const std::string& text) {
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        line += ' ';
      } else {
        line += text[i];
      }
    }
    return line;
  }
  void say(const char* severity, const std::string& text) {
    if (format_ == ProgressFormat::Json) {
      std::cerr << formatJsonNotice(severity, text) + "\n" << std::flush;
    } else {
      std::cerr << "\nquillet: " << text << std::endl;
    }
  }

  LogSink& log_;
  ProgressFormat format_;
  FailurePresenter* box_;
};

// Gathers what the report needs as the run goes, in the frame's record; the frame writes it when the
// run ends, before the end banner, so that a report that cannot be written is a line of the same
// log block.
class ReportKeeper {
 public:
  ReportKeeper(RunFrame& frame, const std::string& mode) : frame_(frame), record_(frame.record()) {
    frame.wantReport(true);
    record_.byAllSize = mode == "/S";
  }
  bool wanted() const { return frame_.reportWanted(); }
  void accepted(const GenerationJob& job, const ScriptExtensions& extensions) {
    record_.job = &job;
    record_.extensions = extensions;
    record_.extensions.reportPath = frame_.reportPath();
    record_.extensions.htmlPath = frame_.pagePath();
  }

  // The volume before the generation: queried on the root, or its nearest existing ancestor
  // while the root is still to be made.
  void volumeBefore(FileSystem& fs, const GenerationJob& job) {
    if (!wanted()) return;
    ReportVolume v;
    const std::string where = fs.nearestExistingAncestor(job.rootFolder);
    v.mountPoint = job.driveRoot.empty() ? fs.driveRoot(job.rootFolder) : job.driveRoot;
    if (const auto name = fs.fileSystemName(job.rootFolder); name.ok()) v.fileSystem = name.value();
    if (const auto space = fs.volumeSpace(where); !where.empty() && space.ok()) {
      v.totalBytes = space.value().total;
      v.freeBytesBefore = space.value().availableToCaller;
    }
    record_.volume = v;
  }
  void generationStarts() {
    generationStarted_ = Steady::now();
    record_.generationStarted = std::chrono::system_clock::now();
  }
  void generationEnded(FileSystem& fs, const GenerationJob& job) {
    record_.generationSeconds = std::chrono::duration<double>(Steady::now() - generationStarted_).count();
    if (!wanted() || !record_.volume) return;
    record_.volume->clusterBytes = job.clusterSize;
    if (const auto space = fs.volumeSpace(fs.nearestExistingAncestor(job.rootFolder)); space.ok()) {
      record_.volume->freeBytesAfter = space.value().availableToCaller;
      if (!record_.volume->totalBytes) record_.volume->totalBytes = space.value().total;
    }
  }

  void keepSeries(RateSeries series) { record_.series = std::move(series); }
  void keepPopulation(std::string json) { record_.populationJson = std::move(json); }

 private:
  using Steady = std::chrono::steady_clock;
  RunFrame& frame_;
  RunRecord& record_;
  Steady::time_point generationStarted_;
};

// Passes lines on to the log and keeps the last one, for the console.
class LineKeeper final : public LogSink {
 public:
  explicit LineKeeper(LogSink& log) : log_(log) {}
  void writeLine(const std::string& text) override {
    log_.writeLine(text);
    last = text;
  }
  std::string last;

 private:
  LogSink& log_;
};
// Why a journal cannot be kept where asked: on the volume under test a power cut would take the
// record with the data, and the verify would believe whatever survived. Empty when it can.
std::string journalRefusal(FileSystem& fs, const std::string& journal, const std::string& root) {
  const std::string rootFolder = withTrailingSeparator(root);
  if (journal.rfind(rootFolder, 0) == 0 || fs.sameVolume(journal, rootFolder)) {
    return "Invalid script. /journal file must be on another volume than the root (the volume under test).";
  }
  return {};
}

// The run's line as the journal's first record keeps it: its parameters, as given.
std::string runLineOf(const std::vector<std::string>& args) {
  std::string line;
  for (std::size_t i = 1; i < args.size(); ++i) line += (i > 1 ? " " : "") + args[i];
  return line;
}

void applyMask(std::string& mask, std::int64_t& nameSpace) {
  const NormalisedMask normalised = normaliseMask(mask);
  mask = normalised.mask;
  nameSpace = normalised.nameSpace;
}

}  // namespace

void completeScriptJob(GenerationJob& job, const ParseOutcome& parsed, FileSystem& fs) {
  completeProfileJob(job, parsed);
  // A profile's sizes are bounded by /maxsize only when it is given.
  const std::int64_t defaultMaxSize = job.population ? kMaxProfileFileSize : job.minFileSize;
  if (job.byAllSize) {
    if (job.allPartition) job.allSize = allPartitionFreeSpace(fs, job.rootFolder);
    const std::int64_t allSize = job.allSize;
    if (!parsed.maxSizeGiven) {
      job.maxFileSize = std::max(defaultMaxSize, job.minFileSize);
    } else {
      job.maxFileSize = std::max(job.maxFileSize, job.minFileSize);
      // Filling the whole volume lowers a maximum above the free space only with the minimum.
      if (job.allPartition && job.minFileSize > allSize) job.minFileSize = job.maxFileSize = allSize;
    }
    setFileSystemLimit(job, fs);
    if (!job.allPartition) fitSizesBelow(job.minFileSize, job.maxFileSize, allSize);
    fillNameAlphabet(job.nameAlphabet);
    if (job.useFileMask) applyMask(job.fileMask, job.fileNameSpace);
    return;
  }
  if (!parsed.maxSizeGiven) {
    job.maxFileSize = std::max(defaultMaxSize, job.minFileSize);
  } else if (job.minFileSize > job.maxFileSize) {
    job.maxFileSize = job.minFileSize;
  }
  setFileSystemLimit(job, fs);
  if (job.minFiles > job.maxFiles) job.maxFiles = job.minFiles;
  if (job.useLimitSize) fitSizesBelow(job.minFileSize, job.maxFileSize, job.limitSize);
  fillNameAlphabet(job.nameAlphabet);
  if (job.useFileMask) applyMask(job.fileMask, job.fileNameSpace);
  if (job.useDirMask) applyMask(job.dirMask, job.dirNameSpace);
  if (job.treeDeep == 0) job.treeDeep = 1;
}

std::string attachProfile(GenerationJob& job, const ScriptExtensions& extensions) {
  if (extensions.profile.empty()) return {};
  std::string error;
  // A built-in name first; anything else is a file, relative to the working folder.
  std::optional<PopulationProfile> profile = builtInProfile(extensions.profile);
  if (!profile) profile = loadPopulationProfile(absolutePath(extensions.profile), error);
  if (!profile) return "Invalid script. Profile '" + extensions.profile + "' " + error + ".";
  auto sampler = std::make_shared<const PopulationSampler>(std::move(*profile));
  // Empty files add nothing to a total: by all size such a profile would never reach it.
  if (job.byAllSize && sampler->sizeCdf(0) >= 0.99) {
    return "Invalid script. Profile '" + extensions.profile +
           "' gives empty files only; /s could never reach /allsize.";
  }
  job.population = std::move(sampler);
  return {};
}

bool openRunLog(ScriptLog& log, const std::vector<std::string>& args, const RunSharing* sharing) {
  if (sharing != nullptr && !sharing->writesLog) {
    log.keepLinesInstead();
    return true;
  }
  return log.openLog(scriptLogPath(args.empty() ? std::string() : args[0]));
}

namespace {

// A run by all size or by files number (/s, /f).
int runGeneration(const ScriptArgs& script, const ScriptRunServices& services) {
  const RunSharing* sharing = services.sharing;
  RunFrame frame(script, services, sharing);
  if (!frame.open()) return 0;
  const bool writesLog = frame.writesLog();
  ScriptLog& log = frame.log();
  ReportKeeper report(frame, script.mode);
  const auto stopAsked = [&frame] { return frame.stopAsked(); };
  GenerationJob job;
  // Until the display shows the run, its end is told by the frame: the line that ended it (a
  // rejection, a root that cannot be made), or under /progress:json a final line of a run that made
  // nothing.
  frame.setFinalLine([&](int code) {
    ProgressSnapshot s = job.snapshot();
    s.finished = true;
    std::cerr << formatJsonProgressLine(s, s, job.byAllSize, job.fillRandom, frame.record().durationSeconds,
                                        0, &code) +
                     "\n"
              << std::flush;
  });
  // Every end goes through the frame: the report (when asked for), the end banner, the result.
  // nullopt: a rejected script's 0.
  const auto end = [&](std::optional<GenerationResult> result) {
    return frame.end(result ? toInt(*result) : 0);
  };
  // From here on a stop ends the run as the Stop button does: result 2, whatever was created stays.
  const auto endStopped = [&] { return end(GenerationResult::Stopped); };

  ParseOutcome parsed = parseScript(script, job);
  if (parsed.accepted && sharing != nullptr && !sharing->rejection.empty()) {
    parsed.accepted = false;
    parsed.message = sharing->rejection;
  }
  if (!parsed.accepted) {
    frame.reject(rejectionText(parsed));
    if (stopAsked()) return endStopped();
    return end(std::nullopt);
  }
  if (const std::string refused = attachProfile(job, parsed.extensions); !refused.empty()) {
    frame.reject(refused);
    if (stopAsked()) return endStopped();
    return end(std::nullopt);
  }
  if (job.population)
    job.populationTally = std::make_shared<PopulationTally>(job.population->profile().extensions.size());
  report.accepted(job, parsed.extensions);
  frame.setConsoleForm(parsed.extensions.progress);
  const ProgressFormat consoleForm = parsed.extensions.progress;
  // Once, before the volume is asked anything, so that every query, folder and log line names the
  // same place whatever the working folder becomes.
  job.rootFolder = absolutePath(job.rootFolder);
  if (sharing != nullptr && sharing->shareJob) {
    if (const std::string failed = sharing->shareJob(job); !failed.empty()) {
      frame.endingLine(failed);
      return end(GenerationResult::PathFailed);
    }
  }
  completeScriptJob(job, parsed, services.fs);
  // How the profile met the run's limits: said in the log and on the console before the run.
  const std::vector<std::string> resolutions = profileResolutionLines(job, parsed);
  for (const auto& line : resolutions) {
    log.writeLine(line);
    if (writesLog && consoleForm == ProgressFormat::Json) {
      std::cerr << formatJsonNotice("notice", line) + "\n" << std::flush;
    } else if (writesLog) {
      std::cerr << "quillet: " << line << "\n" << std::flush;
    }
  }
  report.volumeBefore(services.fs, job);
  if (stopAsked()) return endStopped();

  std::unique_ptr<ScriptFlushJournal> journal;
  if (!parsed.extensions.journalPath.empty()) {
    const std::string journalPath = absolutePath(parsed.extensions.journalPath);
    std::string refusal = sharing != nullptr
                              ? "Invalid script. /journal parameter can't be used in a shared run."
                              : journalRefusal(services.fs, journalPath, job.rootFolder);
    if (!refusal.empty()) {
      log.writeLine(refusal);
      std::cerr << "quillet: " << refusal << "\n";
      return end(GenerationResult::PathFailed);
    }
    auto opened = ScriptFlushJournal::open(journalPath, runLineOf(script.args), job);
    if (!opened.ok()) {
      const std::string line =
          "Can not write journal '" + journalPath + "': " + opened.status().message() + ".";
      log.writeLine(line);
      std::cerr << "quillet: " << line << "\n";
      return end(GenerationResult::PathFailed);
    }
    journal = std::move(opened.value());
    job.journal = journal.get();
  }

  ScriptFailurePresenter presenter(log, parsed.extensions.progress, services.presenter);
  const EngineServices engine{services.fs, services.clock, presenter};
  LineKeeper rootLines(log);
  ScriptFailurePresenter rootPresenter(rootLines, parsed.extensions.progress, services.presenter);
  if (!services.fs.exists(job.rootFolder) &&
      !createRootFolder(job, {services.fs, services.clock, rootPresenter})) {
    frame.setEndingText(rootLines.last);
    return end(GenerationResult::PathFailed);
  }
  if (stopAsked()) return endStopped();

  services.progress.setFormat(parsed.extensions.progress);
  report.generationStarts();
  frame.displayed();
  {
    // The speed record is sampled only for a report: a run without one pays nothing for it.
    std::optional<RateSampler> sampler;
    if (report.wanted()) sampler.emplace([&job] { return sampleOf(job); });
    WorkerThread worker(job, engine);
    worker.start();
    services.progress.show(job);
    // The display may end on a stop before the worker has; the job and the log must outlive it.
    services.progress.waitForWorker(worker, job);
    if (sampler) report.keepSeries(sampler->finish());
  }
  report.generationEnded(services.fs, job);
  if (job.population && job.populationTally) {
    auto fit = populationFitJson(*job.population, job.populationTally->contents(), resolutions,
                                 !job.byAllSize && job.recurseSubfolders);
    // Only the rank that writes the log writes the report: in a shared run its figures are its own
    // tree's, and the report says whose.
    if (sharing != nullptr && writesLog) fit["achieved_rank"] = 0;
    report.keepPopulation(fit.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
    if (writesLog && consoleForm == ProgressFormat::Human) {
      std::cerr << "\n";
      for (const auto& line : formatPopulationTable(fit)) std::cerr << line << "\n";
      std::cerr << std::flush;
    }
  }
  return end(job.snapshot().result);
}

}  // namespace

int runScript(const ScriptArgs& script, const ScriptRunServices& services) {
  if (isDeviceRequest(script)) return runDeviceScript(script, services);
  if (isVerifyRequest(script)) return runVerifyScript(script, services);
  if (script.mode == "/M") return runMeasureScript(script, services);
  if (script.mode == "/PROBE") return runProbeScript(script, services);
  if (script.mode == "/H") return runPageScript(script.args);
  return runGeneration(script, services);
}

int runScript(const std::string& mode, const std::vector<std::string>& args,
              const ScriptRunServices& services) {
  return runScript(readScriptArgs(mode, args), services);
}

}  // namespace quillet
