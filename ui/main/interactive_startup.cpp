// The interactive start-up sequence with the Qt main dialog.
#include "ui/main/interactive_startup.h"

#include "frontend/interactive_startup.h"
#include "ui/help/splash_window.h"
#include "ui/main/main_dialog.h"
#include "ui/main/qt_error_presenter.h"

namespace quillet {

void runInteractive(std::atomic<int>& exitCode, bool& showSplash, const InteractiveServices& services) {
  runInteractiveSequence(services.store, services.errorPresenter, showSplash, services.splash, [&] {
    MainDialog dialog(MainDialogServices{services.store, services.errorPresenter, services.fs, services.clock},
                      showSplash, exitCode);
    dialog.exec();
  });
}

void runInteractive(std::atomic<int>& exitCode, bool& showSplash) {
  const std::unique_ptr<RegistryStore> store = makeUserRegistryStore();
  const std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  QtErrorPresenter presenter;
  runInteractive(exitCode, showSplash,
                 InteractiveServices{*store, presenter, *fs, systemClock(), [] { runStartupSplash(); }});
}

}  // namespace quillet
