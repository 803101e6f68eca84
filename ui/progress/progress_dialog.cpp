#include "ui/progress/progress_dialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QWindowStateChangeEvent>

namespace quillet {

ProgressDialog::ProgressDialog(FileSystem& fileSystem, QSize sizeInDialogUnits)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      units(dialogFont()),
      fs(fileSystem) {
  setFont(dialogFont());
  setWindowTitle(QStringLiteral("Generating"));
  setModal(true);
  setFixedSize(units.toPixels(sizeInDialogUnits));
  timer.setInterval(kPollMilliseconds);
  connect(&timer, &QTimer::timeout, this, &ProgressDialog::refresh);
}

QLabel* ProgressDialog::addLabel(const QString& text, int x, int y, int width, int height,
                                 const QString& name) {
  auto* label = new QLabel(text, this);
  label->setObjectName(name);
  units.place(label, x, y, width, height);
  return label;
}

ColorProgressBar* ProgressDialog::addBar(const QColor& color, int x, int y, int width, int height,
                                         const QString& name) {
  auto* bar = new ColorProgressBar(this);
  bar->setObjectName(name);
  bar->setColor(color);
  units.place(bar, x, y, width, height);
  return bar;
}

void ProgressDialog::addStopButton(int x, int y, int width, int height) {
  stop = new OwnerDrawButton(QStringLiteral("Stop"), this);
  stop->setObjectName(QStringLiteral("stopButton"));
  units.place(stop, x, y, width, height);
  connect(stop, &QAbstractButton::clicked, this, &ProgressDialog::stopClicked);
}

void ProgressDialog::setBar(ColorProgressBar* bar, BarSetting setting) {
  bar->setRange(0, setting.upper);
  bar->setPos(setting.pos);
}

void ProgressDialog::showUsedData() {
  setBar(usedDataBar, scaleBar(static_cast<double>(volumeUsed), static_cast<double>(volumeTotal), 2));
}

void ProgressDialog::queryVolume() {
  // A failed query keeps the last figures (zero before the first success).
  const Result<VolumeSpace> space = fs.volumeSpace(generationJob->rootFolder);
  if (space.ok()) {
    volumeFree = static_cast<std::uint64_t>(space.value().availableToCaller);
    volumeTotal = static_cast<std::uint64_t>(space.value().total);
  }
  volumeUsed = static_cast<std::int64_t>(volumeTotal - volumeFree);
}

void ProgressDialog::refresh() {
  if (generationJob == nullptr) return;
  // The query may take a while on a busy volume; the worker must not wait for it.
  queryVolume();
  int ending = -1;
  {
    std::lock_guard guard(generationJob->lock);
    ProgressSnapshot snapshot = generationJob->snapshotLocked();
    if (snapshot.finished) {
      if (snapshot.autoClose) {
        ending = Accepted;
      } else {
        if (!closeMode) enterCloseMode();
        generationJob->statusText = kGenerationComplete;
        snapshot.statusText = kGenerationComplete;
        forceBarsFull();
      }
    }
    if (snapshot.stopRequested) ending = snapshot.finished ? Accepted : Rejected;
    refreshStage(snapshot);
  }
  pushValues();
  // Ending only marks the dialog; it is done outside the lock so that nothing reacting to the
  // dialog's end can meet the lock held.
  if (ending >= 0) done(ending);
}

void ProgressDialog::enterCloseMode() {
  closeMode = true;
  stop->setText(QStringLiteral("Close"));
  stop->setBold(true);
  emit closeModeChanged(true);
}

void ProgressDialog::stopClicked() {
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
      if (generationJob == nullptr) done(Accepted);
      event->accept();
      return;
    case Qt::Key_F1:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
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

}  // namespace quillet
