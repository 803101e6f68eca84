// The FUSE test volume keeps what was flushed and loses the rest on a power cut, lies when asked
// to, and fakes a capacity by wrapping (or discarding) what lies past its real size.
#include "testing/fuse_volume.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace quillet::test_support {
namespace {

bool writeFile(const std::string& path, const std::string& data, bool flush) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
  if (flush) ok = ok && ::fdatasync(fd) == 0;
  return ::close(fd) == 0 && ok;
}

bool writeAt(const std::string& path, std::int64_t offset, const std::string& data) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  const bool ok = ::pwrite(fd, data.data(), data.size(), offset) == static_cast<ssize_t>(data.size());
  return ::close(fd) == 0 && ok;
}

std::string readAt(const std::string& path, std::int64_t offset, std::size_t size) {
  std::string data(size, '\xff');
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return {};
  const ssize_t n = ::pread(fd, data.data(), size, offset);
  ::close(fd);
  data.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return data;
}

TEST(FuseVolume, HonestVolumeKeepsFlushedFilesAndLosesTheRestOnACut) {
  QUILLET_FUSE_OR_SKIP(vol, FuseVolume::Options{});
  ASSERT_EQ(::mkdir((*vol / "d").c_str(), 0755), 0);
  ASSERT_TRUE(writeFile(*vol / "d/flushed", "kept", true));
  ASSERT_TRUE(writeFile(*vol / "unflushed", "lost", false));
  ASSERT_TRUE(writeFile(*vol / "rewritten", "first", true));
  ASSERT_TRUE(writeFile(*vol / "rewritten", "second, never flushed", false));
  EXPECT_EQ(readFile(*vol / "unflushed"), "lost");  // the cache serves it until the cut
  ASSERT_TRUE(vol->powerCut());
  EXPECT_EQ(readFile(*vol / "d/flushed"), "kept");
  EXPECT_EQ(fileSize(*vol / "unflushed"), -1);
  EXPECT_EQ(readFile(*vol / "rewritten"), "first");
  // The volume goes on after the cut.
  ASSERT_TRUE(writeFile(*vol / "after", "x", true));
  ASSERT_TRUE(vol->powerCut());
  EXPECT_EQ(readFile(*vol / "after"), "x");
}

TEST(FuseVolume, LyingVolumeAcknowledgesFlushesItDoesNotKeep) {
  struct Row {
    std::int64_t every;
    bool firstKept, secondKept;
  };
  for (const Row row : {Row{0, false, false}, Row{2, false, true}}) {
    SCOPED_TRACE(row.every);
    FuseVolume::Options options;
    options.mode = "lying";
    options.every = row.every;
    QUILLET_FUSE_OR_SKIP(vol, options);
    ASSERT_TRUE(writeFile(*vol / "first", "1", true));  // the flush reports success either way
    ASSERT_TRUE(writeFile(*vol / "second", "2", true));
    ASSERT_TRUE(vol->powerCut());
    EXPECT_EQ(fileSize(*vol / "first") == 1, row.firstKept);
    EXPECT_EQ(fileSize(*vol / "second") == 1, row.secondKept);
  }
}

TEST(FuseVolume, FakeCapacityWrapsOrDiscardsPastTheRealSize) {
  for (const std::string mode : {"capacity", "limbo"}) {
    SCOPED_TRACE(mode);
    FuseVolume::Options options;
    options.mode = mode;
    options.realBytes = 1 << 20;
    options.claimedBytes = 4 << 20;
    QUILLET_FUSE_OR_SKIP(vol, options);
    const std::string disk = vol->diskImage();
    EXPECT_EQ(fileSize(disk), 4 << 20);
    ASSERT_TRUE(writeAt(disk, 4096, std::string(4096, 'a')));
    ASSERT_TRUE(writeAt(disk, (3 << 20) + 8192, std::string(4096, 'b')));
    EXPECT_EQ(readAt(disk, 4096, 4096), std::string(4096, 'a'));
    EXPECT_EQ(readAt(disk, 8192, 4096), std::string(4096, mode == "capacity" ? 'b' : '\0'));
    EXPECT_EQ(readAt(disk, (3 << 20) + 8192, 4096), std::string(4096, mode == "capacity" ? 'b' : '\0'));
  }
}

// The capacity-faking file serves as a loop device's backing file, as a fake drive would appear.
TEST(FuseVolume, FakeCapacityFileBacksALoopDevice) {
  FuseVolume::Options options;
  options.mode = "capacity";
  options.realBytes = 1 << 20;
  options.claimedBytes = 8 << 20;
  QUILLET_FUSE_OR_SKIP(vol, options);
  if (std::system("losetup --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "losetup is not installed";
  const std::string list = vol->path() + "/../loop";
  const std::string attach = "losetup -f --show " + vol->diskImage() + " > " + list + " 2>/dev/null";
  if (std::system(attach.c_str()) != 0) GTEST_SKIP() << "no free loop device";
  std::string device = readFile(list);
  while (!device.empty() && device.back() == '\n') device.pop_back();
  ASSERT_FALSE(device.empty());
  const int fd = ::open(device.c_str(), O_RDWR | O_DIRECT);
  ASSERT_GE(fd, 0);
  void* block = nullptr;
  ASSERT_EQ(::posix_memalign(&block, 4096, 4096), 0);
  std::memset(block, 'z', 4096);
  EXPECT_EQ(::pwrite(fd, block, 4096, (5 << 20) + 4096), 4096);
  std::memset(block, 0, 4096);
  EXPECT_EQ(::pread(fd, block, 4096, 4096), 4096);  // 5 MiB + 4 KiB wraps onto 4 KiB
  EXPECT_EQ(std::string(static_cast<char*>(block), 4096), std::string(4096, 'z'));
  ::close(fd);
  std::free(block);
  EXPECT_EQ(std::system(("losetup -d " + device).c_str()), 0);
  EXPECT_EQ(readAt(vol->diskImage(), 4096, 4096), std::string(4096, 'z'));
}

}  // namespace
}  // namespace quillet::test_support
