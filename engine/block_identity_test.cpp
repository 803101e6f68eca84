#include "engine/block_identity.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "engine/intact_blocks.h"
#include "engine/random.h"

namespace quillet {
namespace {

constexpr std::uint64_t kSeed = 0xFEEDFACE12345678ull;

std::vector<std::uint8_t> content(std::uint64_t seed, std::uint64_t fileId, std::uint64_t fileSize,
                                  std::uint64_t offset, std::size_t size) {
  std::vector<std::uint8_t> out(size);
  fillIdentifiedContent(seed, fileId, fileSize, offset, out.data(), size);
  return out;
}

// Bits per byte of an order-0 model, even and odd offsets counted apart as the shaping treats them.
double entropyPerByte(const std::vector<std::uint8_t>& data) {
  double counts[2][256] = {};
  for (std::size_t i = 0; i < data.size(); ++i) counts[i % 2][data[i]] += 1;
  double bits = 0;
  for (auto& parity : counts) {
    double total = 0;
    for (double c : parity) total += c;
    for (double c : parity) {
      if (c > 0) bits -= c * std::log2(c / total);
    }
  }
  return bits / static_cast<double>(data.size());
}

// Share of 8-byte windows (at 4-byte steps) seen before: what a long-range matcher could exploit.
double repeatedWindows(const std::vector<std::uint8_t>& data) {
  std::unordered_set<std::uint64_t> seen;
  std::size_t repeats = 0, windows = 0;
  for (std::size_t i = 0; i + 8 <= data.size(); i += 4, ++windows) {
    std::uint64_t w;
    std::memcpy(&w, data.data() + i, 8);
    if (!seen.insert(w).second) ++repeats;
  }
  return static_cast<double>(repeats) / static_cast<double>(windows);
}

TEST(BlockIdentityTest, EveryBlockCarriesItsIdentityUpToThePartialTail) {
  const std::uint64_t fileId = fileIdentity("folder/sub/file.dat");
  for (const std::uint64_t size :
       {1024ull, 5000ull, 3072ull + kIdentityHeaderBytes, 3072ull + kIdentityHeaderBytes - 1, 1ull}) {
    SCOPED_TRACE(size);
    const auto data = content(kSeed, fileId, size, 0, size);
    for (std::uint64_t at = 0; at < size; at += kIdentityBlock) {
      const std::size_t n = std::min<std::uint64_t>(kIdentityBlock, size - at);
      const auto id = readBlockIdentity(data.data() + at, n);
      if (n < kIdentityHeaderBytes) {
        EXPECT_FALSE(id.has_value()) << at;
      } else {
        ASSERT_TRUE(id.has_value()) << at;
        EXPECT_EQ(*id, (BlockIdentity{kSeed, fileId, size, at}));
      }
      EXPECT_TRUE(blockMatches(BlockIdentity{kSeed, fileId, size, at}, data.data() + at, n)) << at;
    }
  }
}

TEST(BlockIdentityTest, AnyPieceIsThePrefixOfItsFullBlockWhereverItStarts) {
  const std::uint64_t fileId = fileIdentity("a.bin"), size = 10 * 1024 + 700;
  const auto whole = content(kSeed, fileId, size, 0, size);
  // The last partial block is the prefix of the full block of its identity.
  const auto fullLast = content(kSeed, fileId, size, 10 * 1024, kIdentityBlock);
  EXPECT_EQ(0, std::memcmp(fullLast.data(), whole.data() + 10 * 1024, 700));
  // Pieces at any offset, including unaligned starts and output addresses, give the same bytes.
  std::vector<std::uint8_t> pieces(size + 1);
  const std::size_t cuts[] = {0, 1, 1023, 1024, 2100, 4096, 9000, size};
  for (std::size_t i = 0; i + 1 < std::size(cuts); ++i) {
    fillIdentifiedContent(kSeed, fileId, size, cuts[i], pieces.data() + 1 + cuts[i], cuts[i + 1] - cuts[i]);
  }
  EXPECT_EQ(0, std::memcmp(whole.data(), pieces.data() + 1, size));
}

TEST(BlockIdentityTest, KeepsTheContentByteRanges) {
  const auto data = content(kSeed, fileIdentity("r"), 1 << 20, 0, 1 << 20);
  for (std::size_t i = 0; i < data.size(); ++i) {
    if (i % 2 == 0) {
      ASSERT_GE(data[i], 100) << i;
    } else {
      ASSERT_LE(data[i], 127) << i;
    }
  }
}

TEST(BlockIdentityTest, EverySingleBitFlipIsFound) {
  const BlockIdentity id{kSeed, fileIdentity("x/y"), 4096, 2048};
  auto block = content(id.seed, id.fileId, id.fileSize, id.offset, kIdentityBlock);
  for (std::size_t bit = 0; bit < kIdentityBlock * 8; ++bit) {
    block[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    ASSERT_FALSE(blockMatches(id, block.data(), block.size())) << bit;
    const auto read = readBlockIdentity(block.data(), block.size());
    if (bit < kIdentityHeaderBytes * 8) {
      ASSERT_TRUE(!read || *read != id) << bit;
    } else {
      ASSERT_EQ(read, id) << bit;  // the header alone still names the block: damage is "corrupted"
    }
    block[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
  }
  EXPECT_TRUE(blockMatches(id, block.data(), block.size()));
}

TEST(BlockIdentityTest, EachPartOfTheIdentityChangesTheWholeBlock) {
  const BlockIdentity base{kSeed, fileIdentity("f"), 8192, 1024};
  const BlockIdentity others[] = {{kSeed + 1, base.fileId, 8192, 1024},
                                  {kSeed, fileIdentity("g"), 8192, 1024},
                                  {kSeed, base.fileId, 8193, 1024},
                                  {kSeed, base.fileId, 8192, 2048}};
  const auto a = content(base.seed, base.fileId, base.fileSize, base.offset, kIdentityBlock);
  for (const auto& other : others) {
    const auto b = content(other.seed, other.fileId, other.fileSize, other.offset, kIdentityBlock);
    std::size_t same = 0;
    for (std::size_t i = 0; i < kIdentityBlock; ++i) same += a[i] == b[i];
    EXPECT_LT(same, kIdentityBlock / 20) << "body and header must both change";
    EXPECT_FALSE(blockMatches(other, a.data(), a.size()));
    EXPECT_EQ(readBlockIdentity(b.data(), b.size()), other);
  }
}

// The check counts an intact stretch at once: it must end exactly where the block-by-block check
// finds the first block that is not the file's own, for plain and shaped content alike.
TEST(BlockIdentityTest, IntactBlocksEndWhereTheFirstBlockStopsMatching) {
  ContentShape shaped;
  shaped.compressHundredths = 300;
  shaped.dedupeHundredths = 250;
  shaped.dedupeBlock = 2048;
  const std::uint64_t fileId = fileIdentity("d/f");
  constexpr std::uint64_t kSize = 40 * kIdentityBlock + 300;
  constexpr std::uint64_t kFrom = 8 * kIdentityBlock;  // the stretch starts inside the file
  constexpr std::size_t kBlocks = 30;
  for (const ContentShape& shape : {ContentShape{}, shaped}) {
    std::vector<std::uint8_t> data(kBlocks * kIdentityBlock);
    fillShapedContent(kSeed, fileId, kSize, shape, kFrom, data.data(), data.size());
    ASSERT_EQ(intactBlocks(kSeed, fileId, kSize, shape, kFrom, data.data(), kBlocks), kBlocks);
    // Another size, and an offset that is no block's start.
    EXPECT_EQ(intactBlocks(kSeed, fileId, kSize + 1, shape, kFrom, data.data(), kBlocks), 0u);
    EXPECT_EQ(intactBlocks(kSeed, fileId, kSize, shape, kFrom + 1, data.data(), kBlocks), 0u);
    // One flipped bit in the first, a middle or the last block's header or body.
    for (const std::size_t byte : {std::size_t{0}, 13 * kIdentityBlock + 700, kBlocks * kIdentityBlock - 1}) {
      data[byte] ^= 0x10;
      EXPECT_EQ(intactBlocks(kSeed, fileId, kSize, shape, kFrom, data.data(), kBlocks), byte / kIdentityBlock)
          << byte << (shape.plain() ? " plain" : " shaped");
      data[byte] ^= 0x10;
    }
  }
}

TEST(BlockIdentityTest, FileIdentityTakesPathBytesAsTheyStand) {
  const std::uint64_t ids[] = {fileIdentity("a/b"), fileIdentity("a\\b"),
                               fileIdentity("A/b"), fileIdentity("a/b "),
                               fileIdentity(""),    fileIdentity(std::string_view("a\0b", 3))};
  for (std::size_t i = 0; i < std::size(ids); ++i) {
    for (std::size_t j = i + 1; j < std::size(ids); ++j) EXPECT_NE(ids[i], ids[j]) << i << " " << j;
  }
  EXPECT_EQ(fileIdentity("a/b"), fileIdentity(std::string("a/b")));
}

TEST(BlockIdentityTest, ForeignBytesCarryNoIdentity) {
  std::vector<std::uint8_t> plain(1 << 20);
  ContentGenerator generator;
  generator.seed(7);
  generator.fill(plain.data(), plain.size());
  for (std::size_t at = 0; at < plain.size(); at += kIdentityBlock) {
    ASSERT_FALSE(readBlockIdentity(plain.data() + at, kIdentityBlock)) << at;
  }
  const std::vector<std::uint8_t> zeros(kIdentityBlock), ones(kIdentityBlock, 0xFF);
  EXPECT_FALSE(readBlockIdentity(zeros.data(), zeros.size()));
  EXPECT_FALSE(readBlockIdentity(ones.data(), ones.size()));
  EXPECT_FALSE(blockMatches(BlockIdentity{}, zeros.data(), zeros.size()));
}

TEST(BlockIdentityTest, IsNoMoreCompressibleThanThePlainContent) {
  constexpr std::size_t kSize = 8 << 20;
  std::vector<std::uint8_t> plain(kSize);
  ContentGenerator generator;
  generator.seed(kSeed);
  generator.fill(plain.data(), plain.size());
  // Many files of one run, so that anything shared by their headers would repeat.
  std::vector<std::uint8_t> identified(kSize);
  constexpr std::size_t kFile = 64 * 1024;
  for (std::size_t at = 0; at < kSize; at += kFile) {
    fillIdentifiedContent(kSeed, fileIdentity("f" + std::to_string(at)), kFile, 0, identified.data() + at,
                          kFile);
  }
  EXPECT_GE(entropyPerByte(identified), entropyPerByte(plain) - 0.002);
  EXPECT_LE(repeatedWindows(identified), repeatedWindows(plain) + 0.0005);
}

}  // namespace
}  // namespace quillet

namespace quillet {
namespace {

std::uint64_t fnv1a(const std::vector<std::uint8_t>& bytes) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (const std::uint8_t b : bytes) h = (h ^ b) * 0x100000001B3ull;
  return h;
}

// Trees written by an earlier build are verified by a later one: the content of a given identity
// (plain, shaped, the run seeds of shared runs) must never change. These digests are of the
// content the program has written since it first wrote identified blocks; a change that moves
// them breaks every tree stored before it.
TEST(BlockIdentityTest, ContentOfAGivenIdentityNeverChanges) {
  std::vector<std::uint8_t> bytes(3 * kIdentityBlock + 1000);
  fillIdentifiedContent(42, fileIdentity("a/b"), 1 << 20, 8192, bytes.data(), bytes.size());
  EXPECT_EQ(fnv1a(bytes), 9281826321653347934ull);
  ContentShape shape;
  shape.compressHundredths = 250;
  shape.dedupeHundredths = 300;
  shape.dedupeBlock = 8192;
  fillShapedContent(42, fileIdentity("a/b"), 1 << 20, shape, 8192, bytes.data(), bytes.size());
  EXPECT_EQ(fnv1a(bytes), 10730110876909684273ull);
  EXPECT_EQ(partSeed(42, 3), 17614568723090539144ull);
}

}  // namespace
}  // namespace quillet
