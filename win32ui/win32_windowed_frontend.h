// The windowed front-end of quillet.exe on Windows: a script run under its progress dialog, the
// scripts help window and the interactive mode, and whether windows can be shown at all. The
// program is a console program, so a script started from a console still prints there and returns
// its exit status; the help window and the interactive mode let go of a console that was opened
// for them alone. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "frontend/windowed_frontend.h"

namespace quillet::win32 {

// Whether a top-level window can be made at all (not in a Wine without an X server, nor in a
// service's session); probed once per process.
bool windowsCanBeShown();

class Win32WindowedFrontend final : public WindowedFrontend {
 public:
  bool windowsCanBeShown() override { return win32::windowsCanBeShown(); }
  int runScript(const std::string& mode, const std::vector<std::string>& args) override;
  int showScriptsHelp(const std::vector<std::string>& args) override;
  int runInteractive(const std::vector<std::string>& args) override;
};

}  // namespace quillet::win32
