// Engine services for tests: a fixed clock, a presenter and a log sink that record what the
// engine tells the user. Thread-safe (the engine calls them from its worker thread).
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_services.h"
#include "engine/generation_job.h"
#include "engine/run_context.h"

namespace quillet::testing {

class RecordingPresenter final : public FailurePresenter {
 public:
  void showError(Caption caption, const std::string& text) override {
    std::lock_guard lock(mutex_);
    shown_.emplace_back(caption, text);
  }
  void showNotice(const std::string& text) override {
    std::lock_guard lock(mutex_);
    notices_.push_back(text);
  }
  std::vector<std::pair<Caption, std::string>> shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
  }
  std::vector<std::string> notices() const {
    std::lock_guard lock(mutex_);
    return notices_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::pair<Caption, std::string>> shown_;
  std::vector<std::string> notices_;
};

class RecordingLog final : public LogSink {
 public:
  void writeLine(const std::string& text) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(text);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
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
  RecordingLog log;
  EngineServices services{fs, clock, presenter};
  GenerationJob job;
  RunContext ctx{job, services};

  // Script mode: failure texts go to `log`.
  void useScriptLog() {
    job.scriptMode = true;
    job.scriptLog = &log;
  }
};

}  // namespace quillet::testing
