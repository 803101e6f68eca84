#include "testing/volume_fixture.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace quillet::test_support {

namespace {

bool removeAt(int parentFd, const char* name) {
  struct stat st;
  if (::fstatat(parentFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
      DIR* dir = ::fdopendir(fd);
      std::vector<std::string> names;
      while (dirent* d = ::readdir(dir)) {
        if (std::strcmp(d->d_name, ".") != 0 && std::strcmp(d->d_name, "..") != 0) names.push_back(d->d_name);
      }
      for (const auto& child : names) removeAt(::dirfd(dir), child.c_str());
      ::closedir(dir);
    }
    return ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
  }
  return ::unlinkat(parentFd, name, 0) == 0;
}

bool isRoot() { return ::geteuid() == 0; }

}  // namespace

bool removeTree(const std::string& path) { return removeAt(AT_FDCWD, path.c_str()); }

ScratchFolder::ScratchFolder() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/quillet-test-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back(0);
  if (::mkdtemp(buffer.data()) == nullptr) std::abort();
  path_ = buffer.data();
}

ScratchFolder::~ScratchFolder() { removeTree(path_); }

std::string ScratchFolder::operator/(const std::string& name) const { return path_ + "/" + name; }

std::unique_ptr<MountedVolume> MountedVolume::tmpfs(std::int64_t bytes, std::string& skipReason,
                                                    std::int64_t inodes) {
  if (!isRoot()) {
    skipReason = "mounting a tmpfs needs root; run the tests as root to exercise real volumes";
    return nullptr;
  }
  std::unique_ptr<MountedVolume> volume(new MountedVolume);
  volume->mountPoint_ = volume->scratch_ / "mnt";
  ::mkdir(volume->mountPoint_.c_str(), 0755);
  std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (inodes > 0) options += ",nr_inodes=" + std::to_string(inodes);
  if (::mount("tmpfs", volume->mountPoint_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    skipReason = std::string("cannot mount a tmpfs: ") + std::strerror(errno);
    volume->mountPoint_.clear();
    return nullptr;
  }
  return volume;
}

std::unique_ptr<MountedVolume> MountedVolume::ext4(std::int64_t bytes, std::string& skipReason) {
  if (!isRoot()) {
    skipReason = "mounting an ext4 loop image needs root";
    return nullptr;
  }
  if (::access("/sbin/mkfs.ext4", X_OK) != 0 && ::access("/usr/sbin/mkfs.ext4", X_OK) != 0) {
    skipReason = "mkfs.ext4 is not installed";
    return nullptr;
  }
  std::unique_ptr<MountedVolume> volume(new MountedVolume);
  const std::string image = volume->image_ = volume->scratch_ / "volume.img";
  volume->mountPoint_ = volume->scratch_ / "mnt";
  ::mkdir(volume->mountPoint_.c_str(), 0755);
  { std::ofstream create(image); }
  if (::truncate(image.c_str(), bytes) != 0) {
    skipReason = "cannot size the ext4 image";
    return nullptr;
  }
  const std::string mkfs = "mkfs.ext4 -q -F -m 0 " + image + " >/dev/null 2>&1";
  const std::string mount = "mount -o loop " + image + " " + volume->mountPoint_ + " >/dev/null 2>&1";
  if (std::system(mkfs.c_str()) != 0) {
    skipReason = "mkfs.ext4 failed";
    volume->mountPoint_.clear();
    return nullptr;
  }
  if (std::system(mount.c_str()) != 0) {
    skipReason = "cannot loop-mount the ext4 image (no loop devices?)";
    volume->mountPoint_.clear();
    return nullptr;
  }
  return volume;
}

MountedVolume::~MountedVolume() {
  if (!mountPoint_.empty()) {
    ::umount2(mountPoint_.c_str(), MNT_DETACH);
  }
}

std::string MountedVolume::operator/(const std::string& name) const { return mountPoint_ + "/" + name; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::int64_t fileSize(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return -1;
  return st.st_size;
}

std::int64_t allocatedBytes(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_blocks) * 512;
}

}  // namespace quillet::test_support
