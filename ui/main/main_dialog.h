// The window of the interactive mode: every option of a run, loaded from the per-user settings
// when the dialog is made and saved when it is destroyed, with each control enabled only where its
// option takes part in the chosen kind of run (applyEnablingRules), repaired by the field checks,
// and "Generate", which prepares the job, runs the worker and shows the progress dialog. UI thread
// only; the job is shared with a worker only during a run.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/generation_job.h"
#include "engine/rate_series.h"
#include "frontend/main_dialog_layout.h"
#include "frontend/windowed_runs.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "settings/registry_error_report.h"
#include "settings/registry_store.h"
#include "settings/settings_values.h"
#include "ui/dialog_units.h"
#include "ui/qt_failure_presenter.h"

class QAction;
class QComboBox;
class QLineEdit;
class QMenu;

namespace quillet {

class OwnerDrawButton;

// What the dialog is given; everything must outlive it.
struct MainDialogServices {
  RegistryStore& store;            // settings: loaded at construction, saved at destruction
  ErrorPresenter& settingsErrors;  // shows each settings value the save cannot write
  FileSystem& fs;
  Clock& clock;
};

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kTitle = kMainTitle;
  static constexpr const char* kAboutItem = kStringAboutMenuItem;
  static constexpr const char* kExitQuestion = quillet::kExitQuestion;
  static constexpr const char* kEmptyRoot = quillet::kEmptyRoot;
  static constexpr const char* kBrowseTitle = quillet::kBrowseTitle;

  // Loads the settings into the fields. showSplash is the application's flag, which the splash
  // check box toggles.
  MainDialog(const MainDialogServices& services, bool& showSplash, QWidget* parent = nullptr);
  // Saves every field as last taken from the controls (failures through settingsErrors).
  ~MainDialog() override;

  // The texts, units and flags; the flags are the source of truth, not the controls.
  const SettingsValues& fields() const { return values; }
  bool showSplash() const { return splashFlag; }
  // The job the last Generate filled; a run's worker runs it.
  const GenerationJob& job() const { return runs.job(); }
  // How the last run the dialog started and saw finish ended; empty while none has.
  std::optional<int> lastResult() const { return runs.lastResult(); }
  QWidget* control(MainControl id) const;
  QMenu* systemMenu() const { return sysMenu; }
  QAction* aboutAction() const { return aboutItem; }
  // The speed chart window the window menu opened; null while none is open.
  QWidget* speedChart() const { return chartWindow; }

  // What kind of run the options describe; they decide which controls take part.
  bool byAllSize() const { return values.byAllSize; }
  bool byFilesNumber() const { return !values.byAllSize; }
  bool fillsSubfolders() const { return quillet::fillsSubfolders(values); }
  bool makesUpTree() const { return quillet::makesUpTree(values); }

  // The data exchange: take copies the controls into the fields, show the fields into the controls.
  void takeTexts();
  void showTexts();

  // "Generate": field checks, job, root creation, worker and the modal progress dialog. Returns when
  // the progress dialog has closed and the worker has ended.
  void prepareAndStartRun();

  // Enter never ends the dialog.
  void accept() override {}
  // Esc: texts taken, then "Do you want to exit?"; OK ends the dialog.
  void reject() override;

 signals:
  // After a run's worker has ended (also when it never started: false).
  void runEnded(bool started);
  // After the verify of a folder has ended and its box was answered (also when the browser was
  // cancelled: false).
  void verifyEnded(bool ran);

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void attachHandlers();
  void initialise();
  // Brings every check mark, enabled state and switching label in line with the options (the
  // enabling rules); called at start-up and after every click that changes an option.
  void applyEnablingRules();
  void runCheck(void (*check)(SettingsValues&));
  void runSystemCommand(SystemCommand command);
  void openSystemMenu();
  // The close command: texts taken, dialog ended without a question.
  void closeCommand();
  void openScriptsHelp();
  void showAboutBox();
  // The system menu's verify: the folder browser, then the verify on a worker under its progress
  // dialog, then the box with the summary. Cancelling the browser does nothing.
  void verifyFolder();
  // The window menu's chart of the last run's or verify's speed, live while one runs.
  void openSpeedChart();

  MainDialogServices services;
  bool& splashFlag;
  SettingsValues values;
  WindowedRuns runs;
  QtFailurePresenter failurePresenter;
  const DialogUnits units;
  std::map<MainControl, QWidget*> controls;
  std::map<QObject*, void (*)(SettingsValues&)> focusChecks;
  QMenu* sysMenu = nullptr;
  QAction* aboutItem = nullptr;
  bool checksSuppressed = false;  // while the dialog is being closed
  // The speed record of the run or verify going on (null between them) and of the last one.
  std::unique_ptr<RateSampler> sampler;
  std::vector<RateSample> lastSamples;
  bool lastRead = false;
  QPointer<QWidget> chartWindow;
};

}  // namespace quillet
