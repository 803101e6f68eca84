// The interactive start-up sequence.
#include "ui/main/interactive_startup.h"

#include "settings/registry_access.h"
#include "settings/settings_values.h"
#include "settings/startup_registry.h"
#include "ui/help/splash_sequence.h"
#include "ui/main/main_dialog.h"
#include "ui/main/qt_error_presenter.h"

namespace quillet {

void runInteractive(std::atomic<int>& exitCode, bool& showSplash, const InteractiveServices& services) {
  RegistryAccess access(services.store);
  writeProductValues(access, services.errorPresenter);
  ensureSettingsKey(access);
  showSplash = loadShowSplash(access);
  access.closeKey();
  if (showSplash && services.splash) services.splash();
  MainDialog dialog(MainDialogServices{services.store, services.errorPresenter, services.fs, services.clock},
                    showSplash, exitCode);
  dialog.exec();
}

void runInteractive(std::atomic<int>& exitCode, bool& showSplash) {
  const std::unique_ptr<RegistryStore> store = makeUserRegistryStore();
  const std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  QtErrorPresenter presenter;
  runInteractive(exitCode, showSplash,
                 InteractiveServices{*store, presenter, *fs, systemClock(), [] { runStartupSplash(); }});
}

}  // namespace quillet
