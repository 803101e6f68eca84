// The verify's check: runs the walk, reads every file through the ordered work queue and classifies
// its blocks, then applies the rules of a run's end.
#include "engine/verify.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "engine/uncached_buffer.h"
#include "engine/verify_end_rules.h"
#include "engine/verify_queue.h"
#include "engine/verify_span.h"
#include "engine/verify_walk.h"
#include "platform/path.h"

namespace quillet {
namespace {

void countMethod(ReadMethods& methods, UncachedRead method) {
  switch (method) {
    case UncachedRead::Direct: ++methods.direct; break;
    case UncachedRead::Dropped: ++methods.dropped; break;
    case UncachedRead::Cached: ++methods.cached; break;
  }
}

// What each reader has of its own.
struct ReaderState {
  explicit ReaderState(int readers) : buffers(std::make_unique<SpanBuffers>(spanWorkers(readers))) {}
  std::unique_ptr<SpanBuffers> buffers;
  ReadMethods methods;
};

class Verifier : public FileChecks {
 public:
  Verifier(VerifyJob& job, FileSystem& fs, VerifyResult& result) : job_(job), fs_(fs), result_(result) {}

  void run() {
    WalkedTree tree = walkTree(fs_, job_);
    files_ = std::move(tree.files);
    folders_ = std::move(tree.folders);
    result_.listingErrors = std::move(tree.listingErrors);
    result_.notRegular = std::move(tree.notRegular);
    if (job_.stopRequested) return stop();
    if (const auto space = fs_.volumeSpace(withoutTrailingSeparator(job_.rootFolder)); space.ok()) {
      result_.volumeTotalBytes = space.value().total;
      seen_.freeNow = space.value().availableToCaller;
    }
    if (const auto cluster = fs_.clusterSize(withoutTrailingSeparator(job_.rootFolder)); cluster.ok()) {
      seen_.cluster = cluster.value();
    }
    if (job_.plan) {
      for (const auto& p : *job_.plan) seen_.notePlanned(p);
    }
    if (job_.seed) {
      result_.seed = *job_.seed;
      result_.seedSource = SeedSource::Given;
    } else if (const auto seed = voteSeed(fs_, job_, files_)) {
      // Without a given seed, the seed most files' first blocks carry is the run's.
      result_.seed = *seed;
      result_.seedSource = SeedSource::FromData;
    }
    if (job_.stopRequested) return stop();
    const bool parametersTell = job_.plan.has_value() || job_.allocationOnlyKnown;
    allocationOnlyRun_ = parametersTell ? job_.planAllocationOnly : result_.seedSource == SeedSource::None;
    sizeOnly_ = allocationOnlyRun_ && parametersTell;

    const int readers = std::clamp(job_.readers, 1, 256);
    result_.readerTimes.assign(static_cast<std::size_t>(readers), ReaderTimes{});
    readers_.reserve(static_cast<std::size_t>(readers));
    for (int r = 0; r < readers; ++r) readers_.emplace_back(readers);
    const bool whole = readInWalkOrder(files_.size(), readers, job_.stopRequested, *this);
    for (const auto& r : readers_) {
      result_.methods.direct += r.methods.direct;
      result_.methods.dropped += r.methods.dropped;
      result_.methods.cached += r.methods.cached;
    }
    if (!whole) return stop();

    if (!job_.plan && job_.planner) {
      job_.plan = job_.planner(bytesInTree_, folders_);
      if (job_.plan) {
        for (const auto& p : *job_.plan) seen_.notePlanned(p);
      }
    }
    EndRules rules(job_, seen_, result_);
    rules.allowPlannedEmptyFiles();
    if (job_.plan) rules.comparePlan(files_);
    rules.allowCutShortFiles();
  }

 private:
  void stop() { result_.stopped = true; }

  void noteDone(std::size_t reader, std::int64_t bytes, bool fileDone) override {
    ReaderTimes& times = result_.readerTimes[reader];
    const double at = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    if (times.firstDone < 0) times.firstDone = at;
    times.lastDone = at;
    times.bytes += bytes;
    if (fileDone) ++times.files;
  }

  // The contract is FileChecks'; a file is split only when publish is given.
  FileVerdict checkFile(std::size_t reader, std::size_t index, const Publish* publish, SpanCheck& firstRange,
                        std::unique_ptr<ReadHandle>& handleOut) override {
    const std::string& relative = files_[index].relative;
    SpanBuffers& buffers = *readers_[reader].buffers;
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
    countMethod(readers_[reader].methods, file.method());
    v.length = file.size();
    const auto planned = seen_.plannedSizes.find(relative);
    if (sizeOnly_) {
      v.allocationOnly = true;
      v.allZero = true;
      v.expect.size = planned != seen_.plannedSizes.end() ? planned->second : v.length;
      v.expect.sizeFromBlocks = planned != seen_.plannedSizes.end();
      finishSize(v);
      reserveCheck(v, file);
      job_.filesChecked.fetch_add(1, std::memory_order_relaxed);
      return v;
    }
    v.expect.size = v.length;
    const bool split = publish != nullptr && v.length > kSplitAbove;
    const SpanDecide decide = [&](const std::uint8_t* data, std::size_t size) {
      v.expect = expectFromStart(result_.seed, v.expect.fileId, v.length, data, size);
      // The plan knows the size when the file's own blocks do not tell it.
      if (!v.expect.sizeFromBlocks && planned != seen_.plannedSizes.end()) {
        v.expect.size = planned->second;
        v.expect.sizeFromBlocks = true;
      }
    };
    SpanCheck checked;
    if (split) {
      // The other ranges are published as soon as the expectation is known, so other readers
      // start on them while this one checks the first.
      bool published = false;
      const SpanDecide decideAndPublish = [&](const std::uint8_t* data, std::size_t size) {
        decide(data, size);
        (*publish)(v);
        published = true;
      };
      checked =
          checkSpan(job_, file, v.expect, &decideAndPublish, 0, std::min(v.length, kRangeBytes), buffers);
      if (published) {
        firstRange = std::move(checked);
        handleOut = std::move(handle);
        return v;
      }
      // Its first read failed: nothing was shared, and the file ends here as any other would.
    } else {
      checked = checkSpan(job_, file, v.expect, &decide, 0, v.length, buffers);
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

  SpanCheck checkRange(std::size_t reader, const SharedFile& file, std::int64_t begin,
                       std::int64_t end) override {
    SpanCheck checked;
    auto opened = fs_.openForCheck(job_.rootFolder, systemRelative(file.relativePath));
    if (!opened.ok()) {
      checked.checkedTo = begin;
      checked.unreadable = true;
      checked.readError = opened.status().message();
      return checked;
    }
    FileExpectation expect = file.expect;
    return checkSpan(job_, *opened.value(), expect, nullptr, begin, end, *readers_[reader].buffers);
  }

  // The end of a shared file's check, once its last range was merged; as checkFile ends a file.
  void finishShared(SharedFile& f) override {
    FileVerdict& v = f.verdict;
    v.allZero = f.zeroSoFar && v.length > 0;
    finishSize(v);
    if (v.length == 0 && !v.unreadable) v.sizeState = SizeState::Truncated;
    if (v.allZero && f.handle) reserveCheck(v, *f.handle);
    f.handle.reset();
    job_.filesChecked.fetch_add(1, std::memory_order_relaxed);
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
    const std::int64_t wanted = v.length - seen_.cluster;
    if (allocated < wanted) v.unreservedBytes = v.length - allocated;
  }

  void accept(FileVerdict&& v) override {
    bytesInTree_ += seen_.roomTaken(v.length);
    ++result_.files;
    // A file that reads back as zeros throughout is allocation-only when the run only allocated;
    // in a filled run it is a filled file that was zeroed.
    if (v.allZero && allocationOnlyRun_) {
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
    seen_.present.emplace(v.relativePath, v.sizeState);
    if (v.expect.sizeFromBlocks && !v.allocationOnly) seen_.carried.emplace(v.relativePath, v.expect.size);
    seen_.lengths.emplace(v.relativePath, v.length);
    if (v.damaged()) result_.damaged.push_back(std::move(v));
  }

  VerifyJob& job_;
  FileSystem& fs_;
  VerifyResult& result_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::vector<FoundFile> files_;
  std::vector<std::string> folders_;
  std::vector<ReaderState> readers_;
  bool allocationOnlyRun_ = false;
  bool sizeOnly_ = false;
  // Written by accept(), under the queue's lock, and read once the readers are done.
  std::int64_t bytesInTree_ = 0;
  TreeFindings seen_;
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
