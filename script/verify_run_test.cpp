// Verify through the built program on real volumes: trees of self-identifying files are made here
// block for block as a run makes them, damaged on purpose, and the program must name every damage
// with its class and byte offset, and nothing else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>
#include <vector>

#include "engine/verify.h"
#include "script/verify_test_support.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using namespace verify_test;

TEST_F(VerifyProgramTest, IntactTreeIsCleanAndLinksAndHiddenEntriesAreNeverRead) {
  makeFile(root(), "a", 5000);
  makeFile(root(), "b", 1024);
  makeFile(root(), "c", 100);
  makeFile(root(), "sub/d", (3 << 20) + 7);
  makeFile(root(), "sub/deeper/e", 65536);
  // Garbage in places a walk must leave alone: a hidden folder and file, links to a file and a
  // folder outside the root.
  stdfs::create_directories(root() + "/.hidden");
  writeBytes(root() + "/.hidden/x", std::vector<std::uint8_t>(4096, 0x41));
  writeBytes(root() + "/.y", std::vector<std::uint8_t>(4096, 0x42));
  writeBytes(vol->path() + "/outside", std::vector<std::uint8_t>(4096, 0x43));
  stdfs::create_symlink(vol->path() + "/outside", root() + "/link");
  stdfs::create_directory_symlink(vol->path() + "/.", root() + "/sub/folderlink");

  const auto r = verify();
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Intact: 3.07 Mb in 5 files; corrupted 0 b; misdirected 0 b; stale 0 b; zeroed 0 b; "
                       "unrecognised 0 b"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Seed: 77 (carried by most files' first blocks)"), std::string::npos) << r.out;
  const json rep = report();
  ASSERT_TRUE(rep.is_object());
  EXPECT_EQ(rep["mode"], "verify");
  EXPECT_EQ(rep["result"]["code"], 0);
  EXPECT_EQ(rep["verify"]["files_checked"], 5);
  EXPECT_EQ(rep["verify"]["classes"]["ok"]["bytes"], 5000 + 1024 + 100 + (3 << 20) + 7 + 65536);
  EXPECT_TRUE(rep["verify"]["damaged_files"].empty());
  const std::string lg = log();
  EXPECT_NE(lg.find("Verify of '" + root() + "' started."), std::string::npos) << lg;
  EXPECT_EQ(lg.find("Damaged file"), std::string::npos) << lg;
}

TEST_F(VerifyProgramTest, EveryDamageIsFoundWithItsClassAndOffset) {
  for (const char* name :
       {"flip", "header", "source", "target", "stale", "zeroed", "cut", "grown", "clean"}) {
    makeFile(root(), name, 20000);
  }
  // A flipped bit in a block's body, and one in a block's identity header.
  auto flip = readBytes(root() + "/flip");
  patch(root() + "/flip", 5003, {static_cast<std::uint8_t>(flip[5003] ^ 0x10)});
  auto header = readBytes(root() + "/header");
  patch(root() + "/header", 1024 + 2, {static_cast<std::uint8_t>(header[1026] ^ 0x01)});
  // A block of another file of the run lands at offset 2048 of target.
  const auto source = readBytes(root() + "/source");
  patch(root() + "/target", 2048, std::vector<std::uint8_t>(source.begin() + 6144, source.begin() + 7168));
  // The same-named file of another seed.
  makeFile(root(), "stale", 20000, kSeed + 1);
  patch(root() + "/zeroed", 8192, std::vector<std::uint8_t>(4096, 0));
  ASSERT_EQ(::truncate((root() + "/cut").c_str(), 3000), 0);
  ASSERT_EQ(::truncate((root() + "/grown").c_str(), 22000), 0);

  const auto r = verify({"/seed:77"});
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_NE(r.out.find("Seed: 77 (given)"), std::string::npos) << r.out;
  EXPECT_NE(
      r.out.find("corrupted 2.00 Kb in 2 files; misdirected 1.00 Kb in 1 file; stale 19.53 Kb in 1 file; "
                 "zeroed 4.00 Kb in 1 file; unrecognised 0 b; truncated 1 file; extended 1 file"),
      std::string::npos)
      << r.out;
  const json rep = report();
  ASSERT_TRUE(rep.is_object());
  EXPECT_EQ(rep["result"]["code"], 4);
  const auto range = [&](const std::string& file) { return damaged(rep, file)["ranges"][0]; };
  EXPECT_EQ(range("flip")["class"], "corrupted");
  EXPECT_EQ(range("flip")["offset_bytes"], 4096);
  EXPECT_EQ(range("flip")["length_bytes"], 1024);
  EXPECT_EQ(range("header")["class"], "corrupted");
  EXPECT_EQ(range("header")["offset_bytes"], 1024);
  EXPECT_EQ(range("target")["class"], "misdirected");
  EXPECT_EQ(range("target")["offset_bytes"], 2048);
  EXPECT_EQ(range("target")["found"]["file_id"], std::to_string(fileIdentity("source")));
  EXPECT_EQ(range("target")["found"]["offset_bytes"], 6144);
  EXPECT_EQ(range("stale")["class"], "stale");
  EXPECT_EQ(range("stale")["offset_bytes"], 0);
  EXPECT_EQ(range("stale")["length_bytes"], 20000);
  EXPECT_EQ(range("stale")["found"]["seed"], std::to_string(kSeed + 1));
  EXPECT_EQ(range("zeroed")["class"], "zeroed");
  EXPECT_EQ(range("zeroed")["offset_bytes"], 8192);
  EXPECT_EQ(range("zeroed")["length_bytes"], 4096);
  EXPECT_EQ(damaged(rep, "cut")["size"], "truncated");
  EXPECT_EQ(damaged(rep, "cut")["carried_size_bytes"], 20000);
  EXPECT_TRUE(damaged(rep, "cut")["ranges"].empty());  // what is left is intact
  EXPECT_EQ(damaged(rep, "grown")["size"], "extended");
  EXPECT_EQ(rep["verify"]["extended"]["bytes"], 2000);
  EXPECT_TRUE(damaged(rep, "clean").is_null());
  EXPECT_EQ(rep["verify"]["damaged_files"].size(), 7u);
  // The console names the first damaged block with both identities.
  EXPECT_NE(r.out.find("flip at 4,096: corrupted (1,024 bytes); expected seed 77"), std::string::npos)
      << r.out;
  const std::string lg = log();
  EXPECT_NE(lg.find("Damaged file 'target': misdirected 1,024 b; first at 2,048."), std::string::npos) << lg;
}

// A fake-capacity drive wraps around: what was written past its real size overwrote the start, so
// the later files read back as the earlier files' blocks.
TEST_F(VerifyProgramTest, WrapAroundDriveShowsItsTrueCapacity) {
  constexpr std::int64_t kFile = 256 << 10;
  for (int i = 0; i < 8; ++i) makeFile(root(), "w" + std::to_string(i), kFile);
  for (int i = 4; i < 8; ++i)
    writeBytes(root() + "/w" + std::to_string(i), readBytes(root() + "/w" + std::to_string(i - 4)));

  const auto r = verify();
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_NE(r.out.find("Damage found: 4 of 8 files damaged; intact 1.00 Mb; corrupted 0 b; misdirected 1.00 "
                       "Mb in 4 files"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Capacity: 1.00 Mb (1,048,576 bytes) read back intact; the volume claims"),
            std::string::npos)
      << r.out;
  const json rep = report();
  EXPECT_EQ(rep["verify"]["capacity"]["intact_bytes"], 4 * kFile);
  EXPECT_GT(rep["verify"]["capacity"]["volume_total_bytes"].get<std::int64_t>(), 0);
}

// A fill to full may leave its last file short of the size its blocks carry (the volume filled
// mid-write): intact, it is no damage while the volume has no room for the rest; two such files are.
TEST_F(VerifyProgramTest, OneIntactFileCutShortOnAFullVolumeIsNoDamage) {
  makeFile(root(), "a", 300000);
  makeFile(root(), "b", 300000);
  ASSERT_EQ(::truncate((root() + "/b").c_str(), 100000), 0);
  // The rest of the volume taken by a hidden file, which verify leaves alone.
  {
    std::ofstream filler(root() + "/.filler", std::ios::binary);
    const std::vector<char> chunk(1 << 20, 'x');
    while (filler.write(chunk.data(), static_cast<std::streamsize>(chunk.size()))) {
    }
  }
  auto r = verify();
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Cut short where the run ended: b (100000 of 300000 bytes; the volume filled"),
            std::string::npos)
      << r.out;
  ASSERT_EQ(::truncate((root() + "/a").c_str(), 200000), 0);
  r = verify();
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_NE(r.out.find("truncated 2 files"), std::string::npos) << r.out;
}

TEST_F(VerifyProgramTest, AllocationOnlyFilesVerifyBySize) {
  stdfs::create_directories(root());
  for (const char* name : {"a1", "a2"}) {
    const int fd = ::open((root() + "/" + name).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fallocate(fd, 0, 0, 1 << 20), 0);
    ::close(fd);
  }
  auto r = verify();
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("allocation-only 2.00 Mb in 2 files"), std::string::npos) << r.out;

  // A sparse file holds no room for its size: an allocation-only run never makes one.
  writeBytes(root() + "/sparse", {});
  ASSERT_EQ(::truncate((root() + "/sparse").c_str(), 1 << 20), 0);
  r = verify();
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_NE(r.out.find("(1 without their room)"), std::string::npos) << r.out;
  EXPECT_EQ(report()["verify"]["allocation_only"]["unreserved_files"], 1);
}

TEST_F(VerifyProgramTest, ZeroedFileOfAFilledRunIsDamageNotAllocation) {
  makeFile(root(), "filled", 8192);
  writeBytes(root() + "/blank", std::vector<std::uint8_t>(8192, 0));
  const auto r = verify();
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_NE(r.out.find("zeroed 8.00 Kb in 1 file"), std::string::npos) << r.out;
}

TEST_F(VerifyProgramTest, BadParametersAreRejectedInTheLog) {
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"/v"},
                                             {"/v", "/root:" + root()},
                                             {"/v", "/root:'" + root() + "'", "/seed:-1"},
                                             {"/v", "/root:'" + root() + "'", "/seed:18446744073709551616"},
                                             {"/v", "/root:'" + root() + "'", "/seed:1", "/seed:2"},
                                             {"/v", "/root:'" + root() + "'", "/bogus:1"}}) {
    const auto r = run(args);
    EXPECT_EQ(r.exitCode, 0) << args.back();
  }
  const std::string lg = log();
  EXPECT_NE(lg.find("Invalid script. /root parameter is absent."), std::string::npos) << lg;
  EXPECT_NE(lg.find("Invalid script. Root parameter must be in ' symbols."), std::string::npos) << lg;
  EXPECT_NE(
      lg.find("Invalid script. Incorrect seed, a whole number from 0 to 18446744073709551615 expected."),
      std::string::npos);
  EXPECT_NE(lg.find("Invalid script. Repitition /seed parameter."), std::string::npos) << lg;
  EXPECT_NE(lg.find("Invalid script parameter '/bogus'."), std::string::npos) << lg;
  // A root that is not there is a path failure, not a clean verify.
  const auto missing = run({"/v", "/root:'" + vol->path() + "/nothing'"});
  EXPECT_EQ(missing.exitCode, 8) << missing.out << missing.err;
}

TEST_F(VerifyProgramTest, CtrlCStopsAVerifyWithExitCodeTwo) {
  // Enough small files that the check outlasts the signal by far.
  for (int i = 0; i < 20000; ++i) makeFile(root(), "s/" + std::to_string(i), 1024);
  options.whileRunning = [&](int pid) {
    for (int i = 0; i < 500 && log().find("Verify of") == std::string::npos; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGINT);
  };
  options.timeoutSeconds = 60;
  const auto r = verify();
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_NE(log().find("Verify stopped before every file was checked."), std::string::npos) << log();
  EXPECT_EQ(report()["result"]["code"], 2);
}

// With the run's own line, verify knows which files the run made: a deleted one is missing, an
// added one unexpected, and the files a run could not make on a full volume are allowed.
TEST_F(VerifyProgramTest, RunLineTellsMissingAndUnexpectedFiles) {
  const std::vector<std::string> line = {"/s",           "/allsize:40m", "/root:'" + root() + "'",
                                         "/minsize:1m",  "/maxsize:3m",  "/seed:31",
                                         "/progress:off"};
  ASSERT_EQ(run(line).exitCode, 0);
  auto withV = line;
  withV.push_back("/v");
  withV.push_back("/report:'" + vol->path() + "/report.json'");
  auto r = run(withV);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("; missing 0 files; unexpected 0 files"), std::string::npos) << r.out;

  ASSERT_TRUE(stdfs::remove(root() + "/c"));
  makeFile(root(), "zz", 4096);  // a file of the run's seed that the run never made
  r = run(withV);
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_NE(r.out.find("missing 1 file; unexpected 1 file"), std::string::npos) << r.out;
  const json rep = report();
  EXPECT_EQ(rep["verify"]["missing_files"], json::array({"c"}));
  EXPECT_EQ(rep["verify"]["unexpected_files"], json::array({"zz"}));
  EXPECT_NE(log().find("Missing file 'c'."), std::string::npos);

  // Without its seed the run's files cannot be told: said, and nothing is called missing.
  auto noSeed = withV;
  noSeed.erase(std::find(noSeed.begin(), noSeed.end(), "/seed:31"));
  r = run(noSeed);
  EXPECT_EQ(report()["verify"]["missing_files"], nullptr);
  EXPECT_NE(log().find("Missing and unexpected files are told only with the run's /seed."),
            std::string::npos);
}

TEST_F(VerifyProgramTest, RunLineOfAMadeUpTreeKnowsEveryFolderFile) {
  // The classic make-up, and a profile's tree (its folders, counts and extensions from the seed),
  // also filled by several writers: a folder's planned files follow its place in the tree, not the
  // writer that fills it. A measured profile with empty files: those the plan made empty are intact.
  const std::string measured = vol->path() + "/measured.json";
  std::ofstream(measured)
      << R"({"schema": "quillet-profile/1", "name": "measured", "files": 100, "folders": 10,
    "bytes": 300000, "fileSizes": {"body": {"mu": 7, "sigma": 1}, "tail": {"share": 0, "start": 0, "alpha": 0},
      "zeroShare": 0.3, "quantiles": [[0, 0], [0.3, 0], [0.5, 1000], [0.9, 8000], [0.999, 20000], [1, 40000]],
      "count": 100, "mean": 3000},
    "filesPerFolder": {"buckets": [[0, 6, 1]]}, "subfoldersPerFolder": {"buckets": [[0, 2, 1]]},
    "fileDepth": {"buckets": [[0, 3, 1]]}, "folderDepth": {"buckets": [[1, 3, 1]]},
    "extensions": [{"extension": "txt", "share": 1}], "otherExtensionsShare": 0})";
  for (const std::vector<std::string>& shape :
       {std::vector<std::string>{"/minfiles:2", "/maxfiles:5", "/minsize:1k", "/maxsize:50k", "/rootsize:3",
                                 "/treedeep:3", "/dirlimit:20"},
        std::vector<std::string>{"/minfiles:0", "/maxfiles:6", "/maxsize:50k", "/dirlimit:25",
                                 "/profile:'desktop'"},
        std::vector<std::string>{"/minfiles:0", "/maxfiles:40", "/maxsize:20k", "/dirlimit:40", "/threads:3",
                                 "/profile:'desktop'"},
        std::vector<std::string>{"/minfiles:0", "/dirlimit:25", "/profile:'" + measured + "'"}}) {
    SCOPED_TRACE(shape.back());
    stdfs::remove_all(root());
    std::vector<std::string> line = {"/f", "/root:'" + root() + "'", "/recurse", "/seed:8", "/progress:off"};
    line.insert(line.end(), shape.begin(), shape.end());
    ASSERT_EQ(run(line).exitCode, 0);
    if (shape.back().find(measured) != std::string::npos) {
      bool empty = false;
      for (const auto& e : stdfs::recursive_directory_iterator(root())) {
        empty |= e.is_regular_file() && e.file_size() == 0;
      }
      EXPECT_TRUE(empty);
    }
    line.push_back("/v");
    auto r = run(line);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("; missing 0 files; unexpected 0 files"), std::string::npos) << r.out;
    std::string deep;
    for (const auto& e : stdfs::recursive_directory_iterator(root())) {
      if (e.is_regular_file() && e.path().parent_path() != stdfs::path(root())) deep = e.path().string();
    }
    ASSERT_FALSE(deep.empty());
    ASSERT_TRUE(stdfs::remove(deep));
    r = run(line);
    EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
    EXPECT_NE(r.out.find("missing: " + deep.substr(root().size() + 1)), std::string::npos) << r.out;
  }
}

// Several writers by files number fill several folders at once and share /limsize file by file,
// so which files the limit cuts depends on timing: with its line (and its writers) the tree is
// intact whichever files they were, and a file lost from it is still missing.
TEST_F(VerifyProgramTest, SeveralWritersReachingTheSizeLimitVerifyIntact) {
  const std::vector<std::vector<std::string>> lines = {
      {"/minfiles:2", "/maxfiles:2", "/minsize:1m", "/maxsize:3m", "/limsize:7m", "/threads:4", "/seed:1"},
      {"/minfiles:3", "/maxfiles:3", "/minsize:1m", "/maxsize:2m", "/limsize:9m", "/threads:4", "/seed:5"},
      {"/minfiles:3", "/maxfiles:3", "/minsize:1m", "/maxsize:2m", "/limsize:9m", "/threads:2", "/seed:6"},
  };
  for (const auto& keys : lines) {
    std::vector<std::string> line = {
        "/f",          "/root:'" + root() + "'", "/recurse", "/rootsize:3", "/treedeep:1",
        "/dirlimit:4", "/progress:off"};
    line.insert(line.end(), keys.begin(), keys.end());
    for (int attempt = 0; attempt < 3; ++attempt) {
      ASSERT_TRUE(test_support::removeTree(root()));
      ASSERT_EQ(run(line).exitCode, 6) << keys[4];  // the limit was reached
      auto withV = line;
      withV.push_back("/v");
      auto got = run(withV);
      EXPECT_EQ(got.exitCode, 0) << keys[4] << keys[5] << "\n" << got.out << got.err;
      EXPECT_NE(got.out.find("; missing 0 files; unexpected 0 files"), std::string::npos) << got.out;
    }
    // A file replaced by the run's file of another size took its planned share of the limit all
    // the same: it alone is resized, and neither the file the limit cut nor a file never made is
    // blamed. (The first of two files in a folder: the limit cuts a folder's last file.)
    const auto folderOf = [](const std::string& p) { return p.substr(0, p.rfind('/') + 1); };
    const auto files = test_support::filesBelow(root());
    auto first = files.begin();
    while (first != files.end() &&
           (std::next(first) == files.end() || folderOf(first->first) != folderOf(std::next(first)->first))) {
      ++first;
    }
    if (first != files.end()) {
      const auto& [replaced, size] = *first;
      const std::uint64_t seed = std::stoull(keys[6].substr(6));
      makeFile(root(), replaced, size - 1000, seed);
      auto withV = line;
      withV.push_back("/v");
      withV.push_back("/report:'" + vol->path() + "/report.json'");
      const auto got = run(withV);
      EXPECT_EQ(got.exitCode, 4) << got.out << got.err;
      const json rep = report();
      ASSERT_EQ(rep["verify"]["damaged_files"].size(), 1u) << got.out;
      EXPECT_EQ(rep["verify"]["damaged_files"][0]["path"], replaced) << got.out;
      EXPECT_FALSE(rep["verify"]["damaged_files"][0]["planned_size_bytes"].is_null()) << got.out;
      EXPECT_EQ(rep["verify"]["missing_files"], json::array()) << got.out;
      makeFile(root(), replaced, size, seed);
    }
    // 9 MiB of files of at most 2 MiB over 4 folders: one holds two, and the first of them is lost.
    if (keys[0] != "/minfiles:3") continue;
    const auto& folder = folderOf;
    std::string lost;
    for (auto it = files.begin(); lost.empty() && std::next(it) != files.end(); ++it) {
      if (folder(it->first) == folder(std::next(it)->first)) lost = it->first;
    }
    ASSERT_FALSE(lost.empty());
    ASSERT_TRUE(stdfs::remove(root() + "/" + lost));
    auto withV = line;
    withV.push_back("/v");
    auto got = run(withV);
    EXPECT_EQ(got.exitCode, 4) << got.out << got.err;
    EXPECT_NE(got.out.find("  missing: " + lost + "\n"), std::string::npos) << lost << "\n" << got.out;
    // Put back, and the last file of that folder lost instead: the files no longer add up to the
    // limit.
    makeFile(root(), lost, files.at(lost), std::stoull(keys[6].substr(6)));
    ASSERT_EQ(run(withV).exitCode, 0);
    std::string last;
    for (const auto& [path, size] : files) {
      if (folder(path) == folder(lost)) last = path;
    }
    ASSERT_TRUE(stdfs::remove(root() + "/" + last));
    got = run(withV);
    EXPECT_EQ(got.exitCode, 4) << got.out << got.err;
    EXPECT_NE(got.out.find("  missing: " + last + "\n"), std::string::npos) << last << "\n" << got.out;
  }
}

// A run walks the sub-folders in the order the volume lists them (here newest first, on ext4 by
// hash), not by name: stopped with some folders filled and others not, its line re-derives that
// same order, so the unfilled folders are its unmade tail, not missing files.
TEST_F(VerifyProgramTest, StoppedTreeRunVerifiesCleanWithItsLine) {
  const std::vector<std::string> line = {
      "/f",           "/root:'" + root() + "'", "/minfiles:2", "/maxfiles:2",
      "/minsize:24m", "/maxsize:24m",           "/recurse",    "/rootsize:2",
      "/treedeep:1",  "/dirlimit:10",           "/seed:12",    "/progress:off"};
  const auto filesBelowSubfolders = [&] {
    int n = 0;
    for (const auto& [path, size] : test_support::filesBelow(root()))
      n += path.find('/') != std::string::npos;
    return n;
  };
  options.whileRunning = [&](int pid) {
    // The first folder walked is full and the first file of the second begun: the stop comes while
    // that file is written (a stop between two files would leave no sign of the run's end).
    for (int i = 0; i < 2000 && filesBelowSubfolders() < 3; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(pid, SIGINT);
  };
  ASSERT_EQ(run(line).exitCode, 2);
  options.whileRunning = nullptr;
  const int made = filesBelowSubfolders();
  ASSERT_GE(made, 3);
  ASSERT_LT(made, 4) << "the run ended before the stop";
  auto withV = line;
  withV.push_back("/v");
  const auto r = run(withV);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("missing 0 files; unexpected 0 files"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("after the run ended early"), std::string::npos) << r.out;
}

// A run stopped mid-file leaves that file short and the rest of its plan unmade: verified with the
// run's line, neither is damage.
TEST_F(VerifyProgramTest, StoppedRunVerifiesCleanWithItsLine) {
  const std::vector<std::string> line = {"/s",           "/allsize:140m", "/root:'" + root() + "'",
                                         "/minsize:20m", "/seed:3",       "/progress:off"};
  options.whileRunning = [&](int pid) {
    for (int i = 0; i < 500 && !stdfs::exists(root() + "/b"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ::kill(pid, SIGINT);
  };
  const int generated = run(line).exitCode;
  options.whileRunning = nullptr;
  auto withV = line;
  withV.push_back("/v");
  const auto r = run(withV);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("missing 0 files; unexpected 0 files"), std::string::npos) << r.out;
  if (generated == 2) {
    EXPECT_NE(r.out.find("after the run ended early"), std::string::npos) << r.out;
  }
}

TEST_F(VerifyProgramTest, RunThatEndedFullMayLackItsTail) {
  const std::vector<std::string> line = {"/s",           "/allsize:400m", "/root:'" + root() + "'",
                                         "/minsize:8m",  "/maxsize:16m",  "/seed:5",
                                         "/progress:off"};
  ASSERT_EQ(run(line).exitCode, 1);  // the volume filled
  auto withV = line;
  withV.push_back("/v");
  const auto r = run(withV);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("missing 0 files"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("after the run ended early (the volume has no room for"), std::string::npos) << r.out;
}

// Masked names come from the run's parameters as much as its sizes do: every mask form, by all
// size and by files number, with and without a made-up tree, re-derives the very names made.
TEST_F(VerifyProgramTest, RunLineWithAFileMaskKnowsItsFiles) {
  const std::string r = "/root:'" + root() + "'";
  const std::vector<std::vector<std::string>> lines = {
      {"/s", "/allsize:20m", r, "/minsize:1m", "/maxsize:3m", "/seed:42", "/filemask:'?'"},
      {"/s", "/allsize:20m", r, "/minsize:1m", "/maxsize:3m", "/seed:42", "/filemask:'????????.???'"},
      {"/s", "/allsize:5m", r, "/minsize:100k", "/maxsize:300k", "/seed:3", "/filemask:'x*.dat'"},
      {"/f", "/minfiles:3", "/maxfiles:6", r, "/minsize:1k", "/maxsize:20k", "/seed:5", "/filemask:'x??'"},
      {"/f", "/minfiles:2", "/maxfiles:4", "/recurse", r, "/minsize:1k", "/maxsize:20k", "/seed:6",
       "/filemask:'????????.???'"},
      {"/f", "/minfiles:2", "/maxfiles:4", "/recurse", "/rootsize:2", "/treedeep:2", "/dirlimit:50",
       "/dirmask:'????????'", r, "/minsize:1k", "/maxsize:20k", "/seed:7", "/filemask:'x??'"},
  };
  for (auto line : lines) {
    ASSERT_TRUE(test_support::removeTree(root()));
    line.push_back("/progress:off");
    ASSERT_EQ(run(line).exitCode, 0) << line[6];
    if (line[1] == "/minfiles:2" && line[3] != "/rootsize:2") {
      // /recurse alone fills the folders it finds: give it one, and run again into that tree.
      ASSERT_TRUE(test_support::removeTree(root()));
      stdfs::create_directories(root() + "/sub");
      ASSERT_EQ(run(line).exitCode, 0);
    }
    auto withV = line;
    withV.push_back("/v");
    auto got = run(withV);
    EXPECT_EQ(got.exitCode, 0) << got.out << got.err;
    EXPECT_NE(got.out.find("; missing 0 files; unexpected 0 files"), std::string::npos) << got.out;
    const auto files = test_support::filesBelow(root());
    ASSERT_GE(files.size(), 2u);
    ASSERT_TRUE(stdfs::remove(root() + "/" + files.begin()->first));
    got = run(withV);
    EXPECT_EQ(got.exitCode, 4) << got.out << got.err;
    EXPECT_NE(got.out.find("; missing 1 file; unexpected 0 files"), std::string::npos) << got.out;
    EXPECT_NE(got.out.find("  missing: " + files.begin()->first), std::string::npos) << got.out;
  }
}

// Several writers filling the volume each leave a file cut short where it filled, and a writer
// the system ran less may hold its file from far back: with the run's line the tree is intact,
// for any number of writers, with or without a flush per file, on tmpfs and on ext4.
}  // namespace
}  // namespace quillet
