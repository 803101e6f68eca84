#include "script/script_log.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <fstream>

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

TEST(ScriptLogTest, ControlCharactersAreEscapedSoThatARecordStaysOneLine) {
  const LocalTime t{2004, 12, 5, 10, 2, 3};
  EXPECT_EQ(
      formatInvalidParameter(t, "/x\r\n[05.12.2004 10:02:03]: #QX Scripts log ended"),
      "[05.12.2004 10:02:03]: Invalid script parameter '/x\\x0D\\x0A[05.12.2004 10:02:03]: #QX Scripts log "
      "ended'.\r\n");
  EXPECT_EQ(formatLogLine(t, "Invalid script.", std::string("a\tb\x7f\x1b\0c", 7)),
            "[05.12.2004 10:02:03]: Invalid script. a\\x09b\\x7F\\x1B\\x00c\r\n");
  // Ordinary separators stay readable; only a backslash that would read as an escape is one.
  EXPECT_EQ(escapeLogText("C:\\test\\x1\\xyz\\"), "C:\\test\\x1\\xyz\\");
  EXPECT_EQ(escapeLogText("C:\\x0d\\xFF"), "C:\\x5Cx0d\\x5CxFF");
  EXPECT_EQ(escapeLogText("Größe 1 Mb"), "Größe 1 Mb");
}

TEST(ScriptLogTest, TwoRunsAppendTwoBlocksAndALockedLogGetsNothing) {
  test_support::ScratchFolder dir;
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
                             "Invalid script. Parameters too low.\r\n" + ts + "#QX Scripts log ended\r\n" +
                             kStars + "\r\n\r\n";
  const std::string block2 = kStars + "\r\n" + ts + "#QX Scripts log started\r\n" + ts +
                             "Invalid script parameter '/x'.\r\n" + ts + "#QX Scripts log ended\r\n" +
                             kStars + "\r\n\r\n";
  EXPECT_EQ(test_support::readFile(path), block1 + block2);
}

TEST(ScriptLogTest, ABlockNeverStartsMidLineAndAlwaysGetsItsEndBanner) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 256 << 10);
  const std::string path = *vol / "scripts.log";
  {
    std::ofstream cut(path, std::ios::binary);
    cut << "[05.12.2004 10:02:03]: Destination drive /x: is fu";  // an earlier block, cut off
  }
  FixedClock clock;
  ScriptLog log(clock);
  ASSERT_TRUE(log.openLog(path));
  log.writeStartBanner();
  {
    std::ofstream filler(*vol / "filler", std::ios::binary);
    const std::string block(4096, 'x');
    while (filler.write(block.data(), block.size())) {
    }
  }
  const std::string longLine(3000, 'l');
  for (int i = 0; i < 10; ++i) log.writeLine(longLine);  // more than the reserved room takes
  log.writeEndBanner();

  const std::string text = test_support::readFile(path);
  const std::string ts = "[05.12.2004 10:02:03]: ";
  const std::string start =
      "is fu\r\n" + kStars + "\r\n" + ts + "#QX Scripts log started\r\n" + ts + longLine;
  EXPECT_EQ(text.substr(45, start.size()), start);
  const std::string end = ts + "#QX Scripts log ended\r\n" + kStars + "\r\n\r\n";
  ASSERT_GE(text.size(), end.size());
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
  // Only whole lines between the banners.
  std::size_t lines = 0;
  for (auto pos = text.find(ts + longLine + "\r\n"); pos != std::string::npos;
       pos = text.find(ts + longLine + "\r\n", pos + 1)) {
    ++lines;
  }
  EXPECT_GE(lines, 1u);
  EXPECT_LT(lines, 10u);
  EXPECT_EQ(text.size(), 50 + 2 + 130 + lines * (23 + 3000 + 2) + end.size());

  // The volume is still full: the room left after the block is enough for the next one's banners.
  ScriptLog next(clock);
  ASSERT_TRUE(next.openLog(path));
  next.writeStartBanner();
  next.writeEndBanner();
  EXPECT_EQ(test_support::readFile(path).substr(text.size()),
            kStars + "\r\n" + ts + "#QX Scripts log started\r\n" + end);
}

TEST(ScriptLogTest, LogLivesBesideTheProgramOrInTheStateFolder) {
  test_support::ScratchFolder dir;
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
