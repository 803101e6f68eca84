// A FUSE test volume that loses what was not flushed when the test cuts its power (see
// testing/fuse_volume/fuse_volume.cpp for the modes). The daemon runs as a child process, mounted
// on a folder of a scratch folder of its own; the object unmounts it and ends the child when it
// dies. Linux only. Not thread-safe; one per test.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "testing/volume_fixture.h"

namespace quillet::test_support {

class FuseVolume {
 public:
  struct Options {
    std::string mode = "honest";     // honest, lying, capacity or limbo
    std::int64_t bytes = 256 << 20;  // honest/lying: the size statfs reports (writes past it fail)
    std::int64_t every = 0;          // lying: every K-th flush persists (0: none)
    std::int64_t realBytes = 0;      // capacity/limbo: what disk.img really stores
    std::int64_t claimedBytes = 0;   // capacity/limbo: the size disk.img claims
  };

  // Starts and mounts the volume; null with skipReason set when it cannot (not root, no
  // /dev/fuse, the daemon not built because libfuse3 was missing, the mount refused).
  static std::unique_ptr<FuseVolume> start(const Options& options, std::string& skipReason);
  ~FuseVolume();
  FuseVolume(const FuseVolume&) = delete;
  FuseVolume& operator=(const FuseVolume&) = delete;

  // The mount point, without a trailing separator.
  const std::string& path() const { return mountPoint_; }
  std::string operator/(const std::string& name) const { return mountPoint_ + "/" + name; }
  // The folder that holds what was persisted (honest/lying: the tree; capacity/limbo: disk.real).
  const std::string& backing() const { return backing_; }
  // capacity/limbo: the one file of the volume, usable as a loop device's backing file.
  std::string diskImage() const { return mountPoint_ + "/disk.img"; }

  // A power cut: everything not persisted is dropped and the tree reloads from the backing folder.
  // Returns once later requests see the reloaded tree; false when the daemon did not answer.
  bool powerCut();

 private:
  FuseVolume() = default;
  bool readLine(std::string& line, int timeoutMs);
  ScratchFolder scratch_;
  std::string mountPoint_;
  std::string backing_;
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string pending_;
};

}  // namespace quillet::test_support

// Skips the current test with the stated reason when the FUSE volume could not be started.
#define QUILLET_FUSE_OR_SKIP(var, options)                                         \
  std::string var##SkipReason;                                                     \
  auto var = ::quillet::test_support::FuseVolume::start(options, var##SkipReason); \
  if (!var) GTEST_SKIP() << var##SkipReason
