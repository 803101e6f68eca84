// The /report and /progress extensions through the built program on tmpfs volumes: every report
// validates against the shipped schema and agrees with what is on disk, progress lines are pure
// JSON, and a report that cannot be written changes nothing but the log.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "testing/program_runner.h"
#include "testing/script_program_fixture.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;
using testing::runProgram;

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
  const std::string complaint = testing::readFile(out);
  return complaint.empty() ? "validation failed" : complaint;
}

class ScriptReportTest : public testing::ScriptProgramTest {
 protected:
  std::string reportArg() const { return "/report:'" + reportPath() + "'"; }
  std::string reportPath() const { return bin / "report.json"; }
  json report() const { return json::parse(testing::readFile(reportPath())); }
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
  auto small = testing::MountedVolume::tmpfs(8 << 20, reason);
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
  vol = testing::MountedVolume::tmpfs(2LL << 30, reason, 2000000);
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
  EXPECT_GE(j["duration_seconds"].get<double>(), 1.4);

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
  EXPECT_NE(testing::readFile(bin / "scripts.log")
                .find("Invalid script. Report parameter must be in ' symbols.\r\n"),
            std::string::npos);
}

TEST_F(ScriptReportTest, UnwritableReportIsALogLineAndKeepsTheExitCode) {
  const std::string missing = bin / "no-such-folder/report.json";
  auto r = run({"/s", "/allsize:1m", root(*vol / "a"), "/minsize:1m", "/report:'" + missing + "'"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::string log = testing::readFile(bin / "scripts.log");
  EXPECT_NE(log.find("]: Can not write report '" + missing + "': No such file or directory.\r\n"), std::string::npos)
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
      const std::string text = testing::readFile(reportPath());
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
  auto few = testing::MountedVolume::tmpfs(8 << 20, reason, 4);
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

}  // namespace
}  // namespace quillet
