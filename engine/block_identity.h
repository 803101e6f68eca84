// Self-identifying file content: every 1,024-byte block carries, in a header that looks as random
// as the rest, the run's seed, the file's identity and size and the block's offset, so a reader can
// tell from a block alone where it belongs and whether it is intact. Pure functions; thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillet {

// The 1,024-byte block of content and of accounting.
inline constexpr std::size_t kIdentityBlock = 1024;

// How compressible and how repetitive a run's content is made. Ratios are kept in hundredths
// (200 = 2:1); 100/100 is the plain random content. The compression ratio refers to each dedupe
// block compressed on its own; the dedupe ratio to all blocks of the tree over the unique ones, at
// dedupeBlock-sized blocks aligned to file offsets.
struct ContentShape {
  std::uint32_t compressHundredths = 100;  // 100 .. kMaxShapeRatio
  std::uint32_t dedupeHundredths = 100;    // 100 .. kMaxShapeRatio
  std::uint32_t dedupeBlock = 4096;        // a power of two from 1 KiB to 1 MiB
  bool plain() const { return compressHundredths == 100 && dedupeHundredths == 100; }
  bool operator==(const ContentShape&) const = default;
};
inline constexpr std::uint32_t kMaxShapeRatio = 10000;  // 100:1
inline constexpr std::uint32_t kMinDedupeBlock = 1024;
inline constexpr std::uint32_t kMaxDedupeBlock = 1 << 20;

struct BlockIdentity {
  std::uint64_t seed = 0;      // the run's 64-bit seed
  std::uint64_t fileId = 0;    // fileIdentity() of the file's path relative to the root
  std::uint64_t fileSize = 0;  // the size the file was made with
  std::uint64_t offset = 0;    // the block's byte offset in its file, a multiple of 1,024
  ContentShape shape{};        // the content kind the block was made as
  bool operator==(const BlockIdentity&) const = default;
};

// The identity of the block that belongs at `offset` (a multiple of 1,024) of a file made with
// `shape`: the file's own block there, or, for a repeated dedupe block, the block it repeats (an
// earlier block of the same file, or the run's shared block, see isSharedBlock).
BlockIdentity sourceIdentity(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                             const ContentShape& shape, std::uint64_t offset);

// Whether id names the run's shared dedupe block: the block that repeated dedupe blocks copy when
// the block they repeat would lie before their file's start. It belongs to no file.
bool isSharedBlock(const BlockIdentity& id);

// Identity of a path relative to the root: its parts joined with '/' whatever the system's
// separator (callers pass the parts joined with '/'), bytes as they stand (no case folding).
std::uint64_t fileIdentity(std::string_view relativePath);

// The path below root (which ends with a separator), as fileIdentity takes it: the part after
// root, its separators made '/' and trailing ones dropped ("" for root itself). A path outside
// root is taken whole.
std::string identityPath(std::string_view root, std::string_view path);

// The seed of the size and count draws for the files of one folder of a run with a seed, from the
// run's seed and the folder's identityPath.
std::uint32_t folderDrawSeed(std::uint64_t runSeed, std::string_view folderIdentityPath);

// A 64-bit finaliser: a bijection whose every output bit depends on every input bit. Identities,
// nonces and block hashes are all made with it.
constexpr std::uint64_t mix64(std::uint64_t k) {
  k ^= k >> 33;
  k *= 0xFF51AFD7ED558CCDull;
  k ^= k >> 33;
  k *= 0xC4CEB9FE1A85EC53ull;
  k ^= k >> 33;
  return k;
}

// The seed of part `part` (0, 1, ...) of a run shared among several processes, each with a folder
// of its own: distinct per part, and the same for the same run seed and part.
std::uint64_t partSeed(std::uint64_t runSeed, int part);

// Fills out[0..size) with the file's content from byte `offset` on (any offset and size; a
// generator passes multiples of 1,024 for the offset). Every block, the last partial one included,
// is the prefix of the full block of its identity; the content is a pure function of
// (seed, fileId, fileSize, offset). Bytes at even file offsets are 100..255, at odd ones 0..127.
void fillIdentifiedContent(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                           std::uint64_t offset, std::uint8_t* out, std::size_t size);

// The same for content of another shape: every block is the block of its sourceIdentity. With a
// compression ratio other than 1 the bytes after the header are full-range random bytes followed
// by zeros, so the byte ranges above hold for the header only. A plain shape gives exactly the
// content above.
void fillShapedContent(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                       const ContentShape& shape, std::uint64_t offset, std::uint8_t* out, std::size_t size);

// The first `size` bytes (at most kIdentityBlock) of the block of id.
void makeIdentifiedBlock(const BlockIdentity& id, std::uint8_t* out, std::size_t size);

// Bytes of each 1,024-byte block that are not zeros under a shape: 1,024 for a compression ratio
// of 1, at least kIdentityHeaderBytes.
std::size_t shapedLiteralBytes(const ContentShape& shape);

// Bytes at the start of each block that carry the identity; a partial block shorter than this
// carries none (it is still checkable against the expected content with blockMatches).
inline constexpr std::size_t kIdentityHeaderBytes = 52;

// The layout of the identity header below, as a number: stored trees are read by it, so it only
// ever grows, with a new layout beside the old. Reports name it, so that a kept report says which
// layout the tree's blocks carry.
inline constexpr int kIdentityFormat = 1;

// One field of the identity header. The header is a row of little-endian 16-bit words, each
// carrying 14 bits as a content word would (even byte 0x80 | low 7 bits, odd byte the high 7
// bits), so it keeps the content's byte ranges. A field holds a 64-bit value (none for the last)
// and, in its spare bits, a share of the 44-bit content variant, taken from the low bits up in
// field order. Every value but the nonce, and the variant, is masked by a stream drawn from the
// nonce with the field's index; the nonce is a hash of the identity, so it doubles as the check.
struct IdentityHeaderField {
  std::string_view name;
  std::size_t offset;    // the field's first byte in the block
  std::size_t bytes;     // 2 per word
  unsigned valueBits;    // 64, or 0 for the field that carries only variant bits
  unsigned variantBits;  // bits of the content variant it carries
};

// The fields in block order; the index of each is its mask's.
enum IdentityHeaderIndex : std::size_t {
  kIdentityNonce,
  kIdentitySeed,
  kIdentityFileId,
  kIdentityFileSize,
  kIdentityOffset,
  kIdentityVariantRest,
  kIdentityHeaderFields
};
inline constexpr std::array<IdentityHeaderField, kIdentityHeaderFields> kIdentityHeaderLayout{{
    {"nonce", 0, 10, 64, 6},
    {"seed", 10, 10, 64, 6},
    {"file_id", 20, 10, 64, 6},
    {"file_size", 30, 10, 64, 6},
    {"offset", 40, 10, 64, 6},
    {"variant_rest", 50, 2, 0, 14},
}};

// The identity a block (or a partial block of at least kIdentityHeaderBytes) carries, when its
// header decodes and passes its own check; nullopt otherwise (too short, zeroed, foreign content,
// a damaged header). Only the header is looked at: the rest may still be damaged (blockMatches).
std::optional<BlockIdentity> readBlockIdentity(const std::uint8_t* block, std::size_t size);

// True when block[0..size) (size at most kIdentityBlock) is exactly the first `size` bytes of the
// block of identity `id`; false for any difference, a single flipped bit included.
bool blockMatches(const BlockIdentity& id, const std::uint8_t* block, std::size_t size);

}  // namespace quillet
