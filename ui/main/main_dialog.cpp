// The main dialog: controls in dialog units, data exchange, enabling rules, click and focus
// handlers, closing, and the Generate press.
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

#include "engine/volume_checks.h"
#include "engine/worker_thread.h"
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

enum class Kind { Label, Edit, NumberEdit, UnitList, CheckBox, Radio, Button, BoldButton, FlatButton, GroupBox };

struct ControlSpec {
  int id;  // 0: a plain label or group box without a number
  Kind kind;
  const char* text;
  int x, y, width, height;
};

// The window's controls in tab order. The unit lists are given the height of the edits beside
// them: the toolkit sizes a closed drop-down list itself, the list part needs no room here.
constexpr ControlSpec kControls[] = {
    {0, Kind::Label, "Root folder:", 8, 7, 38, 8},
    {1000, Kind::Edit, "", 55, 4, 124, 14},
    {1001, Kind::BoldButton, "...", 184, 4, 16, 13},
    {1055, Kind::CheckBox, "File mask:", 8, 23, 47, 10},
    {1002, Kind::Edit, "", 55, 21, 93, 14},
    {1058, Kind::GroupBox, "Generate by all files size", 4, 39, 120, 38},
    {1057, Kind::Label, "All files size:", 11, 50, 38, 8},
    {1008, Kind::NumberEdit, "", 55, 48, 33, 14},
    {1039, Kind::UnitList, "", 91, 48, 28, 14},
    {1076, Kind::CheckBox, "Generate to all partition size", 11, 64, 103, 10},
    {1059, Kind::GroupBox, "Generate by files number", 4, 79, 120, 58},
    {1041, Kind::CheckBox, "Limit size:", 8, 91, 45, 10},
    {1012, Kind::NumberEdit, "", 55, 89, 33, 14},
    {1042, Kind::UnitList, "", 91, 89, 28, 14},
    {1040, Kind::Label, "Min files:", 8, 106, 41, 8},
    {1010, Kind::NumberEdit, "", 55, 104, 33, 14},
    {1034, Kind::CheckBox, "Max files:", 8, 121, 42, 10},
    {1011, Kind::NumberEdit, "", 55, 119, 33, 14},
    {0, Kind::GroupBox, "Files size", 4, 139, 120, 43},
    {1050, Kind::Label, "Min size:", 8, 151, 41, 8},
    {1006, Kind::NumberEdit, "", 55, 148, 33, 14},
    {1033, Kind::UnitList, "", 91, 148, 28, 14},
    {1031, Kind::CheckBox, "Max size:", 8, 166, 41, 10},
    {1007, Kind::NumberEdit, "", 55, 164, 33, 14},
    {1032, Kind::UnitList, "", 91, 164, 28, 14},
    {1078, Kind::FlatButton, "Scripts help", 206, 4, 46, 13},
    {1009, Kind::BoldButton, "Generate", 153, 21, 99, 13},
    {0, Kind::GroupBox, "Generate type", 128, 39, 124, 27},
    {1061, Kind::Radio, "By all size", 132, 51, 47, 10},
    {1062, Kind::Radio, "By files number", 186, 51, 62, 10},
    {1036, Kind::CheckBox, "Show splash screen at startup", 132, 68, 114, 10},
    {1071, Kind::CheckBox, "Close progress automatically", 132, 79, 120, 10},
    {1030, Kind::CheckBox, "Fill files by random data", 132, 90, 89, 10},
    {1035, Kind::CheckBox, "Fill sub-directories recursive", 132, 101, 102, 10},
    {1065, Kind::CheckBox, "Make-up subdirectories tree", 132, 112, 103, 10},
    {1060, Kind::GroupBox, "Make-up sub-directories tree", 128, 124, 124, 58},
    {1054, Kind::CheckBox, "Dir mask:", 132, 137, 43, 10},
    {1003, Kind::Edit, "", 175, 135, 71, 14},
    {1064, Kind::Label, "Root size:", 138, 153, 32, 8},
    {1048, Kind::NumberEdit, "", 175, 150, 26, 14},
    {1063, Kind::Label, "Deep:", 205, 153, 19, 8},
    {1047, Kind::NumberEdit, "", 227, 150, 19, 14},
    {1068, Kind::Label, "Dirs limit:", 138, 168, 28, 8},
    // Takes any character: its number is read up to the first non-digit.
    {1067, Kind::Edit, "", 175, 166, 26, 14},
};

// The texts of the data exchange with their length limits (0: none).
struct TextBinding {
  int id;
  std::string SettingsValues::*member;
  int maxLength;
};
constexpr TextBinding kTexts[] = {
    {1003, &SettingsValues::dirMaskText, 0},    {1000, &SettingsValues::rootFolderText, 0},
    {1006, &SettingsValues::minSizeText, 6},    {1007, &SettingsValues::maxSizeText, 6},
    {1002, &SettingsValues::fileMaskText, 0},   {1011, &SettingsValues::maxFilesText, 6},
    {1010, &SettingsValues::minFilesText, 6},   {1047, &SettingsValues::treeDeepText, 3},
    {1048, &SettingsValues::rootSizeText, 5},   {1012, &SettingsValues::limitSizeText, 6},
    {1008, &SettingsValues::allSizeText, 6},    {1067, &SettingsValues::dirsLimitText, 5},
};

struct UnitBinding {
  int id;
  int SettingsValues::*member;
};
constexpr UnitBinding kUnits[] = {
    {1032, &SettingsValues::maxSizeUnit},
    {1033, &SettingsValues::minSizeUnit},
    {1039, &SettingsValues::allSizeUnit},
    {1042, &SettingsValues::limitSizeUnit},
};

// The edits whose focus loss runs a check, and the check.
struct FocusCheck {
  int id;
  void (*check)(SettingsValues&);
};
constexpr FocusCheck kFocusChecks[] = {
    {1006, checkMinSize},  {1007, checkMaxSize},  {1008, checkAllSize},
    {1012, checkLimitSize}, {1010, checkMinFiles}, {1011, checkMaxFiles},
    {1047, checkTreeDeep}, {1048, checkRootSize}, {1067, checkDirsLimit},
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

std::string displayedRootFolder(const std::string& stored, const std::string& homeFolder) {
#ifdef _WIN32
  (void)homeFolder;
  return stored;
#else
  if (stored != "C:\\Test\\") return stored;
  std::string home = homeFolder;
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home == "/") home.clear();
  return home + "/Test/";
#endif
}

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

QWidget* MainDialog::control(int id) const {
  const auto found = controls.find(id);
  return found == controls.end() ? nullptr : found->second;
}

void MainDialog::buildControls() {
  auto* digitsOnly = new DigitsOnly(this);
  QWidget* previousFocusable = nullptr;
  for (const ControlSpec& spec : kControls) {
    const QString text = QString::fromLatin1(spec.text);
    QWidget* widget = nullptr;
    switch (spec.kind) {
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
        if (spec.kind == Kind::NumberEdit) edit->installEventFilter(digitsOnly);
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
      case Kind::Button:
      case Kind::BoldButton:
      case Kind::FlatButton: {
        auto* button = new OwnerDrawButton(text, this);
        button->setBold(spec.kind == Kind::BoldButton);
        button->setFlat(spec.kind == Kind::FlatButton);
        widget = button;
        break;
      }
    }
    units.place(widget, spec.x, spec.y, spec.width, spec.height);
    if (spec.kind == Kind::Label) {
      // The dialog font's letters may be wider than those the table was measured in; a label
      // takes the room its text needs (the gap before its edit leaves enough).
      widget->resize(std::max(widget->width(), widget->sizeHint().width()), widget->height());
    }
    if (spec.id != 0) {
      widget->setObjectName(QString::number(spec.id));
      controls[spec.id] = widget;
    }
    if (widget->focusPolicy() != Qt::NoFocus) {
      if (previousFocusable != nullptr) setTabOrder(previousFocusable, widget);
      previousFocusable = widget;
    }
  }
  // The two radio buttons form one group; the splash check box starts the next.
  setGroupStart(control(1061));
  setGroupStart(control(1036));
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
  auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
  connect(shortcut, &QShortcut::activated, this, [this] { sysMenu->popup(mapToGlobal(QPoint(0, 0))); });
}

void MainDialog::attachHandlers() {
  auto onClick = [this](int id, auto handler) {
    connect(static_cast<QAbstractButton*>(control(id)), &QAbstractButton::clicked, this, handler);
  };
  onClick(1001, [this] {
    takeTexts();
    FolderBrowser browser(QString::fromStdString(values.rootFolderText));
    if (browser.browse(this)) {
      values.rootFolderText = browser.selectedPath.toStdString();
      showTexts();
    }
  });
  onClick(1009, [this] { prepareAndStartRun(); });
  onClick(1078, [this] { openScriptsHelp(); });
  onClick(1034, [this] {
    values.useMaxFiles = !values.useMaxFiles;
    enableControl(1011, values.useMaxFiles);
    updateMaxFilesLabel();
    update();
  });
  onClick(1031, [this] {
    values.useMaxSize = !values.useMaxSize;
    enableControl(1007, values.useMaxSize);
    enableControl(1032, values.useMaxSize);
    updateMaxSizeLabel();
    update();
  });
  onClick(1036, [this] { splashFlag = !splashFlag; });
  onClick(1030, [this] {
    takeTexts();
    values.fillRandom = !values.fillRandom;
  });
  onClick(1071, [this] {
    takeTexts();
    values.closeProgressAuto = !values.closeProgressAuto;
  });
  onClick(1055, [this] {
    takeTexts();
    values.useFileMask = !values.useFileMask;
    enableControl(1002, values.useFileMask);
    update();
  });
  onClick(1054, [this] {
    takeTexts();
    values.useDirMask = !values.useDirMask;
    enableControl(1003, values.useDirMask);
    update();
  });
  onClick(1041, [this] {
    values.useLimitSize = !values.useLimitSize;
    enableControl(1012, values.useLimitSize);
    enableControl(1042, values.useLimitSize);
    update();
  });
  onClick(1076, [this] {
    takeTexts();
    values.allPartition = !values.allPartition;
    updateAllSizeGroup(conditionA());
    update();
  });
  onClick(1035, [this] {
    values.fillSubfolders = !values.fillSubfolders;
    if (!values.fillSubfolders) values.makeUpTree = false;
    enableControl(1065, conditionR());
    checkControl(1065, conditionT());
    updateTreeGroup(conditionT());
  });
  onClick(1065, [this] {
    values.makeUpTree = !values.makeUpTree;
    updateTreeGroup(conditionT());
  });
  onClick(1061, [this] {
    values.byAllSize = true;
    refreshRadios();
  });
  onClick(1062, [this] {
    values.byAllSize = false;
    refreshRadios();
  });
}

void MainDialog::initialise() {
  showTexts();
  setWindowTitle(QString::fromLatin1(kTitle));
  checkControl(1061, conditionA());
  checkControl(1062, !conditionA());
  checkControl(1036, splashFlag);
  checkControl(1030, values.fillRandom);
  checkControl(1035, conditionR());
  checkControl(1065, conditionT());
  checkControl(1031, values.useMaxSize);
  checkControl(1041, values.useLimitSize);
  checkControl(1034, values.useMaxFiles);
  checkControl(1071, values.closeProgressAuto);
  checkControl(1055, values.useFileMask);
  checkControl(1054, values.useDirMask);
  checkControl(1076, values.allPartition);
  enableControl(1035, conditionF());
  enableControl(1065, conditionR());
  enableControl(1007, values.useMaxSize);
  enableControl(1032, values.useMaxSize);
  enableControl(1002, values.useFileMask);
  enableControl(1003, values.useDirMask);
  enableControl(1012, values.useLimitSize);
  enableControl(1042, values.useLimitSize);
  updateAllSizeGroup(conditionA());
  updateFilesNumberGroup(conditionF());
  updateTreeGroup(conditionT());
  updateMaxSizeLabel();
  updateMaxFilesLabel();
  control(1009)->setFocus(Qt::OtherFocusReason);
}

void MainDialog::enableControl(int id, bool enabled) { control(id)->setEnabled(enabled); }

void MainDialog::checkControl(int id, bool checked) {
  static_cast<OwnerDrawButton*>(control(id))->setCheck(checked ? 1 : 0);
}

void MainDialog::setLabel(int id, const char* text) {
  static_cast<QLabel*>(control(id))->setText(QString::fromLatin1(text));
}

void MainDialog::updateMaxFilesLabel() { setLabel(1040, values.useMaxFiles ? "Min files:" : "Files number:"); }

void MainDialog::updateMaxSizeLabel() { setLabel(1050, values.useMaxSize ? "Min size:" : "Files size:"); }

void MainDialog::updateAllSizeGroup(bool e) {
  enableControl(1058, e);
  enableControl(1057, e && !values.allPartition);
  enableControl(1008, e && !values.allPartition);
  enableControl(1039, e && !values.allPartition);
  enableControl(1076, e);
}

void MainDialog::updateFilesNumberGroup(bool e) {
  enableControl(1059, e);
  enableControl(1041, e);
  enableControl(1012, e && values.useLimitSize);
  enableControl(1042, e && values.useLimitSize);
  enableControl(1040, e);
  enableControl(1010, e);
  enableControl(1034, e);
  enableControl(1011, e && values.useMaxFiles);
}

void MainDialog::updateTreeGroup(bool e) {
  enableControl(1060, e);
  enableControl(1054, e);
  enableControl(1003, e && values.useDirMask);
  for (int id : {1063, 1047, 1064, 1048, 1068, 1067}) enableControl(id, e);
}

void MainDialog::refreshRadios() {
  updateAllSizeGroup(conditionA());
  updateFilesNumberGroup(conditionF());
  updateTreeGroup(conditionT());
  checkControl(1035, conditionR());
  enableControl(1035, conditionF());
  enableControl(1065, conditionR());
  checkControl(1065, conditionT());
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
  QDialog::keyPressEvent(event);
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
  sysMenu->popup(event->globalPos());
  event->accept();
}

void MainDialog::openScriptsHelp() { openOrActivateScriptsHelp(this); }

void MainDialog::showAboutBox() {
  RegistryAccess access(services.store);
  AboutDialog about(access, this);
  about.exec();
}

}  // namespace quillet
