// A test that runs the built program on a tmpfs of its own: a private copy of the program (so its
// scripts.log is the test's own) with no display in its environment, so the console program runs.
// Skips with the stated reason where no volume can be mounted. Not thread-safe; one per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "testing/program_runner.h"
#include "testing/volume_fixture.h"

namespace quillet::test_support {

class ScriptProgramTest : public ::testing::Test {
 protected:
  explicit ScriptProgramTest(std::int64_t volumeBytes = 64 << 20) : volumeBytes_(volumeBytes) {}

  void SetUp() override {
    std::string reason;
    vol = MountedVolume::tmpfs(volumeBytes_, reason);
    if (!vol) GTEST_SKIP() << reason;
    options = privateCopyOfProgram(bin.path());
    ASSERT_FALSE(options.program.empty());
    options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  }

  ProgramResult run(std::vector<std::string> args) { return runProgram(args, options); }
  std::string log() const { return readFile(bin / "scripts.log"); }

  std::unique_ptr<MountedVolume> vol;
  ScratchFolder bin;
  ProgramOptions options;

 private:
  std::int64_t volumeBytes_;
};

}  // namespace quillet::test_support
