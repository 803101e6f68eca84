// Generation by total size on real tmpfs and ext4 volumes.
#include "engine/generate_by_all_size.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "engine/names.h"
#include "testing/engine_harness.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using test_support::EngineHarness;

std::map<std::string, std::int64_t> filesIn(const std::string& folder) {
  std::map<std::string, std::int64_t> out;
  auto fs = makeSystemFileSystem();
  auto reader = fs->openFolder(folder);
  FolderEntry e;
  while (reader.ok() && reader.value()->next(e).value())
    out[e.name] = test_support::fileSize(folder + "/" + e.name);
  return out;
}

class AllSizeTest : public ::testing::Test {
 protected:
  void prepare(const std::string& root, std::int64_t minSize, std::int64_t maxSize, std::int64_t allSize) {
    h.job.rootFolder = root + "/";
    h.job.minFileSize = minSize;
    h.job.maxFileSize = maxSize;
    h.job.allSize = allSize;
    h.job.clusterSize = fs->clusterSize(root).value();
  }
  std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  EngineHarness h{*fs};
};

TEST_F(AllSizeTest, FixedTotalIsMetExactly) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 4 << 20);
  prepare(*vol / "out", 4096, 4096, 10 * 1024);
  EXPECT_EQ(generateByAllSize(h.job.rootFolder, h.ctx), GenerationResult::Done);
  EXPECT_EQ(filesIn(*vol / "out"),
            (std::map<std::string, std::int64_t>{{"a", 4096}, {"b", 4096}, {"c", 2048}}));
  EXPECT_EQ(h.job.currentSize, 10240);
  EXPECT_EQ(h.job.filesCreated, 3);
  EXPECT_TRUE(h.presenter.shown().empty());
  EXPECT_EQ(h.job.stage, RunStage::Starting);
}

TEST_F(AllSizeTest, ZeroTotalCreatesTheRootOnlyAndZeroMaximumNothingAtAll) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 1 << 20);
  prepare(*vol / "a/b", 1, 10, 0);
  EXPECT_EQ(generateByAllSize(h.job.rootFolder, h.ctx), GenerationResult::Done);
  EXPECT_TRUE(filesIn(*vol / "a/b").empty());
  EXPECT_TRUE(fs->exists(*vol / "a/b"));
  prepare(*vol / "c", 0, 0, 100);
  EXPECT_EQ(generateByAllSize(h.job.rootFolder, h.ctx), GenerationResult::MaxSizeZero);
  EXPECT_FALSE(fs->exists(*vol / "c"));
}

TEST_F(AllSizeTest, AllPartitionFillsTheVolumeAndEndsQuietly) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 2 << 20);
  prepare(vol->path(), 100 * 1024, 300 * 1024, 0);
  h.job.allPartition = true;
  EXPECT_EQ(generateByAllSize(h.job.rootFolder, h.ctx), GenerationResult::VolumeFull);
  EXPECT_TRUE(h.presenter.shown().empty());
  EXPECT_LE(fs->volumeSpace(vol->path()).value().availableToCaller, h.job.clusterSize);
  std::int64_t total = 0;
  for (const auto& [name, size] : filesIn(vol->path())) total += size;
  EXPECT_EQ(total, h.job.currentSize);
  // A second run on the full volume returns at once and creates nothing.
  const auto before = filesIn(vol->path()).size();
  EXPECT_EQ(generateByAllSize(h.job.rootFolder, h.ctx), GenerationResult::VolumeFull);
  EXPECT_EQ(filesIn(vol->path()).size(), before);
}

TEST_F(AllSizeTest, TotalLargerThanTheVolumeReportsTheMountPointAndLastName) {
  QUILLET_MOUNT_OR_SKIP(vol, ext4, 8 << 20);
  prepare(*vol / "fill", 512 * 1024, 512 * 1024, 100 << 20);
  EXPECT_EQ(generateByAllSize(h.job.rootFolder, h.ctx), GenerationResult::VolumeFull);
  ASSERT_EQ(h.presenter.shown().size(), 1u);
  EXPECT_EQ(h.presenter.shown()[0].kind, FailureKind::VolumeFull);
  EXPECT_EQ(h.presenter.shown()[0].path, vol->path());
  EXPECT_EQ(h.presenter.shown()[0].lastFile, h.job.currentFileName);
  EXPECT_FALSE(h.job.currentFileName.empty());
}

TEST_F(AllSizeTest, AllocatedFilesAreNotSparse) {
  QUILLET_MOUNT_OR_SKIP(vol, ext4, 16 << 20);
  prepare(vol->path(), 1 << 20, 2 << 20, 6 << 20);
  h.job.fillRandom = false;
  EXPECT_EQ(generateByAllSize(h.job.rootFolder, h.ctx), GenerationResult::Done);
  std::int64_t total = 0;
  for (const auto& [name, size] : filesIn(vol->path())) {
    if (name == "lost+found") continue;
    total += size;
    EXPECT_GE(test_support::allocatedBytes(*vol / name), size) << name;
  }
  EXPECT_EQ(total, 6 << 20);
}

TEST_F(AllSizeTest, ContentBytesHoldTheirRanges) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 4 << 20);
  prepare(vol->path(), 1500, 300000, 1 << 20);
  EXPECT_EQ(generateByAllSize(h.job.rootFolder, h.ctx), GenerationResult::Done);
  for (const auto& [name, size] : filesIn(vol->path())) {
    const std::string bytes = test_support::readFile(*vol / name);
    ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), size);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      const auto b = static_cast<unsigned char>(bytes[i]);
      ASSERT_TRUE(i % 2 == 0 ? b >= 100 : b <= 127) << name << " offset " << i;
    }
  }
}

TEST_F(AllSizeTest, MaskNamesRunOutAndReservedNamesAreSkipped) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 4 << 20);
  prepare(vol->path(), 1, 1, 1 << 20);
  h.job.useFileMask = true;
  const auto mask = normaliseMask("co?");
  h.job.fileMask = mask.mask;
  h.job.fileNameSpace = mask.nameSpace;
  EXPECT_EQ(generateByAllSize(h.job.rootFolder, h.ctx), GenerationResult::NamesUsedUp);
  const auto files = filesIn(vol->path());
  EXPECT_EQ(files.size(), 35u);  // 36 names less "con"
  EXPECT_EQ(files.count("con"), 0u);
  EXPECT_EQ(files.count("coa"), 1u);
  EXPECT_EQ(files.count("co9"), 1u);
}

TEST_F(AllSizeTest, AllocationIsCutToTheFileSystemLimitButContentIsNot) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 4 << 20);
  prepare(vol->path(), 100000, 100000, 250000);
  h.job.fillRandom = false;
  h.job.fsFileSizeLimit = 60000;
  EXPECT_EQ(generateByAllSize(h.job.rootFolder, h.ctx), GenerationResult::Done);
  for (const auto& [name, size] : filesIn(vol->path())) EXPECT_LE(size, 60000) << name;
}

}  // namespace
}  // namespace quillet
