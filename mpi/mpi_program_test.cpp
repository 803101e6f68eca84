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
using test_support::filesBelow;
using test_support::MountedVolume;
using test_support::ProgramResult;

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
                           std::string("ASAN_OPTIONS=") +
                               (asan != nullptr && *asan != 0 ? std::string(asan) + ":" : "") +
                               "fast_unwind_on_malloc=0"};
    options.timeoutSeconds = 120;
  }
  // Room for a few seconds of writing, so that a stop comes before the volume is full.
  virtual std::int64_t volumeBytes() const { return std::int64_t{1} << 30; }

  ProgramResult run(int ranks, std::vector<std::string> script) {
    std::vector<std::string> args{"--oversubscribe", "--allow-run-as-root", "-np", std::to_string(ranks),
                                  program};
    args.insert(args.end(), script.begin(), script.end());
    return test_support::runProgram(args, options);
  }
  std::string rankPath(const std::string& name, int r) const { return *vol / name + "/" + rankFolderName(r); }
  std::string root(const std::string& name) const { return "/root:'" + (*vol / name) + "'"; }
  std::string log() const { return test_support::readFile(bin / "scripts.log"); }
  nlohmann::json report() const { return nlohmann::json::parse(test_support::readFile(reportPath())); }
  std::string reportPath() const { return bin / "report.json"; }
  std::string reportArg() const { return "/report:'" + reportPath() + "'"; }
  // One block, opened and closed once.
  void expectOneClosedBlock() const {
    const std::string text = log();
    EXPECT_EQ(count(text, "#QX Scripts log started"), 1) << text;
    EXPECT_EQ(count(text, "#QX Scripts log ended"), 1) << text;
  }
  void expectValidReport() const {
    const std::string command =
        std::string(
            "python3 -c \"import json,sys,jsonschema\n"
            "jsonschema.validate(json.load(open(sys.argv[1])),json.load(open(sys.argv[2])))\" '") +
        reportPath() + "' '" + QUILLET_SOURCE_DIR + "/docs/report.schema.json' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << "the report does not follow docs/report.schema.json";
  }
  // Every object line of a /progress:json standard error follows docs/progress.schema.json
  // (mpirun adds its own notice of a non-zero exit, which is not ours).
  void expectValidProgressLines(const std::string& err) const {
    const std::string lines = bin / "progress.jsonl";
    std::ofstream(lines) << err;
    const std::string command =
        std::string(
            "python3 -c \"import json,sys,jsonschema\n"
            "s=json.load(open(sys.argv[2]))\n"
            "[jsonschema.validate(json.loads(l),s) for l in open(sys.argv[1]) if l.startswith('{')]\" '") +
        lines + "' '" + QUILLET_SOURCE_DIR + "/docs/progress.schema.json' >'" + lines + ".out' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << "a line does not follow docs/progress.schema.json:\n"
                                               << err << test_support::readFile(lines + ".out");
  }

  std::unique_ptr<MountedVolume> vol;
  test_support::ScratchFolder bin;
  std::string program;
  test_support::ProgramOptions options;
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

// By a profile every rank makes a whole tree of the profile's shape, of its own seed; the report's
// figures are rank 0's tree and say so; the run's line verifies every tree, and a file deleted in
// rank 1's is missed there.
TEST_F(MpiProgramTest, ProfileMakesEveryRanksOwnTreeAndVerifies) {
  const std::vector<std::string> line{
      "/f",           "/minfiles:0", "/recurse", root("p"), "/profile:'desktop'",
      "/dirlimit:12", "/maxsize:4k", "/seed:7"};
  auto script = line;
  script.push_back(reportArg());
  const auto result = run(2, script);
  ASSERT_EQ(result.exitCode, 0) << result.err;
  std::map<std::string, std::int64_t> trees[2];
  for (int r = 0; r < 2; ++r) {
    trees[r] = filesBelow(rankPath("p", r));
    int folders = 0;
    for (const auto& e : fs::recursive_directory_iterator(rankPath("p", r)))
      folders += e.is_directory() ? 1 : 0;
    EXPECT_EQ(folders, 12) << "rank " << r;
    EXPECT_FALSE(trees[r].empty()) << "rank " << r;
  }
  EXPECT_NE(trees[0], trees[1]);
  const auto j = report();
  EXPECT_EQ(j["files_created"].get<std::size_t>(), trees[0].size() + trees[1].size());
  EXPECT_EQ(j["population"]["achieved_rank"], 0);
  EXPECT_EQ(j["population"]["file_sizes"]["achieved"]["count"].get<std::size_t>(), trees[0].size());
  EXPECT_NE(result.err.find("target against achieved (rank 0's tree; every rank makes its own):"),
            std::string::npos)
      << result.err;
  EXPECT_NE(log().find("Rank 1: Profile 'desktop': /dirlimit makes 12 of its 999 folders below the root."),
            std::string::npos)
      << log();
  expectValidReport();

  script = line;
  script.push_back("/v");
  const auto intact = run(2, script);
  EXPECT_EQ(intact.exitCode, 0) << intact.out << intact.err;
  EXPECT_EQ(count(intact.out, "missing 0 files; unexpected 0 files"), 2) << intact.out;
  fs::remove(rankPath("p", 1) + "/" + trees[1].begin()->first);
  const auto damaged = run(2, script);
  EXPECT_EQ(damaged.exitCode, 4) << damaged.out << damaged.err;
  EXPECT_EQ(count(damaged.out, "missing 1 file; unexpected 0 files"), 1) << damaged.out;
}

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
      ASSERT_EQ(test_support::readFile(a + "/" + path), test_support::readFile(b + "/" + path)) << path;
    }
  }
  const auto first = filesBelow(rankPath("a", 0)).begin()->first;
  EXPECT_NE(test_support::readFile(rankPath("a", 0) + "/" + first),
            test_support::readFile(rankPath("a", 1) + "/" + first));

  const auto verified =
      run(2, {"/s", "/allsize:2m", root("a"), "/minsize:4k", "/maxsize:128k", "/seed:99", "/v"});
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
      EXPECT_EQ(row["damaged_bytes"].get<std::int64_t>() > 0, r == checker)
          << "shift " << shift << " rank " << r;
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

// With the run's line and its seed, the report's verify holds the sums over all ranks, each row its
// rank's missing and unexpected counts and damaged paths; the console shows every rank's first
// damage and the seed the user gave, not a rank's own.
TEST_F(MpiProgramTest, VerifyTotalsAreSumsOverEveryRank) {
  const std::vector<std::string> line{"/s",           "/allsize:4m",  root("w"),
                                      "/minsize:16k", "/maxsize:64k", "/seed:9"};
  ASSERT_EQ(run(2, line).exitCode, 0);
  const auto damage = [](const std::string& path) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(5000);
    f.write("damage!", 7);
  };
  const auto files0 = filesBelow(rankPath("w", 0));
  const auto files1 = filesBelow(rankPath("w", 1));
  ASSERT_GE(files0.size(), 2u);
  const std::string damaged0 = files0.begin()->first;
  const std::string damaged1 = files1.begin()->first;
  const std::string deleted1 = std::next(files1.begin())->first;
  damage(rankPath("w", 0) + "/" + damaged0);
  damage(rankPath("w", 1) + "/" + damaged1);
  fs::remove(rankPath("w", 1) + "/" + deleted1);

  auto verify = line;
  verify.insert(verify.end(), {"/v", reportArg()});
  const auto result = run(2, verify);
  EXPECT_EQ(result.exitCode, 4) << result.out << result.err;
  // The same verify's /progress:json: rank 0's lines, exactly one of them final, with the agreed
  // result.
  auto jsonVerify = verify;
  jsonVerify.push_back("/progress:json");
  const auto json = run(2, jsonVerify);
  EXPECT_EQ(json.exitCode, 4) << json.err;
  EXPECT_EQ(count(json.err, "\"final\":true"), 1) << json.err;
  EXPECT_NE(json.err.find("\"result\":{\"code\":4,"), std::string::npos) << json.err;
  expectValidProgressLines(json.err);
  const auto j = report();
  const auto& v = j["verify"];
  const auto& rows = j["ranks"]["per_rank"];
  // Rank 0 checks rank 1's folder, rank 1 rank 0's.
  EXPECT_EQ(rows[0]["missing_files"], 1) << rows[0];
  EXPECT_EQ(rows[1]["missing_files"], 0) << rows[1];
  EXPECT_EQ(rows[0]["unexpected_files"], 0);
  EXPECT_EQ(rows[0]["damaged_paths"], nlohmann::json::array({damaged1})) << rows[0];
  EXPECT_EQ(rows[1]["damaged_paths"], nlohmann::json::array({damaged0})) << rows[1];
  EXPECT_EQ(v["files_checked"].get<std::int64_t>(),
            rows[0]["files_checked"].get<std::int64_t>() + rows[1]["files_checked"].get<std::int64_t>());
  EXPECT_EQ(v["files_checked"].get<std::int64_t>(),
            static_cast<std::int64_t>(files0.size() + files1.size() - 1));
  EXPECT_EQ(v["capacity"]["intact_bytes"].get<std::int64_t>(),
            rows[0]["intact_bytes"].get<std::int64_t>() + rows[1]["intact_bytes"].get<std::int64_t>());
  EXPECT_EQ(v["missing_files"], nlohmann::json::array({rankFolderName(1) + "/" + deleted1})) << v;
  EXPECT_EQ(v["damaged_files"].size(), 2u) << v;
  EXPECT_EQ(v["seed"].is_string() ? v["seed"].get<std::string>() : v["seed"].dump(), "9") << v;
  expectValidReport();
  // Each rank's first damage reaches the console; the seed line names the seed given.
  EXPECT_NE(result.out.find("Seed: 9 (given)"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("  " + damaged1 + " at "), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("Rank 1: First damage:"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("  " + damaged0 + " at "), std::string::npos) << result.out;
}

// Ranks given different lines reject the whole job, on every rank, before anything is made; the
// log and the report say so as for any rejected script.
TEST_F(MpiProgramTest, RanksGivenDifferentLinesRejectTheJob) {
  const std::vector<std::string> line{"/s", "/allsize:4m", root("d"), "/minsize:16k", reportArg()};
  std::vector<std::string> args{"--oversubscribe", "--allow-run-as-root", "-np", "1", program};
  args.insert(args.end(), line.begin(), line.end());
  args.insert(args.end(), {":", "-np", "1", program});
  args.insert(args.end(), line.begin(), line.end());
  for (const std::string& extra : {std::string("/threads:0"), std::string("/threads:2")}) {
    fs::remove(bin / "scripts.log");
    args.push_back(extra);
    const auto result = test_support::runProgram(args, options);
    args.pop_back();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_FALSE(fs::exists(*vol / "d")) << extra;
    expectOneClosedBlock();
    EXPECT_NE(log().find("Invalid script. The ranks were given different lines: rank 1's is not rank 0's"),
              std::string::npos)
        << log();
    const auto j = report();
    EXPECT_EQ(j["result"]["text"], "script rejected") << j["result"];
    EXPECT_FALSE(j["rejection"].is_null());
  }
}

// The single-machine program started as several processes of a job says to use the many-client
// one and does nothing; as the one process of a job it runs as usual.
TEST_F(MpiProgramTest, SingleMachineProgramUnderALauncherDoesNothing) {
  const std::string single = bin / "quillet";
  fs::copy_file(QUILLET_CONSOLE_BINARY, single, fs::copy_options::overwrite_existing);
  const std::vector<std::string> line{"/s", "/allsize:1m", root("q"), "/minsize:16k"};
  std::vector<std::string> args{"--oversubscribe", "--allow-run-as-root", "-np", "2", single};
  args.insert(args.end(), line.begin(), line.end());
  const auto many = test_support::runProgram(args, options);
  // Open MPI's launcher passes the first failing process's code on, and may end the others before
  // they have said anything.
  EXPECT_EQ(many.exitCode, 10) << many.err;
  EXPECT_GE(count(many.err, "Use quillet-mpi"), 1) << many.err;
  EXPECT_FALSE(fs::exists(*vol / "q"));
  EXPECT_FALSE(fs::exists(bin / "scripts.log"));
  args = {"--oversubscribe", "--allow-run-as-root", "-np",         "1", single, "/s",
          "/allsize:1m",     root("one"),           "/minsize:16k"};
  const auto one = test_support::runProgram(args, options);
  EXPECT_EQ(one.exitCode, 0) << one.err;
  EXPECT_EQ(bytesOf(filesBelow(*vol / "one")), 1 << 20);
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
    // Each rank met the full volume itself or was ended by another's, which its row names.
    EXPECT_EQ(row["result_code"], 1) << row;
    if (!row["ended_by"].is_null()) {
      EXPECT_EQ(row["ended_by"]["result_code"], 1) << row;
    }
    files += row["files"].get<std::int64_t>();
    bytes += row["bytes"].get<std::int64_t>();
  }
  EXPECT_EQ(files, j["files_created"].get<std::int64_t>());
  EXPECT_EQ(bytes, j["bytes_written"].get<std::int64_t>());
  EXPECT_GT(bytes, 16 << 20);
  // Rank 0's object lines: one final line, with the agreed result and the sums of all ranks.
  EXPECT_EQ(count(result.err, "\"final\":true"), 1) << result.err;
  EXPECT_NE(result.err.find("\"result\":{\"code\":1,"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("\"files_created\":" + std::to_string(files) + ","), std::string::npos)
      << result.err;
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
  EXPECT_NE(log().find("Rank 1: Incorrect path - '" + (rankPath("p", 1)) + "'"), std::string::npos) << log();
  EXPECT_NE(log().find("Rank 1 ended the run: a path cannot be created."), std::string::npos) << log();
  const auto j = report();
  EXPECT_EQ(j["result"]["code"], 8);
  EXPECT_EQ(j["ranks"]["decided_by_rank"], 1);
  EXPECT_EQ(j["ranks"]["per_rank"][1]["result_code"], 8);
  EXPECT_EQ(j["ranks"]["per_rank"][1]["ended_by"], nullptr);
  // Rank 0 stopped after the file in hand instead of writing its 32 Mb share, and its row says
  // what ended it: rank 1's failure, whose code it ends with, not a stop of its own.
  const auto& stopped = j["ranks"]["per_rank"][0];
  EXPECT_LT(stopped["bytes"].get<std::int64_t>(), 32 << 20);
  EXPECT_EQ(stopped["result_code"], 8) << stopped;
  EXPECT_EQ(stopped["stopped_by_signal"], false) << stopped;
  EXPECT_EQ(stopped["ended_by"], (nlohmann::json{{"rank", 1}, {"result_code", 8}})) << stopped;
  expectValidReport();

  test_support::ScratchFolder outside;
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
  ASSERT_EQ(test_support::runProgram({"/s", "/allsize:1m", root("one"), "/minsize:4k"}, options).exitCode, 0);
  EXPECT_EQ(bytesOf(filesBelow(folder + "/" + rankFolderName(0))), 1 << 20);
  options.whileRunning = [&](int pid) {
    if (waitForFiles(*vol / "two")) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(pid, SIGINT);
  };
  const auto stopped = test_support::runProgram({"/s", "/allsize:2g", root("two"), "/minsize:4k"}, options);
  EXPECT_EQ(stopped.exitCode, 2) << stopped.err;
}

// A rank killed mid-run ends the job with an error that names it, well before the time limit; with
// the launcher's default settings rank 0 still closes its block and writes the report, which say
// why the figures are rank 0's own.
TEST_F(MpiProgramTest, KilledRankEndsTheJobInsteadOfHanging) {
  const std::string folder = rankPath("k", 2);
  options.timeoutSeconds = 60;
  options.whileRunning = [&](int) {
    if (!waitForFiles(folder)) return;
    for (const int pid : rankPids(program, 2)) ::kill(pid, SIGKILL);
  };
  const auto started = std::chrono::steady_clock::now();
  const auto result = run(4, {"/s", "/allsize:4g", root("k"), "/minsize:4k", reportArg()});
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_NE(result.signal, SIGKILL) << "the job hung until the test's limit";
  EXPECT_NE(result.exitCode, 0);
  EXPECT_LT(seconds, 30);
  EXPECT_NE((result.out + result.err).find("rank 2"), std::string::npos) << result.out << result.err;
  expectOneClosedBlock();
  EXPECT_NE(log().find("A rank ended without its part (killed, or its node lost)"), std::string::npos)
      << log();
  ASSERT_TRUE(fs::exists(reportPath())) << result.err;
  EXPECT_EQ(report()["result"]["code"], 9);
  expectValidReport();
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
  const auto result = test_support::runProgram(
      {"--oversubscribe", "--allow-run-as-root", "-x", "QUILLET_MPI_SILENCE_SECONDS=3", "-np", "2", program,
       "/s", "/allsize:8g", root("h"), "/minsize:4k", "/maxsize:4k"},
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
