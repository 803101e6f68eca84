// The windowed program under a real X server: a script shows its progress dialog and closes it by
// itself, "/?" opens the help window, and started without arguments the splash and the main dialog.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "testing/program_runner.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

// An Xvfb server on a display of its own for the length of a test.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
    for (int number = 91; number < 99 && pid_ <= 0; ++number) {
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
      if (::access(socket.c_str(), F_OK) == 0) continue;
      pid_ = ::fork();
      if (pid_ == 0) {
        const std::string display = ":" + std::to_string(number);
        ::execl("/usr/bin/Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                static_cast<char*>(nullptr));
        ::_exit(127);
      }
      for (int i = 0; i < 100 && ::access(socket.c_str(), F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      if (::access(socket.c_str(), F_OK) == 0) name_ = ":" + std::to_string(number);
    }
  }
  ~VirtualDisplay() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// Both programs copied into bin (so the run's scripts.log is the test's own), set to show their
// windows on display.
testing::ProgramOptions windowedProgram(const testing::ScratchFolder& bin, const VirtualDisplay& display) {
  testing::ProgramOptions options = testing::privateCopyOfProgram(bin.path(), true);
  EXPECT_FALSE(options.program.empty());
  options.environment = {"DISPLAY=" + display.name(), "XDG_RUNTIME_DIR=" + bin.path()};
  options.unsetEnvironment = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};
  return options;
}

TEST(WindowedScriptTest, ProgressDialogShowsAndClosesItselfUnderARealXServer) {
  VirtualDisplay display;
  if (display.name().empty()) GTEST_SKIP() << "Xvfb is not installed or would not start";
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 64 << 20);
  testing::ScratchFolder bin;
  testing::ProgramOptions options = windowedProgram(bin, display);

  const auto byAllSize = testing::runProgram({"/s", "/allsize:20m", "/root:'" + (*vol / "s") + "'", "/minsize:1m"}, options);
  EXPECT_EQ(byAllSize.exitCode, 0) << byAllSize.err;
  EXPECT_EQ(testing::fileSize(*vol / "s/t"), 1 << 20);
  // The console display stays silent when the dialog is shown.
  EXPECT_EQ(byAllSize.err.find("Finished:"), std::string::npos) << byAllSize.err;

  const auto byNumber = testing::runProgram(
      {"/f", "/minfiles:3", "/recurse", "/rootsize:2", "/dirlimit:10", "/root:'" + (*vol / "f") + "'", "/minsize:1k"}, options);
  EXPECT_EQ(byNumber.exitCode, 0) << byNumber.err;
  EXPECT_EQ(testing::fileSize(*vol / "f/b/c"), 1024);
  EXPECT_NE(testing::readFile(bin / "scripts.log").find("#QX Scripts log ended"), std::string::npos);
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

// Runs a script that stays open in its close state, photographs the real screen, then stops it.
TEST(WindowedScriptTest, ScreenshotOfTheProgressDialogOnARealXServer) {
  VirtualDisplay display;
  if (display.name().empty()) GTEST_SKIP() << "Xvfb is not installed or would not start";
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 64 << 20);
  testing::ScratchFolder bin;
  testing::ProgramOptions options = windowedProgram(bin, display);
  const std::string shot = std::string(QUILLET_SCREENSHOT_DIR) + "/xvfb-size-progress-dialog.png";
  std::system(("mkdir -p '" + std::string(QUILLET_SCREENSHOT_DIR) + "'").c_str());
  ::unlink(shot.c_str());
  int grabbed = -1;
  options.whileRunning = [&](int pid) {
    // The run ends almost at once; /noclose keeps the dialog open in its close state.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const std::string command = "DISPLAY=" + display.name() + " '" + QUILLET_X_SCREENSHOT + "' '" + shot + "'";
    grabbed = std::system(command.c_str());
    ::kill(pid, SIGTERM);
  };
  testing::runProgram({"/s", "/allsize:4m", "/root:'" + (*vol / "s") + "'", "/minsize:1m", "/noclose"}, options);
  EXPECT_EQ(grabbed, 0);
  EXPECT_GT(testing::fileSize(shot), 1000);
  EXPECT_EQ(testing::fileSize(*vol / "s/d"), 1 << 20);
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

// Starts the program without arguments on a real X server with a fresh configuration, photographs
// the splash and then the main dialog, and ends it.
TEST(WindowedProgramTest, StartedWithoutArgumentsShowsTheSplashThenTheMainDialog) {
  VirtualDisplay display;
  if (display.name().empty()) GTEST_SKIP() << "Xvfb is not installed or would not start";
  testing::ScratchFolder bin;
  testing::ProgramOptions options = windowedProgram(bin, display);
  options.environment.push_back("XDG_CONFIG_HOME=" + (bin / "config"));
  options.environment.push_back("HOME=" + bin.path());
  const std::string dir = QUILLET_SCREENSHOT_DIR;
  std::system(("mkdir -p '" + dir + "'").c_str());
  const std::string splash = dir + "/xvfb-splash.png";
  const std::string mainDialog = dir + "/xvfb-main-dialog.png";
  ::unlink(splash.c_str());
  ::unlink(mainDialog.c_str());
  auto grab = [&](const std::string& file) {
    return std::system(("DISPLAY=" + display.name() + " '" + QUILLET_X_SCREENSHOT + "' '" + file + "'").c_str());
  };
  int splashGrabbed = -1, dialogGrabbed = -1;
  options.whileRunning = [&](int pid) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    splashGrabbed = grab(splash);
    std::this_thread::sleep_for(std::chrono::milliseconds(5500));
    dialogGrabbed = grab(mainDialog);
    ::kill(pid, SIGTERM);
  };
  testing::runProgram({}, options);
  EXPECT_EQ(splashGrabbed, 0);
  EXPECT_EQ(dialogGrabbed, 0);
  EXPECT_GT(testing::fileSize(splash), 1000);
  EXPECT_GT(testing::fileSize(mainDialog), 1000);
  // The start-up recorded the product in the per-user store.
  EXPECT_NE(testing::readFile(bin / "config/talvane-quillet/registry.json").find("3.01.029"), std::string::npos);
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

// A stop signal during a windowed script run acts as the dialog's Stop button, whether it comes
// while files are made or while the run is still passing to the windowed program.
TEST(WindowedScriptTest, AStopSignalEndsTheRunAsStopped) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 1LL << 30);
  testing::ScratchFolder bin;
  testing::ProgramOptions options = testing::privateCopyOfProgram(bin.path(), true);
  ASSERT_FALSE(options.program.empty());
  options.environment = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + bin.path()};
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY"};
  const std::string logPath = bin / "scripts.log";
  const auto ended = [&](std::size_t blocks) {
    const std::string log = testing::readFile(logPath);
    std::size_t count = 0;
    for (auto pos = log.find("#QX Scripts log ended\r\n"); pos != std::string::npos;
         pos = log.find("#QX Scripts log ended\r\n", pos + 1)) {
      ++count;
    }
    const std::string tail = "#QX Scripts log ended\r\n" + std::string(80, '*') + "\r\n\r\n";
    return count == blocks && log.size() >= tail.size() && log.substr(log.size() - tail.size()) == tail;
  };

  int serial = 0;
  for (const int signal : {SIGTERM, SIGINT}) {
    const std::string root = *vol / ("files" + std::to_string(++serial));
    options.whileRunning = [&](int pid) {
      for (int i = 0; i < 1000 && testing::fileSize(root + "/a") < 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      ::kill(pid, signal);
    };
    const auto r = testing::runProgram({"/s", "/allsize:1000m", "/root:'" + root + "'", "/minsize:4k"}, options);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_EQ(r.err.find("Finished:"), std::string::npos) << "the dialog, not the console, showed the run";
    EXPECT_GE(testing::fileSize(root + "/a"), 0);
    EXPECT_TRUE(ended(static_cast<std::size_t>(serial))) << testing::readFile(logPath);
  }

  // Early: at once (while the console program starts or hands the run over; a signal before its
  // first instruction still ends it, before anything is logged) and as soon as the block is begun,
  // long before the dialog exists.
  for (int i = 0; i < 6; ++i) {
    const bool atOnce = i % 2 == 0;
    const std::string root = *vol / ("early" + std::to_string(i));
    const std::int64_t before = testing::fileSize(logPath);
    options.whileRunning = [&](int pid) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!atOnce && testing::fileSize(logPath) <= before && std::chrono::steady_clock::now() < deadline) {
      }
      ::kill(pid, SIGTERM);
    };
    const auto r = testing::runProgram({"/s", "/allsize:1000m", "/root:'" + root + "'", "/minsize:4k"}, options);
    if (atOnce && r.signal == SIGTERM) {
      EXPECT_EQ(testing::fileSize(logPath), before);
      continue;
    }
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(ended(static_cast<std::size_t>(++serial))) << testing::readFile(logPath);
  }
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

TEST(WindowedScriptTest, ScriptUnderTheDialogWritesItsReport) {
  VirtualDisplay display;
  if (display.name().empty()) GTEST_SKIP() << "Xvfb is not installed or would not start";
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 64 << 20);
  testing::ScratchFolder bin;
  testing::ProgramOptions options = windowedProgram(bin, display);
  const std::string report = bin / "report.json";
  const auto r = testing::runProgram(
      {"/s", "/allsize:5m", "/root:'" + (*vol / "s") + "'", "/minsize:1m", "/report:'" + report + "'", "/progress:json"},
      options);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string text = testing::readFile(report);
  EXPECT_NE(text.find("\"schema\": \"quillet-report/1\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"files_created\": 5,"), std::string::npos) << text;
  EXPECT_NE(text.find("\"mount_point\": \"" + vol->path() + "/\""), std::string::npos) << text;
  // The dialog shows the progress; standard error stays empty.
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace quillet
