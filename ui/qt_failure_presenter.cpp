#include "ui/qt_failure_presenter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include "script/failure_text.h"
#include "ui/message_box.h"

namespace quillet {

// Runs the handed-over box in the UI thread. The call is made by name, so the queued event is built
// inside Qt and carries no data of ours.
class FailureBoxCourier : public QObject {
  Q_OBJECT
 public:
  explicit FailureBoxCourier(QtFailurePresenter& owner) : presenter(owner) {}
  Q_INVOKABLE void showHandedOver() { presenter.showHandedOver(); }

 private:
  QtFailurePresenter& presenter;
};

QtFailurePresenter::QtFailurePresenter(QString applicationTitle, QWidget* owner)
    : title(std::move(applicationTitle)), ownerWindow(owner), uiContext(new FailureBoxCourier(*this)) {}

QtFailurePresenter::~QtFailurePresenter() { delete uiContext; }

void QtFailurePresenter::showOnUiThread(Caption caption, const QString& text) {
  showMessageBox(failureBox(caption, text.toStdString(), title.toStdString()), ownerWindow.data(),
                 QStringLiteral("failureMessage"));
}

void QtFailurePresenter::showError(Caption caption, const std::string& text) {
  const QString message = QString::fromStdString(text);
  if (QThread::currentThread() == uiContext->thread()) {
    showOnUiThread(caption, message);
    return;
  }
  const std::lock_guard turn(oneBoxAtATime);
  {
    const std::lock_guard lock(handOver);
    pendingCaption = caption;
    pendingText = message;
  }
  QMetaObject::invokeMethod(uiContext, "showHandedOver", Qt::BlockingQueuedConnection);
}

void QtFailurePresenter::present(const RunFailure& failure) {
  showError(failureCaption(failure), failureBoxText(failure));
}

void QtFailurePresenter::showHandedOver() {
  Caption caption;
  QString message;
  {
    const std::lock_guard lock(handOver);
    caption = pendingCaption;
    message = pendingText;
  }
  showOnUiThread(caption, message);
}

void joinWorkerServingEvents(WorkerThread& worker, const GenerationJob& job) {
  if (!worker.started()) return;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (job.finished.load()) loop.quit();
  });
  poll.start(10);
  if (!job.finished.load()) loop.exec();
  worker.join();
}

}  // namespace quillet

#include "qt_failure_presenter.moc"
