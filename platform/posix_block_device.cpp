#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/block_device.h"
#include "platform/posix_errors.h"

namespace quillet {
namespace {

std::string devText(dev_t dev) { return std::to_string(major(dev)) + ":" + std::to_string(minor(dev)); }

std::string readLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// The device and its partitions as "major:minor" with their kernel names, from sysfs.
struct Family {
  std::string sysPath;                                       // /sys/dev/block/M:m
  std::vector<std::pair<std::string, std::string>> members;  // (major:minor, name), the device first
};

Family familyOf(dev_t dev) {
  Family f;
  f.sysPath = "/sys/dev/block/" + devText(dev);
  char resolved[4096];
  const ssize_t n = ::readlink(f.sysPath.c_str(), resolved, sizeof resolved - 1);
  std::string name = "device";
  if (n > 0) {
    resolved[n] = 0;
    const std::string link(resolved);
    name = link.substr(link.rfind('/') + 1);
  }
  f.members.emplace_back(devText(dev), name);
  if (DIR* dir = ::opendir(f.sysPath.c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      const std::string child = e->d_name;
      if (child == "." || child == "..") continue;
      const std::string base = f.sysPath + "/" + child;
      struct stat st {};
      if (::stat((base + "/partition").c_str(), &st) != 0) continue;
      f.members.emplace_back(readLine(base + "/dev"), child);
    }
    ::closedir(dir);
  }
  return f;
}

bool hasEntries(const std::string& folder, std::string& first) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool any = false;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    first = name;
    any = true;
    break;
  }
  ::closedir(dir);
  return any;
}

// mountinfo escapes blanks and a few other bytes as \ooo.
std::string unescapeMount(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const std::string oct = text.substr(i + 1, 3);
      if (oct.size() == 3 && oct.find_first_not_of("01234567") == std::string::npos) {
        out.push_back(static_cast<char>(std::stoi(oct, nullptr, 8)));
        i += 3;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// Why the family cannot be used; empty when nothing uses it.
std::string inUse(const std::string& path, const Family& family) {
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string id, parent, majorMinor, root, mountPoint;
    fields >> id >> parent >> majorMinor >> root >> mountPoint;
    for (std::size_t i = 0; i < family.members.size(); ++i) {
      if (family.members[i].first != majorMinor) continue;
      if (i == 0) return "'" + path + "' is mounted at " + unescapeMount(mountPoint);
      return "'" + path + "' has a mounted partition (" + family.members[i].second + " at " +
             unescapeMount(mountPoint) + ")";
    }
  }
  for (std::size_t i = 0; i < family.members.size(); ++i) {
    const std::string folder =
        i == 0 ? family.sysPath + "/holders" : family.sysPath + "/" + family.members[i].second + "/holders";
    std::string holder;
    if (hasEntries(folder, holder)) {
      return "'" + path + "' is in use by " + holder +
             (i == 0 ? std::string() : " (on its partition " + family.members[i].second + ")");
    }
  }
  std::ifstream swaps("/proc/swaps");
  std::getline(swaps, line);  // the heading
  while (std::getline(swaps, line)) {
    std::istringstream fields(line);
    std::string swapPath;
    fields >> swapPath;
    struct stat st {};
    if (::stat(swapPath.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
    for (const auto& member : family.members) {
      if (member.first == devText(st.st_rdev))
        return "'" + path + "' holds active swap (" + member.second + ")";
    }
  }
  return {};
}

class PosixBlockDevice final : public BlockDevice {
 public:
  PosixBlockDevice(int fd, std::string path, std::uint64_t size, std::uint32_t sector)
      : fd_(fd), path_(std::move(path)), size_(size), sector_(sector) {}
  ~PosixBlockDevice() override { ::close(fd_); }
  std::uint64_t size() const override { return size_; }
  std::uint32_t sectorSize() const override { return sector_; }
  Status readAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t n = ::pread(fd_, data, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return posixError(path_ + " at byte " + std::to_string(offset), errno);
      if (n == 0) return posixError(path_ + " at byte " + std::to_string(offset), EIO);
      data += n, size -= static_cast<std::size_t>(n), offset += static_cast<std::uint64_t>(n);
    }
    return {};
  }
  Status writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
    while (size > 0) {
      const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return posixError(path_ + " at byte " + std::to_string(offset), errno);
      if (n == 0) return posixError(path_ + " at byte " + std::to_string(offset), EIO);
      data += n, size -= static_cast<std::size_t>(n), offset += static_cast<std::uint64_t>(n);
    }
    return {};
  }
  Status flush() override {
    if (::fsync(fd_) != 0) return posixError(path_, errno);
    return {};
  }

 private:
  int fd_;
  std::string path_;
  std::uint64_t size_;
  std::uint32_t sector_;
};

}  // namespace

DeviceOpening openBlockDevice(const std::string& path) {
  DeviceOpening out;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    out.refusal = "'" + path + "' can not be opened: " + std::strerror(errno);
    return out;
  }
  if (!S_ISBLK(st.st_mode)) {
    out.refusal = "'" + path + "' is not a block device";
    return out;
  }
  const Family family = familyOf(st.st_rdev);
  // The root file system's device, or the whole disk it lies on: either way the program would
  // write under its own feet.
  struct stat rootStat {};
  if (::stat("/", &rootStat) == 0) {
    for (const auto& member : family.members) {
      if (member.first == devText(rootStat.st_dev)) {
        out.refusal = "'" + path + "' holds the root file system";
        return out;
      }
    }
  }
  if (std::string why = inUse(path, family); !why.empty()) {
    out.refusal = std::move(why);
    return out;
  }
  // O_EXCL on a block device: the kernel refuses while anything has it open exclusively (a mount,
  // a device mapper table, another exclusive opener), closing the gap between the checks and now.
  const int fd = ::open(path.c_str(), O_RDWR | O_DIRECT | O_EXCL | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    out.refusal = err == EBUSY ? "'" + path + "' is busy (opened exclusively elsewhere)"
                               : "'" + path + "' can not be opened: " + std::strerror(err);
    return out;
  }
  std::uint64_t bytes = 0;
  int sector = 0;
  if (::ioctl(fd, BLKGETSIZE64, &bytes) != 0 || ::ioctl(fd, BLKSSZGET, &sector) != 0 || sector <= 0) {
    out.refusal = "'" + path + "' does not tell its size: " + std::strerror(errno);
    ::close(fd);
    return out;
  }
  out.device = std::make_unique<PosixBlockDevice>(fd, path, bytes, static_cast<std::uint32_t>(sector));
  return out;
}

}  // namespace quillet
