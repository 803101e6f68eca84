#include "engine/population_walk.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <utility>

#include "engine/block_identity.h"
#include "engine/population_fit.h"
#include "engine/tree_measure.h"
#include "engine/uncached_buffer.h"
#include "platform/path.h"

namespace quillet {
namespace {

constexpr std::size_t kKeptProblems = 100;

std::uint64_t hashBytes(std::uint64_t h, std::string_view text) {
  for (const char c : text) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
  return h;
}

// A file the sample may read: chosen by a hash of its path, so that the sample is the same
// whatever order the system lists a folder in.
struct Candidate {
  std::uint64_t rank = 0;
  std::string relative;
};

struct ExtensionSeen {
  ExtensionTally tally;
  std::vector<Candidate> candidates;  // at most kSampleFilesPerExtension, the lowest ranks
};

struct Walker {
  PopulationWalkJob& job;
  FileSystem& fs;
  PopulationWalkResult& result;
  PopulationObservations observations;
  std::unordered_map<std::string, ExtensionSeen> extensions;

  void problem(std::string text) {
    ++result.problemCount;
    if (result.problems.size() < kKeptProblems) result.problems.push_back(std::move(text));
  }

  void consider(ExtensionSeen& seen, std::uint64_t rank, const std::string& folder, const std::string& name) {
    auto& c = seen.candidates;
    if (c.size() == kSampleFilesPerExtension && rank >= c.back().rank) return;
    const auto at = std::upper_bound(c.begin(), c.end(), rank,
                                     [](std::uint64_t r, const Candidate& k) { return r < k.rank; });
    c.insert(at, Candidate{rank, folder + name});
    if (c.size() > kSampleFilesPerExtension) c.pop_back();
  }

  void walk() {
    struct Pending {
      std::string relative;  // empty or ending with a separator
      std::int64_t depth;
    };
    std::vector<Pending> pending{{std::string(), 0}};
    std::vector<std::string> subfolders;
    FolderEntry entry;
    while (!pending.empty() && !job.stopRequested.load(std::memory_order_relaxed)) {
      const Pending folder = std::move(pending.back());
      pending.pop_back();
      auto reader = fs.openFolder(withoutTrailingSeparator(job.rootFolder + folder.relative));
      if (!reader.ok()) {
        if (folder.relative.empty()) {
          result.rootMissing = true;
          result.rootError = reader.status().message();
          return;
        }
        // Listed by its parent as a folder: it counts as one, empty as far as can be told.
        problem(reader.status().message());
        observations.folderFiles.push_back(0);
        observations.folderSubfolders.push_back(0);
        continue;
      }
      const std::uint64_t folderHash = hashBytes(0xCBF29CE484222325ull, folder.relative);
      std::int64_t files = 0;
      subfolders.clear();
      for (;;) {
        const auto more = reader.value()->next(entry);
        if (!more.ok()) {
          problem(more.status().message());
          break;
        }
        if (!more.value()) break;
        // Links may lead out of the tree; hidden and system entries are the system's or the
        // user's own; FIFOs, sockets and devices hold no data.
        if (entry.isLink || entry.isHidden || entry.isSystem || entry.isSpecial) continue;
        if (entry.isDirectory) {
          subfolders.push_back(entry.name);
          continue;
        }
        const auto size = reader.value()->entrySize(entry);
        if (!size.ok()) {
          problem(size.status().message());
          continue;
        }
        ++files;
        observations.fileSizes.push_back(size.value());
        observations.fileDepths.push_back(folder.depth);
        const auto extension = profileExtension(entry.name);
        ExtensionSeen& seen = extensions[extension ? *extension : std::string(kOtherExtensionKey)];
        ++seen.tally.files;
        if (size.value() > 0)
          consider(seen, mix64(hashBytes(folderHash, entry.name)), folder.relative, entry.name);
        job.filesSeen.fetch_add(1, std::memory_order_relaxed);
        job.bytesSeen.fetch_add(size.value(), std::memory_order_relaxed);
      }
      reader.value().reset();
      observations.folderFiles.push_back(files);
      observations.folderSubfolders.push_back(static_cast<std::int64_t>(subfolders.size()));
      if (!folder.relative.empty()) observations.folderDepths.push_back(folder.depth);
      for (std::string& name : subfolders) {
        pending.push_back({folder.relative + name + kSeparator, folder.depth + 1});
      }
    }
  }

  // The listed extensions' samples, read past the cache as a measure reads, block by block.
  void sample(std::map<std::string, ExtensionTally>& tallies) {
    if (!measureAvailable()) return;
    // A block larger than the sample's bytes is sampled whole.
    AlignedBuffer buffer(std::max<std::size_t>(
        kSampleBytesPerFile,
        (job.blockSize + kUncachedAlignment - 1) / kUncachedAlignment * kUncachedAlignment));
    for (const std::string& key : listedExtensionKeys(tallies)) {
      ExtensionTally& tally = tallies[key];
      for (const Candidate& c : extensions[key].candidates) {
        if (job.stopRequested.load(std::memory_order_relaxed)) return;
        auto opened = fs.openForCheck(job.rootFolder, c.relative);
        if (!opened.ok()) {
          problem(opened.status().message());
          continue;
        }
        const std::int64_t length = opened.value()->size();
        const auto got = opened.value()->read(0, buffer.data, buffer.size);
        if (!got.ok()) {
          problem(got.status().message());
          continue;
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(got.value()), length));
        if (n == 0) continue;
        for (std::size_t at = 0; at < n; at += job.blockSize) {
          const std::size_t size = std::min<std::size_t>(job.blockSize, n - at);
          tally.compressedBytes += zstdBlockSize(buffer.data + at, size);
        }
        tally.sampledBytes += static_cast<std::int64_t>(n);
        ++result.sampledFiles;
      }
    }
  }
};

}  // namespace

void runPopulationWalk(PopulationWalkJob& job, FileSystem& fs, PopulationWalkResult& result) {
  if (job.blockSize == 0 || job.blockSize > kUncachedReadChunk) {
    result.rootError = "the block size must be from 1 byte to 4 MiB";
    result.rootMissing = true;
    return;
  }
  Walker w{job, fs, result, {}, {}};
  w.walk();
  if (result.rootMissing) return;
  std::map<std::string, ExtensionTally> tallies;
  for (const auto& [key, seen] : w.extensions) tallies[key] = seen.tally;
  w.sample(tallies);
  result.stopped = job.stopRequested.load();
  w.observations.extensions = std::move(tallies);
  result.profile = fitPopulation(std::move(w.observations), &result.sizeFitDistance);
}

}  // namespace quillet
