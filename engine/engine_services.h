// What the engine is given by its front-end: the file system, the clock and the presenter of the
// run's failures. Only app/ and the front-ends build the real ones; tests pass fakes.
#pragma once

#include <string>

#include "engine/run_failure.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace quillet {

// Tells the user of a failure and returns when that is done (a message box is dismissed, a log
// line written): the engine says what failed, the front-end chooses the words. Called from the
// worker thread; implementations must be thread-safe and may block the caller.
class FailurePresenter {
 public:
  virtual ~FailurePresenter() = default;
  virtual void present(const RunFailure& failure) = 0;
  // A failure the run goes on after, which neither a window nor the log shows (a tree level that
  // cannot be made): only a console prints it, on standard error. Ignored by default.
  virtual void showNotice(const std::string& text) { (void)text; }
};

struct EngineServices {
  FileSystem& fs;
  Clock& clock;
  FailurePresenter& presenter;
};

}  // namespace quillet
