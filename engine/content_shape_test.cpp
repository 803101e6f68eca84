// Shaped content as verify meets it: what each block tells, which block a repeat copies, and that
// classification takes copies as intact while it still finds damage and misplaced blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "engine/block_identity.h"
#include "engine/verify.h"

namespace quillet {
namespace {

ContentShape shape(std::uint32_t compress, std::uint32_t dedupe, std::uint32_t block = 4096) {
  ContentShape s;
  s.compressHundredths = compress;
  s.dedupeHundredths = dedupe;
  s.dedupeBlock = block;
  return s;
}

std::vector<std::uint8_t> file(std::uint64_t seed, std::uint64_t fileId, std::size_t size,
                               const ContentShape& s) {
  std::vector<std::uint8_t> out(size);
  fillShapedContent(seed, fileId, size, s, 0, out.data(), out.size());
  return out;
}

TEST(ContentShapeTest, PlainShapeIsTheIdentifiedContentAndEveryShapeRoundTripsThroughTheHeader) {
  const std::size_t size = 50 * 1024 + 300;
  std::vector<std::uint8_t> plain(size);
  fillIdentifiedContent(9, 123, size, 0, plain.data(), size);
  EXPECT_EQ(file(9, 123, size, ContentShape{}), plain);

  for (const ContentShape& s :
       {shape(350, 100), shape(100, 2000, 1024), shape(800, 500, 1 << 20), shape(10000, 10000)}) {
    const auto bytes = file(9, 123, size, s);
    EXPECT_NE(bytes, plain);
    for (std::size_t at = 0; at + kIdentityHeaderBytes <= size; at += kIdentityBlock) {
      const auto id = readBlockIdentity(bytes.data() + at, std::min(kIdentityBlock, size - at));
      ASSERT_TRUE(id) << at;
      EXPECT_EQ(id->shape, s);
      EXPECT_EQ(*id, sourceIdentity(9, 123, size, s, at)) << at;
    }
    // Any piece is the same bytes wherever a fill starts (writers fill in chunks).
    std::vector<std::uint8_t> piece(5000);
    fillShapedContent(9, 123, size, s, 7777, piece.data(), piece.size());
    EXPECT_EQ(0, std::memcmp(piece.data(), bytes.data() + 7777, piece.size()));
  }
}

TEST(ContentShapeTest, RepeatsAreCopiesOfAnEarlierBlockOrOfTheSharedBlock) {
  const ContentShape s = shape(200, 500);
  std::set<std::string> distinct;
  std::size_t blocks = 0, shared = 0;
  for (std::uint64_t f = 1; f <= 40; ++f) {
    const std::size_t size = 37 * 4096;
    const auto bytes = file(5, f, size, s);
    for (std::uint64_t at = 0; at < size; at += 4096) {
      const BlockIdentity src = sourceIdentity(5, f, size, s, at);
      if (isSharedBlock(src)) {
        ++shared;
        EXPECT_EQ(src.offset, 0u);
      } else {
        EXPECT_EQ(src.fileId, f);
        EXPECT_LE(src.offset, at);  // a repeat never copies a block after it
        EXPECT_EQ(0, std::memcmp(bytes.data() + at, bytes.data() + src.offset, 4096));
      }
      distinct.insert(std::string(reinterpret_cast<const char*>(bytes.data() + at), 4096));
      ++blocks;
    }
  }
  EXPECT_GT(shared, 0u);
  const double ratio = static_cast<double>(blocks) / static_cast<double>(distinct.size());
  EXPECT_NEAR(ratio, 5.0, 0.25);
}

TEST(ContentShapeTest, VerifyTakesCopiesAsIntactAndStillFindsDamageAndMisplacedBlocks) {
  const ContentShape s = shape(400, 300);
  const std::uint64_t fileId = fileIdentity("dir/f");
  const std::size_t size = 64 * 4096 + 100;
  auto bytes = file(11, fileId, size, s);

  const FileExpectation e =
      expectFromStart(11, fileId, static_cast<std::int64_t>(size), bytes.data(), bytes.size());
  EXPECT_TRUE(e.sizeFromBlocks);
  EXPECT_EQ(e.size, static_cast<std::int64_t>(size));
  EXPECT_EQ(e.shape, s);
  FileTally clean;
  classifyRange(e, 0, bytes.data(), bytes.size(), clean);
  EXPECT_EQ(clean.damagedBytes(), 0);
  EXPECT_EQ(clean.bytes[0], static_cast<std::int64_t>(size));

  // A file that starts with copies of the shared block learns the shape from them.
  std::uint64_t sharedFirst = 0;
  for (std::uint64_t f = 1; f < 100 && sharedFirst == 0; ++f) {
    if (isSharedBlock(sourceIdentity(11, f, 8192, s, 0)) &&
        isSharedBlock(sourceIdentity(11, f, 8192, s, 4096))) {
      sharedFirst = f;
    }
  }
  ASSERT_NE(sharedFirst, 0u);
  const auto small = file(11, sharedFirst, 8192, s);
  const FileExpectation se = expectFromStart(11, sharedFirst, 8192, small.data(), small.size());
  EXPECT_EQ(se.shape, s);
  FileTally smallTally;
  classifyRange(se, 0, small.data(), small.size(), smallTally);
  EXPECT_EQ(smallTally.damagedBytes(), 0);

  // A flipped bit in a copy, and one fresh block of the file written over another.
  std::vector<std::uint64_t> copies, fresh;
  for (std::uint64_t at = 0; at < 64 * 4096; at += 4096) {
    (sourceIdentity(11, fileId, size, s, at).offset == at ? fresh : copies).push_back(at);
  }
  ASSERT_GE(fresh.size(), 2u);
  ASSERT_GE(copies.size(), 1u);
  bytes[copies.back() + 700] ^= 0x20;
  std::memcpy(bytes.data() + fresh[1], bytes.data() + fresh[0], 1024);
  FileTally damaged;
  classifyRange(e, 0, bytes.data(), bytes.size(), damaged);
  EXPECT_EQ(damaged.bytes[static_cast<int>(BlockClass::Corrupted)], 1024);
  EXPECT_EQ(damaged.bytes[static_cast<int>(BlockClass::Misdirected)], 1024);
  EXPECT_EQ(damaged.damagedBytes(), 2048);
}

}  // namespace
}  // namespace quillet
