#include "engine/verify_plan.h"

#include <algorithm>
#include <map>
#include <set>

#include "engine/worker_thread.h"
#include "platform/path.h"

namespace quillet {
namespace {

// Says nothing: a plan's failures are the plan's outcome, not the user's business.
class QuietPresenter final : public FailurePresenter {
 public:
  void present(const RunFailure&) override {}
};

// The volume as the plan sees it: the root and its ancestors exist, everything else is what the
// engine makes; files take their size (rounded up to the cluster) from the room; nothing is kept
// of their content.
class PlanningFileSystem final : public FileSystem {
 public:
  PlanningFileSystem(const std::string& root, const PlanVolume& volume, GenerationJob& job)
      : root_(withoutTrailingSeparator(root)), volume_(volume), job_(job) {
    folders_.insert(root_);
  }

  // How a folder's sub-folders are listed. While files are generated, in the order they were made
  // here: the tree found on the volume is made first, each folder's sub-folders in the order the
  // volume lists them (its own order, newest first or by hash), so the engine fills them in the
  // order the run did. Before, by name: the run made its tree up in an empty root, in the order of
  // its names, and the plan must count and enter the folders found in that order too.

  struct Made {
    std::string path;
    std::int64_t size = 0;
  };
  std::vector<Made> made;
  bool cut = false;

  Result<VolumeSpace> volumeSpace(const std::string&) override {
    return VolumeSpace{std::max<std::int64_t>(0, volume_.freeBytes - used_), volume_.totalBytes};
  }
  Result<std::int32_t> clusterSize(const std::string&) override { return volume_.clusterSize; }
  Result<std::string> fileSystemName(const std::string&) override { return volume_.fileSystemName; }
  std::string driveRoot(const std::string&) override { return withTrailingSeparator(root_); }
  std::string volumeDisplayName(const std::string&) override { return root_; }
  PathKind pathKind(const std::string& path) override {
    const std::string p = withoutTrailingSeparator(path);
    if (isFolderKnown(p)) return PathKind::Folder;
    return files_.count(p) != 0 ? PathKind::File : PathKind::Missing;
  }
  Status createFolder(const std::string& path) override {
    const std::string p = withoutTrailingSeparator(path);
    if (exists(p)) return Status::failure(ErrorKind::AlreadyExists, 0, p, "exists");
    if (!isFolderKnown(parentOf(p))) return Status::failure(ErrorKind::WrongPath, 0, p, "no parent");
    folders_.insert(p);
    made_[p] = static_cast<std::int64_t>(made_.size());
    return {};
  }
  Result<std::unique_ptr<FileHandle>> createNewFile(const std::string& path) override {
    const std::string p = withoutTrailingSeparator(path);
    if (exists(p)) return Status::failure(ErrorKind::AlreadyExists, 0, p, "exists");
    if (!isFolderKnown(parentOf(p))) return Status::failure(ErrorKind::WrongPath, 0, p, "no parent");
    if (static_cast<std::int64_t>(made.size()) >= kMaxPlannedFiles) {
      cut = true;
      job_.stopRequested = true;
      return Status::failure(ErrorKind::DiskFull, 0, p, "plan full");
    }
    files_.insert(p);
    made.push_back({p, 0});
    return std::unique_ptr<FileHandle>(new Handle(*this, made.size() - 1));
  }
  Status createFolderBelow(const std::string& base, const std::string& relative) override {
    return createFolder(base + relative);
  }
  Result<std::unique_ptr<FileHandle>> createNewFileBelow(const std::string& base,
                                                         const std::string& relative) override {
    return createNewFile(base + relative);
  }
  Result<std::unique_ptr<FolderReader>> openFolder(const std::string& path) override {
    const std::string p = withoutTrailingSeparator(path);
    if (!isFolderKnown(p)) return Status::failure(ErrorKind::WrongPath, 0, p, "no folder");
    auto reader = std::make_unique<Reader>();
    const std::string prefix = p + kSeparator;
    std::vector<std::pair<std::int64_t, std::string>> subfolders;
    for (auto it = folders_.lower_bound(prefix); it != folders_.end() && it->rfind(prefix, 0) == 0; ++it) {
      if (it->find(kSeparator, prefix.size()) == std::string::npos)
        subfolders.emplace_back(made_.at(*it), *it);
    }
    if (filling()) std::sort(subfolders.begin(), subfolders.end());
    for (const auto& [order, full] : subfolders) {
      reader->entries.push_back({full.substr(prefix.size()), true, false, false, false});
    }
    for (auto it = files_.lower_bound(prefix); it != files_.end() && it->rfind(prefix, 0) == 0; ++it) {
      if (it->find(kSeparator, prefix.size()) == std::string::npos) {
        reader->entries.push_back({it->substr(prefix.size()), false, false, false, false});
      }
    }
    return std::unique_ptr<FolderReader>(std::move(reader));
  }
  Status syncVolume(const std::string&) override { return {}; }

 private:
  class Handle final : public FileHandle {
   public:
    Handle(PlanningFileSystem& fs, std::size_t index) : fs_(fs), index_(index) {}
    Status write(const void*, std::size_t size, std::size_t& written) override {
      written = size;
      fs_.grow(index_, fs_.made[index_].size + static_cast<std::int64_t>(size));
      return {};
    }
    Status allocate(std::int64_t size) override {
      fs_.grow(index_, size);
      return {};
    }
    Status syncData() override { return {}; }
    Status close() override { return {}; }

   private:
    PlanningFileSystem& fs_;
    std::size_t index_;
  };

  struct Reader final : FolderReader {
    std::vector<FolderEntry> entries;
    std::size_t next_ = 0;
    Result<bool> next(FolderEntry& entry) override {
      if (next_ >= entries.size()) return false;
      entry = entries[next_++];
      return true;
    }
  };

  void grow(std::size_t index, std::int64_t size) {
    const auto rounded = [this](std::int64_t n) {
      const std::int64_t c = std::max<std::int32_t>(volume_.clusterSize, 1);
      return (n + c - 1) / c * c;
    };
    used_ += rounded(size) - rounded(made[index].size);
    made[index].size = size;
  }
  bool filling() const {
    std::lock_guard guard(job_.lock);
    return job_.stage == RunStage::GeneratingFiles;
  }
  bool isFolderKnown(const std::string& p) const {
    if (folders_.count(p) != 0) return true;
    // The root's ancestors exist.
    return root_.rfind(p, 0) == 0 &&
           (p.size() == root_.size() || (p.size() < root_.size() && root_[p.size()] == kSeparator));
  }
  static std::string parentOf(const std::string& p) {
    const auto cut = p.find_last_of(kSeparator);
    return cut == std::string::npos ? std::string() : p.substr(0, cut);
  }

  std::string root_;
  PlanVolume volume_;
  GenerationJob& job_;
  std::set<std::string> folders_;
  std::map<std::string, std::int64_t> made_;  // each folder made here: its order of making
  std::set<std::string> files_;
  std::int64_t used_ = 0;
};

}  // namespace

std::optional<std::vector<PlannedFile>> planRun(
    GenerationJob& job, const PlanVolume& volume,
    const std::function<void(GenerationJob&, FileSystem&)>& complete, std::string& why) {
  if (!job.seedGiven) {
    why = "the run's seed is needed (/seed)";
    return std::nullopt;
  }
  PlanningFileSystem fs(job.rootFolder, volume, job);
  complete(job, fs);
  // Sizes and names are drawn alike whether a file is filled or only allocated, so the plan only
  // allocates; a filled file's size is never cut to the allocation limit.
  if (job.fillRandom) job.fsFileSizeLimit = 0;
  job.fillRandom = false;
  job.sync = SyncMode::None;
  // Names and sizes are handed out in the same order whatever the number of writers, so one writer
  // re-derives any run's files (and the planning volume needs no locking).
  job.threads = 1;
  // The counters start afresh, but the mask name spaces belong to the completed parameters: reset
  // to 0 they would leave a masked run no name at all, and its plan empty.
  const std::int64_t fileNameSpace = job.fileNameSpace;
  const std::int64_t dirNameSpace = job.dirNameSpace;
  job.resetCounters();
  job.fileNameSpace = fileNameSpace;
  job.dirNameSpace = dirNameSpace;
  QuietPresenter presenter;
  const EngineServices services{fs, systemClock(), presenter};
  runWorker(job, services);
  std::vector<PlannedFile> plan;
  plan.reserve(fs.made.size());
  const std::string root = withTrailingSeparator(withoutTrailingSeparator(job.rootFolder));
  for (const auto& m : fs.made) {
    std::string relative = m.path.substr(root.size());
    if (kSeparator != '/') std::replace(relative.begin(), relative.end(), kSeparator, '/');
    plan.push_back({relative, m.size});
  }
  if (fs.cut) why = "the plan stops after " + std::to_string(kMaxPlannedFiles) + " files";
  return plan;
}

std::unique_ptr<FileSystem> makePlanningFileSystem(const std::string& root, const PlanVolume& volume,
                                                   GenerationJob& job) {
  return std::make_unique<PlanningFileSystem>(root, volume, job);
}

std::optional<std::vector<PlannedFile>> planFoundRun(
    GenerationJob& job, FileSystem& fs, const FoundRun& found,
    const std::function<void(GenerationJob&, FileSystem&)>& complete, std::string& why) {
  PlanVolume volume;
  const std::string root = withoutTrailingSeparator(job.rootFolder);
  if (const auto c = fs.clusterSize(root); c.ok() && c.value() > 0) volume.clusterSize = c.value();
  if (const auto n = fs.fileSystemName(root); n.ok()) volume.fileSystemName = n.value();
  volume.freeBytes = INT64_C(1) << 60;
  volume.totalBytes = INT64_C(1) << 61;
  // With several writers the run handed its last files out against the room it saw, while other
  // writers' files were still being written, and those in flight took less than their size when
  // the volume filled. The plan (one writer, every file whole) is given that much more room, so it
  // reaches every file the run made; the files it plans past the run's end are the unmade tail.
  std::int64_t room = -1;
  const std::int64_t slack = (static_cast<std::int64_t>(found.writers) + 1) * found.largestFile;
  if (found.filledVolume) {
    if (const auto space = fs.volumeSpace(root); space.ok()) {
      room = space.value().availableToCaller + found.bytesInTree;
      volume.freeBytes = room + slack;
      volume.totalBytes = std::max(space.value().total, volume.freeBytes);
    }
  }
  auto plan = planRun(
      job, volume,
      [&](GenerationJob& j, FileSystem& planFs) {
        for (const auto& folder : found.folders) {
          std::string path = folder;
          if (kSeparator != '/') std::replace(path.begin(), path.end(), '/', kSeparator);
          (void)planFs.createFolderBelow(j.rootFolder, path);
        }
        complete(j, planFs);
      },
      why);
  if (plan && room >= 0) {
    // Files handed out once less than the slack was left may have been cut to the room seen.
    std::int64_t before = 0;
    const std::int64_t c = std::max<std::int64_t>(volume.clusterSize, 1);
    for (auto& f : *plan) {
      if (before + slack >= room) f.sizeMayBeCut = true;
      before += (f.size + c - 1) / c * c;
    }
  }
  return plan;
}

}  // namespace quillet
