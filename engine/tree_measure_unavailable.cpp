#include "engine/tree_measure.h"

// A build without the compressor libraries (the Windows cross build: its toolchain has none):
// measuring is left out and says so.

namespace quillet {

bool measureAvailable() { return false; }

std::int64_t zstdBlockSize(const std::uint8_t*, std::size_t) { return 0; }
std::int64_t lz4BlockSize(const std::uint8_t*, std::size_t) { return 0; }

void runMeasure(MeasureJob&, FileSystem&, MeasureResult& result) {
  result.rootError = "this build has no compressors (zstd, lz4); measure mode is not available";
}

}  // namespace quillet
