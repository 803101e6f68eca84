// FileSystem on POSIX: statvfs for volume figures, /proc/self/mountinfo for mount points and
// file-system types, O_EXCL creation, fallocate for allocation. Stateless; thread-safe.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/posix_errors.h"

namespace quillet {
namespace {

struct MountEntry {
  std::string mountPoint;
  std::string type;
};

// mountinfo escapes blanks, tabs, newlines and backslashes as \ooo.
std::string unescapeMountField(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string oct = field.substr(i + 1, 3);
      if (oct.size() == 3 && oct.find_first_not_of("01234567") == std::string::npos) {
        out.push_back(static_cast<char>(std::strtol(oct.c_str(), nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

bool isPathPrefix(const std::string& mountPoint, const std::string& path) {
  if (mountPoint == "/") return !path.empty() && path[0] == '/';
  if (path.compare(0, mountPoint.size(), mountPoint) != 0) return false;
  return path.size() == mountPoint.size() || path[mountPoint.size()] == '/';
}

// The mount that holds an existing, resolved path: the longest mount point that is a prefix of it;
// among equal ones the last listed (a later mount covers an earlier one).
bool findMount(const std::string& resolved, MountEntry& found) {
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  bool any = false;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, devno, root, mountPoint;
    fields >> id >> parent >> devno >> root >> mountPoint;
    std::string word;
    while (fields >> word && word != "-") {
    }
    std::string type;
    fields >> type;
    mountPoint = unescapeMountField(mountPoint);
    if (!isPathPrefix(mountPoint, resolved)) continue;
    if (!any || mountPoint.size() >= found.mountPoint.size()) {
      found = {mountPoint, type};
      any = true;
    }
  }
  return any;
}

std::string resolve(const std::string& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer) == nullptr) return path;
  return buffer;
}

// File systems whose folder link count is 2 + the number of sub-folders.
bool countsSubfoldersInLinks(long type) {
  constexpr long kTmpfs = 0x01021994, kExt = 0xEF53, kXfs = 0x58465342;
  return type == kTmpfs || type == kExt || type == kXfs;
}

// Whether a device's file system counts sub-folders in link counts, asked once per device.
class LinkCountDevices {
 public:
  // A folder whose link count is 2 holds no sub-folder when its device counts them.
  bool certainlyLeaf(const struct stat& st, int dirFd, const char* path) {
    if (!S_ISDIR(st.st_mode) || st.st_nlink != 2) return false;
    {
      std::lock_guard guard(mutex_);
      for (const auto& [dev, counts] : devices_) {
        if (dev == st.st_dev) return counts;
      }
    }
    // statfs has no *at form; open the folder itself to ask.
    const int fd = ::openat(dirFd, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct statfs fsInfo;
    const bool counts =
        ::fstatfs(fd, &fsInfo) == 0 && countsSubfoldersInLinks(static_cast<long>(fsInfo.f_type));
    ::close(fd);
    std::lock_guard guard(mutex_);
    devices_.emplace_back(st.st_dev, counts);
    return counts;
  }

 private:
  std::mutex mutex_;  // guards devices_
  std::vector<std::pair<dev_t, bool>> devices_;
};

class PosixFileHandle final : public FileHandle {
 public:
  PosixFileHandle(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  // The engine closes every file itself and checks the result; a handle still open here belongs
  // to a path that already failed, so what closing says adds nothing.
  ~PosixFileHandle() override { (void)close(); }

  Status write(const void* data, std::size_t size, std::size_t& written) override {
    written = 0;
    const char* p = static_cast<const char*>(data);
    while (written < size) {
      const ssize_t n = ::write(fd_, p + written, size - written);
      if (n < 0) {
        if (errno == EINTR) continue;
        return posixError(path_, errno);
      }
      if (n == 0) return posixError(path_, ENOSPC);
      written += static_cast<std::size_t>(n);
    }
    return {};
  }

  Status allocate(std::int64_t size) override {
    if (size <= 0) return {};
    if (::fallocate(fd_, 0, 0, static_cast<off_t>(size)) == 0) return {};
    int err = errno;
    if (err == EOPNOTSUPP) {
      // Some file systems only offer the emulated form, which still writes real blocks.
      err = ::posix_fallocate(fd_, 0, static_cast<off_t>(size));
      if (err == 0) return {};
    }
    return posixError(path_, err);
  }

  Status syncData() override {
    while (::fdatasync(fd_) != 0) {
      if (errno != EINTR) return posixError(path_, errno);
    }
    return {};
  }

  Status close() override {
    if (fd_ < 0) return {};
    const int fd = fd_;
    fd_ = -1;
    // Network file systems report a failed write-back here. EINTR still closes the descriptor on
    // Linux; what was written is then unknown but nothing says it failed.
    if (::close(fd) != 0 && errno != EINTR) return posixError(path_, errno);
    return {};
  }

 private:
  int fd_;
  std::string path_;
};

// A file opened for checking. O_DIRECT where the file system takes it; otherwise (tmpfs of older
// kernels, some network and FUSE file systems refuse it at open or at the first read) the file's
// dirty data is written back and its cached pages dropped, so that the reads that follow come from
// the device as far as the system lets them.
class PosixReadHandle final : public ReadHandle {
 public:
  PosixReadHandle(int fd, std::string path, const struct stat& st, bool direct)
      : fd_(fd),
        path_(std::move(path)),
        size_(static_cast<std::int64_t>(st.st_size)),
        allocated_(static_cast<std::int64_t>(st.st_blocks) * 512),
        method_(direct ? UncachedRead::Direct : dropCache()) {}
  ~PosixReadHandle() override { ::close(fd_); }

  std::int64_t size() const override { return size_; }
  std::int64_t allocatedBytes() const override { return allocated_; }
  UncachedRead method() const override { return method_.load(); }

  Result<std::size_t> read(std::int64_t offset, void* data, std::size_t size) override {
    std::size_t done = 0;
    char* p = static_cast<char*>(data);
    while (done < size) {
      const ssize_t n =
          ::pread(fd_, p + done, size - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EINVAL && method_ == UncachedRead::Direct && done == 0) {
          // The file system took O_DIRECT at open but refuses its reads: read it the other way.
          const int flags = ::fcntl(fd_, F_GETFL);
          if (flags >= 0 && ::fcntl(fd_, F_SETFL, flags & ~O_DIRECT) == 0) {
            method_ = dropCache();
            continue;
          }
        }
        return posixError(path_, errno);
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
      // A direct read that ends short of an aligned end has met the end of the file.
      if (method_ == UncachedRead::Direct && done % kUncachedAlignment != 0) break;
    }
    return done;
  }

 private:
  UncachedRead dropCache() {
    // Pages still dirty would survive the drop; write them back first.
    if (::fdatasync(fd_) != 0 && errno != EINVAL && errno != EROFS) return UncachedRead::Cached;
    if (::posix_fadvise(fd_, 0, 0, POSIX_FADV_DONTNEED) != 0) return UncachedRead::Cached;
    return UncachedRead::Dropped;
  }

  int fd_;
  std::string path_;
  std::int64_t size_;
  std::int64_t allocated_;
  // Atomic: a read that switches the file to cached reads may meet another thread's read.
  std::atomic<UncachedRead> method_;
};

class PosixFolderReader final : public FolderReader {
 public:
  PosixFolderReader(DIR* dir, LinkCountDevices& devices) : dir_(dir), devices_(devices) {}
  ~PosixFolderReader() override { ::closedir(dir_); }

  Result<bool> next(FolderEntry& entry) override {
    for (;;) {
      // readdir tells the end from a failure only through errno.
      errno = 0;
      const dirent* d = ::readdir(dir_);
      if (d == nullptr) {
        if (errno != 0) return posixError("folder listing", errno);
        return false;
      }
      const char* name = d->d_name;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      unsigned char type = d->d_type;
      if (type == DT_UNKNOWN) {
        struct stat st;
        // An entry removed since it was listed is no entry any more.
        if (::fstatat(::dirfd(dir_), name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
        type = S_ISDIR(st.st_mode)   ? DT_DIR
               : S_ISLNK(st.st_mode) ? DT_LNK
               : S_ISREG(st.st_mode) ? DT_REG
                                     : DT_FIFO;
      }
      entry.name = name;
      entry.isDirectory = type == DT_DIR;
      entry.isLink = type == DT_LNK;
      entry.isSpecial = type != DT_DIR && type != DT_LNK && type != DT_REG;
      entry.isHidden = name[0] == '.';
      entry.isSystem = false;
      return true;
    }
  }

  bool entryMayHaveSubfolders(const FolderEntry& entry) override {
    struct stat st;
    if (::fstatat(::dirfd(dir_), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
    return !devices_.certainlyLeaf(st, ::dirfd(dir_), entry.name.c_str());
  }

  Result<std::int64_t> entrySize(const FolderEntry& entry) override {
    struct stat st;
    if (::fstatat(::dirfd(dir_), entry.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return posixError(entry.name, errno);
    }
    // Replaced by something else since it was listed: no longer a file of the tree.
    if (!S_ISREG(st.st_mode)) return posixError(entry.name, ENOENT);
    return static_cast<std::int64_t>(st.st_size);
  }

 private:
  DIR* dir_;
  LinkCountDevices& devices_;
};

bool isDotName(std::string_view name) { return name.empty() || name == "." || name == ".."; }

// Opens the folder below base that is to hold the last part of relative, one part at a time and
// never through a link, and names that last part in leaf. -1 with err set on failure.
int openParentBelow(const std::string& base, const std::string& relative, std::string& leaf, int& err) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = relative.find('/', start);
    std::string part = relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!part.empty()) parts.push_back(std::move(part));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  for (const auto& part : parts) {
    if (isDotName(part)) {
      err = EINVAL;  // a path that climbs is never below base
      return -1;
    }
  }
  if (parts.empty()) {
    err = EEXIST;  // base itself, which exists
    return -1;
  }
  int fd = ::open(base.empty() ? "." : base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return -1;
  }
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    const int next = ::openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    err = errno;
    ::close(fd);
    if (next < 0) return -1;
    fd = next;
  }
  leaf = parts.back();
  return fd;
}

class PosixFileSystem final : public FileSystem {
 public:
  Result<VolumeSpace> volumeSpace(const std::string& path) override {
    struct statvfs vfs;
    if (::statvfs(path.c_str(), &vfs) != 0) return posixError(path, errno);
    VolumeSpace space;
    space.availableToCaller =
        static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
    space.total = static_cast<std::int64_t>(vfs.f_blocks) * static_cast<std::int64_t>(vfs.f_frsize);
    return space;
  }

  Result<std::int32_t> clusterSize(const std::string& path) override {
    struct statvfs vfs;
    if (::statvfs(path.c_str(), &vfs) != 0) return posixError(path, errno);
    return static_cast<std::int32_t>(vfs.f_frsize);
  }

  Result<std::string> fileSystemName(const std::string& path) override {
    const std::string existing = nearestExistingAncestor(path);
    if (existing.empty()) return posixError(path, ENOENT);
    MountEntry mount;
    if (!findMount(resolve(existing), mount)) return posixError(path, ENOENT);
    return mapFileSystemName(mount.type);
  }

  std::string driveRoot(const std::string& path) override {
    const std::string existing = nearestExistingAncestor(path);
    MountEntry mount;
    if (existing.empty() || !findMount(resolve(existing), mount)) return "/";
    return withTrailingSeparator(mount.mountPoint);
  }

  std::string volumeDisplayName(const std::string& path) override {
    return withoutTrailingSeparator(driveRoot(path));
  }

  PathKind pathKind(const std::string& path) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return PathKind::Missing;
    if (!S_ISLNK(st.st_mode)) return S_ISDIR(st.st_mode) ? PathKind::Folder : PathKind::File;
    if (::stat(path.c_str(), &st) != 0) return PathKind::BrokenLink;
    return S_ISDIR(st.st_mode) ? PathKind::LinkToFolder : PathKind::LinkToOther;
  }

  Status createFolderBelow(const std::string& base, const std::string& relative) override {
    const std::string path = base + relative;
    if (relative.find('/') == std::string::npos && !isDotName(relative)) return createFolder(path);
    std::string leaf;
    int err = 0;
    const int parent = openParentBelow(base, relative, leaf, err);
    if (parent < 0) return posixError(path, err);
    const int made = ::mkdirat(parent, leaf.c_str(), 0777);
    err = errno;
    ::close(parent);
    if (made != 0) return posixError(path, err);
    return {};
  }

  Result<std::unique_ptr<FileHandle>> createNewFileBelow(const std::string& base,
                                                         const std::string& relative) override {
    const std::string path = base + relative;
    if (relative.find('/') == std::string::npos && !isDotName(relative)) return createNewFile(path);
    std::string leaf;
    int err = 0;
    const int parent = openParentBelow(base, relative, leaf, err);
    if (parent < 0) return posixError(path, err);
    const int fd = ::openat(parent, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    err = errno;
    ::close(parent);
    if (fd < 0) return posixError(path, err);
    return std::unique_ptr<FileHandle>(new PosixFileHandle(fd, path));
  }

  Result<std::unique_ptr<ReadHandle>> openForCheck(const std::string& base,
                                                   const std::string& relative) override {
    const std::string path = base + relative;
    std::string leaf;
    int err = 0;
    const int parent = openParentBelow(base, relative, leaf, err);
    if (parent < 0) return posixError(path, err == EEXIST ? EISDIR : err);
    // O_NONBLOCK: a FIFO planted in the tree must not hang the open; only regular files are read.
    const int common = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    bool direct = true;
    int fd = ::openat(parent, leaf.c_str(), common | O_DIRECT);
    if (fd < 0 && errno == EINVAL) {
      direct = false;
      fd = ::openat(parent, leaf.c_str(), common);
    }
    err = errno;
    ::close(parent);
    if (fd < 0) return posixError(path, err);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      err = errno;
      ::close(fd);
      return posixError(path, err);
    }
    if (!S_ISREG(st.st_mode)) {
      ::close(fd);
      return posixError(path, EINVAL);
    }
    return std::unique_ptr<ReadHandle>(new PosixReadHandle(fd, path, st, direct));
  }

  Status createFolder(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) == 0) return {};
    return posixError(path, errno);
  }

  Result<std::unique_ptr<FileHandle>> createNewFile(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return posixError(path, errno);
    return std::unique_ptr<FileHandle>(new PosixFileHandle(fd, path));
  }

  Result<std::unique_ptr<FolderReader>> openFolder(const std::string& path) override {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return posixError(path, errno);
    return std::unique_ptr<FolderReader>(new PosixFolderReader(dir, devices_));
  }

  Status syncVolume(const std::string& path) override {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return posixError(path, errno);
    // Since Linux 5.8 syncfs also reports a write-back error of any file of the volume seen since
    // this descriptor was opened, and before that of any since the volume was mounted.
    int result;
    do {
      result = ::syncfs(fd);
    } while (result != 0 && errno == EINTR);
    const int err = errno;
    ::close(fd);
    if (result != 0) return posixError(path, err);
    return {};
  }

 private:
  LinkCountDevices devices_;
};

}  // namespace

std::unique_ptr<FileSystem> makeSystemFileSystem() { return std::make_unique<PosixFileSystem>(); }

}  // namespace quillet
