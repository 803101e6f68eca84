// Script runs of the built program against masks and roots that would lead it astray: nothing is
// created outside the root, no run spins for ever, and each failure ends with its own text and code.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "testing/program_runner.h"
#include "testing/script_program_fixture.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using test_support::runProgram;

class ScriptConfinementTest : public test_support::ScriptProgramTest {
 protected:
  ScriptConfinementTest() : ScriptProgramTest(16 << 20) {}
  void SetUp() override {
    ScriptProgramTest::SetUp();
    // A run that would never end fails its test instead of hanging the suite.
    options.timeoutSeconds = 20;
  }
  bool logHas(const std::string& line) const { return log().find(line + "\r\n") != std::string::npos; }
  // Every entry of the volume, relative to it, that is not under prefix.
  std::vector<std::string> entriesOutside(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::recursive_directory_iterator(vol->path())) {
      const std::string rel = std::filesystem::relative(e.path(), vol->path()).string();
      if (rel.rfind(prefix, 0) != 0) found.push_back(rel);
    }
    return found;
  }
};

TEST_F(ScriptConfinementTest, FileAndFolderMasksThatClimbStayInsideTheRoot) {
  ASSERT_EQ(::mkdir((*vol / "a").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((*vol / "a/b").c_str(), 0755), 0);
  const std::string root = "/root:'" + (*vol / "a/b/root") + "'";
  auto r = run({"/s", "/allsize:4k", root, "/minsize:1k", "/filemask:'../../esc???'"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test_support::fileSize(*vol / "a/b/root/escaaa"), 1024);
  r = run({"/s", "/allsize:2k", root, "/minsize:1k", "/filemask:'/../../../../f?'"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test_support::fileSize(*vol / "a/b/root/fa"), 1024);
  r = run({"/f", "/minfiles:1", "/recurse", "/rootsize:2", "/treedeep:3", "/dirlimit:50", "/dirmask:'../d?'",
           root, "/minsize:1k"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test_support::fileSize(*vol / "a/b/root/da/db/a"), 1024);
  EXPECT_EQ(entriesOutside("a/b/root"), (std::vector<std::string>{"a", "a/b"}));
}

TEST_F(ScriptConfinementTest, AMaskNeverWritesThroughALinkOutOfTheRoot) {
  ASSERT_EQ(::mkdir((*vol / "root").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((*vol / "outside").c_str(), 0755), 0);
  ASSERT_EQ(::symlink((*vol / "outside").c_str(), (*vol / "root/sub").c_str()), 0);
  const auto r =
      run({"/s", "/allsize:4k", "/root:'" + (*vol / "root") + "'", "/minsize:1k", "/filemask:'sub/????'"});
  EXPECT_EQ(r.exitCode, 8) << r.err;
  EXPECT_TRUE(logHas("Incorrect path - '" + *vol / "root/sub/aaaa" +
                     "'. Try to check root folder and file mask for errors."))
      << log();
  EXPECT_TRUE(std::filesystem::is_empty(*vol / "outside"));
}

TEST_F(ScriptConfinementTest, MasksOfReservedNamesOnlyEndAsNamesUsedUp) {
  for (const char* mask : {"con", "CON", "Aux."}) {
    const auto r = run({"/s", "/allsize:4k", "/root:'" + (*vol / "r") + "'", "/minsize:1k",
                        std::string("/filemask:'") + mask + "'"});
    EXPECT_EQ(r.exitCode, 3) << mask << " signal " << r.signal;
  }
  // A folder level of reserved names only ends that level; the files are still made.
  const auto r = run({"/f", "/minfiles:2", "/recurse", "/rootsize:2", "/treedeep:2", "/dirlimit:50",
                      "/dirmask:'prn'", "/root:'" + (*vol / "d") + "'", "/minsize:1k"});
  EXPECT_EQ(r.exitCode, 0) << "signal " << r.signal;
  EXPECT_EQ(test_support::fileSize(*vol / "d/b"), 1024);
  EXPECT_EQ(entriesOutside("r").size(), 3u);  // d, d/a, d/b
}

TEST_F(ScriptConfinementTest, ARootThatIsNoFolderIsAnIncorrectPath) {
  std::system(("echo x > '" + *vol / "file" + "'").c_str());
  ASSERT_EQ(::symlink((*vol / "nowhere").c_str(), (*vol / "dangling").c_str()), 0);
  for (const char* name : {"file", "dangling"}) {
    const auto r = run({"/s", "/allsize:4k", "/root:'" + (*vol / name) + "'", "/minsize:1k"});
    EXPECT_EQ(r.exitCode, 8) << name;
    EXPECT_TRUE(logHas("Incorrect path - '" + *vol / name + "'. Try to check root folder for errors."))
        << log();
  }
  const auto r = run({"/s", "/allsize:4k", "/root:'" + (*vol / "file/below") + "'", "/minsize:1k"});
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_TRUE(logHas("Incorrect path - '" + *vol / "file/below" + "'. Try to check root folder for errors."));
  EXPECT_EQ(log().find("is full"), std::string::npos);
  EXPECT_EQ(test_support::readFile(*vol / "file"), "x\n");
  EXPECT_FALSE(std::filesystem::exists(*vol / "nowhere"));
}

TEST(ScriptFullInodeTableTest, NoRoomForAnotherFileIsAFullVolumeAndALostLevelIsSaidOnce) {
  std::string reason;
  // The root folder takes one inode; four more folders (a to d) fit, and then nothing.
  auto vol = test_support::MountedVolume::tmpfs(8 << 20, reason, 5);
  if (!vol) GTEST_SKIP() << reason;
  test_support::ScratchFolder bin;
  auto options = test_support::privateCopyOfProgram(bin.path());
  ASSERT_FALSE(options.program.empty());
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  options.timeoutSeconds = 20;
  const auto r = runProgram({"/f", "/minfiles:3", "/recurse", "/rootsize:9", "/treedeep:1", "/dirlimit:50",
                             "/root:'" + vol->path() + "'", "/minsize:1k"},
                            options);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  const std::string log = test_support::readFile(bin / "scripts.log");
  EXPECT_NE(log.find("Destination drive " + vol->path() + ": is full. Last processed file: e\r\n"),
            std::string::npos)
      << log;
  // The tree level that could not be completed is not logged, but the console says so once.
  EXPECT_EQ(log.find("folder"), std::string::npos) << log;
  std::size_t notes = 0;
  for (auto at = r.err.find("cannot be created"); at != std::string::npos;
       at = r.err.find("cannot be created", at + 1)) {
    ++notes;
  }
  EXPECT_EQ(notes, 1u) << r.err;
}

}  // namespace
}  // namespace quillet
