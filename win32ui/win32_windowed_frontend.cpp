#include "win32ui/win32_windowed_frontend.h"

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <functional>
#include <memory>
#include <optional>

#include "frontend/interactive_startup.h"
#include "frontend/main_dialog_layout.h"
#include "frontend/progress_view.h"
#include "frontend/splash_sequence.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "script/script_run.h"
#include "settings/registry_store.h"
#include "win32ui/help_windows.h"
#include "win32ui/main_dialog.h"
#include "win32ui/message_boxes.h"
#include "win32ui/progress_dialog.h"

namespace quillet::win32 {

namespace {

// What every windowed mode needs first: the common controls (the progress bar class) and COM for
// the shell's folder picker.
struct WindowsSession {
  WindowsSession() {
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    comReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  }
  ~WindowsSession() {
    if (comReady) CoUninitialize();
  }
  WindowsSession(const WindowsSession&) = delete;
  WindowsSession& operator=(const WindowsSession&) = delete;
  bool comReady = false;
};

// A console window that exists only because this program was started outside a console (from the
// desktop) is of no use to a program that only shows windows: it is closed.
void releaseOwnConsole() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

// A script's progress in the dialog of its mode, without a parent window. A stop signal (Ctrl+C in
// the console) acts as the Stop button at the dialog's poll.
class DialogProgressDisplay final : public ProgressDisplay {
 public:
  explicit DialogProgressDisplay(FileSystem& fs) : fs_(fs) {}

  void show(GenerationJob& job) override {
    ProgressDialog dialog(fs_, progressKindFor(job));
    dialog.setJob(&job);
    dialog.setStopAsked(stopSignalArrived);
    dialog.run();
  }

  // A worker may still wait on a message box after a Stop closed the dialog; keep serving it.
  void waitForWorker(WorkerThread& worker, const GenerationJob& job) override {
    joinWorkerServingMessages(worker, job);
  }

 private:
  FileSystem& fs_;
};

}  // namespace

bool windowsCanBeShown() {
  // A hidden window is tried and destroyed at once.
  static const bool canShow = [] {
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    if (probe == nullptr) return false;
    DestroyWindow(probe);
    return true;
  }();
  return canShow;
}

int Win32WindowedFrontend::runScript(const std::string& mode, const std::vector<std::string>& args) {
  const WindowsSession session;
  auto fs = makeSystemFileSystem();
  Win32FailurePresenter presenter(kMainTitle);
  DialogProgressDisplay display(*fs);
  const ScriptRunServices services{*fs, systemClock(), &presenter, display, stopSignalArrived};
  return quillet::runScript(mode, args, services);
}

int Win32WindowedFrontend::showScriptsHelp(const std::vector<std::string>&) {
  releaseOwnConsole();
  const WindowsSession session;
  openOrActivateScriptsHelp(nullptr);
  return 0;
}

int Win32WindowedFrontend::runInteractive(const std::vector<std::string>&) {
  releaseOwnConsole();
  const WindowsSession session;
  const std::unique_ptr<RegistryStore> store = makeUserRegistryStore();
  const std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  Win32ErrorPresenter presenter;
  std::optional<int> result;
  bool showSplash = true;
  runInteractiveSequence(
      *store, presenter, showSplash,
      [] {
        SplashWindow splash;
        runSplashSequence(splash);
      },
      [&] {
        SettingsValues fields = loadMainDialogFields(*store, "");
        {
          MainDialog dialog(MainDialogServices{*store, *fs, systemClock()}, fields, showSplash);
          dialog.run();
          result = dialog.lastResult();
        }
        saveMainDialogFields(*store, fields, showSplash, presenter);
      });
  return result.value_or(0);
}

}  // namespace quillet::win32
