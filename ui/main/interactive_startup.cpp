// The interactive start-up sequence with the Qt main dialog.
#include "ui/main/interactive_startup.h"

#include "frontend/interactive_startup.h"
#include "ui/help/splash_window.h"
#include "ui/main/main_dialog.h"
#include "ui/main/qt_error_presenter.h"

namespace quillet {

std::optional<int> runInteractive(bool& showSplash, const InteractiveServices& services) {
  std::optional<int> result;
  runInteractiveSequence(services.store, services.errorPresenter, showSplash, services.splash, [&] {
    MainDialog dialog(
        MainDialogServices{services.store, services.errorPresenter, services.fs, services.clock}, showSplash);
    dialog.exec();
    result = dialog.lastResult();
  });
  return result;
}

std::optional<int> runInteractive(bool& showSplash) {
  const std::unique_ptr<RegistryStore> store = makeUserRegistryStore();
  const std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  QtErrorPresenter presenter;
  return runInteractive(
      showSplash, InteractiveServices{*store, presenter, *fs, systemClock(), [] { runStartupSplash(); }});
}

}  // namespace quillet
