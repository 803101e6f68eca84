// The worker thread of one run: the cluster-size query, then either generation by all size, or
// the tree make-up, the folder count and generation by files number; stores the run's result in
// the job and sets `finished` last, so that whoever sees the run finished reads how it ended.
//
// Threads: start() runs the procedure on a new thread. The job and the services must outlive the
// thread: front-ends call join() (or destroy the WorkerThread, which joins) before they reuse or
// destroy the job. join() and running() are for the thread that called start().
#pragma once

#include <atomic>
#include <system_error>
#include <thread>

#include "engine/engine_services.h"
#include "engine/generation_job.h"

namespace quillet {

// A run seed drawn from the clock's finest ticks, for a run not given one: two runs started within
// one second get different seeds.
std::uint64_t drawnRunSeed(Clock& clock);

// The thread procedure itself, on the caller's thread. Returns the run's result after storing it
// in job.result and setting job.finished.
GenerationResult runWorker(GenerationJob& job, const EngineServices& services);

class WorkerThread {
 public:
  WorkerThread(GenerationJob& job, EngineServices services) : job_(job), services_(services) {}
  ~WorkerThread() { join(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // A system that refuses the thread (a process or thread cap reached) gets the run all the same,
  // on the caller's thread: the display then sees it only once it has ended.
  void start() {
    try {
      thread_ = std::thread([this] { runWorker(job_, services_); });
    } catch (const std::system_error&) {
      runWorker(job_, services_);
    }
  }
  // Waits until the procedure has ended; returns at once when it was never started.
  void join() {
    if (thread_.joinable()) thread_.join();
  }
  bool started() const { return thread_.joinable(); }

 private:
  GenerationJob& job_;
  EngineServices services_;
  std::thread thread_;
};

}  // namespace quillet
