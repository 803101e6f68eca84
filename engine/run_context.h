// What one run's generation routines share besides the job: the services, the random sources and
// the write buffer. Owned by the worker for the length of a run; used by its thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/block_identity.h"
#include "engine/content_ahead.h"
#include "engine/engine_services.h"
#include "engine/generation_job.h"
#include "engine/random.h"

namespace quillet {

// Random content is generated and written in chunks of this many bytes (256 blocks of 1,024):
// large enough that system-call cost vanishes, small enough that a stop is seen quickly.
inline constexpr std::size_t kWriteChunk = 256 * 1024;
inline constexpr std::size_t kBlock = 1024;

struct RunContext {
  RunContext(GenerationJob& j, const EngineServices& s) : job(j), services(s), buffer(kWriteChunk) {}

  // Reseeds the size/count draws from the clock's seconds (a run without a seed).
  void seedFromClock() {
    const std::int64_t seconds = services.clock.secondsSinceEpoch();
    {
      // Writers filling folders side by side reseed alike; the first seconds are the run's.
      std::lock_guard guard(job.lock);
      if (job.firstSeed < 0) job.firstSeed = seconds;
    }
    random.srand(static_cast<std::uint32_t>(seconds));
  }
  // Reseeds the draws for folder's files (a run with a seed): from the seed and the folder's path
  // relative to the root alone, so that the draws are the same whatever order folders are filled
  // in, on whatever volume.
  void seedForFolder(const std::string& folder) {
    random.srand(folderDrawSeed(job.runSeed, identityPath(job.rootFolder, folder)));
  }
  // Notes a file this context's writer finished, for its first-done and last-done times.
  void noteFileDone(std::int64_t bytes) {
    if (times == nullptr) return;
    const double at = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (times->firstDone < 0) times->firstDone = at;
    times->lastDone = at;
    ++times->files;
    times->bytes += bytes;
    job.writerBytesSoFar[static_cast<std::size_t>(times - job.writerTimes.data()) % kMaxWriters].fetch_add(
        bytes, std::memory_order_relaxed);
  }

  // Counts bytes this context's writer put in a file, in the job's total and its own.
  void countBytes(std::int64_t bytes) {
    job.currentSize.fetch_add(bytes, std::memory_order_relaxed);
    bytesCounted += bytes;
  }

  GenerationJob& job;
  const EngineServices& services;
  // Set by the tree make-up when it left part of the visible tree unlisted: a folder it could not
  // list, a listing it left early, or an existing folder below its depth that may hold sub-folders.
  // Ending early while creating leaves nothing unseen: every folder not made is simply not there.
  bool treeUnknown = false;
  // When the make-up saw the whole tree: the depth from which every folder is known to hold no
  // visible sub-folder (the make-up's depth), so filling need not look into them; -1 otherwise.
  int knownLeafDepth = -1;
  // Set once a failure the run goes on after has been noted (see FailurePresenter::showNotice).
  bool failureNoted = false;
  // Set when a write or the closing of a file met a full disk, whatever the free figure said after.
  bool metDiskFull = false;
  // Writers sharing a root set this: a file a full disk left empty is never counted (it was
  // started only because another writer's file had not yet met the full volume).
  bool severalWriters = false;

  // The last free-space figure asked of the system (see checkFreeSpace), with what was written since.
  struct FreeSpaceQuery {
    std::string folder;
    std::int64_t freeBytes = 0;
    std::int64_t currentSizeThen = 0;
    std::chrono::steady_clock::time_point when;
  } lastFreeSpace;
  RandomSource random;
  std::vector<std::uint8_t> buffer;
  // Makes the next chunk while the writer writes (see ContentAhead); made at the first file of
  // more than one chunk when the run has a core to spare.
  std::unique_ptr<ContentAhead> ahead;
  // The system refused the helper's thread once: this writer makes its chunks itself from then on.
  bool aheadRefused = false;
  // The bytes countBytes counted: with it a writer tells what its own file got, whatever the
  // other writers count meanwhile.
  std::int64_t bytesCounted = 0;
  // This writer's entry of job.writerTimes and the moment generation started; none outside a run.
  WriterTimes* times = nullptr;
  std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
};

}  // namespace quillet
