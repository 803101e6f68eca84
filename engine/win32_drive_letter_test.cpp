// Drive letters on Windows: root creation never tries the drive itself and names the first folder a
// missing drive refuses; the full-volume text shows the upper-cased letter.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "engine/failure_report.h"
#include "engine/volume_checks.h"
#include "testing/engine_harness.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

std::string missingDrive() {
  const DWORD drives = ::GetLogicalDrives();
  for (char letter = 'X'; letter > 'D'; --letter) {
    if ((drives & (1u << (letter - 'A'))) == 0) return std::string(1, letter) + ":";
  }
  return "";
}

TEST(Win32DriveLetterTest, RootIsCreatedBelowTheDriveAndAMissingDriveNamesItsFirstFolder) {
  auto fs = makeSystemFileSystem();
  test_support::ScratchFolder scratch;
  test_support::EngineHarness h{*fs};
  h.job.rootFolder = scratch / "new\\deeper\\";
  setFileSystemLimit(h.job, *fs);
  EXPECT_EQ(h.job.driveRoot, scratch.path().substr(0, 1) + ":\\");
  EXPECT_TRUE(fs->clusterSize(h.job.driveRoot).ok()) << "the worker asks the drive root for its cluster";
  EXPECT_TRUE(createRootFolder(h.job, h.services));
  EXPECT_TRUE(fs->exists(scratch / "new\\deeper"));
  EXPECT_TRUE(h.presenter.shown().empty());

  const std::string drive = missingDrive();
  if (drive.empty()) GTEST_SKIP() << "every drive letter is in use";
  h.job.rootFolder = drive + "\\new\\deeper\\";
  setFileSystemLimit(h.job, *fs);
  EXPECT_EQ(h.job.driveRoot, drive + "\\");
  EXPECT_EQ(h.job.fsFileSizeLimit, 2147483647LL) << "an unreadable volume gets the last row";
  EXPECT_FALSE(createRootFolder(h.job, h.services));
  ASSERT_EQ(h.presenter.shown().size(), 1u);
  EXPECT_EQ(h.presenter.shown()[0].kind, FailureKind::RootPath);
  EXPECT_EQ(h.presenter.shown()[0].path, drive + "\\new");
}

TEST(Win32DriveLetterTest, FullVolumeNamesTheUpperCasedDriveLetter) {
  // The drive's name comes from the system's file services; no disk is touched.
  auto system = makeSystemFileSystem();
  test_support::EngineHarness h{*system};
  reportVolumeFull(h.job, h.services, "q:\\data\\");
  h.job.currentFileName = "q:\\data\\a1";
  h.job.volumeFullReported = false;  // a run reports once; these are separate reports
  reportVolumeFull(h.job, h.services, "c:\\test\\");
  const auto shown = h.presenter.shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].path, "Q");
  EXPECT_EQ(shown[0].lastFile, "");
  EXPECT_EQ(shown[1].path, "C");
  EXPECT_EQ(shown[1].lastFile, "q:\\data\\a1");
}

}  // namespace
}  // namespace quillet
