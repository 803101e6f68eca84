#include "engine/volume_checks.h"

#include <utility>

#include "engine/file_creation.h"
#include "platform/ascii.h"

namespace quillet {

std::int64_t fileSystemSizeLimit(const std::string& fileSystemName) {
  static const std::pair<const char*, std::int64_t> kTable[] = {
      {"FAT", 2147483647LL},
      {"FAT32", 4294967295LL},
      {"NTFS", 0},
      {"EXT2", 4294967295LL},
      {"EXT3", 4294967295LL},
      {"EXT4", 0},
      {"XFS", 0},
      {"BTRFS", 0},
      {"EXFAT", 0},
      {"TMPFS", 0},
      {"ZFS", 0},
      {"F2FS", 0},
      {"REFS", 0},
      {"APFS", 0},
  };
  for (const auto& [name, limit] : kTable) {
    if (fileSystemName == name) return limit;
  }
  return 2147483647LL;
}

void setFileSystemLimit(GenerationJob& job, FileSystem& fs) {
  job.driveRoot = fs.driveRoot(job.rootFolder);
  const auto name = fs.fileSystemName(job.rootFolder);
  job.fsFileSizeLimit = fileSystemSizeLimit(name.ok() ? asciiUpper(name.value()) : std::string());
}

std::int64_t allPartitionFreeSpace(FileSystem& fs, const std::string& root) {
  const std::string existing = fs.nearestExistingAncestor(root);
  if (existing.empty()) return 0;
  const auto space = fs.volumeSpace(existing);
  // The figure only sets the total and scales the progress bar; the run itself asks again before
  // every file and reports a failed query there.
  return space.ok() ? space.value().availableToCaller : 0;
}

bool createRootFolder(GenerationJob& job, const EngineServices& services) {
  const std::string failed = createMissingFolders(services.fs, job.rootFolder);
  if (failed.empty()) return true;
  services.presenter.present(RunFailure{FailureKind::RootPath, failed, {}, {}});
  return false;
}

}  // namespace quillet
