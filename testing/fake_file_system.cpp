#include "testing/fake_file_system.h"

#include <algorithm>

namespace quillet::test_support {

class FakeHandle final : public FileHandle {
 public:
  FakeHandle(FakeFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
  ~FakeHandle() override { close(); }
  Status write(const void* data, std::size_t size, std::size_t& written) override {
    return fs_.writeTo(path_, data, size, written);
  }
  Status syncData() override { return fs_.syncFile(path_); }
  Status allocate(std::int64_t size) override { return fs_.allocateTo(path_, size); }
  Status close() override {
    if (closed_) return {};
    closed_ = true;
    return fs_.closeFile(path_);
  }

 private:
  FakeFileSystem& fs_;
  std::string path_;
  bool closed_ = false;
};

namespace {

class FakeReader final : public FolderReader {
 public:
  FakeReader(std::vector<FolderEntry> entries, bool failAfterFirst)
      : entries_(std::move(entries)), failAfterFirst_(failAfterFirst) {}
  Result<bool> next(FolderEntry& entry) override {
    if (failAfterFirst_ && index_ >= 1)
      return Status::failure(ErrorKind::Other, 5, "folder listing", "read error");
    if (index_ >= entries_.size()) return false;
    entry = entries_[index_++];
    return true;
  }

 private:
  std::vector<FolderEntry> entries_;
  bool failAfterFirst_;
  std::size_t index_ = 0;
};

Status fail(ErrorKind kind, const std::string& path, const char* what) {
  return Status::failure(kind, 1, path, what);
}

std::string parentOf(const std::string& path) {
  const auto cut = path.find_last_of('/');
  if (cut == std::string::npos || cut == 0) return "/";
  return path.substr(0, cut);
}

}  // namespace

FakeFileSystem::FakeFileSystem() { folders_.insert("/"); }

std::string FakeFileSystem::normalise(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

void FakeFileSystem::addFolder(const std::string& path) {
  std::lock_guard lock(mutex_);
  std::string p = normalise(path);
  while (p != "/" && !p.empty()) {
    folders_.insert(p);
    p = parentOf(p);
  }
}

void FakeFileSystem::addFile(const std::string& path, std::int64_t size) {
  addFolder(parentOf(normalise(path)));
  std::lock_guard lock(mutex_);
  files_[normalise(path)] = File{size, size, true, {}};
}

void FakeFileSystem::addLink(const std::string& path) {
  addFolder(parentOf(normalise(path)));
  std::lock_guard lock(mutex_);
  links_.insert(normalise(path));
}

bool FakeFileSystem::takenLocked(const std::string& p) const {
  return folders_.count(p) != 0 || files_.count(p) != 0 || links_.count(p) != 0;
}

std::vector<std::string> FakeFileSystem::effects() const {
  std::lock_guard lock(mutex_);
  return effects_;
}

std::map<std::string, FakeFileSystem::File> FakeFileSystem::files() const {
  std::lock_guard lock(mutex_);
  return files_;
}

bool FakeFileSystem::hasFolder(const std::string& path) const {
  std::lock_guard lock(mutex_);
  return folders_.count(normalise(path)) != 0;
}

Result<VolumeSpace> FakeFileSystem::volumeSpace(const std::string& path) {
  std::lock_guard lock(mutex_);
  ++volumeQueries;
  if (volumeQueryFails || folders_.count(normalise(path)) == 0)
    return fail(ErrorKind::WrongPath, path, "no such folder");
  return VolumeSpace{freeBytes + unusableFreeBytes.load(), totalBytes};
}

Result<std::int32_t> FakeFileSystem::clusterSize(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (volumeQueryFails) return fail(ErrorKind::Other, path, "query failed");
  return cluster;
}

Result<std::string> FakeFileSystem::fileSystemName(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (volumeQueryFails) return fail(ErrorKind::Other, path, "query failed");
  return fsName;
}

std::string FakeFileSystem::driveRoot(const std::string&) { return "/"; }

std::string FakeFileSystem::volumeDisplayName(const std::string&) { return "/"; }

PathKind FakeFileSystem::pathKind(const std::string& path) {
  std::lock_guard lock(mutex_);
  const std::string p = normalise(path);
  if (folders_.count(p) != 0) return PathKind::Folder;
  if (files_.count(p) != 0) return PathKind::File;
  if (links_.count(p) != 0) return PathKind::LinkToFolder;
  return PathKind::Missing;
}

Status FakeFileSystem::createFolderBelow(const std::string& base, const std::string& relative) {
  return createFolder(base + relative);
}

Result<std::unique_ptr<FileHandle>> FakeFileSystem::createNewFileBelow(const std::string& base,
                                                                       const std::string& relative) {
  return createNewFile(base + relative);
}

Status FakeFileSystem::createFolder(const std::string& path) {
  std::lock_guard lock(mutex_);
  const std::string p = normalise(path);
  if (!failFolderPath.empty() && normalise(failFolderPath) == p) return fail(failFolderKind, path, "refused");
  if (takenLocked(p)) return fail(ErrorKind::AlreadyExists, path, "exists");
  if (folders_.count(parentOf(p)) == 0) return fail(ErrorKind::WrongPath, path, "no parent");
  folders_.insert(p);
  effects_.push_back("mkdir " + p);
  return {};
}

Result<std::unique_ptr<FileHandle>> FakeFileSystem::createNewFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  const std::string p = normalise(path);
  if (!failCreateContaining.empty() && p.find(failCreateContaining) != std::string::npos) {
    return fail(failCreateKind, path, "refused");
  }
  if (takenLocked(p)) return fail(ErrorKind::AlreadyExists, path, "exists");
  if (folders_.count(parentOf(p)) == 0) return fail(ErrorKind::WrongPath, path, "no parent");
  files_[p] = File{};
  effects_.push_back("create " + p);
  return std::unique_ptr<FileHandle>(new FakeHandle(*this, p));
}

Result<std::unique_ptr<FolderReader>> FakeFileSystem::openFolder(const std::string& path) {
  std::lock_guard lock(mutex_);
  const std::string p = normalise(path);
  if (folders_.count(p) == 0) return fail(ErrorKind::WrongPath, path, "no such folder");
  std::vector<FolderEntry> entries;
  const std::string prefix = p == "/" ? "/" : p + "/";
  // The entry for a path directly inside the folder, if it is one.
  const auto add = [&](const std::string& f, bool isDirectory, bool isLink) {
    if (f.size() > prefix.size() && f.compare(0, prefix.size(), prefix) == 0 &&
        f.find('/', prefix.size()) == std::string::npos) {
      const std::string name = f.substr(prefix.size());
      entries.push_back({name, isDirectory, name[0] == '.', false, isLink});
    }
  };
  for (const auto& f : folders_) add(f, true, false);
  for (const auto& [f, file] : files_) add(f, false, false);
  for (const auto& f : links_) add(f, false, true);
  const bool failing = !failListingOf.empty() && normalise(failListingOf) == p;
  return std::unique_ptr<FolderReader>(new FakeReader(std::move(entries), failing));
}

Status FakeFileSystem::writeTo(const std::string& path, const void* data, std::size_t size,
                               std::size_t& written) {
  int index;
  {
    std::lock_guard lock(mutex_);
    index = writes_++;
  }
  if (beforeWrite) beforeWrite(index);
  std::lock_guard lock(mutex_);
  if (index == failWriteAt) {
    written = 0;
    effects_.push_back("write-failed " + path);
    return fail(failWriteKind, path, "input/output error");
  }
  const auto n = static_cast<std::int64_t>(size);
  std::int64_t accepted = std::clamp<std::int64_t>(freeBytes, 0, n);
  if (index == diskFullAtWrite)
    accepted = std::min<std::int64_t>(accepted, static_cast<std::int64_t>(diskFullPartial));
  written = static_cast<std::size_t>(accepted);
  freeBytes -= accepted;
  files_[path].size += accepted;
  if (keepContent) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    files_[path].content.insert(files_[path].content.end(), bytes, bytes + accepted);
  }
  effects_.push_back("write " + path + " " + std::to_string(accepted));
  if (accepted < n || index == diskFullAtWrite) return fail(ErrorKind::DiskFull, path, "no space left");
  return {};
}

Status FakeFileSystem::allocateTo(const std::string& path, std::int64_t size) {
  std::lock_guard lock(mutex_);
  if (allocateFailures > 0 || size > freeBytes) {
    if (allocateFailures > 0) --allocateFailures;
    effects_.push_back("allocate-failed " + path + " " + std::to_string(size));
    return fail(ErrorKind::DiskFull, path, "cannot allocate");
  }
  freeBytes -= size;
  files_[path].size = size;
  files_[path].allocated = size;
  effects_.push_back("allocate " + path + " " + std::to_string(size));
  return {};
}

Status FakeFileSystem::closeFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  files_[path].closed = true;
  if (!failCloseContaining.empty() && path.find(failCloseContaining) != std::string::npos) {
    effects_.push_back("close-failed " + path);
    return fail(failCloseKind, path, "write-back failed");
  }
  effects_.push_back("close " + path);
  return {};
}

Status FakeFileSystem::syncFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (!failSyncContaining.empty() && path.find(failSyncContaining) != std::string::npos) {
    effects_.push_back("sync-failed " + path);
    return fail(failSyncKind, path, "input/output error");
  }
  effects_.push_back("sync " + path);
  return {};
}

Status FakeFileSystem::syncVolume(const std::string& path) {
  std::lock_guard lock(mutex_);
  effects_.push_back((volumeSyncStatus.ok() ? "syncfs " : "syncfs-failed ") + normalise(path));
  return volumeSyncStatus;
}

}  // namespace quillet::test_support

namespace quillet::test_support {
namespace {

class FakeReadHandle final : public ReadHandle {
 public:
  FakeReadHandle(std::int64_t size, std::int64_t allocated, std::vector<std::uint8_t> content)
      : size_(size), allocated_(allocated), content_(std::move(content)) {}
  std::int64_t size() const override { return size_; }
  std::int64_t allocatedBytes() const override { return allocated_; }
  UncachedRead method() const override { return UncachedRead::Cached; }
  Result<std::size_t> read(std::int64_t offset, void* data, std::size_t size) override {
    if (offset >= size_) return std::size_t{0};
    const auto n =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(size), size_ - offset));
    auto* out = static_cast<std::uint8_t*>(data);
    for (std::size_t i = 0; i < n; ++i) {
      const auto at = static_cast<std::size_t>(offset) + i;
      out[i] = at < content_.size() ? content_[at] : 0;
    }
    return n;
  }

 private:
  std::int64_t size_;
  std::int64_t allocated_;
  std::vector<std::uint8_t> content_;
};

}  // namespace

Result<std::unique_ptr<ReadHandle>> FakeFileSystem::openForCheck(const std::string& base,
                                                                 const std::string& relative) {
  std::lock_guard lock(mutex_);
  const std::string p = normalise(base + relative);
  effects_.push_back("check " + p);
  const auto it = files_.find(p);
  if (it == files_.end() || links_.count(p) != 0 || relative.find("..") != std::string::npos) {
    return fail(ErrorKind::WrongPath, p, "no file");
  }
  return std::unique_ptr<ReadHandle>(
      new FakeReadHandle(it->second.size, it->second.allocated, it->second.content));
}

}  // namespace quillet::test_support
