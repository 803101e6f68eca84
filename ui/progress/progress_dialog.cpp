#include "ui/progress/progress_dialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QWindowStateChangeEvent>

#include "ui/progress/number_progress_dialog.h"
#include "ui/progress/size_progress_dialog.h"
#include "ui/progress/verify_progress_dialog.h"
#include "ui/system_colors.h"

namespace quillet {

ProgressDialog::ProgressDialog(FileSystem& fileSystem, ProgressKind dialogKind)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      fs(fileSystem),
      kind(dialogKind),
      units(dialogFont()) {
  const ProgressFrame frame = progressFrame(kind);
  setObjectName(QString::fromLatin1(frame.objectName));
  setFont(dialogFont());
  setWindowTitle(QString::fromLatin1(frame.title));
  setModal(true);
  setFixedSize(units.toPixels(QSize(frame.width, frame.height)));
  buildControls();
  timer.setInterval(kPollMilliseconds);
  connect(&timer, &QTimer::timeout, this, &ProgressDialog::refresh);
}

void ProgressDialog::buildControls() {
  for (const ProgressControlRow& row : progressControlRows(kind)) {
    QWidget* widget = nullptr;
    switch (row.kind) {
      case ProgressControlKind::Label: widget = new QLabel(QString::fromLatin1(row.text), this); break;
      case ProgressControlKind::Bar: {
        auto* bar = new ColorProgressBar(this);
        bar->setColor(colorOf(row.color));
        widget = bar;
        break;
      }
      case ProgressControlKind::Button:
        stop = new OwnerDrawButton(QString::fromLatin1(row.text), this);
        connect(stop, &QAbstractButton::clicked, this, &ProgressDialog::stopClicked);
        widget = stop;
        break;
    }
    widget->setObjectName(QString::fromLatin1(row.name));
    units.place(widget, row.x, row.y, row.width, row.height);
    controls[row.item] = widget;
  }
}

void ProgressDialog::showText(ProgressItem item, const std::string& text, const std::string& before) {
  const auto found = controls.find(item);
  if (found == controls.end() || text == before) return;
  static_cast<QLabel*>(found->second)->setText(QString::fromStdString(text));
}

void ProgressDialog::showBar(ProgressItem item, BarSetting setting, BarSetting before) {
  const auto found = controls.find(item);
  if (found == controls.end() || setting == before) return;
  auto* bar = static_cast<ColorProgressBar*>(found->second);
  // A new range resets the bar's position; a position alone keeps the range.
  if (setting.upper != before.upper) bar->setRange(0, setting.upper);
  bar->setPos(setting.pos);
}

void ProgressDialog::showView() {
  using I = ProgressItem;
  showBar(I::FoldersBar, view.foldersBar, shown.foldersBar);
  showBar(I::SizeBar, view.sizeBar, shown.sizeBar);
  showBar(I::UsedDataBar, view.usedDataBar, shown.usedDataBar);
  showText(I::FirstLabel, view.firstLabel, shown.firstLabel);
  showText(I::SecondLabel, view.secondLabel, shown.secondLabel);
  showText(I::FoldersValue, view.foldersValue, shown.foldersValue);
  showText(I::FirstValue, view.firstValue, shown.firstValue);
  showText(I::SecondValue, view.secondValue, shown.secondValue);
  showText(I::StatusValue, view.statusValue, shown.statusValue);
  showText(I::UsedDataValue, view.usedDataValue, shown.usedDataValue);
  showText(I::FilesValue, view.filesValue, shown.filesValue);
  showText(I::SizeValue, view.sizeValue, shown.sizeValue);
  showText(I::DamagedValue, view.damagedValue, shown.damagedValue);
  showBar(I::DamagedBar, view.damagedBar, shown.damagedBar);
  if (view.closeMode && !closeMode) enterCloseMode();
  shown = view;
}

void ProgressDialog::refresh() {
  if (verifyJob != nullptr) {
    const ProgressEnding ending = refreshVerifyProgress(*verifyJob, verifyAutoClose, view);
    showView();
    if (ending == ProgressEnding::Accepted) done(Accepted);
    if (ending == ProgressEnding::Rejected) done(Rejected);
    return;
  }
  if (generationJob == nullptr) return;
  // The query may take a while on a busy volume; the worker must not wait for it.
  queryVolume(fs, generationJob->rootFolder, volume);
  const ProgressEnding ending = refreshProgress(kind, *generationJob, volume, view);
  showView();
  // Ending is done outside the job's lock, so that nothing reacting to the dialog's end can meet
  // the lock held.
  if (ending == ProgressEnding::Accepted) done(Accepted);
  if (ending == ProgressEnding::Rejected) done(Rejected);
}

void ProgressDialog::enterCloseMode() {
  closeMode = true;
  stop->setText(QString::fromLatin1(kCloseText));
  stop->setBold(true);
  emit closeModeChanged(true);
}

void ProgressDialog::stopClicked() {
  if (verifyJob != nullptr) verifyJob->requestStop();
  if (generationJob != nullptr) generationJob->requestStop();
}

void ProgressDialog::reject() { stopClicked(); }

void ProgressDialog::done(int result) {
  // The poll lives as long as the dialog is up; a finished dialog polls no more.
  timer.stop();
  QDialog::done(result);
}

void ProgressDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // OK closes a dialog that has no job; with a job only Stop, Close or Esc end it.
      if (generationJob == nullptr && verifyJob == nullptr) done(Accepted);
      event->accept();
      return;
    case Qt::Key_F1: event->accept(); return;
    default: QDialog::keyPressEvent(event);
  }
}

void ProgressDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!timer.isActive()) timer.start();
  stop->setFocus(Qt::OtherFocusReason);
}

namespace {
void restoreWindow(QWidget* window) {
  if (window->isMinimized()) window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
}
}  // namespace

void ProgressDialog::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || ownerWindow == nullptr) return;
  const auto* change = static_cast<QWindowStateChangeEvent*>(event);
  if (isMinimized()) {
    ownerWindow->setWindowState(ownerWindow->windowState() | Qt::WindowMinimized);
  } else if (change->oldState() & Qt::WindowMinimized) {
    restoreWindow(ownerWindow);
  }
}

void ProgressDialog::closeEvent(QCloseEvent* event) {
  if (ownerWindow != nullptr) restoreWindow(ownerWindow);
  QDialog::closeEvent(event);  // goes on to reject(), which stops rather than closes
}

std::unique_ptr<ProgressDialog> makeProgressDialog(FileSystem& fileSystem, ProgressKind kind) {
  if (kind == ProgressKind::Size) return std::make_unique<SizeProgressDialog>(fileSystem);
  if (kind == ProgressKind::Verify) return std::make_unique<VerifyProgressDialog>(fileSystem);
  return std::make_unique<NumberProgressDialog>(fileSystem);
}

}  // namespace quillet
