// Script runs of the built program on Windows: a log held by another run keeps a second run from
// doing anything, a root on a missing drive ends with 8, a relative root is completed from the
// working folder, the log's lines end in CR LF, and a seeded run repeats with either flush.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <filesystem>
#include <map>

#include "engine/block_identity.h"
#include "platform/system.h"
#include "testing/program_runner.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

class Win32ScriptRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program = bin / "quillet.exe";
    ASSERT_TRUE(::CopyFileA(test_support::builtProgram().c_str(), program.c_str(), TRUE))
        << test_support::builtProgram() << ": error " << ::GetLastError();
    options.program = program;
  }
  test_support::ProgramResult run(const std::vector<std::string>& args) {
    return test_support::runProgram(args, options);
  }
  std::string log() const { return test_support::readFile(bin / "scripts.log"); }

  test_support::ScratchFolder bin;
  test_support::ScratchFolder data;
  std::string program;
  test_support::ProgramOptions options;
};

TEST_F(Win32ScriptRunTest, ARunWhileAnotherHoldsTheLogDoesNothing) {
  const std::string root = "/root:'" + (data / "locked") + "'";
  {
    auto held = openExclusiveAppend(bin / "scripts.log");
    ASSERT_TRUE(held.ok());
    const auto r = run({"/s", "/allsize:10k", root, "/minsize:1k"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    held.value()->close();
  }
  EXPECT_EQ(log(), "");
  EXPECT_EQ(test_support::fileSize(data / "locked"), -1) << "nothing generated";

  const auto r = run({"/s", "/allsize:10k", root, "/minsize:1k"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test_support::fileSize(data / "locked\\a"), 1024);
  const std::string text = log();
  EXPECT_EQ(text.rfind(std::string(80, '*') + "\r\n[", 0), 0u) << text;
  EXPECT_NE(text.find("]: #QX Scripts log started\r\n"), std::string::npos);
  const std::string end = "]: #QX Scripts log ended\r\n" + std::string(80, '*') + "\r\n\r\n";
  ASSERT_GT(text.size(), end.size());
  EXPECT_EQ(text.substr(text.size() - end.size()), end);
  EXPECT_EQ(text.find("\n\n"), std::string::npos) << "every line feed follows a carriage return";
}

TEST_F(Win32ScriptRunTest, ARootOnAMissingDriveEndsWith8AndNamesItsFirstFolder) {
  const DWORD drives = ::GetLogicalDrives();
  char letter = 'X';
  while (letter > 'D' && (drives & (1u << (letter - 'A'))) != 0) --letter;
  if (letter == 'D') GTEST_SKIP() << "every drive letter is in use";
  const std::string drive(1, letter);
  const auto r = run({"/s", "/allsize:1m", "/root:'" + drive + ":\\new\\deeper'", "/minsize:1k"});
  EXPECT_EQ(r.exitCode, 8) << r.err;
  EXPECT_NE(log().find("]: Incorrect path - '" + drive + ":\\new'. Try to check root folder for errors.\r\n"),
            std::string::npos)
      << log();
}

TEST_F(Win32ScriptRunTest, AProbeRefusesWithItsReasonAndEndsWith8) {
  const std::string folder = data / "folder";
  ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
  auto r = run({"/probe", "/device:'" + folder + "'"});
  EXPECT_EQ(r.exitCode, 8) << r.err;
  EXPECT_NE(log().find("Probe refused: '" + folder + "' is not a block device"), std::string::npos) << log();
  r = run({"/probe", "/device:'\\\\.\\PhysicalDrive0'"});
  EXPECT_EQ(r.exitCode, 8) << r.err;
  EXPECT_NE(
      log().find("Probe refused: '\\\\.\\PhysicalDrive0' can not be opened: raw drives are not supported"),
      std::string::npos)
      << log();
}

TEST_F(Win32ScriptRunTest, ARelativeRootIsTakenFromTheWorkingFolderAndLoggedInFull) {
  options.workingFolder = data.path();
  const auto r = run({"/s", "/allsize:2k", "/root:'rel\\sub'", "/minsize:1k"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test_support::fileSize(data / "rel\\sub\\a"), 1024);
  EXPECT_EQ(test_support::fileSize(data / "rel\\sub\\b"), 1024);
  {
    const HANDLE file = ::CreateFileA((data / "afile").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
  }
  EXPECT_EQ(run({"/f", "/root:'afile\\sub\\deeper'", "/minfiles:1", "/minsize:1k"}).exitCode, 8);
  EXPECT_NE(log().find("]: Incorrect path - '" + (data / "afile\\sub") +
                       "'. Try to check root folder for errors.\r\n"),
            std::string::npos)
      << log();
}

TEST_F(Win32ScriptRunTest, ASeededRunRepeatsWithFlushesAndIdentifiesFilesBySlashedPaths) {
  std::map<std::string, std::string> trees[2];
  const char* syncs[] = {"/sync:file", "/sync:end"};
  for (int i = 0; i < 2; ++i) {
    const std::string root = data / ("s" + std::to_string(i));
    const auto r =
        run({"/f", "/minfiles:2", "/maxfiles:4", "/minsize:1b", "/maxsize:3k", "/recurse", "/rootsize:2",
             "/treedeep:1", "/dirlimit:10", "/root:'" + root + "'", "/seed:77", syncs[i]});
    // The volume flush needs administrator rights: refused, the run says so and still succeeds.
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (entry.is_directory()) continue;
      const std::string relative = std::filesystem::relative(entry.path(), root).generic_string();
      trees[i][relative] = test_support::readFile(entry.path().string());
    }
  }
  EXPECT_EQ(trees[0], trees[1]);
  bool deeper = false;
  for (const auto& [relative, bytes] : trees[0]) {
    deeper = deeper || relative.find('/') != std::string::npos;
    const auto* at = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t n = std::min(bytes.size(), kIdentityBlock);
    EXPECT_TRUE(blockMatches({77, fileIdentity(relative), bytes.size(), 0}, at, n)) << relative;
  }
  EXPECT_TRUE(deeper) << "files in sub-folders were made";
}

TEST_F(Win32ScriptRunTest, HelpGoesToStandardOutputAndNoArgumentsExplainTheMissingWindow) {
  const auto help = run({"/?"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("/s /allsize:"), std::string::npos) << help.out;
  const auto none = run({});
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("interactive"), std::string::npos) << none.err;
  EXPECT_EQ(log(), "") << "neither touches the log";
}

}  // namespace
}  // namespace quillet
