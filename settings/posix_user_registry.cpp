// The current user's store on POSIX: registry.json in the per-user configuration folder.
#include "platform/system.h"
#include "settings/json_registry_store.h"

namespace quillet {

std::unique_ptr<RegistryStore> makeUserRegistryStore() {
  return std::make_unique<JsonRegistryStore>(userConfigFolder());
}

}  // namespace quillet
