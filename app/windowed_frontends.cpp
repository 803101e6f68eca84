#include "app/windowed_frontends.h"

#include <QApplication>
#include <QTimer>
#include <memory>

#include "app/generator_app.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "script/script_run.h"
#include "ui/help/help_resources.h"
#include "ui/help/scripts_help_window.h"
#include "ui/main/interactive_startup.h"
#include "ui/progress/number_progress_dialog.h"
#include "ui/progress/size_progress_dialog.h"
#include "ui/qt_failure_presenter.h"

namespace quillet {
namespace {

constexpr const char* kApplicationTitle = "Talvane Quillet";

// QApplication keeps references to its argument count and vector for its whole life.
struct QtSession {
  explicit QtSession(const std::string& argv0) : program(argv0) {
    argv[0] = program.data();
    app = std::make_unique<QApplication>(argc, argv);
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
    std::unique_ptr<ProgressDialog> dialog;
    if (job.byAllSize) {
      dialog = std::make_unique<SizeProgressDialog>(fs_);
    } else {
      dialog = std::make_unique<NumberProgressDialog>(fs_);
    }
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
  void waitForWorker(WorkerThread& worker, const GenerationJob& job) override { joinWorkerServingEvents(worker, job); }

 private:
  FileSystem& fs_;
};

}  // namespace

void runWindowedScript(GeneratorApp& app, const std::string& mode, const std::vector<std::string>& args) {
  QtSession session(args.empty() ? std::string("quillet") : args[0]);
  auto fs = makeSystemFileSystem();
  QtFailurePresenter presenter(QString::fromUtf8(kApplicationTitle));
  DialogProgressDisplay display(*fs);
  const ScriptRunServices services{*fs, systemClock(), &presenter, display, stopSignalArrived};
  runScript(mode, args, services, app.exitCode);
}

void runWindowedScriptsHelp(GeneratorApp& app) {
  QtSession session(app.args()[0]);
  openOrActivateScriptsHelp(nullptr);
}

void runWindowedInteractive(GeneratorApp& app) {
  QtSession session(app.args()[0]);
  runInteractive(app.exitCode, app.showSplash);
}

}  // namespace quillet
