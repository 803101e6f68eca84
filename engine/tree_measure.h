// Measure: walks any tree and tells what storage with inline compression and deduplication would
// make of it: the compression ratio of each dedupe-sized block compressed on its own with zstd at
// level 1 and with lz4, and the dedupe ratio (all blocks over the distinct ones, blocks aligned to
// file offsets, a file's short last block counted as a block of its own). Links are never
// followed; hidden and system entries are left alone. Plain C++ over the FileSystem services.
//
// Threads: runMeasure() runs on the calling thread; another thread may set stopRequested.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/engine_services.h"

namespace quillet {

struct MeasureJob {
  std::string rootFolder;  // ends with a separator
  std::uint32_t blockSize = 4096;
  std::atomic<std::int64_t> filesMeasured{0};
  std::atomic<std::int64_t> bytesMeasured{0};
  std::atomic<bool> stopRequested{false};
};

struct MeasureResult {
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  std::int64_t blocks = 0;
  std::int64_t uniqueBlocks = 0;
  std::int64_t zstdBytes = 0;  // the blocks' compressed sizes, summed
  std::int64_t lz4Bytes = 0;
  std::int64_t unreadableFiles = 0;
  std::vector<std::string> problems;  // folders or files that could not be read, with why
  bool stopped = false;
  bool rootMissing = false;
  std::string rootError;

  // Ratios as storage shows them (2.0 for 2:1); 1 for an empty tree.
  double zstdRatio() const {
    return zstdBytes > 0 ? static_cast<double>(bytes) / static_cast<double>(zstdBytes) : 1.0;
  }
  double lz4Ratio() const {
    return lz4Bytes > 0 ? static_cast<double>(bytes) / static_cast<double>(lz4Bytes) : 1.0;
  }
  double dedupeRatio() const {
    return uniqueBlocks > 0 ? static_cast<double>(blocks) / static_cast<double>(uniqueBlocks) : 1.0;
  }
};

// False in a build without the compressors (runMeasure then only sets rootError).
bool measureAvailable();

// The compressed size of one block on its own: zstd level 1 (one frame, no checksum) and lz4's
// default one-shot block. Both 0 in a build without the compressors.
std::int64_t zstdBlockSize(const std::uint8_t* data, std::size_t size);
std::int64_t lz4BlockSize(const std::uint8_t* data, std::size_t size);

void runMeasure(MeasureJob& job, FileSystem& fs, MeasureResult& result);

}  // namespace quillet
