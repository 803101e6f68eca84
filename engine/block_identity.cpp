#include "engine/block_identity.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/intact_blocks.h"
#include "engine/random.h"
#include "engine/vector_clones.h"
#include "platform/path.h"

// Layout of a block. The header (see kIdentityHeaderLayout) holds five 70-bit slots: the block's
// nonce, then seed, file identity, file size and offset; their 6 spare bits each and the last
// word's 14 hold 44 bits that, unmasked, must equal the content variant. The rest of the block
// comes from 32 xorshift lanes seeded from the nonce, 8 outputs each, as the plain generator
// shapes them.
//
// Content of a chosen compressibility and dedupe ratio is a second variant: its 44 bits carry a tag
// and the shape (both ratios and the dedupe block size), so a reader learns from any one block how
// the file around it was made. Its body keeps the header and the first bytes after it random over
// all 256 values (nothing compresses them) and zeros the rest (everything compresses that to a few
// bytes), so the compressed size follows the count of random bytes; a repeated dedupe block is a
// byte-for-byte copy of the block it repeats, header included.

namespace quillet {
namespace {

static_assert(std::endian::native == std::endian::little,
              "content words are stored little-endian, as every target system is");

constexpr std::uint64_t kVariantRandom = 0xA5;  // the plain random content
constexpr std::uint64_t kVariantShapedTag = 0x3C;
constexpr std::size_t kHeaderWords = kIdentityHeaderBytes / 2;
constexpr std::size_t kSlotWords = 5;
constexpr std::size_t kSlots = kIdentityVariantRest;  // the fields with a value
constexpr unsigned kVariantBits = 44;
constexpr std::uint64_t kExtraMask = (std::uint64_t{1} << kVariantBits) - 1;
constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;
constexpr int kLanes = 32;
constexpr std::size_t kBlockWords = kIdentityBlock / 4;
static_assert(kBlockWords == kLanes * 8);
static_assert(kHeaderWords == 5 * kSlotWords + 1);

// The layout table is what the writer and the reader below walk; these hold it to the shape their
// word packing assumes.
constexpr bool layoutHolds() {
  std::size_t at = 0;
  unsigned variant = 0;
  for (std::size_t i = 0; i < kIdentityHeaderFields; ++i) {
    const IdentityHeaderField& f = kIdentityHeaderLayout[i];
    // A slot of five words holds a value, the last word variant bits alone; every word is full.
    const bool slot = i < kSlots;
    if (f.offset != at || f.bytes != (slot ? 2 * kSlotWords : 2)) return false;
    if (f.valueBits != (slot ? 64u : 0u)) return false;
    if (f.valueBits + f.variantBits != 7 * f.bytes) return false;
    at += f.bytes;
    variant += f.variantBits;
  }
  return at == kIdentityHeaderBytes && variant == kVariantBits;
}
static_assert(layoutHolds());

// Where the bits of the variant a field carries start.
constexpr unsigned variantShift(std::size_t field) {
  unsigned shift = 0;
  for (std::size_t i = 0; i < field; ++i) shift += kIdentityHeaderLayout[i].variantBits;
  return shift;
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
int log2Exact(std::uint32_t v) {
  int n = 0;
  while ((std::uint32_t{1} << n) < v) ++n;
  return n;
}

std::uint64_t variantOf(const ContentShape& shape) {
  if (shape.plain()) return kVariantRandom;
  return kVariantShapedTag | (std::uint64_t{shape.compressHundredths} << 8) |
         (std::uint64_t{shape.dedupeHundredths} << 22) |
         (static_cast<std::uint64_t>(log2Exact(shape.dedupeBlock / kMinDedupeBlock)) << 36);
}

std::optional<ContentShape> shapeOf(std::uint64_t variant) {
  if (variant == kVariantRandom) return ContentShape{};
  if ((variant & 0xFF) != kVariantShapedTag || (variant >> 40) != 0) return std::nullopt;
  ContentShape shape;
  shape.compressHundredths = static_cast<std::uint32_t>((variant >> 8) & 0x3FFF);
  shape.dedupeHundredths = static_cast<std::uint32_t>((variant >> 22) & 0x3FFF);
  const auto blockLog = static_cast<std::uint32_t>((variant >> 36) & 0xF);
  if (shape.compressHundredths < 100 || shape.compressHundredths > kMaxShapeRatio) return std::nullopt;
  if (shape.dedupeHundredths < 100 || shape.dedupeHundredths > kMaxShapeRatio) return std::nullopt;
  if (blockLog > 10 || shape.plain()) return std::nullopt;
  shape.dedupeBlock = kMinDedupeBlock << blockLog;
  return shape;
}

std::uint64_t fileKey(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                      std::uint64_t variant = kVariantRandom) {
  std::uint64_t h = mix64(seed ^ 0x51ED270B27A3C1F5ull);
  h = mix64(h ^ fileId);
  h = mix64(h ^ fileSize);
  return mix64(h ^ (variant * kGolden));
}

std::uint64_t fileKey(const BlockIdentity& id) {
  return fileKey(id.seed, id.fileId, id.fileSize, variantOf(id.shape));
}

std::uint64_t blockNonce(std::uint64_t key, std::uint64_t offset) { return mix64(key + offset * kGolden); }

std::uint64_t headerMask(std::uint64_t nonce, std::size_t i) {
  return mix64(nonce + static_cast<std::uint64_t>(i) * 0xD6E8FEB86659FD93ull);
}

// The lanes' first states from a block's nonce.
inline void seedLanes(std::uint64_t nonce, std::uint32_t* s) {
  const auto lo = static_cast<std::uint32_t>(nonce);
  const auto hi = static_cast<std::uint32_t>(nonce >> 32);
  for (int l = 0; l < kLanes; ++l) {
    const std::uint32_t v = mix32(lo + static_cast<std::uint32_t>(l) * 0x9E3779B9u) ^
                            mix32(hi ^ (static_cast<std::uint32_t>(l) * 0x7FEB352Du));
    s[l] = v != 0 ? v : 0x6D2B79F5u;  // xorshift never leaves zero
  }
}

// The block's 256 content words from its nonce; the header then overwrites the first 13.
QUILLET_CLONES
void blockBody(std::uint64_t nonce, std::uint32_t* __restrict out) {
  alignas(32) std::uint32_t s[kLanes];
  seedLanes(nonce, s);
  for (int g = 0; g < 8; ++g) {
    for (int l = 0; l < kLanes; ++l) {
      const std::uint32_t x = xorshiftStep(s[l]);
      s[l] = x;
      out[g * kLanes + l] = shapeContentWords(x);
    }
  }
}

// The shaped body: the same lanes, full-range words, only the first `groups` rounds of 32 words
// (the rest of the block is zeros and not made).
QUILLET_CLONES
void shapedBody(std::uint64_t nonce, std::uint32_t* __restrict out, int groups) {
  alignas(32) std::uint32_t s[kLanes];
  seedLanes(nonce, s);
  for (int g = 0; g < groups; ++g) {
    for (int l = 0; l < kLanes; ++l) {
      const std::uint32_t x = xorshiftStep(s[l]);
      s[l] = x;
      out[g * kLanes + l] = x;
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
  const std::uint64_t variant = (variantOf(id.shape) ^ headerMask(nonce, kIdentityVariantRest)) & kExtraMask;
  std::uint64_t values[kSlots];
  values[kIdentityNonce] = nonce;
  values[kIdentitySeed] = id.seed;
  values[kIdentityFileId] = id.fileId;
  values[kIdentityFileSize] = id.fileSize;
  values[kIdentityOffset] = id.offset;
  for (std::size_t i = 0; i < kSlots; ++i) {
    const std::uint64_t mask = i == kIdentityNonce ? 0 : headerMask(nonce, i);
    putSlot(at + kIdentityHeaderLayout[i].offset, values[i] ^ mask, variant >> variantShift(i));
  }
  putWord(at + kIdentityHeaderLayout[kIdentityVariantRest].offset,
          static_cast<std::uint32_t>(variant >> variantShift(kIdentityVariantRest)));
}

// The full block of `id` (whose file key is `key`) into out.
void makeBlock(const BlockIdentity& id, std::uint64_t key, std::uint32_t* out) {
  const std::uint64_t nonce = blockNonce(key, id.offset);
  const std::size_t literal =
      id.shape.compressHundredths <= 100 ? kIdentityBlock : shapedLiteralBytes(id.shape);
  if (literal < kIdentityBlock) {
    shapedBody(nonce, out, static_cast<int>((literal + kLanes * 4 - 1) / (kLanes * 4)));
    std::memset(reinterpret_cast<std::uint8_t*>(out) + literal, 0, kIdentityBlock - literal);
  } else {
    blockBody(nonce, out);
  }
  writeHeader(id, nonce, reinterpret_cast<std::uint8_t*>(out));
}

// Where a file's dedupe groups start: each file draws its own phase, so that over many files the
// count of group starts is the count of blocks over the ratio however short the files are.
std::uint64_t dedupePhase(std::uint64_t seed, std::uint64_t fileId, const ContentShape& shape) {
  return mix64(mix64(seed ^ 0xDED0B10C5EEDull) ^ fileId ^ variantOf(shape)) % shape.dedupeHundredths;
}

std::uint64_t sharedBlockFile(std::uint64_t seed) { return mix64(seed ^ 0x5A4ED0B10C4B10Cull) | 1; }

}  // namespace

std::size_t shapedLiteralBytes(const ContentShape& shape) {
  if (shape.compressHundredths <= 100) return kIdentityBlock;
  // A dedupe block compressed on its own costs its random bytes plus a frame and, per 1,024-byte
  // block, one literal run and one match over the zeros; the two constants are what zstd at level
  // 1 and lz4 spend on those, halfway between the two.
  // In whole numbers, so that every system makes the same bytes: literal = round((dedupeBlock / ratio
  // - kPerDedupeBlock) / blocks - kPerBlock), the ratio in hundredths.
  constexpr std::int64_t kPerDedupeBlock = 11;
  constexpr std::int64_t kPerBlock = 6;
  const auto ratio = static_cast<std::int64_t>(shape.compressHundredths);
  const auto blocks = static_cast<std::int64_t>(shape.dedupeBlock / kIdentityBlock);
  const std::int64_t num = static_cast<std::int64_t>(shape.dedupeBlock) * 100 - kPerDedupeBlock * ratio -
                           kPerBlock * ratio * blocks;
  const std::int64_t den = ratio * blocks;
  const std::int64_t rounded = num <= 0 ? 0 : (2 * num + den) / (2 * den);
  return static_cast<std::size_t>(std::clamp<std::int64_t>(rounded, kIdentityHeaderBytes, kIdentityBlock));
}

BlockIdentity sourceIdentity(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                             const ContentShape& shape, std::uint64_t offset) {
  if (shape.dedupeHundredths <= 100) return {seed, fileId, fileSize, offset, shape};
  // Block j of the file belongs to group floor((100 j + phase) / ratio); the first block of each
  // group is fresh and the others repeat it. A group that began before the file's start repeats
  // the run's shared block instead.
  const std::uint64_t ratio = shape.dedupeHundredths;
  const std::uint64_t phase = dedupePhase(seed, fileId, shape);
  const std::uint64_t j = offset / shape.dedupeBlock;
  const std::uint64_t within = offset % shape.dedupeBlock;
  const std::uint64_t group = (j * 100 + phase) / ratio;
  if (group == 0 && phase >= 100) return {seed, sharedBlockFile(seed), shape.dedupeBlock, within, shape};
  const std::uint64_t head = group == 0 ? 0 : (group * ratio - phase + 99) / 100;
  return {seed, fileId, fileSize, head * shape.dedupeBlock + within, shape};
}

bool isSharedBlock(const BlockIdentity& id) {
  return !id.shape.plain() && id.fileId == sharedBlockFile(id.seed) && id.fileSize == id.shape.dedupeBlock;
}

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
  return static_cast<std::uint32_t>(
      mix64(mix64(runSeed ^ 0xF01DE55EEDull) ^ fileIdentity(folderIdentityPath)));
}

std::uint64_t partSeed(std::uint64_t runSeed, int part) {
  return mix64(mix64(runSeed ^ 0x5EA5CA1E0FFull) + static_cast<std::uint64_t>(part));
}

void fillIdentifiedContent(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                           std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  const std::uint64_t key = fileKey(seed, fileId, fileSize);
  BlockIdentity id{seed, fileId, fileSize, offset - offset % kIdentityBlock, ContentShape{}};
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

void makeIdentifiedBlock(const BlockIdentity& id, std::uint8_t* out, std::size_t size) {
  alignas(32) std::uint32_t whole[kBlockWords];
  makeBlock(id, fileKey(id), whole);
  std::memcpy(out, whole, std::min(size, kIdentityBlock));
}

void fillShapedContent(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                       const ContentShape& shape, std::uint64_t offset, std::uint8_t* out, std::size_t size) {
  if (shape.plain()) {
    fillIdentifiedContent(seed, fileId, fileSize, offset, out, size);
    return;
  }
  const std::uint64_t ownKey = fileKey(BlockIdentity{seed, fileId, fileSize, 0, shape});
  std::uint64_t at = offset - offset % kIdentityBlock;
  std::size_t skip = offset % kIdentityBlock;
  for (std::size_t done = 0; done < size; at += kIdentityBlock, skip = 0) {
    const std::size_t n = std::min(kIdentityBlock - skip, size - done);
    const BlockIdentity id = sourceIdentity(seed, fileId, fileSize, shape, at);
    const bool own = id.fileId == fileId && id.fileSize == fileSize && !isSharedBlock(id);
    std::uint8_t* to = out + done;
    if (own && id.offset != at && id.offset >= offset) {
      // A repeat of a block this fill already made: copied, not made again. Repeats only ever
      // copy earlier blocks, so the whole source block is in the buffer.
      std::memcpy(to, out + (id.offset - offset) + skip, n);
    } else if (n == kIdentityBlock && reinterpret_cast<std::uintptr_t>(to) % alignof(std::uint32_t) == 0) {
      makeBlock(id, own ? ownKey : fileKey(id), reinterpret_cast<std::uint32_t*>(to));
    } else {
      alignas(32) std::uint32_t whole[kBlockWords];
      makeBlock(id, own ? ownKey : fileKey(id), whole);
      std::memcpy(to, reinterpret_cast<const std::uint8_t*>(whole) + skip, n);
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
  std::uint64_t slots[kSlots];
  std::uint64_t extra = 0;
  for (std::size_t s = 0; s < kSlots; ++s) {
    const std::uint32_t* at = words + kIdentityHeaderLayout[s].offset / 2;
    slots[s] = std::uint64_t{at[0]} | (std::uint64_t{at[1]} << 14) | (std::uint64_t{at[2]} << 28) |
               (std::uint64_t{at[3]} << 42) | (std::uint64_t{at[4] & 0xFFu} << 56);
    extra |= std::uint64_t{at[4] >> 8} << variantShift(s);
  }
  extra |= std::uint64_t{words[kIdentityHeaderLayout[kIdentityVariantRest].offset / 2]}
           << variantShift(kIdentityVariantRest);
  const std::uint64_t nonce = slots[kIdentityNonce];
  const auto shape = shapeOf((extra ^ headerMask(nonce, kIdentityVariantRest)) & kExtraMask);
  if (!shape) return std::nullopt;
  BlockIdentity id;
  id.shape = *shape;
  id.seed = slots[kIdentitySeed] ^ headerMask(nonce, kIdentitySeed);
  id.fileId = slots[kIdentityFileId] ^ headerMask(nonce, kIdentityFileId);
  id.fileSize = slots[kIdentityFileSize] ^ headerMask(nonce, kIdentityFileSize);
  id.offset = slots[kIdentityOffset] ^ headerMask(nonce, kIdentityOffset);
  if (id.offset % kIdentityBlock != 0) return std::nullopt;
  if (blockNonce(fileKey(id), id.offset) != nonce) return std::nullopt;
  return id;
}

bool blockMatches(const BlockIdentity& id, const std::uint8_t* block, std::size_t size) {
  if (size > kIdentityBlock || id.offset % kIdentityBlock != 0) return false;
  if (size == 0) return true;
  // Made in the cache and compared there: as fast as comparing while generating, and simpler.
  alignas(32) std::uint32_t expected[kBlockWords];
  makeBlock(id, fileKey(id), expected);
  return std::memcmp(expected, block, size) == 0;
}

std::size_t intactBlocks(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                         const ContentShape& shape, std::uint64_t offset, const std::uint8_t* data,
                         std::size_t blocks) {
  if (offset % kIdentityBlock != 0) return 0;
  if (!shape.plain()) {
    for (std::size_t n = 0; n < blocks; ++n) {
      const BlockIdentity id = sourceIdentity(seed, fileId, fileSize, shape, offset + n * kIdentityBlock);
      if (!blockMatches(id, data + n * kIdentityBlock, kIdentityBlock)) return n;
    }
    return blocks;
  }
  const std::uint64_t key = fileKey(seed, fileId, fileSize);
  BlockIdentity id{seed, fileId, fileSize, offset, shape};
  alignas(32) std::uint32_t expected[kBlockWords];
  for (std::size_t n = 0; n < blocks; ++n, id.offset += kIdentityBlock) {
    // Made whole in the cache and compared there: faster than comparing word by word as the block
    // is made, which waits on each load of the data.
    makeBlock(id, key, expected);
    if (std::memcmp(expected, data + n * kIdentityBlock, kIdentityBlock) != 0) return n;
  }
  return blocks;
}

}  // namespace quillet
