#include "platform/system.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "testing/volume_fixture.h"

namespace quillet {
namespace {

TEST(SystemTest, ReservedRoomTakesAppendsOnAFullVolumeAndAppendsAreWholeOrNothing) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 256 << 10);
  const std::string path = *vol / "log";
  auto opened = openExclusiveAppend(path);
  ASSERT_TRUE(opened.ok());
  ExclusiveAppendFile& log = *opened.value();
  EXPECT_EQ(log.lastByte(), -1);
  ASSERT_TRUE(log.append("first\r\n").ok());
  EXPECT_EQ(log.lastByte(), '\n');
  ASSERT_TRUE(log.reserve(12 << 10).ok());
  EXPECT_EQ(test_support::fileSize(path), 7) << "reserving keeps the size";

  {
    std::ofstream filler(*vol / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  const std::string line(10 << 10, 'a');
  EXPECT_TRUE(log.append(line).ok()) << "the reserved room takes it";
  const Status refused = log.append(std::string(8 << 10, 'b'));
  EXPECT_EQ(refused.kind(), ErrorKind::DiskFull);
  EXPECT_EQ(test_support::fileSize(path), 7 + (10 << 10)) << "no part of a refused append stays";
  EXPECT_EQ(log.lastByte(), 'a');
  EXPECT_EQ(log.reserve(64 << 10).kind(), ErrorKind::DiskFull);
  log.close();
}

TEST(SystemTest, RelativePathsAreMadeAbsoluteAgainstTheWorkingFolder) {
  test_support::ScratchFolder dir;
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  EXPECT_EQ(absolutePath("rel/sub/"), dir / "rel/sub/");
  EXPECT_EQ(absolutePath("   /"), dir / "   /");
  EXPECT_EQ(absolutePath("../x"), dir / "../x");
  EXPECT_EQ(absolutePath("/abs/x/"), "/abs/x/");
  ASSERT_EQ(::chdir(previous), 0);
}

// Each case runs in a child of its own: the signal latch and the signal mask are per process.
TEST(SystemTest, HeldStopSignalsAreLatchedAndReleasedOnesEndTheProcess) {
  EXPECT_EXIT(
      {
        holdStopSignals();
        const bool before = stopSignalArrived();
        ::kill(::getpid(), SIGTERM);
        ::kill(::getpid(), SIGINT);
        std::exit(!before && stopSignalArrived() && stopSignalArrived() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        holdStopSignals();
        ::kill(::getpid(), SIGINT);
        releaseStopSignals();  // the held signal takes its default effect now
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGINT), "");
  // A broken pipe or display connection is an error to handle, not the end of the run.
  EXPECT_EXIT(
      {
        holdStopSignals();
        ::raise(SIGPIPE);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(SystemTest, UserFoldersFollowTheBaseDirectoryVariables) {
  ::setenv("XDG_STATE_HOME", "/somewhere/state", 1);
  EXPECT_EQ(userStateFolder(), "/somewhere/state/talvane-quillet");
  ::setenv("XDG_STATE_HOME", "relative", 1);  // ignored, as the base directory rules say
  ::setenv("HOME", "/home/tester", 1);
  EXPECT_EQ(userStateFolder(), "/home/tester/.local/state/talvane-quillet");
  ::unsetenv("XDG_STATE_HOME");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(userConfigFolder(), "/home/tester/.config/talvane-quillet");
}

TEST(SystemTest, AFolderOnAReadOnlyVolumeIsNotWritable) {
  QUILLET_MOUNT_OR_SKIP(tmp, tmpfs, 1 << 20);
  ::mount("tmpfs", tmp->path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
  EXPECT_FALSE(folderIsWritable(tmp->path()));
}

}  // namespace
}  // namespace quillet
