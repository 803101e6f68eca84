#include "engine/generate_by_all_size.h"

#include <algorithm>

#include "engine/failure_report.h"
#include "engine/file_creation.h"
#include "engine/names.h"

namespace quillet {

GenerationResult generateByAllSize(const std::string& rootFolder, RunContext& ctx) {
  GenerationJob& job = ctx.job;
  if (job.maxFileSize == 0) return GenerationResult::MaxSizeZero;
  std::int64_t counter = 0;
  std::int64_t createdHere = 0;
  if (job.seedGiven) {
    ctx.seedForFolder(rootFolder);
  } else {
    ctx.seedFromClock();
  }
  if (const auto made = ensureFolderPath(rootFolder, ctx); made != GenerationResult::Done) return made;

  const FullVolume fullVolume = job.allPartition ? FullVolume::Silent : FullVolume::Report;
  for (;;) {
    const std::int64_t current = job.currentSize.load(std::memory_order_relaxed);
    if (!job.allPartition && current >= job.allSize.load(std::memory_order_relaxed)) return GenerationResult::Done;
    std::int64_t size = drawFileSize(job, ctx.random);
    if (!job.fillRandom && job.fsFileSizeLimit != 0) size = std::min(size, job.fsFileSizeLimit);
    std::int64_t freeBytes = 0;
    if (const auto space = checkFreeSpace(rootFolder, ctx, freeBytes, size); space != GenerationResult::Done) {
      if (space == GenerationResult::VolumeFull && !job.allPartition) reportVolumeFull(job, ctx.services, rootFolder);
      return space;
    }
    size = std::min(size, freeBytes);
    if (!job.allPartition) size = std::min(size, job.allSize.load(std::memory_order_relaxed) - current);
    // A zero (or negative, from a negative minimum) size costs a new draw but no name. A stop is
    // honoured here too, so such a loop cannot outlive a Stop.
    if (size <= 0) {
      if (job.stopRequested) return GenerationResult::Stopped;
      continue;
    }
    bool namesUsedUp = false;
    const auto result = createNextFile(rootFolder, counter, size, ctx, createdHere, fullVolume, namesUsedUp);
    if (namesUsedUp) return GenerationResult::NamesUsedUp;
    if (result != GenerationResult::Done) return result;
  }
}

}  // namespace quillet
