// What the engine is given by its front-end: the file system, the clock and the presenter of
// interactive failure texts. Only app/ and the front-ends build the real ones; tests pass fakes.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/system.h"

namespace quillet {

// Shows a failure text to the user and returns when it was dismissed (a message box in the
// windowed front-end). Called from the worker thread; implementations must be thread-safe and may
// block the caller.
class FailurePresenter {
 public:
  enum class Caption {
    Error,        // caption "Error", error icon, no owner window
    Application,  // the application title as caption, error icon
  };
  virtual ~FailurePresenter() = default;
  virtual void showError(Caption caption, const std::string& text) = 0;
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
