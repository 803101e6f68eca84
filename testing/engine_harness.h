// Engine services for tests: a fixed clock and a presenter that records the failures the engine
// hands to its front-end. Thread-safe (the engine calls them from its worker thread).
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_services.h"
#include "engine/generation_job.h"
#include "engine/run_context.h"

namespace quillet::test_support {

class RecordingPresenter final : public FailurePresenter {
 public:
  void present(const RunFailure& failure) override {
    std::lock_guard lock(mutex_);
    shown_.push_back(failure);
  }
  void showNotice(const std::string& text) override {
    std::lock_guard lock(mutex_);
    notices_.push_back(text);
  }
  std::vector<RunFailure> shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  std::vector<std::string> notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<RunFailure> shown_;
  std::vector<std::string> notices_;
};

class FixedClock final : public Clock {
 public:
  LocalTime localTime() override { return {2026, 12, 7, 12, 0, 0}; }
  std::int64_t secondsSinceEpoch() override { return 1'700'000'000; }
};

// Services over a given file system, plus a job and a run context ready for a generation routine.
struct EngineHarness {
  explicit EngineHarness(FileSystem& fileSystem) : fs(fileSystem) {}
  FileSystem& fs;
  FixedClock clock;
  RecordingPresenter presenter;
  EngineServices services{fs, clock, presenter};
  GenerationJob job;
  RunContext ctx{job, services};
};

}  // namespace quillet::test_support
