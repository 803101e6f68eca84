// The /report and /progress extensions through the built program on tmpfs volumes: every report
// validates against the shipped schema and agrees with what is on disk, progress lines are pure
// JSON, and a report that cannot be written changes nothing but the log.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "script/console_progress.h"
#include "testing/program_runner.h"
#include "testing/script_program_fixture.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;
using test_support::runProgram;

struct DiskTally {
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  std::int64_t folders = 0;  // below the root
};

DiskTally walk(const std::string& root) {
  DiskTally t;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_symlink()) continue;
    if (entry.is_directory()) {
      ++t.folders;
    } else if (entry.is_regular_file()) {
      ++t.files;
      t.bytes += static_cast<std::int64_t>(entry.file_size());
    }
  }
  return t;
}

// Validates a JSON file (or, with lines, each line of it) against a shipped schema; returns the
// validator's complaint, empty when it passed.
std::string validate(const std::string& file, const char* schema, bool lines = false) {
  const std::string out = file + ".validation";
  const std::string command =
      std::string(
          "python3 -c \"import json,sys,jsonschema\n"
          "s=json.load(open(sys.argv[2]))\n"
          "docs=[json.loads(l) for l in open(sys.argv[1]).read().split('\\n') if l] if sys.argv[3]=='1' "
          "else [json.load(open(sys.argv[1]))]\n"
          "assert docs\n"
          "[jsonschema.validate(d,s) for d in docs]\" '") +
      file + "' '" + QUILLET_SOURCE_DIR + "/docs/" + schema + "' " + (lines ? "1" : "0") + " >'" + out +
      "' 2>&1";
  if (std::system(command.c_str()) == 0) return {};
  const std::string complaint = test_support::readFile(out);
  return complaint.empty() ? "validation failed" : complaint;
}

// The object lines of standard error; a line that is no JSON object fails the test.
std::vector<json> objectLines(const std::string& err) {
  std::vector<json> lines;
  std::size_t start = 0;
  for (auto end = err.find('\n'); end != std::string::npos; end = err.find('\n', start)) {
    lines.push_back(json::parse(err.substr(start, end - start), nullptr, false));
    EXPECT_TRUE(lines.back().is_object()) << err.substr(start, end - start);
    start = end + 1;
  }
  EXPECT_EQ(start, err.size()) << "a line without its end: " << err;
  return lines;
}

class ScriptReportTest : public test_support::ScriptProgramTest {
 protected:
  std::string reportArg() const { return "/report:'" + reportPath() + "'"; }
  std::string reportPath() const { return bin / "report.json"; }
  json report() const { return json::parse(test_support::readFile(reportPath())); }
  std::string root(const std::string& folder) const { return "/root:'" + folder + "'"; }

  // The report validates, and its counts are those found by walking the root.
  void expectReportMatchesDisk(const std::string& rootFolder, int code) {
    EXPECT_EQ(validate(reportPath(), "report.schema.json"), "");
    const json r = report();
    EXPECT_EQ(r["result"]["code"], code);
    const DiskTally t = walk(rootFolder);
    EXPECT_EQ(r["files_created"], t.files);
    EXPECT_EQ(r["bytes_allocated"], t.bytes);
    EXPECT_EQ(r["parameters"]["root_folder"], rootFolder + "/");
    EXPECT_EQ(r["volume"]["mount_point"], vol->path() + "/");
    EXPECT_EQ(r["volume"]["file_system"], "TMPFS");
    EXPECT_LE(r["volume"]["free_bytes_after"].get<std::int64_t>(),
              r["volume"]["free_bytes_before"].get<std::int64_t>() - t.bytes);
  }
};

TEST_F(ScriptReportTest, DoneRunsReportWhatIsOnDiskInBothModes) {
  auto r = run({"/s", "/allsize:6m", root(*vol / "s"), "/minsize:100k", "/maxsize:1m", reportArg()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  expectReportMatchesDisk(*vol / "s", 0);
  json j = report();
  EXPECT_EQ(j["bytes_written"], 6 << 20);
  EXPECT_TRUE(j["rejection"].is_null());
  EXPECT_EQ(j["command_line"][5], "/maxsize:1m");  // the program comes first
  EXPECT_GT(j["file_write_rate"]["files_timed"].get<int>(), 0);
  EXPECT_LE(j["file_write_rate"]["min_bytes_per_second"].get<double>(),
            j["file_write_rate"]["max_bytes_per_second"].get<double>());
  // The human progress stays the default.
  EXPECT_NE(r.err.find("Finished: done (exit code 0)"), std::string::npos) << r.err;

  // Keys and words in any case, by files number, with a made-up tree and allocation only.
  r = run({"/f", root(*vol / "f"), "/MINFILES:2", "/maxfiles:4", "/minsize:3k", "/recurse", "/rootsize:2",
           "/treedeep:2", "/dirlimit:200", "/nofill", "/Report:'" + reportPath() + "'", "/PROGRESS:OFF"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");  // off prints nothing
  expectReportMatchesDisk(*vol / "f", 0);
  j = report();
  EXPECT_EQ(j["bytes_written"], 0);
  EXPECT_EQ(j["folders_created"], walk(*vol / "f").folders);
  EXPECT_EQ(j["folders_visited"], 7);  // the root and its six sub-folders
  EXPECT_EQ(j["files_by_number"]["made_files"], j["files_by_number"]["planned_files"]);
  EXPECT_EQ(j["parameters"]["progress"], "off");

  // A script without the new keys, log and all, is unchanged by the keys' existence: no report appears.
  ASSERT_TRUE(fs::remove(reportPath()));
  EXPECT_EQ(run({"/s", "/allsize:1m", root(*vol / "plain"), "/minsize:1m"}).exitCode, 0);
  EXPECT_FALSE(fs::exists(reportPath()));
}

TEST_F(ScriptReportTest, FullVolumeRunReportsItsFiguresAndTheVolume) {
  std::string reason;
  auto small = test_support::MountedVolume::tmpfs(8 << 20, reason);
  ASSERT_TRUE(small) << reason;
  const auto r = run({"/s", "/allsize:100m", root(*small / "full"), "/minsize:1m", "/maxsize:3m", reportArg(),
                      "/progress:json"});
  ASSERT_EQ(r.exitCode, 1) << r.err;
  std::swap(vol, small);  // the checks name the volume of the run
  expectReportMatchesDisk(*vol / "full", 1);
  const json j = report();
  EXPECT_EQ(j["volume"]["total_bytes"], 8 << 20);
  EXPECT_LT(j["volume"]["free_bytes_after"].get<std::int64_t>(), 1 << 20);
  std::swap(vol, small);
}

TEST_F(ScriptReportTest, InterruptedRunReportsAndItsProgressLinesAgree) {
  // Room for tiny files (a page each) for a few seconds.
  std::string reason;
  vol = test_support::MountedVolume::tmpfs(2LL << 30, reason, 2000000);
  ASSERT_TRUE(vol) << reason;
  options.whileRunning = [&](int pid) {
    // Long enough for more than one progress line, then a stop.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ::kill(pid, SIGINT);
  };
  options.timeoutSeconds = 60;
  const std::string rootFolder = *vol / "stop";
  const auto r = run({"/f", root(rootFolder), "/minfiles:20000", "/minsize:1b", "/recurse", "/rootsize:30",
                      "/dirlimit:100", reportArg(), "/progress:json"});
  ASSERT_EQ(r.exitCode, 2) << r.err;
  EXPECT_EQ(validate(reportPath(), "report.schema.json"), "");
  const json j = report();
  EXPECT_EQ(j["result"]["code"], 2);
  EXPECT_EQ(j["result"]["text"], "stopped");
  // A stopped file may stay, partial and uncounted.
  const DiskTally t = walk(rootFolder);
  EXPECT_GE(t.files, j["files_created"].get<std::int64_t>());
  EXPECT_LE(t.files, j["files_created"].get<std::int64_t>() + 1);

  // Standard error holds object lines only: each parses and validates, the totals never fall, and
  // the last, final one agrees with the report.
  const std::string linesFile = bin / "progress.jsonl";
  std::ofstream(linesFile, std::ios::binary) << r.err;
  EXPECT_EQ(validate(linesFile, "progress.schema.json", true), "");
  std::vector<json> lines;
  std::size_t start = 0;
  for (auto end = r.err.find('\n'); end != std::string::npos; end = r.err.find('\n', start)) {
    lines.push_back(json::parse(r.err.substr(start, end - start)));
    start = end + 1;
  }
  EXPECT_EQ(start, r.err.size()) << "a line without its end";
  ASSERT_GE(lines.size(), 2u) << r.err;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_GE(lines[i]["files_created"], lines[i - 1]["files_created"]);
    EXPECT_GE(lines[i]["bytes_allocated"], lines[i - 1]["bytes_allocated"]);
    EXPECT_GE(lines[i]["elapsed_seconds"], lines[i - 1]["elapsed_seconds"]);
    EXPECT_EQ(lines[i - 1]["final"], false);
  }
  const json& last = lines.back();
  EXPECT_EQ(last["final"], true);
  EXPECT_EQ(last["result"]["code"], 2);
  EXPECT_EQ(last["files_created"], j["files_created"]);
  EXPECT_EQ(last["bytes_allocated"], j["bytes_allocated"]);
  EXPECT_EQ(last["bytes_written"], j["bytes_written"]);
  // The report's duration is the run's whole time: no shorter than any progress line's, the final
  // one's included (taken a moment before the report's; the two clocks start within a few ms of
  // each other). No upper bound: a loaded machine may hold the program up between the two.
  EXPECT_GE(j["duration_seconds"].get<double>(), last["elapsed_seconds"].get<double>() - 0.005);
  EXPECT_GE(j["duration_seconds"].get<double>(), lines[lines.size() - 2]["elapsed_seconds"].get<double>());
}

TEST_F(ScriptReportTest, RejectedScriptsGetTheirReportWithTheRejection) {
  // A relative report path is taken from the working folder, as a relative root is.
  options.workingFolder = bin.path();
  auto r = run(
      {"/f", root(*vol / "never"), "/minfiles:1", "/minsize:1k", "/report:'report.json'", "/progress:fast"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(validate(reportPath(), "report.schema.json"), "");
  json j = report();
  EXPECT_EQ(j["rejection"], "Invalid script. Incorrect progress form, json or off expected.");
  EXPECT_EQ(j["result"]["code"], 0);
  EXPECT_TRUE(j["parameters"].is_null());
  EXPECT_FALSE(fs::exists(*vol / "never"));

  r = run({"/s", "/allsize:1m", root(*vol / "never"), "/minsize:1k", "/wrong:1", "/report:'report.json'"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(report()["rejection"], "Invalid script parameter '/wrong'.");

  // A malformed /report gives no report, only the log line.
  ASSERT_TRUE(fs::remove(reportPath()));
  r = run({"/s", "/allsize:1m", root(*vol / "never"), "/minsize:1k", "/report:report.json"});
  EXPECT_FALSE(fs::exists(reportPath()));
  EXPECT_NE(test_support::readFile(bin / "scripts.log")
                .find("Invalid script. Report parameter must be in ' symbols.\r\n"),
            std::string::npos);
}

TEST_F(ScriptReportTest, UnwritableReportIsALogLineAndKeepsTheExitCode) {
  const std::string missing = bin / "no-such-folder/report.json";
  auto r = run({"/s", "/allsize:1m", root(*vol / "a"), "/minsize:1m", "/report:'" + missing + "'"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string log = test_support::readFile(bin / "scripts.log");
  EXPECT_NE(log.find("]: Can not write report '" + missing + "': No such file or directory.\r\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("#QX Scripts log ended"), std::string::npos);
  EXPECT_EQ(walk(*vol / "a").files, 1);

  r = run({"/s", "/allsize:1m", root(*vol / "b"), "/minsize:0k", "/report:'" + missing + "'"});
  EXPECT_EQ(r.exitCode, 7);
}

TEST_F(ScriptReportTest, ReaderNeverSeesHalfAReport) {
  ASSERT_EQ(run({"/s", "/allsize:1k", root(*vol / "first"), "/minsize:1k", reportArg()}).exitCode, 0);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0};
  std::atomic<int> broken{0};
  std::thread reader([&] {
    while (!done) {
      const std::string text = test_support::readFile(reportPath());
      if (!json::accept(text)) ++broken;
      ++reads;
    }
  });
  for (int i = 0; i < 8; ++i) {
    run({"/f", root(*vol / ("r" + std::to_string(i))), "/minfiles:50", "/minsize:1b", reportArg()});
  }
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 8);
  EXPECT_EQ(broken.load(), 0);
}

TEST_F(ScriptReportTest, NoticesOnStandardErrorBecomeObjectLines) {
  // Room for the root and two folders only: the tree's next level cannot be created, which a
  // console is told about.
  std::string reason;
  auto few = test_support::MountedVolume::tmpfs(8 << 20, reason, 4);
  ASSERT_TRUE(few) << reason;
  const auto r = run({"/f", root(*few / "t"), "/minfiles:1", "/minsize:1k", "/recurse", "/rootsize:5",
                      "/dirlimit:100", "/progress:json", reportArg()});
  const std::string linesFile = bin / "lines.jsonl";
  std::ofstream(linesFile, std::ios::binary) << r.err;
  EXPECT_EQ(validate(linesFile, "progress.schema.json", true), "") << r.err;
  EXPECT_NE(r.err.find("{\"schema\":\"quillet-progress/1\",\"type\":\"notice\",\"severity\":\"notice\""),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.exitCode, report()["result"]["code"].get<int>());
}

// The lines a verify and a measure print while they read (a second apart, so rarely seen by a
// short test run) validate as their final lines do, and only a final line carries a result.
TEST(ProgressSchemaTest, VerifyAndMeasureLinesValidateWhileRunningAndAtTheEnd) {
  test_support::ScratchFolder folder;
  const std::string file = folder / "lines.jsonl";
  const ReadFigures before{3, 1, 1000, 0};
  const ReadFigures now{10, 4, 5000, 1024};
  const int code = 4;
  {
    std::ofstream out(file, std::ios::binary);
    for (bool verify : {true, false}) {
      out << formatJsonReadLine(verify, now, before, 2.0, 1.0) << "\n";
      out << formatJsonReadLine(verify, now, before, 2.5, 0.5, verify ? &code : nullptr) << "\n";
    }
  }
  EXPECT_EQ(validate(file, "progress.schema.json", true), "");
  const json running = json::parse(formatJsonReadLine(true, now, before, 2.0, 1.0));
  EXPECT_EQ(running["stage"], "verifying");
  EXPECT_EQ(running["interval_bytes_checked"], 4000);
  EXPECT_FALSE(running.contains("result"));
  // A verify's code 4 is no measure's.
  std::ofstream(file, std::ios::binary) << formatJsonReadLine(false, now, before, 2.0, 1.0, &code) << "\n";
  EXPECT_NE(validate(file, "progress.schema.json", true), "");
}

// Every report the program writes, whatever the mode, validates against the one schema; 64-bit
// seeds and file ids are decimal text a reader cannot round.
TEST_F(ScriptReportTest, EveryModesReportValidatesAndKeepsItsDigits) {
  const std::string tree = *vol / "tree";
  const std::string seed = "16856365574281151301";
  ASSERT_EQ(run({"/s", "/allsize:3m", root(tree), "/minsize:1m", "/seed:" + seed}).exitCode, 0);
  // One flipped byte: a damaged file whose expected identity the report carries.
  std::string damagedName;
  for (const auto& entry : fs::directory_iterator(tree)) damagedName = entry.path().filename().string();
  {
    const int fd = ::open((tree + "/" + damagedName).c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    char byte = 0;
    ASSERT_EQ(::pread(fd, &byte, 1, 5000), 1);
    byte = static_cast<char>(byte ^ 0x40);
    ASSERT_EQ(::pwrite(fd, &byte, 1, 5000), 1);
    ::close(fd);
  }

  auto r = run({"/v", root(tree), "/seed:" + seed, reportArg(), "/progress:off"});
  ASSERT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_EQ(validate(reportPath(), "report.schema.json"), "");
  json j = report();
  EXPECT_EQ(j["mode"], "verify");
  EXPECT_EQ(j["verify"]["seed"], seed);
  EXPECT_EQ(j["verify"]["root_folder"], tree + "/");
  EXPECT_GT(j["throughput"]["bytes_per_second"].get<double>(), 0.0);
  EXPECT_GT(j["throughput"]["files_per_second"].get<double>(), 0.0);
  ASSERT_EQ(j["verify"]["damaged_files"].size(), 1u) << j["verify"];
  const json expected = j["verify"]["damaged_files"][0]["ranges"][0]["expected"];
  EXPECT_EQ(expected["seed"], seed);
  // The console names the same file id in hexadecimal: both spell the same 64 bits.
  const auto at = r.out.find("expected seed " + seed + ", file ");
  ASSERT_NE(at, std::string::npos) << r.out;
  const std::string hex = r.out.substr(at + ("expected seed " + seed + ", file ").size(), 16);
  ASSERT_TRUE(expected["file_id"].is_string()) << expected;
  EXPECT_EQ(std::stoull(expected["file_id"].get<std::string>()), std::stoull(hex, nullptr, 16)) << hex;

  // A measure: the same head, its figures with their units.
  r = run({"/m", root(tree), reportArg()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(validate(reportPath(), "report.schema.json"), "");
  j = report();
  EXPECT_EQ(j["schema"], "quillet-report/2");
  EXPECT_EQ(j["mode"], "measure");
  EXPECT_EQ(j["result"]["code"], 0);
  EXPECT_EQ(j["parameters"]["root_folder"], tree + "/");
  EXPECT_EQ(j["measure"]["files_measured"], walk(tree).files);
  EXPECT_EQ(j["measure"]["measured_bytes"], 3 << 20);

  // Rejected lines of a verify and a measure get their report too, with no threads and no figures.
  for (const std::vector<std::string>& line :
       {std::vector<std::string>{"/v", root(tree), "/bogus:1", reportArg()},
        std::vector<std::string>{"/s", "/allsize:1m", root(tree), "/minsize:1k", "/v", "/bogus:1",
                                 reportArg()},
        std::vector<std::string>{"/m", root(tree), "/bogus:1", reportArg()}}) {
    ASSERT_TRUE(fs::remove(reportPath()));
    r = run(line);
    EXPECT_EQ(r.exitCode, 0) << line[0];
    EXPECT_EQ(validate(reportPath(), "report.schema.json"), "") << line[0];
    j = report();
    EXPECT_EQ(j["rejection"], "Invalid script parameter '/bogus'.");
    EXPECT_TRUE(j["parameters"].is_null());
    EXPECT_TRUE(j["threads"].is_null() || line[0] == "/m");
  }
}

// Every mode's /progress:json lines validate and end with exactly one final line, also when the
// work is shorter than a second or never starts; the text forms get the same ending as one line.
TEST_F(ScriptReportTest, EveryModeEndsWithOneLineOnStandardError) {
  const std::string tree = *vol / "p";
  const std::string blocked = *vol / "file-in-the-way";
  std::ofstream(blocked) << "x";
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string text;  // the one line of a text ending; empty: a progress line ends the work
  };
  ASSERT_EQ(run({"/s", "/allsize:2m", root(tree), "/minsize:1m", "/seed:3"}).exitCode, 0);
  int fresh = 0;  // a new root for each run that generates
  const std::vector<Case> cases = {
      {{"/f", "@", "/minfiles:3", "/minsize:1k"}, 0, ""},
      {{"/v", root(tree)}, 0, ""},
      {{"/s", "/allsize:2m", root(tree), "/minsize:1m", "/seed:3", "/v"}, 0, ""},
      {{"/m", root(tree)}, 0, ""},
      {{"/s", "/allsize:1m", root(*vol / "never"), "/minsize:1k", "/wrong:1"},
       0,
       "Invalid script parameter '/wrong'."},
      {{"/f", root(*vol / "never"), "/minfiles:1", "/minsize:1k", "/threads:0"},
       0,
       "Invalid script. Incorrect threads number, a whole number from 1 to 256 or auto expected."},
      {{"/s", "/allsize:2m", root(tree), "/minsize:1m", "/v", "/V"},
       0,
       "Invalid script. Repitition /v parameter."},
      {{"/v", root(tree), "/seed:x"},
       0,
       "Invalid script. Incorrect seed, a whole number from 0 to 18446744073709551615 expected."},
      {{"/m", root(tree), "/dedupeblock:3k"},
       0,
       "Invalid script. Incorrect dedupe block size, a power of two from 1K to 1M expected."},
      {{"/s", "/allsize:1m", root(blocked + "/sub"), "/minsize:1k"},
       8,
       "Incorrect path - '" + blocked + "/sub'. Try to check root folder for errors."},
  };
  for (const Case& c : cases) {
    for (const char* form : {"/progress:json", "", "/progress:off"}) {
      std::vector<std::string> args = c.args;
      if (*form != 0) args.push_back(form);
      for (std::string& arg : args) {
        if (arg == "@") arg = root(*vol / ("fresh" + std::to_string(fresh++)));
      }
      const std::string what = args[0] + " " + args.back();
      const auto r = run(args);
      EXPECT_EQ(r.exitCode, c.code) << what << r.err;
      if (std::string(form) == "/progress:json") {
        const std::string linesFile = bin / "lines.jsonl";
        std::ofstream(linesFile, std::ios::binary) << r.err;
        EXPECT_EQ(validate(linesFile, "progress.schema.json", true), "") << what << "\n" << r.err;
        const std::vector<json> lines = objectLines(r.err);
        ASSERT_FALSE(lines.empty()) << what;
        int finals = 0;
        for (const json& line : lines) finals += line.value("final", false) ? 1 : 0;
        EXPECT_EQ(finals, 1) << what << r.err;
        EXPECT_EQ(lines.back().value("final", false), true) << what << r.err;
        EXPECT_EQ(lines.back()["result"]["code"], c.code) << what;
        if (!c.text.empty()) {
          EXPECT_EQ(lines.back()["type"], "notice") << what;
          EXPECT_EQ(lines.back()["text"], c.text) << what;
        }
      } else if (!c.text.empty()) {
        // Text and off alike: the log's line, once.
        EXPECT_EQ(r.err, "quillet: " + c.text + "\n") << what;
      }
    }
  }
  EXPECT_EQ(log().find("Incorrect path - '" + blocked + "/sub'. Try to check root folder for errors.\r\n") !=
                std::string::npos,
            true);
}

// A report is never put in place of a FIFO or a device node; a link leads to the file it names.
TEST_F(ScriptReportTest, ReportReplacesOnlyRegularFilesAndFollowsLinks) {
  const std::string fifo = bin / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A node with the numbers of the system's "full" device, made here so that the real one is never at risk.
  const std::string device = bin / "device";
  ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0600, makedev(1, 7)), 0);
  for (const std::string& node : {fifo, device}) {
    for (const std::vector<std::string>& line :
         {std::vector<std::string>{"/s", "/allsize:1m", root(*vol / "a"), "/minsize:1m", "/seed:5",
                                   "/report:'" + node + "'"},
          std::vector<std::string>{"/v", root(*vol / "a"), "/report:'" + node + "'"},
          std::vector<std::string>{"/m", root(*vol / "a"), "/report:'" + node + "'"}}) {
      const auto r = run(line);
      EXPECT_EQ(r.exitCode, 0) << node << " " << line[0] << r.err;
      struct stat st {};
      ASSERT_EQ(::lstat(node.c_str(), &st), 0);
      EXPECT_TRUE(node == fifo ? S_ISFIFO(st.st_mode) : S_ISCHR(st.st_mode))
          << node << " replaced by " << line[0];
    }
    const std::string lg = log();
    std::size_t count = 0;
    for (auto at = lg.find("Can not write report '" + node + "': not a regular file.\r\n");
         at != std::string::npos;
         at = lg.find("Can not write report '" + node + "': not a regular file.\r\n", at + 1)) {
      ++count;
    }
    EXPECT_EQ(count, 3u) << lg;
  }

  // A link: the file it names gets the report, and the link stays.
  fs::create_directory(bin / "reports");
  std::ofstream(bin / "reports/kept.json") << "{}";
  fs::create_symlink(bin / "reports/kept.json", bin / "link.json");
  const auto r =
      run({"/s", "/allsize:1m", root(*vol / "b"), "/minsize:1m", "/report:'" + (bin / "link.json") + "'"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::is_symlink(bin / "link.json"));
  EXPECT_EQ(validate(bin / "reports/kept.json", "report.schema.json"), "");
}

}  // namespace
}  // namespace quillet
