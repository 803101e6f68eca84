// Filling the job from the dialog's fields: root trim, consistent ranges written back, masks,
// the all-partition figure before the root exists, flags and counters.
#include "frontend/run_preparation.h"

#include <gtest/gtest.h>

#include "testing/fake_file_system.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {
constexpr int kMb = 2, kGb = 3;
constexpr std::int64_t kMiB = 1 << 20;

SettingsValues defaults(const std::string& root) {
  SettingsValues v;
  v.rootFolderText = root;
  return v;
}
}  // namespace

TEST(RunPreparation, TrimsSpacesOnly) {
  EXPECT_EQ(trimRootText("  /data  "), "/data");
  EXPECT_EQ(trimRootText("   "), "   ");  // only spaces: kept, so it is not taken for an empty root
  EXPECT_EQ(trimRootText("\t/data \t"), "\t/data \t");  // a tab stays
  EXPECT_EQ(trimRootText(""), "");
}

TEST(RunPreparation, RootIsTrimmedAndEndedWithASeparator) {
  FakeFileSystem fs;
  GenerationJob job;
  SettingsValues v = defaults("  /data  ");
  EXPECT_EQ(prepareJob(v, job, fs), PreparationOutcome::Ready);
  EXPECT_EQ(job.rootFolder, std::string("/data/"));
  EXPECT_EQ(v.rootFolderText, std::string("/data/"));
  EXPECT_EQ(job.fsFileSizeLimit, std::int64_t(0));  // EXT4: no limit
}

// A relative root would be made in the working folder, which nobody chose and nobody sees.
TEST(RunPreparation, RelativeRootIsRefusedBeforeAnythingIsAsked) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {{"   ", "   /"}, {" data ", "data/"}, {"./data/", "./data/"}, {"~/data", "~/data/"}};
  for (const auto& c : cases) {
    FakeFileSystem fs;
    GenerationJob job;
    job.filesCreated = 42;
    job.rootFolder = "/before/";
    SettingsValues v = defaults(c.text);
    v.byAllSize = true;
    v.allPartition = true;
    EXPECT_EQ(prepareJob(v, job, fs), PreparationOutcome::RelativeRoot) << c.text;
    EXPECT_EQ(v.rootFolderText, c.shown);
    EXPECT_EQ(job.rootFolder, std::string("/before/"));
    EXPECT_EQ(job.filesCreated.load(), std::int64_t(42));
    EXPECT_TRUE(fs.effects().empty());
  }
}

TEST(RunPreparation, RelativeRootGetsTheIncorrectPathText) {
  EXPECT_EQ(relativeRootMessage("   /"),
            std::string("Incorrect path - '   '.\n\nTry to check root folder for errors."));
  EXPECT_EQ(relativeRootMessage("data/x/"),
            std::string("Incorrect path - 'data/x'.\n\nTry to check root folder for errors."));
}

TEST(RunPreparation, EmptyRootStartsNothingButKeepsTheChecks) {
  FakeFileSystem fs;
  GenerationJob job;
  job.filesCreated = 42;
  SettingsValues v = defaults("");
  v.minSizeText = "";
  EXPECT_EQ(prepareJob(v, job, fs), PreparationOutcome::EmptyRoot);
  EXPECT_EQ(v.minSizeText, std::string("0"));
  EXPECT_EQ(job.filesCreated.load(), std::int64_t(42));
  EXPECT_TRUE(fs.effects().empty());
}

TEST(RunPreparation, AllSizeBoundsTheRangeWithTextsWrittenBack) {
  FakeFileSystem fs;
  GenerationJob job;
  SettingsValues v = defaults("/d");
  v.byAllSize = true;
  v.useMaxSize = true;
  v.allSizeText = "100";
  v.allSizeUnit = kMb;
  v.minSizeText = "1";
  v.minSizeUnit = kGb;
  v.maxSizeText = "2";
  v.maxSizeUnit = kGb;
  prepareJob(v, job, fs);
  EXPECT_EQ(job.allSize, 100 * kMiB);
  EXPECT_EQ(job.minFileSize, 100 * kMiB);
  EXPECT_EQ(job.maxFileSize, 100 * kMiB);
  EXPECT_EQ(v.minSizeText, std::string("100"));
  EXPECT_EQ(v.maxSizeUnit, kMb);
}

TEST(RunPreparation, MasksAreNormalisedBackIntoTheirFields) {
  FakeFileSystem fs;
  GenerationJob job;
  SettingsValues v = defaults("/d");
  v.useFileMask = true;
  v.fileMaskText = ".*.txt.";
  v.useDirMask = false;
  v.dirMaskText = "*";
  prepareJob(v, job, fs);
  EXPECT_EQ(v.fileMaskText, std::string("???.txt"));
  EXPECT_EQ(job.fileMask, std::string("???.txt"));
  EXPECT_EQ(job.fileNameSpace, std::int64_t(36 * 36 * 36));
  EXPECT_EQ(v.dirMaskText, std::string("*"));  // not in use: left as typed
  EXPECT_EQ(job.dirNameSpace, std::int64_t(0));
}

TEST(RunPreparation, AllPartitionAsksTheNearestExistingFolderBeforeTheRootExists) {
  FakeFileSystem fs;
  fs.addFolder("/vol");
  fs.freeBytes = 123456789;
  GenerationJob job;
  SettingsValues v = defaults("/vol/new/deeper");
  v.byAllSize = true;
  v.allPartition = true;
  v.allSizeText = "1";
  v.minSizeText = "5";
  v.maxSizeText = "6";
  v.useMaxSize = true;
  prepareJob(v, job, fs);
  EXPECT_EQ(job.allSize, std::int64_t(123456789));
  EXPECT_EQ(v.minSizeText, std::string("5"));  // the all size text does not bound the range
  EXPECT_TRUE(!fs.hasFolder("/vol/new"));
}

TEST(RunPreparation, FlagsAndCountersStartEveryRunAfresh) {
  FakeFileSystem fs;
  GenerationJob job;
  job.filesCreated = 9;
  job.currentSize = 9;
  job.dirsProcessed = 9;
  job.stopRequested = true;
  job.finished = true;
  job.scriptMode = true;
  SettingsValues v = defaults("/d");
  v.byAllSize = true;
  v.fillSubfolders = true;
  v.makeUpTree = true;
  v.closeProgressAuto = true;
  v.treeDeepText = "0";
  prepareJob(v, job, fs);
  EXPECT_EQ(job.treeDeep, 1);
  EXPECT_TRUE(!job.makeUpTree);  // by all size never makes up a tree
  EXPECT_TRUE(job.recurseSubfolders);
  EXPECT_TRUE(job.autoClose);
  EXPECT_TRUE(!job.scriptMode);
  EXPECT_TRUE(!job.stopRequested);
  EXPECT_TRUE(!job.finished);
  EXPECT_EQ(job.filesCreated.load(), std::int64_t(0));
  EXPECT_EQ(job.currentSize.load(), std::int64_t(0));
  EXPECT_EQ(job.dirsProcessed.load(), 1u);

  v.byAllSize = false;
  prepareJob(v, job, fs);
  EXPECT_TRUE(job.makeUpTree);
  v.fillSubfolders = false;
  prepareJob(v, job, fs);
  EXPECT_TRUE(!job.makeUpTree);
}
