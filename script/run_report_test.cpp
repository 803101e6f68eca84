// The report and the /progress:json lines as texts: the fields a script reads, their units and
// the empty values of runs that ended early.
#include "script/run_report.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "script/console_progress.h"

namespace quillet {
namespace {

using nlohmann::json;
using std::chrono::system_clock;

TEST(RunReportTest, UtcTimesAreIsoWithMillisecondsAndZ) {
  // 2004-02-29 23:59:58.007 UTC: a leap day, and milliseconds kept with their leading zeros.
  const auto when = system_clock::time_point(std::chrono::milliseconds(1078099198007LL));
  EXPECT_EQ(formatUtcTime(when), "2004-02-29T23:59:58.007Z");
  EXPECT_EQ(formatUtcTime(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
}

TEST(RunReportTest, RejectedScriptHasItsTextAndNoFigures) {
  RunRecord r;
  r.commandLine = {"quillet", "/s", "/root:x", "/report:'r.json'"};
  r.rejection = "Invalid script. Root parameter must be in ' symbols.";
  r.durationSeconds = 0.25;
  const json j = json::parse(formatReport(r));
  EXPECT_EQ(j["schema"], "quillet-report/2");
  EXPECT_EQ(j["command_line"].size(), 4u);
  EXPECT_EQ(j["rejection"], r.rejection);
  EXPECT_EQ(j["result"]["code"], 0);
  EXPECT_EQ(j["result"]["text"], "script rejected");
  EXPECT_TRUE(j["parameters"].is_null());
  EXPECT_TRUE(j["random_seed"].is_null());
  EXPECT_TRUE(j["volume"].is_null());
  EXPECT_TRUE(j["file_write_rate"]["min_bytes_per_second"].is_null());
  EXPECT_EQ(j["files_created"], 0);
  EXPECT_EQ(j["duration_seconds"], 0.25);
  // No thread ran, and the count asked for may be the very value that was rejected.
  EXPECT_TRUE(j["threads"].is_null());
  EXPECT_FALSE(j.contains("identity_format"));
  r.verifyMode = true;
  EXPECT_FALSE(json::parse(formatReport(r)).contains("identity_format"));
}

TEST(RunReportTest, RunFiguresKeepTheirUnitsAndRates) {
  GenerationJob job;
  job.byAllSize = false;
  job.rootFolder = "/mnt/t/";
  job.minFileSize = 1 << 20;
  job.maxFileSize = 2 << 20;
  job.minFiles = 3;
  job.maxFiles = 5;
  job.fillRandom = false;
  job.filesCreated = 7;
  job.currentSize = 7LL << 20;
  job.filesPlanned = 9;
  job.firstSeed = 1234567890;
  job.dirsCreated = 2;
  job.dirsProcessed = 3;
  job.writeRates.add(100.0);
  job.writeRates.add(300.0);
  RunRecord r;
  r.byAllSize = false;
  r.job = &job;
  r.resultCode = 1;
  r.generationSeconds = 2.0;
  r.volume = ReportVolume{"/mnt/t/", "TMPFS", 64 << 20, 60 << 20, 53 << 20, 4096};
  const json j = json::parse(formatReport(r));
  EXPECT_TRUE(j["rejection"].is_null());
  EXPECT_EQ(j["mode"], "by_files_number");
  EXPECT_EQ(j["parameters"]["min_file_size_bytes"], 1 << 20);
  EXPECT_TRUE(j["parameters"]["limit_size_bytes"].is_null());
  EXPECT_EQ(j["random_seed"], 1234567890);
  EXPECT_EQ(j["result"]["text"], "the volume is full or a file cannot be allocated");
  // Allocated without content: nothing written, and no block identity to name.
  EXPECT_EQ(j["bytes_written"], 0);
  EXPECT_FALSE(j.contains("identity_format"));
  EXPECT_EQ(j["bytes_allocated"], 7 << 20);
  EXPECT_EQ(j["throughput"]["bytes_per_second"], (7 << 20) / 2.0);
  EXPECT_EQ(j["throughput"]["files_per_second"], 3.5);
  EXPECT_EQ(j["file_write_rate"]["files_timed"], 2);
  EXPECT_EQ(j["file_write_rate"]["min_bytes_per_second"], 100.0);
  EXPECT_EQ(j["file_write_rate"]["mean_bytes_per_second"], 200.0);
  EXPECT_EQ(j["file_write_rate"]["max_bytes_per_second"], 300.0);
  EXPECT_EQ(j["volume"]["free_bytes_after"], 53 << 20);
  EXPECT_EQ(j["files_by_number"]["planned_files"], 9);
  EXPECT_EQ(j["files_by_number"]["made_files"], 7);
}

TEST(RunReportTest, TheSeedIsAnExactTextAndTheFlushIsSaidAsItWent) {
  GenerationJob job;
  job.runSeed = 18446744073709551615ull;  // beyond what a JSON number keeps exactly
  job.seedGiven = true;
  job.sync = SyncMode::End;
  job.volumeSyncNote = "the volume was not flushed: C:\\: flushing the volume needs administrator rights";
  RunRecord r;
  r.job = &job;
  r.generationSeconds = 1.0;
  json j = json::parse(formatReport(r));
  EXPECT_EQ(j["run_seed"], "18446744073709551615");
  EXPECT_EQ(j["run_seed_source"], "given");
  EXPECT_EQ(j["identity_format"], 1);
  EXPECT_EQ(j["parameters"]["seed"], "18446744073709551615");
  EXPECT_EQ(j["parameters"]["sync"], "end");
  EXPECT_EQ(j["volume_sync"], (json{{"flushed", false}, {"note", job.volumeSyncNote}}));

  // A drawn seed is given once the worker ran; before that the run has none.
  job.seedGiven = false;
  job.sync = SyncMode::File;
  j = json::parse(formatReport(r));
  EXPECT_EQ(j["run_seed_source"], "drawn");
  EXPECT_TRUE(j["parameters"]["seed"].is_null());
  EXPECT_TRUE(j["volume_sync"].is_null());
  r.generationSeconds = 0;
  j = json::parse(formatReport(r));
  EXPECT_TRUE(j["run_seed"].is_null());
  EXPECT_TRUE(j["run_seed_source"].is_null());
}

TEST(RunReportTest, ProgressLinesAreSingleObjectsWithIntervalAndTotals) {
  ProgressSnapshot before;
  before.filesCreated = 10;
  before.currentSize = 1000;
  ProgressSnapshot now = before;
  now.filesCreated = 30;
  now.currentSize = 5000;
  const std::string line = formatJsonProgressLine(now, before, true, true, 4.0, 2.0);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  json j = json::parse(line);
  EXPECT_EQ(j["type"], "progress");
  EXPECT_EQ(j["final"], false);
  EXPECT_EQ(j["stage"], "generating_files");
  EXPECT_EQ(j["files_created"], 30);
  EXPECT_EQ(j["bytes_per_second"], 1250.0);
  EXPECT_EQ(j["interval_bytes_allocated"], 4000);
  EXPECT_EQ(j["interval_files_per_second"], 10.0);
  EXPECT_FALSE(j.contains("result"));

  now.finished = true;
  const int result = 2;
  j = json::parse(formatJsonProgressLine(now, now, false, false, 5.0, 0.0, &result));
  EXPECT_EQ(j["final"], true);
  EXPECT_EQ(j["stage"], "finished");
  EXPECT_EQ(j["bytes_written"], 0);
  EXPECT_EQ(j["interval_files_per_second"], 0.0);
  EXPECT_EQ(j["result"]["code"], 2);

  // A text that is no UTF-8 still gives one parsable line.
  j = json::parse(formatJsonNotice("error", "Incorrect path - '/x/\xff\"\n'."));
  EXPECT_EQ(j["type"], "notice");
  EXPECT_EQ(j["severity"], "error");
}

}  // namespace
}  // namespace quillet
