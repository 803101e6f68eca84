#include "engine/verify_walk.h"

#include <algorithm>

#include "engine/uncached_buffer.h"
#include "platform/path.h"

namespace quillet {

std::string systemRelative(const std::string& relative) {
  std::string out = relative;
  if (kSeparator != '/') std::replace(out.begin(), out.end(), '/', kSeparator);
  return out;
}

namespace {

void walk(FileSystem& fs, const std::string& root, const std::string& relativeFolder, VerifyJob& job,
          WalkedTree& tree) {
  if (job.stopRequested) return;
  const std::string folder =
      relativeFolder.empty() ? root : root + systemRelative(relativeFolder) + kSeparator;
  auto reader = fs.openFolder(withoutTrailingSeparator(folder));
  if (!reader.ok()) {
    tree.listingErrors.push_back(reader.status().message());
    return;
  }
  std::vector<std::string> subfolders;
  std::vector<std::string> names;
  FolderEntry entry;
  for (;;) {
    const auto more = reader.value()->next(entry);
    if (!more.ok()) {
      tree.listingErrors.push_back(more.status().message());
      break;
    }
    if (!more.value()) break;
    if (entry.isLink || entry.isHidden || entry.isSystem) continue;
    if (entry.isSpecial) {
      // Opening a FIFO may block and opening a device may act on it: such an entry is only named.
      tree.notRegular.push_back((relativeFolder.empty() ? std::string() : relativeFolder + "/") + entry.name);
      continue;
    }
    (entry.isDirectory ? subfolders : names).push_back(entry.name);
  }
  reader.value().reset();
  const std::string prefix = relativeFolder.empty() ? std::string() : relativeFolder + "/";
  for (const auto& name : subfolders) tree.folders.push_back(prefix + name);
  std::sort(names.begin(), names.end());
  std::sort(subfolders.begin(), subfolders.end());
  for (const auto& name : names) {
    tree.files.push_back({prefix + name});
    job.filesFound.fetch_add(1, std::memory_order_relaxed);
  }
  for (const auto& name : subfolders) walk(fs, root, prefix + name, job, tree);
}

}  // namespace

WalkedTree walkTree(FileSystem& fs, VerifyJob& job) {
  WalkedTree tree;
  walk(fs, job.rootFolder, "", job, tree);
  std::sort(tree.notRegular.begin(), tree.notRegular.end());
  return tree;
}

std::optional<std::uint64_t> voteSeed(FileSystem& fs, VerifyJob& job, const std::vector<FoundFile>& files) {
  // At most this many files vote, spread over the walk, so that a huge tree costs few extra reads.
  constexpr std::size_t kVoters = 4096;
  const std::size_t step = std::max<std::size_t>(1, files.size() / kVoters);
  std::vector<std::uint64_t> seeds;
  AlignedBuffer first(kUncachedAlignment);
  for (std::size_t i = 0; i < files.size() && !job.stopRequested; i += step) {
    auto opened = fs.openForCheck(job.rootFolder, systemRelative(files[i].relative));
    if (!opened.ok()) continue;
    const auto got = opened.value()->read(0, first.data, first.size);
    if (!got.ok() || got.value() < kIdentityHeaderBytes) continue;
    const auto id = readBlockIdentity(first.data, std::min(got.value(), kIdentityBlock));
    // Only a block that is intact and sits first in its own file (or is the run's shared dedupe
    // block, which a file may start with) votes.
    if (!id || id->offset != 0) continue;
    if (id->fileId != fileIdentity(files[i].relative) && !isSharedBlock(*id)) continue;
    if (!blockMatches(*id, first.data, std::min<std::size_t>({got.value(), kIdentityBlock, id->fileSize})))
      continue;
    seeds.push_back(id->seed);
  }
  return majoritySeed(seeds);
}

}  // namespace quillet
