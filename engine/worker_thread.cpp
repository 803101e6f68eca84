#include "engine/worker_thread.h"

#include "engine/failure_report.h"
#include "engine/folder_tree.h"
#include "engine/generate_by_all_size.h"
#include "engine/generate_by_files_number.h"
#include "engine/run_context.h"
#include "platform/path.h"

namespace quillet {
namespace {

// With /sync:end and /journal: the volume's flush acknowledged every file closed before it.
GenerationResult journalPending(RunContext& ctx, GenerationResult result) {
  GenerationJob& job = ctx.job;
  if (job.journal == nullptr) return result;
  std::vector<AcknowledgedFile> files;
  {
    std::lock_guard guard(job.lock);
    files.swap(job.pendingAcknowledged);
  }
  for (const auto& file : files) {
    const Status recorded = job.journal->acknowledge(file);
    if (!recorded.ok()) {
      reportWriteError(ctx.services, job.journal->path(), recorded);
      return GenerationResult::PathFailed;
    }
  }
  return result;
}

// Flushes the root's volume once generation has ended, whatever the end: what was written should
// be on the storage. A failed flush means data may be lost, so it ends the run as a failed write
// would; a flush the system refuses is noted for the report and a console instead.
GenerationResult syncVolumeAtEnd(RunContext& ctx, GenerationResult result) {
  GenerationJob& job = ctx.job;
  const std::string root = withoutTrailingSeparator(job.rootFolder);
  if (!ctx.services.fs.isFolder(root)) return result;  // nothing was made to flush
  const Status synced = ctx.services.fs.syncVolume(root);
  if (synced.ok()) {
    job.volumeSynced = true;
    return journalPending(ctx, result);
  }
  // With a journal, a refused flush acknowledged no file: a run that recorded none would pass any
  // check after a power cut, so the refusal ends it as a failed flush does.
  if (synced.kind() == ErrorKind::Unsupported && job.journal == nullptr) {
    job.volumeSyncNote = "the volume was not flushed: " + synced.message();
    ctx.services.presenter.showNotice(job.volumeSyncNote);
    return result;
  }
  if (synced.kind() == ErrorKind::Unsupported) {
    reportJournalFlushRefused(ctx.services, root, synced);
  } else {
    reportVolumeFlushError(ctx.services, root, synced);
  }
  return GenerationResult::PathFailed;
}

}  // namespace

std::uint64_t drawnRunSeed(Clock& clock) {
  // Mixed so that close ticks give unrelated seeds.
  std::uint64_t z = clock.seedTicks() + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

GenerationResult runWorker(GenerationJob& job, const EngineServices& services) {
  job.clusterSize = 65536;
  const auto cluster = services.fs.clusterSize(job.driveRoot.empty() ? job.rootFolder : job.driveRoot);
  if (cluster.ok() && cluster.value() > 0) job.clusterSize = cluster.value();

  // A run without a seed still needs one for its content; the report gives it.
  if (!job.seedGiven) job.runSeed = drawnRunSeed(services.clock);
  RunContext ctx(job, services);
  if (job.journal != nullptr) {
    if (const Status begun = job.journal->begin(job.runSeed); !begun.ok()) {
      reportWriteError(services, job.journal->path(), begun);
      std::lock_guard guard(job.lock);
      job.result = GenerationResult::PathFailed;
      job.finished = true;
      return GenerationResult::PathFailed;
    }
  }
  GenerationResult result;
  if (job.byAllSize) {
    result = generateByAllSize(job.rootFolder, ctx);
  } else {
    bool treeKnown = false;
    job.populationPlan.reset();  // a job run again plans its tree afresh
    if (job.population && job.recurseSubfolders) {
      // The profile shapes the tree; the folders it leaves are counted as any others.
      job.enterStage(RunStage::MakeUpTree);
      makeUpProfileTree(job.rootFolder, ctx);
    } else if (job.makeUpTree) {
      job.enterStage(RunStage::MakeUpTree);
      // A stop, a full folder limit or used-up names only end the make-up.
      makeUpFolderTree(job.rootFolder, ctx, 0);
      treeKnown = !ctx.treeUnknown;
    }
    job.enterStage(RunStage::CalculatingFolders);
    if (treeKnown && job.recurseSubfolders) {
      // The make-up has just listed or created every visible folder of the tree, so the count is
      // known without walking the tree again, and folders at its depth are known to be leaves.
      job.dirsCalculated.store(1u + static_cast<std::uint32_t>(job.dirsCreated.load()));
      ctx.knownLeafDepth = job.treeDeep;
    } else {
      countFolders(job.rootFolder, ctx);
    }
    job.enterStage(RunStage::GeneratingFiles);
    result = generateByFilesNumber(job.rootFolder, ctx);
  }
  if (job.sync == SyncMode::End) result = syncVolumeAtEnd(ctx, result);
  if (job.journal != nullptr) {
    if (const Status finished = job.journal->finish(); !finished.ok()) {
      reportWriteError(services, job.journal->path(), finished);
      result = GenerationResult::PathFailed;
    }
  }
  {
    std::lock_guard guard(job.lock);
    job.result = result;
    job.finished = true;
  }
  return result;
}

}  // namespace quillet
