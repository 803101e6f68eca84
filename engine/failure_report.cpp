#include "engine/failure_report.h"

#include <cstring>

namespace quillet {
namespace {

void deliver(GenerationJob& job, const EngineServices& services, FailurePresenter::Caption caption,
             const std::string& interactive, const std::string& script) {
  if (job.scriptMode) {
    if (job.scriptLog != nullptr) job.scriptLog->writeLine(script);
    return;
  }
  services.presenter.showError(caption, interactive);
}

// The system's description of a failure; the whole message when it gave none apart.
std::string causeOf(const Status& status) { return status.cause().empty() ? status.message() : status.cause(); }

}  // namespace

void reportIncorrectPath(GenerationJob& job, const EngineServices& services, const std::string& path,
                         FailurePresenter::Caption caption) {
  deliver(job, services, caption,
          "Incorrect path - '" + path + "'.\n\nTry to check root folder and file mask for errors.",
          "Incorrect path - '" + path + "'. Try to check root folder and file mask for errors.");
}

void reportCannotAllocate(GenerationJob& job, const EngineServices& services) {
  const std::string text = "Can not allocate file of selected size.";
  deliver(job, services, FailurePresenter::Caption::Application, text, text);
}

void reportVolumeFull(GenerationJob& job, const EngineServices& services, const std::string& folder) {
  // Writers that meet the full volume together make one report.
  if (job.volumeFullReported.exchange(true)) return;
  const std::string drive = services.fs.volumeDisplayName(folder);
  std::string last;
  {
    std::lock_guard guard(job.nameLock);
    last = job.currentFileName.empty() ? "none" : job.currentFileName;
  }
  deliver(job, services, FailurePresenter::Caption::Application,
          "Destination drive " + drive + ": is full.\n\nLast processed file: " + last,
          "Destination drive " + drive + ": is full. Last processed file: " + last);
}

void reportFileError(const EngineServices& services, const std::string& path, const Status& status) {
  std::string cause = std::strerror(status.systemCode());
  services.presenter.showError(FailurePresenter::Caption::Application,
                               "Can not create file '" + path + "': " + cause + ".");
}

void reportWriteError(const EngineServices& services, const std::string& path, const Status& status) {
  const std::string cause = causeOf(status);
  services.presenter.showError(FailurePresenter::Caption::Application,
                               "Can not write file '" + path + "': " + cause + ".");
}

void reportVolumeFlushError(const EngineServices& services, const std::string& folder, const Status& status) {
  services.presenter.showError(FailurePresenter::Caption::Application,
                               "Can not flush the volume of '" + folder + "': " + causeOf(status) + ".");
}

void reportJournalFlushRefused(const EngineServices& services, const std::string& folder, const Status& status) {
  services.presenter.showError(FailurePresenter::Caption::Application,
                               "Can not flush the volume of '" + folder + "': " + causeOf(status) +
                                   "; with /sync:end the journal records files only once it is flushed "
                                   "(/sync:file flushes each file instead).");
}

void reportFreeSpaceUnknown(GenerationJob& job, const EngineServices& services, const std::string& folder,
                            const Status& status) {
  const std::string cause = causeOf(status);
  deliver(job, services, FailurePresenter::Caption::Application,
          "Can not read the free space of '" + folder + "': " + cause + ".",
          "Can not read the free space of '" + folder + "': " + cause + ".");
}

}  // namespace quillet
