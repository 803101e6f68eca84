// Script runs of the built program, headless, on tmpfs volumes: what the user sees in the log, on
// disk and in the exit status.
#include "script/script_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "script/scripts_help_text.h"
#include "testing/fake_file_system.h"
#include "testing/program_runner.h"
#include "testing/script_program_fixture.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using test_support::runProgram;

class ScriptRunTest : public test_support::ScriptProgramTest {
 protected:
  // The log's lines without their time stamps.
  std::vector<std::string> logLines() const {
    std::vector<std::string> lines;
    const std::string text = log();
    std::size_t start = 0;
    for (auto end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
      std::string line = text.substr(start, end - start);
      if (line.size() > 23 && line[0] == '[') line = line.substr(23);
      lines.push_back(line);
      start = end + 2;
    }
    return lines;
  }
  std::string root(const std::string& name) const { return "/root:'" + (*vol / name) + "'"; }
};

TEST_F(ScriptRunTest, RejectedScriptLeavesThreeLinesAndCreatesNothing) {
  const auto r = run({"/s", root("never"), "/minsize:10", "/allsize:1m"});
  EXPECT_EQ(r.exitCode, 0);
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], std::string(80, '*'));
  EXPECT_EQ(lines[1], "#QX Scripts log started");
  EXPECT_EQ(lines[2], "Invalid script. Incorrect minimum file size modification.");
  EXPECT_EQ(lines[3], "#QX Scripts log ended");
  EXPECT_EQ(lines[5], "");
  EXPECT_FALSE(test_support::fileSize(*vol / "never") >= 0);

  run({"/f", "/unknown:1"});
  EXPECT_EQ(logLines()[8], "Invalid script parameter '/unknown'.");
}

TEST_F(ScriptRunTest, AllSizeRunFillsTheTotalAndReportsProgress) {
  const auto r = run({"/s", "/allsize:300k", root("out"), "/minsize:100k"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const char* name : {"a", "b", "c"})
    EXPECT_EQ(test_support::fileSize(*vol / "out/" + name), 100 * 1024);
  EXPECT_EQ(test_support::fileSize(*vol / "out/d"), -1);
  EXPECT_NE(r.err.find("Finished: done (exit code 0); 3 files, 300.00 Kb written."), std::string::npos)
      << r.err;
  EXPECT_EQ(logLines().size(), 5u);  // a clean run logs its banners only
}

TEST_F(ScriptRunTest, EveryResultCodeReachesTheExitStatus) {
  std::string reason;
  auto small = test_support::MountedVolume::tmpfs(8 << 20, reason);
  ASSERT_TRUE(small) << reason;
  EXPECT_EQ(run({"/s", "/allsize:allpartition", "/root:'" + (*small / "full") + "'", "/minsize:1m",
                 "/maxsize:3m", "/nofill"})
                .exitCode,
            1);
  EXPECT_EQ(run({"/s", "/allsize:1m", root("mask"), "/minsize:1b", "/filemask:'?'"}).exitCode, 3);
  EXPECT_EQ(run({"/f", root("lim"), "/minfiles:5", "/minsize:600b", "/limsize:1k"}).exitCode, 6);
  EXPECT_EQ(test_support::fileSize(*vol / "lim/b"), 424);
  EXPECT_EQ(run({"/s", "/allsize:1m", root("zero"), "/minsize:0k"}).exitCode, 7);
  EXPECT_EQ(run({"/s", "/allsize:1m", root("zero2/x"), "/minsize:-1k"}).exitCode, 7);

  std::system(("touch '" + *vol / "afile" + "'").c_str());
  EXPECT_EQ(run({"/f", root("afile/sub/deeper"), "/minfiles:1", "/minsize:1k"}).exitCode, 8);
  EXPECT_NE(
      log().find("Incorrect path - '" + *vol / "afile/sub" + "'. Try to check root folder for errors.\r\n"),
      std::string::npos);
  // Six runs, six blocks.
  EXPECT_EQ(std::regex_search(log(), std::regex("#QX Scripts log started")), true);
  std::size_t blocks = 0;
  for (auto pos = log().find("log ended"); pos != std::string::npos; pos = log().find("log ended", pos + 1))
    ++blocks;
  EXPECT_EQ(blocks, 6u);
}

TEST_F(ScriptRunTest, FullVolumeIsLoggedWithTheMountPoint) {
  EXPECT_EQ(run({"/s", "/allsize:100m", root("big"), "/minsize:1m"}).exitCode, 1);
  EXPECT_NE(log().find("Destination drive " + vol->path() + ": is full. Last processed file: "),
            std::string::npos);
}

TEST_F(ScriptRunTest, FilesNumberRunHonoursTheCompletionRules) {
  const auto r = run({"/f", root("tree"), "/minfiles:3", "/maxfiles:2", "/minsize:1k", "/recurse",
                      "/rootsize:2", "/treedeep:2", "/dirlimit:200", "/dirmask:'d?'"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const char* folder : {"", "da/", "da/da/", "da/db/", "db/", "db/db/"}) {
    for (const char* name : {"a", "b", "c"}) {
      EXPECT_EQ(test_support::fileSize(*vol / "tree/" + folder + name), 1024) << folder << name;
    }
    EXPECT_EQ(test_support::fileSize(*vol / "tree/" + folder + "d"), -1);
  }
}

TEST_F(ScriptRunTest, InterruptStopsTheRunKeepsItsFilesAndWritesTheEndBanner) {
  std::string reason;
  auto big = test_support::MountedVolume::tmpfs(1LL << 30, reason);
  ASSERT_TRUE(big) << reason;
  options.whileRunning = [&](int pid) {
    // Wait until the run has produced something, then interrupt it.
    for (int i = 0; i < 200 && test_support::fileSize(*big / "out/a") < 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(pid, SIGINT);
  };
  const auto started = std::chrono::steady_clock::now();
  const auto r = run({"/s", "/allsize:1000m", "/root:'" + (*big / "out") + "'", "/minsize:64k"});
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_GE(test_support::fileSize(*big / "out/a"), 0);
  const auto lines = logLines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 3], "#QX Scripts log ended");
  EXPECT_NE(r.err.find("exit code 2"), std::string::npos);
}

// A well-formed log: whole CR LF lines only, and blocks that each run from a start banner to an
// end banner. Returns the number of blocks, or -1 with the reason in why.
int wellFormedBlocks(const std::string& text, std::string& why) {
  const std::string stars(80, '*');
  const std::regex stamped(R"(\[\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\]: [^\r\n]*)");
  enum { Between, Started, Ended, Closed } state = Between;
  int blocks = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find("\r\n", start);
    if (end == std::string::npos) {
      why = "the log ends in half a line: " + text.substr(start);
      return -1;
    }
    const std::string line = text.substr(start, end - start);
    start = end + 2;
    const bool banner = std::regex_match(line, stamped);
    if (state == Between && line == stars) {
      state = Started;
    } else if (state == Started && banner && line.substr(23) == "#QX Scripts log started") {
      state = Ended;
    } else if (state == Ended && banner && line.substr(23) == "#QX Scripts log ended") {
      state = Closed;
    } else if (state == Ended && banner && line.substr(23).rfind("#QX", 0) != 0) {
    } else if (state == Closed && line == stars) {
      state = Between;
      ++blocks;
    } else if (state == Between && line.empty()) {
    } else {
      why = "unexpected line: '" + line + "'";
      return -1;
    }
  }
  if (state != Between) {
    why = "the last block has no end";
    return -1;
  }
  return blocks;
}

// The program lives on the volume its run fills, so the log is on it too. The log's last page is
// nearly used up before the run, so that the lines the full volume brings cannot find room unless
// it was held for them.
TEST(ScriptLogOnAFullVolumeTest, EveryBlockEndsWithItsEndBanner) {
  // The program's copy shares the volume: room for it besides the 16 MiB the run fills, whatever
  // the build makes its size (a sanitizer build is several times larger).
  const std::int64_t programBytes = test_support::fileSize(test_support::builtProgram());
  ASSERT_GT(programBytes, 0);
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, (16 << 20) + (programBytes + 4095) / 4096 * 4096);
  test_support::ProgramOptions options = test_support::privateCopyOfProgram(vol->path());
  ASSERT_FALSE(options.program.empty());
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const std::string logPath = *vol / "scripts.log";
  const std::string earlier = "[05.12.2004 10:02:03]: " + std::string(4096 - 130 - 40 - 25, 'e') + "\r\n";
  {
    std::ofstream log(logPath, std::ios::binary);
    log << earlier;
  }
  const std::vector<std::string> fill = {"/s", "/allsize:100m", "/root:'" + (*vol / "data") + "'",
                                         "/minsize:1m", "/nofill"};
  const auto first = runProgram(fill, options);
  EXPECT_EQ(first.exitCode, 1) << first.err;
  std::string why;
  std::string text = test_support::readFile(logPath);
  ASSERT_EQ(text.rfind(earlier, 0), 0u);
  EXPECT_EQ(wellFormedBlocks(text.substr(earlier.size()), why), 1) << why << "\n"
                                                                   << text.substr(earlier.size());
  EXPECT_NE(text.find("Destination drive " + vol->path() + ": is full."), std::string::npos) << text;

  // Again on the full volume, and once more with a parameter error.
  runProgram(fill, options);
  runProgram({"/s", "/allsize:1m"}, options);
  text = test_support::readFile(logPath);
  EXPECT_EQ(wellFormedBlocks(text.substr(earlier.size()), why), 3) << why << "\n"
                                                                   << text.substr(earlier.size());
}

// An earlier block cut off mid-line (by a crash, say) does not swallow the next banner.
TEST_F(ScriptRunTest, ABlockAfterACutOffLineStartsOnALineOfItsOwn) {
  {
    std::ofstream log(bin / "scripts.log", std::ios::binary);
    log << "[05.12.2004 10:02:03]: Destination drive /x: is fu";
  }
  run({"/f", "/unknown:1"});
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "Destination drive /x: is fu");
  EXPECT_EQ(lines[1], std::string(80, '*'));
  EXPECT_EQ(lines[3], "Invalid script parameter '/unknown'.");
}

TEST_F(ScriptRunTest, ParametersCannotForgeLogLines) {
  const auto r = run({"/x\r\n[05.12.2004 10:02:03]: #QX Scripts log ended"});
  EXPECT_EQ(r.exitCode, 0);
  run({"/s", "/bogus\n#QX Scripts log ended:1"});
  const auto lines = logLines();
  ASSERT_EQ(lines.size(), 12u) << log();
  EXPECT_EQ(lines[2], "Invalid script parameter '/x\\x0D\\x0A[05.12.2004 10:02:03]: #QX Scripts log ended'.");
  EXPECT_EQ(lines[8], "Invalid script parameter '/bogus\\x0A#QX Scripts log ended'.");
  std::string why;
  EXPECT_EQ(wellFormedBlocks(log(), why), 2) << why;
}

TEST_F(ScriptRunTest, RelativeRootIsTakenFromTheWorkingFolder) {
  options.workingFolder = vol->path();
  const auto r = run({"/s", "/allsize:2k", "/root:'rel/sub'", "/minsize:1k"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(test_support::fileSize(*vol / "rel/sub/a"), 1024);
  EXPECT_EQ(test_support::fileSize(*vol / "rel/sub/b"), 1024);
  // The log names the place in full, as every other use of the root does.
  std::system(("touch '" + *vol / "afile" + "'").c_str());
  EXPECT_EQ(run({"/f", "/root:'afile/sub/deeper'", "/minfiles:1", "/minsize:1k"}).exitCode, 8);
  EXPECT_NE(
      log().find("Incorrect path - '" + *vol / "afile/sub" + "'. Try to check root folder for errors.\r\n"),
      std::string::npos)
      << log();
}

// A stop signal at any moment after start-up: before the log is open (the signal waits), while
// the script is read, while files are made. Each run either never started (killed before its
// first instruction, nothing logged) or ends as stopped with a whole block; none is cut short.
TEST_F(ScriptRunTest, AStopSignalAtAnyMomentEndsTheRunAsStopped) {
  std::string reason;
  auto big = test_support::MountedVolume::tmpfs(1LL << 30, reason);
  ASSERT_TRUE(big) << reason;
  const std::string logPath = bin / "scripts.log";
  const auto waitForLog = [&](std::int64_t before) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (test_support::fileSize(logPath) <= before && std::chrono::steady_clock::now() < deadline) {
    }
  };
  struct Moment {
    const char* name;
    int runs;
    bool mustStop;    // the program has surely reached main
    bool generating;  // files are being made
    std::function<void(std::int64_t logSize, const std::string& root)> wait;
  };
  const std::vector<Moment> moments = {
      {"at once", 4, false, false, [](std::int64_t, const std::string&) {}},
      {"after 1 ms", 3, false, false,
       [](std::int64_t, const std::string&) { std::this_thread::sleep_for(std::chrono::milliseconds(1)); }},
      {"as the log is written", 6, true, false,
       [&](std::int64_t before, const std::string&) { waitForLog(before); }},
      {"while files are made", 2, true, true,
       [&](std::int64_t, const std::string& root) {
         for (int i = 0; i < 500 && test_support::fileSize(root + "/a") < 0; ++i) {
           std::this_thread::sleep_for(std::chrono::milliseconds(10));
         }
         std::this_thread::sleep_for(std::chrono::milliseconds(50));
       }},
  };
  int serial = 0;
  for (const Moment& moment : moments) {
    for (int i = 0; i < moment.runs; ++i) {
      const std::string root = *big / ("out" + std::to_string(++serial));
      const std::int64_t before = std::max<std::int64_t>(test_support::fileSize(logPath), 0);
      const int signal = serial % 2 == 0 ? SIGINT : SIGTERM;
      options.whileRunning = [&](int pid) {
        moment.wait(before, root);
        ::kill(pid, signal);
      };
      const auto r = run({"/s", "/allsize:1000m", "/root:'" + root + "'", "/minsize:4k"});
      const std::string added = log().substr(before);
      std::string why;
      if (r.signal != 0) {
        EXPECT_FALSE(moment.mustStop) << moment.name << ": killed by " << r.signal;
        EXPECT_EQ(added, "") << moment.name;
        continue;
      }
      EXPECT_EQ(r.exitCode, 2) << moment.name << "\n" << r.err;
      EXPECT_EQ(wellFormedBlocks(added, why), 1) << moment.name << ": " << why << "\n" << added;
      // A run stopped before its first file has no summary to show.
      if (moment.generating) {
        EXPECT_NE(r.err.find("Finished: stopped (exit code 2)"), std::string::npos) << r.err;
      }
    }
  }
  EXPECT_GE(test_support::fileSize(*big / ("out" + std::to_string(serial)) + "/a"), 0)
      << "the files made stay";
}

TEST_F(ScriptRunTest, RunWhileAnotherHoldsTheLogDoesNothing) {
  const int fd = ::open((bin / "scripts.log").c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  const auto r = run({"/s", "/allsize:10k", root("locked"), "/minsize:1k"});
  ::close(fd);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(log(), "");
  EXPECT_EQ(test_support::fileSize(*vol / "locked"), -1);
}

// A stop asked for before the worker starts: the run in-process, its log in a scratch folder.
TEST(ScriptStopTest, AStopBeforeTheWorkerEndsTheRunAsStoppedWithItsBlockWhole) {
  class NoDisplay final : public ProgressDisplay {
   public:
    void show(GenerationJob&) override { ++shown; }
    int shown = 0;
  };
  test_support::ScratchFolder bin;
  test_support::FakeFileSystem fs;
  fs.addFolder("/v");
  NoDisplay display;
  const ScriptRunServices services{fs, systemClock(), nullptr, display, [] { return true; }};
  EXPECT_EQ(
      runScript("/S", {bin / "quillet", "/s", "/allsize:1m", "/root:'/v/new'", "/minsize:1k"}, services), 2);
  EXPECT_EQ(display.shown, 0);
  EXPECT_TRUE(fs.effects().empty()) << "nothing is created";

  EXPECT_EQ(runScript("/S", {bin / "quillet", "/s", "/allsize:1m"}, services), 2)
      << "a rejected script that was also stopped";
  std::string why;
  const std::string log = test_support::readFile(bin / "scripts.log");
  EXPECT_EQ(wellFormedBlocks(log, why), 2) << why;
  EXPECT_NE(log.find("]: Invalid script. /root parameter is absent.\r\n"), std::string::npos) << log;
}

// The completion rules themselves, without a volume in the way.
TEST(ScriptCompletionTest, SizesAndCountsAreMadeConsistent) {
  test_support::FakeFileSystem fs;
  fs.addFolder("/v");
  fs.freeBytes = 50 << 20;
  auto complete = [&](const char* mode, std::vector<std::string> params, GenerationJob& job) {
    std::vector<std::string> args = {"q", mode};
    args.insert(args.end(), params.begin(), params.end());
    const auto parsed = parseScript(readScriptArgs(mode, args), job);
    EXPECT_TRUE(parsed.accepted) << parsed.message;
    completeScriptJob(job, parsed, fs);
  };
  GenerationJob a;
  complete("/S", {"/allsize:100m", "/root:'/v/t'", "/minsize:200m", "/maxsize:300m"}, a);
  EXPECT_EQ(a.minFileSize, 100 << 20);
  EXPECT_EQ(a.maxFileSize, 100 << 20);
  GenerationJob b;
  complete("/S", {"/allsize:100m", "/root:'/v/t'", "/minsize:1m", "/maxsize:200m"}, b);
  EXPECT_EQ(b.minFileSize, 1 << 20);
  EXPECT_EQ(b.maxFileSize, 100 << 20);
  GenerationJob c;
  complete("/S", {"/allsize:allpartition", "/root:'/v/not/yet'", "/minsize:5m", "/maxsize:1m"}, c);
  EXPECT_EQ(c.allSize, 50 << 20);  // the nearest existing ancestor's free space
  EXPECT_EQ(c.minFileSize, 5 << 20);
  EXPECT_EQ(c.maxFileSize, 5 << 20);
  GenerationJob d;
  complete("/F", {"/root:'/v/t'", "/minfiles:300", "/maxfiles:200", "/minsize:200m", "/limsize:150m"}, d);
  EXPECT_EQ(d.maxFiles, 300);
  EXPECT_EQ(d.minFileSize, 150 << 20);
  EXPECT_EQ(d.maxFileSize, 150 << 20);
  GenerationJob e;
  complete("/F",
           {"/root:'/v/t'", "/minfiles:100", "/minsize:1k", "/recurse", "/rootsize:2", "/filemask:'*.*'"}, e);
  EXPECT_EQ(e.maxFiles, 100);
  EXPECT_EQ(e.treeDeep, 1);
  EXPECT_EQ(e.fileMask, "???.???");
  EXPECT_EQ(e.fileNameSpace, 36LL * 36 * 36 * 36 * 36 * 36);
  EXPECT_EQ(e.fsFileSizeLimit, 0);  // the fake volume is EXT4
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

// Every example of the scripts help text, with its Windows folder swapped for a tmpfs folder.
TEST(ScriptsHelpExamplesTest, EveryExampleRunsAsDocumented) {
  std::string reason;
  auto vol = test_support::MountedVolume::tmpfs(400LL << 20, reason);
  if (!vol) GTEST_SKIP() << reason;
  test_support::ScratchFolder bin;
  test_support::ProgramOptions options = test_support::privateCopyOfProgram(bin.path());
  ASSERT_FALSE(options.program.empty());
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

  // The help text's examples: a line starting with /s or /f and the lines after it up to a blank.
  const std::string help = scriptsHelpText();
  std::vector<std::vector<std::string>> examples;
  bool inExample = false;
  std::size_t start = 0;
  while (start <= help.size()) {
    auto end = help.find("\r\n", start);
    if (end == std::string::npos) end = help.size();
    const std::string line = help.substr(start, end - start);
    start = end + 2;
    if (line.rfind("/s /allsize:1", 0) == 0 || line.rfind("/s /allsize:allpartition", 0) == 0 ||
        line.rfind("/f /minfiles:100", 0) == 0) {
      examples.emplace_back();
      inExample = true;
    } else if (line.empty()) {
      inExample = false;
    }
    if (!inExample) continue;
    std::size_t p = 0;
    while (p < line.size()) {
      const auto q = line.find(' ', p);
      std::string word = line.substr(p, q == std::string::npos ? std::string::npos : q - p);
      if (word == "/root:'c:\\test'") word = "/root:'" + (*vol / "test") + "'";
      examples.back().push_back(word);
      if (q == std::string::npos) break;
      p = q + 1;
    }
  }
  ASSERT_EQ(examples.size(), 3u);

  // By all size: 100 Mb in 1-2 Mb allocated files.
  auto r = test_support::runProgram(examples[0], options);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("100.00 Mb written"), std::string::npos) << r.err;
  // Files by number: 100-200 files of 1-2 Mb each until 150 Mb are written.
  r = test_support::runProgram(examples[2], options);
  EXPECT_EQ(r.exitCode, 6) << r.err;
  EXPECT_NE(r.err.find("150.00 Mb written"), std::string::npos) << r.err;
  // The tree was made up first; the limit is reached while the root is still being filled.
  EXPECT_GE(test_support::fileSize(*vol / "test/aaaaaaaa"), 0);
  EXPECT_GE(test_support::fileSize(*vol / "test/baaaaaaa"), 0);
  // To all partition size: the rest of the volume.
  r = test_support::runProgram(examples[1], options);
  EXPECT_EQ(r.exitCode, 1) << r.err;
  auto fs = makeSystemFileSystem();
  EXPECT_LE(fs->volumeSpace(vol->path()).value().availableToCaller, fs->clusterSize(vol->path()).value());
  const std::string log = test_support::readFile(bin / "scripts.log");
  EXPECT_EQ(log.find("Invalid"), std::string::npos) << log;
}

}  // namespace
}  // namespace quillet
