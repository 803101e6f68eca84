// Whole-file services on POSIX: a temporary file beside the target, fsync, rename, fsync of the
// folder; renameat2 without replacing for setting files aside.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>

#include "platform/atomic_file.h"
#include "platform/path.h"
#include "platform/posix_errors.h"

namespace quillet {
namespace {

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and returns close's errno (0 on success): a delayed write error can show only here.
  int close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? 0 : errno;
  }

 private:
  int fd_;
};

int writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

// A name beside path that no other writer of this or another process picks at the same time.
std::string temporaryName(const std::string& path, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  const auto ticks =
      static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
  return path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string((ticks ^ (attempt * 2654435761u)) % 1000000);
}

// Makes a completed rename durable; a failure here cannot undo the rename, so it is not reported.
void syncFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Renames from to to unless to exists (EEXIST then). File systems without the no-replace rename
// get a hard link and an unlink, which refuse to replace as well.
int renameNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

// The file a replace puts its new contents in place of: path itself, or, when path is a link (or a
// chain of them), the file the links lead to, so that the link stays and its target is replaced in
// its own folder. Anything there but a regular file (a folder, FIFO, device, socket) is refused:
// the rename would put a regular file in place of a system's node.
Status replacedTarget(const std::string& path, std::string& target) {
  target = path;
  for (int links = 0;; ++links) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) != 0) {
      // Nothing there yet: a new file is made under that name (a dangling link's target included).
      if (errno == ENOENT) return {};
      return posixError(path, errno);
    }
    if (S_ISREG(st.st_mode)) return {};
    if (S_ISDIR(st.st_mode)) return posixError(path, EISDIR);
    if (!S_ISLNK(st.st_mode)) {
      return Status::failure(ErrorKind::WrongPath, EINVAL, path, "not a regular file");
    }
    if (links == 40) return posixError(path, ELOOP);
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(target.c_str(), link.data(), link.size());
    if (n < 0) return posixError(path, errno);
    link.resize(static_cast<std::size_t>(n));
    target = !link.empty() && link.front() == '/' ? link : joinPath(folderPart(target), link);
  }
}

}  // namespace

Status replaceFileAtomically(const std::string& requestedPath, std::string_view contents,
                             const BeforeReplace& beforeReplace) {
  std::string path;
  if (Status refused = replacedTarget(requestedPath, path); !refused.ok()) return refused;
  struct stat old {};
  const bool replacing = ::stat(path.c_str(), &old) == 0;
  // rename() only needs the folder's rights; a file the user protected stays protected.
  if (replacing && ::access(path.c_str(), W_OK) != 0) return posixError(path, errno);

  std::string tempPath;
  int fd = -1;
  for (unsigned attempt = 0; fd < 0; ++attempt) {
    tempPath = temporaryName(path, attempt);
    fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt == 100)) return posixError(tempPath, errno);
  }
  Descriptor file(fd);
  int err = 0;
  if (replacing && ::fchmod(file.get(), old.st_mode & 07777) != 0) err = errno;
  if (err == 0) err = writeAll(file.get(), contents);
  if (err == 0 && ::fsync(file.get()) != 0) err = errno;
  if (const int closeErr = file.close(); err == 0) err = closeErr;
  if (err == 0) {
    if (beforeReplace) beforeReplace(tempPath);
    if (::rename(tempPath.c_str(), path.c_str()) != 0) {
      const int renameErr = errno;
      ::unlink(tempPath.c_str());
      return posixError(path, renameErr);
    }
    syncFolder(std::string(folderPart(path)));
    return {};
  }
  ::unlink(tempPath.c_str());
  return posixError(tempPath, err);
}

Status readWholeFile(const std::string& path, std::size_t maxBytes, std::string& contents) {
  contents.clear();
  // Non-blocking: a FIFO in the file's place must not hold the caller until someone writes to it.
  Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) return posixError(path, errno);
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return posixError(path, errno);
  if (S_ISDIR(st.st_mode)) return posixError(path, EISDIR);
  if (!S_ISREG(st.st_mode)) return posixError(path, EINVAL);
  if (static_cast<std::uint64_t>(st.st_size) > maxBytes) return posixError(path, EFBIG);
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n == 0) return {};
    if (n < 0) {
      if (errno == EINTR) continue;
      return posixError(path, errno);
    }
    // The file may grow while it is read.
    if (contents.size() + static_cast<std::size_t>(n) > maxBytes) return posixError(path, EFBIG);
    contents.append(buffer, static_cast<std::size_t>(n));
  }
}

Status setFileAside(const std::string& path, const std::string& asideName, int copies) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return posixError(path, errno);
  const auto copyName = [&](int n) { return n == 0 ? asideName : asideName + "." + std::to_string(n); };
  // Oldest first, each over the next older one, so the oldest kept is the one replaced.
  for (int n = copies - 1; n > 0; --n) {
    const std::string from = copyName(n - 1);
    if (::rename(from.c_str(), copyName(n).c_str()) != 0 && errno != ENOENT) return posixError(from, errno);
  }
  if (const int err = renameNoReplace(path, asideName)) return posixError(asideName, err);
  return {};
}

}  // namespace quillet
