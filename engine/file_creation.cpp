#include "engine/file_creation.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>

#include "engine/block_identity.h"
#include "engine/failure_report.h"
#include "engine/names.h"
#include "platform/path.h"

namespace quillet {

std::string createMissingFolders(FileSystem& fs, const std::string& path) {
  std::string failed;
  forEachFolderPrefix(path, [&](std::string_view prefix) {
    const std::string folder(prefix);
    if (fs.exists(folder)) return true;
    const Status created = fs.createFolder(folder);
    if (created.ok() || created.kind() == ErrorKind::AlreadyExists) return true;
    failed = folder;
    return false;
  });
  // A file or a dangling link where the folder itself should be: nothing can be created in it.
  // (One on the way makes the creation of the next prefix fail, which names that prefix.)
  const std::string whole = withoutTrailingSeparator(path);
  if (failed.empty() && !fs.isFolder(whole)) failed = whole;
  return failed;
}

GenerationResult ensureFolderPath(const std::string& folder, RunContext& ctx) {
  // Most calls are for folders that exist (every folder of a tree is filled in turn).
  if (ctx.services.fs.isFolder(withoutTrailingSeparator(folder))) return GenerationResult::Done;
  const std::string failed = createMissingFolders(ctx.services.fs, folder);
  if (failed.empty()) return GenerationResult::Done;
  reportFolderPath(ctx.services, failed);
  return GenerationResult::PathFailed;
}

GenerationResult checkFreeSpace(const std::string& folder, RunContext& ctx, std::int64_t& freeBytes,
                                std::int64_t wanted) {
  constexpr std::int64_t kMargin = 64LL << 20;
  constexpr auto kMaxAge = std::chrono::milliseconds(100);
  auto& last = ctx.lastFreeSpace;
  const auto now = std::chrono::steady_clock::now();
  const std::int64_t current = ctx.job.currentSize.load(std::memory_order_relaxed);
  if (wanted >= 0 && last.folder == folder && now - last.when < kMaxAge) {
    const std::int64_t estimate = last.freeBytes - (current - last.currentSizeThen);
    if (estimate >= wanted + kMargin) {
      freeBytes = estimate;
      return GenerationResult::Done;
    }
  }
  const auto space = ctx.services.fs.volumeSpace(folder);
  if (!space.ok()) {
    freeBytes = 0;
    last = {};
    if (space.status().kind() == ErrorKind::WrongPath) {
      reportFolderPath(ctx.services, withoutTrailingSeparator(folder));
    } else {
      reportFreeSpaceUnknown(ctx.services, folder, space.status());
    }
    ctx.job.stopRequested = true;
    return GenerationResult::PathFailed;
  }
  freeBytes = space.value().availableToCaller;
  last = {folder, freeBytes, current, now};
  return freeBytes <= ctx.job.clusterSize ? GenerationResult::VolumeFull : GenerationResult::Done;
}

namespace {

// Counts a finished file; a stop noticed now ends the run with the file counted.
GenerationResult countFile(GenerationJob& job, std::int64_t& createdHere) {
  std::lock_guard guard(job.lock);
  job.filesCreated.fetch_add(1, std::memory_order_relaxed);
  ++createdHere;
  return job.stopRequested ? GenerationResult::Stopped : GenerationResult::Done;
}

// A write or a close of path failed. A full disk ends the run when the volume really is full (the
// file uncounted) and otherwise leaves the short file as created; any other cause is reported and
// ends the run without counting the file: its content cannot be trusted. bytesInFile is what the
// file holds (-1 when not known).
GenerationResult endAfterFailedWrite(const Status& status, const std::string& path, const std::string& folder,
                                     RunContext& ctx, std::int64_t& createdHere, FullVolume fullVolume,
                                     std::int64_t bytesInFile) {
  GenerationJob& job = ctx.job;
  if (status.kind() == ErrorKind::DiskFull) {
    ctx.metDiskFull = true;
    if (bytesInFile == 0 && ctx.severalWriters) {
      // The file stays, as the one file this writer had in hand where the run ended.
      if (fullVolume == FullVolume::Report) reportVolumeFull(job, ctx.services, folder);
      return GenerationResult::VolumeFull;
    }
    std::int64_t freeBytes = 0;
    const GenerationResult space = checkFreeSpace(folder, ctx, freeBytes);
    if (space == GenerationResult::VolumeFull && fullVolume == FullVolume::Report) {
      reportVolumeFull(job, ctx.services, folder);
    }
    if (space != GenerationResult::Done) return space;
    return countFile(job, createdHere);
  }
  reportWriteError(ctx.services, path, status);
  job.stopRequested = true;
  return GenerationResult::PathFailed;
}

// A flush of path before its closing failed: what was written may not be on the storage, so the
// file is never counted. A full disk ends the run as full when the volume really is; otherwise,
// as any other cause, it is reported like a failed write and ends the run.
GenerationResult endAfterFailedSync(const Status& status, const std::string& path, const std::string& folder,
                                    RunContext& ctx, FullVolume fullVolume) {
  if (status.kind() == ErrorKind::DiskFull) {
    std::int64_t freeBytes = 0;
    const GenerationResult space = checkFreeSpace(folder, ctx, freeBytes);
    if (space == GenerationResult::VolumeFull) {
      if (fullVolume == FullVolume::Report) reportVolumeFull(ctx.job, ctx.services, folder);
      return space;
    }
    if (space != GenerationResult::Done) return space;
  }
  reportWriteError(ctx.services, path, status);
  ctx.job.stopRequested = true;
  return GenerationResult::PathFailed;
}

// With /journal: a file the storage acknowledged (/sync:file) is recorded before the next file
// starts; with /sync:end it waits for the volume's flush. A record that cannot be written ends the
// run as a failed write, since the journal could no longer tell what was acknowledged.
std::optional<GenerationResult> recordAcknowledged(const std::string& path, std::int64_t size,
                                                   RunContext& ctx) {
  GenerationJob& job = ctx.job;
  if (job.journal == nullptr || job.sync == SyncMode::None) return std::nullopt;
  const std::string relative = identityPath(job.rootFolder, path);
  AcknowledgedFile file{relative, size, fileIdentity(relative)};
  if (job.sync == SyncMode::End) {
    std::lock_guard guard(job.lock);
    job.pendingAcknowledged.push_back(std::move(file));
    return std::nullopt;
  }
  const Status recorded = job.journal->acknowledge(file);
  if (recorded.ok()) return std::nullopt;
  reportWriteError(ctx.services, job.journal->path(), recorded);
  job.stopRequested = true;
  return GenerationResult::PathFailed;
}

// Closes a file whose content or allocation is complete, flushing it first when the run asks.
// nullopt when that went well; otherwise how the file's creation ends (see endAfterFailedWrite).
std::optional<GenerationResult> closeComplete(FileHandle& file, const std::string& path,
                                              const std::string& folder, std::int64_t size, RunContext& ctx,
                                              std::int64_t& createdHere, FullVolume fullVolume) {
  if (ctx.job.sync == SyncMode::File) {
    const Status synced = file.syncData();
    if (!synced.ok()) {
      (void)file.close();
      return endAfterFailedSync(synced, path, folder, ctx, fullVolume);
    }
  }
  const Status closed = file.close();
  if (!closed.ok()) return endAfterFailedWrite(closed, path, folder, ctx, createdHere, fullVolume, -1);
  return recordAcknowledged(path, size, ctx);
}

GenerationResult writeContent(FileHandle& file, const std::string& path, const std::string& folder,
                              std::int64_t size, RunContext& ctx, std::int64_t& createdHere,
                              FullVolume fullVolume) {
  GenerationJob& job = ctx.job;
  // Only files of at least one whole chunk are timed: the clock is not read on the small-files path.
  const bool timed = size >= static_cast<std::int64_t>(kWriteChunk);
  const auto started = timed ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
  // Every block names the run, the file and its place in it, so the file can be checked later.
  const std::uint64_t fileId = fileIdentity(identityPath(job.rootFolder, path));
  const auto make = [&job, fileId, size](std::uint8_t* into, std::int64_t offset, std::size_t bytes) {
    fillShapedContent(job.runSeed, fileId, static_cast<std::uint64_t>(size), job.content,
                      static_cast<std::uint64_t>(offset), into, bytes);
  };
  // With a core to spare, the next chunk is made while this one is written.
  ContentAhead* ahead = nullptr;
  if (size > static_cast<std::int64_t>(kWriteChunk) && !ctx.aheadRefused &&
      ContentAhead::worthIt(job.threads)) {
    if (!ctx.ahead) {
      try {
        ctx.ahead = std::make_unique<ContentAhead>(kWriteChunk);
      } catch (const std::system_error&) {
        ctx.aheadRefused = true;  // no thread to spare after all: the same bytes, made in turn
      }
    }
    ahead = ctx.ahead.get();
  }
  std::uint8_t* current = ctx.buffer.data();
  std::uint8_t* spare = ahead != nullptr ? ahead->buffer() : nullptr;
  bool made = false;  // current holds this chunk already
  std::int64_t remaining = size;
  while (remaining > 0) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::int64_t>(remaining, kWriteChunk));
    const std::int64_t at = size - remaining;
    if (!made) make(current, at, chunk);
    made = false;
    if (ahead != nullptr && at + static_cast<std::int64_t>(chunk) < size) {
      const std::int64_t next = at + static_cast<std::int64_t>(chunk);
      const auto nextBytes = static_cast<std::size_t>(std::min<std::int64_t>(size - next, kWriteChunk));
      ahead->start([&make, spare, next, nextBytes] { make(spare, next, nextBytes); });
      made = true;
    }
    std::size_t written = 0;
    const Status status = file.write(current, chunk, written);
    // Whatever ends the file here, the next chunk's making ends first: its buffer is reused.
    if (made && (!status.ok() || job.stopRequested)) ahead->settle();
    if (!status.ok()) {
      // Only bytes that reached the file are counted.
      ctx.countBytes(static_cast<std::int64_t>(written));
      // The write's own failure decides; closing a file that already failed adds nothing.
      (void)file.close();
      return endAfterFailedWrite(status, path, folder, ctx, createdHere, fullVolume,
                                 at + static_cast<std::int64_t>(written));
    }
    remaining -= static_cast<std::int64_t>(chunk);
    // A stop seen once the last chunk is in leaves the file whole: it is closed and counted as any
    // whole file, and the stop then ends the run (countFile), so the counts match the disk.
    if (job.stopRequested && remaining > 0) {
      // Every generated block stays in the file; the block during which the stop was seen is not
      // counted.
      const std::size_t lastBlock = chunk % kBlock == 0 ? kBlock : chunk % kBlock;
      ctx.countBytes(static_cast<std::int64_t>(chunk - lastBlock));
      // A stopped file is left partial and uncounted whatever its closing says.
      (void)file.close();
      return GenerationResult::Stopped;
    }
    ctx.countBytes(static_cast<std::int64_t>(chunk));
    if (made) {
      ahead->settle();
      std::swap(current, spare);
    }
  }
  if (const auto ended = closeComplete(file, path, folder, size, ctx, createdHere, fullVolume)) return *ended;
  if (timed) {
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    // A file written faster than the clock can tell has no rate to speak of.
    if (took.count() > 0) {
      std::lock_guard guard(job.lock);
      job.writeRates.add(static_cast<double>(size) / took.count());
    }
  }
  return countFile(job, createdHere);
}

GenerationResult allocate(FileHandle& file, const std::string& path, const std::string& folder,
                          std::int64_t size, RunContext& ctx, std::int64_t& createdHere,
                          FullVolume fullVolume) {
  GenerationJob& job = ctx.job;
  // The retry asks for one cluster less, which fits when the free space falls short by less than a
  // cluster; a retry that would ask for nothing is no allocation at all.
  const std::int64_t retry = size - job.clusterSize;
  if (!file.allocate(size).ok() && (retry <= 0 || !file.allocate(retry).ok())) {
    reportCannotAllocate(ctx.services);
    // The run ends on the allocation failure already reported.
    (void)file.close();
    return GenerationResult::VolumeFull;
  }
  // The drawn size is counted even when only the shorter retry succeeded.
  ctx.countBytes(size);
  if (const auto ended = closeComplete(file, path, folder, size, ctx, createdHere, fullVolume)) return *ended;
  return countFile(job, createdHere);
}

}  // namespace

GenerationResult fillNewFile(FileHandle& file, const std::string& path, const std::string& folder,
                             std::int64_t size, RunContext& ctx, std::int64_t& createdHere,
                             FullVolume fullVolume) {
  if (ctx.job.fillRandom) return writeContent(file, path, folder, size, ctx, createdHere, fullVolume);
  return allocate(file, path, folder, size, ctx, createdHere, fullVolume);
}

GenerationResult createNextFile(const std::string& folder, std::int64_t& counter, std::int64_t size,
                                RunContext& ctx, std::int64_t& createdHere, FullVolume fullVolume,
                                bool& namesUsedUp, const std::string& suffix) {
  namesUsedUp = false;
  FreeNameSearch search(folder, counter, ctx.job, createdHere, suffix);
  std::string path;
  for (;;) {
    switch (search.next(path)) {
      case FreeNameSearch::Outcome::Stopped: return GenerationResult::Stopped;
      case FreeNameSearch::Outcome::NamesUsedUp: namesUsedUp = true; return GenerationResult::Done;
      case FreeNameSearch::Outcome::Candidate: break;
    }
    // The existence test and the creation are one exclusive create, so a name another process
    // takes in between is simply taken and an existing file is never truncated.
    auto created = ctx.services.fs.createNewFileBelow(folder, path.substr(folder.size()));
    if (created.ok()) return fillNewFile(*created.value(), path, folder, size, ctx, createdHere, fullVolume);
    const Status& status = created.status();
    if (status.kind() == ErrorKind::AlreadyExists) continue;
    return endAfterFailedCreate(status, path, folder, ctx, fullVolume);
  }
}

GenerationResult endAfterFailedCreate(const Status& status, const std::string& path,
                                      const std::string& folder, RunContext& ctx, FullVolume fullVolume) {
  if (status.kind() == ErrorKind::DiskFull) {
    // No room for one more file although bytes are free: the inode table is full.
    if (fullVolume == FullVolume::Report) reportVolumeFull(ctx.job, ctx.services, folder);
    return GenerationResult::VolumeFull;
  }
  if (status.kind() == ErrorKind::WrongPath) {
    reportFilePath(ctx.services, path);
  } else {
    reportFileError(ctx.services, path, status);
  }
  ctx.job.stopRequested = true;
  return GenerationResult::PathFailed;
}

}  // namespace quillet
