// One reader's pass over part of a file: read in chunks and every chunk checked by the thread that
// read it, while its bytes are still in that core's cache. A lone reader runs a few such workers
// over the chunks of one span, so that reading and checking use every core without handing bytes
// from one thread to another; the tallies are merged in file order, so the verdict is the one a
// single pass gives.
//
// Threads: checkSpan() returns once every worker it started has ended; the job's counters are
// added to under the span's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "engine/uncached_buffer.h"
#include "engine/verify_queue.h"

namespace quillet {

// What a reader reads into, one chunk-sized buffer per worker, and the helper threads its workers
// beyond the first run on: started at the first span that has work for them and kept, parked,
// until the reader is done, so that a tree of many files does not start threads file by file.
class SpanBuffers {
 public:
  explicit SpanBuffers(std::size_t workers);
  ~SpanBuffers();
  SpanBuffers(const SpanBuffers&) = delete;
  SpanBuffers& operator=(const SpanBuffers&) = delete;
  std::size_t workers() const { return buffers_.size(); }
  AlignedBuffer& operator[](std::size_t i) { return *buffers_[i]; }

  // Runs work(buffer) on the calling thread with the first buffer and on each helper with its
  // own; returns once the caller's call has returned and no helper is inside one.
  void runAll(const std::function<void(AlignedBuffer&)>& work);

 private:
  struct Crew;
  std::vector<std::unique_ptr<AlignedBuffer>> buffers_;
  std::unique_ptr<Crew> crew_;
};

// Workers a reader runs over a span: with several readers each checks what it reads on its own;
// a lone reader uses the cores, within reason.
std::size_t spanWorkers(int readers);

// Called with the first chunk of a check from a file's start, before any chunk is classified.
using SpanDecide = std::function<void(const std::uint8_t*, std::size_t)>;

// Reads and checks [begin, end) of an open file, chunk by chunk. With decide set (a check from the
// file's start), the first chunk is read on the calling thread and decide is called with it before
// anything is classified. A read that fails, or comes back short of a whole chunk, ends the span
// there, as in a single pass.
SpanCheck checkSpan(VerifyJob& job, ReadHandle& file, FileExpectation& expect, const SpanDecide* decide,
                    std::int64_t begin, std::int64_t end, SpanBuffers& buffers);

}  // namespace quillet
