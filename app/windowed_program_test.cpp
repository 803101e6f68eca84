// The windowed program under a real X server: a script shows its progress dialog and closes it by
// itself, started without arguments the splash and the main dialog show, and a display that
// answers the program's probe but not Qt sends the run to the console instead of aborting it.
// Pictures are taken from the X server itself and checked for pixels the windows must show.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>
#include <vector>

#include "quillet_version.h"
#include "testing/program_runner.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using Clock = std::chrono::steady_clock;

std::string socketOf(int number) { return "/tmp/.X11-unix/X" + std::to_string(number); }

// An Xvfb server on a display of its own for the length of a test. The server picks a free display
// number itself and reports it, so tests running side by side never share one.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    if (::access("/usr/bin/Xvfb", X_OK) != 0) return;
    int report[2];
    if (::pipe(report) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(report[0]);
      const std::string fd = std::to_string(report[1]);
      // -noreset: the pictures' own connections come and go; the server must not reset and refuse
      // the program's probe meanwhile (that case has a test of its own, on a RelayDisplay).
      ::execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-screen", "0", "1024x768x24",
              "-nolisten", "tcp", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(report[1]);
    // The number arrives as one line once the server listens.
    std::string line;
    pollfd wait{report[0], POLLIN, 0};
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && Clock::now() < deadline) {
      if (::poll(&wait, 1, 100) <= 0) continue;
      char c[16];
      const ssize_t got = ::read(report[0], c, sizeof c);
      if (got <= 0) break;
      line.append(c, static_cast<std::size_t>(got));
    }
    ::close(report[0]);
    if (line.find('\n') != std::string::npos) {
      number_ = std::stoi(line);
      name_ = ":" + std::to_string(number_);
    }
  }
  ~VirtualDisplay() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& name() const { return name_; }
  int number() const { return number_; }

 private:
  pid_t pid_ = -1;
  int number_ = -1;
  std::string name_;
};

// A display in front of a real X server, passing connections through to it, that behaves badly
// on purpose. FirstOnly: every connection after the first is hung up on (the probe gets its answer,
// Qt does not). Resetting: like a server that resets when its last client leaves, connections are
// hung up on for a few seconds after that.
class RelayDisplay {
 public:
  enum class Policy { FirstOnly, Resetting };

  RelayDisplay(const VirtualDisplay& real, Policy policy)
      : target_(socketOf(real.number())), policy_(policy) {
    for (int number = 81; number < 90 && name_.empty(); ++number) {
      if (::access(socketOf(number).c_str(), F_OK) == 0) continue;
      listener_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketOf(number).c_str());
      if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
          ::listen(listener_, 8) == 0) {
        path_ = socketOf(number);
        name_ = ":" + std::to_string(number);
      } else {
        ::close(listener_);
        listener_ = -1;
      }
    }
    if (!name_.empty()) server_ = std::thread([this] { serve(); });
  }
  ~RelayDisplay() {
    stopping_ = true;
    if (server_.joinable()) server_.join();
    if (listener_ >= 0) ::close(listener_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  const std::string& name() const { return name_; }
  int accepted() const { return accepted_; }
  int refused() const { return refused_; }

 private:
  struct Pair {
    int client;
    int upstream;
  };

  void serve() {
    std::vector<Pair> pairs;
    Clock::time_point refusingUntil{};
    while (!stopping_) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (const Pair& pair : pairs) {
        fds.push_back({pair.client, POLLIN, 0});
        fds.push_back({pair.upstream, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        const int client = ::accept(listener_, nullptr, nullptr);
        const bool refuse = policy_ == Policy::FirstOnly ? accepted_ > 0 : Clock::now() < refusingUntil;
        if (client >= 0 && refuse) {
          ++refused_;
          ::close(client);
        } else if (client >= 0) {
          ++accepted_;
          pairs.push_back({client, connectTo(target_)});
        }
      }
      std::vector<Pair> open;
      for (std::size_t k = 0; k < pairs.size(); ++k) {
        bool closed = false;
        for (int side = 0; side < 2 && !closed && 1 + 2 * k + side < fds.size(); ++side) {
          if ((fds[1 + 2 * k + side].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
          char buffer[65536];
          const int from = side == 0 ? pairs[k].client : pairs[k].upstream;
          const int to = side == 0 ? pairs[k].upstream : pairs[k].client;
          const ssize_t got = ::read(from, buffer, sizeof buffer);
          closed = got <= 0 || ::write(to, buffer, static_cast<std::size_t>(got)) != got;
        }
        if (closed) {
          ::close(pairs[k].client);
          ::close(pairs[k].upstream);
        } else {
          open.push_back(pairs[k]);
        }
      }
      if (!pairs.empty() && open.empty()) refusingUntil = Clock::now() + std::chrono::seconds(3);
      pairs = open;
    }
    for (const Pair& pair : pairs) {
      ::close(pair.client);
      ::close(pair.upstream);
    }
  }
  static int connectTo(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  std::string target_;
  Policy policy_;
  std::string path_;
  std::string name_;
  int listener_ = -1;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> refused_{0};
  std::thread server_;
};

// Both programs copied into bin (so the run's scripts.log is the test's own), set to show their
// windows on display.
test_support::ProgramOptions windowedProgram(const test_support::ScratchFolder& bin,
                                             const std::string& display) {
  test_support::ProgramOptions options = test_support::privateCopyOfProgram(bin.path(), true);
  EXPECT_FALSE(options.program.empty());
  options.environment = {"DISPLAY=" + display, "XDG_RUNTIME_DIR=" + bin.path()};
  options.unsetEnvironment = {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY"};
  return options;
}

// Kills the program when it has not ended within limit, so a hung window fails the test instead of
// holding it.
std::function<void(int)> endAfter(std::chrono::seconds limit) {
  return [limit](int pid) {
    const auto deadline = Clock::now() + limit;
    siginfo_t info{};
    while (Clock::now() < deadline) {
      info.si_pid = 0;
      if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
          info.si_pid != 0)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(pid, SIGKILL);
  };
}

std::string screenshotPath(const std::string& name) {
  const std::string dir = QUILLET_SCREENSHOT_DIR;
  std::system(("mkdir -p '" + dir + "'").c_str());
  return dir + "/" + name + ".png";
}

// Photographs the window of that title (the whole screen when title is empty) into file until
// good accepts the picture or 20 seconds have passed; returns the last picture (null: none taken).
QImage photographUntil(const VirtualDisplay& display, const std::string& file, const std::string& title,
                       const std::function<bool(const QImage&)>& good) {
  QImage last;
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    std::string command = "DISPLAY=" + display.name() + " '" + QUILLET_X_SCREENSHOT + "' '" + file + "'";
    if (!title.empty()) command += " '" + title + "'";
    if (std::system(command.c_str()) == 0 && last.load(QString::fromStdString(file)) && good(last))
      return last;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return last;
}

int pixelsOf(const QImage& image, const QColor& color, const QRect& area = {}) {
  const QRect box = area.isNull() ? image.rect() : area.intersected(image.rect());
  int count = 0;
  for (int y = box.top(); y <= box.bottom(); ++y) {
    for (int x = box.left(); x <= box.right(); ++x) count += image.pixelColor(x, y) == color ? 1 : 0;
  }
  return count;
}

int coloursIn(const QImage& image, const QRect& area) {
  std::set<QRgb> seen;
  const QRect box = area.intersected(image.rect());
  for (int y = box.top(); y <= box.bottom(); ++y) {
    for (int x = box.left(); x <= box.right(); ++x) seen.insert(image.pixel(x, y));
  }
  return static_cast<int>(seen.size());
}

TEST(WindowedScriptTest, ProgressDialogShowsAndClosesItselfUnderARealXServer) {
  VirtualDisplay display;
  if (display.name().empty()) GTEST_SKIP() << "Xvfb is not installed or would not start";
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 64 << 20);
  test_support::ScratchFolder bin;
  test_support::ProgramOptions options = windowedProgram(bin, display.name());

  const auto byAllSize = test_support::runProgram(
      {"/s", "/allsize:20m", "/root:'" + (*vol / "s") + "'", "/minsize:1m"}, options);
  EXPECT_EQ(byAllSize.exitCode, 0) << byAllSize.err;
  EXPECT_EQ(test_support::fileSize(*vol / "s/t"), 1 << 20);
  // The console display stays silent when the dialog is shown.
  EXPECT_EQ(byAllSize.err.find("Finished:"), std::string::npos) << byAllSize.err;

  const auto byNumber =
      test_support::runProgram({"/f", "/minfiles:3", "/recurse", "/rootsize:2", "/dirlimit:10",
                                "/root:'" + (*vol / "f") + "'", "/minsize:1k"},
                               options);
  EXPECT_EQ(byNumber.exitCode, 0) << byNumber.err;
  EXPECT_EQ(test_support::fileSize(*vol / "f/b/c"), 1024);
  EXPECT_NE(test_support::readFile(bin / "scripts.log").find("#QX Scripts log ended"), std::string::npos);
}

// A run that stays open in its close state (/noclose): the "Generating" window shows the size bar
// full in its fill colour (blue lightened three times: 153,153,255) and the used-data bar's red
// fill (255,153,153) for the 4 Mb written.
TEST(WindowedScriptTest, ProgressDialogOnARealXServerShowsItsBars) {
  VirtualDisplay display;
  if (display.name().empty()) GTEST_SKIP() << "Xvfb is not installed or would not start";
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 64 << 20);
  test_support::ScratchFolder bin;
  test_support::ProgramOptions options = windowedProgram(bin, display.name());
  const std::string shot = screenshotPath("xvfb-size-progress-dialog");
  ::unlink(shot.c_str());
  QImage picture;
  const QColor sizeFill(153, 153, 255), usedFill(255, 153, 153);
  options.whileRunning = [&](int pid) {
    picture = photographUntil(display, shot, "Generating", [&](const QImage& image) {
      return pixelsOf(image, sizeFill) > 500 && pixelsOf(image, usedFill) > 0;
    });
    ::kill(pid, SIGTERM);
  };
  test_support::runProgram({"/s", "/allsize:4m", "/root:'" + (*vol / "s") + "'", "/minsize:1m", "/noclose"},
                           options);
  ASSERT_FALSE(picture.isNull()) << "no window titled Generating";
  EXPECT_GT(pixelsOf(picture, sizeFill), 500);
  EXPECT_GT(pixelsOf(picture, usedFill), 0);
  // The used-data bar shows the 4 Mb of the 64 Mb volume, far less than the full size bar.
  EXPECT_LT(pixelsOf(picture, usedFill), pixelsOf(picture, sizeFill) / 4);
  EXPECT_EQ(test_support::fileSize(*vol / "s/d"), 1 << 20);
}

// Started without arguments on a real X server with a fresh configuration: the splash is drawn in
// the middle of the screen, then the main dialog shows, lit in the window colour with dark
// captions, and the product is recorded in the per-user store.
TEST(WindowedProgramTest, StartedWithoutArgumentsShowsTheSplashThenTheMainDialog) {
  VirtualDisplay display;
  if (display.name().empty()) GTEST_SKIP() << "Xvfb is not installed or would not start";
  test_support::ScratchFolder bin;
  test_support::ProgramOptions options = windowedProgram(bin, display.name());
  options.environment.push_back("XDG_CONFIG_HOME=" + (bin / "config"));
  options.environment.push_back("HOME=" + bin.path());
  const std::string splash = screenshotPath("xvfb-splash");
  const std::string mainDialog = screenshotPath("xvfb-main-dialog");
  ::unlink(splash.c_str());
  ::unlink(mainDialog.c_str());
  const QRect middle(512 - 100, 384 - 100, 200, 200);
  QImage splashPicture, dialogPicture;
  options.whileRunning = [&](int pid) {
    // The bare screen is one colour; the splash bitmap brings many.
    splashPicture = photographUntil(display, splash, "",
                                    [&](const QImage& image) { return coloursIn(image, middle) > 50; });
    dialogPicture = photographUntil(display, mainDialog, "Talvane Quillet", [](const QImage& image) {
      const QColor face = image.pixelColor(2, 2);
      return image.width() > 300 && face.lightness() > 150 &&
             pixelsOf(image, face) > image.width() * image.height() / 2 && pixelsOf(image, Qt::black) > 300;
    });
    ::kill(pid, SIGTERM);
  };
  test_support::runProgram({}, options);
  ASSERT_FALSE(splashPicture.isNull());
  EXPECT_GT(coloursIn(splashPicture, middle), 50);
  ASSERT_FALSE(dialogPicture.isNull()) << "no window titled Talvane Quillet";
  const QColor face = dialogPicture.pixelColor(2, 2);
  EXPECT_GT(face.lightness(), 150);
  EXPECT_GT(pixelsOf(dialogPicture, face), dialogPicture.width() * dialogPicture.height() / 2);
  EXPECT_GT(pixelsOf(dialogPicture, Qt::black), 300);  // captions and outlines
  EXPECT_NE(
      test_support::readFile(bin / "config/talvane-quillet/registry.json").find(QUILLET_PRODUCT_VERSION),
      std::string::npos);
}

TEST(WindowedScriptTest, DisplayThatRefusesQtSendsTheRunToTheConsole) {
  VirtualDisplay real;
  if (real.name().empty()) GTEST_SKIP() << "Xvfb is not installed or would not start";
  RelayDisplay display(real, RelayDisplay::Policy::FirstOnly);
  ASSERT_FALSE(display.name().empty());
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 64 << 20);
  test_support::ScratchFolder bin;
  test_support::ProgramOptions options = windowedProgram(bin, display.name());
  options.whileRunning = endAfter(std::chrono::seconds(60));

  const auto run =
      test_support::runProgram({"/s", "/allsize:3m", "/root:'" + (*vol / "s") + "'", "/minsize:1m"}, options);
  EXPECT_EQ(run.signal, 0) << run.err;
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_GT(display.refused(), 0);  // Qt did try and was turned away
  EXPECT_NE(run.err.find("Finished:"), std::string::npos) << run.err;
  EXPECT_EQ(test_support::fileSize(*vol / "s/c"), 1 << 20);
  const std::string log = test_support::readFile(bin / "scripts.log");
  EXPECT_EQ(log.find("#QX Scripts log started"), log.rfind("#QX Scripts log started"))
      << log;  // one run only
  EXPECT_NE(log.find("#QX Scripts log ended"), std::string::npos);
}

TEST(WindowedScriptTest, ServerThatResetsAfterTheProbeStillGetsTheDialog) {
  VirtualDisplay real;
  if (real.name().empty()) GTEST_SKIP() << "Xvfb is not installed or would not start";
  RelayDisplay display(real, RelayDisplay::Policy::Resetting);
  ASSERT_FALSE(display.name().empty());
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 64 << 20);
  test_support::ScratchFolder bin;
  test_support::ProgramOptions options = windowedProgram(bin, display.name());
  // The relay passes bytes, not the file descriptors shared-memory images are handed over with.
  options.environment.push_back("QT_XCB_NO_MITSHM=1");
  options.whileRunning = endAfter(std::chrono::seconds(60));

  const auto run =
      test_support::runProgram({"/s", "/allsize:3m", "/root:'" + (*vol / "s") + "'", "/minsize:1m"}, options);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(display.refused(), 0);
  EXPECT_GE(display.accepted(), 2);                                    // the probe and Qt
  EXPECT_EQ(run.err.find("Finished:"), std::string::npos) << run.err;  // the dialog, not the console
  EXPECT_EQ(test_support::fileSize(*vol / "s/c"), 1 << 20);
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

// A stop signal during a windowed script run acts as the dialog's Stop button, whether it comes
// while files are made or while the run is still passing to the windowed program.
TEST(WindowedScriptTest, AStopSignalEndsTheRunAsStopped) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 1LL << 30);
  test_support::ScratchFolder bin;
  test_support::ProgramOptions options = test_support::privateCopyOfProgram(bin.path(), true);
  ASSERT_FALSE(options.program.empty());
  options.environment = {"QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + bin.path()};
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY"};
  const std::string logPath = bin / "scripts.log";
  const auto ended = [&](std::size_t blocks) {
    const std::string log = test_support::readFile(logPath);
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
      for (int i = 0; i < 1000 && test_support::fileSize(root + "/a") < 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      ::kill(pid, signal);
    };
    const auto r =
        test_support::runProgram({"/s", "/allsize:1000m", "/root:'" + root + "'", "/minsize:4k"}, options);
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_EQ(r.err.find("Finished:"), std::string::npos) << "the dialog, not the console, showed the run";
    EXPECT_GE(test_support::fileSize(root + "/a"), 0);
    EXPECT_TRUE(ended(static_cast<std::size_t>(serial))) << test_support::readFile(logPath);
  }

  // Early: at once (while the console program starts or hands the run over; a signal before its
  // first instruction still ends it, before anything is logged) and as soon as the block is begun,
  // long before the dialog exists.
  for (int i = 0; i < 6; ++i) {
    const bool atOnce = i % 2 == 0;
    const std::string root = *vol / ("early" + std::to_string(i));
    const std::int64_t before = test_support::fileSize(logPath);
    options.whileRunning = [&](int pid) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (!atOnce && test_support::fileSize(logPath) <= before &&
             std::chrono::steady_clock::now() < deadline) {
      }
      ::kill(pid, SIGTERM);
    };
    const auto r =
        test_support::runProgram({"/s", "/allsize:1000m", "/root:'" + root + "'", "/minsize:4k"}, options);
    if (atOnce && r.signal == SIGTERM) {
      EXPECT_EQ(test_support::fileSize(logPath), before);
      continue;
    }
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(ended(static_cast<std::size_t>(++serial))) << test_support::readFile(logPath);
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
  test_support::ScratchFolder bin;
  test_support::ProgramOptions options = windowedProgram(bin, display.name());
  const std::string report = bin / "report.json";
  const auto r = test_support::runProgram({"/s", "/allsize:5m", "/root:'" + (*vol / "s") + "'", "/minsize:1m",
                                           "/report:'" + report + "'", "/progress:json"},
                                          options);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string text = test_support::readFile(report);
  EXPECT_NE(text.find("\"schema\": \"quillet-report/2\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"files_created\": 5,"), std::string::npos) << text;
  EXPECT_NE(text.find("\"mount_point\": \"" + vol->path() + "/\""), std::string::npos) << text;
  // The dialog shows the progress; standard error stays empty.
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace quillet
