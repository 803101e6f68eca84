#include "engine/generate_by_all_size.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/failure_report.h"
#include "engine/file_creation.h"
#include "engine/names.h"
#include "engine/population_sampler.h"
#include "engine/writer_pool.h"

namespace quillet {
namespace {

// What the writers of one root share: the size draws, the name counter and the bytes handed out,
// all taken under one lock in counter order, so that with a seed the n-th file gets the same name
// and size whichever writer makes it, one writer included. Only the creation and the content are
// written outside it.
struct SharedRoot {
  explicit SharedRoot(RunContext& caller)
      : draws(caller), handedOut(caller.job.currentSize.load(std::memory_order_relaxed)) {}
  std::mutex lock;
  RunContext& draws;         // the caller's: the size draws and the free-space figure the writers share
  std::int64_t counter = 0;  // the next name's counter
  std::int64_t handedOut;    // bytes given to files so far (written or being written)
  std::int64_t created = 0;  // files created under the lock (masked names), as one writer counts them
  RunEnd end;
};

enum class Ticket { File, Finished };

// With a mask, one name stands for many counters in a row, so the name a file gets depends on
// which of the files before it exist already. The names are therefore searched and the files
// created here, under the lock in counter order, exactly as one writer searches: each file gets the
// name one writer gives it. Finished with `result` when the search ends the run.
Ticket createMaskedFile(SharedRoot& shared, const std::string& root, std::string& path,
                        std::unique_ptr<FileHandle>& file, GenerationResult& result,
                        const std::string& suffix) {
  RunContext& ctx = shared.draws;
  const FullVolume fullVolume = ctx.job.allPartition ? FullVolume::Silent : FullVolume::Report;
  FreeNameSearch search(root, shared.counter, ctx.job, shared.created, suffix);
  for (;;) {
    switch (search.next(path)) {
      case FreeNameSearch::Outcome::Stopped: result = GenerationResult::Stopped; return Ticket::Finished;
      case FreeNameSearch::Outcome::NamesUsedUp:
        result = GenerationResult::NamesUsedUp;
        return Ticket::Finished;
      case FreeNameSearch::Outcome::Candidate: break;
    }
    auto created = ctx.services.fs.createNewFileBelow(root, path.substr(root.size()));
    if (created.ok()) {
      file = std::move(created.value());
      ++shared.created;
      return Ticket::File;
    }
    if (created.status().kind() == ErrorKind::AlreadyExists) continue;
    result = endAfterFailedCreate(created.status(), path, root, ctx, fullVolume);
    return Ticket::Finished;
  }
}

// Hands the next file out: its size and its first name candidate, or with a mask its name and the
// file itself, created (see createMaskedFile). Finished with `result` when the run's end is
// reached (total written, full volume, stop, names used up).
Ticket nextFile(SharedRoot& shared, const std::string& root, std::int64_t& size, std::string& path,
                std::unique_ptr<FileHandle>& file, GenerationResult& result, DrawnExtension& extension) {
  RunContext& ctx = shared.draws;
  GenerationJob& job = ctx.job;
  std::lock_guard guard(shared.lock);
  for (;;) {
    result = GenerationResult::Done;
    if (shared.end.ended()) return Ticket::Finished;
    if (job.stopRequested || job.endAtNextFile.load(std::memory_order_relaxed)) {
      result = GenerationResult::Stopped;
      return Ticket::Finished;
    }
    const std::int64_t allSize = job.allSize;
    if (!job.allPartition && shared.handedOut >= allSize) return Ticket::Finished;
    size = drawFileSize(job, ctx.random);
    const bool emptyByProfile = job.population && size == 0;
    extension = drawFileExtension(job, ctx.random);
    if (!job.fillRandom && job.fsFileSizeLimit != 0) size = std::min(size, job.fsFileSizeLimit);
    std::int64_t freeBytes = 0;
    // Bytes handed out but not written yet will take room the figure still shows as free.
    const std::int64_t inFlight = std::max<std::int64_t>(0, shared.handedOut - job.currentSize.load());
    const auto space = checkFreeSpace(root, ctx, freeBytes, size + inFlight);
    if (space != GenerationResult::Done) {
      if (space == GenerationResult::VolumeFull && !job.allPartition)
        reportVolumeFull(job, ctx.services, root);
      result = space;
      return Ticket::Finished;
    }
    size = std::min(size, freeBytes);
    if (!job.allPartition) size = std::min(size, allSize - shared.handedOut);
    // A zero (or negative, from a negative minimum) size costs a new draw but no name; the stop
    // test above keeps such a loop from outliving a Stop.
    if (size <= 0 && !emptyByProfile) continue;
    if (job.useFileMask) {
      if (createMaskedFile(shared, root, path, file, result, extension.suffix) == Ticket::Finished) {
        return Ticket::Finished;
      }
      shared.handedOut += size;
      return Ticket::File;
    }
    FreeNameSearch search(root, shared.counter, job, job.filesCreated.load(), extension.suffix);
    switch (search.next(path)) {
      case FreeNameSearch::Outcome::Stopped: result = GenerationResult::Stopped; return Ticket::Finished;
      case FreeNameSearch::Outcome::NamesUsedUp:
        result = GenerationResult::NamesUsedUp;
        return Ticket::Finished;
      case FreeNameSearch::Outcome::Candidate: break;
    }
    shared.handedOut += size;
    return Ticket::File;
  }
}

// The next name candidate for a file whose previous candidate turned out to be taken.
FreeNameSearch::Outcome nextName(SharedRoot& shared, const std::string& root, std::string& path,
                                 const std::string& suffix) {
  GenerationJob& job = shared.draws.job;
  std::lock_guard guard(shared.lock);
  FreeNameSearch search(root, shared.counter, job, job.filesCreated.load(), suffix);
  return search.next(path);
}

void writeFiles(SharedRoot& shared, const std::string& root, RunContext& ctx) {
  GenerationJob& job = ctx.job;
  const FullVolume fullVolume = job.allPartition ? FullVolume::Silent : FullVolume::Report;
  std::int64_t createdHere = 0;
  std::string path;
  for (;;) {
    std::int64_t size = 0;
    GenerationResult result = GenerationResult::Done;
    std::unique_ptr<FileHandle> file;
    DrawnExtension extension;
    if (nextFile(shared, root, size, path, file, result, extension) == Ticket::Finished) {
      shared.end.note(result);
      return;
    }
    while (!file) {
      auto created = ctx.services.fs.createNewFileBelow(root, path.substr(root.size()));
      if (created.ok()) {
        file = std::move(created.value());
        break;
      }
      if (created.status().kind() != ErrorKind::AlreadyExists) {
        result = endAfterFailedCreate(created.status(), path, root, ctx, fullVolume);
        break;
      }
      // A name taken before the run (or by another program) sends this file to the next one.
      const auto outcome = nextName(shared, root, path, extension.suffix);
      if (outcome == FreeNameSearch::Outcome::Stopped) result = GenerationResult::Stopped;
      if (outcome == FreeNameSearch::Outcome::NamesUsedUp) result = GenerationResult::NamesUsedUp;
      if (outcome != FreeNameSearch::Outcome::Candidate) break;
    }
    ctx.metDiskFull = false;
    const std::int64_t countedBefore = ctx.bytesCounted;
    if (file) {
      result = fillNewFile(*file, path, root, size, ctx, createdHere, fullVolume);
      if (result == GenerationResult::Done) {
        ctx.noteFileDone(size);
        if (job.populationTally) job.populationTally->addFile(size, 0, extension.index);
      }
    }
    if (result == GenerationResult::Done && ctx.metDiskFull) {
      // The file met the full disk although the free figure still shows room afterwards. With
      // other writers their files meet the same full disk, so the run ends here: each writer's
      // file in hand is its one cut file, and none starts another.
      if (ctx.severalWriters) {
        if (fullVolume == FullVolume::Report) reportVolumeFull(job, ctx.services, root);
        result = GenerationResult::VolumeFull;
      } else {
        // A writer alone counts the cut file and goes on; what the file did not get is handed out
        // again.
        std::lock_guard guard(shared.lock);
        shared.handedOut -= size - (ctx.bytesCounted - countedBefore);
      }
    }
    if (result != GenerationResult::Done) {
      shared.end.note(result);
      return;
    }
  }
}

}  // namespace

GenerationResult generateByAllSize(const std::string& rootFolder, RunContext& ctx) {
  GenerationJob& job = ctx.job;
  if (job.maxFileSize == 0) return GenerationResult::MaxSizeZero;
  if (job.seedGiven) {
    ctx.seedForFolder(rootFolder);
  } else {
    ctx.seedFromClock();
  }
  if (const auto made = ensureFolderPath(rootFolder, ctx); made != GenerationResult::Done) return made;
  const int writers = std::clamp<int>(job.threads, 1, kMaxWriters);
  job.writerTimes.assign(static_cast<std::size_t>(writers), WriterTimes{});
  SharedRoot shared(ctx);
  // A writer alone works in the caller's context, the draws' own: one free-space figure serves its
  // draws and its writes, as in a worker without writers. Several each get one of their own, since
  // the draws' is used by all of them under the lock.
  std::vector<std::unique_ptr<RunContext>> own;
  std::vector<RunContext*> contexts;
  if (writers == 1) {
    ctx.times = &job.writerTimes[0];
    contexts.push_back(&ctx);
  }
  for (int i = 0; writers > 1 && i < writers; ++i) {
    own.push_back(std::make_unique<RunContext>(job, ctx.services));
    own.back()->times = &job.writerTimes[static_cast<std::size_t>(i)];
    own.back()->started = ctx.started;
    own.back()->severalWriters = true;
    contexts.push_back(own.back().get());
  }
  runWriters(writers, [&](int i) { writeFiles(shared, rootFolder, *contexts[static_cast<std::size_t>(i)]); });
  for (const auto& c : own) ctx.failureNoted = ctx.failureNoted || c->failureNoted;
  // Every writer has ended; a stop that came while the last files were written still counts.
  return shared.end.result();
}

}  // namespace quillet
