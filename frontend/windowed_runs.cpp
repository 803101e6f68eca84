// The main dialog's run jobs and the result of the last run that finished.
#include "frontend/windowed_runs.h"

namespace quillet {

PreparationOutcome WindowedRuns::prepare(SettingsValues& fields, FileSystem& fs) {
  auto next = std::make_unique<GenerationJob>();
  next->takeOverFrom(*current);
  const PreparationOutcome outcome = prepareJob(fields, *next, fs);
  if (outcome != PreparationOutcome::Ready) return outcome;
  if (current->snapshot().finished) lastFinished = std::move(current);
  current = std::move(next);
  return outcome;
}

std::optional<int> WindowedRuns::lastResult() const {
  for (const GenerationJob* job : {current.get(), lastFinished.get()}) {
    if (job == nullptr) continue;
    const ProgressSnapshot s = job->snapshot();
    if (s.finished) return toInt(s.result);
  }
  return std::nullopt;
}

}  // namespace quillet
