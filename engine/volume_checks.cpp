#include "engine/volume_checks.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "engine/file_creation.h"

namespace quillet {

std::int64_t fileSystemSizeLimit(const std::string& fileSystemName) {
  static const std::pair<const char*, std::int64_t> kTable[] = {
      {"FAT", 2147483647LL},  {"FAT32", 4294967295LL}, {"NTFS", 0},  {"EXT2", 4294967295LL},
      {"EXT3", 4294967295LL}, {"EXT4", 0},             {"XFS", 0},   {"BTRFS", 0},
      {"EXFAT", 0},           {"TMPFS", 0},            {"ZFS", 0},   {"F2FS", 0},
      {"REFS", 0},            {"APFS", 0},
  };
  for (const auto& [name, limit] : kTable) {
    if (fileSystemName == name) return limit;
  }
  return 2147483647LL;
}

void setFileSystemLimit(GenerationJob& job, FileSystem& fs) {
  job.driveRoot = fs.driveRoot(job.rootFolder);
  const auto name = fs.fileSystemName(job.rootFolder);
  std::string upper = name.ok() ? name.value() : std::string();
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  job.fsFileSizeLimit = fileSystemSizeLimit(upper);
}

bool createRootFolder(GenerationJob& job, const EngineServices& services, RootReport report, LogSink* log) {
  const std::string failed = createMissingFolders(services.fs, job.rootFolder);
  if (failed.empty()) return true;
  if (report == RootReport::ScriptLog) {
    if (log != nullptr) log->writeLine("Incorrect path - '" + failed + "'. Try to check root folder for errors.");
  } else {
    services.presenter.showError(FailurePresenter::Caption::Error,
                                 "Incorrect path - '" + failed + "'.\n\nTry to check root folder for errors.");
  }
  return false;
}

}  // namespace quillet
