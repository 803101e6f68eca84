// Tests of the failure presenter: a worker's call waits for the box the UI thread shows, the UI
// thread's timers keep running meanwhile, and both captions.
#include "ui/qt_failure_presenter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "ui/ui_test_support.h"

using namespace quillet;

namespace {
QMessageBox* openBox() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }

// Once a message box is up (its own modal loop is running then), hands it to look after holdMs
// milliseconds; look must close it.
void whenBoxShown(int holdMs, std::function<void(QMessageBox*)> look) {
  auto* poll = new QTimer;
  auto* shown = new QElapsedTimer;
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, shown, holdMs, look] {
    QMessageBox* box = openBox();
    if (box == nullptr || !box->isVisible()) return;
    if (!shown->isValid()) shown->start();
    if (shown->elapsed() < holdMs) return;
    poll->stop();
    poll->deleteLater();
    delete shown;
    look(box);
  });
  poll->start();
}
}  // namespace

class QtFailurePresenterTest : public QObject {
  Q_OBJECT

 private slots:
  void workerWaitsForTheBoxWhileTimersKeepRunning() {
    QtFailurePresenter presenter(QStringLiteral("Talvane Quillet"));
    std::atomic<bool> returned{false};
    int ticks = 0;
    QTimer progressPoll;
    connect(&progressPoll, &QTimer::timeout, [&] { ++ticks; });
    progressPoll.start(10);
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QWidget notSeen;
    QWidget* owner = &notSeen;
    bool returnedWhileShown = true;
    int ticksWhileShown = 0;
    int ticksAtStart = 0;
    whenBoxShown(0, [&](QMessageBox*) { ticksAtStart = ticks; });
    whenBoxShown(150, [&](QMessageBox* box) {
      title = box->windowTitle();
      text = box->text();
      icon = box->icon();
      buttons = box->standardButtons();
      owner = box->parentWidget();
      returnedWhileShown = returned;
      ticksWhileShown = ticks - ticksAtStart;
      quillet::test_support::saveScreenshot(box, QStringLiteral("failure_message"));
      box->button(QMessageBox::Ok)->click();
    });
    std::thread worker([&] {
      presenter.showError(FailureCaption::Error, "Cannot create file.\n\nDisk error.");
      returned = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(returned, 10000);
    worker.join();
    QCOMPARE(title, QStringLiteral("Error"));
    QCOMPARE(text, QStringLiteral("Cannot create file.\n\nDisk error."));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(owner, nullptr);
    QVERIFY(!returnedWhileShown);   // the worker waited for the answer
    QVERIFY(ticksWhileShown >= 5);  // while the UI thread's timers kept running
  }

  void applicationCaptionUsesTitleAndOwnerAndShowsDirectlyOnTheUiThread() {
    QWidget mainWindow;
    mainWindow.show();
    QtFailurePresenter presenter(QStringLiteral("Talvane Quillet"), &mainWindow);
    QString title;
    QWidget* owner = nullptr;
    whenBoxShown(0, [&](QMessageBox* box) {
      title = box->windowTitle();
      owner = box->parentWidget();
      box->accept();
    });
    presenter.showError(FailureCaption::Application, "Destination is full.");
    QCOMPARE(title, QStringLiteral("Talvane Quillet"));
    QCOMPARE(owner, &mainWindow);
  }
};

QTEST_MAIN(QtFailurePresenterTest)
#include "qt_failure_presenter_test.moc"
