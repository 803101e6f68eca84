// The Win32 file and volume services on the real file system: exclusive creation and the causes it
// tells apart, attributes in listings, allocation by end of file, drive roots, and a full disk on
// the small drive the Windows CI maps (QUILLET_TEST_SMALL_DRIVE, e.g. "Q:").
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>

#include "platform/file_system.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

// Wine keeps its own file attributes and maps the end of file to ftruncate; a few facts of real
// Windows volumes cannot be seen there.
bool runningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A drive letter no volume answers to, or empty when every letter is taken.
std::string missingDrive() {
  const DWORD drives = ::GetLogicalDrives();
  for (char letter = 'X'; letter > 'D'; --letter) {
    if ((drives & (1u << (letter - 'A'))) == 0) return std::string(1, letter) + ":";
  }
  return "";
}

class Win32FileSystemTest : public ::testing::Test {
 protected:
  std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  test_support::ScratchFolder scratch;
};

TEST_F(Win32FileSystemTest, CreationTellsExistingNamesFromWrongPaths) {
  EXPECT_TRUE(fs->createFolder(scratch / "a").ok());
  EXPECT_EQ(fs->createFolder(scratch / "a").kind(), ErrorKind::AlreadyExists);
  const Status missingParent = fs->createFolder(scratch / "missing\\b");
  EXPECT_EQ(missingParent.kind(), ErrorKind::WrongPath);
  EXPECT_EQ(missingParent.systemCode(), ERROR_PATH_NOT_FOUND);
  EXPECT_NE(missingParent.message().find(scratch / "missing\\b"), std::string::npos);
  EXPECT_GT(missingParent.message().size(), (scratch / "missing\\b: ").size())
      << "the system's description follows";

  auto file = fs->createNewFile(scratch / "a\\f");
  ASSERT_TRUE(file.ok()) << file.status().message();
  std::size_t written = 0;
  ASSERT_TRUE(file.value()->write("hello", 5, written).ok());
  EXPECT_EQ(written, 5u);
  ASSERT_TRUE(file.value()->close().ok());
  // A second exclusive create neither succeeds nor truncates.
  EXPECT_EQ(fs->createNewFile(scratch / "a\\f").status().kind(), ErrorKind::AlreadyExists);
  EXPECT_EQ(test_support::readFile(scratch / "a\\f"), "hello");
  EXPECT_TRUE(fs->exists(scratch / "a\\f"));
  EXPECT_TRUE(fs->exists(scratch / "a"));
  EXPECT_FALSE(fs->exists(scratch / "a\\g"));

  for (const std::string& wrong : {scratch / "nope\\f", scratch / "a\\f\\g", scratch / std::string(300, 'n'),
                                   scratch / "bad|name", scratch / "a\\<x>"}) {
    EXPECT_EQ(fs->createNewFile(wrong).status().kind(), ErrorKind::WrongPath) << wrong;
  }
}

TEST_F(Win32FileSystemTest, ListingsReportHiddenAndSystemAttributes) {
  fs->createFolder(scratch / "visible");
  fs->createFolder(scratch / "hidden");
  fs->createNewFile(scratch / "system");
  fs->createNewFile(scratch / "plain");
  ASSERT_TRUE(::SetFileAttributesA((scratch / "hidden").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(::SetFileAttributesA((scratch / "system").c_str(), FILE_ATTRIBUTE_SYSTEM));

  auto reader = fs->openFolder(scratch.path());
  ASSERT_TRUE(reader.ok()) << reader.status().message();
  std::map<std::string, FolderEntry> seen;
  FolderEntry e;
  while (reader.value()->next(e).value()) seen[e.name] = e;
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_TRUE(seen["visible"].isDirectory && !seen["visible"].isHidden && !seen["visible"].isSystem);
  EXPECT_TRUE(seen["hidden"].isDirectory && seen["hidden"].isHidden && !seen["hidden"].isSystem);
  EXPECT_TRUE(!seen["system"].isDirectory && seen["system"].isSystem && !seen["system"].isHidden);
  EXPECT_TRUE(!seen["plain"].isDirectory && !seen["plain"].isHidden && !seen["plain"].isSystem);
  for (const auto& [name, entry] : seen) EXPECT_FALSE(entry.isLink) << name;

  fs->createFolder(scratch / "empty");
  auto empty = fs->openFolder(scratch / "empty");
  ASSERT_TRUE(empty.ok());
  EXPECT_FALSE(empty.value()->next(e).value());
  EXPECT_EQ(fs->openFolder(scratch / "absent").status().kind(), ErrorKind::WrongPath);
}

TEST_F(Win32FileSystemTest, LinksAreReportedAndNeverFollowedByCreation) {
  // Symbolic links need a privilege or developer mode on Windows; where they cannot be made there
  // is nothing to show.
  fs->createFolder(scratch / "target");
  if (!::CreateSymbolicLinkA((scratch / "link").c_str(), (scratch / "target").c_str(),
                             SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    GTEST_SKIP() << "symbolic links cannot be made here (error " << ::GetLastError() << ")";
  }
  if (!fs->exists(scratch / "link")) GTEST_SKIP() << "the system claims a symbolic link but made none (Wine)";
  auto reader = fs->openFolder(scratch.path());
  ASSERT_TRUE(reader.ok());
  FolderEntry e;
  bool sawLink = false;
  while (reader.value()->next(e).value()) {
    if (e.name != "link") continue;
    sawLink = true;
    EXPECT_TRUE(e.isLink);
    EXPECT_FALSE(e.isDirectory) << "a link to a folder is never entered";
  }
  EXPECT_TRUE(sawLink);
  EXPECT_EQ(fs->createNewFile(scratch / "link").status().kind(), ErrorKind::AlreadyExists);
}

TEST_F(Win32FileSystemTest, AllocationMovesTheEndOfFile) {
  auto file = fs->createNewFile(scratch / "big");
  ASSERT_TRUE(file.ok());
  const std::int64_t size = (3 << 20) + 1;
  ASSERT_TRUE(file.value()->allocate(size).ok());
  ASSERT_TRUE(file.value()->close().ok());
  EXPECT_EQ(test_support::fileSize(scratch / "big"), size);
  // On NTFS the clusters up to the end of file are reserved; Wine sets the length with ftruncate.
  if (!runningUnderWine()) {
    EXPECT_GE(test_support::allocatedBytes(scratch / "big"), size);
  }
  EXPECT_EQ(test_support::readFile(scratch / "big"), std::string(static_cast<std::size_t>(size), '\0'));
}

TEST_F(Win32FileSystemTest, VolumeQueriesAnswerForTheDriveThatHoldsAFolder) {
  const auto space = fs->volumeSpace(scratch.path());
  ASSERT_TRUE(space.ok()) << space.status().message();
  EXPECT_GT(space.value().total, 0);
  EXPECT_GE(space.value().availableToCaller, 0);
  EXPECT_LE(space.value().availableToCaller, space.value().total);
  const auto cluster = fs->clusterSize(scratch.path());
  ASSERT_TRUE(cluster.ok()) << cluster.status().message();
  EXPECT_GT(cluster.value(), 0);
  EXPECT_EQ(cluster.value() & (cluster.value() - 1), 0) << "a power of two";
  const auto name = fs->fileSystemName(scratch / "not\\yet\\there");
  ASSERT_TRUE(name.ok()) << name.status().message();
  EXPECT_FALSE(name.value().empty());
  EXPECT_EQ(name.value().find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos) << name.value();

  // A folder that does not exist yet: the figures fail, its nearest existing ancestor answers.
  const std::string missing = scratch / "not\\yet\\there\\";
  EXPECT_EQ(fs->volumeSpace(missing).status().kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs->nearestExistingAncestor(missing), scratch.path());
  EXPECT_EQ(fs->nearestExistingAncestor(scratch.path().substr(0, 3)), scratch.path().substr(0, 3));
}

TEST_F(Win32FileSystemTest, DriveRootIsTheFirstCharacterWithColonAndBackslash) {
  EXPECT_EQ(fs->driveRoot("q:\\data\\new\\"), "q:\\");
  EXPECT_EQ(fs->driveRoot(scratch.path()), scratch.path().substr(0, 1) + ":\\");
  // One volume, whatever case its letter is written in; the small drive CI maps is another.
  std::string lower = scratch / "not\\yet";
  lower[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[0])));
  EXPECT_TRUE(fs->sameVolume(lower, scratch / "j.jsonl"));
  if (const char* small = std::getenv("QUILLET_TEST_SMALL_DRIVE"); small != nullptr && *small != 0) {
    EXPECT_FALSE(fs->sameVolume(std::string(small) + "\\j.jsonl", scratch.path()));
    EXPECT_TRUE(fs->sameVolume(std::string(small) + "\\j.jsonl", std::string(small) + "\\"));
  }
  const std::string drive = missingDrive();
  if (drive.empty()) GTEST_SKIP() << "every drive letter is in use";
  EXPECT_EQ(fs->driveRoot(drive + "\\new\\"), drive + "\\");
  EXPECT_FALSE(fs->sameVolume(drive + "\\new\\j.jsonl", scratch.path()));
  EXPECT_EQ(fs->nearestExistingAncestor(drive + "\\new\\deeper"), "");
  EXPECT_FALSE(fs->fileSystemName(drive + "\\new\\").ok());
  EXPECT_FALSE(fs->clusterSize(drive + "\\").ok());
  EXPECT_EQ(fs->createFolder(drive + "\\new").kind(), ErrorKind::WrongPath);
}

// Needs a small volume that may be filled: the Windows CI maps a tmpfs of a few MiB as a drive.
TEST_F(Win32FileSystemTest, WritesReportAFullDiskWithTheBytesThatLanded) {
  const char* drive = std::getenv("QUILLET_TEST_SMALL_DRIVE");
  if (drive == nullptr || *drive == 0)
    GTEST_SKIP() << "QUILLET_TEST_SMALL_DRIVE names no small drive to fill";
  const std::string folder =
      std::string(drive) + "\\platform-full-" + std::to_string(::GetCurrentProcessId());
  ASSERT_TRUE(fs->createFolder(folder).ok());
  const auto before = fs->volumeSpace(folder);
  ASSERT_TRUE(before.ok());
  ASSERT_LE(before.value().total, 256 << 20) << "not a small drive";

  auto file = fs->createNewFile(folder + "\\fill");
  ASSERT_TRUE(file.ok());
  const std::string block(1 << 20, 'x');
  std::size_t total = 0;
  Status status;
  for (int i = 0; i < 512 && status.ok(); ++i) {
    std::size_t written = 0;
    status = file.value()->write(block.data(), block.size(), written);
    total += written;
  }
  file.value()->close();
  EXPECT_EQ(status.kind(), ErrorKind::DiskFull) << status.message();
  EXPECT_NE(status.message().find(folder + "\\fill"), std::string::npos);
  EXPECT_EQ(test_support::fileSize(folder + "\\fill"), static_cast<std::int64_t>(total))
      << "the count is what landed";
  EXPECT_GT(total, 0u);
  EXPECT_LE(fs->volumeSpace(folder).value().availableToCaller, 64 << 10);
  test_support::removeTree(folder);
}

}  // namespace
}  // namespace quillet
