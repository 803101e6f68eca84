// /journal through the built program, on the FUSE volume that loses what was not flushed: runs
// cut at random moments verify clean against their journal, a lying volume is caught naming the
// files it lost, a kill -9 of the program loses nothing acknowledged, and a journal that cannot be
// kept ends the run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>

#include "testing/fuse_volume.h"
#include "testing/script_program_fixture.h"

namespace quillet {
namespace {

using nlohmann::json;

class FlushJournalTest : public test_support::ScriptProgramTest {
 protected:
  std::string journal(const std::string& name) const { return *vol / name; }
  json report() const { return json::parse(test_support::readFile(bin / "report.json")); }
  std::string reportArg() const { return "/report:'" + (bin / "report.json") + "'"; }

  static std::int64_t lineCount(const std::string& path) {
    const std::string text = test_support::readFile(path);
    return std::count(text.begin(), text.end(), '\n');
  }
  // Waits (bounded) until the journal holds at least lines lines.
  static void waitForLines(const std::string& path, std::int64_t lines) {
    for (int i = 0; i < 2000 && lineCount(path) < lines; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::vector<std::string> verifyLine(const std::string& root, const std::string& journalPath) const {
    return {"/v", "/root:'" + root + "'", "/journal:'" + journalPath + "'", reportArg()};
  }
};

// The cut comes while the run writes, after a random number of acknowledged files; whatever the
// moment, every journaled file is back after the cut.
TEST_F(FlushJournalTest, HonestVolumeCutAtRandomMomentsKeepsEveryJournaledFile) {
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    QUILLET_FUSE_OR_SKIP(fuse, test_support::FuseVolume::Options{});
    const std::string j = journal("cut" + std::to_string(round) + ".jsonl");
    const std::int64_t wanted = 2 + static_cast<std::int64_t>(random() % 60);
    options.whileRunning = [&](int pid) {
      waitForLines(j, wanted);
      ::kill(pid, SIGKILL);
      ASSERT_TRUE(fuse->powerCut());
    };
    const auto r =
        run({"/f", "/root:'" + (*fuse / "t") + "'", "/minfiles:3000", "/minsize:4k", "/maxsize:40k",
             "/sync:file", "/journal:'" + j + "'", "/seed:" + std::to_string(round),
             round % 2 ? "/threads:3" : "/threads:1", "/progress:off"});
    ASSERT_EQ(r.signal, SIGKILL) << "the run ended before the cut: " << r.err;
    options.whileRunning = nullptr;
    const auto v = run(verifyLine(*fuse / "t", j));
    EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
    const json f = report()["flush_journal"];
    EXPECT_GE(f["acknowledged_files"].get<std::int64_t>(), wanted - 1);
    const std::string m = f["acknowledged_files"].dump();
    EXPECT_NE(v.out.find("Flushes kept: " + m + " of " + m + "\n"), std::string::npos) << v.out;
    EXPECT_EQ(f["lost_files"], 0);
    EXPECT_EQ(f["seed"], round);
    // No /seed on the verify's line: the seed is the journal's, and it says so.
    EXPECT_NE(v.out.find("Seed: " + std::to_string(round) + " (from the flush journal)"), std::string::npos)
        << v.out;
    EXPECT_EQ(report()["verify"]["seed_source"], "from_journal");
  }
}

// Without /sync nothing is acknowledged: the cut takes the files and a verify with the run's line
// finds them missing.
TEST_F(FlushJournalTest, UnflushedRunLosesItsFilesOnACut) {
  QUILLET_FUSE_OR_SKIP(fuse, test_support::FuseVolume::Options{});
  ASSERT_EQ(::mkdir((fuse->backing() + "/t").c_str(), 0755), 0);  // the root itself survives
  ASSERT_TRUE(fuse->powerCut());
  const std::vector<std::string> line = {
      "/f", "/root:'" + (*fuse / "t") + "'", "/minfiles:40", "/minsize:4k", "/seed:3", "/progress:off"};
  ASSERT_EQ(run(line).exitCode, 0);
  EXPECT_EQ(test_support::filesBelow(*fuse / "t").size(), 40u);
  ASSERT_TRUE(fuse->powerCut());
  auto withV = line;
  withV.push_back("/v");
  const auto v = run(withV);
  EXPECT_EQ(v.exitCode, 4) << v.out;
  EXPECT_NE(v.out.find("missing 40 files"), std::string::npos) << v.out;
}

// A volume that acknowledges flushes it does not keep is caught, and the lost files are named.
TEST_F(FlushJournalTest, LyingVolumeFailsTheVerifyNamingTheLostFiles) {
  test_support::FuseVolume::Options lying;
  lying.mode = "lying";
  lying.every = 3;
  QUILLET_FUSE_OR_SKIP(fuse, lying);
  ASSERT_EQ(::mkdir((fuse->backing() + "/t").c_str(), 0755), 0);
  ASSERT_TRUE(fuse->powerCut());
  const std::string j = journal("lying.jsonl");
  const auto r = run({"/f", "/root:'" + (*fuse / "t") + "'", "/minfiles:30", "/minsize:8k", "/sync:file",
                      "/journal:'" + j + "'", "/seed:9", "/progress:off"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_TRUE(fuse->powerCut());
  const auto v = run(verifyLine(*fuse / "t", j));
  EXPECT_EQ(v.exitCode, 4) << v.out;
  const json f = report()["flush_journal"];
  EXPECT_EQ(f["acknowledged_files"], 30);
  EXPECT_EQ(f["lost_files"], 20);  // one flush in three was kept
  EXPECT_NE(v.out.find("Flush broken: 20 of 30 acknowledged files lost"), std::string::npos) << v.out;
  ASSERT_EQ(f["lost"].size(), 20u);
  for (const auto& lost : f["lost"]) {
    const std::string path = lost["path"];
    EXPECT_EQ(lost["what"], "missing") << path;
    EXPECT_EQ(test_support::fileSize(fuse->backing() + "/t/" + path), -1) << path;
    EXPECT_NE(log().find("Lost after flush: " + path + ": missing."), std::string::npos) << path;
  }
  EXPECT_NE(log().find("Flush broken: 20 of 30 acknowledged files lost."), std::string::npos);
  // The report's figures follow the schema the repository ships.
  const std::string check =
      "python3 -c \"import json,sys,jsonschema; jsonschema.validate(json.load(open(sys.argv[1])), "
      "json.load(open(sys.argv[2])))\" '" +
      (bin / "report.json") + "' '" QUILLET_SOURCE_DIR "/docs/report.schema.json' >/dev/null 2>&1";
  EXPECT_EQ(std::system(check.c_str()), 0);
  EXPECT_NE(v.out.find("  lost after flush: " + f["lost"][0]["path"].get<std::string>() + ": missing\n"),
            std::string::npos);
}

// A kill -9 leaves the system's cache alone: whatever was acknowledged is there, and the file cut
// by the kill is counted as not acknowledged, never as damage.
TEST_F(FlushJournalTest, KillNineMidRunKeepsWhatWasAcknowledged) {
  QUILLET_FUSE_OR_SKIP(fuse, test_support::FuseVolume::Options{});
  const std::string j = journal("kill.jsonl");
  options.whileRunning = [&](int pid) {
    waitForLines(j, 4);
    ::kill(pid, SIGKILL);
  };
  const auto r = run({"/s", "/allsize:200m", "/root:'" + (*fuse / "k") + "'", "/minsize:1m", "/maxsize:3m",
                      "/sync:file", "/journal:'" + j + "'", "/progress:off"});
  ASSERT_EQ(r.signal, SIGKILL);
  options.whileRunning = nullptr;
  const auto v = run(verifyLine(*fuse / "k", j));
  EXPECT_EQ(v.exitCode, 0) << v.out;
  const json f = report()["flush_journal"];
  EXPECT_GE(f["acknowledged_files"].get<int>(), 3);
  EXPECT_EQ(f["lost_files"], 0);
  EXPECT_EQ(f["not_acknowledged"]["found_files"].get<std::int64_t>(),
            static_cast<std::int64_t>(test_support::filesBelow(*fuse / "k").size()) -
                f["acknowledged_files"].get<std::int64_t>());
}

// A journal on the volume under test, one that cannot be opened, and one whose volume fills
// mid-run: the run ends as a failed write (exit 8), with a line that says why.
TEST_F(FlushJournalTest, AJournalThatCannotBeKeptEndsTheRun) {
  std::string reason;
  auto tiny = test_support::MountedVolume::tmpfs(8192, reason);
  if (!tiny) GTEST_SKIP() << reason;
  struct Row {
    std::string journal;
    std::string line;
  };
  const std::vector<Row> rows = {
      {*vol / "j.jsonl",
       "Invalid script. /journal file must be on another volume than the root (the volume under test)."},
      {bin / "no/such/folder/j.jsonl", "Can not write journal '" + (bin / "no/such/folder/j.jsonl") + "'"},
      {*tiny / "j.jsonl", "Can not write file '" + (*tiny / "j.jsonl") + "'"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.journal);
    const auto r = run({"/f", "/root:'" + (*vol / "r") + "'", "/minfiles:400", "/minsize:1k", "/sync:file",
                        "/journal:'" + row.journal + "'", "/progress:off"});
    EXPECT_EQ(r.exitCode, 8) << r.err;
    EXPECT_NE(log().find(row.line), std::string::npos) << log();
  }
  // The refusal made nothing; the full journal stopped the run before all its files.
  const auto made = test_support::filesBelow(*vol / "r");
  EXPECT_GT(made.size(), 0u);
  EXPECT_LT(made.size(), 400u);
  const auto rejected = run(
      {"/f", "/root:'" + (*vol / "r") + "'", "/minfiles:1", "/minsize:1k", "/journal:'" + (bin / "j") + "'"});
  EXPECT_EQ(rejected.exitCode, 0);  // a rejected script ends as every rejected script does
  EXPECT_NE(log().find("Invalid script. /journal parameter can't be used without /sync:file or /sync:end."),
            std::string::npos);
}

// /sync:end records every file once the volume's flush returned; a torn last line (a crash while
// a record was written) is skipped when the journal is read.
TEST_F(FlushJournalTest, SyncEndJournalsAfterTheVolumeFlushAndATornLineIsSkipped) {
  std::string reason;
  auto other = test_support::MountedVolume::tmpfs(16 << 20, reason);
  if (!other) GTEST_SKIP() << reason;
  const std::string j = bin / "end.jsonl";
  const auto r = run({"/f", "/root:'" + (*other / "e") + "'", "/minfiles:25", "/minsize:2k", "/sync:end",
                      "/journal:'" + j + "'", "/seed:4", "/progress:off"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(lineCount(j), 26);
  {
    const int fd = ::open(j.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "{\"file\":\"zz\",\"si", 16), 16);
    ::close(fd);
  }
  ASSERT_EQ(::unlink((*other / "e/c").c_str()), 0);
  const auto v = run(verifyLine(*other / "e", j));
  EXPECT_EQ(v.exitCode, 4) << v.out;
  const json f = report()["flush_journal"];
  EXPECT_EQ(f["torn_lines"], 1);
  EXPECT_EQ(f["acknowledged_files"], 25);
  ASSERT_EQ(f["lost"].size(), 1u);
  EXPECT_EQ(f["lost"][0]["path"], "c");
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

// The capacity recipe on a drive whose one file claims four times what it stores, formatted and
// mounted through a loop device as a fake card would be: the verify's capacity is the real size.
TEST_F(FlushJournalTest, CapacityRecipeOnAFakeCapacityVolumeTellsTheTrueCapacity) {
  test_support::FuseVolume::Options fake;
  fake.mode = "capacity";
  fake.realBytes = 24 << 20;
  fake.claimedBytes = 96 << 20;
  QUILLET_FUSE_OR_SKIP(fuse, fake);
  test_support::ScratchFolder place;
  const std::string mnt = place / "ext";
  ASSERT_EQ(::mkdir(mnt.c_str(), 0755), 0);
  const std::string attach =
      "losetup -f --show " + fuse->diskImage() + " > " + (place / "dev") + " 2>/dev/null";
  if (std::system(attach.c_str()) != 0) GTEST_SKIP() << "no free loop device";
  std::string device = test_support::readFile(place / "dev");
  while (!device.empty() && device.back() == '\n') device.pop_back();
  // No file system journal and lazy tables: mkfs writes only near the start, as a fake card's own
  // file system would have been made.
  const std::string mkfs = "mkfs.ext4 -q -F -O ^has_journal -E nodiscard,lazy_itable_init=1 " + device +
                           " >/dev/null 2>&1 && mount " + device + " " + mnt;
  const bool mounted = std::system(mkfs.c_str()) == 0;
  if (mounted) {
    const std::vector<std::string> line = {"/s",          "/allsize:allpartition", "/root:'" + mnt + "/t'",
                                           "/minsize:4m", "/maxsize:4m",           "/sync:end",
                                           "/seed:1",     "/progress:off"};
    run(line);
    const auto v = run({"/v", "/root:'" + mnt + "/t'", "/seed:1", reportArg()});
    EXPECT_EQ(v.exitCode, 4) << v.out;
    const json capacity = report()["verify"]["capacity"];
    const std::int64_t intact = capacity["intact_bytes"];
    EXPECT_LE(intact, fake.realBytes);
    EXPECT_GT(intact, fake.realBytes / 2);  // what the last files wrote over is lost, not the rest
    EXPECT_GT(capacity["volume_total_bytes"].get<std::int64_t>(), 3 * fake.realBytes);
    EXPECT_NE(v.out.find("misdirected"), std::string::npos);
    std::system(("umount " + mnt).c_str());
  }
  std::system(("losetup -d " + device).c_str());
  ASSERT_TRUE(mounted) << "mkfs.ext4 or mount failed on " << device;
}

}  // namespace
}  // namespace quillet
