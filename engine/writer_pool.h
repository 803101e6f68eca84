// The writer pool: runs one task per writer thread and waits for all of them, and the shared end
// of a run several writers take part in. Plain C++; a front-end or a second console program may
// use it for any job whose work it can hand out itself.
//
// Threads: run() is called from one thread; the task runs on `writers` threads at once (on the
// caller's own when there is one writer). RunEnd is safe from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "engine/generation_job.h"

namespace quillet {

// The number of writers /threads:auto stands for: the cores the system reports (1 when it cannot
// tell), within 1..kMaxWriters.
int automaticWriterCount();

// Runs task(0) .. task(writers - 1), each on a thread of its own, and returns when every one has
// returned. One writer runs on the caller's thread, so that a one-writer run is the classic worker.
void runWriters(int writers, const std::function<void(int writer)>& task);

// How a run several writers take part in ends: the first writer to end with anything but Done
// decides the result; the others see ended() and stop taking new work. A stop and the job's own
// end (the size limit, the names or the folders used up) may race: the stop decides, whichever
// came first, since a writer notes it only when it saw the stop before its file was whole or
// before it took the next one, and the tree then is not what the job's own end leaves.
class RunEnd {
 public:
  void note(GenerationResult r) {
    if (r == GenerationResult::Done) return;
    std::lock_guard guard(lock_);
    if (!ended_.load(std::memory_order_relaxed)) {
      result_ = r;
      ended_.store(true, std::memory_order_release);
    } else if (r == GenerationResult::Stopped) {
      if (jobsOwnEnd(result_)) result_ = r;
    } else if (result_ == GenerationResult::Stopped && !jobsOwnEnd(r)) {
      // A writer that fails requests a stop before it returns, so the others may note their
      // Stopped first: the failure is the run's end, not the stop it caused.
      result_ = r;
    }
  }
  bool ended() const { return ended_.load(std::memory_order_acquire); }
  GenerationResult result() const {
    std::lock_guard guard(lock_);
    return ended_.load(std::memory_order_relaxed) ? result_ : GenerationResult::Done;
  }

 private:
  static bool jobsOwnEnd(GenerationResult r) {
    return r == GenerationResult::LimitSizeReached || r == GenerationResult::NamesUsedUp ||
           r == GenerationResult::FolderLimit;
  }
  mutable std::mutex lock_;
  std::atomic<bool> ended_{false};
  GenerationResult result_ = GenerationResult::Done;
};

}  // namespace quillet
