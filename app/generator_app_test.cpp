// The start-up dispatch, through the built program as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "testing/program_runner.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using testing::ProgramOptions;
using testing::runProgram;

// A copy of the program in a private folder, so that its scripts.log is ours alone.
class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options = testing::privateCopyOfProgram(dir.path());
    ASSERT_FALSE(options.program.empty());
  }
  std::string log() const { return testing::readFile(dir / "scripts.log"); }

  testing::ScratchFolder dir;
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
    testing::removeTree(dir / "scripts.log");
    const auto result = runProgram({arg, "more"}, options);
    EXPECT_EQ(result.exitCode, 0) << arg;
    const std::string quoted = std::regex_replace(arg, std::regex(R"([/\\^$.|?*+()\[\]{}])"), R"(\$&)");
    EXPECT_TRUE(std::regex_match(log(), std::regex(oneBlock("Invalid script parameter '" + quoted + "'\\."))))
        << arg << "\n" << log();
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

}  // namespace
}  // namespace quillet
