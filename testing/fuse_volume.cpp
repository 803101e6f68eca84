#include "testing/fuse_volume.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

namespace quillet::test_support {

std::unique_ptr<FuseVolume> FuseVolume::start(const Options& options, std::string& skipReason) {
  const std::string daemon = QUILLET_FUSE_VOLUME_PATH;
  if (daemon.empty()) {
    skipReason = "the FUSE test volume was not built (libfuse3 not found: install libfuse3-dev and fuse3)";
    return nullptr;
  }
  if (::geteuid() != 0) {
    skipReason = "mounting the FUSE test volume needs root";
    return nullptr;
  }
  if (::access("/dev/fuse", R_OK | W_OK) != 0) {
    skipReason = "/dev/fuse is missing: no FUSE in this kernel or container";
    return nullptr;
  }
  std::unique_ptr<FuseVolume> volume(new FuseVolume);
  volume->mountPoint_ = volume->scratch_ / "mnt";
  volume->backing_ = volume->scratch_ / "backing";
  ::mkdir(volume->mountPoint_.c_str(), 0755);
  ::mkdir(volume->backing_.c_str(), 0755);

  std::vector<std::string> args = {daemon, "--backing", volume->backing_, "--mode", options.mode};
  if (options.mode == "capacity" || options.mode == "limbo") {
    args.insert(args.end(), {"--real", std::to_string(options.realBytes), "--claimed",
                             std::to_string(options.claimedBytes)});
  } else {
    args.insert(args.end(),
                {"--size", std::to_string(options.bytes), "--every", std::to_string(options.every)});
  }
  args.push_back(volume->mountPoint_);

  int in[2];
  int out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
    skipReason = "cannot make pipes for the FUSE daemon";
    return nullptr;
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(daemon.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  volume->toChild_ = in[1];
  volume->fromChild_ = out[0];
  volume->pid_ = pid;
  std::string line;
  if (pid < 0 || !volume->readLine(line, 20000) || line != "ready") {
    skipReason = "the FUSE test volume did not mount (see its standard error)";
    volume->mountPoint_.clear();  // nothing to unmount; the destructor still ends the child
    return nullptr;
  }
  return volume;
}

bool FuseVolume::readLine(std::string& line, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (const auto nl = pending_.find('\n'); nl != std::string::npos) {
      line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
            .count();
    if (left <= 0) return false;
    pollfd p{fromChild_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buffer[256];
    const ssize_t n = ::read(fromChild_, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

bool FuseVolume::powerCut() {
  if (::write(toChild_, "cut\n", 4) != 4) return false;
  std::string line;
  return readLine(line, 20000) && line == "cut";
}

FuseVolume::~FuseVolume() {
  if (!mountPoint_.empty() && ::umount2(mountPoint_.c_str(), 0) != 0)
    ::umount2(mountPoint_.c_str(), MNT_DETACH);
  if (toChild_ >= 0) ::close(toChild_);
  if (pid_ > 0) {
    // The daemon ends once its session is unmounted; one that does not within seconds is killed.
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (i == 99) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
      }
    }
  }
  if (fromChild_ >= 0) ::close(fromChild_);
}

}  // namespace quillet::test_support
