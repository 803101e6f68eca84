// Tests of the failure presenter: a worker's call waits for the box the UI thread shows, the UI
// thread's timers keep running meanwhile, and both captions.
#include "ui/qt_failure_presenter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

using namespace quillet;

namespace {
QMessageBox* openBox() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); }
}  // namespace

class QtFailurePresenterTest : public QObject {
  Q_OBJECT

 private slots:
  void workerWaitsForTheBoxWhileTimersKeepRunning() {
    QtFailurePresenter presenter(QStringLiteral("Talvane Quillet"));
    std::atomic<bool> returned{false};
    std::thread worker([&] {
      presenter.showError(FailurePresenter::Caption::Error, "Cannot create file.\n\nDisk error.");
      returned = true;
    });
    int ticks = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, [&] { ++ticks; });
    poll.start(10);
    QTRY_VERIFY(openBox() != nullptr);
    QMessageBox* box = openBox();
    QCOMPARE(box->windowTitle(), QStringLiteral("Error"));
    QCOMPARE(box->text(), QStringLiteral("Cannot create file.\n\nDisk error."));
    QCOMPARE(box->icon(), QMessageBox::Critical);
    QCOMPARE(box->standardButtons(), QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box->parentWidget(), nullptr);
    const int ticksBefore = ticks;
    QTest::qWait(100);
    QVERIFY(ticks > ticksBefore);  // the polling goes on while the box waits
    QVERIFY(!returned);
    box->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(returned);
    worker.join();
  }

  void applicationCaptionUsesTitleAndOwner() {
    QWidget mainWindow;
    mainWindow.show();
    QtFailurePresenter presenter(QStringLiteral("Talvane Quillet"), &mainWindow);
    QString title;
    QWidget* owner = nullptr;
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY(openBox() != nullptr);
      title = openBox()->windowTitle();
      owner = openBox()->parentWidget();
      openBox()->accept();
    });
    // On the UI thread the box is shown directly.
    presenter.showError(FailurePresenter::Caption::Application, "Destination is full.");
    QCOMPARE(title, QStringLiteral("Talvane Quillet"));
    QCOMPARE(owner, &mainWindow);
  }
};

QTEST_MAIN(QtFailurePresenterTest)
#include "qt_failure_presenter_test.moc"
