#include "engine/worker_thread.h"

#include "engine/folder_tree.h"
#include "engine/generate_by_all_size.h"
#include "engine/generate_by_files_number.h"
#include "engine/run_context.h"

namespace quillet {
namespace {

void setStage(GenerationJob& job, const char* text) {
  std::lock_guard guard(job.lock);
  job.statusText = text;
}

}  // namespace

GenerationResult runWorker(GenerationJob& job, const EngineServices& services, std::atomic<int>& exitCode) {
  job.clusterSize = 65536;
  const auto cluster = services.fs.clusterSize(job.driveRoot.empty() ? job.rootFolder : job.driveRoot);
  if (cluster.ok() && cluster.value() > 0) job.clusterSize = cluster.value();

  RunContext ctx(job, services);
  GenerationResult result;
  if (job.byAllSize) {
    result = generateByAllSize(job.rootFolder, ctx);
  } else {
    bool treeKnown = false;
    if (job.makeUpTree) {
      setStage(job, "Make-up tree");
      // A stop, a full folder limit or used-up names only end the make-up.
      makeUpFolderTree(job.rootFolder, ctx, 0);
      treeKnown = !ctx.treeUnknown;
    }
    setStage(job, "Calculating folders");
    if (treeKnown && job.recurseSubfolders) {
      // The make-up has just listed or created every visible folder of the tree, so the count is
      // known without walking the tree again, and folders at its depth are known to be leaves.
      job.dirsCalculated.store(1u + static_cast<std::uint32_t>(job.dirsCreated.load()));
      ctx.knownLeafDepth = job.treeDeep;
    } else {
      countFolders(job.rootFolder, ctx);
    }
    setStage(job, "Generating files");
    result = generateByFilesNumber(job.rootFolder, ctx);
  }
  exitCode.store(toInt(result));
  {
    std::lock_guard guard(job.lock);
    job.finished = true;
  }
  return result;
}

}  // namespace quillet
