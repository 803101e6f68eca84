// Shows a settings-store failure in a message box without owner window: OK only, error icon.
// UI thread only.
#pragma once

#include "settings/registry_error_report.h"

namespace quillet {

class QtErrorPresenter : public ErrorPresenter {
 public:
  // Blocks in the box's own loop until the user dismisses it.
  void show(const std::string& caption, const std::string& text) override;
};

}  // namespace quillet
