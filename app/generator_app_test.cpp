// The start-up dispatch, through the built program as a user runs it, and in process with a
// windowed front-end that records what reaches it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <vector>

#include "app/program_main.h"
#include "testing/program_runner.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using test_support::ProgramOptions;
using test_support::runProgram;

// A copy of the program in a private folder, so that its scripts.log is ours alone.
class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options = test_support::privateCopyOfProgram(dir.path());
    ASSERT_FALSE(options.program.empty());
  }
  std::string log() const { return test_support::readFile(dir / "scripts.log"); }

  test_support::ScratchFolder dir;
  ProgramOptions options;
};

std::string oneBlock(const std::string& line) {
  const std::string ts = R"(\[\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\]: )";
  const std::string stars = R"(\*{80})";
  return stars + "\r\n" + ts + "#QX Scripts log started\r\n" + ts + line + "\r\n" + ts +
         "#QX Scripts log ended\r\n" + stars + "\r\n\r\n";
}

TEST_F(DispatchTest, UnrecognisedFirstArgumentLeavesOneBlockWithItAsTyped) {
  for (const std::string arg : {"/x", "-s", "/s:x", "/Foo:Bar"}) {
    test_support::removeTree(dir / "scripts.log");
    const auto result = runProgram({arg, "more"}, options);
    EXPECT_EQ(result.exitCode, 0) << arg;
    const std::string quoted = std::regex_replace(arg, std::regex(R"([/\\^$.|?*+()\[\]{}])"), R"(\$&)");
    EXPECT_TRUE(std::regex_match(log(), std::regex(oneBlock("Invalid script parameter '" + quoted + "'\\."))))
        << arg << "\n"
        << log();
  }
}

TEST_F(DispatchTest, HelpSwitchWithAnotherArgumentLogsTheSecondArgument) {
  const auto result = runProgram({"/?", "extra:1"}, options);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(std::regex_match(log(), std::regex(oneBlock("Invalid script parameter 'extra:1'\\."))));
  EXPECT_TRUE(result.out.empty());
}

TEST_F(DispatchTest, HelpSwitchAloneWithoutADisplayPrintsTheHelpText) {
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const auto result = runProgram({"/?"}, options);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out.rfind("Possible QX script parameters:\r\n", 0), 0u);
  EXPECT_NE(result.out.find("Comment: <Mod> = <b, k, m, g>"), std::string::npos);
  EXPECT_TRUE(log().empty());
}

TEST_F(DispatchTest, TwoInvalidRunsAppendTwoBlocks) {
  runProgram({"/a"}, options);
  runProgram({"/b"}, options);
  EXPECT_TRUE(std::regex_match(log(), std::regex(oneBlock("Invalid script parameter '/a'\\.") +
                                                 oneBlock("Invalid script parameter '/b'\\."))));
}

TEST_F(DispatchTest, VersionSwitchPrintsTheVersionAndCommitAndLogsNothing) {
  for (const std::string arg : {"--version", "/version", "/VERSION"}) {
    const auto result = runProgram({arg}, options);
    EXPECT_EQ(result.exitCode, 0) << arg;
    EXPECT_TRUE(std::regex_match(
        result.out,
        std::regex(
            R"(Talvane Quillet \d+\.\d+\.\d+ \(commit ([0-9a-f]{12}(\+changes)?|unknown); linux, .+\)\n)")))
        << arg << ": " << result.out;
    EXPECT_TRUE(result.err.empty()) << result.err;
  }
  EXPECT_TRUE(log().empty());
  // Like /?, a second argument is an invalid parameter, not ignored.
  const auto extra = runProgram({"--version", "x"}, options);
  EXPECT_TRUE(extra.out.empty());
  EXPECT_TRUE(std::regex_match(log(), std::regex(oneBlock("Invalid script parameter 'x'\\."))));
}

// A console-only build or package has no windowed program beside the console one: with a display
// named, a script still runs, on the console, and the user is told once why no window came.
TEST_F(DispatchTest, WithoutTheWindowedProgramAScriptRunsOnTheConsoleAndSaysWhy) {
  const std::string root = dir / "fill";
  options.environment = {"DISPLAY=:97"};
  options.unsetEnvironment = {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const auto result = runProgram({"/s", "/allsize:64k", "/root:'" + root + "'", "/minsize:16k"}, options);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(test_support::filesBelow(root).size(), 4u);
  const std::string notice = "quillet: the windowed program can not be started (";
  ASSERT_NE(result.err.find(notice), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find(notice, result.err.find(notice) + 1), std::string::npos) << "said once";
  EXPECT_NE(result.err.find("quillet-windows: No such file or directory"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("Finished"), std::string::npos) << "the console summary: " << result.err;

  const auto interactive = runProgram({}, options);
  EXPECT_NE(interactive.err.find("the interactive mode needs the windowed program"), std::string::npos)
      << interactive.err;
}

// Records the modes that reach it and ends each with the same status.
class RecordingWindows final : public WindowedFrontend {
 public:
  bool windowsCanBeShown() override { return canShow; }
  int runScript(const std::string& mode, const std::vector<std::string>& args) override {
    calls.push_back(mode + " " + args.back());
    return status;
  }
  int showScriptsHelp(const std::vector<std::string>&) override {
    calls.emplace_back("help");
    return status;
  }
  int runInteractive(const std::vector<std::string>&) override {
    calls.emplace_back("interactive");
    return status;
  }

  bool canShow = true;
  int status = 0;
  std::vector<std::string> calls;
};

// With windows to show, every mode runs on the windowed front-end, once, and the program ends with
// the status it returned.
TEST(WindowedDispatchTest, EachModeRunsOnTheWindowsAndEndsWithTheirStatus) {
  struct Row {
    std::vector<std::string> args;
    std::string call;
  };
  const std::vector<Row> rows = {
      {{"quillet"}, "interactive"},
      {{"quillet", "/?"}, "help"},
      {{"quillet", "/f", "/minfiles:1", "/root:'/x'"}, "/F /root:'/x'"},
      {{"quillet", "/V", "/root:'/x'"}, "/V /root:'/x'"},
  };
  for (const Row& row : rows) {
    for (const int status : {0, 1, 4}) {
      RecordingWindows windows;
      windows.status = status;
      EXPECT_EQ(runProgram(row.args, ProgramWindows{&windows, nullptr}), status) << row.call;
      EXPECT_EQ(windows.calls, std::vector<std::string>{row.call});
    }
  }
}

// Without a display the windowed front-end is asked and passed by: the help text goes to standard
// output and the interactive mode says what it needs.
TEST(WindowedDispatchTest, WithoutADisplayTheModesStayOnTheConsole) {
  RecordingWindows windows;
  windows.canShow = false;
  windows.status = 7;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(runProgram({"quillet", "/?"}, ProgramWindows{&windows, nullptr}), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout().rfind("Possible QX script parameters:\r\n", 0), 0u);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(runProgram({"quillet"}, ProgramWindows{&windows, nullptr}), 0);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find("the interactive mode needs a display"),
            std::string::npos);
  EXPECT_TRUE(windows.calls.empty());
}

}  // namespace
}  // namespace quillet
