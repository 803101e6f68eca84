// The window of the interactive mode: every option of a run, loaded from the per-user settings
// when the dialog is made and saved when it is destroyed, kept consistent by the enabling rules,
// repaired by the field checks, and "Generate", which prepares the job, runs the worker and shows
// the progress dialog. UI thread only; the job is shared with a worker only during a run.
#pragma once

#include <QDialog>
#include <QString>
#include <atomic>
#include <map>
#include <string>

#include "engine/generation_job.h"
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
  RegistryStore& store;           // settings: loaded at construction, saved at destruction
  ErrorPresenter& settingsErrors; // shows each settings value the save cannot write
  FileSystem& fs;
  Clock& clock;
};

// On POSIX the store's default root "C:\Test\" names no usable folder; the dialog shows
// <home>/Test/ in its place. Any other stored text is returned unchanged (also on Windows).
std::string displayedRootFolder(const std::string& stored, const std::string& homeFolder);

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kTitle = "Talvane Quillet";
  static constexpr const char* kAboutItem = "&About Talvane Quillet...";
  static constexpr const char* kExitQuestion = "Do you want to exit?";
  static constexpr const char* kEmptyRoot = "Root directory can't be empty.";

  // Loads the settings into the fields. showSplash is the application's flag, which the splash
  // check box toggles; exitCode receives the result of every finished run.
  MainDialog(const MainDialogServices& services, bool& showSplash, std::atomic<int>& exitCode,
             QWidget* parent = nullptr);
  // Saves every field as last taken from the controls (failures through settingsErrors).
  ~MainDialog() override;

  // The texts, units and flags; the flags are the source of truth, not the controls.
  const SettingsValues& fields() const { return values; }
  bool showSplash() const { return splashFlag; }
  const GenerationJob& job() const { return generationJob; }
  // The control of that number ("1009" is its objectName); null for an unknown number.
  QWidget* control(int id) const;
  QMenu* systemMenu() const { return sysMenu; }
  QAction* aboutAction() const { return aboutItem; }

  // The derived conditions of the enabling rules.
  bool conditionA() const { return values.byAllSize; }
  bool conditionF() const { return !values.byAllSize; }
  bool conditionR() const { return !values.byAllSize && values.fillSubfolders; }
  bool conditionT() const { return conditionR() && values.makeUpTree; }

  void updateAllSizeGroup(bool enable);
  void updateFilesNumberGroup(bool enable);
  void updateTreeGroup(bool enable);

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
  void refreshRadios();
  void enableControl(int id, bool enabled);
  void checkControl(int id, bool checked);
  void setLabel(int id, const char* text);
  void updateMaxFilesLabel();
  void updateMaxSizeLabel();
  void runCheck(void (*check)(SettingsValues&));
  // The close command: texts taken, dialog ended without a question.
  void closeCommand();
  void openScriptsHelp();
  void showAboutBox();

  MainDialogServices services;
  bool& splashFlag;
  std::atomic<int>& exitCode;
  SettingsValues values;
  GenerationJob generationJob;
  QtFailurePresenter failurePresenter;
  const DialogUnits units;
  std::map<int, QWidget*> controls;
  std::map<QObject*, void (*)(SettingsValues&)> focusChecks;
  QMenu* sysMenu = nullptr;
  QAction* aboutItem = nullptr;
  bool checksSuppressed = false;  // while the dialog is being closed
};

}  // namespace quillet
