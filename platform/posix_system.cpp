// Process-level services on POSIX. Stateless apart from the process-wide clock object and the
// latched stop signal.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/path.h"
#include "platform/posix_errors.h"
#include "platform/system.h"

namespace quillet {
namespace {

class PosixClock final : public Clock {
 public:
  LocalTime localTime() override {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
  }
  std::int64_t secondsSinceEpoch() override { return static_cast<std::int64_t>(std::time(nullptr)); }
  std::uint64_t seedTicks() override {
    const auto wall = std::chrono::system_clock::now().time_since_epoch();
    const auto counter = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count()) ^
           (static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(counter).count())
            << 17) ^
           (static_cast<std::uint64_t>(::getpid()) << 40);
  }
};

class PosixAppendFile final : public ExclusiveAppendFile {
 public:
  PosixAppendFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixAppendFile() override { close(); }

  Status append(const std::string& bytes) override {
    if (fd_ < 0) return posixError(path_, EBADF);
    // The lock keeps every other writer out, so the size read here is where these bytes begin.
    struct stat st;
    if (::fstat(fd_, &st) != 0) return posixError(path_, errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        const int err = errno;
        // Cut off the part that got in, so that the file never ends in half a record.
        const bool undone = done == 0 || ::ftruncate(fd_, st.st_size) == 0;
        return posixError(path_, undone ? err : errno);
      }
      done += static_cast<std::size_t>(n);
    }
    return {};
  }

  Status reserve(std::int64_t bytes) override {
    if (fd_ < 0) return posixError(path_, EBADF);
    struct stat st;
    if (::fstat(fd_, &st) != 0) return posixError(path_, errno);
    if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, st.st_size, bytes) != 0) return posixError(path_, errno);
    return {};
  }

  int lastByte() override {
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || st.st_size == 0) return -1;
    unsigned char byte = 0;
    if (::pread(fd_, &byte, 1, st.st_size - 1) != 1) return -1;
    return byte;
  }

  Status flush() override {
    if (fd_ < 0) return posixError(path_, EBADF);
    while (::fdatasync(fd_) != 0) {
      if (errno != EINTR) return posixError(path_, errno);
    }
    return {};
  }

  void close() override {
    if (fd_ < 0) return;
    ::fsync(fd_);
    ::close(fd_);  // releases the lock
    fd_ = -1;
  }

 private:
  int fd_;
  std::string path_;
};

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  return home != nullptr && *home != 0 ? home : "/tmp";
}

std::string xdgFolder(const char* variable, const char* fallbackBelowHome) {
  const char* value = std::getenv(variable);
  // The XDG base directory rules ignore relative values.
  std::string base =
      (value != nullptr && value[0] == '/') ? std::string(value) : joinPath(homeFolder(), fallbackBelowHome);
  return joinPath(base, "talvane-quillet");
}

}  // namespace

Clock& systemClock() {
  static PosixClock clock;
  return clock;
}

void sleepMilliseconds(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string runningProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string absolutePath(const std::string& path) {
  if (isAbsolutePath(path)) return path;
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return path;
  return joinPath(buffer, path);
}

const char* systemName() { return "linux"; }

bool standardErrorIsTerminal() { return ::isatty(STDERR_FILENO) != 0; }

namespace {

std::atomic<bool> stopArrived{false};

sigset_t stopSignals() {
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, SIGINT);
  ::sigaddset(&set, SIGTERM);
  return set;
}

}  // namespace

void holdStopSignals() {
  const sigset_t set = stopSignals();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

void releaseStopSignals() {
  const sigset_t set = stopSignals();
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool stopSignalArrived() {
  if (stopArrived.load()) return true;
  // A held signal waits as pending; taking it here is what notices it.
  const sigset_t set = stopSignals();
  const timespec now{0, 0};
  if (::sigtimedwait(&set, nullptr, &now) > 0) stopArrived = true;
  return stopArrived.load();
}

namespace {
sigset_t continueSignal() {
  sigset_t set;
  ::sigemptyset(&set);
  ::sigaddset(&set, SIGCONT);
  return set;
}
}  // namespace

void holdContinueSignal() {
  const sigset_t set = continueSignal();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

bool continueSignalArrived() {
  const sigset_t set = continueSignal();
  const timespec now{0, 0};
  return ::sigtimedwait(&set, nullptr, &now) > 0;
}

std::string userStateFolder() { return xdgFolder("XDG_STATE_HOME", ".local/state"); }

std::string userConfigFolder() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }

Status createFolderTree(const std::string& path) {
  Status failure;
  forEachFolderPrefix(withTrailingSeparator(path), [&](std::string_view prefix) {
    const std::string folder(prefix);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
      failure = posixError(folder, errno);
      return false;
    }
    return true;
  });
  return failure;
}

Result<std::unique_ptr<ExclusiveAppendFile>> openExclusiveAppend(const std::string& path) {
  // Read access too, where it is granted: the last byte tells whether the previous block was cut
  // off mid-line.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return posixError(path, errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    return posixError(path, err == EWOULDBLOCK ? EBUSY : err);
  }
  return std::unique_ptr<ExclusiveAppendFile>(new PosixAppendFile(fd, path));
}

Status replaceProcess(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(program.c_str(), argv.data());
  return posixError(program, errno);
}

bool folderIsWritable(const std::string& folder) {
  struct stat st;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool desktopAlwaysPresent() { return false; }

}  // namespace quillet
