#include "engine/generate_by_files_number.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
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
// the run (never, with one writer: it returns as soon as it ends the run itself).
GenerationResult fillFolderFiles(const std::string& folder, RunContext& ctx, FolderFacts facts,
                                 LimitShare& limit, const RunEnd& end, std::int64_t& filesMade) {
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
    if (end.ended()) return GenerationResult::Done;
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
                            const RunEnd& end) {
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
    bool subfolder = false;  // found by listing its parent (the root is counted from the start)
  };
  explicit FolderQueue(std::size_t capacity) : capacity_(capacity) {}

  // False when the run ended before the folder could be queued. With `waitDone` it returns only
  // once the writers are done with every folder queued so far, or the run ended.
  bool push(Item item, const RunEnd& end, bool waitDone) {
    std::unique_lock guard(lock_);
    walkWakes_.wait(guard, [&] { return items_.size() < capacity_ || end.ended() || aborted_; });
    if (end.ended() || aborted_) return false;
    items_.push_back(std::move(item));
    ++queued_;
    itemOrClosed_.notify_one();
    if (waitDone) walkWakes_.wait(guard, [&] { return done_ == queued_ || end.ended() || aborted_; });
    return true;
  }
  bool pop(Item& item) {
    std::unique_lock guard(lock_);
    itemOrClosed_.wait(guard, [&] { return !items_.empty() || closed_; });
    if (items_.empty()) return false;
    item = std::move(items_.front());
    items_.pop_front();
    walkWakes_.notify_one();
    return true;
  }
  // A writer is done with the folder it took last.
  void done() {
    std::lock_guard guard(lock_);
    ++done_;
    walkWakes_.notify_one();
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
    walkWakes_.notify_all();
  }

 private:
  std::mutex lock_;
  std::condition_variable walkWakes_;  // room, a folder done or the end; only the walk waits on it
  std::condition_variable itemOrClosed_;
  std::deque<Item> items_;
  std::size_t capacity_;
  std::size_t queued_ = 0;
  std::size_t done_ = 0;
  bool closed_ = false;
  bool aborted_ = false;
};

// A writer's turn at a folder the walk handed out; the end it meets is noted in `end`. A
// sub-folder counts as reached, and a stop asked for meanwhile is seen, when a writer takes it,
// not when the walk lists it: the walk may run ahead of the writers, and the count is that of the
// folders filled, the same whether one writer or several fill them.
void takeFolder(const FolderQueue::Item& item, RunContext& ctx, LimitShare& limit, RunEnd& end) {
  if (end.ended()) return;  // drain: the walk may be waiting for room
  GenerationJob& job = ctx.job;
  if (item.subfolder) {
    std::lock_guard guard(job.lock);
    job.dirsProcessed.fetch_add(1, std::memory_order_relaxed);
    if (job.stopRequested) {
      end.note(GenerationResult::Stopped);
      return;
    }
  }
  end.note(fillFolder(item.folder, ctx, item.facts, limit, end));
}

// Hands a folder over to be filled; false once the run has ended.
using FolderVisit = std::function<bool(FolderQueue::Item item)>;

// Walks the tree in the order one writer fills it: a folder, then each visible sub-folder in
// listing order, depth first; visit takes each folder in turn. The walk only reads the tree (the
// writers' context included), so it may run beside them; it stops once the run has ended.
void walkFolders(const std::string& folder, const RunContext& ctx, FolderFacts facts, bool subfolder,
                 const FolderVisit& visit, const RunEnd& end) {
  if (!visit({folder, facts, subfolder})) return;
  if (!ctx.job.recurseSubfolders || !facts.mayHaveSubfolders || end.ended()) return;
  // A folder that was not known to exist has been made by its writer by now (the visit waited for
  // it), or the run has ended.
  auto reader = ctx.services.fs.openFolder(folder);
  if (!reader.ok()) return;  // its sub-folders stay unfilled
  FolderEntry entry;
  for (;;) {
    const Result<bool> more = reader.value()->next(entry);
    // Sub-folders a listing cannot reach are left unfilled, as those of a folder that cannot be
    // listed at all.
    if (!more.ok() || !more.value()) break;
    if (!isVisibleFolder(entry)) continue;
    if (end.ended()) return;
    const int depth = facts.depth + 1;
    const bool knownLeaf = ctx.knownLeafDepth >= 0 && depth >= ctx.knownLeafDepth;
    const bool mayHaveSubfolders = !knownLeaf && reader.value()->entryMayHaveSubfolders(entry);
    walkFolders(withTrailingSeparator(folder + entry.name), ctx, {true, mayHaveSubfolders, depth}, true,
                visit, end);
  }
}

}  // namespace

GenerationResult generateByFilesNumber(const std::string& folder, RunContext& ctx, FolderFacts facts) {
  GenerationJob& job = ctx.job;
  if (job.maxFileSize == 0) return GenerationResult::MaxSizeZero;
  LimitShare limit(job.limitSize, job.currentSize.load(std::memory_order_relaxed));
  const int writers = std::clamp<int>(job.threads, 1, kMaxWriters);
  job.writerTimes.assign(static_cast<std::size_t>(writers), WriterTimes{});
  ctx.times = &job.writerTimes[0];
  // Several writers: the root is made before any of them starts, so the walk can list it while its
  // files are written. A writer alone makes it after drawing its count, as it does any folder not
  // known to exist, and the walk waits for that writer before listing it.
  if (writers > 1 && !facts.knownToExist) {
    if (const auto made = ensureFolderPath(folder, ctx); made != GenerationResult::Done) return made;
    facts.knownToExist = true;
  }
  // A writer alone works in the caller's context, so its draws run on from the caller's as they
  // always did. Several each get one of their own; without a seed each one's count draws run on
  // from the run's clock seconds, as one writer's do, and the writers differ only in which folders
  // they draw for.
  std::vector<std::unique_ptr<RunContext>> own;
  std::vector<RunContext*> contexts;
  if (writers == 1) contexts.push_back(&ctx);
  for (int i = 0; writers > 1 && i < writers; ++i) {
    own.push_back(std::make_unique<RunContext>(job, ctx.services));
    RunContext& c = *own.back();
    c.times = &job.writerTimes[static_cast<std::size_t>(i)];
    c.started = ctx.started;
    c.knownLeafDepth = ctx.knownLeafDepth;
    c.severalWriters = true;
    c.random = ctx.random;
    contexts.push_back(&c);
  }
  RunEnd end;
  FolderQueue queue(static_cast<std::size_t>(writers) * 4);
  const auto writeFolders = [&](int i) {
    RunContext& c = *contexts[static_cast<std::size_t>(i)];
    FolderQueue::Item item;
    while (queue.pop(item)) {
      takeFolder(item, c, limit, end);
      queue.done();
      if (end.ended()) queue.abort();
    }
  };
  // The writers run beside the walk, which stays on this thread; one writer is one such thread.
  std::thread pool;
  FolderVisit visit;
  try {
    pool = std::thread([&] { runWriters(writers, writeFolders); });
    visit = [&](FolderQueue::Item item) {
      const bool waitDone = !item.facts.knownToExist;
      return queue.push(std::move(item), end, waitDone);
    };
  } catch (const std::system_error&) {
    // The system refused a thread: the walk fills each folder as it reaches it, as one writer.
    visit = [&](FolderQueue::Item item) {
      takeFolder(item, ctx, limit, end);
      return !end.ended();
    };
  }
  walkFolders(folder, ctx, facts, false, visit, end);
  queue.close();
  if (pool.joinable()) pool.join();
  for (const auto& c : own) ctx.failureNoted = ctx.failureNoted || c->failureNoted;
  // Every writer has ended; a stop that came while the last files were written still counts.
  return end.result();
}

}  // namespace quillet
