#include "engine/folder_tree.h"

#include "engine/names.h"
#include "platform/path.h"

namespace quillet {
namespace {

// One such line per run is enough: the same cause usually ends many levels.
void noteOnce(RunContext& ctx, const std::string& text) {
  if (ctx.failureNoted) return;
  ctx.failureNoted = true;
  ctx.services.presenter.showNotice(text);
}

}  // namespace

GenerationResult makeUpFolderTree(const std::string& folder, RunContext& ctx, int level, bool freshlyCreated) {
  GenerationJob& job = ctx.job;
  FileSystem& fs = ctx.services.fs;
  const std::string base = withTrailingSeparator(folder);
  const bool deeper = level + 1 < job.treeDeep;
  std::int64_t existing = 0;

  if (!freshlyCreated) {
    auto reader = fs.openFolder(base);
    if (!reader.ok()) ctx.treeUnknown = true;
    if (reader.ok()) {
      // Leaving this listing early leaves its remaining folders unseen.
      auto endEarly = [&](GenerationResult r) {
        ctx.treeUnknown = true;
        return r;
      };
      FolderEntry entry;
      for (;;) {
        if (job.stopRequested) return endEarly(GenerationResult::Stopped);
        const Result<bool> more = reader.value()->next(entry);
        // A listing that cannot be read further is left like one that ended, but its remaining
        // folders are unseen.
        if (!more.ok()) ctx.treeUnknown = true;
        if (!more.ok() || !more.value()) break;
        if (!isVisibleFolder(entry)) continue;
        ++existing;
        if (job.dirsCreated.load(std::memory_order_relaxed) + 1 > job.dirsLimit) {
          return endEarly(GenerationResult::FolderLimit);
        }
        job.dirsCreated.fetch_add(1, std::memory_order_relaxed);
        if (deeper) {
          const auto r = makeUpFolderTree(base + entry.name, ctx, level + 1);
          if (r != GenerationResult::Done && r != GenerationResult::NamesUsedUp) return endEarly(r);
        } else if (reader.value()->entryMayHaveSubfolders(entry)) {
          ctx.treeUnknown = true;
        }
      }
    }
  }

  std::int64_t counter = 0;
  for (std::int64_t j = 0; j < static_cast<std::int64_t>(job.rootSize) - existing; ++j) {
    if (job.stopRequested) return GenerationResult::Stopped;
    if (job.dirsCreated.load(std::memory_order_relaxed) + 1 > job.dirsLimit) return GenerationResult::FolderLimit;
    std::int64_t collisions = 0;
    std::string path;
    for (;;) {
      std::string name;
      switch (drawAllowedName(counter, job, NameKind::Folder, name)) {
        case NameDraw::Stopped: return GenerationResult::Stopped;
        case NameDraw::UsedUp: return GenerationResult::NamesUsedUp;
        case NameDraw::Allowed: break;
      }
      path = base + name;
      // A mask with a folder part must not lead through a link out of the tree.
      const Status status = fs.createFolderBelow(base, name);
      if (!status.ok()) {
        if (status.kind() != ErrorKind::AlreadyExists) {
          // This level ends without a word in the log or a window; a console still says why.
          noteOnce(ctx, "a folder of the tree cannot be created, its level is left out: " + status.message());
          return GenerationResult::Done;
        }
        ++collisions;
      }
      ++counter;
      if (job.useDirMask && (collisions > job.dirNameSpace || j >= job.dirNameSpace)) {
        return GenerationResult::NamesUsedUp;
      }
      if (status.ok()) break;
    }
    job.dirsCreated.fetch_add(1, std::memory_order_relaxed);
    if (deeper) {
      const auto r = makeUpFolderTree(path, ctx, level + 1, true);
      if (r != GenerationResult::Done && r != GenerationResult::NamesUsedUp) return r;
    }
  }
  return GenerationResult::Done;
}

void countFolders(const std::string& folder, RunContext& ctx) {
  GenerationJob& job = ctx.job;
  // Without recursion nothing below the root is counted, so there is nothing to list.
  if (!job.recurseSubfolders) return;
  const std::string base = withTrailingSeparator(folder);
  auto reader = ctx.services.fs.openFolder(base);
  if (!reader.ok()) return;
  FolderEntry entry;
  for (;;) {
    if (job.stopRequested) return;
    const Result<bool> more = reader.value()->next(entry);
    // A listing that cannot be read further counts what it gave; the count only scales progress.
    if (!more.ok() || !more.value()) return;
    if (!isVisibleFolder(entry)) continue;
    job.dirsCalculated.fetch_add(1, std::memory_order_relaxed);
    if (reader.value()->entryMayHaveSubfolders(entry)) countFolders(base + entry.name, ctx);
  }
}

}  // namespace quillet
