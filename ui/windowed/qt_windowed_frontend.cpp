#include "ui/windowed/qt_windowed_frontend.h"

#include <QApplication>
#include <QTimer>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "frontend/main_dialog_layout.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "script/script_run.h"
#include "ui/display_probe.h"
#include "ui/help/help_resources.h"
#include "ui/help/scripts_help_window.h"
#include "ui/main/interactive_startup.h"
#include "ui/progress/progress_dialog.h"
#include "ui/qt_failure_presenter.h"

namespace quillet {
namespace {

constexpr const char* kApplicationTitle = kMainTitle;

// Runs the program again without a display when Qt cannot open the one the probe found: the
// display went away in between, or it accepts a probing connection but not Qt's. Qt reports that
// as a fatal message and would abort; the new run falls back to the console as when no display
// answers. Nothing of the run has happened yet at that point, so starting over loses nothing.
class DisplayLossFallback {
 public:
  explicit DisplayLossFallback(const std::vector<std::string>& args) {
    restartArgs = args;
    previous = qInstallMessageHandler(&DisplayLossFallback::handle);
  }
  ~DisplayLossFallback() { qInstallMessageHandler(previous); }
  DisplayLossFallback(const DisplayLossFallback&) = delete;
  DisplayLossFallback& operator=(const DisplayLossFallback&) = delete;

 private:
  static void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
      qunsetenv("QT_QPA_PLATFORM");
      qunsetenv("DISPLAY");
      qunsetenv("WAYLAND_DISPLAY");
      // Returns only when the program cannot be started again; Qt then aborts as it would have.
      replaceProcess(runningProgramPath(), restartArgs);
    }
    if (previous != nullptr) previous(type, context, message);
  }

  static inline QtMessageHandler previous = nullptr;
  static inline std::vector<std::string> restartArgs;
};

// QApplication keeps references to its argument count and vector for its whole life.
struct QtSession {
  explicit QtSession(const std::vector<std::string>& args)
      : program(args.empty() ? std::string("quillet") : args[0]) {
    argv[0] = program.data();
    {
      const DisplayLossFallback fallback(args.empty() ? std::vector<std::string>{program} : args);
      app = std::make_unique<QApplication>(argc, argv);
    }
    releaseProbedDisplay();
    QApplication::setApplicationName(kApplicationTitle);
    registerHelpResources();
    QApplication::setWindowIcon(programIcon());
  }
  std::string program;
  int argc = 1;
  char* argv[2] = {nullptr, nullptr};
  std::unique_ptr<QApplication> app;
};

// A script's progress shown in the dialog of its mode, run modally without a parent window. A stop
// signal, seen at the dialog's own poll rate, acts as its Stop button.
class DialogProgressDisplay final : public ProgressDisplay {
 public:
  explicit DialogProgressDisplay(FileSystem& fs) : fs_(fs) {}

  void show(GenerationJob& job) override {
    std::unique_ptr<ProgressDialog> dialog = makeProgressDialog(fs_, progressKindFor(job));
    dialog->setJob(&job);
    QTimer stopWatch;
    stopWatch.setInterval(ProgressDialog::kPollMilliseconds);
    QObject::connect(&stopWatch, &QTimer::timeout, [&job, &stopWatch] {
      if (!stopSignalArrived()) return;
      stopWatch.stop();
      job.requestStop();  // the dialog's next poll ends it, as after a click on Stop
    });
    stopWatch.start();
    dialog->exec();
  }

  // A worker may still wait on a message box after a Stop closed the dialog; keep serving it.
  void waitForWorker(WorkerThread& worker, const GenerationJob& job) override {
    joinWorkerServingEvents(worker, job);
  }

 private:
  FileSystem& fs_;
};

}  // namespace

bool QtWindowedFrontend::windowsCanBeShown() { return quillet::windowsCanBeShown(); }

int QtWindowedFrontend::runScript(const std::string& mode, const std::vector<std::string>& args) {
  QtSession session(args);
  auto fs = makeSystemFileSystem();
  QtFailurePresenter presenter(QString::fromUtf8(kApplicationTitle));
  DialogProgressDisplay display(*fs);
  const ScriptRunServices services{*fs, systemClock(), &presenter, display, stopSignalArrived};
  return quillet::runScript(mode, args, services);
}

int QtWindowedFrontend::showScriptsHelp(const std::vector<std::string>& args) {
  QtSession session(args);
  openOrActivateScriptsHelp(nullptr);
  return 0;
}

int QtWindowedFrontend::runInteractive(const std::vector<std::string>& args) {
  QtSession session(args);
  bool showSplash = true;
  return quillet::runInteractive(showSplash).value_or(0);
}

}  // namespace quillet
