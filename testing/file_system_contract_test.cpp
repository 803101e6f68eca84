// One contract for every FileSystem: each case runs against the recording fake the engine tests
// use, the system's own implementation on a small real volume, and the planning volume verify
// replays a run on, so that neither stand-in can drift from what a real disk does unnoticed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/uncached_buffer.h"
#include "engine/verify_plan.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "testing/fake_file_system.h"
#include "testing/volume_fixture.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#else
#include <unistd.h>
#endif

namespace quillet {
namespace {

constexpr std::int64_t kVolumeBytes = 1 << 20;

// What a case needs beyond the FileSystem interface: a folder to work in, a way to plant the
// entries the engine meets but never makes itself (existing files, links), and what the volume
// does not model.
class Backend {
 public:
  virtual ~Backend() = default;
  virtual FileSystem& fs() = 0;
  virtual std::string root() = 0;
  virtual void plantFile(const std::string& name) = 0;
  // A link pointing out of the root; false when this volume cannot have one.
  virtual bool plantLink(const std::string& name) = 0;
  // A link that leads nowhere; false when this volume cannot have one.
  virtual bool plantBrokenLink(const std::string&) { return false; }
  // The planning volume stands in for one: it keeps no content, has room for whatever the engine
  // asks (the engine does its own accounting against the run's room) and answers volume questions
  // for any path.
  virtual bool standsIn() const { return false; }
  // Whether an allocation takes real blocks (Wine only moves the end of file).
  virtual bool allocationReserves() const { return true; }
  // Whether a name is hidden by its leading dot (POSIX) rather than by an attribute (Windows).
  virtual bool hidesDotNames() const { return kSeparator == '/'; }
  // The fake's paths use '/' on every system.
  virtual char separator() const { return kSeparator; }
  std::string join(const std::string& folder, const std::string& name) const {
    return folder + separator() + name;
  }
  std::string path(const std::string& name) { return join(root(), name); }
};

class FakeBackend final : public Backend {
 public:
  FakeBackend() {
    fake_.addFolder("/vol");
    fake_.freeBytes = kVolumeBytes;
    fake_.totalBytes = kVolumeBytes;
    fake_.keepContent = true;
  }
  FileSystem& fs() override { return fake_; }
  std::string root() override { return "/vol"; }
  void plantFile(const std::string& name) override { fake_.addFile(path(name), 1); }
  bool plantLink(const std::string& name) override {
    fake_.addLink(path(name));
    return true;
  }
  char separator() const override { return '/'; }
  bool hidesDotNames() const override { return true; }

 private:
  test_support::FakeFileSystem fake_;
};

class PlanningBackend final : public Backend {
 public:
  PlanningBackend()
      : fs_(makePlanningFileSystem(root(), PlanVolume{4096, "TMPFS", kVolumeBytes, kVolumeBytes}, job_)) {}
  FileSystem& fs() override { return *fs_; }
  std::string root() override { return joinPath(joinPath(std::string(1, kSeparator), "plan"), "root"); }
  void plantFile(const std::string& name) override {
    auto file = fs_->createNewFile(path(name));
    ASSERT_TRUE(file.ok()) << file.status().message();
    std::size_t written = 0;
    ASSERT_TRUE(file.value()->write("x", 1, written).ok());
    ASSERT_TRUE(file.value()->close().ok());
  }
  bool plantLink(const std::string&) override { return false; }
  bool standsIn() const override { return true; }
  // It lists every name as visible, even where the system it stands for hides dot names: a known
  // difference, kept while plans must stay exactly as they are.
  bool hidesDotNames() const override { return false; }

 private:
  GenerationJob job_;
  std::unique_ptr<FileSystem> fs_;
};

#ifdef _WIN32
// Wine keeps its own file attributes and maps the end of file to ftruncate.
bool runningUnderWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A fresh folder on a drive of kVolumeBytes that no other test uses (the Windows CI maps a tmpfs
// of that size and names it in QUILLET_TEST_CONTRACT_DRIVE); the cases run one at a time there.
class SystemBackend final : public Backend {
 public:
  static std::unique_ptr<Backend> make(std::string& skipReason) {
    const char* drive = std::getenv("QUILLET_TEST_CONTRACT_DRIVE");
    if (drive == nullptr || *drive == 0) {
      skipReason = "QUILLET_TEST_CONTRACT_DRIVE names no drive of 1 MiB for the contract";
      return nullptr;
    }
    static std::atomic<unsigned> counter{0};
    const std::string folder = std::string(drive) + "\\contract-" + std::to_string(::GetCurrentProcessId()) +
                               "-" + std::to_string(counter++);
    if (!::CreateDirectoryA(folder.c_str(), nullptr)) {
      skipReason = "cannot make " + folder;
      return nullptr;
    }
    return std::unique_ptr<Backend>(new SystemBackend(folder));
  }
  ~SystemBackend() override { test_support::removeTree(root_); }
  FileSystem& fs() override { return *fs_; }
  std::string root() override { return root_; }
  void plantFile(const std::string& name) override { std::ofstream(path(name)) << 'x'; }
  bool plantLink(const std::string& name) override {
    // Wine reports success and makes no link; Windows may refuse without the privilege.
    return ::CreateSymbolicLinkA(
               path(name).c_str(), "C:\\",
               SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
           fs_->exists(path(name));
  }
  bool allocationReserves() const override { return !runningUnderWine(); }

 private:
  explicit SystemBackend(std::string root) : root_(std::move(root)) {}
  std::string root_;
  std::unique_ptr<FileSystem> fs_ = makeSystemFileSystem();
};
#else
// A tmpfs of kVolumeBytes of its own.
class SystemBackend final : public Backend {
 public:
  static std::unique_ptr<Backend> make(std::string& skipReason) {
    auto volume = test_support::MountedVolume::tmpfs(kVolumeBytes, skipReason);
    if (!volume) return nullptr;
    return std::unique_ptr<Backend>(new SystemBackend(std::move(volume)));
  }
  FileSystem& fs() override { return *fs_; }
  std::string root() override { return volume_->path(); }
  void plantFile(const std::string& name) override { std::ofstream(path(name)) << 'x'; }
  bool plantLink(const std::string& name) override { return ::symlink("/", path(name).c_str()) == 0; }
  bool plantBrokenLink(const std::string& name) override {
    return ::symlink(path("quillet-contract-nowhere").c_str(), path(name).c_str()) == 0;
  }

 private:
  explicit SystemBackend(std::unique_ptr<test_support::MountedVolume> volume) : volume_(std::move(volume)) {}
  std::unique_ptr<test_support::MountedVolume> volume_;
  std::unique_ptr<FileSystem> fs_ = makeSystemFileSystem();
};
#endif

class FileSystemContractTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (GetParam() == "fake") {
      backend_ = std::make_unique<FakeBackend>();
    } else if (GetParam() == "planning") {
      backend_ = std::make_unique<PlanningBackend>();
    } else {
      std::string reason;
      backend_ = SystemBackend::make(reason);
      if (!backend_) GTEST_SKIP() << reason;
    }
  }

  FileSystem& fs() { return backend_->fs(); }
  std::string at(const std::string& name) { return backend_->path(name); }
  std::string base() { return backend_->root() + backend_->separator(); }
  std::string join(const std::string& folder, const std::string& name) const {
    return backend_->join(folder, name);
  }
  std::string sep() const { return std::string(1, backend_->separator()); }

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

  // Makes name below the root with the given bytes through the interface itself.
  void makeFile(const std::string& name, const std::string& bytes) {
    auto file = fs().createNewFile(at(name));
    ASSERT_TRUE(file.ok()) << file.status().message();
    std::size_t written = 0;
    ASSERT_TRUE(file.value()->write(bytes.data(), bytes.size(), written).ok());
    ASSERT_EQ(written, bytes.size());
    ASSERT_TRUE(file.value()->close().ok());
  }

  std::unique_ptr<Backend> backend_;
};

TEST_P(FileSystemContractTest, NamesAreTakenOnceByFilesFoldersAndLinks) {
  ASSERT_TRUE(fs().createFolder(at("d")).ok());
  auto file = fs().createNewFile(at("f"));
  ASSERT_TRUE(file.ok()) << file.status().message();
  EXPECT_TRUE(file.value()->close().ok());
  std::vector<std::string> names = {"d", "f"};
  if (backend_->plantLink("l")) names.push_back("l");

  for (const auto& name : names) {
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
    const std::string below = join(at(parent), "x");
    EXPECT_EQ(fs().createFolder(below).kind(), ErrorKind::WrongPath);
    EXPECT_EQ(fs().createNewFile(below).status().kind(), ErrorKind::WrongPath);
    EXPECT_FALSE(fs().exists(below));
  }
  EXPECT_EQ(fs().openFolder(at("missing")).status().kind(), ErrorKind::WrongPath);
  if (!backend_->standsIn()) {
    EXPECT_EQ(fs().volumeSpace(at("missing")).status().kind(), ErrorKind::WrongPath);
  }
}

// What a name is, and the nearest existing ancestor every volume question about a path not yet
// made is asked of: one rule for every implementation.
TEST_P(FileSystemContractTest, KindsAndNearestExistingAncestorsFollowOneRule) {
  ASSERT_TRUE(fs().createFolder(at("d")).ok());
  ASSERT_TRUE(fs().createFolder(join(at("d"), "e")).ok());
  makeFile(join("d", "f"), "x");
  const bool linked = backend_->plantLink("l");
  const bool broken = backend_->plantBrokenLink("b");

  struct Row {
    std::string path;
    PathKind kind;
    std::string ancestor;
  };
  const std::string d = at("d"), e = join(d, "e"), f = join(d, "f");
  std::vector<Row> rows = {
      {backend_->root(), PathKind::Folder, backend_->root()},
      {d, PathKind::Folder, d},
      {d + sep(), PathKind::Folder, d},  // a trailing separator is dropped
      {e, PathKind::Folder, e},
      {f, PathKind::File, f},  // a file is its own answer
      {join(f, "below"), PathKind::Missing, f},
      {join(join(e, "missing"), "deeper"), PathKind::Missing, e},
      {join(at("missing"), "still") + sep(), PathKind::Missing, backend_->root()},
  };
  if (linked) {
    rows.push_back({at("l"), PathKind::LinkToFolder, at("l")});
    rows.push_back({join(at("l"), "quillet-contract-missing"), PathKind::Missing, at("l")});
  }
  // A link that leads nowhere is no place to ask a volume question: its folder answers.
  if (broken) rows.push_back({at("b"), PathKind::BrokenLink, backend_->root()});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    EXPECT_EQ(fs().pathKind(row.path), row.kind);
    EXPECT_EQ(fs().exists(row.path), row.kind != PathKind::Missing);
    EXPECT_EQ(fs().isFolder(row.path), row.kind == PathKind::Folder || row.kind == PathKind::LinkToFolder);
    EXPECT_EQ(fs().nearestExistingAncestor(row.path), row.ancestor);
  }
  EXPECT_EQ(fs().nearestExistingAncestor(""), "");
}

TEST_P(FileSystemContractTest, CreationBelowAFolderPassesItsFoldersButNeverALink) {
  ASSERT_TRUE(fs().createFolder(at("d")).ok());
  backend_->plantFile("f");
  EXPECT_TRUE(fs().createFolderBelow(base(), "d" + sep() + "sub").ok());
  auto file = fs().createNewFileBelow(base(), "d" + sep() + "sub" + sep() + "x");
  ASSERT_TRUE(file.ok()) << file.status().message();
  EXPECT_TRUE(file.value()->close().ok());
  EXPECT_EQ(fs().createNewFileBelow(base(), "d" + sep() + "sub" + sep() + "x").status().kind(),
            ErrorKind::AlreadyExists);
  EXPECT_EQ(fs().createNewFileBelow(base(), "f" + sep() + "x").status().kind(), ErrorKind::WrongPath);
  // An empty name (an empty mask) names base itself, which is taken.
  EXPECT_EQ(fs().createFolderBelow(base(), "").kind(), ErrorKind::AlreadyExists);
  if (backend_->plantLink("l")) {
    // The link leads out of the root: nothing is made through it.
    EXPECT_EQ(fs().createFolderBelow(base(), "l" + sep() + "quillet-contract-folder").kind(),
              ErrorKind::WrongPath);
    EXPECT_EQ(fs().createNewFileBelow(base(), "l" + sep() + "quillet-contract-file").status().kind(),
              ErrorKind::WrongPath);
  }
}

TEST_P(FileSystemContractTest, AListingShowsEveryEntryWithItsKindAndNeverDotEntries) {
  ASSERT_TRUE(fs().createFolder(at("d")).ok());
  ASSERT_TRUE(fs().createFolder(at(".hd")).ok());
  backend_->plantFile("f");
  backend_->plantFile(".hf");
  std::vector<std::string> expected = {".hd", ".hf", "d", "f"};
  const bool linked = backend_->plantLink("l");
  if (linked) expected.push_back("l");

  const auto entries = listing(backend_->root());
  std::vector<std::string> names;
  for (const auto& [name, entry] : entries) names.push_back(name);
  ASSERT_EQ(names, expected);
  EXPECT_TRUE(entries.at("d").isDirectory);
  EXPECT_TRUE(entries.at(".hd").isDirectory);
  EXPECT_FALSE(entries.at("f").isDirectory);
  for (const auto& [name, entry] : entries) {
    EXPECT_FALSE(entry.isSystem) << name;
    if (backend_->hidesDotNames()) {
      EXPECT_EQ(entry.isHidden, name[0] == '.') << name;
    }
  }
  if (linked) {
    // A link to a folder is never reported as a folder: the engine must not enter it.
    EXPECT_TRUE(entries.at("l").isLink);
    EXPECT_FALSE(entries.at("l").isDirectory);
  }
  EXPECT_TRUE(listing(at("d")).empty());
}

// Verify reads a made file back past the cache, below the root and never through a link.
TEST_P(FileSystemContractTest, AFileOpenedForCheckReadsBackWhatWasWritten) {
  std::string bytes(2 * kUncachedAlignment + 100, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 23);
  ASSERT_TRUE(fs().createFolder(at("d")).ok());
  makeFile(join("d", "f"), bytes);
  const std::string relative = "d" + sep() + "f";
  if (backend_->standsIn()) {
    // Nothing is kept to read.
    EXPECT_EQ(fs().openForCheck(base(), relative).status().kind(), ErrorKind::Unsupported);
    return;
  }
  auto opened = fs().openForCheck(base(), relative);
  ASSERT_TRUE(opened.ok()) << opened.status().message();
  ReadHandle& file = *opened.value();
  EXPECT_EQ(file.size(), static_cast<std::int64_t>(bytes.size()));
  AlignedBuffer buffer(4 * kUncachedAlignment);
  const auto all = file.read(0, buffer.data, buffer.size);
  ASSERT_TRUE(all.ok()) << all.status().message();
  ASSERT_EQ(all.value(), bytes.size()) << "short only at the end of the file";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data), all.value()), bytes);
  const auto tail = file.read(2 * kUncachedAlignment, buffer.data, kUncachedAlignment);
  ASSERT_TRUE(tail.ok()) << tail.status().message();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data), tail.value()),
            bytes.substr(2 * kUncachedAlignment));
  const auto past = file.read(4 * kUncachedAlignment, buffer.data, kUncachedAlignment);
  ASSERT_TRUE(past.ok()) << past.status().message();
  EXPECT_EQ(past.value(), 0u);

  // Nothing but a regular file below base is opened.
  backend_->plantFile("plain");
  std::vector<std::string> refused = {"missing", "d", "plain" + sep() + "x", ".." + sep() + "d" + sep() + "f",
                                      ""};
  if (backend_->plantLink("l")) refused.push_back("l");
  for (const auto& wrong : refused) {
    SCOPED_TRACE(wrong);
    EXPECT_EQ(fs().openForCheck(base(), wrong).status().kind(), ErrorKind::WrongPath);
  }
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
  if (backend_->standsIn()) return;  // room for anything: the engine keeps to the run's room itself

  // More than the volume holds: a full disk, with the bytes that did land counted.
  const std::vector<char> tooMuch(kVolumeBytes, 'y');
  const Status full = file.value()->write(tooMuch.data(), tooMuch.size(), written);
  EXPECT_EQ(full.kind(), ErrorKind::DiskFull);
  EXPECT_LT(written, tooMuch.size());
  EXPECT_TRUE(file.value()->close().ok());

  if (!backend_->allocationReserves()) return;
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
  if (!backend_->allocationReserves()) return;
  const auto space = fs().volumeSpace(backend_->root());
  ASSERT_TRUE(space.ok());
  EXPECT_LE(space.value().availableToCaller, kVolumeBytes - (256 << 10));
}

INSTANTIATE_TEST_SUITE_P(EveryImplementation, FileSystemContractTest,
                         ::testing::Values("fake", "system", "planning"),
                         [](const auto& param) { return param.param; });

}  // namespace
}  // namespace quillet
