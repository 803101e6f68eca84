#include "script/script_run.h"

#include <algorithm>
#include <iostream>

#include "engine/names.h"
#include "engine/volume_checks.h"
#include "engine/worker_thread.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/script_log.h"

namespace quillet {
namespace {

// Without a display the unexpected-failure box becomes a log line and a line on standard error.
class HeadlessPresenter final : public FailurePresenter {
 public:
  explicit HeadlessPresenter(ScriptLog& log) : log_(log) {}
  void showError(Caption, const std::string& text) override {
    // The interactive form separates sentences by an empty line; a log line joins them by a blank.
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        line += ' ';
      } else {
        line += text[i];
      }
    }
    log_.writeLine(line);
    std::cerr << "\nquillet: " << line << std::endl;
  }
  void showNotice(const std::string& text) override { std::cerr << "\nquillet: " << text << std::endl; }

 private:
  ScriptLog& log_;
};

void applyMask(std::string& mask, std::int64_t& nameSpace) {
  const NormalisedMask normalised = normaliseMask(mask);
  mask = normalised.mask;
  nameSpace = normalised.nameSpace;
}

}  // namespace

void completeScriptJob(GenerationJob& job, const ParseOutcome& parsed, FileSystem& fs) {
  if (job.byAllSize) {
    if (job.allPartition) job.allSize = allPartitionFreeSpace(fs, job.rootFolder);
    const std::int64_t allSize = job.allSize.load();
    if (!parsed.maxSizeGiven) {
      job.maxFileSize = job.minFileSize;
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
    job.maxFileSize = job.minFileSize;
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

void runScript(const std::string& mode, const std::vector<std::string>& args, const ScriptRunServices& services,
               std::atomic<int>& exitCode) {
  ScriptLog log(services.clock);
  if (!log.openLog(scriptLogPath(args.empty() ? std::string() : args[0]))) return;
  log.writeStartBanner();
  const auto stopAsked = [&services] { return services.stopAsked && services.stopAsked(); };
  // From here on a stop ends the run as the Stop button does: the end banner, result 2, whatever
  // was created stays.
  const auto endStopped = [&] {
    log.writeEndBanner();
    exitCode = toInt(GenerationResult::Stopped);
  };

  GenerationJob job;
  const ParseOutcome parsed = parseScript(mode, args, job);
  if (!parsed.accepted) {
    logRejection(log, parsed);
    if (stopAsked()) return endStopped();
    log.writeEndBanner();
    return;
  }
  // Once, before the volume is asked anything, so that every query, folder and log line names the
  // same place whatever the working folder becomes.
  job.rootFolder = absolutePath(job.rootFolder);
  completeScriptJob(job, parsed, services.fs);
  if (stopAsked()) return endStopped();

  HeadlessPresenter headless(log);
  FailurePresenter& presenter = services.presenter != nullptr ? *services.presenter : headless;
  const EngineServices engine{services.fs, services.clock, presenter};
  if (!services.fs.exists(job.rootFolder) &&
      !createRootFolder(job, engine, RootReport::ScriptLog, &log)) {
    log.writeEndBanner();
    exitCode = toInt(GenerationResult::PathFailed);
    return;
  }
  if (stopAsked()) return endStopped();

  job.scriptLog = &log;
  {
    WorkerThread worker(job, engine, exitCode);
    worker.start();
    services.progress.show(job);
    // The display may end on a stop before the worker has; the job and the log must outlive it.
    services.progress.waitForWorker(worker, job);
  }
  log.writeEndBanner();
}

}  // namespace quillet
