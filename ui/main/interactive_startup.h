// The interactive mode from start to end with the Qt windows: the start-up steps of frontend/
// (product values, settings key, "Show splash"), the splash sequence when it is on, then the main
// dialog modally until the user closes it (its destruction saves the settings). Main (UI) thread;
// needs a QApplication.
#pragma once

#include <functional>
#include <optional>

#include "platform/file_system.h"
#include "platform/system.h"
#include "settings/registry_error_report.h"
#include "settings/registry_store.h"

namespace quillet {

class MainDialog;

struct InteractiveServices {
  RegistryStore& store;
  ErrorPresenter& errorPresenter;  // registry failures of the start-up and of the settings save
  FileSystem& fs;
  Clock& clock;
  // The start-up splash sequence; run only when "Show splash" is on. Empty: no splash.
  std::function<void()> splash;
};

// Runs the sequence with the given services. showSplash receives the stored flag (and the user's
// change of it in the dialog). Returns, once the main dialog has been closed and destroyed, the
// result of the last run finished meanwhile, or empty when none finished.
std::optional<int> runInteractive(bool& showSplash, const InteractiveServices& services);

// The same with the real services: the current user's store, message boxes, the system's file
// system and clock, and the splash sequence of the help windows.
std::optional<int> runInteractive(bool& showSplash);

}  // namespace quillet
