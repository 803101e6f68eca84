#include "script/script_log.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include "testing/volume_fixture.h"

namespace quillet {
namespace {

class FixedClock : public Clock {
 public:
  LocalTime localTime() override { return {2004, 12, 5, 10, 2, 3}; }
  std::int64_t secondsSinceEpoch() override { return 0; }
};

const std::string kStars(80, '*');

TEST(ScriptLogTest, RecordFormsAreExactWithCrLf) {
  const LocalTime t{2004, 12, 5, 10, 2, 3};
  EXPECT_EQ(formatTimeStamp(t), "[05.12.2004 10:02:03]: ");
  EXPECT_EQ(formatStartBanner(t), kStars + "\r\n[05.12.2004 10:02:03]: #QX Scripts log started\r\n");
  EXPECT_EQ(formatEndBanner(t), "[05.12.2004 10:02:03]: #QX Scripts log ended\r\n" + kStars + "\r\n\r\n");
  EXPECT_EQ(formatLogLine(t, "Invalid script.", "Root can't be empty."),
            "[05.12.2004 10:02:03]: Invalid script. Root can't be empty.\r\n");
  EXPECT_EQ(formatInvalidParameter(t, "/foo"), "[05.12.2004 10:02:03]: Invalid script parameter '/foo'.\r\n");
  EXPECT_EQ(formatTimeStamp({1999, 1, 2, 0, 0, 9}), "[02.01.1999 00:00:09]: ");
}

TEST(ScriptLogTest, TwoRunsAppendTwoBlocksAndALockedLogGetsNothing) {
  testing::ScratchFolder dir;
  const std::string path = dir / "scripts.log";
  FixedClock clock;
  {
    ScriptLog first(clock);
    ASSERT_TRUE(first.openLog(path));
    first.writeStartBanner();
    ScriptLog intruder(clock);
    EXPECT_FALSE(intruder.openLog(path));
    intruder.writeStartBanner();  // writes nothing: not open
    first.writeLine("Invalid script.", "Parameters too low.");
    first.writeEndBanner();
  }
  ScriptLog second(clock);
  ASSERT_TRUE(second.openLog(path));
  second.writeStartBanner();
  second.writeInvalidParameter("/x");
  second.writeEndBanner();

  const std::string ts = "[05.12.2004 10:02:03]: ";
  const std::string block1 = kStars + "\r\n" + ts + "#QX Scripts log started\r\n" + ts +
                             "Invalid script. Parameters too low.\r\n" + ts + "#QX Scripts log ended\r\n" + kStars +
                             "\r\n\r\n";
  const std::string block2 = kStars + "\r\n" + ts + "#QX Scripts log started\r\n" + ts +
                             "Invalid script parameter '/x'.\r\n" + ts + "#QX Scripts log ended\r\n" + kStars +
                             "\r\n\r\n";
  EXPECT_EQ(testing::readFile(path), block1 + block2);
}

TEST(ScriptLogTest, LogLivesBesideTheProgramOrInTheStateFolder) {
  testing::ScratchFolder dir;
  EXPECT_EQ(scriptLogPath(dir.path() + "/quillet"), dir.path() + "/scripts.log");
  // A bare name uses the folder of the running program file.
  const std::string self = runningProgramPath();
  EXPECT_EQ(scriptLogPath("quillet"), self.substr(0, self.rfind('/') + 1) + "scripts.log");

  QUILLET_MOUNT_OR_SKIP(ro, tmpfs, 1 << 20);
  ::setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
  ::mount("tmpfs", ro->path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
  EXPECT_EQ(scriptLogPath(ro->path() + "/quillet"), dir / "state/talvane-quillet/scripts.log");
  EXPECT_TRUE(folderIsWritable(dir / "state/talvane-quillet"));
  ::unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace quillet
