// The verify engine over the in-memory file system: a seeded run made by the engine itself checks
// clean with its seed told from the data, links are never opened, and the dry run that re-derives
// a run's files gives exactly the files the run made.
#include "engine/verify.h"

#include <gtest/gtest.h>

#include <set>

#include "engine/verify_plan.h"
#include "engine/worker_thread.h"
#include "testing/engine_harness.h"
#include "testing/fake_file_system.h"

namespace quillet {
namespace {

using test_support::EngineHarness;
using test_support::FakeFileSystem;

// Writes the first `length` bytes of the identified content of a file whose blocks carry `carried`
// bytes, as a run would have left it (cut short when length < carried).
void writeIdentifiedFile(FakeFileSystem& fs, const std::string& path, std::uint64_t seed,
                         std::uint64_t carried, std::size_t length) {
  auto file = fs.createNewFile(path);
  ASSERT_TRUE(file.ok());
  std::vector<std::uint8_t> bytes(length);
  fillIdentifiedContent(seed, fileIdentity(path.substr(std::string("/root/").size())), carried, 0,
                        bytes.data(), bytes.size());
  std::size_t written = 0;
  ASSERT_TRUE(file.value()->write(bytes.data(), bytes.size(), written).ok());
  ASSERT_TRUE(file.value()->close().ok());
}

void seededFilesNumberRun(GenerationJob& job) {
  job.rootFolder = "/root/";
  job.byAllSize = false;
  job.recurseSubfolders = true;
  job.minFiles = 2;
  job.maxFiles = 9;
  job.minFileSize = 1;
  job.maxFileSize = 70000;
  job.runSeed = 4242;
  job.seedGiven = true;
}

TEST(VerifyEngineTest, SeededRunChecksCleanAndItsLinksAreNeverOpened) {
  FakeFileSystem fs;
  fs.keepContent = true;
  fs.addFolder("/root");
  fs.addFolder("/root/sub");
  EngineHarness h{fs};
  seededFilesNumberRun(h.job);
  ASSERT_EQ(runWorker(h.job, h.services), GenerationResult::Done);
  fs.addLink("/root/link");
  fs.addLink("/root/sub/link");
  std::int64_t made = 0;
  for (const auto& [path, file] : fs.files()) made += file.size;

  VerifyJob job;
  job.rootFolder = "/root/";
  VerifyResult result;
  runVerify(job, fs, result);
  EXPECT_TRUE(job.finished);
  EXPECT_EQ(result.seedSource, SeedSource::FromData);
  EXPECT_EQ(result.seed, 4242u);
  EXPECT_EQ(result.files, h.job.filesCreated.load());
  EXPECT_EQ(result.intactBytes(), made);
  EXPECT_FALSE(result.anyDamage());
  EXPECT_EQ(job.bytesChecked.load(), made);
  for (const auto& e : fs.effects()) EXPECT_EQ(e.find("link"), std::string::npos) << e;

  // Checked against another seed, every block is another run's.
  VerifyJob other;
  other.rootFolder = "/root/";
  other.seed = 1;
  runVerify(other, fs, result);
  EXPECT_EQ(result.intactBytes(), 0);
  EXPECT_EQ(result.classBytes[static_cast<std::size_t>(BlockClass::Stale)], made);
}

TEST(VerifyEngineTest, DryRunGivesTheFilesTheRunMade) {
  FakeFileSystem fs;
  fs.addFolder("/root");
  fs.addFolder("/root/a");
  fs.addFolder("/root/a/b");
  EngineHarness h{fs};
  seededFilesNumberRun(h.job);
  ASSERT_EQ(runWorker(h.job, h.services), GenerationResult::Done);
  std::set<std::pair<std::string, std::int64_t>> made;
  for (const auto& [path, file] : fs.files())
    made.emplace(path.substr(std::string("/root/").size()), file.size);

  GenerationJob planJob;
  seededFilesNumberRun(planJob);
  PlanVolume volume{4096, "EXT4", std::int64_t{1} << 50, std::int64_t{1} << 51};
  std::string why;
  // The stand-in volume holds the tree the run found.
  const auto plan = planRun(
      planJob, volume,
      [](GenerationJob&, FileSystem& planFs) {
        ASSERT_TRUE(planFs.createFolder("/root/a").ok());
        ASSERT_TRUE(planFs.createFolder("/root/a/b").ok());
      },
      why);
  ASSERT_TRUE(plan.has_value()) << why;
  std::set<std::pair<std::string, std::int64_t>> planned;
  for (const auto& p : *plan) planned.emplace(p.relativePath, p.size);
  EXPECT_EQ(planned, made);
  EXPECT_EQ(plan->size(), made.size());

  GenerationJob unseeded;
  seededFilesNumberRun(unseeded);
  unseeded.seedGiven = false;
  EXPECT_FALSE(planRun(
                   unseeded, volume, [](GenerationJob&, FileSystem&) {}, why)
                   .has_value());
  EXPECT_NE(why.find("/seed"), std::string::npos);
}

// Where a run ended, files may be absent because they were never made: the tail after the last
// file made, and, with several writers, a file whose creation met the full volume among the files
// in flight. A file made and lost since left its room free: with that room free it is missing, and
// the room it freed does not make the file the full volume cut read as resized.
TEST(VerifyPlanTest, AFileLostWhereTheRunEndedIsMissingNotUnmade) {
  constexpr std::uint64_t kSeed = 31;
  struct Found {
    const char* path;
    std::int64_t length;   // -1: absent
    std::int64_t carried;  // the size its blocks carry
  };
  struct Row {
    const char* what;
    int writers;
    std::int64_t freeBytes;
    std::vector<Found> files;  // the plan's files in order, 8192 bytes each
    std::vector<std::string> missing;
    std::int64_t tail;
    bool damaged;
    std::int64_t resized = 0;
    const char* reasonHas = "";
  };
  const std::vector<Row> rows = {
      {"stopped, e lost among the files in flight",
       4,
       std::int64_t{1} << 30,
       {{"a", 8192, 8192},
        {"b", 8192, 8192},
        {"c", 8192, 8192},
        {"d", 4096, 8192},
        {"e", -1, 0},
        {"f", 8192, 8192},
        {"g", 4096, 8192},
        {"h", -1, 0}},
       {"e"},
       1,
       true},
      {"full, e's creation met the full volume",
       4,
       4096,
       {{"a", 8192, 8192},
        {"b", 8192, 8192},
        {"c", 8192, 8192},
        {"d", 4096, 8192},
        {"e", -1, 0},
        {"f", 8192, 8192},
        {"g", 4096, 8192},
        {"h", -1, 0}},
       {},
       2,
       false},
      {"one writer, full, c cut to the room left",
       1,
       2000,
       {{"a", 8192, 8192}, {"b", 8192, 8192}, {"c", 5000, 5000}, {"d", -1, 0}},
       {},
       1,
       false},
      {"one writer, full, b lost since",
       1,
       2000 + 8192,
       {{"a", 8192, 8192}, {"b", -1, 0}, {"c", 5000, 5000}, {"d", -1, 0}},
       {"b"},
       1,
       true},
      // By files number each writer fills a folder: y's writer was between two files.
      {"writers in folders, y/b lost since",
       2,
       std::int64_t{1} << 30,
       {{"x/a", 8192, 8192}, {"x/b", 4096, 8192}, {"y/a", 8192, 8192}, {"y/b", -1, 0}, {"y/c", -1, 0}},
       {"y/b"},
       1,
       true},
      // Four writers stopped: y's writer mid-file, x's between two files (or on its file's last
      // chunk), and x ahead of y in the plan. x/c may be unmade or made and lost since; it reads
      // as missing, as y/b above, whichever folder comes first.
      {"four writers in folders stopped, x's writer between two files",
       4,
       std::int64_t{1} << 30,
       {{"a", 8192, 8192},
        {"b", 8192, 8192},
        {"x/a", 8192, 8192},
        {"x/b", 8192, 8192},
        {"x/c", -1, 0},
        {"y/a", 4096, 8192},
        {"y/b", -1, 0}},
       {"x/c"},
       1,
       true,
       0,
       "stopped while it wrote y/a"},
      // x's writer took its folder and met the stop before its first file; y's later folder got
      // files all the same. One folder in hand per writer: x counts as one, and x/a reads as
      // missing as any next file would.
      {"four writers in folders stopped, x taken and nothing made in it",
       4,
       std::int64_t{1} << 30,
       {{"a", 8192, 8192}, {"x/a", -1, 0}, {"x/b", -1, 0}, {"y/a", 4096, 8192}, {"y/b", -1, 0}},
       {"x/a"},
       2,
       true,
       0,
       "stopped while it wrote y/a"},
      {"writers in folders, y/b not made on the full volume",
       2,
       4096,
       {{"x/a", 8192, 8192}, {"x/b", 4096, 8192}, {"y/a", 8192, 8192}, {"y/b", -1, 0}, {"y/c", -1, 0}},
       {},
       2,
       false},
      // x/b's writer cut it to the 6144 bytes of room it saw, and the volume filled while it wrote
      // it: the room left is at most that room less what x/b took, give or take the clusters
      // allowed. More room free is a file of another size in its place.
      {"writers in folders, x/b cut to the room it saw, then by the full volume",
       2,
       7000,
       {{"x/a", 8192, 8192}, {"x/b", 4096, 6144}, {"y/a", 8192, 8192}, {"y/b", 8192, 8192}},
       {},
       0,
       false},
      {"writers in folders, x/b of another size, then truncated",
       2,
       12288,
       {{"x/a", 8192, 8192}, {"x/b", 4096, 6144}, {"y/a", 8192, 8192}, {"y/b", 8192, 8192}},
       {},
       0,
       true,
       1},
      // Every writer was between two files when the volume filled, far back in the plan for x's
      // writer. With a file's room free the volume was not full where the run ended, so nothing
      // tells which of x's files were made: all are missing.
      {"writers in folders, full between files",
       2,
       0,
       {{"x/a", 8192, 8192},
        {"x/b", -1, 0},
        {"x/c", -1, 0},
        {"x/d", -1, 0},
        {"x/e", -1, 0},
        {"x/f", -1, 0},
        {"y/a", 8192, 8192},
        {"y/b", 8192, 8192}},
       {},
       5,
       false,
       0,
       "no room for x/b"},
      {"writers in folders, x/b lost since, its room free",
       2,
       8192,
       {{"x/a", 8192, 8192},
        {"x/b", -1, 0},
        {"x/c", -1, 0},
        {"x/d", -1, 0},
        {"x/e", -1, 0},
        {"x/f", -1, 0},
        {"y/a", 8192, 8192},
        {"y/b", 8192, 8192}},
       {"x/b", "x/c", "x/d", "x/e", "x/f"},
       0,
       true},
      // A stop leaves room free: a file lost after the last one present cannot be told, and the
      // verdict says so.
      {"one writer, stopped with room free",
       1,
       std::int64_t{1} << 30,
       {{"a", 8192, 8192}, {"b", 4096, 8192}, {"c", -1, 0}, {"d", -1, 0}},
       {},
       2,
       false,
       0,
       "can not be told"},
      // The last file carries less than planned and only the room that frees makes the next one
      // fit: it was resized since, and the run ended full.
      {"one writer, full, c resized since",
       1,
       14000,
       {{"a", 8192, 8192}, {"b", 8192, 8192}, {"c", 3000, 3000}, {"d", -1, 0}},
       {},
       1,
       true,
       1,
       "no room for d"},
  };
  for (const auto& row : rows) {
    FakeFileSystem fs;
    fs.keepContent = true;
    fs.addFolder("/root");
    fs.addFolder("/root/x");
    fs.addFolder("/root/y");
    std::vector<PlannedFile> plan;
    for (const auto& f : row.files) {
      plan.push_back({f.path, 8192});
      if (f.length < 0) continue;
      ASSERT_NO_FATAL_FAILURE(writeIdentifiedFile(fs, std::string("/root/") + f.path, kSeed,
                                                  static_cast<std::uint64_t>(f.carried),
                                                  static_cast<std::size_t>(f.length)));
    }
    fs.freeBytes = row.freeBytes;
    VerifyJob job;
    job.rootFolder = "/root/";
    job.seed = kSeed;
    job.plan = plan;
    job.runWriters = row.writers;
    VerifyResult result;
    runVerify(job, fs, result);
    EXPECT_EQ(result.missing, row.missing) << row.what;
    EXPECT_EQ(result.missingTailAllowed, row.tail) << row.what;
    EXPECT_EQ(result.resizedFiles, row.resized) << row.what;
    EXPECT_EQ(result.anyDamage(), row.damaged) << row.what;
    EXPECT_NE(result.tailReason.find(row.reasonHas), std::string::npos)
        << row.what << ": " << result.tailReason;
  }
}

// Several writers that filled the volume each left a file cut short, whose rest the volume had no
// room for; a file truncated since freed room the run did not leave. When the room free now cannot
// have been left with every such file cut, and either of two could be the one truncated since,
// neither passes as cut short.
TEST(VerifyPlanTest, FilesCutWhereTheVolumeFilledAreToldByTheRoomLeft) {
  constexpr std::uint64_t kSeed = 32;
  const struct {
    std::int64_t freeBytes;
    std::size_t cut, truncated;
  } rows[] = {{2000, 2, 0}, {5000, 2, 0}, {9000, 0, 2}, {20000, 0, 2}};
  for (const auto& row : rows) {
    FakeFileSystem fs;
    fs.keepContent = true;
    fs.addFolder("/root");
    // a: whole; b: 8192 bytes short of its 16384; c: 4096 bytes short.
    for (const auto& [name, length] : {std::pair{"a", 16384}, {"b", 8192}, {"c", 12288}}) {
      ASSERT_NO_FATAL_FAILURE(writeIdentifiedFile(fs, std::string("/root/") + name, kSeed, 16384,
                                                  static_cast<std::size_t>(length)));
    }
    fs.freeBytes = row.freeBytes;
    VerifyJob job;
    job.rootFolder = "/root/";
    job.seed = kSeed;
    job.runWriters = 4;
    VerifyResult result;
    runVerify(job, fs, result);
    EXPECT_EQ(result.cutShortFiles.size(), row.cut) << row.freeBytes;
    EXPECT_EQ(result.truncatedFiles, static_cast<std::int64_t>(row.truncated)) << row.freeBytes;
  }
}

// A file's blocks tallied in one pass, and the same blocks cut into pieces at every kind of seam
// (inside a run, between runs, after the sixteenth run) and merged in offset order or its
// reverse: the same bytes, the same first sixteen runs and the same count of runs left out.
TEST(VerifyTallyTest, PiecesMergedInOrderOrReverseGiveTheOnePassTally) {
  std::uint64_t state = 12345;
  const auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  struct Block {
    std::int64_t offset;
    BlockClass kind;
  };
  std::vector<Block> blocks;
  for (std::int64_t i = 0; i < 400; ++i) {
    // Mostly intact, with runs of one to a few damaged blocks of a few classes.
    const std::uint64_t r = next() % 10;
    const BlockClass kind = r < 6 ? BlockClass::Ok : r < 8 ? BlockClass::Zeroed : BlockClass::Corrupted;
    blocks.push_back({i * 1024, kind});
  }
  const auto tally = [&](std::size_t from, std::size_t to) {
    FileTally t;
    for (std::size_t i = from; i < to; ++i) {
      const BlockIdentity id{1, 2, 409600, static_cast<std::uint64_t>(blocks[i].offset)};
      t.add(blocks[i].offset, 1024, blocks[i].kind, id, std::nullopt);
    }
    return t;
  };
  const FileTally whole = tally(0, blocks.size());
  ASSERT_GT(whole.rangesLeftOut, 10);  // the cap is in play
  for (const std::size_t pieces : {2u, 3u, 7u, 50u, 400u}) {
    std::vector<FileTally> parts;
    for (std::size_t p = 0; p < pieces; ++p) parts.push_back(tally(p * 400 / pieces, (p + 1) * 400 / pieces));
    FileTally forward, backward;
    for (const auto& part : parts) forward.merge(part);
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) backward.merge(*it);
    for (const FileTally* merged : {&forward, &backward}) {
      EXPECT_EQ(merged->bytes, whole.bytes) << pieces;
      EXPECT_EQ(merged->rangesLeftOut, whole.rangesLeftOut) << pieces;
      ASSERT_EQ(merged->ranges.size(), whole.ranges.size()) << pieces;
      for (std::size_t i = 0; i < whole.ranges.size(); ++i) {
        EXPECT_EQ(merged->ranges[i].offset, whole.ranges[i].offset) << pieces << " " << i;
        EXPECT_EQ(merged->ranges[i].length, whole.ranges[i].length) << pieces << " " << i;
        EXPECT_EQ(merged->ranges[i].kind, whole.ranges[i].kind) << pieces << " " << i;
        EXPECT_EQ(merged->ranges[i].expected, whole.ranges[i].expected) << pieces << " " << i;
      }
    }
  }
}

}  // namespace
}  // namespace quillet
