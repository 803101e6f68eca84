// The window of the interactive mode: every option of a run, loaded from the per-user settings
// when the dialog is made and saved when it is destroyed, with each control enabled only where its
// option takes part in the chosen kind of run (applyEnablingRules), repaired by the field checks,
// and "Generate", which prepares the job, runs the worker and shows the progress dialog. UI thread
// only; the job is shared with a worker only during a run.
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

// The controls code refers to. The number is the control's objectName ("1009" for Generate).
enum class MainControl {
  RootFolderEdit = 1000,
  BrowseButton = 1001,
  FileMaskEdit = 1002,
  DirMaskEdit = 1003,
  MinSizeEdit = 1006,
  MaxSizeEdit = 1007,
  AllSizeEdit = 1008,
  GenerateButton = 1009,
  MinFilesEdit = 1010,
  MaxFilesEdit = 1011,
  LimitSizeEdit = 1012,
  FillRandomBox = 1030,
  MaxSizeBox = 1031,
  MaxSizeUnit = 1032,
  MinSizeUnit = 1033,
  MaxFilesBox = 1034,
  FillSubfoldersBox = 1035,
  SplashBox = 1036,
  AllSizeUnit = 1039,
  MinFilesLabel = 1040,  // "Min files:" or "Files number:"
  LimitSizeBox = 1041,
  LimitSizeUnit = 1042,
  TreeDeepEdit = 1047,
  RootSizeEdit = 1048,
  MinSizeLabel = 1050,  // "Min size:" or "Files size:"
  DirMaskBox = 1054,
  FileMaskBox = 1055,
  AllSizeLabel = 1057,
  AllSizeGroup = 1058,
  FilesNumberGroup = 1059,
  TreeGroup = 1060,
  ByAllSizeRadio = 1061,
  ByFilesNumberRadio = 1062,
  TreeDeepLabel = 1063,
  RootSizeLabel = 1064,
  MakeUpTreeBox = 1065,
  DirsLimitEdit = 1067,
  DirsLimitLabel = 1068,
  CloseProgressBox = 1071,
  AllPartitionBox = 1076,
  ScriptsHelpButton = 1078,
};

class MainDialog : public QDialog {
  Q_OBJECT

 public:
  static constexpr const char* kTitle = "Talvane Quillet";
  static constexpr const char* kAboutItem = "&About Talvane Quillet...";
  static constexpr const char* kExitQuestion = "Do you want to exit?";
  static constexpr const char* kEmptyRoot = "Root directory can't be empty.";
  static constexpr const char* kBrowseTitle = "Select folder to start from";

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
  QWidget* control(MainControl id) const;
  QMenu* systemMenu() const { return sysMenu; }
  QAction* aboutAction() const { return aboutItem; }

  // What kind of run the options describe; they decide which controls take part.
  bool byAllSize() const { return values.byAllSize; }
  bool byFilesNumber() const { return !values.byAllSize; }
  // Sub-folders are filled only by files number; "Fill sub-directories recursive" keeps its mark
  // in the other mode without taking effect.
  bool fillsSubfolders() const { return byFilesNumber() && values.fillSubfolders; }
  // A tree is made up only where sub-folders are filled.
  bool makesUpTree() const { return fillsSubfolders() && values.makeUpTree; }

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
  // Brings every check mark, enabled state and switching label in line with the options; called
  // at start-up and after every click that changes an option.
  void applyEnablingRules();
  void enableControl(MainControl id, bool enabled);
  void checkControl(MainControl id, bool checked);
  void setLabel(MainControl id, const char* text);
  void runCheck(void (*check)(SettingsValues&));
  void openSystemMenu();
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
  std::map<MainControl, QWidget*> controls;
  std::map<QObject*, void (*)(SettingsValues&)> focusChecks;
  QMenu* sysMenu = nullptr;
  QAction* aboutItem = nullptr;
  bool checksSuppressed = false;  // while the dialog is being closed
};

}  // namespace quillet
