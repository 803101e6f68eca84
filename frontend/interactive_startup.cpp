// The interactive mode's steps that need no window.
#include "frontend/interactive_startup.h"

#include "platform/path.h"
#include "settings/registry_access.h"
#include "settings/startup_registry.h"

namespace quillet {

bool startInteractiveSession(RegistryStore& store, ErrorPresenter& presenter) {
  RegistryAccess access(store);
  writeProductValues(access, presenter);
  ensureSettingsKey(access);
  const bool showSplash = loadShowSplash(access);
  access.closeKey();
  return showSplash;
}

void runInteractiveSequence(RegistryStore& store, ErrorPresenter& presenter, bool& showSplash,
                            const std::function<void()>& splash, const std::function<void()>& runDialog) {
  showSplash = startInteractiveSession(store, presenter);
  if (showSplash && splash) splash();
  runDialog();
}

SettingsValues loadMainDialogFields(RegistryStore& store, const std::string& homeFolder) {
  SettingsValues fields;
  {
    RegistryAccess access(store);
    loadSettings(access, fields);
  }
  fields.rootFolderText = displayedRootFolder(fields.rootFolderText, homeFolder);
  return fields;
}

void saveMainDialogFields(RegistryStore& store, const SettingsValues& fields, bool showSplash,
                          ErrorPresenter& presenter) {
  RegistryAccess access(store);
  saveSettings(access, fields, showSplash, presenter);
}

}  // namespace quillet
