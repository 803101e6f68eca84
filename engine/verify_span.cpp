#include "engine/verify_span.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

namespace quillet {
namespace {

constexpr std::int64_t kChunk = static_cast<std::int64_t>(kUncachedReadChunk);

// What reading and checking one chunk came to.
struct ChunkOutcome {
  FileTally tally;
  std::size_t size = 0;  // bytes of the span it holds
  bool zero = true;      // every byte of it was zero
  bool failed = false;
  std::string readError;
  bool last = false;  // the span ends with it: a read that failed or came back short, or the end
};

class SpanRun {
 public:
  SpanRun(VerifyJob& job, ReadHandle& file, std::int64_t begin, std::int64_t end, std::size_t workers)
      : job_(job), file_(file), begin_(begin), end_(end), window_(static_cast<std::int64_t>(workers) * 4) {
    out_.checkedTo = begin;
    // With a decide step the first chunk is read even for an empty span: it tells an empty file.
    endChunk_ = std::max<std::int64_t>(1, (end - begin + kChunk - 1) / kChunk);
  }

  // The first chunk, on the calling thread, before any worker starts: the expectation may come
  // from it, and a file that refuses uncached reads is switched to cached ones by its first read
  // alone.
  void first(AlignedBuffer& buffer, const FileExpectation& expect, const SpanDecide* decide) {
    nextChunk_ = 1;
    if (decide == nullptr && begin_ >= end_) {
      endChunk_ = 0;
      return;
    }
    if (job_.stopRequested) {
      stopped_ = true;
      return;
    }
    ChunkOutcome o = readChunk(0, buffer, true, expect, decide);
    std::lock_guard guard(lock_);
    deliver(0, std::move(o));
  }

  // Whether chunks are left for workers to claim.
  bool more() {
    std::lock_guard guard(lock_);
    return !stopped_ && nextChunk_ < endChunk_;
  }

  // One worker's loop: claim the next chunk, read it, check it, hand its outcome over. A worker
  // waits only when it ran a window of chunks ahead of the oldest one not yet merged.
  void work(AlignedBuffer& buffer, const FileExpectation& expect) {
    bool wantZero = true;  // this worker's earlier chunks, all before the next one, were zeros
    for (;;) {
      std::int64_t k = 0;
      {
        std::unique_lock guard(lock_);
        room_.wait(guard, [&] {
          return stopped_ || nextChunk_ >= endChunk_ || nextChunk_ < nextToMerge_ + window_;
        });
        if (stopped_ || nextChunk_ >= endChunk_) return;
        k = nextChunk_++;
        if (job_.stopRequested) {
          stopped_ = true;
          room_.notify_all();
          return;
        }
      }
      ChunkOutcome o = readChunk(k, buffer, wantZero, expect, nullptr);
      wantZero = wantZero && o.zero;
      std::lock_guard guard(lock_);
      deliver(k, std::move(o));
    }
  }

  SpanCheck finish() {
    std::lock_guard guard(lock_);
    out_.stopped = stopped_;
    return std::move(out_);
  }

 private:
  ChunkOutcome readChunk(std::int64_t k, AlignedBuffer& buffer, bool wantZero, const FileExpectation& expect,
                         const SpanDecide* decide) {
    ChunkOutcome o;
    const std::int64_t offset = begin_ + k * kChunk;
    const auto got = file_.read(offset, buffer.data, buffer.size);
    if (!got.ok()) {
      o.failed = true;
      o.readError = got.status().message();
      o.last = true;
      return o;
    }
    // Bytes past the end asked for (a file that grew since it was opened) are not this check's.
    o.size = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(got.value()), end_ - offset));
    if (decide != nullptr) (*decide)(buffer.data, o.size);
    o.last = got.value() < buffer.size || offset + static_cast<std::int64_t>(o.size) >= end_;
    if (o.size == 0) return o;
    o.zero = wantZero && allZeroBytes(buffer.data, o.size);
    classifyRange(expect, offset, buffer.data, o.size, o.tally);
    return o;
  }

  // Under the lock: chunk k was read and checked; the chunks ready in file order are merged, up to
  // the one that ends the span.
  void deliver(std::int64_t k, ChunkOutcome&& o) {
    // A chunk read past the one that ended the span is not the span's.
    if (ended_) return;
    // A chunk that ends the span spares the workers reading past it.
    if (o.last) endChunk_ = std::min(endChunk_, k + 1);
    ready_.emplace(k, std::move(o));
    for (auto it = ready_.find(nextToMerge_); it != ready_.end(); it = ready_.find(nextToMerge_)) {
      ChunkOutcome& r = it->second;
      if (r.failed) {
        out_.unreadable = true;
        out_.readError = std::move(r.readError);
      } else if (r.size > 0) {
        out_.tally.merge(r.tally);
        out_.zero = out_.zero && r.zero;
        out_.checkedTo += static_cast<std::int64_t>(r.size);
        job_.damagedBytes.fetch_add(r.tally.damagedBytes(), std::memory_order_relaxed);
        job_.bytesChecked.fetch_add(static_cast<std::int64_t>(r.size), std::memory_order_relaxed);
      }
      const bool last = r.last;
      ready_.erase(it);
      ++nextToMerge_;
      if (last) {
        ended_ = true;
        endChunk_ = std::min(endChunk_, nextToMerge_);
        ready_.clear();
        break;
      }
    }
    room_.notify_all();
  }

  VerifyJob& job_;
  ReadHandle& file_;
  const std::int64_t begin_;
  const std::int64_t end_;
  const std::int64_t window_;

  std::mutex lock_;
  std::condition_variable room_;
  // Under lock_:
  std::int64_t nextChunk_ = 0;
  std::int64_t endChunk_ = 0;  // chunks from here on are not claimed
  std::int64_t nextToMerge_ = 0;
  std::map<std::int64_t, ChunkOutcome> ready_;  // checked chunks waiting for an earlier one
  bool ended_ = false;                          // the chunk that ends the span was merged
  bool stopped_ = false;
  SpanCheck out_;
};

}  // namespace

struct SpanBuffers::Crew {
  std::mutex lock;
  std::condition_variable changed;
  // Under lock:
  const std::function<void(AlignedBuffer&)>* work = nullptr;  // the span's, while it runs
  std::uint64_t span = 0;                                     // counts the spans handed out
  std::size_t inside = 0;                                     // helpers inside work
  bool quit = false;
  std::vector<std::thread> threads;

  void help(AlignedBuffer& buffer) {
    std::uint64_t seen = 0;
    std::unique_lock guard(lock);
    for (;;) {
      changed.wait(guard, [&] { return quit || (work != nullptr && span != seen); });
      if (quit) return;
      seen = span;
      const auto* current = work;
      ++inside;
      guard.unlock();
      (*current)(buffer);
      guard.lock();
      --inside;
      changed.notify_all();
    }
  }
};

SpanBuffers::SpanBuffers(std::size_t workers) {
  for (std::size_t i = 0; i < std::max<std::size_t>(1, workers); ++i)
    buffers_.push_back(std::make_unique<AlignedBuffer>(kUncachedReadChunk));
}

SpanBuffers::~SpanBuffers() {
  if (!crew_) return;
  {
    std::lock_guard guard(crew_->lock);
    crew_->quit = true;
  }
  crew_->changed.notify_all();
  for (auto& t : crew_->threads) t.join();
}

void SpanBuffers::runAll(const std::function<void(AlignedBuffer&)>& work) {
  if (buffers_.size() > 1 && !crew_) {
    crew_ = std::make_unique<Crew>();
    for (std::size_t w = 1; w < buffers_.size(); ++w) {
      try {
        crew_->threads.emplace_back(
            [crew = crew_.get(), buffer = buffers_[w].get()] { crew->help(*buffer); });
      } catch (const std::system_error&) {
        break;  // a system short of threads: the workers there are do it all
      }
    }
  }
  if (crew_) {
    std::lock_guard guard(crew_->lock);
    crew_->work = &work;
    ++crew_->span;
  }
  if (crew_) crew_->changed.notify_all();
  work(*buffers_[0]);
  if (!crew_) return;
  // A helper that never got to this span is not waited for; one inside it is.
  std::unique_lock guard(crew_->lock);
  crew_->work = nullptr;
  crew_->changed.wait(guard, [&] { return crew_->inside == 0; });
}

std::size_t spanWorkers(int readers) {
  if (readers > 1) return 1;
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<std::size_t>(cores, 1, 4);
}

SpanCheck checkSpan(VerifyJob& job, ReadHandle& file, FileExpectation& expect, const SpanDecide* decide,
                    std::int64_t begin, std::int64_t end, SpanBuffers& buffers) {
  SpanRun run(job, file, begin, end, buffers.workers());
  run.first(buffers[0], expect, decide);
  if (run.more()) {
    // Every worker checks against the same expectation, set before they start.
    const FileExpectation settled = expect;
    buffers.runAll([&](AlignedBuffer& buffer) { run.work(buffer, settled); });
  }
  return run.finish();
}

}  // namespace quillet
