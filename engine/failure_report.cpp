#include "engine/failure_report.h"

namespace quillet {
namespace {

void present(const EngineServices& services, FailureKind kind, const std::string& path,
             const Status& status = {}) {
  services.presenter.present(RunFailure{kind, path, status, {}});
}

}  // namespace

void reportFolderPath(const EngineServices& services, const std::string& path) {
  present(services, FailureKind::FolderPath, path);
}

void reportFilePath(const EngineServices& services, const std::string& path) {
  present(services, FailureKind::FilePath, path);
}

void reportCannotAllocate(const EngineServices& services) {
  present(services, FailureKind::CannotAllocate, {});
}

void reportVolumeFull(GenerationJob& job, const EngineServices& services, const std::string& folder) {
  // Writers that meet the full volume together make one report.
  if (job.volumeFullReported.exchange(true)) return;
  RunFailure failure{FailureKind::VolumeFull, services.fs.volumeDisplayName(folder), {}, {}};
  {
    std::lock_guard guard(job.nameLock);
    failure.lastFile = job.currentFileName;
  }
  services.presenter.present(failure);
}

void reportFileError(const EngineServices& services, const std::string& path, const Status& status) {
  present(services, FailureKind::CreateFile, path, status);
}

void reportWriteError(const EngineServices& services, const std::string& path, const Status& status) {
  present(services, FailureKind::WriteFile, path, status);
}

void reportVolumeFlushError(const EngineServices& services, const std::string& folder, const Status& status) {
  present(services, FailureKind::VolumeFlush, folder, status);
}

void reportJournalFlushRefused(const EngineServices& services, const std::string& folder,
                               const Status& status) {
  present(services, FailureKind::JournalVolumeFlush, folder, status);
}

void reportFreeSpaceUnknown(const EngineServices& services, const std::string& folder, const Status& status) {
  present(services, FailureKind::FreeSpaceUnknown, folder, status);
}

}  // namespace quillet
