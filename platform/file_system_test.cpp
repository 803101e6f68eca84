// The POSIX file and volume services against real tmpfs and ext4 volumes.
#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using test_support::MountedVolume;

// df's own figures for a path: available and total bytes.
std::pair<std::int64_t, std::int64_t> dfFigures(const std::string& path) {
  const std::string command = "df -B1 --output=avail,size '" + path + "' | tail -1";
  FILE* pipe = ::popen(command.c_str(), "r");
  long long avail = -1, size = -1;
  if (pipe != nullptr) {
    if (std::fscanf(pipe, "%lld %lld", &avail, &size) != 2) avail = size = -1;
    ::pclose(pipe);
  }
  return {avail, size};
}

class FileSystemTest : public ::testing::Test {
 protected:
  std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
};

TEST_F(FileSystemTest, VolumeFiguresAgreeWithDfOnTmpfsAndExt4) {
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 8 << 20);
  for (const std::string& path : {tmp->path()}) {
    auto space = fs->volumeSpace(path);
    ASSERT_TRUE(space.ok()) << space.status().message();
    const auto [avail, size] = dfFigures(path);
    EXPECT_EQ(space.value().availableToCaller, avail);
    EXPECT_EQ(space.value().total, size);
    EXPECT_EQ(space.value().total, 8 << 20);
  }
  QUILLET_MOUNT_OR_SKIP(ext, ext4, 16 << 20);
  auto space = fs->volumeSpace(ext->path());
  ASSERT_TRUE(space.ok());
  const auto [avail, size] = dfFigures(ext->path());
  EXPECT_EQ(space.value().availableToCaller, avail);
  EXPECT_EQ(space.value().total, size);
}

TEST_F(FileSystemTest, QueriesOnAMissingPathFailButNameAndRootUseTheNearestAncestor) {
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 1 << 20);
  const std::string missing = *tmp / "not/yet/there/";
  EXPECT_FALSE(fs->volumeSpace(missing).ok());
  EXPECT_EQ(fs->volumeSpace(missing).status().kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs->nearestExistingAncestor(missing), tmp->path());
  EXPECT_EQ(fs->driveRoot(missing), tmp->path() + "/");
  auto name = fs->fileSystemName(missing);
  ASSERT_TRUE(name.ok());
  EXPECT_EQ(name.value(), "TMPFS");
}

TEST_F(FileSystemTest, FileSystemNamesAreMapped) {
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 1 << 20);
  EXPECT_EQ(fs->fileSystemName(tmp->path()).value(), "TMPFS");
  EXPECT_EQ(fs->clusterSize(tmp->path()).value(), static_cast<int>(::sysconf(_SC_PAGESIZE)));
  QUILLET_MOUNT_OR_SKIP(ext, ext4, 16 << 20);
  EXPECT_EQ(fs->fileSystemName(ext->path()).value(), "EXT4");
  EXPECT_EQ(fs->driveRoot(*ext / "a/b/"), ext->path() + "/");

  EXPECT_EQ(mapFileSystemName("vfat"), "FAT32");
  EXPECT_EQ(mapFileSystemName("msdos"), "FAT");
  EXPECT_EQ(mapFileSystemName("ntfs3"), "NTFS");
  EXPECT_EQ(mapFileSystemName("fuseblk"), "NTFS");
  EXPECT_EQ(mapFileSystemName("ext3"), "EXT3");
  EXPECT_EQ(mapFileSystemName("btrfs"), "BTRFS");
}

TEST_F(FileSystemTest, AllocatedFileOccupiesRealBlocksAndFillsTheVolume) {
  QUILLET_MOUNT_OR_SKIP(ext, ext4, 16 << 20);
  const std::int64_t before = fs->volumeSpace(ext->path()).value().availableToCaller;
  auto file = fs->createNewFile(*ext / "big");
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE(file.value()->allocate(4 << 20).ok());
  file.value()->close();
  EXPECT_EQ(test_support::fileSize(*ext / "big"), 4 << 20);
  EXPECT_GE(test_support::allocatedBytes(*ext / "big"), 4 << 20);  // not sparse
  EXPECT_LE(fs->volumeSpace(ext->path()).value().availableToCaller, before - (4 << 20));

  // Asking for more than is free fails as a full disk and leaves the volume usable.
  auto second = fs->createNewFile(*ext / "too-big");
  ASSERT_TRUE(second.ok());
  const Status status = second.value()->allocate(64 << 20);
  EXPECT_EQ(status.kind(), ErrorKind::DiskFull);
  EXPECT_NE(status.message().find("too-big"), std::string::npos);
}

TEST_F(FileSystemTest, WritesReportAFullDiskWithTheBytesThatLanded) {
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 64 << 10);
  auto file = fs->createNewFile(*tmp / "fill");
  ASSERT_TRUE(file.ok());
  std::string block(100 << 10, 'x');
  std::size_t written = 0;
  const Status status = file.value()->write(block.data(), block.size(), written);
  EXPECT_EQ(status.kind(), ErrorKind::DiskFull);
  EXPECT_EQ(written, static_cast<std::size_t>(64 << 10));
  file.value()->close();
  EXPECT_EQ(test_support::fileSize(*tmp / "fill"), 64 << 10);
}

TEST_F(FileSystemTest, CreationTellsExistingNamesFromWrongPaths) {
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 1 << 20);
  EXPECT_TRUE(fs->createFolder(*tmp / "a").ok());
  EXPECT_EQ(fs->createFolder(*tmp / "a").kind(), ErrorKind::AlreadyExists);
  // The path and the system's words are kept apart; the message joins them.
  const Status missing = fs->createFolder(*tmp / "missing/b");
  EXPECT_EQ(missing.kind(), ErrorKind::WrongPath);
  EXPECT_EQ(missing.context(), *tmp / "missing/b");
  EXPECT_EQ(missing.cause(), std::strerror(ENOENT));
  EXPECT_EQ(missing.message(), *tmp / "missing/b: " + std::strerror(ENOENT));

  auto file = fs->createNewFile(*tmp / "a/f");
  ASSERT_TRUE(file.ok());
  std::size_t written = 0;
  ASSERT_TRUE(file.value()->write("hello", 5, written).ok());
  file.value()->close();
  // A second exclusive create neither succeeds nor truncates.
  auto again = fs->createNewFile(*tmp / "a/f");
  EXPECT_EQ(again.status().kind(), ErrorKind::AlreadyExists);
  EXPECT_EQ(test_support::readFile(*tmp / "a/f"), "hello");
  EXPECT_EQ(fs->createNewFile(*tmp / "a").status().kind(), ErrorKind::AlreadyExists);
  EXPECT_EQ(fs->createNewFile(*tmp / "nope/f").status().kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs->createNewFile(*tmp / "a/f/g").status().kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs->createNewFile(*tmp / std::string(300, 'n')).status().kind(), ErrorKind::WrongPath);

  // A dangling link's name is taken: creation never follows it out of the folder.
  ASSERT_EQ(::symlink("/tmp/quillet-should-not-exist", (*tmp / "link").c_str()), 0);
  EXPECT_EQ(fs->createNewFile(*tmp / "link").status().kind(), ErrorKind::AlreadyExists);
  EXPECT_TRUE(fs->exists(*tmp / "link"));
  EXPECT_FALSE(fs->exists("/tmp/quillet-should-not-exist"));
}

TEST_F(FileSystemTest, CreationBelowAFolderNeverPassesThroughALinkOrClimbs) {
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 1 << 20);
  const std::string base = *tmp / "root/";
  ASSERT_TRUE(fs->createFolder(*tmp / "root").ok());
  ASSERT_TRUE(fs->createFolder(*tmp / "outside").ok());
  ASSERT_TRUE(fs->createFolder(base + "sub").ok());
  ASSERT_EQ(::symlink((*tmp / "outside").c_str(), (base + "out").c_str()), 0);

  // Real sub-folders are passed; the file lands there.
  EXPECT_TRUE(fs->createNewFileBelow(base, "sub/f").ok());
  EXPECT_TRUE(fs->createFolderBelow(base, "sub/d").ok());
  EXPECT_TRUE(fs->isFolder(base + "sub/d"));
  EXPECT_EQ(fs->createNewFileBelow(base, "sub/f").status().kind(), ErrorKind::AlreadyExists);
  // A link on the way, or a climb, is a wrong path and creates nothing outside.
  EXPECT_EQ(fs->createNewFileBelow(base, "out/f").status().kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs->createFolderBelow(base, "out/d").kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs->createNewFileBelow(base, "sub/../../outside/g").status().kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs->createFolderBelow(base, "..").kind(), ErrorKind::WrongPath);
  EXPECT_FALSE(fs->exists(*tmp / "outside/f"));
  EXPECT_FALSE(fs->exists(*tmp / "outside/d"));
  EXPECT_FALSE(fs->exists(*tmp / "outside/g"));
  EXPECT_FALSE(fs->exists(*tmp / "d"));
  // The root's own path may pass through a link: only the part below it is guarded.
  EXPECT_TRUE(fs->createNewFileBelow(*tmp / "root/out/", "h").ok());
  EXPECT_TRUE(fs->exists(*tmp / "outside/h"));

  // Only a folder, or a link to one, is a folder.
  EXPECT_TRUE(fs->isFolder(base + "out"));
  EXPECT_FALSE(fs->isFolder(base + "sub/f"));
  ASSERT_EQ(::symlink("/tmp/quillet-should-not-exist", (base + "dangling").c_str()), 0);
  EXPECT_FALSE(fs->isFolder(base + "dangling"));
  EXPECT_FALSE(fs->isFolder(base + "missing"));
}

// Opening for a check reads a file's bytes past the cache (directly on ext4), reads the last
// partial sector and the end of the file, and refuses whatever is no regular file below the base:
// links at the end or on the way, climbing parts, folders, FIFOs.
TEST_F(FileSystemTest, OpenForCheckReadsPastTheCacheAndRefusesAnythingButAFileBelow) {
  QUILLET_MOUNT_OR_SKIP(ext, ext4, 16 << 20);
  const std::string base = ext->path() + "/";
  ASSERT_EQ(::mkdir((base + "sub").c_str(), 0755), 0);
  std::string bytes(10000, 0);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
  {
    FILE* f = std::fopen((base + "sub/file").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  auto opened = fs->openForCheck(base, "sub/file");
  ASSERT_TRUE(opened.ok()) << opened.status().message();
  ReadHandle& file = *opened.value();
  EXPECT_EQ(file.size(), 10000);
  EXPECT_GE(file.allocatedBytes(), 10000);
  EXPECT_EQ(file.method(), UncachedRead::Direct);
  auto* buffer = static_cast<char*>(::operator new(16384, std::align_val_t(kUncachedAlignment)));
  auto got = file.read(0, buffer, 16384);
  ASSERT_TRUE(got.ok()) << got.status().message();
  EXPECT_EQ(got.value(), 10000u);
  EXPECT_EQ(std::string(buffer, 10000), bytes);
  got = file.read(8192, buffer, 4096);
  ASSERT_TRUE(got.ok());
  EXPECT_EQ(got.value(), 10000u - 8192u);
  got = file.read(16384, buffer, 4096);
  ASSERT_TRUE(got.ok());
  EXPECT_EQ(got.value(), 0u);
  ::operator delete(buffer, std::align_val_t(kUncachedAlignment));

  ASSERT_EQ(::symlink((base + "sub/file").c_str(), (base + "link").c_str()), 0);
  ASSERT_EQ(::symlink((base + "sub").c_str(), (base + "folderlink").c_str()), 0);
  ASSERT_EQ(::mkfifo((base + "fifo").c_str(), 0644), 0);
  for (const char* refused : {"link", "folderlink/file", "sub/../sub/file", "sub", "fifo", "nothing"}) {
    const auto r = fs->openForCheck(base, refused);
    EXPECT_FALSE(r.ok()) << refused;
    EXPECT_EQ(r.status().kind(), ErrorKind::WrongPath) << refused << ": " << r.status().message();
  }
}

TEST_F(FileSystemTest, EnumerationFlagsHiddenFoldersAndLinks) {
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 1 << 20);
  fs->createFolder(*tmp / "visible");
  fs->createFolder(*tmp / ".hidden");
  fs->createNewFile(*tmp / "file");
  ASSERT_EQ(::symlink(tmp->path().c_str(), (*tmp / "loop").c_str()), 0);

  auto reader = fs->openFolder(tmp->path());
  ASSERT_TRUE(reader.ok());
  std::set<std::string> seen;
  FolderEntry e;
  while (reader.value()->next(e).value()) {
    seen.insert(e.name);
    if (e.name == "visible") {
      EXPECT_TRUE(e.isDirectory && !e.isHidden && !e.isLink);
    }
    if (e.name == ".hidden") {
      EXPECT_TRUE(e.isDirectory && e.isHidden);
    }
    if (e.name == "file") {
      EXPECT_FALSE(e.isDirectory);
    }
    if (e.name == "loop") {
      EXPECT_TRUE(e.isLink && !e.isDirectory);
    }
    EXPECT_FALSE(e.isSystem);
  }
  EXPECT_EQ(seen, (std::set<std::string>{"visible", ".hidden", "file", "loop"}));
  EXPECT_FALSE(fs->openFolder(*tmp / "absent").ok());
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

TEST(LeafFolderTest, LinkCountsTellLeavesOnlyWhereTheyAreKnownToCountSubFolders) {
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 1 << 20);
  auto fs = makeSystemFileSystem();
  fs->createFolder(*tmp / "parent");
  fs->createFolder(*tmp / "parent/leaf");
  fs->createFolder(*tmp / "parent/.hidden-child");
  fs->createFolder(*tmp / "parent/.hidden-child/x");
  fs->createNewFile(*tmp / "parent/leaf/file");

  auto reader = fs->openFolder(*tmp / "parent");
  ASSERT_TRUE(reader.ok());
  FolderEntry e;
  while (reader.value()->next(e).value()) {
    EXPECT_EQ(reader.value()->entryMayHaveSubfolders(e), e.name != "leaf") << e.name;
  }
  // Seen from the volume's root, the parent holds sub-folders.
  auto top = fs->openFolder(tmp->path());
  ASSERT_TRUE(top.ok());
  while (top.value()->next(e).value()) EXPECT_TRUE(top.value()->entryMayHaveSubfolders(e)) << e.name;
}

// A profile's walk takes every size from the listing: each file's own length, never a link's target,
// and no size for an entry that has gone or is no longer a file since it was listed.
TEST(EntrySizeTest, AListedFileGivesItsLengthAndAChangedEntryNone) {
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 1 << 20);
  auto fs = makeSystemFileSystem();
  for (const auto& [name, size] :
       std::vector<std::pair<std::string, std::size_t>>{{"empty", 0}, {"some", 5000}, {"gone", 7}}) {
    auto file = fs->createNewFile(*tmp / name);
    ASSERT_TRUE(file.ok());
    std::size_t written = 0;
    const std::string content(size, 'x');
    ASSERT_TRUE(file.value()->write(content.data(), content.size(), written).ok());
    ASSERT_TRUE(file.value()->close().ok());
  }
  ASSERT_EQ(::mkfifo((*tmp / "fifo").c_str(), 0600), 0);
  auto reader = fs->openFolder(tmp->path());
  ASSERT_TRUE(reader.ok());
  std::map<std::string, std::int64_t> sizes;
  FolderEntry e;
  while (reader.value()->next(e).value()) {
    if (e.name == "gone") {
      ASSERT_EQ(::unlink((*tmp / "gone").c_str()), 0);
    }
    if (e.name == "some") {
      // Replaced by a link to a larger file between the listing and the size.
      ASSERT_EQ(::rename((*tmp / "some").c_str(), (*tmp / "some-moved").c_str()), 0);
      ASSERT_EQ(::symlink((*tmp / "some-moved").c_str(), (*tmp / "some").c_str()), 0);
      EXPECT_FALSE(reader.value()->entrySize(e).ok());
      ASSERT_EQ(::unlink((*tmp / "some").c_str()), 0);
      ASSERT_EQ(::rename((*tmp / "some-moved").c_str(), (*tmp / "some").c_str()), 0);
    }
    const auto size = reader.value()->entrySize(e);
    if (size.ok()) sizes[e.name] = size.value();
  }
  EXPECT_EQ(sizes, (std::map<std::string, std::int64_t>{{"empty", 0}, {"some", 5000}}));
}

}  // namespace
}  // namespace quillet
