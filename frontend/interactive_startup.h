// The interactive mode's steps around the main dialog that need no window: product values and the
// settings key recorded in the per-user store, the "Show splash" flag, the splash when it is on,
// then the dialog; and the dialog's fields loaded from the store when it is made and saved when it
// is destroyed. Main (UI) thread.
#pragma once

#include <functional>
#include <string>

#include "settings/registry_error_report.h"
#include "settings/registry_store.h"
#include "settings/settings_values.h"

namespace quillet {

// Records the product values and makes sure the settings key exists (failures through presenter;
// start-up goes on), then returns the stored "Show splash" flag.
bool startInteractiveSession(RegistryStore& store, ErrorPresenter& presenter);

// The whole sequence: start-up, splash (only when "Show splash" is on and splash is set), then
// runDialog, which returns once the main dialog has been closed and destroyed. showSplash receives
// the stored flag before the splash; the dialog may change it.
void runInteractiveSequence(RegistryStore& store, ErrorPresenter& presenter, bool& showSplash,
                            const std::function<void()>& splash, const std::function<void()>& runDialog);

// The main dialog's fields as loaded from the store, with the root folder shown as the user sees it
// (homeFolder stands in for a stored empty root).
SettingsValues loadMainDialogFields(RegistryStore& store, const std::string& homeFolder);

// Saves every field and the splash flag (each failure through presenter).
void saveMainDialogFields(RegistryStore& store, const SettingsValues& fields, bool showSplash,
                          ErrorPresenter& presenter);

}  // namespace quillet
