#include "ui/qt_failure_presenter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include "ui/message_box.h"

namespace quillet {

QtFailurePresenter::QtFailurePresenter(QString applicationTitle, QWidget* owner)
    : title(std::move(applicationTitle)), ownerWindow(owner), uiContext(new QObject) {}

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
  QMetaObject::invokeMethod(
      uiContext, [this, caption, message] { showOnUiThread(caption, message); },
      Qt::BlockingQueuedConnection);
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
