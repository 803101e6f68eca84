#include "engine/generate_by_files_number.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "engine/failure_report.h"
#include "engine/file_creation.h"
#include "engine/folder_tree.h"
#include "engine/names.h"
#include "engine/population_plan.h"
#include "engine/population_sampler.h"
#include "engine/writer_pool.h"
#include "platform/path.h"

namespace quillet {
namespace {

// The bytes /limsize allows, handed out to files as they are drawn, among however many writers
// fill folders: a file takes what is left when its turn comes and gives back what it did not get
// when the run goes on without it (its folder's names were used up, a full disk cut it short).
// So with one writer the limit is read off what was written, and with several it holds exactly.
class LimitShare {
 public:
  LimitShare(std::int64_t limit, std::int64_t counted) : limit_(limit), handedOut_(counted) {}
  bool reached() const { return handedOut_.load() >= limit_; }
  // Up to `size` bytes (more than 0) for one file; 0 when the limit is reached.
  std::int64_t take(std::int64_t size) {
    std::int64_t before = handedOut_.load();
    for (;;) {
      const std::int64_t granted = std::min(size, limit_ - before);
      if (granted <= 0) return 0;
      if (handedOut_.compare_exchange_weak(before, before + granted)) return granted;
    }
  }
  void giveBack(std::int64_t bytes) { handedOut_.fetch_sub(bytes); }

 private:
  std::int64_t limit_;
  std::atomic<std::int64_t> handedOut_;
};

// Fills one folder with its files (not its sub-folders). `end` tells a writer that another ended
// the run (none with one writer).
GenerationResult fillFolderFiles(const std::string& folder, RunContext& ctx, FolderFacts facts,
                                 LimitShare& limit, const RunEnd* end, std::int64_t& filesMade) {
  GenerationJob& job = ctx.job;
  std::int64_t counter = 0;
  std::int64_t createdHere = 0;
  // With a run seed the folder's count and sizes come from the seed and the folder alone. Without
  // one the count continues the previous folder's sequence; only the sizes restart from the clock.
  if (job.seedGiven) ctx.seedForFolder(folder);
  // A folder of a profile's made-up tree has its files planned, and each file's size stratum.
  const PopulationPlan::Folder* plan =
      job.populationPlan ? job.populationPlan->folder(identityPath(job.rootFolder, folder)) : nullptr;
  const std::int32_t planned = plan != nullptr
                                   ? static_cast<std::int32_t>(std::min<std::int64_t>(plan->files, INT32_MAX))
                                   : drawFolderFileCount(job, ctx.random);
  job.folderFilesPlanned.store(planned, std::memory_order_relaxed);
  job.filesPlanned.fetch_add(planned, std::memory_order_relaxed);
  if (!job.seedGiven) ctx.seedFromClock();
  if (!facts.knownToExist) {
    if (const auto made = ensureFolderPath(folder, ctx); made != GenerationResult::Done) return made;
  }

  for (std::int32_t i = 0; i < planned; ++i) {
    if (end != nullptr && end->ended()) return GenerationResult::Done;
    if (job.endAtNextFile.load(std::memory_order_relaxed)) return GenerationResult::Stopped;
    job.folderFileIndex.store(i, std::memory_order_relaxed);
    std::int64_t size = drawFileSize(job, ctx.random, plan != nullptr ? plan->firstFile + i : -1);
    // A profile's empty files are files too; only a size the limits cut to nothing drops the file.
    const bool emptyByProfile = job.population && size == 0;
    const DrawnExtension extension = drawFileExtension(job, ctx.random);
    if (!job.fillRandom && job.fsFileSizeLimit != 0) size = std::min(size, job.fsFileSizeLimit);
    if (job.useLimitSize && limit.reached()) return GenerationResult::LimitSizeReached;
    std::int64_t freeBytes = 0;
    if (const auto space = checkFreeSpace(folder, ctx, freeBytes, size); space != GenerationResult::Done) {
      if (space == GenerationResult::VolumeFull) reportVolumeFull(job, ctx.services, folder);
      return space;
    }
    size = std::min(size, freeBytes);
    std::int64_t taken = 0;
    if (job.useLimitSize && size > 0) {
      // Another writer may have taken the rest since the test above.
      taken = limit.take(size);
      if (taken == 0) return GenerationResult::LimitSizeReached;
      size = taken;
    }
    if (size <= 0 && !emptyByProfile) continue;  // the planned file is dropped; no name is used
    bool namesUsedUp = false;
    ctx.metDiskFull = false;
    const std::int64_t countedBefore = ctx.bytesCounted;
    const auto result = createNextFile(folder, counter, size, ctx, createdHere, FullVolume::Report,
                                       namesUsedUp, extension.suffix);
    if (namesUsedUp) {
      limit.giveBack(taken);
      break;
    }
    if (result != GenerationResult::Done) return result;
    ctx.noteFileDone(size);
    ++filesMade;
    if (job.populationTally) job.populationTally->addFile(size, facts.depth, extension.index);
    if (ctx.metDiskFull) {
      // The file met the full disk although the free figure still shows room afterwards. With
      // other writers their files meet the same full disk, so the run ends here: each writer's
      // file in hand is its one cut file, and none starts another. A writer alone counts the cut
      // file and goes on.
      if (ctx.severalWriters) {
        reportVolumeFull(job, ctx.services, folder);
        return GenerationResult::VolumeFull;
      }
      if (taken > 0) limit.giveBack(taken - (ctx.bytesCounted - countedBefore));
    }
  }
  return GenerationResult::Done;
}

GenerationResult fillFolder(const std::string& folder, RunContext& ctx, FolderFacts facts, LimitShare& limit,
                            const RunEnd* end) {
  std::int64_t made = 0;
  const GenerationResult result = fillFolderFiles(folder, ctx, facts, limit, end, made);
  if (ctx.job.populationTally) ctx.job.populationTally->addFolder(made, facts.depth);
  return result;
}

// The folders waiting for a writer, handed out in walk order. Bounded: the walk waits while a few
// folders per writer are queued, so a huge tree costs no memory per folder.
class FolderQueue {
 public:
  struct Item {
    std::string folder;
    FolderFacts facts;
  };
  explicit FolderQueue(std::size_t capacity) : capacity_(capacity) {}

  // False when the run ended before the folder could be queued.
  bool push(Item item, const RunEnd& end) {
    std::unique_lock guard(lock_);
    roomOrEnd_.wait(guard, [&] { return items_.size() < capacity_ || end.ended() || aborted_; });
    if (end.ended() || aborted_) return false;
    items_.push_back(std::move(item));
    itemOrClosed_.notify_one();
    return true;
  }
  bool pop(Item& item) {
    std::unique_lock guard(lock_);
    itemOrClosed_.wait(guard, [&] { return !items_.empty() || closed_; });
    if (items_.empty()) return false;
    item = std::move(items_.front());
    items_.pop_front();
    roomOrEnd_.notify_one();
    return true;
  }
  void close() {
    std::lock_guard guard(lock_);
    closed_ = true;
    itemOrClosed_.notify_all();
  }
  // The run ended: the walk stops queueing and the writers drop what is queued.
  void abort() {
    std::lock_guard guard(lock_);
    aborted_ = true;
    items_.clear();
    roomOrEnd_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable roomOrEnd_;
  std::condition_variable itemOrClosed_;
  std::deque<Item> items_;
  std::size_t capacity_;
  bool closed_ = false;
  bool aborted_ = false;
};

// Fills a folder (one writer) or queues it for the writers; false, with the run's result, ends
// the walk.
using FolderVisit =
    std::function<bool(const std::string& folder, FolderFacts facts, GenerationResult& result)>;

// Walks the tree in the order one writer fills it: a folder, then each visible sub-folder in
// listing order, depth first; visit takes each folder in turn. With `end` (the writers' shared
// end) the walk runs beside the writers and stops once they ended the run.
GenerationResult walkFolders(const std::string& folder, RunContext& ctx, FolderFacts facts,
                             const FolderVisit& visit, const RunEnd* end) {
  GenerationJob& job = ctx.job;
  GenerationResult visited = GenerationResult::Done;
  if (!visit(folder, facts, visited)) return visited;
  if (!job.recurseSubfolders || !facts.mayHaveSubfolders) return GenerationResult::Done;
  // A folder still to be made (the root, when it was not there) is listed once its writer made it;
  // a single writer has made it already.
  if (end != nullptr && !facts.knownToExist && !ctx.services.fs.isFolder(withoutTrailingSeparator(folder))) {
    return GenerationResult::Done;
  }
  auto reader = ctx.services.fs.openFolder(folder);
  if (!reader.ok()) return GenerationResult::Done;  // its sub-folders stay unfilled
  FolderEntry entry;
  for (;;) {
    const Result<bool> more = reader.value()->next(entry);
    // Sub-folders a listing cannot reach are left unfilled, as those of a folder that cannot be
    // listed at all.
    if (!more.ok() || !more.value()) break;
    if (!isVisibleFolder(entry)) continue;
    {
      std::lock_guard guard(job.lock);
      job.dirsProcessed.fetch_add(1, std::memory_order_relaxed);
      if (job.stopRequested) return GenerationResult::Stopped;
    }
    if (end != nullptr && end->ended()) return GenerationResult::Done;
    const int depth = facts.depth + 1;
    const bool knownLeaf = ctx.knownLeafDepth >= 0 && depth >= ctx.knownLeafDepth;
    const bool mayHaveSubfolders = !knownLeaf && reader.value()->entryMayHaveSubfolders(entry);
    const auto result = walkFolders(withTrailingSeparator(folder + entry.name), ctx,
                                    {true, mayHaveSubfolders, depth}, visit, end);
    if (result != GenerationResult::Done) return result;
  }
  return GenerationResult::Done;
}

std::optional<GenerationResult> generateWithWriters(const std::string& root, RunContext& ctx,
                                                    FolderFacts facts, int writers, LimitShare& limit) {
  GenerationJob& job = ctx.job;
  // The root must exist before it can be listed; its files come from the first writer as usual.
  if (!facts.knownToExist) {
    if (const auto made = ensureFolderPath(root, ctx); made != GenerationResult::Done) return made;
    facts.knownToExist = true;
  }
  std::vector<std::unique_ptr<RunContext>> contexts;
  for (int i = 0; i < writers; ++i) {
    contexts.push_back(std::make_unique<RunContext>(job, ctx.services));
    RunContext& c = *contexts.back();
    c.times = &job.writerTimes[static_cast<std::size_t>(i)];
    c.started = ctx.started;
    c.knownLeafDepth = ctx.knownLeafDepth;
    c.severalWriters = true;
    // Without a seed each writer's count draws run on from the run's clock seconds, as one
    // writer's do; the writers differ only in which folders they draw for.
    c.random = ctx.random;
  }
  RunEnd end;
  FolderQueue queue(static_cast<std::size_t>(writers) * 4);
  const auto writeFolders = [&](int i) {
    RunContext& c = *contexts[static_cast<std::size_t>(i)];
    FolderQueue::Item item;
    while (queue.pop(item)) {
      if (end.ended()) continue;  // drain: the walk may be waiting for room
      const auto result = fillFolder(item.folder, c, item.facts, limit, &end);
      if (result != GenerationResult::Done) {
        end.note(result);
        queue.abort();
      }
    }
  };
  // The writers run beside the walk, which stays on this thread.
  std::thread pool;
  try {
    pool = std::thread([&] { runWriters(writers, writeFolders); });
  } catch (const std::system_error&) {
    return std::nullopt;  // the system refused a thread: one writer does it all
  }
  const FolderVisit enqueue = [&](const std::string& folder, FolderFacts folderFacts,
                                  GenerationResult& result) {
    result = GenerationResult::Done;
    return queue.push({folder, folderFacts}, end);
  };
  const GenerationResult walked = walkFolders(root, ctx, facts, enqueue, &end);
  if (walked != GenerationResult::Done) queue.abort();
  queue.close();
  pool.join();
  for (const auto& c : contexts) ctx.failureNoted = ctx.failureNoted || c->failureNoted;
  end.note(walked);
  return end.result();
}

}  // namespace

GenerationResult generateByFilesNumber(const std::string& folder, RunContext& ctx, FolderFacts facts) {
  GenerationJob& job = ctx.job;
  if (job.maxFileSize == 0) return GenerationResult::MaxSizeZero;
  LimitShare limit(job.limitSize, job.currentSize.load(std::memory_order_relaxed));
  if (facts.depth == 0) {
    const int writers = std::clamp<int>(job.threads, 1, kMaxWriters);
    job.writerTimes.assign(static_cast<std::size_t>(writers), WriterTimes{});
    ctx.times = &job.writerTimes[0];
    if (writers > 1) {
      if (const auto result = generateWithWriters(folder, ctx, facts, writers, limit)) return *result;
    }
  }
  const FolderVisit fill = [&ctx, &limit](const std::string& f, FolderFacts folderFacts,
                                          GenerationResult& result) {
    result = fillFolder(f, ctx, folderFacts, limit, nullptr);
    return result == GenerationResult::Done;
  };
  return walkFolders(folder, ctx, facts, fill, nullptr);
}

}  // namespace quillet
