// The main dialog: controls in dialog units, data exchange, which controls take part in the chosen
// run, click and focus handlers, closing, and the Generate press.
#include "ui/main/main_dialog.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QShortcut>
#include <algorithm>
#include <memory>
#include <optional>

#include "engine/volume_checks.h"
#include "engine/worker_thread.h"
#include "platform/path.h"
#include "settings/registry_access.h"
#include "ui/controls/dialog_group.h"
#include "ui/controls/flat_edit.h"
#include "ui/controls/owner_draw_button.h"
#include "ui/controls/owner_draw_check_box.h"
#include "ui/controls/owner_draw_radio_button.h"
#include "ui/help/about_dialog.h"
#include "ui/help/help_resources.h"
#include "ui/help/scripts_help_window.h"
#include "ui/main/field_checks.h"
#include "ui/main/folder_browser.h"
#include "ui/main/run_preparation.h"
#include "ui/progress/number_progress_dialog.h"
#include "ui/progress/size_progress_dialog.h"

namespace quillet {

namespace {

enum class Kind { Label, Edit, NumberEdit, UnitList, CheckBox, Radio, BoldButton, FlatButton, GroupBox };

using C = MainControl;

struct ControlSpec {
  std::optional<MainControl> id;  // none: a plain label or group box code never refers to
  Kind kind;
  const char* text;
  int x, y, width, height;
};

// The window's controls in tab order. The unit lists are given the height of the edits beside
// them: the toolkit sizes a closed drop-down list itself, the list part needs no room here.
constexpr ControlSpec kControls[] = {
    {std::nullopt, Kind::Label, "Root folder:", 8, 7, 38, 8},
    {C::RootFolderEdit, Kind::Edit, "", 55, 4, 124, 14},
    {C::BrowseButton, Kind::BoldButton, "...", 184, 4, 16, 13},
    {C::FileMaskBox, Kind::CheckBox, "File mask:", 8, 23, 47, 10},
    {C::FileMaskEdit, Kind::Edit, "", 55, 21, 93, 14},
    {C::AllSizeGroup, Kind::GroupBox, "Generate by all files size", 4, 39, 120, 38},
    {C::AllSizeLabel, Kind::Label, "All files size:", 11, 50, 38, 8},
    {C::AllSizeEdit, Kind::NumberEdit, "", 55, 48, 33, 14},
    {C::AllSizeUnit, Kind::UnitList, "", 91, 48, 28, 14},
    {C::AllPartitionBox, Kind::CheckBox, "Generate to all partition size", 11, 64, 103, 10},
    {C::FilesNumberGroup, Kind::GroupBox, "Generate by files number", 4, 79, 120, 58},
    {C::LimitSizeBox, Kind::CheckBox, "Limit size:", 8, 91, 45, 10},
    {C::LimitSizeEdit, Kind::NumberEdit, "", 55, 89, 33, 14},
    {C::LimitSizeUnit, Kind::UnitList, "", 91, 89, 28, 14},
    {C::MinFilesLabel, Kind::Label, "Min files:", 8, 106, 41, 8},
    {C::MinFilesEdit, Kind::NumberEdit, "", 55, 104, 33, 14},
    {C::MaxFilesBox, Kind::CheckBox, "Max files:", 8, 121, 42, 10},
    {C::MaxFilesEdit, Kind::NumberEdit, "", 55, 119, 33, 14},
    {std::nullopt, Kind::GroupBox, "Files size", 4, 139, 120, 43},
    {C::MinSizeLabel, Kind::Label, "Min size:", 8, 151, 41, 8},
    {C::MinSizeEdit, Kind::NumberEdit, "", 55, 148, 33, 14},
    {C::MinSizeUnit, Kind::UnitList, "", 91, 148, 28, 14},
    {C::MaxSizeBox, Kind::CheckBox, "Max size:", 8, 166, 41, 10},
    {C::MaxSizeEdit, Kind::NumberEdit, "", 55, 164, 33, 14},
    {C::MaxSizeUnit, Kind::UnitList, "", 91, 164, 28, 14},
    {C::ScriptsHelpButton, Kind::FlatButton, "Scripts help", 206, 4, 46, 13},
    {C::GenerateButton, Kind::BoldButton, "Generate", 153, 21, 99, 13},
    {std::nullopt, Kind::GroupBox, "Generate type", 128, 39, 124, 27},
    {C::ByAllSizeRadio, Kind::Radio, "By all size", 132, 51, 47, 10},
    {C::ByFilesNumberRadio, Kind::Radio, "By files number", 186, 51, 62, 10},
    {C::SplashBox, Kind::CheckBox, "Show splash screen at startup", 132, 68, 114, 10},
    {C::CloseProgressBox, Kind::CheckBox, "Close progress automatically", 132, 79, 120, 10},
    {C::FillRandomBox, Kind::CheckBox, "Fill files by random data", 132, 90, 89, 10},
    {C::FillSubfoldersBox, Kind::CheckBox, "Fill sub-directories recursive", 132, 101, 102, 10},
    {C::MakeUpTreeBox, Kind::CheckBox, "Make-up subdirectories tree", 132, 112, 103, 10},
    {C::TreeGroup, Kind::GroupBox, "Make-up sub-directories tree", 128, 124, 124, 58},
    {C::DirMaskBox, Kind::CheckBox, "Dir mask:", 132, 137, 43, 10},
    {C::DirMaskEdit, Kind::Edit, "", 175, 135, 71, 14},
    {C::RootSizeLabel, Kind::Label, "Root size:", 138, 153, 32, 8},
    {C::RootSizeEdit, Kind::NumberEdit, "", 175, 150, 26, 14},
    {C::TreeDeepLabel, Kind::Label, "Deep:", 205, 153, 19, 8},
    {C::TreeDeepEdit, Kind::NumberEdit, "", 227, 150, 19, 14},
    {C::DirsLimitLabel, Kind::Label, "Dirs limit:", 138, 168, 28, 8},
    // Takes any character: its number is read up to the first non-digit.
    {C::DirsLimitEdit, Kind::Edit, "", 175, 166, 26, 14},
};

// The texts of the data exchange with their length limits (0: none).
struct TextBinding {
  MainControl id;
  std::string SettingsValues::*member;
  int maxLength;
};
constexpr TextBinding kTexts[] = {
    {C::DirMaskEdit, &SettingsValues::dirMaskText, 0},
    {C::RootFolderEdit, &SettingsValues::rootFolderText, 0},
    {C::MinSizeEdit, &SettingsValues::minSizeText, 6},
    {C::MaxSizeEdit, &SettingsValues::maxSizeText, 6},
    {C::FileMaskEdit, &SettingsValues::fileMaskText, 0},
    {C::MaxFilesEdit, &SettingsValues::maxFilesText, 6},
    {C::MinFilesEdit, &SettingsValues::minFilesText, 6},
    {C::TreeDeepEdit, &SettingsValues::treeDeepText, 3},
    {C::RootSizeEdit, &SettingsValues::rootSizeText, 5},
    {C::LimitSizeEdit, &SettingsValues::limitSizeText, 6},
    {C::AllSizeEdit, &SettingsValues::allSizeText, 6},
    {C::DirsLimitEdit, &SettingsValues::dirsLimitText, 5},
};

struct UnitBinding {
  MainControl id;
  int SettingsValues::*member;
};
constexpr UnitBinding kUnits[] = {
    {C::MaxSizeUnit, &SettingsValues::maxSizeUnit},
    {C::MinSizeUnit, &SettingsValues::minSizeUnit},
    {C::AllSizeUnit, &SettingsValues::allSizeUnit},
    {C::LimitSizeUnit, &SettingsValues::limitSizeUnit},
};

// The edits whose focus loss runs a check, and the check.
struct FocusCheck {
  MainControl id;
  void (*check)(SettingsValues&);
};
constexpr FocusCheck kFocusChecks[] = {
    {C::MinSizeEdit, checkMinSize},     {C::MaxSizeEdit, checkMaxSize},   {C::AllSizeEdit, checkAllSize},
    {C::LimitSizeEdit, checkLimitSize}, {C::MinFilesEdit, checkMinFiles}, {C::MaxFilesEdit, checkMaxFiles},
    {C::TreeDeepEdit, checkTreeDeep},   {C::RootSizeEdit, checkRootSize}, {C::DirsLimitEdit, checkDirsLimit},
};

// Refuses typed characters other than digits, as a number-style edit does; editing keys, shortcuts
// and pasting pass.
class DigitsOnly : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
    for (const QChar c : key->text()) {
      if (c.isPrint() && !c.isDigit()) return true;
    }
    return false;
  }
};

}  // namespace

MainDialog::MainDialog(const MainDialogServices& services, bool& showSplash, std::atomic<int>& exitCode,
                       QWidget* parent)
    : QDialog(parent),
      services(services),
      splashFlag(showSplash),
      exitCode(exitCode),
      failurePresenter(QString::fromLatin1(kTitle), this) {
  {
    RegistryAccess access(services.store);
    loadSettings(access, values);
  }
  values.rootFolderText = displayedRootFolder(values.rootFolderText, QDir::homePath().toStdString());

  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(programIcon());
  setFont(dialogFont());
  setFixedSize(units.toPixels(QSize(257, 186)));
  buildControls();
  attachHandlers();
  initialise();
}

MainDialog::~MainDialog() {
  RegistryAccess access(services.store);
  saveSettings(access, values, splashFlag, services.settingsErrors);
}

QWidget* MainDialog::control(MainControl id) const {
  const auto found = controls.find(id);
  return found == controls.end() ? nullptr : found->second;
}

void MainDialog::buildControls() {
  auto* digitsOnly = new DigitsOnly(this);
  QWidget* previousFocusable = nullptr;
  for (const ControlSpec& row : kControls) {
    const QString text = QString::fromLatin1(row.text);
    QWidget* widget = nullptr;
    switch (row.kind) {
      case Kind::Label:
        widget = new QLabel(text, this);
        break;
      case Kind::GroupBox:
        widget = new QGroupBox(text, this);
        break;
      case Kind::Edit:
      case Kind::NumberEdit: {
        auto* edit = new QLineEdit(this);
        new FlatEdit(edit);
        if (row.kind == Kind::NumberEdit) edit->installEventFilter(digitsOnly);
        widget = edit;
        break;
      }
      case Kind::UnitList: {
        auto* list = new QComboBox(this);
        for (const char* unit : SizeUnit::kTexts) list->addItem(QString::fromLatin1(unit));
        new FlatEdit(list, true);
        widget = list;
        break;
      }
      case Kind::CheckBox:
        widget = new OwnerDrawCheckBox(text, this);
        break;
      case Kind::Radio:
        widget = new OwnerDrawRadioButton(text, this);
        break;
      case Kind::BoldButton:
      case Kind::FlatButton: {
        auto* button = new OwnerDrawButton(text, this);
        button->setBold(row.kind == Kind::BoldButton);
        button->setFlat(row.kind == Kind::FlatButton);
        widget = button;
        break;
      }
    }
    units.place(widget, row.x, row.y, row.width, row.height);
    if (row.kind == Kind::Label) {
      // The dialog font's letters may be wider than those the table was measured in; a label
      // takes the room its text needs (the gap before its edit leaves enough).
      widget->resize(std::max(widget->width(), widget->sizeHint().width()), widget->height());
    }
    if (row.id) {
      widget->setObjectName(QString::number(int(*row.id)));
      controls[*row.id] = widget;
    }
    if (widget->focusPolicy() != Qt::NoFocus) {
      if (previousFocusable != nullptr) setTabOrder(previousFocusable, widget);
      previousFocusable = widget;
    }
  }
  // The two radio buttons form one group; the splash check box starts the next.
  setGroupStart(control(C::ByAllSizeRadio));
  setGroupStart(control(C::SplashBox));
  for (const FocusCheck& check : kFocusChecks) {
    control(check.id)->installEventFilter(this);
    focusChecks[control(check.id)] = check.check;
  }

  sysMenu = new QMenu(this);
  sysMenu->setObjectName(QStringLiteral("systemMenu"));
  sysMenu->addAction(QStringLiteral("Mi&nimize"), this, &QWidget::showMinimized);
  sysMenu->addAction(QStringLiteral("&Close\tAlt+F4"), this, &MainDialog::closeCommand);
  sysMenu->addSeparator();
  aboutItem = sysMenu->addAction(QString::fromLatin1(kAboutItem), this, &MainDialog::showAboutBox);
  // Where a window manager leaves Alt+Space to the window, it opens this menu as it opens the
  // system menu on Windows.
  // The controls pass Alt+Space on (keyPressEvent) for when the shortcut does not take it first.
  auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
  connect(shortcut, &QShortcut::activated, this, &MainDialog::openSystemMenu);
}

void MainDialog::attachHandlers() {
  auto onClick = [this](MainControl id, auto handler) {
    connect(static_cast<QAbstractButton*>(control(id)), &QAbstractButton::clicked, this, handler);
  };
  // A click that changes an option: the option first, then every control brought in line.
  auto onToggle = [this, onClick](MainControl id, auto change) {
    onClick(id, [this, change] {
      change();
      applyEnablingRules();
    });
  };
  onClick(C::BrowseButton, [this] {
    takeTexts();
    FolderBrowser browser(QString::fromStdString(values.rootFolderText));
    browser.title = QString::fromLatin1(kBrowseTitle);
    if (browser.browse(this)) {
      values.rootFolderText = browser.selectedPath.toStdString();
      showTexts();
    }
  });
  onClick(C::GenerateButton, [this] { prepareAndStartRun(); });
  onClick(C::ScriptsHelpButton, [this] { openScriptsHelp(); });
  onToggle(C::MaxFilesBox, [this] { values.useMaxFiles = !values.useMaxFiles; });
  onToggle(C::MaxSizeBox, [this] { values.useMaxSize = !values.useMaxSize; });
  onToggle(C::SplashBox, [this] { splashFlag = !splashFlag; });
  onToggle(C::FillRandomBox, [this] {
    takeTexts();
    values.fillRandom = !values.fillRandom;
  });
  onToggle(C::CloseProgressBox, [this] {
    takeTexts();
    values.closeProgressAuto = !values.closeProgressAuto;
  });
  onToggle(C::FileMaskBox, [this] {
    takeTexts();
    values.useFileMask = !values.useFileMask;
  });
  onToggle(C::DirMaskBox, [this] {
    takeTexts();
    values.useDirMask = !values.useDirMask;
  });
  onToggle(C::LimitSizeBox, [this] { values.useLimitSize = !values.useLimitSize; });
  onToggle(C::AllPartitionBox, [this] {
    takeTexts();
    values.allPartition = !values.allPartition;
  });
  onToggle(C::FillSubfoldersBox, [this] {
    values.fillSubfolders = !values.fillSubfolders;
    // Leaving the recursion also drops the tree; marking it again does not bring the tree back.
    if (!values.fillSubfolders) values.makeUpTree = false;
  });
  onToggle(C::MakeUpTreeBox, [this] { values.makeUpTree = !values.makeUpTree; });
  onToggle(C::ByAllSizeRadio, [this] { values.byAllSize = true; });
  onToggle(C::ByFilesNumberRadio, [this] { values.byAllSize = false; });
}

void MainDialog::initialise() {
  showTexts();
  setWindowTitle(QString::fromLatin1(kTitle));
  applyEnablingRules();
  control(C::GenerateButton)->setFocus(Qt::OtherFocusReason);
}

void MainDialog::applyEnablingRules() {
  // Every box shows its option, except that the recursion and the tree show unmarked while the run
  // is by all size (their options are kept for the other mode).
  checkControl(C::ByAllSizeRadio, byAllSize());
  checkControl(C::ByFilesNumberRadio, byFilesNumber());
  checkControl(C::SplashBox, splashFlag);
  checkControl(C::FillRandomBox, values.fillRandom);
  checkControl(C::CloseProgressBox, values.closeProgressAuto);
  checkControl(C::FileMaskBox, values.useFileMask);
  checkControl(C::MaxSizeBox, values.useMaxSize);
  checkControl(C::AllPartitionBox, values.allPartition);
  checkControl(C::LimitSizeBox, values.useLimitSize);
  checkControl(C::MaxFilesBox, values.useMaxFiles);
  checkControl(C::FillSubfoldersBox, fillsSubfolders());
  checkControl(C::MakeUpTreeBox, makesUpTree());
  checkControl(C::DirMaskBox, values.useDirMask);

  // An edit with a box of its own takes part only while the box is marked; a group only while the
  // run is of its kind. The total size is not typed when the whole volume is filled.
  enableControl(C::FileMaskEdit, values.useFileMask);
  enableControl(C::MaxSizeEdit, values.useMaxSize);
  enableControl(C::MaxSizeUnit, values.useMaxSize);

  const bool typedTotal = byAllSize() && !values.allPartition;
  enableControl(C::AllSizeGroup, byAllSize());
  enableControl(C::AllSizeLabel, typedTotal);
  enableControl(C::AllSizeEdit, typedTotal);
  enableControl(C::AllSizeUnit, typedTotal);
  enableControl(C::AllPartitionBox, byAllSize());

  for (MainControl id :
       {C::FilesNumberGroup, C::LimitSizeBox, C::MinFilesLabel, C::MinFilesEdit, C::MaxFilesBox}) {
    enableControl(id, byFilesNumber());
  }
  enableControl(C::LimitSizeEdit, byFilesNumber() && values.useLimitSize);
  enableControl(C::LimitSizeUnit, byFilesNumber() && values.useLimitSize);
  enableControl(C::MaxFilesEdit, byFilesNumber() && values.useMaxFiles);

  enableControl(C::FillSubfoldersBox, byFilesNumber());
  enableControl(C::MakeUpTreeBox, fillsSubfolders());
  for (MainControl id : {C::TreeGroup, C::DirMaskBox, C::TreeDeepLabel, C::TreeDeepEdit, C::RootSizeLabel,
                         C::RootSizeEdit, C::DirsLimitLabel, C::DirsLimitEdit}) {
    enableControl(id, makesUpTree());
  }
  enableControl(C::DirMaskEdit, makesUpTree() && values.useDirMask);

  // Without a maximum the one size (or count) is the size (count) of every file.
  setLabel(C::MinSizeLabel, values.useMaxSize ? "Min size:" : "Files size:");
  setLabel(C::MinFilesLabel, values.useMaxFiles ? "Min files:" : "Files number:");
  update();
}

void MainDialog::enableControl(MainControl id, bool enabled) { control(id)->setEnabled(enabled); }

void MainDialog::checkControl(MainControl id, bool checked) {
  static_cast<OwnerDrawButton*>(control(id))->setCheck(checked ? 1 : 0);
}

void MainDialog::setLabel(MainControl id, const char* text) {
  static_cast<QLabel*>(control(id))->setText(QString::fromLatin1(text));
}

void MainDialog::takeTexts() {
  for (const TextBinding& binding : kTexts) {
    values.*binding.member = static_cast<QLineEdit*>(control(binding.id))->text().toStdString();
  }
  for (const UnitBinding& binding : kUnits) {
    values.*binding.member = static_cast<QComboBox*>(control(binding.id))->currentIndex();
  }
}

void MainDialog::showTexts() {
  for (const TextBinding& binding : kTexts) {
    auto* edit = static_cast<QLineEdit*>(control(binding.id));
    const QString text = QString::fromStdString(values.*binding.member);
    // A longer text kept in the settings is shown whole rather than cut at the limit; typing
    // still stops there.
    edit->setMaxLength(binding.maxLength == 0 ? 32767 : std::max<int>(binding.maxLength, int(text.size())));
    if (edit->text() != text) edit->setText(text);
  }
  for (const UnitBinding& binding : kUnits) {
    static_cast<QComboBox*>(control(binding.id))->setCurrentIndex(std::clamp(values.*binding.member, 0, 3));
  }
}

void MainDialog::runCheck(void (*check)(SettingsValues&)) {
  takeTexts();
  check(values);
  showTexts();
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut && !checksSuppressed) {
    const auto found = focusChecks.find(watched);
    // A context menu of the edit itself takes the focus only for a moment.
    if (found != focusChecks.end() && static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
      runCheck(found->second);
    }
  }
  return QDialog::eventFilter(watched, event);
}

void MainDialog::prepareAndStartRun() {
  takeTexts();
  const PreparationOutcome outcome = prepareJob(values, generationJob, services.fs);
  showTexts();
  if (outcome == PreparationOutcome::EmptyRoot) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), QString::fromLatin1(kEmptyRoot),
                    QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("emptyRootMessage"));
    box.exec();
    emit runEnded(false);
    return;
  }
  if (outcome == PreparationOutcome::RelativeRoot) {
    failurePresenter.showError(FailurePresenter::Caption::Error, relativeRootMessage(values.rootFolderText));
    emit runEnded(false);
    return;
  }
  const EngineServices engine{services.fs, services.clock, failurePresenter};
  if (!createRootFolder(generationJob, engine, RootReport::MessageBox, nullptr)) {
    emit runEnded(false);
    return;
  }
  WorkerThread worker(generationJob, engine, exitCode);
  std::unique_ptr<ProgressDialog> progress;
  if (generationJob.byAllSize) {
    progress = std::make_unique<SizeProgressDialog>(services.fs);
  } else {
    progress = std::make_unique<NumberProgressDialog>(services.fs);
  }
  progress->setJob(&generationJob);
  progress->setOwnerWindow(this);
  worker.start();
  progress->exec();
  progress.reset();
  // A stop closes the progress dialog before the worker has ended; the job may be refilled only
  // once it has. Events keep flowing meanwhile so a failure box the worker waits on can be answered.
  joinWorkerServingEvents(worker, generationJob);
  emit runEnded(true);
}

void MainDialog::reject() {
  takeTexts();
  QMessageBox box(QMessageBox::Question, QString::fromLatin1(kTitle), QString::fromLatin1(kExitQuestion),
                  QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setObjectName(QStringLiteral("exitQuestion"));
  // The question takes the focus from an edit; its check must not change what is saved.
  checksSuppressed = true;
  if (box.exec() == QMessageBox::Ok) {
    QDialog::done(Rejected);
  } else {
    checksSuppressed = false;
  }
}

void MainDialog::closeCommand() {
  takeTexts();
  // Hiding the window takes the focus from an edit; the texts are saved as typed.
  checksSuppressed = true;
  QDialog::done(Accepted);
}

void MainDialog::closeEvent(QCloseEvent* event) {
  if (isVisible()) closeCommand();
  event->accept();
}

void MainDialog::showEvent(QShowEvent* event) {
  checksSuppressed = false;
  QDialog::showEvent(event);
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  if (event->key() == Qt::Key_Space && event->modifiers() == Qt::AltModifier) {
    event->accept();
    openSystemMenu();
    return;
  }
  QDialog::keyPressEvent(event);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
  sysMenu->popup(event->globalPos());
  event->accept();
}

void MainDialog::openSystemMenu() { sysMenu->popup(mapToGlobal(QPoint(0, 0))); }

void MainDialog::openScriptsHelp() { openOrActivateScriptsHelp(this); }

void MainDialog::showAboutBox() {
  RegistryAccess access(services.store);
  AboutDialog about(access, this);
  about.exec();
}

}  // namespace quillet
