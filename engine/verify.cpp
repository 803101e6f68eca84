#include "engine/verify.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <condition_variable>
#include <future>
#include <mutex>
#include <system_error>
#include <list>
#include <map>
#include <thread>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "engine/folder_tree.h"
#include "engine/uncached_buffer.h"
#include "platform/path.h"

namespace quillet {

const char* blockClassName(BlockClass c) {
  static constexpr const char* kNames[kBlockClasses] = {"ok", "corrupted", "misdirected", "stale", "zeroed",
                                                        "unrecognised"};
  return kNames[static_cast<int>(c)];
}

std::string identityText(const BlockIdentity& id) {
  char text[160];
  std::snprintf(text, sizeof text, "seed %" PRIu64 ", file %016" PRIx64 ", size %" PRIu64 ", offset %" PRIu64,
                id.seed, id.fileId, id.fileSize, id.offset);
  return text;
}

// ---------------------------------------------------------------- classification

namespace {

bool allZero(const std::uint8_t* p, std::size_t size) {
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
  const BlockIdentity expected = sourceIdentity(expect.seed, expect.fileId, static_cast<std::uint64_t>(expect.size),
                                                expect.shape, static_cast<std::uint64_t>(offset));
  // The common case first: the block is what this file should hold here.
  if (blockMatches(expected, block, size)) return BlockClass::Ok;
  if (allZero(block, size)) return BlockClass::Zeroed;
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

void classifyRange(const FileExpectation& expect, std::int64_t offset, const std::uint8_t* data, std::size_t size,
                   FileTally& tally) {
  // Only what lies before the expected end is classified; an extension is the caller's to count.
  const std::int64_t end = std::min<std::int64_t>(offset + static_cast<std::int64_t>(size), expect.size);
  for (std::int64_t at = offset; at < end; at += static_cast<std::int64_t>(kIdentityBlock)) {
    const std::size_t length = static_cast<std::size_t>(std::min<std::int64_t>(kIdentityBlock, end - at));
    std::optional<BlockIdentity> found;
    const BlockClass kind = classifyBlock(expect, at, data + (at - offset), length, found);
    const BlockIdentity expected = sourceIdentity(expect.seed, expect.fileId, static_cast<std::uint64_t>(expect.size),
                                                  expect.shape, static_cast<std::uint64_t>(at));
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

// ---------------------------------------------------------------- the walk and the reads

namespace {

constexpr std::size_t kReadChunk = kUncachedReadChunk;


struct FoundFile {
  std::string relative;  // parts joined by '/'
};

std::string systemRelative(const std::string& relative) {
  std::string out = relative;
  if (kSeparator != '/') std::replace(out.begin(), out.end(), '/', kSeparator);
  return out;
}

// The visible tree as the generator sees it: visible sub-folders entered (never links, hidden or
// system folders), visible files listed (never links, hidden or system files). Names in byte order
// per folder, so that every walk of the same tree lists it alike. folders gets every folder, parents
// first, and each folder's sub-folders in the order the volume lists them: the order a run walked
// them in, which its plan must follow.
void walk(FileSystem& fs, const std::string& root, const std::string& relativeFolder, VerifyJob& job,
          std::vector<FoundFile>& files, std::vector<std::string>& folders, std::vector<std::string>& listingErrors,
          std::vector<std::string>& notRegular) {
  if (job.stopRequested) return;
  const std::string folder = relativeFolder.empty() ? root : root + systemRelative(relativeFolder) + kSeparator;
  auto reader = fs.openFolder(withoutTrailingSeparator(folder));
  if (!reader.ok()) {
    listingErrors.push_back(reader.status().message());
    return;
  }
  std::vector<std::string> subfolders;
  std::vector<std::string> names;
  FolderEntry entry;
  for (;;) {
    const auto more = reader.value()->next(entry);
    if (!more.ok()) {
      listingErrors.push_back(more.status().message());
      break;
    }
    if (!more.value()) break;
    if (entry.isLink || entry.isHidden || entry.isSystem) continue;
    if (entry.isSpecial) {
      // Opening a FIFO may block and opening a device may act on it: such an entry is only named.
      notRegular.push_back((relativeFolder.empty() ? std::string() : relativeFolder + "/") + entry.name);
      continue;
    }
    (entry.isDirectory ? subfolders : names).push_back(entry.name);
  }
  reader.value().reset();
  const std::string prefix = relativeFolder.empty() ? std::string() : relativeFolder + "/";
  for (const auto& name : subfolders) folders.push_back(prefix + name);
  std::sort(names.begin(), names.end());
  std::sort(subfolders.begin(), subfolders.end());
  for (const auto& name : names) {
    files.push_back({prefix + name});
    job.filesFound.fetch_add(1, std::memory_order_relaxed);
  }
  for (const auto& name : subfolders) walk(fs, root, prefix + name, job, files, folders, listingErrors, notRegular);
}

// Reads up to the whole of data's chunk from offset; the count is short only at the end.
Result<std::size_t> readChunk(ReadHandle& file, std::int64_t offset, AlignedBuffer& buffer) {
  return file.read(offset, buffer.data, buffer.size);
}

void countMethod(ReadMethods& methods, UncachedRead method) {
  switch (method) {
    case UncachedRead::Direct: ++methods.direct; break;
    case UncachedRead::Dropped: ++methods.dropped; break;
    case UncachedRead::Cached: ++methods.cached; break;
  }
}

// A file above kSplitAbove is split into ranges of kRangeBytes that readers share. A range of
// eight read chunks keeps the cost of sharing it (one more open, a turn of the lock) well below
// the cost of reading it even on the fastest drives, and a file is split only when it is more than
// two ranges long: files of a few chunks are shared out whole, as the tree's other files keep the
// readers busy.
constexpr std::int64_t kRangeBytes = 8 * static_cast<std::int64_t>(kReadChunk);
constexpr std::int64_t kSplitAbove = 2 * kRangeBytes;

// What one pass over part of a file found.
struct SpanCheck {
  FileTally tally;
  std::int64_t checkedTo = 0;  // the end of what was read and checked
  bool zero = true;            // every byte read was zero
  bool unreadable = false;
  std::string readError;
  bool stopped = false;
};

struct ChunkResult {
  FileTally tally;
  std::size_t size = 0;
  bool zero = false;
};

// A read buffer and the check of what was read into it. The check is declared last so that it is
// waited for before its buffer goes.
struct Slot {
  Slot() : buffer(kReadChunk) {}
  AlignedBuffer buffer;
  std::future<ChunkResult> done;
};

// Chunks in flight: one being read plus one being checked per core, within reason.
std::size_t slotCount() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<std::size_t>(cores == 0 ? 2 : cores + 1, 2, 9);
}

class Verifier {
 public:
  Verifier(VerifyJob& job, FileSystem& fs, VerifyResult& result)
      : job_(job), fs_(fs), result_(result), slots_(slotCount()) {}

  void run() {
    std::vector<FoundFile> files;
    walk(fs_, job_.rootFolder, "", job_, files, folders_, result_.listingErrors, result_.notRegular);
    std::sort(result_.notRegular.begin(), result_.notRegular.end());
    if (job_.stopRequested) return stop();
    if (const auto space = fs_.volumeSpace(withoutTrailingSeparator(job_.rootFolder)); space.ok()) {
      result_.volumeTotalBytes = space.value().total;
      freeNow_ = space.value().availableToCaller;
    }
    if (const auto cluster = fs_.clusterSize(withoutTrailingSeparator(job_.rootFolder)); cluster.ok()) {
      cluster_ = cluster.value();
    }
    if (job_.plan) {
      for (const auto& p : *job_.plan) notePlanned(p);
    }
    decideSeed(files);
    if (job_.stopRequested) return stop();
    const bool parametersTell = job_.plan.has_value() || job_.allocationOnlyKnown;
    const bool allocationOnlyRun = parametersTell ? job_.planAllocationOnly : result_.seedSource == SeedSource::None;

    const bool sizeOnly = allocationOnlyRun && parametersTell;
    const int readers = std::clamp(job_.readers, 1, 256);
    result_.readerTimes.assign(static_cast<std::size_t>(readers), ReaderTimes{});
    if (readers > 1) {
      if (!checkWithReaders(files, sizeOnly, allocationOnlyRun, readers)) return stop();
    } else {
      ReaderTimes& times = result_.readerTimes.front();
      for (const auto& f : files) {
        if (job_.stopRequested) return stop();
        FileVerdict v = checkFile(f.relative, sizeOnly, slots_, result_.methods);
        if (job_.stopRequested && !v.unreadable) return stop();
        noteDone(times, v.length, true);
        bytesInTree_ += roomTaken(v.length);
        account(v, allocationOnlyRun);
      }
    }
    if (!job_.plan && job_.planner) {
      job_.plan = job_.planner(bytesInTree_, folders_);
      if (job_.plan) {
        for (const auto& p : *job_.plan) notePlanned(p);
      }
    }
    if (job_.plan) comparePlan(files);
    allowCutShortFiles();
  }

 private:
  void stop() { result_.stopped = true; }

  void notePlanned(const PlannedFile& p) {
    plannedSizes_.emplace(p.relativePath, p.size);
    if (p.sizeMayBeCut) mayBeCut_.insert(p.relativePath);
  }

  // The room a file of this length takes on the volume: whole clusters. A run that filled the
  // volume had that much more room than is free now, not just the files' lengths.
  std::int64_t roomTaken(std::int64_t length) const {
    const std::int64_t c = std::max<std::int64_t>(cluster_, 1);
    return (length + c - 1) / c * c;
  }

  // Without a given seed, the seed most files' first blocks carry is the run's.
  void decideSeed(const std::vector<FoundFile>& files) {
    if (job_.seed) {
      result_.seed = *job_.seed;
      result_.seedSource = SeedSource::Given;
      return;
    }
    // At most this many files vote, spread over the walk, so that a huge tree costs few extra reads.
    constexpr std::size_t kVoters = 4096;
    const std::size_t step = std::max<std::size_t>(1, files.size() / kVoters);
    std::vector<std::uint64_t> seeds;
    AlignedBuffer first(kUncachedAlignment);
    for (std::size_t i = 0; i < files.size() && !job_.stopRequested; i += step) {
      auto opened = fs_.openForCheck(job_.rootFolder, systemRelative(files[i].relative));
      if (!opened.ok()) continue;
      const auto got = opened.value()->read(0, first.data, first.size);
      if (!got.ok() || got.value() < kIdentityHeaderBytes) continue;
      const auto id = readBlockIdentity(first.data, std::min(got.value(), kIdentityBlock));
      // Only a block that is intact and sits first in its own file (or is the run's shared dedupe
      // block, which a file may start with) votes.
      if (!id || id->offset != 0) continue;
      if (id->fileId != fileIdentity(files[i].relative) && !isSharedBlock(*id)) continue;
      if (!blockMatches(*id, first.data, std::min<std::size_t>({got.value(), kIdentityBlock, id->fileSize}))) continue;
      seeds.push_back(id->seed);
    }
    if (const auto seed = majoritySeed(seeds)) {
      result_.seed = *seed;
      result_.seedSource = SeedSource::FromData;
    }
  }

  void noteDone(ReaderTimes& times, std::int64_t bytes, bool fileDone) const {
    const double at = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    if (times.firstDone < 0) times.firstDone = at;
    times.lastDone = at;
    times.bytes += bytes;
    if (fileDone) ++times.files;
  }

  // A large file whose ranges several readers share: the reader that opened it checks its first
  // range and publishes the rest; whoever checks a range hands its tally over, and the tallies are
  // merged in offset order as they become ready, so the verdict is the one a single pass gives.
  struct SharedFile {
    std::size_t index = 0;  // in walk order
    // Set before it is shared and never changed after, so readers take them without the lock.
    std::string relativePath;
    std::int64_t length = 0;  // as opened
    FileExpectation expect;
    // Its tally grows and its length may shrink as ranges merge, under the lock.
    FileVerdict verdict;
    std::unique_ptr<ReadHandle> handle;  // the opener's, for the allocation check at the end
    std::int64_t ranges = 0;
    std::int64_t nextToClaim = 1;
    std::int64_t nextToMerge = 0;
    std::map<std::int64_t, SpanCheck> ready;  // checked ranges waiting for an earlier one
    bool zeroSoFar = true;
    bool cut = false;  // a read failed or the file ended early: later ranges are not this file's
  };

  // Several readers share the files out in walk order, and the ranges of large files among them;
  // the verdicts are accounted in walk order, so the totals and the list of damaged files are
  // those one reader gives. Readers run at most a window of files ahead of the oldest one not yet
  // accounted, and a window of ranges ahead of the oldest range not yet merged, so memory stays
  // flat: per reader a buffer, and per file in flight a verdict with its capped tally.
  bool checkWithReaders(const std::vector<FoundFile>& files, bool sizeOnly, bool allocationOnlyRun, int readers) {
    const std::size_t window = static_cast<std::size_t>(readers) * 16;
    const std::int64_t rangeWindow = static_cast<std::int64_t>(readers) * 2;
    std::mutex lock;
    std::condition_variable changed;
    std::size_t nextFile = 0;
    std::size_t opening = 0;  // files claimed whose first chunk is still being read
    std::list<std::shared_ptr<SharedFile>> shared;
    std::map<std::size_t, FileVerdict> waiting;
    std::size_t nextToAccount = 0;
    std::vector<ReadMethods> methods(static_cast<std::size_t>(readers));

    // Called with the lock held.
    const auto deliver = [&](std::size_t index, FileVerdict&& v) {
      waiting.emplace(index, std::move(v));
      for (auto it = waiting.find(nextToAccount); it != waiting.end(); it = waiting.find(nextToAccount)) {
        bytesInTree_ += roomTaken(it->second.length);
        account(it->second, allocationOnlyRun);
        waiting.erase(it);
        ++nextToAccount;
      }
      changed.notify_all();
    };
    // Called with the lock held; true when the file's last range was merged.
    const auto mergeRange = [&](SharedFile& f, std::int64_t range, SpanCheck&& checked) {
      f.ready.emplace(range, std::move(checked));
      for (auto it = f.ready.find(f.nextToMerge); it != f.ready.end(); it = f.ready.find(f.nextToMerge)) {
        SpanCheck& r = it->second;
        if (!f.cut) {
          FileVerdict& v = f.verdict;
          v.tally.merge(r.tally);
          f.zeroSoFar = f.zeroSoFar && r.zero;
          if (r.unreadable) {
            v.unreadable = true;
            v.readError = r.readError;
            f.cut = true;
          } else if (r.checkedTo < std::min(f.length, (f.nextToMerge + 1) * kRangeBytes)) {
            // The file shrank while it was read: what could not be read is not there.
            v.length = r.checkedTo;
            f.cut = true;
          }
        }
        f.ready.erase(it);
        ++f.nextToMerge;
      }
      changed.notify_all();
      return f.nextToMerge == f.ranges;
    };

    const auto read = [&](std::size_t reader) {
      std::vector<Slot> slots(2);
      ReaderTimes& times = result_.readerTimes[reader];
      for (;;) {
        std::shared_ptr<SharedFile> file;
        std::int64_t range = -1;
        std::size_t index = 0;
        {
          std::unique_lock guard(lock);
          for (;;) {
            if (job_.stopRequested) return;
            for (const auto& f : shared) {
              if (f->nextToClaim < f->ranges && f->nextToClaim < f->nextToMerge + rangeWindow) {
                file = f;
                range = f->nextToClaim++;
                break;
              }
            }
            if (file) break;
            if (nextFile < files.size() && nextFile < nextToAccount + window) {
              index = nextFile++;
              ++opening;
              break;
            }
            // Nothing left to claim, and nothing that could still become claimable.
            bool rangesLeft = false;
            for (const auto& f : shared) rangesLeft = rangesLeft || f->nextToClaim < f->ranges;
            if (nextFile >= files.size() && opening == 0 && !rangesLeft) return;
            // A stop wakes nobody, so the wait looks at it now and then.
            changed.wait_for(guard, std::chrono::milliseconds(20));
          }
        }
        if (file) {
          SpanCheck checked;
          const std::int64_t begin = range * kRangeBytes;
          const std::int64_t end = std::min(file->length, begin + kRangeBytes);
          auto opened = fs_.openForCheck(job_.rootFolder, systemRelative(file->relativePath));
          if (opened.ok()) {
            FileExpectation expect = file->expect;
            checked = checkSpan(*opened.value(), expect, nullptr, begin, end, slots);
          } else {
            checked.checkedTo = begin;
            checked.unreadable = true;
            checked.readError = opened.status().message();
          }
          if (checked.stopped) return;
          const std::int64_t bytes = checked.checkedTo - begin;
          std::lock_guard guard(lock);
          const bool last = mergeRange(*file, range, std::move(checked));
          noteDone(times, bytes, last);
          if (last) {
            finishShared(*file);
            shared.remove(file);
            deliver(file->index, std::move(file->verdict));
          }
          continue;
        }
        // A file of its own; a large one is shared once its first chunk told what it should hold.
        std::shared_ptr<SharedFile> share;
        const auto publish = [&](const FileVerdict& v) {
          share = std::make_shared<SharedFile>();
          share->index = index;
          share->relativePath = v.relativePath;
          share->length = v.length;
          share->expect = v.expect;
          share->verdict = v;
          share->ranges = (v.length + kRangeBytes - 1) / kRangeBytes;
          std::lock_guard guard(lock);
          shared.push_back(share);
          --opening;
          changed.notify_all();
        };
        SpanCheck first;
        std::unique_ptr<ReadHandle> handle;
        FileVerdict v = checkFile(files[index].relative, sizeOnly, slots, methods[reader], publish, &first, &handle);
        if (job_.stopRequested && !v.unreadable) return;
        std::lock_guard guard(lock);
        if (share) {
          // Whoever merges the last range checks the allocation through the opener's handle.
          share->handle = std::move(handle);
          const std::int64_t bytes = first.checkedTo;
          const bool last = mergeRange(*share, 0, std::move(first));
          noteDone(times, bytes, last);
          if (last) {
            finishShared(*share);
            shared.remove(share);
            deliver(share->index, std::move(share->verdict));
          }
        } else {
          --opening;
          noteDone(times, v.length, true);
          deliver(index, std::move(v));
        }
      }
    };
    std::vector<std::thread> threads;
    for (int r = 1; r < readers; ++r) {
      try {
        threads.emplace_back(read, static_cast<std::size_t>(r));
      } catch (const std::system_error&) {
        break;  // fewer readers share the files
      }
    }
    read(0);
    for (auto& t : threads) t.join();
    for (const auto& m : methods) {
      result_.methods.direct += m.direct;
      result_.methods.dropped += m.dropped;
      result_.methods.cached += m.cached;
    }
    return !job_.stopRequested;
  }

  // The end of a shared file's check, once its last range was merged; as checkFile ends a file.
  void finishShared(SharedFile& f) {
    FileVerdict& v = f.verdict;
    v.allZero = f.zeroSoFar && v.length > 0;
    finishSize(v);
    if (v.length == 0 && !v.unreadable) v.sizeState = SizeState::Truncated;
    if (v.allZero && f.handle) reserveCheck(v, *f.handle);
    f.handle.reset();
    job_.filesChecked.fetch_add(1, std::memory_order_relaxed);
  }

  // Reads and checks [begin, end) of an open file, chunk by chunk; each chunk is checked on a
  // thread of its own while the next ones are read, a few chunks in flight, and the tallies are
  // merged in file order. With decide set (a check from the file's start), the first chunk tells
  // the expectation first and decide is called with it.
  SpanCheck checkSpan(ReadHandle& file, FileExpectation& expect,
                      const std::function<void(const std::uint8_t*, std::size_t)>* decide,
                      std::int64_t begin, std::int64_t end, std::vector<Slot>& slots) {
    SpanCheck out;
    std::int64_t offset = begin;
    bool first = decide != nullptr;
    std::size_t next = 0;
    const auto collect = [&](Slot& slot) {
      if (!slot.done.valid()) return;
      const ChunkResult r = slot.done.get();
      out.tally.merge(r.tally);
      out.zero = out.zero && r.zero;
      job_.damagedBytes.fetch_add(r.tally.damagedBytes(), std::memory_order_relaxed);
      job_.bytesChecked.fetch_add(static_cast<std::int64_t>(r.size), std::memory_order_relaxed);
    };
    const auto collectAll = [&] {
      for (std::size_t i = 0; i < slots.size(); ++i) collect(slots[(next + i) % slots.size()]);
    };
    while (offset < end || first) {
      if (job_.stopRequested) {
        collectAll();
        out.stopped = true;
        out.checkedTo = offset;
        return out;
      }
      Slot& slot = slots[next];
      collect(slot);
      const auto got = readChunk(file, offset, slot.buffer);
      if (!got.ok()) {
        out.unreadable = true;
        out.readError = got.status().message();
        break;
      }
      // Bytes past the end asked for (a file that grew since it was opened) are not this check's.
      const std::size_t size =
          static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(got.value()), end - offset));
      if (first) {
        (*decide)(slot.buffer.data, size);
        first = false;
      }
      if (size == 0) break;
      const std::uint8_t* data = slot.buffer.data;
      const FileExpectation e = expect;
      const bool wantZero = out.zero;
      const auto check = [e, offset, data, size, wantZero] {
        ChunkResult r;
        r.size = size;
        r.zero = wantZero && allZero(data, size);
        classifyRange(e, offset, data, size, r.tally);
        return r;
      };
      // A file read whole in one chunk has nothing to overlap with: checked here, it costs no
      // thread, which matters in a tree of many small files.
      const bool whole = offset == 0 && got.value() < slot.buffer.size;
      slot.done = std::async(whole ? std::launch::deferred : std::launch::async, check);
      next = (next + 1) % slots.size();
      offset += static_cast<std::int64_t>(size);
      if (got.value() < slot.buffer.size) break;
    }
    collectAll();
    out.checkedTo = offset;
    return out;
  }

  // Checks one file from its start. With publish given, a file above kSplitAbove is checked here
  // only as far as its first range: publish receives its verdict so far (the expectation set) once
  // the first chunk told it, that range's check comes back in firstRange and the open file in
  // handle.
  FileVerdict checkFile(const std::string& relative, bool sizeOnly, std::vector<Slot>& slots, ReadMethods& methods,
                        const std::function<void(const FileVerdict&)>& publish = {},
                        SpanCheck* firstRange = nullptr, std::unique_ptr<ReadHandle>* handleOut = nullptr) {
    FileVerdict v;
    v.relativePath = relative;
    v.expect.seed = result_.seed;
    v.expect.fileId = fileIdentity(relative);
    auto opened = fs_.openForCheck(job_.rootFolder, systemRelative(relative));
    if (!opened.ok()) {
      v.unreadable = true;
      v.readError = opened.status().message();
      return v;
    }
    std::unique_ptr<ReadHandle> handle = std::move(opened.value());
    ReadHandle& file = *handle;
    countMethod(methods, file.method());
    v.length = file.size();
    const auto planned = plannedSizes_.find(relative);
    if (sizeOnly) {
      v.allocationOnly = true;
      v.allZero = true;
      v.expect.size = planned != plannedSizes_.end() ? planned->second : v.length;
      v.expect.sizeFromBlocks = planned != plannedSizes_.end();
      finishSize(v);
      reserveCheck(v, file);
      job_.filesChecked.fetch_add(1, std::memory_order_relaxed);
      return v;
    }
    v.expect.size = v.length;
    const bool split = publish && firstRange != nullptr && handleOut != nullptr && v.length > kSplitAbove;
    const std::function<void(const std::uint8_t*, std::size_t)> decide = [&](const std::uint8_t* data,
                                                                               std::size_t size) {
      v.expect = expectFromStart(result_.seed, v.expect.fileId, v.length, data, size);
      // The plan knows the size when the file's own blocks do not tell it.
      if (!v.expect.sizeFromBlocks && planned != plannedSizes_.end()) {
        v.expect.size = planned->second;
        v.expect.sizeFromBlocks = true;
      }
    };
    SpanCheck checked;
    if (split) {
      // The other ranges are published as soon as the expectation is known, so other readers
      // start on them while this one checks the first.
      bool published = false;
      const std::function<void(const std::uint8_t*, std::size_t)> decideAndPublish =
          [&](const std::uint8_t* data, std::size_t size) {
            decide(data, size);
            publish(v);
            published = true;
          };
      checked = checkSpan(file, v.expect, &decideAndPublish, 0, std::min(v.length, kRangeBytes), slots);
      if (published) {
        *firstRange = std::move(checked);
        *handleOut = std::move(handle);
        return v;
      }
      // Its first read failed: nothing was shared, and the file ends here as any other would.
    } else {
      checked = checkSpan(file, v.expect, &decide, 0, v.length, slots);
    }
    v.tally = std::move(checked.tally);
    if (checked.stopped) return v;
    if (checked.unreadable) {
      v.unreadable = true;
      v.readError = checked.readError;
    } else if (checked.checkedTo < v.length) {
      // The file shrank while it was read: what could not be read is not there.
      v.length = checked.checkedTo;
    }
    v.allZero = checked.zero && v.length > 0;
    finishSize(v);
    // The generator never makes an empty file: one is a file cut to nothing.
    if (v.length == 0 && !v.unreadable) v.sizeState = SizeState::Truncated;
    if (v.allZero) reserveCheck(v, file);
    job_.filesChecked.fetch_add(1, std::memory_order_relaxed);
    return v;
  }

  static void finishSize(FileVerdict& v) {
    if (!v.expect.sizeFromBlocks) return;
    if (v.length < v.expect.size) v.sizeState = SizeState::Truncated;
    if (v.length > v.expect.size) v.sizeState = SizeState::Extended;
  }

  // An allocation-only file must hold room for its whole size: the generator's retry may ask for
  // one cluster less, so that much is allowed short.
  void reserveCheck(FileVerdict& v, ReadHandle& file) {
    const std::int64_t allocated = file.allocatedBytes();
    if (allocated < 0) return;
    const std::int64_t wanted = v.length - cluster_;
    if (allocated < wanted) v.unreservedBytes = v.length - allocated;
  }

  void account(FileVerdict& v, bool allocationOnlyRun) {
    ++result_.files;
    // A file that reads back as zeros throughout is allocation-only when the run only allocated;
    // in a filled run it is a filled file that was zeroed.
    if (v.allZero && allocationOnlyRun) {
      v.allocationOnly = true;
      v.tally = FileTally{};
      ++result_.allocationOnlyFiles;
      result_.allocationOnlyBytes += v.length;
      if (v.unreservedBytes > 0) ++result_.unreservedFiles;
    }
    for (std::size_t c = 0; c < v.tally.bytes.size(); ++c) {
      result_.classBytes[c] += v.tally.bytes[c];
      if (v.tally.bytes[c] > 0) ++result_.classFiles[c];
    }
    if (v.sizeState == SizeState::Truncated) {
      ++result_.truncatedFiles;
      result_.truncatedBytes += v.expect.size - v.length;
    } else if (v.sizeState == SizeState::Extended) {
      ++result_.extendedFiles;
      result_.extendedBytes += v.length - v.expect.size;
    }
    if (v.unreadable) ++result_.unreadableFiles;
    present_.emplace(v.relativePath, v.sizeState);
    if (v.expect.sizeFromBlocks && !v.allocationOnly) carried_.emplace(v.relativePath, v.expect.size);
    lengths_.emplace(v.relativePath, v.length);
    if (v.damaged()) result_.damaged.push_back(std::move(v));
  }

  // The files a run was writing when it ended are shorter than their blocks say, yet intact: a run
  // stopped while writing them leaves them so, and so does a volume that filled mid-write. Each
  // writer has at most one file in flight, so up to runWriters such files are allowed. With the
  // plan they are among the last planned files present (one per writer); without it, the truncated
  // files whose missing parts the volume has no room for now, when there are no more of them than
  // writers. Their intact bytes still count.
  void allowCutShortFiles() {
    std::vector<std::size_t> candidates;
    for (std::size_t i = 0; i < result_.damaged.size(); ++i) {
      const FileVerdict& v = result_.damaged[i];
      if (v.sizeState == SizeState::Truncated && !v.unreadable && v.resizedFrom < 0 && v.tally.damagedBytes() == 0) {
        candidates.push_back(i);
      }
    }
    const std::size_t writers = static_cast<std::size_t>(std::clamp(job_.runWriters, 1, 256));
    std::vector<std::size_t> allowed;
    std::vector<const char*> reasons;
    if (job_.plan && !inFlight_.empty()) {
      for (std::size_t i : candidates) {
        if (inFlight_.count(result_.damaged[i].relativePath) != 0) {
          allowed.push_back(i);
          reasons.push_back("the run ended while it wrote it");
        }
      }
    }
    // A fill that met the full volume cut every writer's file in flight, and a writer the system
    // ran less may have held its file since far back in the plan: any cut file whose missing part
    // the volume had no room for is allowed, while no more files are cut than the run had writers.
    if (candidates.size() <= writers && freeNow_ >= 0) {
      struct Cut {
        std::size_t index;
        std::int64_t need;   // the room its missing part takes, and the cluster left besides
        std::int64_t freed;  // the room a truncation since would have freed
      };
      std::vector<Cut> cuts;
      for (std::size_t i : candidates) {
        if (std::find(allowed.begin(), allowed.end(), i) != allowed.end()) continue;
        const FileVerdict& v = result_.damaged[i];
        // One writer goes through its files in plan order: with the plan known, only a file it
        // began once the room ran short can have met the full volume.
        if (job_.plan && writers == 1 && mayBeCut_.count(v.relativePath) == 0) continue;
        // A file left empty carries no size; the plan, when known, tells what it was to hold.
        std::int64_t whole = v.expect.size;
        if (const auto planned = plannedSizes_.find(v.relativePath);
            !v.expect.sizeFromBlocks && planned != plannedSizes_.end()) {
          whole = planned->second;
        }
        cuts.push_back({i, whole - v.length + cluster_, roomTaken(whole) - roomTaken(v.length)});
      }
      // Each must lack room for its rest now: the room free now is the most the run can have left.
      // Which of them the full volume cut and which were truncated since cannot be told from one
      // file alone: a file truncated since freed room the run did not leave, so the files taken as
      // cut must each lack room once the room the others freed is taken away again. Of the largest
      // sets of files that can be the cut ones, only the files in every such set are allowed: a
      // file in some but not all of them may as well be the one truncated since.
      constexpr std::size_t kMostWeighed = 16;
      if (cuts.size() <= kMostWeighed) {
        std::size_t best = 0;
        std::uint32_t common = 0;
        for (std::uint32_t set = 1; set < (std::uint32_t{1} << cuts.size()); ++set) {
          std::int64_t freeAtEnd = freeNow_;
          for (std::size_t j = 0; j < cuts.size(); ++j) {
            if ((set >> j & 1u) == 0) freeAtEnd -= cuts[j].freed;
          }
          bool fits = freeAtEnd >= 0;
          for (std::size_t j = 0; fits && j < cuts.size(); ++j) {
            if ((set >> j & 1u) != 0 && freeAtEnd >= cuts[j].need) fits = false;
          }
          if (!fits) continue;
          const auto size = static_cast<std::size_t>(std::popcount(set));
          if (size > best) {
            best = size;
            common = set;
          } else if (size == best) {
            common &= set;
          }
        }
        for (std::size_t j = 0; j < cuts.size(); ++j) {
          if ((common >> j & 1u) == 0 || freeNow_ >= cuts[j].need) continue;
          allowed.push_back(cuts[j].index);
          // With the plan, a file no walk found in flight was held from far back by a writer the
          // system ran less, or truncated since: nothing on the volume tells which.
          const bool farBack = job_.plan && writers > 1;
          reasons.push_back(farBack ? "the volume filled while it was written, or it was truncated since: a writer "
                                      "held it from far back in the plan, which can not be told apart"
                                    : "the volume filled while it was written");
        }
      }
    }
    std::vector<std::size_t> order(allowed.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return allowed[a] < allowed[b]; });
    for (std::size_t k : order) {
      const FileVerdict& v = result_.damaged[allowed[k]];
      --result_.truncatedFiles;
      result_.truncatedBytes -= v.expect.size - v.length;
      // A file left empty carries no size: the plan's, when known, is the one it was to hold.
      std::int64_t whole = v.expect.size;
      if (const auto planned = plannedSizes_.find(v.relativePath);
          !v.expect.sizeFromBlocks && planned != plannedSizes_.end()) {
        whole = planned->second;
      }
      result_.cutShortFiles.push_back(v.relativePath + " (" + std::to_string(v.length) + " of " +
                                      std::to_string(whole) + " bytes; " + reasons[k] + ")");
    }
    std::sort(allowed.begin(), allowed.end());
    // Later ones first, so that the earlier places stay put.
    for (auto it = allowed.rbegin(); it != allowed.rend(); ++it) {
      result_.damaged.erase(result_.damaged.begin() + static_cast<std::ptrdiff_t>(*it));
    }
    if (!result_.cutShortFiles.empty()) result_.cutShort = result_.cutShortFiles.front();
  }

  // Several writers filling folders (by files number) each fill a folder of their own, taken in
  // plan order, so a run that ended early left up to one part-filled folder per writer, anywhere
  // up to the last folder begun: each holds the first of its planned files, the last of them
  // perhaps cut short, and every folder before the last begun is full or one of those. Tells
  // whether the plan has that shape with at least one file cut short (the sign that the run
  // ended early); then the files being written are inFlight_, and the planned files from which
  // absent ones are no damage are marked in notMade.
  bool partFilledFolders(const std::vector<PlannedFile>& plan, std::int64_t writers,
                         std::vector<bool>& notMade, std::string& reason) {
    const auto folderOf = [](const std::string& path) {
      const auto cut = path.rfind('/');
      return cut == std::string::npos ? std::string() : path.substr(0, cut);
    };
    struct Folder {
      std::size_t from, made, to;  // planned files [from, to); [from, made) present
      bool endsCut;
    };
    std::vector<Folder> folders;
    for (std::size_t from = 0; from < plan.size();) {
      const std::string folder = folderOf(plan[from].relativePath);
      std::size_t to = from;
      while (to < plan.size() && folderOf(plan[to].relativePath) == folder) ++to;
      std::size_t made = from;
      while (made < to && present_.count(plan[made].relativePath) != 0) ++made;
      for (std::size_t i = made; i < to; ++i) {
        if (present_.count(plan[i].relativePath) != 0) return false;  // a gap: not a folder being filled
      }
      for (std::size_t i = from; i + 1 < made; ++i) {
        if (present_.at(plan[i].relativePath) != SizeState::Right) return false;
      }
      const bool endsCut = made > from && present_.at(plan[made - 1].relativePath) == SizeState::Truncated;
      if (made > from && !endsCut && present_.at(plan[made - 1].relativePath) != SizeState::Right) return false;
      folders.push_back({from, made, to, endsCut});
      from = to;
    }
    std::size_t lastBegun = folders.size();
    for (std::size_t k = 0; k < folders.size(); ++k) {
      if (folders[k].made > folders[k].from) lastBegun = k;
    }
    if (lastBegun == folders.size()) return false;
    std::int64_t partFilled = 0;
    std::vector<std::string> writing;
    std::vector<std::string> nextAbsent;  // the next planned file of each part-filled folder not cut
    for (std::size_t k = 0; k < folders.size(); ++k) {
      const Folder& f = folders[k];
      if (k <= lastBegun && f.made == f.to && !f.endsCut) continue;  // full
      for (std::size_t i = f.made; i < f.to; ++i) notMade[i] = true;
      if (k > lastBegun) continue;  // never begun: the unmade tail
      ++partFilled;
      if (f.endsCut) {
        writing.push_back(plan[f.made - 1].relativePath);
      } else if (f.made < f.to) {
        nextAbsent.push_back(plan[f.made].relativePath);
      }
      if (!f.endsCut && (freeNow_ < 0 || freeNow_ >= roomTaken(plan[f.made].size))) {
        // Its writer was between two files: the next one was not made when the volume had no room
        // for it, but a file made and lost since left its room free. With that room free it is
        // missing (a run stopped between two files cannot be told from that).
        notMade[f.made] = false;
      }
    }
    // Without a cut file, the volume being full tells that the run ended early: a writer goes on
    // while more than a cluster is free (cutting its next file to the room), so every writer was
    // between two files when none had room for another.
    const bool fullBetweenFiles =
        writing.empty() && freeNow_ >= 0 && freeNow_ <= cluster_ && !nextAbsent.empty();
    if ((writing.empty() && !fullBetweenFiles) || partFilled > writers) return false;
    for (const auto& path : writing) inFlight_.insert(path);
    reason = fullBetweenFiles ? "the volume has no room for " + nextAbsent.front()
                              : "the run stopped while it wrote " + writing.front();
    return true;
  }

  // Several writers by files number fill one folder each, taken in plan order, and share the
  // bytes under /limsize file by file, so which files the limit cut depends on timing: every
  // folder up to the last one begun is full or holds the first of its planned files, at most one
  // per writer is not full, and one file, the last of its folder's, may carry less than planned
  // (the limit's rest). The shares then add up to the limit exactly, and the rest of the plan
  // (planned on past the limit) is the unmade tail. Absent files before a present one of their
  // folder are missing; so, when the shares add up to another size than the limit (lost, or a run
  // stopped between two files), is the first absent file of each folder not full, up to one
  // folder per writer after the last one begun.
  //
  // The shares are what the run gave each file, not what is found now: every file made took its
  // planned size (a file lost since, or replaced by one of another size, took it all the same) and
  // the cut file the rest its blocks carry. A last file of its folder lost since the run is told
  // from the unmade tail when adding its planned size is what makes the shares reach the limit.
  // With cutOnly, only the file the limit cut is told (a run stopped while it wrote may have
  // reached its limit before): what is missing was decided already.
  void limitReachedFolders(const std::vector<PlannedFile>& plan, std::int64_t writers,
                           std::vector<bool>& notMade, bool cutOnly = false) {
    const auto folderOf = [](const std::string& path) {
      const auto cut = path.rfind('/');
      return cut == std::string::npos ? std::string() : path.substr(0, cut);
    };
    struct Folder {
      std::size_t from, made, to;  // planned files [from, to); the last present one before made
    };
    std::vector<Folder> folders;
    std::int64_t shares = 0;          // the planned sizes of the files made, present or lost
    std::vector<std::size_t> lighter;  // last present files of their folders carrying less than planned
    const auto carriedOf = [&](std::size_t i) {
      const std::string& path = plan[i].relativePath;
      const auto carried = carried_.find(path);
      return carried != carried_.end() ? carried->second : lengths_.at(path);
    };
    for (std::size_t from = 0; from < plan.size();) {
      const std::string folder = folderOf(plan[from].relativePath);
      std::size_t to = from;
      std::size_t made = from;
      for (; to < plan.size() && folderOf(plan[to].relativePath) == folder; ++to) {
        if (present_.count(plan[to].relativePath) != 0) made = to + 1;
      }
      for (std::size_t i = from; i < made; ++i) shares += plan[i].size;
      if (made > from && carriedOf(made - 1) < plan[made - 1].size) lighter.push_back(made - 1);
      folders.push_back({from, made, to});
      from = to;
    }
    const std::int64_t limit = job_.runLimitBytes;
    // Whether the shares, with `added` more, reach the limit: as they are, or with the carried rest
    // of one lighter file (the cut file) in place of its planned size.
    std::optional<std::size_t> cutFile;
    const auto reachLimit = [&](std::int64_t added) {
      if (shares + added == limit) return true;
      for (std::size_t i : lighter) {
        if (shares + added - plan[i].size + carriedOf(i) == limit) {
          cutFile = i;
          return true;
        }
      }
      return false;
    };
    const std::size_t w = static_cast<std::size_t>(writers);
    const auto lastBegunOf = [&] {
      std::size_t last = folders.size();
      for (std::size_t k = 0; k < folders.size(); ++k) {
        if (folders[k].made > folders[k].from) last = k;
      }
      return last;
    };
    const auto reachedBy = [&](std::size_t k, std::size_t lastBegun) {
      // A writer may have taken a folder and made nothing in it yet: up to one per writer after
      // the last one begun.
      return lastBegun == folders.size() ? k < w : k <= lastBegun + w;
    };
    bool reached = reachLimit(0);
    if (!reached) {
      // Only one such file may tell it: were there several, which one was lost could not be told.
      const std::size_t lastBegun = lastBegunOf();
      std::optional<std::size_t> lostIn;
      std::optional<std::size_t> cutWithIt;
      int explanations = 0;
      for (std::size_t k = 0; k < folders.size(); ++k) {
        const Folder& f = folders[k];
        if (f.made >= f.to || !reachedBy(k, lastBegun)) continue;
        cutFile.reset();
        if (reachLimit(plan[f.made].size)) {
          ++explanations;
          lostIn = k;
          cutWithIt = cutFile;
        }
      }
      cutFile.reset();
      if (explanations == 1) {
        reached = true;
        cutFile = cutWithIt;
        ++folders[*lostIn].made;  // made, and lost since: missing
      }
    }
    const std::size_t lastBegun = lastBegunOf();
    std::int64_t notFull = 0;
    for (std::size_t k = 0; lastBegun < folders.size() && k <= lastBegun; ++k) {
      if (folders[k].made < folders[k].to) ++notFull;
    }
    const bool atLimit = reached && notFull <= writers;
    if (atLimit && cutFile) mayBeCut_.insert(plan[*cutFile].relativePath);
    if (cutOnly) return;
    for (std::size_t k = 0; k < folders.size(); ++k) {
      const Folder& f = folders[k];
      for (std::size_t i = f.made; i < f.to; ++i) notMade[i] = true;
      if (!atLimit && reachedBy(k, lastBegun) && f.made < f.to) notMade[f.made] = false;
    }
    for (std::size_t i = 0; i < plan.size(); ++i) {
      if (!notMade[i] || present_.count(plan[i].relativePath) != 0) continue;
      result_.tailReason =
          atLimit ? "the run reached its size limit"
                  : "the run ended while its writers filled " + std::to_string(notFull) + " folders";
      break;
    }
  }

  // Planned files that are absent are missing, except the tail of a run that ended early; files
  // found that were never planned are unexpected.
  void comparePlan(const std::vector<FoundFile>& files) {
    result_.planned = true;
    const auto& plan = *job_.plan;
    // The planned files from which an absent one is no damage: the run ended before it made them.
    std::vector<bool> notMade(plan.size(), false);
    const std::int64_t runWriters = std::clamp(job_.runWriters, 1, 256);
    std::string reason;
    if (runWriters > 1 && partFilledFolders(plan, runWriters, notMade, reason)) {
      result_.tailReason = reason;
      if (job_.runLimitBytes >= 0) {
        std::vector<bool> unused(plan.size(), false);
        limitReachedFolders(plan, runWriters, unused, true);
      }
    } else if (runWriters > 1 && job_.runLimitBytes >= 0) {
      notMade.assign(plan.size(), false);
      limitReachedFolders(plan, runWriters, notMade);
    } else {
      notMade.assign(plan.size(), false);  // a failed check may have marked some
      markUnmadeTail(plan, notMade);
    }
    for (std::size_t i = 0; i < plan.size(); ++i) {
      if (present_.count(plan[i].relativePath) != 0) continue;
      if (notMade[i]) {
        ++result_.missingTailAllowed;
      } else {
        result_.missing.push_back(plan[i].relativePath);
      }
    }
    for (const auto& f : files) {
      if (plannedSizes_.count(f.relative) == 0) result_.unexpected.push_back(f.relative);
    }
    compareSizes(files);
    // A run makes regular files only.
    for (const auto& path : result_.notRegular) result_.unexpected.push_back(path);
  }

  // A planned file whose blocks carry another size than planned is another run's file (the same
  // seed, other sizes) in its place, however intact its blocks are. A run that filled the volume
  // may have cut its last files to the room left, so those may carry less.
  void compareSizes(const std::vector<FoundFile>& files) {
    std::unordered_map<std::string, std::size_t> damagedAt;
    for (std::size_t i = 0; i < result_.damaged.size(); ++i) damagedAt.emplace(result_.damaged[i].relativePath, i);
    // A run that met the full volume cut the files it handed out last to the room it saw: the last
    // planned files present, one per writer and one more, may carry less while the volume is full.
    std::unordered_set<std::string> lastMade;
    const auto& plan = *job_.plan;
    const std::size_t keep = static_cast<std::size_t>(std::clamp(job_.runWriters, 1, 256)) + 1;
    for (auto it = plan.rbegin(); it != plan.rend() && lastMade.size() < keep; ++it) {
      if (present_.count(it->relativePath) != 0) lastMade.insert(it->relativePath);
    }
    // Several writers by files number fill a folder each and each cut its own last file to the
    // room it saw: the last file present of every folder may be one of them.
    if (job_.runWriters > 1) {
      const auto folderOf = [](const std::string& path) {
        const auto cut = path.rfind('/');
        return cut == std::string::npos ? std::string() : path.substr(0, cut);
      };
      for (std::size_t i = 0; i < plan.size(); ++i) {
        const bool lastOfFolder = i + 1 == plan.size() || folderOf(plan[i + 1].relativePath) != folderOf(plan[i].relativePath);
        if (!lastOfFolder) continue;
        // Walk back to the folder's last file present.
        for (std::size_t k = i + 1; k-- > 0 && folderOf(plan[k].relativePath) == folderOf(plan[i].relativePath);) {
          if (present_.count(plan[k].relativePath) != 0) {
            lastMade.insert(plan[k].relativePath);
            break;
          }
        }
      }
    }
    // The room left where the run ended: what is free now, less the room files lost or resized since
    // have freed (each of them had its planned size then). The last files made, which the full
    // volume may have cut, and the files a writer was writing at the end are taken as found.
    std::int64_t freeAtEnd = freeNow_;
    if (freeAtEnd >= 0) {
      for (const auto& m : result_.missing) freeAtEnd -= roomTaken(plannedSizes_.at(m));
      for (const auto& f : files) {
        const auto planned = plannedSizes_.find(f.relative);
        if (planned == plannedSizes_.end() || lastMade.count(f.relative) != 0 || inFlight_.count(f.relative) != 0) {
          continue;
        }
        freeAtEnd -= roomTaken(planned->second) - roomTaken(lengths_.at(f.relative));
      }
    }
    bool added = false;
    for (const auto& f : files) {
      const auto planned = plannedSizes_.find(f.relative);
      const auto carried = carried_.find(f.relative);
      if (planned == plannedSizes_.end() || carried == carried_.end()) continue;
      if (carried->second == planned->second) continue;
      if (carried->second < planned->second && resizedSince_.count(f.relative) == 0 &&
          (mayBeCut_.count(f.relative) != 0 ||
           (lastMade.count(f.relative) != 0 && freeNow_ >= 0 &&
            freeAtEnd < planned->second - carried->second + cluster_) ||
           cutToTheRoomThenCut(f.relative, carried->second, freeAtEnd))) {
        continue;
      }
      ++result_.resizedFiles;
      if (const auto at = damagedAt.find(f.relative); at != damagedAt.end()) {
        result_.damaged[at->second].resizedFrom = planned->second;
        continue;
      }
      FileVerdict v;
      v.relativePath = f.relative;
      v.length = lengths_.at(f.relative);
      v.expect.size = carried->second;
      v.expect.sizeFromBlocks = true;
      v.resizedFrom = planned->second;
      result_.damaged.push_back(std::move(v));
      added = true;
    }
    if (!added) return;
    // Damaged files stay in walk order.
    std::unordered_map<std::string, std::size_t> walkAt;
    for (std::size_t i = 0; i < files.size(); ++i) walkAt.emplace(files[i].relative, i);
    std::stable_sort(result_.damaged.begin(), result_.damaged.end(), [&](const FileVerdict& a, const FileVerdict& b) {
      return walkAt.at(a.relativePath) < walkAt.at(b.relativePath);
    });
  }

  // A file the run was writing where the volume filled may also have been cut to the room its
  // writer saw when it began it: then its blocks carry that room, and the room it left at the end
  // is at most that room less what the file took since (other writers took the rest). The file
  // system's figure may run a cluster ahead of the files' room, and verify leaves one cluster for
  // what the file system needs besides. A whole file of another run in its place is not shorter
  // than its blocks say, so it is never taken for one of these.
  bool cutToTheRoomThenCut(const std::string& path, std::int64_t carried, std::int64_t freeAtEnd) const {
    if (inFlight_.count(path) == 0 || freeNow_ < 0) return false;
    const std::int64_t length = lengths_.at(path);
    return length < carried && freeAtEnd <= carried - roomTaken(length) + 2 * cluster_;
  }

  // One file in flight per writer, found walking back from the last planned file present; the
  // planned files from the first of them on are the unmade tail when the run evidently ended early.
  void markUnmadeTail(const std::vector<PlannedFile>& plan, std::vector<bool>& notMade) {
    std::int64_t lastPresent = -1;
    for (std::size_t i = 0; i < plan.size(); ++i) {
      if (present_.count(plan[i].relativePath) != 0) lastPresent = static_cast<std::int64_t>(i);
    }
    // Files are handed out in plan order and each writer has one in flight, so the files a run was
    // writing when it ended are the last file of each writer: found walking back from the last
    // planned file present, at most one per writer. The other writers may have finished files
    // after a writer's last one began (a larger file, or a writer the system ran less), so the
    // walk passes up to kLagFiles finished files per other writer; with one writer it is the last
    // file alone. A file handed out is always made, so an absent file on the way is one whose
    // creation met the full volume; but a file made and lost since left its room free, so one
    // whose room is free now is lost, not unmade.
    constexpr std::int64_t kLagFiles = 4;
    const std::int64_t writers = std::clamp(job_.runWriters, 1, 256);
    std::int64_t inFlightFrom = std::max<std::int64_t>(lastPresent, 0);
    std::int64_t lastTruncated = -1;
    std::int64_t passed = 0;
    std::vector<std::size_t> lostOnTheWay;
    for (std::int64_t i = lastPresent; i >= 0; --i) {
      const auto at = static_cast<std::size_t>(i);
      const auto found = present_.find(plan[at].relativePath);
      if (found == present_.end() || found->second != SizeState::Truncated) {
        if (++passed > (writers - 1) * kLagFiles) break;
        if (found == present_.end() && (freeNow_ < 0 || freeNow_ >= roomTaken(plan[at].size))) {
          lostOnTheWay.push_back(at);
        }
        inFlightFrom = i;
        continue;
      }
      inFlight_.insert(found->first);
      if (lastTruncated < 0) lastTruncated = i;
      inFlightFrom = i;
      if (static_cast<std::int64_t>(inFlight_.size()) >= writers) break;
    }
    // The room left where the run ended: what is free now, less the room of the files lost since.
    std::int64_t freeAtEnd = freeNow_;
    for (std::int64_t i = 0; freeAtEnd >= 0 && i < lastPresent; ++i) {
      const auto at = static_cast<std::size_t>(i);
      const bool lost = i < inFlightFrom || std::find(lostOnTheWay.begin(), lostOnTheWay.end(), at) != lostOnTheWay.end();
      if (lost && present_.count(plan[at].relativePath) == 0) freeAtEnd -= roomTaken(plan[at].size);
    }
    std::size_t tailFrom = plan.size();
    if (lastPresent + 1 < static_cast<std::int64_t>(plan.size())) {
      const std::size_t next = static_cast<std::size_t>(lastPresent + 1);
      const auto fits = [&](std::int64_t room) { return plan[next].size <= std::max<std::int64_t>(room, 0) - cluster_; };
      // A stop leaves room free, and a lost last file left its room free too: with room now for the
      // next planned file (or, where the run cut its last files to the room it saw, for a file of
      // that room), nothing tells the one from the other.
      const bool untold = freeNow_ < 0 || fits(freeAtEnd) || (plan[next].sizeMayBeCut && freeAtEnd > cluster_);
      const std::string untoldText = "; the volume has room for " + plan[next].relativePath +
                                     " now, so a file lost after the last one present can not be told from the unmade ones";
      if (lastTruncated >= 0) {
        tailFrom = static_cast<std::size_t>(inFlightFrom);
        result_.tailReason = "the run stopped while it wrote " + plan[static_cast<std::size_t>(lastTruncated)].relativePath;
        if (untold) result_.tailReason += untoldText;
      } else if (freeNow_ >= 0 && !fits(freeAtEnd)) {
        tailFrom = static_cast<std::size_t>(inFlightFrom);
        result_.tailReason = "the volume has no room for " + plan[next].relativePath;
        if (untold) result_.tailReason += " at its size" + untoldText;
      } else if (freeNow_ >= 0) {
        // The last files made that carry less than planned were cut to the room the run saw, or
        // resized since, which freed room the run did not leave: when only that room makes the
        // next planned file fit, they were resized and the run ended full.
        std::int64_t lighterRoom = 0;
        std::vector<std::string> lighter;
        const std::int64_t keep = writers + 1;
        std::int64_t seen = 0;
        for (std::int64_t i = lastPresent; i >= 0 && seen < keep; --i) {
          const std::string& path = plan[static_cast<std::size_t>(i)].relativePath;
          if (present_.count(path) == 0) continue;
          ++seen;
          const auto carried = carried_.find(path);
          const std::int64_t planned = plan[static_cast<std::size_t>(i)].size;
          if (carried == carried_.end() || carried->second >= planned) continue;
          lighterRoom += roomTaken(planned) - roomTaken(lengths_.at(path));
          lighter.push_back(path);
        }
        if (!lighter.empty() && !fits(freeAtEnd - lighterRoom)) {
          tailFrom = static_cast<std::size_t>(inFlightFrom);
          result_.tailReason = "the volume has no room for " + plan[next].relativePath;
          resizedSince_.insert(lighter.begin(), lighter.end());
        }
      }
    }
    for (std::size_t i = tailFrom; i < plan.size(); ++i) notMade[i] = true;
    for (std::size_t i : lostOnTheWay) notMade[i] = false;
  }

  VerifyJob& job_;
  FileSystem& fs_;
  VerifyResult& result_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::vector<Slot> slots_;
  std::int64_t freeNow_ = -1;
  std::int64_t bytesInTree_ = 0;
  std::vector<std::string> folders_;
  std::unordered_set<std::string> inFlight_;  // planned files present that a writer may have been writing at the end
  std::int64_t cluster_ = 4096;
  std::unordered_map<std::string, std::int64_t> plannedSizes_;
  std::unordered_map<std::string, std::int64_t> carried_;  // the size each file's blocks carry
  std::unordered_map<std::string, std::int64_t> lengths_;
  std::unordered_set<std::string> mayBeCut_;  // planned files the run may have cut to the room left
  std::unordered_set<std::string> resizedSince_;  // last files made that carry less: resized, not cut
  std::unordered_map<std::string, SizeState> present_;
};

}  // namespace

void runVerify(VerifyJob& job, FileSystem& fs, VerifyResult& result) {
  result = VerifyResult{};
  if (!fs.isFolder(withoutTrailingSeparator(job.rootFolder))) {
    result.rootMissing = true;
    result.rootError = "Root folder '" + withoutTrailingSeparator(job.rootFolder) + "' can not be read.";
  } else {
    Verifier(job, fs, result).run();
  }
  job.finished = true;
}

}  // namespace quillet
