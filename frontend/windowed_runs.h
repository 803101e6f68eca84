// The jobs behind the main dialog's Generate: the job each Generate fills and its worker runs, and
// the last run that finished, whose result is the windowed program's exit code. A Generate that
// fills a job but starts no run (its root cannot be made) leaves that run's record as it was.
// UI thread only; the current job is shared with a worker during a run.
#pragma once

#include <memory>
#include <optional>

#include "engine/generation_job.h"
#include "frontend/run_preparation.h"

namespace quillet {

class WindowedRuns {
 public:
  WindowedRuns() : current(std::make_unique<GenerationJob>()) {}

  // The job the last Generate filled (a job of defaults before the first); a run's worker runs
  // it, and it stays the same job until the next prepare().
  GenerationJob& job() { return *current; }
  const GenerationJob& job() const { return *current; }

  // Fills the next run's job from the fields as prepareJob does, starting from what the current
  // job would keep if it were filled again (takeOverFrom). On Ready it becomes job(); on EmptyRoot
  // and RelativeRoot job() stays as it was. Not while a worker runs.
  PreparationOutcome prepare(SettingsValues& fields, FileSystem& fs);

  // How the last run that finished ended; empty while none has.
  std::optional<int> lastResult() const;

 private:
  std::unique_ptr<GenerationJob> current;
  // The job of the last run that finished, kept while current has been filled since and has not
  // finished a run of its own; null otherwise.
  std::unique_ptr<GenerationJob> lastFinished;
};

}  // namespace quillet
