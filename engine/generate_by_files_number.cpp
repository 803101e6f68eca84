#include "engine/generate_by_files_number.h"

#include <algorithm>

#include "engine/failure_report.h"
#include "engine/file_creation.h"
#include "engine/folder_tree.h"
#include "engine/names.h"
#include "platform/path.h"

namespace quillet {

GenerationResult generateByFilesNumber(const std::string& folder, RunContext& ctx, FolderFacts facts) {
  GenerationJob& job = ctx.job;
  if (job.maxFileSize == 0) return GenerationResult::MaxSizeZero;
  std::int64_t counter = 0;
  std::int64_t createdHere = 0;
  // With a run seed the folder's count and sizes come from the seed and the folder alone. Without
  // one the count continues the previous folder's sequence; only the sizes restart from the clock.
  if (job.seedGiven) ctx.seedForFolder(folder);
  const std::int32_t planned = drawFolderFileCount(job, ctx.random);
  job.folderFilesPlanned.store(planned, std::memory_order_relaxed);
  job.filesPlanned += planned;
  if (!job.seedGiven) ctx.seedFromClock();
  if (!facts.knownToExist) {
    if (const auto made = ensureFolderPath(folder, ctx); made != GenerationResult::Done) return made;
  }

  for (std::int32_t i = 0; i < planned; ++i) {
    job.folderFileIndex.store(i, std::memory_order_relaxed);
    std::int64_t size = drawFileSize(job, ctx.random);
    if (!job.fillRandom && job.fsFileSizeLimit != 0) size = std::min(size, job.fsFileSizeLimit);
    const std::int64_t current = job.currentSize.load(std::memory_order_relaxed);
    if (job.useLimitSize && current >= job.limitSize) return GenerationResult::LimitSizeReached;
    std::int64_t freeBytes = 0;
    if (const auto space = checkFreeSpace(folder, ctx, freeBytes, size); space != GenerationResult::Done) {
      if (space == GenerationResult::VolumeFull) reportVolumeFull(job, ctx.services, folder);
      return space;
    }
    size = std::min(size, freeBytes);
    if (job.useLimitSize) size = std::min(size, job.limitSize - current);
    if (size <= 0) continue;  // the planned file is dropped; no name is used
    bool namesUsedUp = false;
    const auto result = createNextFile(folder, counter, size, ctx, createdHere, FullVolume::Report, namesUsedUp);
    if (namesUsedUp) break;
    if (result != GenerationResult::Done) return result;
  }

  if (!job.recurseSubfolders || !facts.mayHaveSubfolders) return GenerationResult::Done;
  auto reader = ctx.services.fs.openFolder(folder);
  if (!reader.ok()) return GenerationResult::Done;  // its sub-folders stay unfilled, as above
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
    const int depth = facts.depth + 1;
    const bool knownLeaf = ctx.knownLeafDepth >= 0 && depth >= ctx.knownLeafDepth;
    const bool mayHaveSubfolders = !knownLeaf && reader.value()->entryMayHaveSubfolders(entry);
    const auto result =
        generateByFilesNumber(withTrailingSeparator(folder + entry.name), ctx, {true, mayHaveSubfolders, depth});
    if (result != GenerationResult::Done) return result;
  }
  return GenerationResult::Done;
}

}  // namespace quillet
