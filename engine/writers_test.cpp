// Generation and verify with several writer and reader threads on a real tmpfs. These tests run
// under ThreadSanitizer in CI (label "threaded").
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <thread>

#include "engine/block_identity.h"
#include "engine/names.h"
#include "engine/verify.h"
#include "engine/worker_thread.h"
#include "engine/writer_pool.h"
#include "testing/engine_harness.h"
#include "testing/fake_file_system.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

namespace fsys = std::filesystem;
using namespace std::chrono_literals;

struct Tree {
  std::map<std::string, std::string> files;  // relative path -> content
  std::int64_t bytes = 0;
};

Tree readTree(const std::string& root) {
  Tree t;
  for (const auto& e : fsys::recursive_directory_iterator(root)) {
    if (!e.is_regular_file()) continue;
    const std::string content = test_support::readFile(e.path().string());
    t.bytes += static_cast<std::int64_t>(content.size());
    t.files.emplace(fsys::relative(e.path(), root).string(), content);
  }
  return t;
}

class WritersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string reason;
    vol = test_support::MountedVolume::tmpfs(96 << 20, reason);
    if (!vol) GTEST_SKIP() << reason;
  }
  // Runs one generation into folder `name` of the volume and returns its result.
  GenerationResult run(GenerationJob& job, const std::string& name) {
    job.rootFolder = *vol / name + "/";
    fsys::create_directories(*vol / name);  // as a front-end's preparation does
    job.scriptMode = true;
    return runWorker(job, services);
  }
  static void allSize(GenerationJob& job, std::int64_t total, int threads) {
    job.byAllSize = true;
    job.allSize = total;
    job.minFileSize = 1;
    job.maxFileSize = 40000;
    job.threads = threads;
  }
  std::unique_ptr<test_support::MountedVolume> vol;
  std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  test_support::FixedClock clock;
  test_support::RecordingPresenter presenter;
  EngineServices services{*fs, clock, presenter};
};

TEST_F(WritersTest, ByAllSizeIsExactWithUniqueNamesAndTheSameSeededTreeForAnyWriterCount) {
  std::map<int, Tree> trees;
  for (const int threads : {1, 2, 3, 8}) {
    GenerationJob job;
    allSize(job, 3'000'001, threads);
    job.runSeed = 99;
    job.seedGiven = true;
    ASSERT_EQ(run(job, "w" + std::to_string(threads)), GenerationResult::Done) << threads;
    const Tree t = readTree(*vol / ("w" + std::to_string(threads)));
    EXPECT_EQ(t.bytes, 3'000'001) << threads;
    EXPECT_EQ(job.currentSize.load(), 3'000'001) << threads;
    EXPECT_EQ(static_cast<std::int64_t>(t.files.size()), job.filesCreated.load()) << threads;
    // Each writer's share adds up to the whole.
    ASSERT_EQ(job.writerTimes.size(), static_cast<std::size_t>(threads));
    std::int64_t files = 0, bytes = 0;
    for (const auto& w : job.writerTimes) {
      files += w.files;
      bytes += w.bytes;
      if (w.files > 0) {
        EXPECT_LE(w.firstDone, w.lastDone);
      }
    }
    EXPECT_EQ(files, job.filesCreated.load());
    EXPECT_EQ(bytes, 3'000'001);
    trees[threads] = t;
  }
  // Names, sizes and content are handed out in counter order, so the writer count changes nothing.
  EXPECT_EQ(trees[2].files, trees[1].files);
  EXPECT_EQ(trees[3].files, trees[1].files);
  EXPECT_EQ(trees[8].files, trees[1].files);
  EXPECT_TRUE(presenter.shown().empty());
}

// A request from outside to end at the next file (another process sharing the run ended it): the
// writers finish the file in hand, start no other, and the run ends as stopped, with no file cut.
TEST_F(WritersTest, EndAtNextFileFinishesTheFilesInHandAndStartsNoOther) {
  for (const int threads : {1, 3}) {
    for (const bool byFiles : {false, true}) {
      GenerationJob job;
      allSize(job, 80'000'000, threads);
      if (byFiles) {
        job.byAllSize = false;
        job.minFiles = job.maxFiles = 2000;
        job.recurseSubfolders = job.makeUpTree = true;
        job.treeDeep = 1;
        job.rootSize = 6;
        job.dirsLimit = 6;
      }
      const std::string name = "end" + std::to_string(threads) + (byFiles ? "f" : "s");
      std::thread ender([&] {
        while (job.filesCreated.load() < 20) std::this_thread::sleep_for(1ms);
        job.endAtNextFile = true;
      });
      EXPECT_EQ(run(job, name), GenerationResult::Stopped) << name;
      ender.join();
      const Tree t = readTree(*vol / name);
      EXPECT_EQ(static_cast<std::int64_t>(t.files.size()), job.filesCreated.load()) << name;
      EXPECT_EQ(t.bytes, job.currentSize.load()) << name;
      EXPECT_LT(t.bytes, 40'000'000) << name;
    }
  }
}

TEST_F(WritersTest, ByFilesNumberSharesFoldersOutAndGivesTheOneWriterTreeTwice) {
  const auto tree = [&](int threads, const std::string& name) {
    GenerationJob job;
    job.byAllSize = false;
    job.recurseSubfolders = job.makeUpTree = true;
    job.treeDeep = 3;
    job.rootSize = 4;
    job.dirsLimit = 30;
    job.minFiles = 2;
    job.maxFiles = 9;
    job.minFileSize = 1;
    job.maxFileSize = 9000;
    job.runSeed = 5;
    job.seedGiven = true;
    job.threads = threads;
    EXPECT_EQ(run(job, name), GenerationResult::Done);
    const Tree t = readTree(*vol / name);
    EXPECT_EQ(static_cast<std::int64_t>(t.files.size()), job.filesCreated.load());
    EXPECT_EQ(t.bytes, job.currentSize.load());
    EXPECT_EQ(job.filesPlanned.load(), job.filesCreated.load());
    return t.files;
  };
  const auto one = tree(1, "one");
  const auto fourA = tree(4, "fourA");
  const auto fourB = tree(4, "fourB");
  EXPECT_GT(one.size(), 30u);
  EXPECT_EQ(fourA, fourB);
  EXPECT_EQ(fourA, one);
}

// Exact with several writers, and with one also when each folder's names run out before its files
// do: the file that found no name gives its share of the limit back. (With several, another writer
// may end the run on the limit before that share is back.)
TEST_F(WritersTest, LimitSizeHoldsExactlyForAnyWriterCount) {
  for (const auto& [threads, mask] : {std::pair{3, ""}, std::pair{1, "?"}}) {
    GenerationJob job;
    job.byAllSize = false;
    job.recurseSubfolders = job.makeUpTree = true;
    job.treeDeep = 2;
    job.rootSize = 6;
    job.dirsLimit = 40;
    job.minFiles = job.maxFiles = 50;
    job.minFileSize = 1000;
    job.maxFileSize = 30000;
    job.useLimitSize = true;
    job.limitSize = 1'000'003;
    job.threads = threads;
    job.useFileMask = *mask != '\0';
    job.fileMask = mask;
    job.fileNameSpace = 36;
    const std::string name = "lim" + std::to_string(threads) + (*mask != '\0' ? "m" : "");
    EXPECT_EQ(run(job, name), GenerationResult::LimitSizeReached) << name;
    const Tree t = readTree(*vol / name);
    EXPECT_EQ(t.bytes, 1'000'003) << name;
    EXPECT_EQ(job.currentSize.load(), 1'000'003) << name;
  }
}

// A folder counts as visited when a writer takes it, however far the walk has listed ahead: a run
// the limit ends early counts the folders it filled (one writer exactly, each of several writers
// at most one more it took just as the run ended), and a stop while the root is filled leaves
// every sub-folder unvisited. A root not there yet is made by its writer before it is listed.
TEST_F(WritersTest, FoldersVisitedAreTheFoldersWritersTookForAnyWriterCount) {
  for (const int threads : {1, 4}) {
    GenerationJob job;
    job.byAllSize = false;
    job.recurseSubfolders = job.makeUpTree = true;
    job.treeDeep = 2;
    job.rootSize = 6;
    job.dirsLimit = 42;
    job.minFiles = job.maxFiles = 3;
    job.minFileSize = job.maxFileSize = 1000;
    job.useLimitSize = true;
    job.limitSize = 9500;  // three folders' files, then one cut file
    job.threads = threads;
    const std::string name = "visited" + std::to_string(threads);
    EXPECT_EQ(run(job, name), GenerationResult::LimitSizeReached) << name;
    std::set<std::string> filled;
    for (const auto& [path, content] : readTree(*vol / name).files)
      filled.insert(fsys::path(path).parent_path().generic_string());
    const std::uint32_t visited = job.dirsProcessed.load();
    if (threads == 1) {
      EXPECT_EQ(visited, 4u);
    }
    EXPECT_GE(visited, filled.size()) << name;
    EXPECT_LE(visited, filled.size() + static_cast<std::size_t>(threads)) << name;
  }
  for (const bool stop : {false, true}) {
    for (const int threads : {1, 3}) {
      if (stop && threads > 1) continue;  // several writers take the sub-folders while the root is filled
      test_support::FakeFileSystem fake;
      fake.addFolder("/v");
      for (const char* sub : {"a", "b", "c"}) fake.addFolder(std::string("/v/") + sub);
      GenerationJob job;
      allSize(job, 0, threads);
      job.byAllSize = false;
      job.recurseSubfolders = true;
      job.minFiles = job.maxFiles = 2;
      job.rootFolder = stop ? "/v/" : "/v/new/";  // not there: made by the run
      job.scriptMode = true;
      fake.beforeWrite = [&job, stop](int index) {
        if (stop && index == 1) job.requestStop();  // during the root's second file
      };
      EngineServices fakeServices{fake, clock, presenter};
      EXPECT_EQ(runWorker(job, fakeServices), stop ? GenerationResult::Stopped : GenerationResult::Done)
          << threads;
      EXPECT_EQ(job.dirsProcessed.load(), 1u) << threads;
      EXPECT_EQ(fake.files().count(stop ? "/v/a/a" : "/v/new/b"), stop ? 0u : 1u) << threads;
    }
  }
}

// The writers' ends as they are noted, in either order: a failure outranks the stop it caused, and
// a stop outranks the job's own end it raced with (the stop cut the tree short of that end).
TEST(RunEndTest, TheRunsEndFromTheWritersEnds) {
  using R = GenerationResult;
  const struct {
    std::vector<R> noted;
    R result;
  } rows[] = {
      {{}, R::Done},
      {{R::Done, R::LimitSizeReached, R::Done}, R::LimitSizeReached},
      {{R::Stopped, R::LimitSizeReached}, R::Stopped},
      {{R::LimitSizeReached, R::Stopped}, R::Stopped},
      {{R::NamesUsedUp, R::Stopped, R::NamesUsedUp}, R::Stopped},
      {{R::Stopped, R::PathFailed}, R::PathFailed},
      {{R::PathFailed, R::Stopped}, R::PathFailed},
      {{R::Stopped, R::VolumeFull, R::Stopped}, R::VolumeFull},
      {{R::VolumeFull, R::LimitSizeReached}, R::VolumeFull},
  };
  for (const auto& row : rows) {
    RunEnd end;
    for (R r : row.noted) end.note(r);
    EXPECT_EQ(end.result(), row.result) << row.noted.size();
    EXPECT_EQ(end.ended(), row.result != R::Done);
  }
}

TEST_F(WritersTest, FullVolumeWithFourWritersEndsOnceWithCountersMatchingTheDisk) {
  std::string reason;
  auto small = test_support::MountedVolume::tmpfs(8 << 20, reason);
  if (!small) GTEST_SKIP() << reason;
  GenerationJob job;
  allSize(job, 64 << 20, 4);
  job.minFileSize = 100000;
  job.maxFileSize = 700000;
  job.rootFolder = *small / "full/";
  job.scriptMode = true;
  EXPECT_EQ(runWorker(job, services), GenerationResult::VolumeFull);
  int reports = 0;
  for (const auto& f : presenter.shown()) reports += f.kind == FailureKind::VolumeFull ? 1 : 0;
  EXPECT_EQ(reports, 1);
  // Every byte counted is on the disk and every byte on the disk counted; files cut short by the
  // full volume are on the disk but not counted as made.
  const Tree t = readTree(*small / "full");
  EXPECT_EQ(t.bytes, job.currentSize.load());
  EXPECT_GE(static_cast<std::int64_t>(t.files.size()), job.filesCreated.load());
  EXPECT_LE(static_cast<std::int64_t>(t.files.size()), job.filesCreated.load() + 4);
}

// A mask name stands for 36 counters in a row, so which name a file gets depends on the files
// before it: several writers still give each file the name and size one writer gives it.
TEST_F(WritersTest, MaskedNamesGetTheOneWriterSizesForAnyWriterCount) {
  struct Case {
    const char* mask;
    std::int64_t total;
    GenerationResult result;
  };
  for (const Case& c :
       {Case{"x??", 300'000, GenerationResult::Done}, Case{"?", 10'000'000, GenerationResult::NamesUsedUp}}) {
    // name -> size and a digest of the content, per run
    std::map<std::string, std::map<std::string, std::pair<std::size_t, std::size_t>>> trees;
    for (const int threads : {1, 2, 4, 4, 4}) {
      GenerationJob job;
      allSize(job, c.total, threads);
      job.minFileSize = 1000;
      job.maxFileSize = 5000;
      job.useFileMask = true;
      const NormalisedMask mask = normaliseMask(c.mask);
      job.fileMask = mask.mask;
      job.fileNameSpace = mask.nameSpace;
      job.runSeed = 1;
      job.seedGiven = true;
      const std::string name = "m" + std::to_string(c.mask[0] == '?') + "w" + std::to_string(threads) + "n" +
                               std::to_string(trees.size());
      EXPECT_EQ(run(job, name), c.result) << name;
      for (const auto& [file, content] : readTree(*vol / name).files) {
        trees[name][file] = {content.size(), std::hash<std::string>{}(content)};
      }
      EXPECT_EQ(static_cast<std::int64_t>(trees[name].size()), job.filesCreated.load()) << name;
    }
    const auto& one = trees.begin()->second;
    EXPECT_GT(one.size(), 30u) << c.mask;
    for (const auto& [name, tree] : trees) EXPECT_EQ(tree, one) << name;
  }
}

// A nearly full volume whose free figure shows room no write can take (as ext4's may): the first
// file to meet the full disk ends the run for every writer, so each writer leaves at most its one
// file in hand cut short (empty when it was started just as the disk filled, and then uncounted);
// by all size and by files number, where each writer fills a folder of its own.
TEST_F(WritersTest, AFullDiskMetByOneWriterEndsEveryWriterWithOneCutFileAtMost) {
  for (const int threads : {2, 4, -2, -4}) {
    const bool byFilesNumber = threads < 0;
    test_support::FakeFileSystem fake;
    fake.addFolder("/v");
    if (byFilesNumber) {
      fake.addFolder("/v/r");
      for (const char* sub : {"a", "b", "c", "d", "e", "f"}) fake.addFolder(std::string("/v/r/") + sub);
    }
    fake.freeBytes = 6'000'000;
    fake.unusableFreeBytes = 64 * 1024;
    fake.keepContent = true;
    // The figure reads true in the end, so a run that keeps starting files still ends.
    fake.beforeWrite = [&fake](int index) {
      if (index == 300) fake.unusableFreeBytes = 0;
    };
    EngineServices fakeServices{fake, clock, presenter};
    GenerationJob job;
    allSize(job, 0, std::abs(threads));
    job.allPartition = !byFilesNumber;
    if (byFilesNumber) {
      job.byAllSize = false;
      job.recurseSubfolders = true;
      job.minFiles = job.maxFiles = 20;
    }
    job.minFileSize = 300'000;
    job.maxFileSize = 900'000;
    job.runSeed = 2;
    job.seedGiven = true;
    job.rootFolder = "/v/r/";
    job.scriptMode = true;
    EXPECT_EQ(runWorker(job, fakeServices), GenerationResult::VolumeFull) << threads;
    int cut = 0;
    int empty = 0;
    for (const auto& [path, file] : fake.files()) {
      if (file.content.empty()) {
        ++empty;
        continue;
      }
      const auto id = readBlockIdentity(file.content.data(), file.content.size());
      ASSERT_TRUE(id.has_value()) << path;
      if (static_cast<std::int64_t>(id->fileSize) > file.size) ++cut;
    }
    EXPECT_GE(cut + empty, 1) << threads;
    EXPECT_LE(cut + empty, std::abs(threads)) << threads;
    EXPECT_LE(job.filesCreated.load(), static_cast<std::int64_t>(fake.files().size()) - empty) << threads;
  }
}

// A writer alone that meets a full disk while the volume still has room counts the cut file and
// goes on; what the file did not get is handed out again, so the total is still met to the byte.
TEST_F(WritersTest, OneWriterCountsAFileAFullDiskCutAndStillMeetsTheTotal) {
  test_support::FakeFileSystem fake;
  fake.addFolder("/v");
  fake.keepContent = true;
  fake.diskFullAtWrite = 3;
  fake.diskFullPartial = 10 * 1024;
  EngineServices fakeServices{fake, clock, presenter};
  GenerationJob job;
  allSize(job, 5'000'000, 1);
  job.minFileSize = 300'000;
  job.maxFileSize = 900'000;
  job.runSeed = 3;
  job.seedGiven = true;
  job.rootFolder = "/v/r/";
  job.scriptMode = true;
  EXPECT_EQ(runWorker(job, fakeServices), GenerationResult::Done);
  std::int64_t bytes = 0;
  int cut = 0;
  for (const auto& [path, file] : fake.files()) {
    bytes += file.size;
    const auto id = readBlockIdentity(file.content.data(), file.content.size());
    ASSERT_TRUE(id.has_value()) << path;
    if (static_cast<std::int64_t>(id->fileSize) > file.size) ++cut;
  }
  EXPECT_EQ(cut, 1);
  EXPECT_EQ(bytes, 5'000'000);
  EXPECT_EQ(job.currentSize.load(), 5'000'000);
  EXPECT_EQ(job.filesCreated.load(), static_cast<std::int64_t>(fake.files().size()));
  EXPECT_TRUE(presenter.shown().empty());
}

TEST_F(WritersTest, AStopReachesEveryOneOfEightWritersWithinAChunk) {
  GenerationJob job;
  allSize(job, 80 << 20, 8);
  job.minFileSize = 8 << 20;
  job.maxFileSize = 8 << 20;
  job.rootFolder = *vol / "stop/";
  job.scriptMode = true;
  WorkerThread worker(job, services);
  worker.start();
  // Stop once every writer has written something.
  while (job.currentSize.load() < (8 << 20) && !job.finished) std::this_thread::sleep_for(1ms);
  // Read once the stop is asked for: a test thread put off between reading and asking (a loaded
  // machine) would otherwise let the writers run on past the figure it holds.
  job.requestStop();
  const std::int64_t atStop = job.currentSize.load();
  worker.join();
  EXPECT_EQ(job.snapshot().result, GenerationResult::Stopped);
  // Each writer writes at most the chunk it was in when the stop came.
  EXPECT_LE(job.currentSize.load(), atStop + 8 * static_cast<std::int64_t>(kWriteChunk));
  const Tree t = readTree(*vol / "stop");
  EXPECT_LE(t.bytes, atStop + 8 * static_cast<std::int64_t>(kWriteChunk));
}

// One writer with a core to spare has each file's next chunk made while it writes the current one.
// Done, stopped mid-file or ended by the full volume, every file on the disk holds exactly the start
// of its own content, and the counters match the disk.
TEST_F(WritersTest, OneWriterMakingContentAheadWritesEachFilesOwnBytesHoweverItEnds) {
  const auto expectOwnContent = [](const std::string& root, std::uint64_t seed) {
    for (const auto& [relative, bytes] : readTree(root).files) {
      std::string expected(bytes.size(), '\0');
      const auto size = static_cast<std::uint64_t>(bytes.size());
      fillShapedContent(seed, fileIdentity(relative), size, ContentShape{}, 0,
                        reinterpret_cast<std::uint8_t*>(expected.data()), expected.size());
      // A file cut short carries its planned size in its blocks; its bytes are the start of those.
      if (bytes != expected) {
        const auto id = readBlockIdentity(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ASSERT_TRUE(id.has_value()) << relative;
        std::string planned(id->fileSize, '\0');
        fillShapedContent(seed, fileIdentity(relative), id->fileSize, ContentShape{}, 0,
                          reinterpret_cast<std::uint8_t*>(planned.data()), planned.size());
        EXPECT_EQ(planned.substr(0, bytes.size()), bytes) << relative;
      }
    }
  };

  GenerationJob done;
  allSize(done, 20'000'001, 1);
  done.minFileSize = 300'000;
  done.maxFileSize = 3'000'000;
  done.runSeed = 5;
  done.seedGiven = true;
  ASSERT_EQ(run(done, "ahead"), GenerationResult::Done);
  EXPECT_EQ(readTree(*vol / "ahead").bytes, 20'000'001);
  expectOwnContent(*vol / "ahead", 5);

  GenerationJob stopped;
  allSize(stopped, 80 << 20, 1);
  stopped.minFileSize = 6 << 20;
  stopped.maxFileSize = 6 << 20;
  stopped.runSeed = 6;
  stopped.seedGiven = true;
  stopped.rootFolder = *vol / "stopped/";
  stopped.scriptMode = true;
  WorkerThread worker(stopped, services);
  worker.start();
  while (stopped.currentSize.load() < (9 << 20) && !stopped.finished) std::this_thread::sleep_for(1ms);
  const std::int64_t atStop = stopped.currentSize.load();
  stopped.requestStop();
  worker.join();
  EXPECT_EQ(stopped.snapshot().result, GenerationResult::Stopped);
  const Tree cut = readTree(*vol / "stopped");
  EXPECT_LE(cut.bytes, atStop + static_cast<std::int64_t>(kWriteChunk));
  EXPECT_GE(cut.bytes, stopped.currentSize.load());
  expectOwnContent(*vol / "stopped", 6);

  std::string reason;
  auto small = test_support::MountedVolume::tmpfs(8 << 20, reason);
  if (!small) GTEST_SKIP() << reason;
  GenerationJob full;
  allSize(full, 64 << 20, 1);
  full.minFileSize = 1 << 20;
  full.maxFileSize = 3 << 20;
  full.runSeed = 7;
  full.seedGiven = true;
  full.rootFolder = *small / "full/";
  full.scriptMode = true;
  EXPECT_EQ(runWorker(full, services), GenerationResult::VolumeFull);
  const Tree filled = readTree(*small / "full");
  EXPECT_EQ(filled.bytes, full.currentSize.load());
  expectOwnContent(*small / "full", 7);
}

TEST_F(WritersTest, VerifyWithFourReadersFindsWhatOneReaderFinds) {
  GenerationJob job;
  allSize(job, 6 << 20, 2);
  job.maxFileSize = 300000;
  job.runSeed = 3;
  job.seedGiven = true;
  ASSERT_EQ(run(job, "v"), GenerationResult::Done);
  // Damage: a corrupted block in one file, a cut file, a block copied into another file.
  std::vector<std::string> paths;
  for (const auto& e : fsys::directory_iterator(*vol / "v")) paths.push_back(e.path().string());
  std::sort(paths.begin(), paths.end());
  ASSERT_GE(paths.size(), 6u);
  {
    FILE* f = std::fopen(paths[1].c_str(), "r+b");
    std::fseek(f, 2000, SEEK_SET);
    std::fputs("damage", f);
    std::fclose(f);
  }
  fsys::resize_file(paths[3], fsys::file_size(paths[3]) / 2);
  const std::string moved = test_support::readFile(paths[4]).substr(0, 1024);
  {
    FILE* f = std::fopen(paths[5].c_str(), "r+b");
    std::fseek(f, 1024, SEEK_SET);
    std::fwrite(moved.data(), 1, moved.size(), f);
    std::fclose(f);
  }
  std::map<int, VerifyResult> results;
  for (const int readers : {1, 4}) {
    VerifyJob v;
    v.rootFolder = *vol / "v/";
    v.readers = readers;
    runVerify(v, *fs, results[readers]);
    EXPECT_EQ(v.filesChecked.load(), static_cast<std::int64_t>(paths.size()));
  }
  const VerifyResult& one = results[1];
  const VerifyResult& four = results[4];
  EXPECT_TRUE(one.anyDamage());
  EXPECT_EQ(four.classBytes, one.classBytes);
  EXPECT_EQ(four.classFiles, one.classFiles);
  EXPECT_EQ(four.truncatedFiles, one.truncatedFiles);
  EXPECT_EQ(four.files, one.files);
  ASSERT_EQ(four.damaged.size(), one.damaged.size());
  for (std::size_t i = 0; i < one.damaged.size(); ++i) {
    EXPECT_EQ(four.damaged[i].relativePath, one.damaged[i].relativePath);
    EXPECT_EQ(four.damaged[i].tally.bytes, one.damaged[i].tally.bytes);
  }
  EXPECT_GT(one.classBytes[static_cast<std::size_t>(BlockClass::Corrupted)], 0);
  EXPECT_GT(one.classBytes[static_cast<std::size_t>(BlockClass::Misdirected)], 0);
}

}  // namespace
}  // namespace quillet
