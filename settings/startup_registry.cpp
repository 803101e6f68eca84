// Start-up writes of the product key and the settings key.
#include "settings/startup_registry.h"

#include "settings/settings_values.h"

namespace quillet {

void writeProductValues(RegistryAccess& access, ErrorPresenter& presenter) {
  RegistryPass pass(access);
  try {
    access.writeString(productKeyPath, "Product Name", kProductName);
    access.writeString(productKeyPath, "Product Version", kProductVersion);
    access.closeKey();
    pass.end();
  } catch (const CErrException& error) {
    // A failed final write loses "Product Name" first: it is the one reported.
    reportRegistryError(error.name.empty()
                            ? CErrException(errSetValue, "Product Name", error.systemError, error.detail)
                            : error,
                        presenter);
  }
}

bool ensureSettingsKey(RegistryAccess& access) {
  RegistryPass pass(access);
  try {
    access.keyExists(settingsKeyPath);
    return true;
  } catch (const CErrException&) {
  }
  try {
    access.createKey(settingsKeyPath);
    access.closeKey();
    pass.end();
    return true;
  } catch (const CErrException&) {
    // Nothing to add for the user: a store that cannot be written was reported with the product
    // values, and every setting still loads as its default.
    return false;
  }
}

}  // namespace quillet
