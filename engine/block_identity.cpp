#include "engine/block_identity.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/random.h"
#include "engine/vector_clones.h"
#include "platform/path.h"

// Layout of a block. The header is 26 little-endian 16-bit words; each carries 14 bits as a content
// word would (even byte 0x80 | low 7 bits, odd byte the high 7 bits), so it keeps the content's byte
// ranges. Words 0-24 hold five 70-bit slots: the block's nonce, then seed, file identity, file size
// and offset, each masked by a stream drawn from the nonce; a slot's 6 spare bits and word 25 hold
// 44 bits that, unmasked, must equal the content variant. The nonce is a hash of the identity, so
// it doubles as the header's check: a reader recomputes it from the fields it unmasked. The rest of
// the block comes from 32 xorshift lanes seeded from the nonce, 8 outputs each, as the plain
// generator shapes them.
//
// A second content kind (chosen compressibility, dedupe) would be a new variant value with its own
// body; the header, and so every reader, stays the same.

namespace quillet {
namespace {

static_assert(std::endian::native == std::endian::little,
              "content words are stored little-endian, as every target system is");

constexpr std::uint64_t kVariantRandom = 0xA5;  // the random content every generator writes now
constexpr std::size_t kHeaderWords = kIdentityHeaderBytes / 2;
constexpr std::size_t kSlotWords = 5;
constexpr std::uint64_t kExtraMask = (std::uint64_t{1} << 44) - 1;
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
constexpr int kLanes = 32;
constexpr std::size_t kBlockWords = kIdentityBlock / 4;
static_assert(kBlockWords == kLanes * 8);
static_assert(kHeaderWords == 5 * kSlotWords + 1);

constexpr std::uint64_t mix64(std::uint64_t k) {
  k ^= k >> 33;
  k *= 0xFF51AFD7ED558CCDull;
  k ^= k >> 33;
  k *= 0xC4CEB9FE1A85EC53ull;
  k ^= k >> 33;
  return k;
}

constexpr std::uint32_t mix32(std::uint32_t x) {
  x ^= x >> 16;
  x *= 0x85EBCA6Bu;
  x ^= x >> 13;
  x *= 0xC2B2AE35u;
  x ^= x >> 16;
  return x;
}

// What every block of one file shares; the per-block nonce is one mix of it and the offset. mix64
// is a bijection, so two blocks of one file never share a nonce.
std::uint64_t fileKey(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize) {
  std::uint64_t h = mix64(seed ^ 0x51ED270B27A3C1F5ull);
  h = mix64(h ^ fileId);
  h = mix64(h ^ fileSize);
  return mix64(h ^ (kVariantRandom * kGolden));
}

std::uint64_t blockNonce(std::uint64_t key, std::uint64_t offset) { return mix64(key + offset * kGolden); }

std::uint64_t headerMask(std::uint64_t nonce, int i) {
  return mix64(nonce + static_cast<std::uint64_t>(i) * 0xD6E8FEB86659FD93ull);
}

// The block's 256 content words from its nonce; the header then overwrites the first 13.
QUILLET_CLONES
void blockBody(std::uint64_t nonce, std::uint32_t* __restrict out) {
  const auto lo = static_cast<std::uint32_t>(nonce);
  const auto hi = static_cast<std::uint32_t>(nonce >> 32);
  alignas(32) std::uint32_t s[kLanes];
  for (int l = 0; l < kLanes; ++l) {
    const std::uint32_t v = mix32(lo + static_cast<std::uint32_t>(l) * 0x9E3779B9u) ^
                            mix32(hi ^ (static_cast<std::uint32_t>(l) * 0x7FEB352Du));
    s[l] = v != 0 ? v : 0x6D2B79F5u;  // xorshift never leaves zero
  }
  for (int g = 0; g < 8; ++g) {
    for (int l = 0; l < kLanes; ++l) {
      std::uint32_t x = s[l];
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      s[l] = x;
      out[g * kLanes + l] = shapeContentWords(x);
    }
  }
}

void putWord(std::uint8_t* at, std::uint32_t bits14) {
  at[0] = static_cast<std::uint8_t>(0x80u | (bits14 & 0x7Fu));
  at[1] = static_cast<std::uint8_t>((bits14 >> 7) & 0x7Fu);
}

void putSlot(std::uint8_t* at, std::uint64_t value, std::uint64_t spare6) {
  for (std::size_t w = 0; w < 4; ++w) putWord(at + 2 * w, static_cast<std::uint32_t>(value >> (14 * w)));
  putWord(at + 8, static_cast<std::uint32_t>((value >> 56) | ((spare6 & 0x3F) << 8)));
}

void writeHeader(const BlockIdentity& id, std::uint64_t nonce, std::uint8_t* at) {
  const std::uint64_t extra = (kVariantRandom ^ headerMask(nonce, 5)) & kExtraMask;
  putSlot(at, nonce, extra);
  putSlot(at + 10, id.seed ^ headerMask(nonce, 1), extra >> 6);
  putSlot(at + 20, id.fileId ^ headerMask(nonce, 2), extra >> 12);
  putSlot(at + 30, id.fileSize ^ headerMask(nonce, 3), extra >> 18);
  putSlot(at + 40, id.offset ^ headerMask(nonce, 4), extra >> 24);
  putWord(at + 50, static_cast<std::uint32_t>(extra >> 30));
}

// The full block of `id` (whose file key is `key`) into out.
void makeBlock(const BlockIdentity& id, std::uint64_t key, std::uint32_t* out) {
  const std::uint64_t nonce = blockNonce(key, id.offset);
  blockBody(nonce, out);
  writeHeader(id, nonce, reinterpret_cast<std::uint8_t*>(out));
}

}  // namespace

std::uint64_t fileIdentity(std::string_view relativePath) {
  std::uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a, then a full mix with the length
  for (const char c : relativePath) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001B3ull;
  }
  return mix64(h ^ mix64(relativePath.size() + kGolden));
}

std::string identityPath(std::string_view root, std::string_view path) {
  if (path.substr(0, root.size()) == root) path.remove_prefix(root.size());
  std::string out(path);
  for (char& c : out) {
    if (isSeparator(c)) c = '/';
  }
  while (!out.empty() && out.back() == '/') out.pop_back();
  return out;
}

std::uint32_t folderDrawSeed(std::uint64_t runSeed, std::string_view folderIdentityPath) {
  return static_cast<std::uint32_t>(mix64(mix64(runSeed ^ 0xF01DE55EEDull) ^ fileIdentity(folderIdentityPath)));
}

void fillIdentifiedContent(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                           std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  const std::uint64_t key = fileKey(seed, fileId, fileSize);
  BlockIdentity id{seed, fileId, fileSize, offset - offset % kIdentityBlock};
  std::size_t skip = offset % kIdentityBlock;
  for (std::size_t done = 0; done < size; id.offset += kIdentityBlock, skip = 0) {
    const std::size_t n = std::min(kIdentityBlock - skip, size - done);
    std::uint8_t* at = out + done;
    if (n == kIdentityBlock && reinterpret_cast<std::uintptr_t>(at) % alignof(std::uint32_t) == 0) {
      makeBlock(id, key, reinterpret_cast<std::uint32_t*>(at));
    } else {
      alignas(32) std::uint32_t whole[kBlockWords];
      makeBlock(id, key, whole);
      std::memcpy(at, reinterpret_cast<const std::uint8_t*>(whole) + skip, n);
    }
    done += n;
  }
}

std::optional<BlockIdentity> readBlockIdentity(const std::uint8_t* block, std::size_t size) {
  if (block == nullptr || size < kIdentityHeaderBytes) return std::nullopt;
  std::uint32_t words[kHeaderWords];
  std::uint32_t outOfRange = 0;  // a header byte no content word can hold
  for (std::size_t w = 0; w < kHeaderWords; ++w) {
    const std::uint32_t even = block[2 * w];
    const std::uint32_t odd = block[2 * w + 1];
    outOfRange |= (~even & 0x80u) | (odd & 0x80u);
    words[w] = (even & 0x7Fu) | (odd << 7);
  }
  if (outOfRange != 0) return std::nullopt;
  std::uint64_t slots[5];
  std::uint64_t extra = 0;
  for (std::size_t s = 0; s < 5; ++s) {
    const std::uint32_t* at = words + s * kSlotWords;
    slots[s] = std::uint64_t{at[0]} | (std::uint64_t{at[1]} << 14) | (std::uint64_t{at[2]} << 28) |
               (std::uint64_t{at[3]} << 42) | (std::uint64_t{at[4] & 0xFFu} << 56);
    extra |= std::uint64_t{at[4] >> 8} << (6 * s);
  }
  extra |= std::uint64_t{words[25]} << 30;
  const std::uint64_t nonce = slots[0];
  if (((extra ^ headerMask(nonce, 5)) & kExtraMask) != kVariantRandom) return std::nullopt;
  BlockIdentity id;
  id.seed = slots[1] ^ headerMask(nonce, 1);
  id.fileId = slots[2] ^ headerMask(nonce, 2);
  id.fileSize = slots[3] ^ headerMask(nonce, 3);
  id.offset = slots[4] ^ headerMask(nonce, 4);
  if (id.offset % kIdentityBlock != 0) return std::nullopt;
  if (blockNonce(fileKey(id.seed, id.fileId, id.fileSize), id.offset) != nonce) return std::nullopt;
  return id;
}

bool blockMatches(const BlockIdentity& id, const std::uint8_t* block, std::size_t size) {
  if (size > kIdentityBlock || id.offset % kIdentityBlock != 0) return false;
  if (size == 0) return true;
  // Made in the cache and compared there: as fast as comparing while generating, and simpler.
  alignas(32) std::uint32_t expected[kBlockWords];
  makeBlock(id, fileKey(id.seed, id.fileId, id.fileSize), expected);
  return std::memcmp(expected, block, size) == 0;
}

}  // namespace quillet
