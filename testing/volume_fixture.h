// Real volumes for tests: a private scratch folder, and small tmpfs or ext4 (loop image) volumes
// mounted inside it when the tests run as root. Not thread-safe; one per test.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace quillet::test_support {

// A fresh folder under the system's temporary folder, removed with everything in it (never
// following links) when the object dies.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  // path() joined with a relative name.
  std::string operator/(const std::string& name) const;

 private:
  std::string path_;
};

// A small volume mounted on a folder of its own; unmounted and removed when the object dies.
class MountedVolume {
 public:
  // A tmpfs of the given size (and, when inodes > 0, that many inodes: the root folder takes one).
  // Returns null with skipReason set when it cannot be mounted.
  static std::unique_ptr<MountedVolume> tmpfs(std::int64_t bytes, std::string& skipReason,
                                              std::int64_t inodes = 0);
  // An ext4 file system on a loop-mounted image of the given size.
  static std::unique_ptr<MountedVolume> ext4(std::int64_t bytes, std::string& skipReason);
  ~MountedVolume();

  // The mount point, without a trailing separator.
  const std::string& path() const { return mountPoint_; }
  std::string operator/(const std::string& name) const;
  // The image file behind an ext4 volume, which holds what reached the volume's device: read it to
  // see whether data left the volume's cache. Empty for a tmpfs.
  const std::string& imagePath() const { return image_; }

 private:
  MountedVolume() = default;
  ScratchFolder scratch_;
  std::string mountPoint_;
  std::string image_;
};

// Removes a tree without following links. Returns true when nothing is left.
bool removeTree(const std::string& path);

// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string& path);

// Size and allocated bytes of a file (st_size and st_blocks * 512); -1 when it does not exist.
std::int64_t fileSize(const std::string& path);
std::int64_t allocatedBytes(const std::string& path);

// Every regular file below folder (relative path with '/' -> size), links not followed. A tree
// that changes while it is listed (a run is writing it) gives what could be listed.
inline std::map<std::string, std::int64_t> filesBelow(const std::string& folder) {
  namespace fs = std::filesystem;
  std::map<std::string, std::int64_t> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    std::error_code sizeError;
    if (!it->is_symlink() && it->is_regular_file()) {
      const auto size = it->file_size(sizeError);
      if (!sizeError)
        files[fs::relative(it->path(), folder).generic_string()] = static_cast<std::int64_t>(size);
    }
  }
  return files;
}

}  // namespace quillet::test_support

// Skips the current test with the stated reason when the volume could not be made.
#define QUILLET_MOUNT_OR_SKIP(var, factory, bytes)                                    \
  std::string var##SkipReason;                                                        \
  auto var = ::quillet::test_support::MountedVolume::factory(bytes, var##SkipReason); \
  if (!var) GTEST_SKIP() << var##SkipReason
