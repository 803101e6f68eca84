// Tests of the by-all-size progress dialog, driven by a test thread that updates the job the way
// the worker does.
#include "ui/progress/size_progress_dialog.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "testing/fake_file_system.h"
#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {
struct Fixture {
  FakeFileSystem fs;
  GenerationJob job;
  SizeProgressDialog dialog{fs};

  Fixture() {
    fs.addFolder("/volume/root");
    fs.totalBytes = 1000;
    fs.freeBytes = 250;
    job.rootFolder = "/volume/root/";
    job.autoClose = false;
    job.allSize = 10000;
    dialog.setJob(&job);
  }
  QString text(const char* name) const { return dialog.findChild<QLabel*>(QLatin1String(name))->text(); }
  ColorProgressBar* bar(const char* name) const {
    return dialog.findChild<ColorProgressBar*>(QLatin1String(name));
  }
  void finish() {
    std::lock_guard guard(job.lock);
    job.finished = true;
  }
};
}  // namespace

class SizeProgressDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void closesOnFirstTickAfterFinishedWithAutoClose() {
    Fixture f;
    f.job.autoClose = true;
    QSignalSpy closeMode(&f.dialog, &ProgressDialog::closeModeChanged);
    std::thread worker([&] {
      for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        f.job.currentSize += 2000;
      }
      f.finish();
    });
    QCOMPARE(f.dialog.exec(), int(QDialog::Accepted));
    worker.join();
    QCOMPARE(closeMode.count(), 0);
  }

  void finishedWithoutAutoCloseShowsBoldCloseAndFullSizeBar() {
    Fixture f;
    f.job.currentSize = 5000;
    f.finish();
    f.dialog.show();
    f.dialog.refresh();
    QVERIFY(f.dialog.isCloseMode());
    QCOMPARE(f.dialog.stopButton()->text(), QStringLiteral("Close"));
    QVERIFY(f.dialog.stopButton()->isBold());
    QCOMPARE(f.text("statusValue"), QStringLiteral("Generation complete"));
    QCOMPARE(f.bar("sizeBar")->pos(), 1000);
    QCOMPARE(f.bar("usedDataBar")->pos(), 749);  // the used-data bar is not forced
    QCOMPARE(f.text("sizeValue"), QStringLiteral("4.88 Kb"));
    saveScreenshot(&f.dialog, QStringLiteral("size_progress_complete"));
    QTest::mouseClick(f.dialog.stopButton(), Qt::LeftButton);
    f.dialog.refresh();
    QVERIFY(!f.dialog.isVisible());
    QCOMPARE(f.dialog.result(), int(QDialog::Accepted));
  }

  // A run whose names ran out at 45 % of its total shows 45 %, not a full bar, and says why.
  void aRunEndedShortShowsTheShareWrittenAndWhy() {
    Fixture f;
    f.job.allSize = 200;
    f.job.currentSize = 90;
    f.dialog.show();
    f.dialog.refresh();
    QCOMPARE(f.text("statusValue"), QStringLiteral("Generating files"));
    {
      std::lock_guard guard(f.job.lock);
      f.job.result = GenerationResult::NamesUsedUp;
      f.job.finished = true;
    }
    f.dialog.refresh();
    QVERIFY(f.dialog.isCloseMode());
    QCOMPARE(f.text("statusValue"), QStringLiteral("Ended: names used up"));
    QCOMPARE(f.bar("sizeBar")->upper(), 990);
    QCOMPARE(f.bar("sizeBar")->pos(), 447);
    saveScreenshot(&f.dialog, QStringLiteral("size_progress_names_used_up"));
  }

  void stopClosesWithinOneTickBeforeTheWorkerFinishes() {
    Fixture f;
    std::atomic<bool> quit{false};
    std::thread worker([&] {
      while (!f.job.stopRequested && !quit) {
        f.job.currentSize += 10;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      for (int i = 0; i < 100 && !quit; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      f.finish();
    });
    QElapsedTimer sinceStop;
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY(!f.text("filesValue").isEmpty());  // a tick has shown the running figures
      saveScreenshot(&f.dialog, QStringLiteral("size_progress_generating"));
      sinceStop.start();
      QTest::mouseClick(f.dialog.stopButton(), Qt::LeftButton);
    });
    const int result = f.dialog.exec();
    const qint64 waited = sinceStop.elapsed();
    const bool finishedAtClose = f.job.finished;
    quit = true;
    worker.join();
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(!finishedAtClose);
    QVERIFY2(waited <= 250, qPrintable(QStringLiteral("closed after %1 ms").arg(waited)));
  }

  void millionFilesShowInExponentForm() {
    Fixture f;
    f.job.filesCreated = 1000000;
    f.dialog.refresh();
    QCOMPARE(f.text("filesValue"), QStringLiteral("1e+06"));
  }

  void allPartitionBarTotalGrowsByFreeSpaceAndTheBarDropsBack() {
    Fixture f;
    f.job.allPartition = true;
    f.job.allSize = 1000;
    f.job.currentSize = 2000;
    f.fs.freeBytes = 5000;
    f.fs.totalBytes = 100000;
    f.dialog.refresh();
    QCOMPARE(f.bar("sizeBar")->pos(), 1998);  // this tick still scaled by the run's total
    f.dialog.refresh();
    QCOMPARE(f.job.allSize, std::int64_t(1000));  // the bar's total grew, not the job's
    QCOMPARE(f.bar("sizeBar")->upper(), 999);
    QCOMPARE(f.bar("sizeBar")->pos(), 333);
  }
};

QTEST_MAIN(SizeProgressDialogTest)
#include "size_progress_dialog_test.moc"
