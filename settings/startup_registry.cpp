// Start-up writes of the product key and the settings key.
#include "settings/startup_registry.h"

#include "settings/settings_values.h"

namespace quillet {

void writeProductValues(RegistryAccess& access, ErrorPresenter& presenter) {
  try {
    access.writeString(productKeyPath, "Product Name", kProductName);
    access.writeString(productKeyPath, "Product Version", kProductVersion);
  } catch (const CErrException& error) {
    reportRegistryError(error, presenter);
  }
}

bool ensureSettingsKey(RegistryAccess& access) {
  try {
    access.keyExists(settingsKeyPath);
    return true;
  } catch (const CErrException&) {
  }
  try {
    access.createKey(settingsKeyPath);
    access.closeKey();
    return true;
  } catch (const CErrException&) {
    // Nothing to add for the user: a store that cannot be written was reported with the product
    // values, and every setting still loads as its default.
    return false;
  }
}

}  // namespace quillet
