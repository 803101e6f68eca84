// The windowed front-end with Qt: each mode builds its own QApplication for the length of the run
// (the console program pays nothing for Qt when it shows no window). Main thread only.
#pragma once

#include <string>
#include <vector>

#include "frontend/windowed_frontend.h"

namespace quillet {

class QtWindowedFrontend final : public WindowedFrontend {
 public:
  // True when a display answers (see ui/display_probe.h).
  bool windowsCanBeShown() override;
  int runScript(const std::string& mode, const std::vector<std::string>& args) override;
  int showScriptsHelp(const std::vector<std::string>& args) override;
  int runInteractive(const std::vector<std::string>& args) override;
};

}  // namespace quillet
