// An in-memory FileSystem with settable volume figures and injectable failures, recording every
// effect in order so tests can assert what the engine did. Paths use '/' and are compared as text.
// Thread-safe (one mutex), so a worker thread may use it while a test thread inspects it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/status.h"

#include "platform/file_system.h"

namespace quillet::test_support {

class FakeFileSystem : public FileSystem {
 public:
  struct File {
    std::int64_t size = 0;
    std::int64_t allocated = 0;
    bool closed = false;
    std::vector<std::uint8_t> content;  // what was written, when keepContent is set
  };

  FakeFileSystem();

  // Volume figures. Writes and allocations take their bytes from freeBytes.
  std::int64_t freeBytes = 1LL << 40;
  // Bytes the free figure shows on top of freeBytes that no write can take, as a nearly full
  // volume's figure may count blocks its file system keeps back.
  // Atomic: a beforeWrite hook may change it while the engine runs.
  std::atomic<std::int64_t> unusableFreeBytes{0};
  std::int64_t totalBytes = 1LL << 41;
  std::int32_t cluster = 4096;
  std::string fsName = "EXT4";
  bool volumeQueryFails = false;
  int volumeQueries = 0;  // volumeSpace calls so far

  // Failure injection. Each allocate failure consumes one entry of allocateFailures.
  int allocateFailures = 0;
  // createNewFile fails with this kind for paths containing failCreateContaining (when not empty).
  std::string failCreateContaining;
  ErrorKind failCreateKind = ErrorKind::WrongPath;
  // createFolder fails with this kind for exactly this path.
  std::string failFolderPath;
  ErrorKind failFolderKind = ErrorKind::Other;
  // Called before each write with the running count of writes; may change the fake's state (for
  // example request a stop or shrink freeBytes). Runs with the fake's lock released.
  std::function<void(int writeIndex)> beforeWrite;
  // Write number diskFullAtWrite (0-based) accepts diskFullPartial bytes and reports a full disk
  // whatever freeBytes says.
  int diskFullAtWrite = -1;
  std::size_t diskFullPartial = 0;
  // Write number failWriteAt (0-based) fails with failWriteKind after accepting nothing.
  int failWriteAt = -1;
  ErrorKind failWriteKind = ErrorKind::Other;
  // Closing a file whose path contains failCloseContaining (when not empty) reports failCloseKind.
  std::string failCloseContaining;
  ErrorKind failCloseKind = ErrorKind::Other;
  // Listing this folder fails after its first entry (read error), when not empty.
  std::string failListingOf;
  // Keeps the bytes written to each file (File::content); off, only sizes are kept.
  bool keepContent = false;
  // syncData of a file whose path contains failSyncContaining (when not empty) reports failSyncKind.
  std::string failSyncContaining;
  ErrorKind failSyncKind = ErrorKind::Other;
  // syncVolume reports this failure when it is not ok.
  Status volumeSyncStatus;

  // Setup helpers.
  void addFolder(const std::string& path);
  void addFile(const std::string& path, std::int64_t size = 0);
  // A symbolic link to a folder out of the tree: its name is taken and listed as a link, it is a
  // folder to isFolder, and nothing is ever made through it.
  void addLink(const std::string& path);

  // Inspection.
  std::vector<std::string> effects() const;  // "mkdir <p>", "create <p>", "write <p> <n>", ...
  std::map<std::string, File> files() const;
  bool hasFolder(const std::string& path) const;

  // FileSystem.
  Result<VolumeSpace> volumeSpace(const std::string& path) override;
  Result<std::int32_t> clusterSize(const std::string& path) override;
  Result<std::string> fileSystemName(const std::string& path) override;
  std::string driveRoot(const std::string& path) override;
  std::string volumeDisplayName(const std::string& path) override;
  // The fake's links stand for links to folders out of the tree.
  PathKind pathKind(const std::string& path) override;
  Status createFolder(const std::string& path) override;
  Result<std::unique_ptr<FileHandle>> createNewFile(const std::string& path) override;
  // The relative path is joined to base; the fake's links lead nowhere, so none is passed.
  Status createFolderBelow(const std::string& base, const std::string& relative) override;
  Result<std::unique_ptr<FileHandle>> createNewFileBelow(const std::string& base,
                                                         const std::string& relative) override;
  Result<std::unique_ptr<FolderReader>> openFolder(const std::string& path) override;
  // Reads a file's kept content (zeros where none was kept), "through the cache"; every open is
  // recorded as "check <p>". Links and folders are refused as the real ones refuse them.
  Result<std::unique_ptr<ReadHandle>> openForCheck(const std::string& base,
                                                   const std::string& relative) override;
  // Records "syncfs <path>" (or "syncfs-failed <path>").
  Status syncVolume(const std::string& path) override;

 private:
  friend class FakeHandle;
  static std::string normalise(const std::string& path);
  bool takenLocked(const std::string& normalised) const;
  Status writeTo(const std::string& path, const void* data, std::size_t size, std::size_t& written);
  Status syncFile(const std::string& path);
  Status allocateTo(const std::string& path, std::int64_t size);
  Status closeFile(const std::string& path);

  mutable std::mutex mutex_;
  std::set<std::string> folders_;
  std::map<std::string, File> files_;
  std::set<std::string> links_;
  std::vector<std::string> effects_;
  int writes_ = 0;
};

}  // namespace quillet::test_support
