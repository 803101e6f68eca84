// One contract, two file systems: every case runs against the recording fake the engine tests use
// and against a real tmpfs volume, so the fake cannot drift from what a real disk does.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/path.h"
#include "testing/fake_file_system.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

constexpr std::int64_t kVolumeBytes = 1 << 20;

// What a case needs beyond the FileSystem interface: a folder to work in and a way to plant the
// entries the engine meets but never makes itself (existing files, links).
class Backend {
 public:
  virtual ~Backend() = default;
  virtual FileSystem& fs() = 0;
  virtual std::string root() = 0;
  virtual void plantFile(const std::string& name) = 0;
  virtual void plantLink(const std::string& name) = 0;  // a link pointing out of the root
  std::string path(const std::string& name) { return joinPath(root(), name); }
};

class FakeBackend final : public Backend {
 public:
  FakeBackend() {
    fake_.addFolder("/vol");
    fake_.freeBytes = kVolumeBytes;
    fake_.totalBytes = kVolumeBytes;
  }
  FileSystem& fs() override { return fake_; }
  std::string root() override { return "/vol"; }
  void plantFile(const std::string& name) override { fake_.addFile(path(name), 1); }
  void plantLink(const std::string& name) override { fake_.addLink(path(name)); }

 private:
  testing::FakeFileSystem fake_;
};

class TmpfsBackend final : public Backend {
 public:
  explicit TmpfsBackend(std::unique_ptr<testing::MountedVolume> volume) : volume_(std::move(volume)) {}
  FileSystem& fs() override { return *fs_; }
  std::string root() override { return volume_->path(); }
  void plantFile(const std::string& name) override { std::ofstream(path(name)) << 'x'; }
  void plantLink(const std::string& name) override {
    ASSERT_EQ(::symlink("/", path(name).c_str()), 0) << name;
  }

 private:
  std::unique_ptr<testing::MountedVolume> volume_;
  std::unique_ptr<FileSystem> fs_ = makeSystemFileSystem();
};

class FileSystemContractTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "fake") {
      backend_ = std::make_unique<FakeBackend>();
      return;
    }
    std::string reason;
    auto volume = testing::MountedVolume::tmpfs(kVolumeBytes, reason);
    if (!volume) GTEST_SKIP() << reason;
    backend_ = std::make_unique<TmpfsBackend>(std::move(volume));
  }

  FileSystem& fs() { return backend_->fs(); }
  std::string at(const std::string& name) { return backend_->path(name); }

  std::map<std::string, FolderEntry> listing(const std::string& folder) {
    std::map<std::string, FolderEntry> entries;
    auto reader = fs().openFolder(folder);
    EXPECT_TRUE(reader.ok()) << reader.status().message();
    if (!reader.ok()) return entries;
    FolderEntry entry;
    for (;;) {
      const Result<bool> more = reader.value()->next(entry);
      EXPECT_TRUE(more.ok()) << more.status().message();
      if (!more.ok() || !more.value()) break;
      entries[entry.name] = entry;
    }
    return entries;
  }

  std::unique_ptr<Backend> backend_;
};

TEST_P(FileSystemContractTest, NamesAreTakenOnceByFilesFoldersAndLinks) {
  ASSERT_TRUE(fs().createFolder(at("d")).ok());
  auto file = fs().createNewFile(at("f"));
  ASSERT_TRUE(file.ok()) << file.status().message();
  EXPECT_TRUE(file.value()->close().ok());
  backend_->plantLink("l");

  for (const char* name : {"d", "f", "l"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(fs().exists(at(name)));
    EXPECT_EQ(fs().createFolder(at(name)).kind(), ErrorKind::AlreadyExists);
    EXPECT_EQ(fs().createNewFile(at(name)).status().kind(), ErrorKind::AlreadyExists);
  }
  EXPECT_FALSE(fs().exists(at("nothing")));
}

TEST_P(FileSystemContractTest, AMissingOrNonFolderParentIsAWrongPath) {
  backend_->plantFile("plain");
  for (const char* parent : {"missing", "plain"}) {
    SCOPED_TRACE(parent);
    const std::string below = joinPath(at(parent), "x");
    EXPECT_EQ(fs().createFolder(below).kind(), ErrorKind::WrongPath);
    EXPECT_EQ(fs().createNewFile(below).status().kind(), ErrorKind::WrongPath);
    EXPECT_FALSE(fs().exists(below));
  }
  EXPECT_EQ(fs().openFolder(at("missing")).status().kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs().volumeSpace(at("missing")).status().kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs().nearestExistingAncestor(joinPath(at("missing"), "deeper/still")), backend_->root());
  EXPECT_EQ(fs().nearestExistingAncestor(at("plain")), at("plain"));
}

TEST_P(FileSystemContractTest, CreationBelowAFolderPassesItsFoldersButNeverALink) {
  ASSERT_TRUE(fs().createFolder(at("d")).ok());
  backend_->plantFile("f");
  backend_->plantLink("l");
  const std::string base = withTrailingSeparator(backend_->root());
  EXPECT_TRUE(fs().createFolderBelow(base, "d/sub").ok());
  auto file = fs().createNewFileBelow(base, "d/sub/x");
  ASSERT_TRUE(file.ok()) << file.status().message();
  EXPECT_TRUE(file.value()->close().ok());
  EXPECT_EQ(fs().createNewFileBelow(base, "d/sub/x").status().kind(), ErrorKind::AlreadyExists);
  // The link leads out of the root: nothing is made through it.
  EXPECT_EQ(fs().createFolderBelow(base, "l/quillet-contract-folder").kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs().createNewFileBelow(base, "l/quillet-contract-file").status().kind(), ErrorKind::WrongPath);
  EXPECT_EQ(fs().createNewFileBelow(base, "f/x").status().kind(), ErrorKind::WrongPath);
  // An empty name (an empty mask) names base itself, which is taken.
  EXPECT_EQ(fs().createFolderBelow(base, "").kind(), ErrorKind::AlreadyExists);

  // A folder, or a link to one, is a folder; a file or nothing is not.
  EXPECT_TRUE(fs().isFolder(at("d")));
  EXPECT_TRUE(fs().isFolder(at("l")));
  EXPECT_FALSE(fs().isFolder(at("f")));
  EXPECT_FALSE(fs().isFolder(at("missing")));
}

TEST_P(FileSystemContractTest, AListingShowsEveryEntryWithItsKindAndNeverDotEntries) {
  ASSERT_TRUE(fs().createFolder(at("d")).ok());
  ASSERT_TRUE(fs().createFolder(at(".hd")).ok());
  backend_->plantFile("f");
  backend_->plantFile(".hf");
  backend_->plantLink("l");

  const auto entries = listing(backend_->root());
  std::vector<std::string> names;
  for (const auto& [name, entry] : entries) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{".hd", ".hf", "d", "f", "l"}));
  if (entries.size() != 5) return;
  EXPECT_TRUE(entries.at("d").isDirectory);
  EXPECT_FALSE(entries.at("d").isHidden);
  EXPECT_TRUE(entries.at(".hd").isDirectory);
  EXPECT_TRUE(entries.at(".hd").isHidden);
  EXPECT_FALSE(entries.at("f").isDirectory);
  EXPECT_TRUE(entries.at(".hf").isHidden);
  // A link to a folder is never reported as a folder: the engine must not enter it.
  EXPECT_TRUE(entries.at("l").isLink);
  EXPECT_FALSE(entries.at("l").isDirectory);
  for (const auto& [name, entry] : entries) EXPECT_FALSE(entry.isSystem) << name;

  EXPECT_TRUE(listing(at("d")).empty());
}

TEST_P(FileSystemContractTest, WritesAndAllocationsTakeSpaceUntilTheVolumeIsFull) {
  const auto before = fs().volumeSpace(backend_->root());
  ASSERT_TRUE(before.ok());
  EXPECT_EQ(before.value().total, kVolumeBytes);
  EXPECT_GT(before.value().availableToCaller, kVolumeBytes / 2);

  auto file = fs().createNewFile(at("written"));
  ASSERT_TRUE(file.ok());
  const std::vector<char> chunk(64 << 10, 'x');
  std::size_t written = 0;
  ASSERT_TRUE(file.value()->write(chunk.data(), chunk.size(), written).ok());
  EXPECT_EQ(written, chunk.size());
  const auto after = fs().volumeSpace(backend_->root());
  ASSERT_TRUE(after.ok());
  EXPECT_LE(after.value().availableToCaller, before.value().availableToCaller - std::int64_t{64 << 10});

  // More than the volume holds: a full disk, with the bytes that did land counted.
  const std::vector<char> tooMuch(kVolumeBytes, 'y');
  const Status full = file.value()->write(tooMuch.data(), tooMuch.size(), written);
  EXPECT_EQ(full.kind(), ErrorKind::DiskFull);
  EXPECT_LT(written, tooMuch.size());
  EXPECT_TRUE(file.value()->close().ok());

  auto allocated = fs().createNewFile(at("allocated"));
  ASSERT_TRUE(allocated.ok());
  EXPECT_EQ(allocated.value()->allocate(2 * kVolumeBytes).kind(), ErrorKind::DiskFull);
  EXPECT_TRUE(allocated.value()->close().ok());
}

TEST_P(FileSystemContractTest, AnAllocationWithinTheFreeSpaceSucceeds) {
  auto file = fs().createNewFile(at("allocated"));
  ASSERT_TRUE(file.ok());
  EXPECT_TRUE(file.value()->allocate(256 << 10).ok());
  EXPECT_TRUE(file.value()->close().ok());
  const auto space = fs().volumeSpace(backend_->root());
  ASSERT_TRUE(space.ok());
  EXPECT_LE(space.value().availableToCaller, kVolumeBytes - (256 << 10));
}

INSTANTIATE_TEST_SUITE_P(FakeAndTmpfs, FileSystemContractTest, ::testing::Values("fake", "tmpfs"),
                         [](const auto& param) { return param.param; });

}  // namespace
}  // namespace quillet
