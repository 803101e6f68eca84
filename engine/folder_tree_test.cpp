// Tree make-up and folder count, on the recording fake (for the order of effects) and on tmpfs.
#include "engine/folder_tree.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "engine/names.h"
#include "testing/engine_harness.h"
#include "testing/fake_file_system.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using test_support::EngineHarness;

void treeOptions(GenerationJob& job, int treeDeep, int rootSize, int dirsLimit) {
  job.treeDeep = treeDeep;
  job.rootSize = rootSize;
  job.dirsLimit = dirsLimit;
  job.recurseSubfolders = true;
}

TEST(FolderTreeTest, BuildsDepthFirstInNameOrder) {
  test_support::FakeFileSystem fs;
  fs.addFolder("/r");
  EngineHarness h{fs};
  treeOptions(h.job, 2, 2, 200);
  EXPECT_EQ(makeUpFolderTree("/r/", h.ctx, 0), GenerationResult::Done);
  EXPECT_EQ(fs.effects(), (std::vector<std::string>{"mkdir /r/a", "mkdir /r/a/a", "mkdir /r/a/b",
                                                    "mkdir /r/b", "mkdir /r/b/a", "mkdir /r/b/b"}));
  EXPECT_EQ(h.job.dirsCreated, 6);

  test_support::FakeFileSystem flat;
  flat.addFolder("/r");
  EngineHarness h1{flat};
  treeOptions(h1.job, 1, 3, 200);
  makeUpFolderTree("/r/", h1.ctx, 0);
  EXPECT_EQ(flat.effects(), (std::vector<std::string>{"mkdir /r/a", "mkdir /r/b", "mkdir /r/c"}));
}

TEST(FolderTreeTest, ExistingVisibleFoldersCountAndAreCompletedBelow) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 1 << 20);
  auto fs = makeSystemFileSystem();
  fs->createFolder(*vol / "x");
  fs->createFolder(*vol / "y");
  fs->createFolder(*vol / ".hidden");
  ASSERT_EQ(::symlink("/tmp", (*vol / "link").c_str()), 0);
  EngineHarness h{*fs};
  treeOptions(h.job, 2, 2, 200);
  EXPECT_EQ(makeUpFolderTree(vol->path() + "/", h.ctx, 0), GenerationResult::Done);
  EXPECT_EQ(h.job.dirsCreated, 6);
  EXPECT_FALSE(fs->exists(*vol / "a"));  // the root already had its two
  for (const char* p : {"x/a", "x/b", "y/a", "y/b"}) EXPECT_TRUE(fs->exists(*vol / p)) << p;
  EXPECT_FALSE(fs->exists(*vol / ".hidden/a"));
  EXPECT_FALSE(fs->exists("/tmp/a/a"));  // the link is never entered

  h.job.dirsCalculated = 1;
  countFolders(vol->path(), h.ctx);
  EXPECT_EQ(h.job.dirsCalculated, 7u);  // root, x, y and their four
  h.job.recurseSubfolders = false;
  h.job.dirsCalculated = 1;
  countFolders(vol->path(), h.ctx);
  EXPECT_EQ(h.job.dirsCalculated, 1u);
}

TEST(FolderTreeTest, FolderLimitEndsTheWholeMakeUp) {
  test_support::FakeFileSystem fs;
  fs.addFolder("/r");
  EngineHarness h{fs};
  treeOptions(h.job, 3, 3, 0);
  EXPECT_EQ(makeUpFolderTree("/r/", h.ctx, 0), GenerationResult::FolderLimit);
  EXPECT_TRUE(fs.effects().empty());

  test_support::FakeFileSystem fs2;
  fs2.addFolder("/r");
  EngineHarness h2{fs2};
  treeOptions(h2.job, 3, 3, 5);
  EXPECT_EQ(makeUpFolderTree("/r/", h2.ctx, 0), GenerationResult::FolderLimit);
  EXPECT_EQ(h2.job.dirsCreated, 5);
  EXPECT_EQ(fs2.effects().size(), 5u);
}

TEST(FolderTreeTest, UsedUpMaskNamesEndOnlyTheirLevel) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 16 << 20);
  auto fs = makeSystemFileSystem();
  EngineHarness h{*fs};
  treeOptions(h.job, 2, 40, 30000);
  h.job.useDirMask = true;
  const auto mask = normaliseMask("?");
  h.job.dirMask = mask.mask;
  h.job.dirNameSpace = mask.nameSpace;
  EXPECT_EQ(makeUpFolderTree(vol->path() + "/", h.ctx, 0), GenerationResult::NamesUsedUp);
  EXPECT_EQ(h.job.dirsCreated, 36 + 36 * 36);
  EXPECT_TRUE(fs->exists(*vol / "9/9"));
}

TEST(FolderTreeTest, CreationFailureEndsItsLevelQuietly) {
  test_support::FakeFileSystem fs;
  fs.addFolder("/r");
  fs.failFolderPath = "/r/a/b";
  EngineHarness h{fs};
  treeOptions(h.job, 2, 3, 200);
  EXPECT_EQ(makeUpFolderTree("/r/", h.ctx, 0), GenerationResult::Done);
  EXPECT_EQ(fs.effects(), (std::vector<std::string>{
                              "mkdir /r/a", "mkdir /r/a/a", "mkdir /r/b", "mkdir /r/b/a", "mkdir /r/b/b",
                              "mkdir /r/b/c", "mkdir /r/c", "mkdir /r/c/a", "mkdir /r/c/b", "mkdir /r/c/c"}));
  EXPECT_TRUE(h.presenter.shown().empty());
  // A console still learns why, once.
  ASSERT_EQ(h.presenter.notices().size(), 1u);
  EXPECT_NE(h.presenter.notices()[0].find("/r/a/b"), std::string::npos);
}

TEST(FolderTreeTest, AMaskOfReservedNamesEndsItsLevelAndAMaskNeverLeadsThroughALink) {
  test_support::FakeFileSystem fs;
  fs.addFolder("/r");
  EngineHarness h{fs};
  treeOptions(h.job, 2, 3, 200);
  h.job.useDirMask = true;
  h.job.dirMask = "prn";
  h.job.dirNameSpace = 1;
  EXPECT_EQ(makeUpFolderTree("/r/", h.ctx, 0), GenerationResult::NamesUsedUp);
  EXPECT_TRUE(fs.effects().empty());

  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 1 << 20);
  auto real = makeSystemFileSystem();
  ASSERT_TRUE(real->createFolder(*vol / "root").ok());
  ASSERT_TRUE(real->createFolder(*vol / "outside").ok());
  ASSERT_EQ(::symlink((*vol / "outside").c_str(), (*vol / "root/sub").c_str()), 0);
  EngineHarness t{*real};
  treeOptions(t.job, 2, 2, 200);
  t.job.useDirMask = true;
  t.job.dirMask = "sub/?";
  t.job.dirNameSpace = 36;
  EXPECT_EQ(makeUpFolderTree(*vol / "root/", t.ctx, 0), GenerationResult::Done);
  EXPECT_FALSE(real->exists(*vol / "outside/a"));
  EXPECT_EQ(t.job.dirsCreated, 0);
}

TEST(FolderTreeTest, StopEndsTheMakeUpAndTheCount) {
  test_support::FakeFileSystem fs;
  fs.addFolder("/r/a");
  EngineHarness h{fs};
  treeOptions(h.job, 3, 3, 200);
  h.job.stopRequested = true;
  EXPECT_EQ(makeUpFolderTree("/r/", h.ctx, 0), GenerationResult::Stopped);
  countFolders("/r", h.ctx);
  EXPECT_EQ(h.job.dirsCalculated, 1u);
  EXPECT_TRUE(fs.effects().empty());
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

TEST(FolderTreeKnowledgeTest, TheMakeUpTellsWhetherItSawTheWholeTree) {
  auto makeUp = [](test_support::FakeFileSystem& fs, int treeDeep, int rootSize, int dirsLimit) {
    EngineHarness h{fs};
    treeOptions(h.job, treeDeep, rootSize, dirsLimit);
    makeUpFolderTree("/r/", h.ctx, 0);
    return !h.ctx.treeUnknown;
  };
  test_support::FakeFileSystem fresh;
  fresh.addFolder("/r");
  EXPECT_TRUE(makeUp(fresh, 2, 3, 5));  // the limit ends the creation: nothing left unseen
  test_support::FakeFileSystem existing;
  existing.addFolder("/r/x/y");
  existing.addFolder("/r/z");
  EXPECT_FALSE(makeUp(existing, 3, 1, 1));  // the limit ends the listing of /r before z
  // The fake cannot tell leaves, so an existing folder below the depth is not known.
  test_support::FakeFileSystem deep;
  deep.addFolder("/r/x");
  EXPECT_FALSE(makeUp(deep, 1, 1, 10));
  EXPECT_TRUE(makeUp(deep, 2, 1, 10));
  // A listing that breaks off is not mistaken for a complete one.
  test_support::FakeFileSystem broken;
  broken.addFolder("/r/x");
  broken.addFolder("/r/z");
  broken.failListingOf = "/r";
  EXPECT_FALSE(makeUp(broken, 2, 1, 10));
}

}  // namespace
}  // namespace quillet
