#include "engine/folder_tree.h"

#include <algorithm>
#include <numeric>

#include "engine/block_identity.h"
#include "engine/names.h"
#include "engine/population_plan.h"
#include "engine/population_sampler.h"
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

GenerationResult makeUpFolderTree(const std::string& folder, RunContext& ctx, int level,
                                  bool freshlyCreated) {
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
    if (job.dirsCreated.load(std::memory_order_relaxed) + 1 > job.dirsLimit)
      return GenerationResult::FolderLimit;
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

namespace {

// Spreads exactly `total` sub-folders over parents that asked for `wanted` each, in proportion
// (the largest remainders, then the earlier parents, get the odd ones). With fewer asked for than
// needed, each parent's share grows with what it asked plus one, so a parent that asked for none
// can still get one.
std::vector<std::int64_t> spreadChildren(const std::vector<std::int64_t>& wanted, std::int64_t total) {
  std::vector<std::int64_t> out(wanted.size(), 0);
  if (wanted.empty() || total <= 0) return out;
  const std::int64_t asked = std::accumulate(wanted.begin(), wanted.end(), std::int64_t{0});
  if (asked == total) return wanted;
  std::vector<double> weights(wanted.size());
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    weights[i] = static_cast<double>(asked > total ? wanted[i] : wanted[i] + 1);
  }
  const double sum = std::accumulate(weights.begin(), weights.end(), 0.0);
  std::vector<std::pair<double, std::size_t>> remainders;
  std::int64_t given = 0;
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    const double exact = static_cast<double>(total) * weights[i] / sum;
    out[i] = static_cast<std::int64_t>(exact);
    given += out[i];
    remainders.emplace_back(exact - static_cast<double>(out[i]), i);
  }
  std::stable_sort(remainders.begin(), remainders.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t k = 0; given < total; k = (k + 1) % remainders.size(), ++given)
    ++out[remainders[k].second];
  return out;
}

}  // namespace

GenerationResult makeUpProfileTree(const std::string& root, RunContext& ctx) {
  GenerationJob& job = ctx.job;
  FileSystem& fs = ctx.services.fs;
  const PopulationProfile& profile = job.population->profile();
  // Salted, so that the tree's draws never repeat the root's own file draws.
  if (job.seedGiven) {
    ctx.random.srand(folderDrawSeed(job.runSeed ^ 0x5452454550524F46ull, ""));
  } else {
    ctx.seedFromClock();
  }
  const int maxDepth = std::clamp<int>(job.profileMaxDepth, 0, kMaxProfileDepth);
  const std::int64_t folders = maxDepth < 1 ? 0 : std::max<std::int64_t>(0, job.profileFolders);

  // How many folders each level gets, from the profile's folder depths; a level is never empty
  // while a deeper one is not, since each folder needs a parent one level up. A gap (few folders
  // drawn from deep levels leave the shallow ones empty) takes a folder from the deepest level, so
  // the count stays the profile's and every folder has its parent.
  std::vector<std::int64_t> perLevel(static_cast<std::size_t>(maxDepth) + 1, 0);
  for (std::int64_t i = 0; i < folders; ++i) {
    const std::int64_t depth = PopulationSampler::drawCount(profile.folderDepth, ctx.random);
    ++perLevel[static_cast<std::size_t>(std::clamp<std::int64_t>(depth, 1, maxDepth))];
  }
  std::size_t deepest = perLevel.size() - 1;
  while (deepest > 0 && perLevel[deepest] == 0) --deepest;
  for (std::size_t d = 1; d < deepest; ++d) {
    if (perLevel[d] > 0) continue;
    ++perLevel[d];
    --perLevel[deepest];
    while (perLevel[deepest] == 0) --deepest;
  }

  std::vector<std::int64_t> subfolders;   // per folder made (the root first)
  std::vector<std::int64_t> depths;       // per folder below the root
  std::vector<std::string> paths = {""};  // per folder made (the root first), as identity paths
  std::vector<std::string> parents = {withTrailingSeparator(root)};
  subfolders.push_back(0);
  std::vector<std::size_t> parentIndex = {0};
  GenerationResult result = GenerationResult::Done;
  for (std::size_t level = 0; level + 1 < perLevel.size() && !parents.empty(); ++level) {
    std::vector<std::int64_t> wanted;
    wanted.reserve(parents.size());
    for (std::size_t i = 0; i < parents.size(); ++i) {
      wanted.push_back(std::clamp<std::int64_t>(
          PopulationSampler::drawCount(profile.subfoldersPerFolder, ctx.random), 0, kMaxProfileCount));
    }
    const std::vector<std::int64_t> given = spreadChildren(wanted, perLevel[level + 1]);
    std::vector<std::string> children;
    std::vector<std::size_t> childIndex;
    for (std::size_t i = 0; i < parents.size() && result == GenerationResult::Done; ++i) {
      std::int64_t counter = 0;
      std::int64_t collisions = 0;
      for (std::int64_t j = 0; j < given[i]; ++j) {
        if (job.stopRequested) {
          result = GenerationResult::Stopped;
          break;
        }
        if (job.dirsCreated.load(std::memory_order_relaxed) + 1 > job.dirsLimit) {
          result = GenerationResult::FolderLimit;
          break;
        }
        bool made = false;
        bool usedUp = false;
        while (!made && !usedUp) {
          std::string name;
          const NameDraw draw = drawAllowedName(counter, job, NameKind::Folder, name);
          if (draw == NameDraw::Stopped) return GenerationResult::Stopped;
          if (draw == NameDraw::UsedUp) break;
          const std::string path = parents[i] + name;
          const Status status = fs.createFolderBelow(parents[i], name);
          ++counter;
          // A folder already there under the planned name is taken as it is, so that a tree made
          // before (or its plan) is made again alike; anything else there sends the name on.
          made = status.ok() || (status.kind() == ErrorKind::AlreadyExists && fs.isFolder(path));
          if (!status.ok() && !made) {
            if (status.kind() != ErrorKind::AlreadyExists) {
              noteOnce(ctx,
                       "a folder of the tree cannot be created, its level is left out: " + status.message());
              usedUp = true;
              break;
            }
            ++collisions;
          }
          if (job.useDirMask && (collisions > job.dirNameSpace || j >= job.dirNameSpace)) usedUp = !made;
          if (made) {
            children.push_back(withTrailingSeparator(path));
            childIndex.push_back(subfolders.size());
            subfolders.push_back(0);
            depths.push_back(static_cast<std::int64_t>(level) + 1);
            paths.push_back(identityPath(job.rootFolder, path));
            ++subfolders[parentIndex[i]];
            job.dirsCreated.fetch_add(1, std::memory_order_relaxed);
          }
        }
        if (usedUp || !made) break;
      }
    }
    if (result != GenerationResult::Done) break;
    parents = std::move(children);
    parentIndex = std::move(childIndex);
  }
  // The files of the folders made are planned now, as a whole, from the run's seed alone.
  std::vector<std::int64_t> planDepths = {0};
  planDepths.insert(planDepths.end(), depths.begin(), depths.end());
  job.populationPlan = std::make_shared<const PopulationPlan>(*job.population, paths, planDepths,
                                                              job.minFiles, job.maxFiles, job.runSeed);
  if (job.populationTally) job.populationTally->setTree(std::move(subfolders), std::move(depths));
  return result;
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
