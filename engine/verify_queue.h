// The ordered work queue of a verify: readers on the writer pool share the walk's files out in walk
// order, and the ranges of large files among them, and the verdicts come out in walk order, so the
// totals and the list of damaged files are those of one pass however many readers there are. One
// reader goes the same way, on the caller's thread.
//
// Threads: readInWalkOrder() runs the readers and returns once every one has; the FileChecks it
// calls are called from any reader, the ones marked so under the queue's lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/uncached_buffer.h"
#include "engine/verify.h"

namespace quillet {

// A file above kSplitAbove is split into ranges of kRangeBytes that readers share. A range of
// eight read chunks keeps the cost of sharing it (one more open, a turn of the lock) well below
// the cost of reading it even on the fastest drives, and a file is split only when it is more than
// two ranges long: files of a few chunks are shared out whole, as the tree's other files keep the
// readers busy.
inline constexpr std::int64_t kRangeBytes = 8 * static_cast<std::int64_t>(kUncachedReadChunk);
inline constexpr std::int64_t kSplitAbove = 2 * kRangeBytes;

// What one pass over part of a file found.
struct SpanCheck {
  FileTally tally;
  std::int64_t checkedTo = 0;  // the end of what was read and checked
  bool zero = true;            // every byte read was zero
  bool unreadable = false;
  std::string readError;
  bool stopped = false;
};

// A large file whose ranges several readers share: the reader that opened it checks its first
// range and publishes the rest; whoever checks a range hands its tally over, and the tallies are
// merged in offset order as they become ready, so the verdict is the one a single pass gives.
struct SharedFile {
  std::size_t index = 0;  // in walk order
  // Set before it is shared and never changed after, so readers take them without the lock.
  std::string relativePath;
  std::int64_t length = 0;  // as opened
  FileExpectation expect;
  // Under the queue's lock from here on: its tally grows and its length may shrink as ranges merge.
  FileVerdict verdict;
  std::unique_ptr<ReadHandle> handle;  // the opener's, for the allocation check at the end
  std::int64_t ranges = 0;
  std::int64_t nextToClaim = 1;
  std::int64_t nextToMerge = 0;
  std::map<std::int64_t, SpanCheck> ready;  // checked ranges waiting for an earlier one
  bool zeroSoFar = true;
  bool cut = false;  // a read failed or the file ended early: later ranges are not this file's
};

// What the queue asks of the verify.
class FileChecks {
 public:
  using Publish = std::function<void(const FileVerdict&)>;
  virtual ~FileChecks() = default;
  // Checks file `index` of the walk from its start. With publish given, a file above kSplitAbove
  // is checked only as far as its first range: publish receives its verdict so far (the
  // expectation set) once the first chunk told it, that range's check comes back in firstRange and
  // the open file in handle.
  virtual FileVerdict checkFile(std::size_t reader, std::size_t index, const Publish* publish,
                                SpanCheck& firstRange, std::unique_ptr<ReadHandle>& handle) = 0;
  // Checks [begin, end) of a shared file.
  virtual SpanCheck checkRange(std::size_t reader, const SharedFile& file, std::int64_t begin,
                               std::int64_t end) = 0;
  // Under the lock: a shared file's last range was merged.
  virtual void finishShared(SharedFile& file) = 0;
  // Under the lock: the next verdict in walk order.
  virtual void accept(FileVerdict&& verdict) = 0;
  // Under the lock: a reader finished a piece of work of `bytes` read, the last of a file or not.
  virtual void noteDone(std::size_t reader, std::int64_t bytes, bool fileDone) = 0;
};

// Checks files 0 .. files - 1 with `readers` readers (1..256) on the writer pool; reader r is
// numbered r in the calls. Readers run at most a window of files ahead of the oldest one not yet
// accepted, and a window of ranges ahead of the oldest range not yet merged, so memory stays flat.
// False when the stop flag was seen.
bool readInWalkOrder(std::size_t files, int readers, const std::atomic<bool>& stop, FileChecks& checks);

}  // namespace quillet
