// Profiling a tree: a walk over its metadata (names, kinds and sizes: one listing per folder and one
// size per file, no file opened) that yields its PopulationProfile. The listed extensions'
// compressibility comes from a bounded sample of their content (at most kSampleFilesPerExtension
// files, the first kSampleBytesPerFile bytes of each), compressed block by block as measure mode
// does, so that profiling costs what the walk costs. Links are never followed; hidden and system
// entries are left alone, as a measure leaves them. Only regular files count as files.
//
// Threads: runPopulationWalk() runs on the calling thread; another may set stopRequested and read
// the counters.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine_services.h"
#include "engine/population_profile.h"

namespace quillet {

inline constexpr int kSampleFilesPerExtension = 4;
inline constexpr std::size_t kSampleBytesPerFile = 64 * 1024;

struct PopulationWalkJob {
  std::string rootFolder;          // ends with a separator
  std::uint32_t blockSize = 4096;  // the unit the sampled content is compressed in
  std::atomic<std::int64_t> filesSeen{0};
  std::atomic<std::int64_t> bytesSeen{0};  // the sizes of the files seen, summed
  std::atomic<bool> stopRequested{false};
};

struct PopulationWalkResult {
  PopulationProfile profile;
  double sizeFitDistance = 0;     // Kolmogorov-Smirnov distance of the size fit to the sizes
  std::int64_t sampledFiles = 0;  // files whose content was sampled
  std::int64_t problemCount = 0;  // entries that could not be read (the first ones in problems)
  std::vector<std::string> problems;
  bool stopped = false;
  bool rootMissing = false;
  std::string rootError;
};

void runPopulationWalk(PopulationWalkJob& job, FileSystem& fs, PopulationWalkResult& result);

}  // namespace quillet
