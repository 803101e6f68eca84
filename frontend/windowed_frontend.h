// The front-end that shows windows: a script run under its progress dialog, the scripts help
// window and the interactive mode. Each windowing toolkit implements it in its own area; the
// program's entry point picks the one its build has and hands it its inputs. Main thread only.
#pragma once

#include <string>
#include <vector>

namespace quillet {

class WindowedFrontend {
 public:
  virtual ~WindowedFrontend() = default;

  // Whether windows can be shown at all; asked before any window is made.
  virtual bool windowsCanBeShown() = 0;

  // A script run (mode "/S", "/F", "/V", ...; args the whole argument vector) under its progress
  // dialog. Returns the run's exit status.
  virtual int runScript(const std::string& mode, const std::vector<std::string>& args) = 0;

  // "/?" alone: the scripts help window, or the one already open brought forward. Returns the exit
  // status (0).
  virtual int showScriptsHelp(const std::vector<std::string>& args) = 0;

  // No arguments: the splash (when the stored setting asks for it) and the main dialog until the
  // user closes it. Returns the result of the last run finished in the dialog, 0 when none was.
  virtual int runInteractive(const std::vector<std::string>& args) = 0;

 protected:
  WindowedFrontend() = default;
  WindowedFrontend(const WindowedFrontend&) = default;
  WindowedFrontend& operator=(const WindowedFrontend&) = default;
};

}  // namespace quillet
