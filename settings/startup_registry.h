// What the interactive start-up records in the per-user registry before the main dialog opens: the
// product values and the settings key. Not thread-safe: main thread only.
#pragma once

#include "quillet_version.h"
#include "settings/registry_access.h"
#include "settings/registry_error_report.h"

namespace quillet {

inline constexpr const char* kProductName = "Talvane Quillet";
inline constexpr const char* kProductVersion = QUILLET_PRODUCT_VERSION;

// Writes "Product Name" and then "Product Version" under productKeyPath. A failure is shown through
// the presenter and the remaining value is skipped; start-up goes on either way.
void writeProductValues(RegistryAccess& access, ErrorPresenter& presenter);

// Makes sure settingsKeyPath exists, creating it when missing. Returns false when it neither exists
// nor can be created (the values then load as defaults); never throws CErrException.
bool ensureSettingsKey(RegistryAccess& access);

}  // namespace quillet
