#include "platform/atomic_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/path.h"
#include "testing/volume_fixture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace quillet {
namespace {

std::set<std::string> namesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

TEST(AtomicFileTest, ReplacesTheWholeFileAndLeavesNothingBeside) {
  test_support::ScratchFolder scratch;
  const std::string path = scratch / "store.json";
  ASSERT_TRUE(replaceFileAtomically(path, "first").ok());
  EXPECT_EQ(test_support::readFile(path), "first");

  // Until the new file takes its place, the old one is whole and the new one complete.
  std::string seenTemp;
  const Status replaced = replaceFileAtomically(path, std::string(10000, 'n'), [&](const std::string& temp) {
    seenTemp = temp;
    EXPECT_EQ(test_support::readFile(path), "first");
    EXPECT_EQ(test_support::readFile(temp), std::string(10000, 'n'));
  });
  ASSERT_TRUE(replaced.ok()) << replaced.message();
  EXPECT_EQ(folderPart(seenTemp), folderPart(path)) << "the temporary file sits beside the target";
  EXPECT_EQ(test_support::readFile(path), std::string(10000, 'n'));
  EXPECT_EQ(namesIn(scratch.path()), std::set<std::string>{"store.json"});

  const Status noFolder = replaceFileAtomically(scratch / "missing/store.json", "x");
  EXPECT_EQ(noFolder.kind(), ErrorKind::WrongPath);
  EXPECT_NE(noFolder.message().find(scratch / "missing"), std::string::npos) << noFolder.message();
}

TEST(AtomicFileTest, ReadsWholeFilesUpToTheLimitOnly) {
  test_support::ScratchFolder scratch;
  const std::string path = scratch / "store.json";
  writeFile(path, std::string(100, 'a'));
  std::string contents = "previous";
  ASSERT_TRUE(readWholeFile(path, 100, contents).ok());
  EXPECT_EQ(contents, std::string(100, 'a'));

  const Status tooLarge = readWholeFile(path, 99, contents);
  EXPECT_FALSE(tooLarge.ok());
  EXPECT_EQ(contents, "");
  EXPECT_EQ(tooLarge.message().rfind(path + ": ", 0), 0u) << tooLarge.message();

  EXPECT_EQ(readWholeFile(scratch / "missing", 100, contents).kind(), ErrorKind::WrongPath);
}

TEST(AtomicFileTest, SettingAsideKeepsTheLatestCopiesAndNeverReplacesTheNewest) {
  test_support::ScratchFolder scratch;
  const std::string path = scratch / "store.json";
  const std::string aside = scratch / "store.json.corrupt";
  for (const char* contents : {"one", "two", "three", "four"}) {
    writeFile(path, contents);
    const Status status = setFileAside(path, aside, 3);
    ASSERT_TRUE(status.ok()) << status.message();
  }
  EXPECT_EQ(test_support::readFile(aside), "four");
  EXPECT_EQ(test_support::readFile(aside + ".1"), "three");
  EXPECT_EQ(test_support::readFile(aside + ".2"), "two");
  EXPECT_EQ(namesIn(scratch.path()),
            (std::set<std::string>{"store.json.corrupt", "store.json.corrupt.1", "store.json.corrupt.2"}));

  EXPECT_EQ(setFileAside(path, aside, 3).kind(), ErrorKind::WrongPath);
  // With room for one copy only, the one already there is kept and the file stays where it is.
  writeFile(path, "five");
  EXPECT_EQ(setFileAside(path, aside, 1).kind(), ErrorKind::AlreadyExists);
  EXPECT_EQ(test_support::readFile(aside), "four");
  EXPECT_EQ(test_support::readFile(path), "five");
}

TEST(AtomicFileTest, AFullVolumeLeavesTheOldFileAndNoTemporary) {
  QUILLET_MOUNT_OR_SKIP(volume, tmpfs, 64 * 1024);
  const std::string path = *volume / "store.json";
  ASSERT_TRUE(replaceFileAtomically(path, "old contents").ok());
  {
    std::ofstream filler(*volume / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
  }
  const Status full = replaceFileAtomically(path, std::string(32 * 1024, 'n'));
  EXPECT_EQ(full.kind(), ErrorKind::DiskFull);
  EXPECT_EQ(full.message().rfind(path + ".tmp-", 0), 0u) << full.message();
  EXPECT_EQ(test_support::readFile(path), "old contents");
  EXPECT_EQ(namesIn(volume->path()), (std::set<std::string>{"filler", "store.json"}));
}

#ifdef _WIN32
// Needs a small volume that may be filled: the Windows CI maps a tmpfs of a few MiB as a drive.
TEST(AtomicFileTest, AFullDriveLeavesTheOldFileWhole) {
  const char* drive = std::getenv("QUILLET_TEST_SMALL_DRIVE");
  if (drive == nullptr || *drive == 0)
    GTEST_SKIP() << "QUILLET_TEST_SMALL_DRIVE names no small drive to fill";
  const std::string folder = std::string(drive) + "\\atomic-full-" + std::to_string(::GetCurrentProcessId());
  std::filesystem::create_directory(folder);
  const std::string path = folder + "\\report.json";
  ASSERT_TRUE(replaceFileAtomically(path, "old contents").ok());
  {
    std::ofstream filler(folder + "\\filler", std::ios::binary);
    const std::string block(4096, 'f');
    for (int i = 0; i < 4096 && filler.write(block.data(), block.size()); ++i) {
    }
  }
  // A few KiB, as a report is, on a drive with no room left.
  const Status full = replaceFileAtomically(path, std::string(2048, 'n'));
  EXPECT_EQ(full.kind(), ErrorKind::DiskFull) << full.message();
  EXPECT_EQ(test_support::readFile(path), "old contents");
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{"filler", "report.json"}));
  // Nor does a new file appear empty.
  const std::string fresh = folder + "\\new.json";
  EXPECT_EQ(replaceFileAtomically(fresh, std::string(2048, 'n')).kind(), ErrorKind::DiskFull);
  EXPECT_EQ(namesIn(folder), (std::set<std::string>{"filler", "report.json"}));
  test_support::removeTree(folder);
}

// A device name is no file to replace: the move would fail late, naming the temporary file, or
// put a file in the device's place.
TEST(AtomicFileTest, ReplacesOnlyFilesOnADisk) {
  const Status device = replaceFileAtomically("NUL", "report");
  EXPECT_FALSE(device.ok());
  EXPECT_EQ(device.message(), "NUL: not a regular file");
  test_support::ScratchFolder scratch;
  const Status folder = replaceFileAtomically(scratch.path(), "report");
  EXPECT_EQ(folder.message(), scratch.path() + ": not a regular file");
}
#endif

#ifndef _WIN32
TEST(AtomicFileTest, KeepsPermissionBitsAndRefusesAReadOnlyVolume) {
  QUILLET_MOUNT_OR_SKIP(volume, tmpfs, 1024 * 1024);
  const std::string path = *volume / "store.json";
  writeFile(path, "kept");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(replaceFileAtomically(path, "kept").ok());
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  ASSERT_EQ(::mount("tmpfs", volume->path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0)
      << std::strerror(errno);
  const Status readOnly = replaceFileAtomically(path, "new");
  EXPECT_EQ(readOnly.systemCode(), EROFS);
  EXPECT_NE(readOnly.message().find(std::strerror(EROFS)), std::string::npos) << readOnly.message();
  EXPECT_EQ(test_support::readFile(path), "kept");
}

TEST(AtomicFileTest, ReadingAFifoInTheFilesPlaceFailsAtOnce) {
  test_support::ScratchFolder scratch;
  const std::string path = scratch / "store.json";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::string contents;
  const Status status = readWholeFile(path, 100, contents);
  EXPECT_EQ(status.kind(), ErrorKind::WrongPath);
  EXPECT_EQ(status.message().rfind(path + ": ", 0), 0u) << status.message();
}

// A replace never puts a regular file in place of a system's node; a link leads to its target,
// which is replaced in its own folder while the link stays a link.
TEST(AtomicFileTest, ReplacesOnlyRegularFilesAndFollowsLinksToThem) {
  test_support::ScratchFolder scratch;
  const std::string fifo = scratch / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A node with the numbers of the system's "full" device, made here so the real one is never at risk.
  const std::string device = scratch / "device";
  ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 7)), 0) << std::strerror(errno);
  for (const std::string& node : {fifo, device}) {
    const Status refused = replaceFileAtomically(node, "report");
    EXPECT_FALSE(refused.ok()) << node;
    EXPECT_EQ(refused.message(), node + ": not a regular file");
    struct stat st {};
    ASSERT_EQ(::lstat(node.c_str(), &st), 0);
    EXPECT_FALSE(S_ISREG(st.st_mode)) << node << " was replaced";
  }
  EXPECT_EQ(namesIn(scratch.path()), (std::set<std::string>{"fifo", "device"})) << "a temporary file stayed";

  // A chain of links, one relative, into another folder: the target changes, the links stay.
  std::filesystem::create_directory(scratch / "real");
  writeFile(scratch / "real/report.json", "old");
  ASSERT_EQ(::symlink((scratch / "real/report.json").c_str(), (scratch / "real/link").c_str()), 0);
  ASSERT_EQ(::symlink("real/link", (scratch / "first-link").c_str()), 0);
  const Status followed = replaceFileAtomically(scratch / "first-link", "new");
  ASSERT_TRUE(followed.ok()) << followed.message();
  EXPECT_EQ(test_support::readFile(scratch / "real/report.json"), "new");
  EXPECT_TRUE(std::filesystem::is_symlink(scratch / "first-link"));
  EXPECT_TRUE(std::filesystem::is_symlink(scratch / "real/link"));
  EXPECT_EQ(namesIn(scratch / "real"), (std::set<std::string>{"report.json", "link"}));

  // A link to a node is refused as the node is; a dangling link gets its target made.
  ASSERT_EQ(::symlink(fifo.c_str(), (scratch / "to-fifo").c_str()), 0);
  EXPECT_FALSE(replaceFileAtomically(scratch / "to-fifo", "x").ok());
  ASSERT_EQ(::symlink("made-later", (scratch / "dangling").c_str()), 0);
  ASSERT_TRUE(replaceFileAtomically(scratch / "dangling", "made").ok());
  EXPECT_EQ(test_support::readFile(scratch / "made-later"), "made");
  EXPECT_TRUE(std::filesystem::is_symlink(scratch / "dangling"));
}
#endif

}  // namespace
}  // namespace quillet
