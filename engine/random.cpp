#include "engine/random.h"

#include <cstring>

#include "engine/vector_clones.h"

namespace quillet {
namespace {

std::uint64_t splitMix64(std::uint64_t& x) {
  std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

constexpr int kLanes = 32;
constexpr std::size_t kGroupBytes = kLanes * sizeof(std::uint32_t);

// One group is one output word per lane.
QUILLET_CLONES
void fillLanes(std::uint32_t* __restrict lanes, std::uint32_t* __restrict out, std::size_t groups) {
  alignas(32) std::uint32_t s[kLanes];
  for (int l = 0; l < kLanes; ++l) s[l] = lanes[l];
  for (std::size_t g = 0; g < groups; ++g) {
    for (int l = 0; l < kLanes; ++l) {
      const std::uint32_t x = xorshiftStep(s[l]);
      s[l] = x;
      out[g * kLanes + l] = shapeContentWords(x);
    }
  }
  for (int l = 0; l < kLanes; ++l) lanes[l] = s[l];
}

}  // namespace

void ContentGenerator::seed(std::uint64_t seed) {
  for (auto& lane : lanes_) {
    std::uint32_t v;
    do {
      v = static_cast<std::uint32_t>(splitMix64(seed));
    } while (v == 0);  // xorshift never leaves zero
    lane = v;
  }
}

void ContentGenerator::fill(std::uint8_t* out, std::size_t size) {
  const std::size_t groups = size / kGroupBytes;
  if (reinterpret_cast<std::uintptr_t>(out) % alignof(std::uint32_t) == 0) {
    fillLanes(lanes_, reinterpret_cast<std::uint32_t*>(out), groups);
  } else {
    alignas(32) std::uint32_t tmp[kLanes * 8];
    for (std::size_t done = 0; done < groups;) {
      const std::size_t n = groups - done < 8 ? groups - done : 8;
      fillLanes(lanes_, tmp, n);
      std::memcpy(out + done * kGroupBytes, tmp, n * kGroupBytes);
      done += n;
    }
  }
  const std::size_t tail = size - groups * kGroupBytes;
  if (tail != 0) {
    alignas(32) std::uint32_t last[kLanes];
    fillLanes(lanes_, last, 1);
    std::memcpy(out + groups * kGroupBytes, last, tail);
  }
}

}  // namespace quillet
