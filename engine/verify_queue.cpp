#include "engine/verify_queue.h"

#include <algorithm>
#include <condition_variable>
#include <list>
#include <mutex>

#include "engine/writer_pool.h"

namespace quillet {
namespace {

class WalkOrderQueue {
 public:
  WalkOrderQueue(std::size_t files, int readers, const std::atomic<bool>& stop, FileChecks& checks)
      : files_(files),
        window_(static_cast<std::size_t>(readers) * 16),
        rangeWindow_(static_cast<std::int64_t>(readers) * 2),
        shareLargeFiles_(readers > 1),
        stop_(stop),
        checks_(checks) {}

  // One reader's loop. Whatever way it leaves, the others are woken: a reader waits only for work
  // another one holds, so a reader that stopped may be the one they wait for.
  void read(std::size_t reader) {
    takeWork(reader);
    std::lock_guard guard(lock_);
    changed_.notify_all();
  }

 private:
  void takeWork(std::size_t reader) {
    for (;;) {
      std::shared_ptr<SharedFile> file;
      std::int64_t range = -1;
      std::size_t index = 0;
      {
        std::unique_lock guard(lock_);
        for (;;) {
          if (stop_) return;
          for (const auto& f : shared_) {
            if (f->nextToClaim < f->ranges && f->nextToClaim < f->nextToMerge + rangeWindow_) {
              file = f;
              range = f->nextToClaim++;
              break;
            }
          }
          if (file) break;
          if (nextFile_ < files_ && nextFile_ < nextToAccept_ + window_) {
            index = nextFile_++;
            ++opening_;
            break;
          }
          // Nothing left to claim, and nothing that could still become claimable.
          bool rangesLeft = false;
          for (const auto& f : shared_) rangesLeft = rangesLeft || f->nextToClaim < f->ranges;
          if (nextFile_ >= files_ && opening_ == 0 && !rangesLeft) return;
          changed_.wait(guard);
        }
      }
      if (file ? !checkRange(reader, file, range) : !checkFile(reader, index)) return;
    }
  }

  // False when the check was stopped.
  bool checkRange(std::size_t reader, const std::shared_ptr<SharedFile>& file, std::int64_t range) {
    const std::int64_t begin = range * kRangeBytes;
    SpanCheck checked = checks_.checkRange(reader, *file, begin, std::min(file->length, begin + kRangeBytes));
    if (checked.stopped) return false;
    const std::int64_t bytes = checked.checkedTo - begin;
    std::lock_guard guard(lock_);
    merged(reader, file, range, std::move(checked), bytes);
    return true;
  }

  // A file of its own; a large one is shared once its first chunk told what it should hold.
  bool checkFile(std::size_t reader, std::size_t index) {
    std::shared_ptr<SharedFile> share;
    const FileChecks::Publish publish = [&](const FileVerdict& v) {
      share = std::make_shared<SharedFile>();
      share->index = index;
      share->relativePath = v.relativePath;
      share->length = v.length;
      share->expect = v.expect;
      share->verdict = v;
      share->ranges = (v.length + kRangeBytes - 1) / kRangeBytes;
      std::lock_guard guard(lock_);
      shared_.push_back(share);
      --opening_;
      changed_.notify_all();
    };
    SpanCheck first;
    std::unique_ptr<ReadHandle> handle;
    FileVerdict v = checks_.checkFile(reader, index, shareLargeFiles_ ? &publish : nullptr, first, handle);
    if (stop_ && !v.unreadable) return false;
    std::lock_guard guard(lock_);
    if (share) {
      // Whoever merges the last range checks the allocation through the opener's handle.
      share->handle = std::move(handle);
      const std::int64_t bytes = first.checkedTo;
      merged(reader, share, 0, std::move(first), bytes);
    } else {
      --opening_;
      checks_.noteDone(reader, v.length, true);
      deliver(index, std::move(v));
    }
    return true;
  }

  // Under the lock: a range of a shared file was checked.
  void merged(std::size_t reader, const std::shared_ptr<SharedFile>& file, std::int64_t range,
              SpanCheck&& checked, std::int64_t bytes) {
    const bool last = mergeRange(*file, range, std::move(checked));
    checks_.noteDone(reader, bytes, last);
    if (!last) return;
    checks_.finishShared(*file);
    shared_.remove(file);
    deliver(file->index, std::move(file->verdict));
  }

  // Under the lock: true when the file's last range was merged.
  bool mergeRange(SharedFile& f, std::int64_t range, SpanCheck&& checked) {
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
    changed_.notify_all();
    return f.nextToMerge == f.ranges;
  }

  // Under the lock: verdicts are accepted in walk order as the earlier ones arrive.
  void deliver(std::size_t index, FileVerdict&& v) {
    waiting_.emplace(index, std::move(v));
    for (auto it = waiting_.find(nextToAccept_); it != waiting_.end(); it = waiting_.find(nextToAccept_)) {
      checks_.accept(std::move(it->second));
      waiting_.erase(it);
      ++nextToAccept_;
    }
    changed_.notify_all();
  }

  const std::size_t files_;
  const std::size_t window_;
  const std::int64_t rangeWindow_;
  // With one reader nobody would take a large file's other ranges: it is read in one pass.
  const bool shareLargeFiles_;
  const std::atomic<bool>& stop_;
  FileChecks& checks_;

  std::mutex lock_;
  std::condition_variable changed_;
  // Under lock_:
  std::size_t nextFile_ = 0;
  std::size_t opening_ = 0;  // files claimed whose first chunk is still being read
  std::list<std::shared_ptr<SharedFile>> shared_;
  std::map<std::size_t, FileVerdict> waiting_;
  std::size_t nextToAccept_ = 0;
};

}  // namespace

bool readInWalkOrder(std::size_t files, int readers, const std::atomic<bool>& stop, FileChecks& checks) {
  readers = std::clamp(readers, 1, 256);
  WalkOrderQueue queue(files, readers, stop, checks);
  runWriters(readers, [&](int reader) { queue.read(static_cast<std::size_t>(reader)); });
  return !stop;
}

}  // namespace quillet
