// The many-client program as a user runs it: `mpirun -np N quillet-mpi ...` on a tmpfs of the
// test's own, with a private copy of the program so that its scripts.log is the test's. Every case
// has a time limit, so a job that hangs fails instead of blocking the suite.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "mpi/rank_share.h"
#include "testing/program_runner.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using testing::MountedVolume;
using testing::ProgramResult;
using testing::filesBelow;

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::int64_t bytesOf(const std::map<std::string, std::int64_t>& files) {
  std::int64_t sum = 0;
  for (const auto& [path, size] : files) sum += size;
  return sum;
}

// The pids of the running copies of `program` that are rank `rank` of their job.
std::vector<int> rankPids(const std::string& program, int rank) {
  std::vector<int> pids;
  const std::string wanted = "OMPI_COMM_WORLD_RANK=" + std::to_string(rank);
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code linkError;
    if (fs::read_symlink(entry.path() / "exe", linkError).string() != program) continue;
    std::ifstream environ(entry.path() / "environ", std::ios::binary);
    std::string variable;
    while (std::getline(environ, variable, '\0')) {
      if (variable == wanted) pids.push_back(std::stoi(name));
    }
  }
  return pids;
}

class MpiProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    vol = MountedVolume::tmpfs(volumeBytes(), reason, 1 << 20);
    if (!vol) GTEST_SKIP() << reason;
    program = bin / "quillet-mpi";
    fs::copy_file(QUILLET_MPI_BINARY, program, fs::copy_options::overwrite_existing);
    options.program = QUILLET_MPIEXEC;
    options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    // Open MPI's plugins stay loaded to the end, so that a leak checker can tell their one-time
    // allocations (testing/lsan_suppressions.txt) from the program's.
    // Under AddressSanitizer the full unwinder, too: the fast one stops inside those plugins
    // before it reaches the library frames the suppressions name.
    const char* asan = std::getenv("ASAN_OPTIONS");
    options.environment = {"OMPI_MCA_mca_base_component_disable_dlclose=1",
                           std::string("ASAN_OPTIONS=") + (asan != nullptr && *asan != 0 ? std::string(asan) + ":" : "") +
                               "fast_unwind_on_malloc=0"};
    options.timeoutSeconds = 120;
  }
  // Room for a few seconds of writing, so that a stop comes before the volume is full.
  virtual std::int64_t volumeBytes() const { return std::int64_t{1} << 30; }

  ProgramResult run(int ranks, std::vector<std::string> script) {
    std::vector<std::string> args{"--oversubscribe", "--allow-run-as-root", "-np", std::to_string(ranks), program};
    args.insert(args.end(), script.begin(), script.end());
    return testing::runProgram(args, options);
  }
  std::string rankPath(const std::string& name, int r) const { return *vol / name + "/" + rankFolderName(r); }
  std::string root(const std::string& name) const { return "/root:'" + (*vol / name) + "'"; }
  std::string log() const { return testing::readFile(bin / "scripts.log"); }
  nlohmann::json report() const { return nlohmann::json::parse(testing::readFile(reportPath())); }
  std::string reportPath() const { return bin / "report.json"; }
  std::string reportArg() const { return "/report:'" + reportPath() + "'"; }
  // One block, opened and closed once.
  void expectOneClosedBlock() const {
    const std::string text = log();
    EXPECT_EQ(count(text, "#QX Scripts log started"), 1) << text;
    EXPECT_EQ(count(text, "#QX Scripts log ended"), 1) << text;
  }
  void expectValidReport() const {
    const std::string command = std::string("python3 -c \"import json,sys,jsonschema\n"
                                            "jsonschema.validate(json.load(open(sys.argv[1])),json.load(open(sys.argv[2])))\" '") +
                                reportPath() + "' '" + QUILLET_SOURCE_DIR + "/docs/report.schema.json' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << "the report does not follow docs/report.schema.json";
  }

  std::unique_ptr<MountedVolume> vol;
  testing::ScratchFolder bin;
  std::string program;
  testing::ProgramOptions options;
};

class MpiRanks : public MpiProgramTest, public ::testing::WithParamInterface<int> {};

// The total is split exactly, every rank in its own folder; the report's rows add up to its totals
// and to what is on disk, rank by rank.
TEST_P(MpiRanks, SplitsTheTotalExactlyOneFolderARank) {
  const int ranks = GetParam();
  const std::int64_t total = 3 * 1048576 + 3;
  const auto result = run(ranks, {"/s", "/allsize:" + std::to_string(total) + "b", root("t"), "/minsize:4k",
                                  "/maxsize:64k", "/seed:11", "/threads:2", reportArg()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::vector<std::string> folders;
  for (const auto& e : fs::directory_iterator(*vol / "t")) folders.push_back(e.path().filename().string());
  std::sort(folders.begin(), folders.end());
  ASSERT_EQ(folders.size(), static_cast<std::size_t>(ranks));
  const auto j = report();
  ASSERT_EQ(j["ranks"]["count"], ranks);
  std::int64_t files = 0, bytes = 0;
  for (int r = 0; r < ranks; ++r) {
    EXPECT_EQ(folders[static_cast<std::size_t>(r)], rankFolderName(r));
    const auto onDisk = filesBelow(rankPath("t", r));
    const auto& row = j["ranks"]["per_rank"][static_cast<std::size_t>(r)];
    EXPECT_EQ(bytesOf(onDisk), shareOf(total, r, ranks)) << "rank " << r;
    EXPECT_EQ(row["bytes"].get<std::int64_t>(), bytesOf(onDisk)) << "rank " << r;
    EXPECT_EQ(row["files"].get<std::int64_t>(), static_cast<std::int64_t>(onDisk.size())) << "rank " << r;
    EXPECT_EQ(row["result_code"], 0);
    EXPECT_LE(row["first_done_seconds"].get<double>(), row["last_done_seconds"].get<double>());
    files += row["files"].get<std::int64_t>();
    bytes += row["bytes"].get<std::int64_t>();
  }
  EXPECT_EQ(bytes, total);
  EXPECT_EQ(j["bytes_written"].get<std::int64_t>(), total);
  EXPECT_EQ(j["files_created"].get<std::int64_t>(), files);
  EXPECT_EQ(j["result"]["code"], 0);
  // The parameters are the run's, not rank 0's part.
  EXPECT_EQ(j["parameters"]["all_size_bytes"].get<std::int64_t>(), total);
  EXPECT_EQ(j["parameters"]["root_folder"], *vol / "t" + "/");
  EXPECT_EQ(j["parameters"]["seed"], "11");
  EXPECT_EQ(j["run_seed"], "11");
  expectValidReport();
  expectOneClosedBlock();
  EXPECT_NE(log().find("Ranks: " + std::to_string(ranks) + "; made "), std::string::npos) << log();
}

// By files number every rank makes its own tree with the per-folder counts.
TEST_P(MpiRanks, FilesNumberFillsEveryRanksOwnTree) {
  const int ranks = GetParam();
  const auto result = run(ranks, {"/f", "/minfiles:3", root("n"), "/minsize:1k", "/recurse", "/rootsize:2",
                                  "/treedeep:2", "/dirlimit:100", "/seed:5", reportArg()});
  ASSERT_EQ(result.exitCode, 0) << result.err;
  const auto j = report();
  for (int r = 0; r < ranks; ++r) {
    // The root and 2 + 4 folders below it, three files each.
    EXPECT_EQ(filesBelow(rankPath("n", r)).size(), 21u) << "rank " << r;
  }
  EXPECT_EQ(j["files_created"], 21 * ranks);
  EXPECT_EQ(j["files_by_number"]["planned_files"], 21 * ranks);
}

INSTANTIATE_TEST_SUITE_P(Ranks, MpiRanks, ::testing::Values(1, 2, 4));

// The same seed and rank count give the same folders, byte for byte; ranks differ from each other;
// and the folders verify from another rank with the seed.
TEST_F(MpiProgramTest, OneSeedReproducesEveryRanksFolderAndVerifiesAcross) {
  for (const char* name : {"a", "b"}) {
    const auto result = run(2, {"/s", "/allsize:2m", root(name), "/minsize:4k", "/maxsize:128k", "/seed:99"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
  }
  for (int r = 0; r < 2; ++r) {
    const std::string a = rankPath("a", r);
    const std::string b = rankPath("b", r);
    const auto files = filesBelow(a);
    ASSERT_FALSE(files.empty());
    ASSERT_EQ(files, filesBelow(b));
    for (const auto& [path, size] : files) {
      ASSERT_EQ(testing::readFile(a + "/" + path), testing::readFile(b + "/" + path)) << path;
    }
  }
  const auto first = filesBelow(rankPath("a", 0)).begin()->first;
  EXPECT_NE(testing::readFile(rankPath("a", 0) + "/" + first),
            testing::readFile(rankPath("a", 1) + "/" + first));

  const auto verified = run(2, {"/s", "/allsize:2m", root("a"), "/minsize:4k", "/maxsize:128k", "/seed:99", "/v"});
  EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
  EXPECT_NE(log().find("Verify of '" + (rankPath("a", 1)) + "' started."), std::string::npos);
  EXPECT_NE(log().find("Rank 1: Verify of '" + (rankPath("a", 0)) + "' started."), std::string::npos);
  EXPECT_NE(log().find("missing 0 files; unexpected 0 files"), std::string::npos);
}

// Damage planted in one rank's folder is found by the rank /shift points at it, and only there.
TEST_F(MpiProgramTest, VerifyWithShiftFindsDamageInAnotherRanksFolder) {
  ASSERT_EQ(run(4, {"/s", "/allsize:4m", root("v"), "/minsize:16k", "/maxsize:64k", "/seed:3"}).exitCode, 0);
  const std::string victimFolder = rankPath("v", 2);
  const std::string victim = victimFolder + "/" + filesBelow(victimFolder).begin()->first;
  {
    std::fstream f(victim, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(5000);
    f.write("damage!", 7);
  }
  for (const int shift : {1, 3}) {
    fs::remove(reportPath());
    const auto result =
        run(4, {"/v", root("v"), "/seed:3", "/shift:" + std::to_string(shift), reportArg(), "/threads:2"});
    EXPECT_EQ(result.exitCode, 4) << result.out << result.err;
    // Every rank's summary reaches the console once, in the form rank 0's own takes there.
    EXPECT_EQ(count(result.out, "Intact: ") + count(result.out, "Damage found: "), 4) << result.out;
    EXPECT_EQ(count(result.out, "Damage found: "), 1) << result.out;
    EXPECT_EQ(result.out.find(".\n"), std::string::npos) << result.out;
    const auto j = report();
    EXPECT_EQ(j["result"]["code"], 4);
    const int checker = (2 - shift + 4) % 4;
    for (int r = 0; r < 4; ++r) {
      const auto& row = j["ranks"]["per_rank"][static_cast<std::size_t>(r)];
      EXPECT_EQ(row["verified_folder"], rankFolderName((r + shift) % 4));
      EXPECT_EQ(row["damaged_bytes"].get<std::int64_t>() > 0, r == checker) << "shift " << shift << " rank " << r;
      EXPECT_EQ(row["result_code"], r == checker ? 4 : 0);
    }
    expectValidReport();
  }
  EXPECT_NE(log().find("Rank 3: Damaged file '"), std::string::npos) << log();
  // A bad shift is a rejected script, as any bad value is; nothing is checked.
  fs::remove(bin / "scripts.log");
  const auto rejected = run(2, {"/v", root("v"), "/shift:-1"});
  EXPECT_EQ(rejected.exitCode, 0);
  EXPECT_NE(log().find("Invalid script. Incorrect shift, a whole number from 0 to 2147483647 expected."),
            std::string::npos);
  EXPECT_EQ(log().find("Verify of"), std::string::npos);
  expectOneClosedBlock();
}

class MpiFullVolumeTest : public MpiProgramTest {
 protected:
  std::int64_t volumeBytes() const override { return 24 << 20; }
};

// When the shared volume is full, every rank ends and the run ends once, as full.
TEST_F(MpiFullVolumeTest, FullVolumeEndsTheRunOnceAsFull) {
  const auto result = run(4, {"/s", "/allsize:allpartition", root("full"), "/minsize:32k", "/maxsize:512k",
                              reportArg(), "/progress:json"});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  expectOneClosedBlock();
  const auto j = report();
  EXPECT_EQ(j["result"]["code"], 1);
  std::int64_t files = 0, bytes = 0;
  for (const auto& row : j["ranks"]["per_rank"]) {
    // Each rank met the full volume itself or was stopped by another's.
    EXPECT_TRUE(row["result_code"] == 1 || row["result_code"] == 2) << row;
    files += row["files"].get<std::int64_t>();
    bytes += row["bytes"].get<std::int64_t>();
  }
  EXPECT_EQ(files, j["files_created"].get<std::int64_t>());
  EXPECT_EQ(bytes, j["bytes_written"].get<std::int64_t>());
  EXPECT_GT(bytes, 16 << 20);
  // Rank 0's object lines: one final line, with the agreed result and the sums of all ranks.
  EXPECT_EQ(count(result.err, "\"final\":true"), 1) << result.err;
  EXPECT_NE(result.err.find("\"result\":{\"code\":1,"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("\"files_created\":" + std::to_string(files) + ","), std::string::npos) << result.err;
  expectValidReport();
}

// A rank that finds the shared volume already full (the others filled it before it started) ends
// as full, not as a run of zero-sized files.
TEST_F(MpiFullVolumeTest, ARankFindingTheVolumeFullEndsAsFull) {
  {
    std::ofstream filler(*vol / "filler", std::ios::binary);
    const std::string block(1 << 20, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
  }
  const auto result = run(2, {"/s", "/allsize:allpartition", root("late"), "/minsize:32k", reportArg()});
  EXPECT_EQ(result.exitCode, 1) << result.err;
  const auto j = report();
  for (const auto& row : j["ranks"]["per_rank"]) EXPECT_EQ(row["result_code"], 1) << row;
}

// A rank that cannot have its folder ends the run with that failure on every rank, and the log
// and report name it; a link where a rank's folder belongs is not followed out of the root.
TEST_F(MpiProgramTest, FailingRankEndsTheRunAndIsNamed) {
  fs::create_directories(*vol / "p");
  { std::ofstream(rankPath("p", 1)) << "in the way"; }
  const auto result = run(2, {"/s", "/allsize:64m", root("p"), "/minsize:1k", reportArg()});
  EXPECT_EQ(result.exitCode, 8) << result.err;
  expectOneClosedBlock();
  EXPECT_NE(log().find("Rank 1: Incorrect path - '" + (rankPath("p", 1)) + "'"), std::string::npos)
      << log();
  EXPECT_NE(log().find("Rank 1 ended the run: a path cannot be created."), std::string::npos) << log();
  const auto j = report();
  EXPECT_EQ(j["result"]["code"], 8);
  EXPECT_EQ(j["ranks"]["decided_by_rank"], 1);
  EXPECT_EQ(j["ranks"]["per_rank"][1]["result_code"], 8);
  // Rank 0 stopped after the file in hand instead of writing its 32 Mb share.
  EXPECT_LT(j["ranks"]["per_rank"][0]["bytes"].get<std::int64_t>(), 32 << 20);

  testing::ScratchFolder outside;
  fs::create_directories(*vol / "l");
  fs::create_directory_symlink(outside.path(), rankPath("l", 1));
  EXPECT_EQ(run(2, {"/s", "/allsize:1m", root("l"), "/minsize:1k"}).exitCode, 8);
  EXPECT_TRUE(fs::is_empty(outside.path()));
}

// Waits until the folder holds a file (the run is under way), at most 30 seconds.
bool waitForFiles(const std::string& folder) {
  for (int i = 0; i < 3000; ++i) {
    if (!filesBelow(folder).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Ctrl-C on the launcher stops every rank: one closed log block, a report of a stopped run. The
// launcher's own status is its own (Open MPI's mpirun gives 1 for a job it ended on a signal).
TEST_F(MpiProgramTest, SigintToTheLauncherStopsEveryRank) {
  const std::string folder = *vol / "s";
  options.whileRunning = [&](int pid) {
    if (waitForFiles(folder)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid, SIGINT);
  };
  const auto result = run(2, {"/s", "/allsize:2g", root("s"), "/minsize:4k", reportArg()});
  EXPECT_NE(result.exitCode, 0);
  EXPECT_NE(result.signal, SIGKILL) << "the job did not end in time";
  expectOneClosedBlock();
  const auto j = report();
  EXPECT_EQ(j["result"]["code"], 2);
  EXPECT_LT(j["bytes_written"].get<std::int64_t>(), 1 << 30);
  for (const auto& row : j["ranks"]["per_rank"]) {
    EXPECT_EQ(row["result_code"], 2) << row;
    EXPECT_EQ(row["stopped_by_signal"], true) << row;
  }
  EXPECT_EQ(count(result.err, "Finished: stopped (exit code 2)"), 1) << result.err;
}

// Started without a launcher the program is one rank, and a stop signal ends it with 2.
TEST_F(MpiProgramTest, WithoutLauncherItIsOneRankThatStopsWithTwo) {
  const std::string folder = *vol / "one";
  options.program = program;
  ASSERT_EQ(testing::runProgram({"/s", "/allsize:1m", root("one"), "/minsize:4k"}, options).exitCode, 0);
  EXPECT_EQ(bytesOf(filesBelow(folder + "/" + rankFolderName(0))), 1 << 20);
  options.whileRunning = [&](int pid) {
    if (waitForFiles(*vol / "two")) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(pid, SIGINT);
  };
  const auto stopped = testing::runProgram({"/s", "/allsize:2g", root("two"), "/minsize:4k"}, options);
  EXPECT_EQ(stopped.exitCode, 2) << stopped.err;
}

// A rank killed mid-run ends the job with an error that names it, well before the time limit.
TEST_F(MpiProgramTest, KilledRankEndsTheJobInsteadOfHanging) {
  const std::string folder = rankPath("k", 2);
  options.timeoutSeconds = 60;
  options.whileRunning = [&](int) {
    if (!waitForFiles(folder)) return;
    for (const int pid : rankPids(program, 2)) ::kill(pid, SIGKILL);
  };
  const auto started = std::chrono::steady_clock::now();
  const auto result = run(4, {"/s", "/allsize:4g", root("k"), "/minsize:4k"});
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_NE(result.signal, SIGKILL) << "the job hung until the test's limit";
  EXPECT_NE(result.exitCode, 0);
  EXPECT_LT(seconds, 30);
  EXPECT_NE((result.out + result.err).find("rank 2"), std::string::npos) << result.out << result.err;
  // Rank 0 may be ended by the launcher before it closes its block; it never starts a second.
  EXPECT_LE(count(log(), "#QX Scripts log started"), 1);
}

// A rank that stops answering without dying (its node hangs; here it is stopped) ends the run once
// the silence limit has passed, with exit 9 and a closed log block that says why, not a hang.
TEST_F(MpiProgramTest, ARankThatStopsAnsweringEndsTheRunAfterTheSilenceLimit) {
  const std::string folder = rankPath("h", 1);
  options.timeoutSeconds = 60;
  std::vector<int> stopped;
  options.whileRunning = [&](int) {
    if (!waitForFiles(folder)) return;
    stopped = rankPids(program, 1);
    for (const int pid : stopped) ::kill(pid, SIGSTOP);
  };
  const auto started = std::chrono::steady_clock::now();
  const auto result = testing::runProgram({"--oversubscribe", "--allow-run-as-root", "-x",
                                           "QUILLET_MPI_SILENCE_SECONDS=3", "-np", "2", program, "/s",
                                           "/allsize:8g", root("h"), "/minsize:4k", "/maxsize:4k"},
                                          options);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  for (const int pid : stopped) ::kill(pid, SIGKILL);  // never left behind, whatever the outcome
  ASSERT_FALSE(stopped.empty()) << "rank 1 was never seen running";
  EXPECT_NE(result.signal, SIGKILL) << "the job hung until the test's limit";
  EXPECT_EQ(result.exitCode, 9) << result.err;
  EXPECT_LT(seconds, 45);
  expectOneClosedBlock();
  EXPECT_NE(log().find("No answer from the other ranks for 3 seconds"), std::string::npos) << log();
  EXPECT_NE(result.err.find("no answer from the other ranks"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace quillet
