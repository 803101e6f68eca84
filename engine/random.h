// The run's random sources: the classic 15-bit rand/srand pair for sizes and counts, and a fast
// content generator for file bytes. Each run owns its own; not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillet {

// One 32-bit random output gives two content words: each 15-bit word whose low byte is below 100
// has it raised by 100 (little-endian words: even bytes 100..255, odd bytes 0..127).
inline std::uint32_t shapeContentWords(std::uint32_t x) {
  const std::uint32_t w = x & 0x7FFF7FFFu;
  const std::uint32_t lowFix = (w & 0xFFu) < 100u ? 100u : 0u;
  const std::uint32_t highFix = ((w >> 16) & 0xFFu) < 100u ? (100u << 16) : 0u;
  return w + lowFix + highFix;
}

// One step of a content lane: the 32-bit xorshift (13, 17, 5). The content generator and the
// identity blocks both run lanes of it, and a block is recognised by making it again, so the two
// must step alike.
inline std::uint32_t xorshiftStep(std::uint32_t x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

// state = state * 214013 + 2531011; value = (state >> 16) & 0x7FFF, as the classic runtime does.
// Held by the run so that draws neither depend on nor disturb any other user of the C library's.
class RandomSource {
 public:
  void srand(std::uint32_t seed) { state_ = seed; }
  int rand() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7FFF);
  }

 private:
  std::uint32_t state_ = 1;
};

// Fills buffers with random content: every 16-bit little-endian word is a 15-bit value whose low
// byte, when below 100, is raised by 100 — so bytes at even offsets are 100..255 and bytes at odd
// offsets 0..127. Thirty-two interleaved xorshift streams (four vector registers of eight) let the
// compiler vectorise the loop without one long dependency chain.
class ContentGenerator {
 public:
  ContentGenerator() { seed(1); }
  void seed(std::uint64_t seed);
  // Fills size bytes (any size; the tail of a partial word is filled too).
  void fill(std::uint8_t* out, std::size_t size);

 private:
  static constexpr int kLanes = 32;
  alignas(32) std::uint32_t lanes_[kLanes];
};

}  // namespace quillet
