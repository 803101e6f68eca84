// Block classification: what one block, one range and one file's start tell, and the tallies that
// add ranges in any order. Pure functions; thread-safe.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>

#include "engine/intact_blocks.h"
#include "engine/verify.h"

namespace quillet {

const char* blockClassName(BlockClass c) {
  static constexpr const char* kNames[kBlockClasses] = {"ok",    "corrupted", "misdirected",
                                                        "stale", "zeroed",    "unrecognised"};
  return kNames[static_cast<int>(c)];
}

std::string identityText(const BlockIdentity& id) {
  char text[160];
  std::snprintf(text, sizeof text, "seed %" PRIu64 ", file %016" PRIx64 ", size %" PRIu64 ", offset %" PRIu64,
                id.seed, id.fileId, id.fileSize, id.offset);
  return text;
}

bool allZeroBytes(const std::uint8_t* p, std::size_t size) {
  // Word-wise: zeroed ranges can be large, and this runs on every block that is not intact.
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, 8);
    if (w != 0) return false;
  }
  for (; i < size; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

namespace {

// Whether the damaged block still is mostly the block of id: at least half of its bytes agree.
// Random or foreign bytes agree in about one byte in 256, so this tells a block that was damaged in
// place (its header hit, say) from one that was replaced.
bool mostlyMatches(const BlockIdentity& id, const std::uint8_t* block, std::size_t size) {
  std::uint8_t expected[kIdentityBlock];
  makeIdentifiedBlock(id, expected, size);
  std::size_t same = 0;
  for (std::size_t i = 0; i < size; ++i) same += expected[i] == block[i] ? 1u : 0u;
  return same * 2 >= size;
}

}  // namespace

BlockClass classifyBlock(const FileExpectation& expect, std::int64_t offset, const std::uint8_t* block,
                         std::size_t size, std::optional<BlockIdentity>& found) {
  found.reset();
  const BlockIdentity expected =
      sourceIdentity(expect.seed, expect.fileId, static_cast<std::uint64_t>(expect.size), expect.shape,
                     static_cast<std::uint64_t>(offset));
  // The common case first: the block is what this file should hold here.
  if (blockMatches(expected, block, size)) return BlockClass::Ok;
  if (allZeroBytes(block, size)) return BlockClass::Zeroed;
  found = readBlockIdentity(block, size);
  if (found) {
    // A header that decodes but a body that does not agree with it: damaged in place (or a block
    // from elsewhere that was damaged too); either way its bytes are not what was written.
    if (!blockMatches(*found, block, size)) {
      // A header that decodes yet names another block, over a body that is mostly this block's,
      // is this block with bits flipped in its header.
      return BlockClass::Corrupted;
    }
    // An intact block that belongs elsewhere. A block at its own place with another carried size
    // (the file was made again with another size) belongs to another file all the same.
    return found->seed == expect.seed ? BlockClass::Misdirected : BlockClass::Stale;
  }
  // No readable identity: a block hit in its header is still mostly this block.
  return mostlyMatches(expected, block, size) ? BlockClass::Corrupted : BlockClass::Unrecognised;
}

std::int64_t FileTally::damagedBytes() const {
  std::int64_t sum = 0;
  for (int c = 1; c < kBlockClasses; ++c) sum += bytes[static_cast<std::size_t>(c)];
  return sum;
}

void FileTally::add(std::int64_t offset, std::int64_t length, BlockClass kind, const BlockIdentity& expected,
                    const std::optional<BlockIdentity>& found) {
  bytes[static_cast<std::size_t>(kind)] += length;
  if (kind == BlockClass::Ok) return;
  if (hasRuns() && lastKind == kind && lastEnd == offset) {
    // The last run goes on; it is the last one kept unless runs were left out already.
    if (rangesLeftOut == 0) ranges.back().length += length;
  } else if (ranges.size() < kRangesKept) {
    ranges.push_back({offset, length, kind, expected, found});
  } else {
    ++rangesLeftOut;
  }
  lastKind = kind;
  lastEnd = offset + length;
}

void FileTally::append(const FileTally& later) {
  for (std::size_t c = 0; c < bytes.size(); ++c) bytes[c] += later.bytes[c];
  if (!later.hasRuns()) return;
  // A range keeps its own first runs, so its first run is always at hand to join the last one here.
  std::size_t from = 0;
  if (hasRuns() && lastKind == later.ranges.front().kind && lastEnd == later.ranges.front().offset) {
    if (rangesLeftOut == 0) ranges.back().length += later.ranges.front().length;
    from = 1;
  }
  for (std::size_t i = from; i < later.ranges.size(); ++i) {
    if (ranges.size() < kRangesKept) {
      ranges.push_back(later.ranges[i]);
    } else {
      ++rangesLeftOut;
    }
  }
  rangesLeftOut += later.rangesLeftOut;
  lastKind = later.lastKind;
  lastEnd = later.lastEnd;
}

void FileTally::merge(const FileTally& other) {
  // Which of the two lies first tells their first runs; without runs on either side the order
  // does not matter.
  if (hasRuns() && other.hasRuns() && other.ranges.front().offset < ranges.front().offset) {
    FileTally earlier = other;
    earlier.append(*this);
    *this = std::move(earlier);
    return;
  }
  append(other);
}

void classifyRange(const FileExpectation& expect, std::int64_t offset, const std::uint8_t* data,
                   std::size_t size, FileTally& tally) {
  // Only what lies before the expected end is classified; an extension is the caller's to count.
  const std::int64_t end = std::min<std::int64_t>(offset + static_cast<std::int64_t>(size), expect.size);
  const auto fileSize = static_cast<std::uint64_t>(expect.size);
  constexpr auto kBlock = static_cast<std::int64_t>(kIdentityBlock);
  for (std::int64_t at = offset; at < end; at += kBlock) {
    // The common case, an intact stretch, is counted at once; the block that ends it is looked at
    // block by block.
    const auto whole = static_cast<std::size_t>((end - at) / kBlock);
    const auto intact =
        static_cast<std::int64_t>(intactBlocks(expect.seed, expect.fileId, fileSize, expect.shape,
                                               static_cast<std::uint64_t>(at), data + (at - offset), whole));
    if (intact > 0) {
      tally.add(at, intact * kBlock, BlockClass::Ok, BlockIdentity{}, std::nullopt);
      at += intact * kBlock;
      if (at >= end) break;
    }
    const std::size_t length = static_cast<std::size_t>(std::min<std::int64_t>(kBlock, end - at));
    std::optional<BlockIdentity> found;
    const BlockClass kind = classifyBlock(expect, at, data + (at - offset), length, found);
    const BlockIdentity expected =
        sourceIdentity(expect.seed, expect.fileId, fileSize, expect.shape, static_cast<std::uint64_t>(at));
    tally.add(at, static_cast<std::int64_t>(length), kind, expected, found);
  }
}

FileExpectation expectFromStart(std::uint64_t seed, std::uint64_t fileId, std::int64_t fileLength,
                                const std::uint8_t* data, std::size_t size) {
  FileExpectation e{seed, fileId, fileLength, false, ContentShape{}};
  // The first block that is intact and this file's own, where its shape puts it, tells the size; a
  // size no larger than the block's own end cannot be (it would carry no such block). A file made
  // of copies of the run's shared block tells its shape only.
  bool shapeKnown = false;
  for (std::size_t at = 0; at + kIdentityHeaderBytes <= size; at += kIdentityBlock) {
    const std::size_t length = std::min(kIdentityBlock, size - at);
    const auto id = readBlockIdentity(data + at, length);
    if (!id || id->seed != seed) continue;
    if (id->fileId != fileId) {
      if (shapeKnown || !isSharedBlock(*id)) continue;
      const auto source = sourceIdentity(seed, fileId, static_cast<std::uint64_t>(fileLength), id->shape, at);
      if (source != *id || !blockMatches(*id, data + at, length)) continue;
      e.shape = id->shape;
      shapeKnown = true;
      continue;
    }
    if (id->fileSize <= at || id->fileSize > static_cast<std::uint64_t>(INT64_MAX)) continue;
    if (sourceIdentity(seed, fileId, id->fileSize, id->shape, at) != *id) continue;
    const std::size_t own = static_cast<std::size_t>(std::min<std::uint64_t>(length, id->fileSize - at));
    if (!blockMatches(*id, data + at, own)) continue;
    e.size = static_cast<std::int64_t>(id->fileSize);
    e.sizeFromBlocks = true;
    e.shape = id->shape;
    return e;
  }
  return e;
}

std::optional<std::uint64_t> majoritySeed(const std::vector<std::uint64_t>& seeds) {
  if (seeds.empty()) return std::nullopt;
  std::map<std::uint64_t, std::int64_t> votes;
  for (std::uint64_t s : seeds) ++votes[s];
  // Ties go to the smaller seed, so that the decision does not depend on the walk's order.
  auto best = votes.begin();
  for (auto it = votes.begin(); it != votes.end(); ++it) {
    if (it->second > best->second) best = it;
  }
  return best->first;
}

bool FileVerdict::damaged() const {
  if (unreadable || resizedFrom >= 0) return true;
  if (allocationOnly) return unreservedBytes > 0 || sizeState != SizeState::Right;
  return tally.damagedBytes() > 0 || sizeState != SizeState::Right;
}

std::int64_t VerifyResult::damagedBytes() const {
  std::int64_t sum = 0;
  for (int c = 1; c < kBlockClasses; ++c) sum += classBytes[static_cast<std::size_t>(c)];
  return sum;
}

bool VerifyResult::nothingGenerated() const {
  if (rootMissing || stopped) return false;
  if (files == 0) return true;
  return seedSource == SeedSource::None && allocationOnlyFiles == 0;
}

bool VerifyResult::anyDamage() const {
  return !damaged.empty() || !missing.empty() || !unexpected.empty() || unreadableFiles > 0 ||
         !listingErrors.empty();
}

}  // namespace quillet
