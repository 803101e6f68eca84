// The main dialog: the shared control table laid out with Qt widgets, the data exchange and the
// enabling rules applied to them, click and focus handlers, closing, and the Generate press.
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
#include "frontend/field_checks.h"
#include "frontend/interactive_startup.h"
#include "frontend/message_boxes.h"
#include "frontend/progress_view.h"
#include "frontend/run_preparation.h"
#include "frontend/windowed_verify.h"
#include "platform/path.h"
#include "script/report_series.h"
#include "settings/registry_access.h"
#include "ui/controls/dialog_group.h"
#include "ui/controls/flat_edit.h"
#include "ui/controls/owner_draw_button.h"
#include "ui/controls/owner_draw_check_box.h"
#include "ui/controls/owner_draw_radio_button.h"
#include "ui/help/about_dialog.h"
#include "ui/help/help_resources.h"
#include "ui/help/scripts_help_window.h"
#include "ui/main/folder_browser.h"
#include "ui/main/speed_chart_window.h"
#include "ui/message_box.h"
#include "ui/progress/progress_dialog.h"

namespace quillet {

namespace {

using C = MainControl;
using Kind = ControlKind;

// The data exchange over the dialog's edits and unit lists.
class QtMainDialogTexts : public MainDialogTexts {
 public:
  explicit QtMainDialogTexts(const MainDialog& dialog) : dialog(dialog) {}

  std::string text(MainControl id) const override { return edit(id)->text().toStdString(); }
  void setText(MainControl id, const std::string& text, int maxLength) override {
    QLineEdit* box = edit(id);
    const QString shown = QString::fromStdString(text);
    box->setMaxLength(maxLength);
    if (box->text() != shown) box->setText(shown);
  }
  int unitIndex(MainControl id) const override { return list(id)->currentIndex(); }
  void setUnitIndex(MainControl id, int index) override { list(id)->setCurrentIndex(index); }

 private:
  QLineEdit* edit(MainControl id) const { return static_cast<QLineEdit*>(dialog.control(id)); }
  QComboBox* list(MainControl id) const { return static_cast<QComboBox*>(dialog.control(id)); }
  const MainDialog& dialog;
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

MainDialog::MainDialog(const MainDialogServices& services, bool& showSplash, QWidget* parent)
    : QDialog(parent),
      services(services),
      splashFlag(showSplash),
      values(loadMainDialogFields(services.store, QDir::homePath().toStdString())),
      failurePresenter(QString::fromLatin1(kTitle), this) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(programIcon());
  setFont(dialogFont());
  setFixedSize(units.toPixels(QSize(kMainDialogFrame.width, kMainDialogFrame.height)));
  buildControls();
  attachHandlers();
  initialise();
}

MainDialog::~MainDialog() {
  saveMainDialogFields(services.store, values, splashFlag, services.settingsErrors);
}

QWidget* MainDialog::control(MainControl id) const {
  const auto found = controls.find(id);
  return found == controls.end() ? nullptr : found->second;
}

void MainDialog::buildControls() {
  auto* digitsOnly = new DigitsOnly(this);
  QWidget* previousFocusable = nullptr;
  for (const ControlRow& row : mainControlRows()) {
    const QString text = QString::fromLatin1(row.text);
    QWidget* widget = nullptr;
    switch (row.kind) {
      case Kind::Label: widget = new QLabel(text, this); break;
      case Kind::GroupBox: widget = new QGroupBox(text, this); break;
      case Kind::Edit:
      case Kind::NumberEdit: {
        auto* edit = new QLineEdit(this);
        new FlatEdit(edit);
        if (row.style & kStyleDigitsOnly) edit->installEventFilter(digitsOnly);
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
      case Kind::CheckBox: widget = new OwnerDrawCheckBox(text, this); break;
      case Kind::Radio: widget = new OwnerDrawRadioButton(text, this); break;
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
    if ((row.style & kStyleTabStop) && widget->focusPolicy() != Qt::NoFocus) {
      if (previousFocusable != nullptr) setTabOrder(previousFocusable, widget);
      previousFocusable = widget;
    }
  }
  for (const ControlRow& row : mainControlRows()) {
    if (row.id && (row.style & kStyleGroupStart)) setGroupStart(control(*row.id));
  }
  for (const FocusCheck& check : mainFocusChecks()) {
    control(check.id)->installEventFilter(this);
    focusChecks[control(check.id)] = check.check;
  }

  sysMenu = new QMenu(this);
  sysMenu->setObjectName(QStringLiteral("systemMenu"));
  for (const SystemMenuItem& item : mainSystemMenu()) {
    if (!item.command) {
      sysMenu->addSeparator();
      continue;
    }
    const SystemCommand command = *item.command;
    QAction* action = sysMenu->addAction(QString::fromLatin1(item.text), this,
                                         [this, command] { runSystemCommand(command); });
    if (command == SystemCommand::About) aboutItem = action;
  }
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
  // A click that changes an option: the option first, then every control brought in line.
  for (const OptionToggle& toggle : mainOptionToggles()) {
    onClick(toggle.id, [this, toggle] {
      if (toggle.takesTextsFirst) takeTexts();
      toggleOption(toggle.id, values, splashFlag);
      applyEnablingRules();
    });
  }
}

void MainDialog::initialise() {
  showTexts();
  setWindowTitle(QString::fromLatin1(kTitle));
  applyEnablingRules();
  control(C::GenerateButton)->setFocus(Qt::OtherFocusReason);
}

void MainDialog::applyEnablingRules() {
  const MainDialogAppearance appearance = mainDialogAppearance(values, splashFlag);
  for (const MainDialogAppearance::Check& check : appearance.checks) {
    static_cast<OwnerDrawButton*>(control(check.id))->setCheck(check.checked ? 1 : 0);
  }
  for (const MainDialogAppearance::Enable& enable : appearance.enables)
    control(enable.id)->setEnabled(enable.enabled);
  for (const MainDialogAppearance::Label& label : appearance.labels) {
    static_cast<QLabel*>(control(label.id))->setText(QString::fromLatin1(label.text));
  }
  update();
}

void MainDialog::takeTexts() { quillet::takeTexts(QtMainDialogTexts(*this), values); }

void MainDialog::showTexts() {
  QtMainDialogTexts texts(*this);
  quillet::showTexts(values, texts);
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
  const PreparationOutcome outcome = runs.prepare(values, services.fs);
  showTexts();
  if (outcome == PreparationOutcome::EmptyRoot) {
    showMessageBox(emptyRootBox(), this, QStringLiteral("emptyRootMessage"));
    emit runEnded(false);
    return;
  }
  if (outcome == PreparationOutcome::RelativeRoot) {
    failurePresenter.showError(FailureCaption::Error, relativeRootMessage(values.rootFolderText));
    emit runEnded(false);
    return;
  }
  const EngineServices engine{services.fs, services.clock, failurePresenter};
  GenerationJob& generationJob = runs.job();
  if (!createRootFolder(generationJob, engine)) {
    emit runEnded(false);
    return;
  }
  WorkerThread worker(generationJob, engine);
  lastRead = false;
  sampler = std::make_unique<RateSampler>([this] { return sampleOf(runs.job()); });
  std::unique_ptr<ProgressDialog> progress = makeProgressDialog(services.fs, progressKindFor(generationJob));
  progress->setJob(&generationJob);
  progress->setOwnerWindow(this);
  worker.start();
  progress->exec();
  progress.reset();
  // A stop closes the progress dialog before the worker has ended; the job may be refilled only
  // once it has. Events keep flowing meanwhile so a failure box the worker waits on can be answered.
  joinWorkerServingEvents(worker, generationJob);
  lastSamples = sampler->finish().samples();
  sampler.reset();
  emit runEnded(true);
}

void MainDialog::reject() {
  takeTexts();
  // The question takes the focus from an edit; its check must not change what is saved.
  checksSuppressed = true;
  if (showMessageBox(exitQuestionBox(), this, QStringLiteral("exitQuestion")) == QMessageBox::Ok) {
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

void MainDialog::runSystemCommand(SystemCommand command) {
  switch (command) {
    case SystemCommand::Minimize: showMinimized(); return;
    case SystemCommand::Close: closeCommand(); return;
    case SystemCommand::VerifyFolder: verifyFolder(); return;
    case SystemCommand::SpeedChart: openSpeedChart(); return;
    case SystemCommand::About: showAboutBox(); return;
  }
}

void MainDialog::verifyFolder() {
  takeTexts();
  FolderBrowser browser(QString::fromStdString(values.rootFolderText));
  browser.title = QString::fromLatin1(kVerifyBrowseTitle);
  if (!browser.browse(this)) {
    emit verifyEnded(false);
    return;
  }
  WindowedVerify verify(browser.selectedPath.toStdString());
  std::unique_ptr<ProgressDialog> progress = makeProgressDialog(services.fs, ProgressKind::Verify);
  progress->setVerifyJob(&verify.job(), values.closeProgressAuto);
  progress->setOwnerWindow(this);
  lastRead = true;
  sampler = std::make_unique<RateSampler>([&verify] { return sampleOf(verify.job()); });
  verify.start(services.fs);
  progress->exec();
  progress.reset();
  // A stop closes the dialog while the worker finishes the file it reads; its result is whole
  // only once it has ended.
  verify.join();
  lastSamples = sampler->finish().samples();
  sampler.reset();
  showMessageBox(verifyResultBox(verify.result()), this, QStringLiteral("verifyResult"));
  emit verifyEnded(true);
}

void MainDialog::openSpeedChart() {
  if (chartWindow) {
    chartWindow->raise();
    chartWindow->activateWindow();
    return;
  }
  chartWindow = new SpeedChartWindow(
      [this] { return std::make_pair(sampler ? sampler->samplesSoFar() : lastSamples, lastRead); }, this);
  chartWindow->show();
}

void MainDialog::openScriptsHelp() { openOrActivateScriptsHelp(this); }

void MainDialog::showAboutBox() {
  RegistryAccess access(services.store);
  AboutDialog about(access, this);
  about.exec();
}

}  // namespace quillet
