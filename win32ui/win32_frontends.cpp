// The windowed front-ends of quillet.exe on Windows: a script run under its progress dialog, the
// scripts help window and the interactive mode, and whether windows can be shown at all. The
// program is a console program, so a script started from a console still prints there and returns
// its exit status; the interactive mode lets go of a console that was opened for it alone.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <functional>
#include <memory>

#include "app/generator_app.h"
#include "app/windowed_frontends.h"
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

namespace quillet {

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
    win32::ProgressDialog dialog(fs_, progressKindFor(job));
    dialog.setJob(&job);
    dialog.setStopAsked(stopSignalArrived);
    dialog.run();
  }

  // A worker may still wait on a message box after a Stop closed the dialog; keep serving it.
  void waitForWorker(WorkerThread& worker, const GenerationJob& job) override {
    win32::joinWorkerServingMessages(worker, job);
  }

 private:
  FileSystem& fs_;
};

}  // namespace

bool windowsCanBeShown() {
  // Without a display (a Wine without an X server, a service's session) no top-level window can
  // be made; a hidden one is tried and destroyed at once.
  static const bool canShow = [] {
    HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleA(nullptr),
                                 nullptr);
    if (probe == nullptr) return false;
    DestroyWindow(probe);
    return true;
  }();
  return canShow;
}

void runWindowedScript(GeneratorApp& app, const std::string& mode, const std::vector<std::string>& args) {
  const WindowsSession session;
  auto fs = makeSystemFileSystem();
  win32::Win32FailurePresenter presenter(kMainTitle);
  DialogProgressDisplay display(*fs);
  const ScriptRunServices services{*fs, systemClock(), &presenter, display, stopSignalArrived};
  runScript(mode, args, services, app.exitCode);
}

void runWindowedScriptsHelp(GeneratorApp&) {
  releaseOwnConsole();
  const WindowsSession session;
  win32::openOrActivateScriptsHelp(nullptr);
}

void runWindowedInteractive(GeneratorApp& app) {
  releaseOwnConsole();
  const WindowsSession session;
  const std::unique_ptr<RegistryStore> store = makeUserRegistryStore();
  const std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  win32::Win32ErrorPresenter presenter;
  runInteractiveSequence(
      *store, presenter, app.showSplash,
      [] {
        win32::SplashWindow splash;
        runSplashSequence(splash);
      },
      [&] {
        SettingsValues fields = loadMainDialogFields(*store, "");
        {
          win32::MainDialog dialog(win32::MainDialogServices{*store, *fs, systemClock()}, fields, app.showSplash,
                                   app.exitCode);
          dialog.run();
        }
        saveMainDialogFields(*store, fields, app.showSplash, presenter);
      });
}

}  // namespace quillet
