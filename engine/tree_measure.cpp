#include "engine/tree_measure.h"

#include <lz4.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_set>

#include "engine/block_identity.h"
#include "engine/uncached_buffer.h"
#include "platform/path.h"

namespace quillet {
namespace {

constexpr std::size_t kReadChunk = kUncachedReadChunk;

// A 128-bit hash of a block: two independent 64-bit lanes over its words and its length, so that
// two different blocks share a hash with odds far below any tree's block count.
struct BlockHash {
  std::uint64_t a, b;
  bool operator==(const BlockHash&) const = default;
};
struct BlockHashOf {
  std::size_t operator()(const BlockHash& h) const { return static_cast<std::size_t>(h.a); }
};

BlockHash hashBlock(const std::uint8_t* p, std::size_t size) {
  std::uint64_t a = 0x243F6A8885A308D3ull ^ size, b = 0x13198A2E03707344ull ^ (size * 0x9E3779B97F4A7C15ull);
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    a = (a ^ w) * 0x9E3779B97F4A7C15ull;
    a ^= a >> 29;
    b = (b + w) * 0xC2B2AE3D27D4EB4Full;
    b ^= b >> 31;
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, p + i, size - i);
  return {mix64(a ^ tail), mix64(b + tail + 0x165667B19E3779F9ull)};
}

struct ZstdContext {
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  ~ZstdContext() { ZSTD_freeCCtx(cctx); }
};

thread_local ZstdContext tZstd;
thread_local std::vector<char> tOut;

// relative: below the root, the system's separators between parts. Opened from the root so that no
// link on the way is followed.
void measureFile(FileSystem& fs, const std::string& relative, MeasureJob& job, MeasureResult& result,
                 std::unordered_set<BlockHash, BlockHashOf>& seen, AlignedBuffer& buffer) {
  auto opened = fs.openForCheck(job.rootFolder, relative);
  if (!opened.ok()) {
    ++result.unreadableFiles;
    result.problems.push_back(opened.status().message());
    return;
  }
  ReadHandle& file = *opened.value();
  const std::int64_t length = file.size();
  for (std::int64_t offset = 0; offset < length && !job.stopRequested;) {
    const auto got = file.read(offset, buffer.data, buffer.size);
    if (!got.ok()) {
      ++result.unreadableFiles;
      result.problems.push_back(got.status().message());
      return;
    }
    // Bytes past the length seen at the open (a file that grew since) are left out.
    const std::size_t size = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(got.value()), length - offset));
    if (size == 0) break;
    // Blocks are aligned to the file's offsets, and chunks are whole blocks but the file's last.
    for (std::size_t at = 0; at < size; at += job.blockSize) {
      const std::size_t n = std::min<std::size_t>(job.blockSize, size - at);
      const std::uint8_t* block = buffer.data + at;
      result.zstdBytes += zstdBlockSize(block, n);
      result.lz4Bytes += lz4BlockSize(block, n);
      ++result.blocks;
      if (seen.insert(hashBlock(block, n)).second) ++result.uniqueBlocks;
    }
    offset += static_cast<std::int64_t>(size);
    result.bytes += static_cast<std::int64_t>(size);
    job.bytesMeasured.fetch_add(static_cast<std::int64_t>(size), std::memory_order_relaxed);
  }
  ++result.files;
  job.filesMeasured.fetch_add(1, std::memory_order_relaxed);
}

// relative: the folder below the root, empty or ending with a separator.
void walk(FileSystem& fs, const std::string& relative, MeasureJob& job, MeasureResult& result,
          std::unordered_set<BlockHash, BlockHashOf>& seen, AlignedBuffer& buffer) {
  if (job.stopRequested) return;
  auto reader = fs.openFolder(withoutTrailingSeparator(job.rootFolder + relative));
  if (!reader.ok()) {
    if (relative.empty()) {
      result.rootMissing = true;
      result.rootError = reader.status().message();
    } else {
      result.problems.push_back(reader.status().message());
    }
    return;
  }
  std::vector<std::string> files, folders;
  FolderEntry entry;
  for (;;) {
    const auto more = reader.value()->next(entry);
    if (!more.ok()) {
      result.problems.push_back(more.status().message());
      break;
    }
    if (!more.value()) break;
    // Links are never followed (they may lead out of the tree); hidden and system entries are the
    // system's or the user's own, not the tree's.
    if (entry.isLink || entry.isHidden || entry.isSystem) continue;
    (entry.isDirectory ? folders : files).push_back(entry.name);
  }
  reader.value().reset();
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  for (const auto& name : files) {
    if (job.stopRequested) return;
    measureFile(fs, relative + name, job, result, seen, buffer);
  }
  for (const auto& name : folders) walk(fs, relative + name + kSeparator, job, result, seen, buffer);
}

}  // namespace

bool measureAvailable() { return true; }

std::int64_t zstdBlockSize(const std::uint8_t* data, std::size_t size) {
  tOut.resize(std::max(ZSTD_compressBound(size), tOut.size()));
  const std::size_t n = ZSTD_compressCCtx(tZstd.cctx, tOut.data(), tOut.size(), data, size, 1);
  // A block the compressor refuses is stored as it is.
  return ZSTD_isError(n) ? static_cast<std::int64_t>(size) : static_cast<std::int64_t>(n);
}

std::int64_t lz4BlockSize(const std::uint8_t* data, std::size_t size) {
  const int bound = LZ4_compressBound(static_cast<int>(size));
  tOut.resize(std::max(static_cast<std::size_t>(bound), tOut.size()));
  const int n =
      LZ4_compress_default(reinterpret_cast<const char*>(data), tOut.data(), static_cast<int>(size), bound);
  return n <= 0 ? static_cast<std::int64_t>(size) : n;
}

void runMeasure(MeasureJob& job, FileSystem& fs, MeasureResult& result) {
  if (job.blockSize == 0 || kReadChunk % job.blockSize != 0) {
    result.rootError = "the block size must divide 4 MiB";
    return;
  }
  std::unordered_set<BlockHash, BlockHashOf> seen;
  AlignedBuffer buffer(kReadChunk);
  walk(fs, std::string(), job, result, seen, buffer);
  result.stopped = job.stopRequested;
}

}  // namespace quillet
