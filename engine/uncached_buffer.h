// The buffer the uncached readers (verify, measure) read into: aligned as unbuffered reads need,
// and large enough that a read costs little per byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "platform/file_system.h"

namespace quillet {

inline constexpr std::size_t kUncachedReadChunk = 4 << 20;

struct AlignedBuffer {
  explicit AlignedBuffer(std::size_t size)
      : data(static_cast<std::uint8_t*>(::operator new(size, std::align_val_t(kUncachedAlignment)))),
        size(size) {}
  ~AlignedBuffer() { ::operator delete(data, std::align_val_t(kUncachedAlignment)); }
  AlignedBuffer(const AlignedBuffer&) = delete;
  AlignedBuffer& operator=(const AlignedBuffer&) = delete;
  std::uint8_t* data;
  std::size_t size;
};

}  // namespace quillet
