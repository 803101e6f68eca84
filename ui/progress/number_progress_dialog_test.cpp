// Tests of the by-files-number progress dialog, driven by a test thread that updates the job the
// way the worker does (counters as atomics, stage and finished under the lock).
#include "ui/progress/number_progress_dialog.h"

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
constexpr const char* kRoot = "/volume/root/";

struct Fixture {
  FakeFileSystem fs;
  GenerationJob job;
  NumberProgressDialog dialog{fs};

  Fixture() {
    fs.addFolder("/volume/root");
    fs.totalBytes = 1000;
    fs.freeBytes = 250;
    job.rootFolder = kRoot;
    job.byAllSize = false;
    job.autoClose = false;
    dialog.setJob(&job);
  }
  QString text(const char* name) const { return dialog.findChild<QLabel*>(QLatin1String(name))->text(); }
  ColorProgressBar* bar(const char* name) const {
    return dialog.findChild<ColorProgressBar*>(QLatin1String(name));
  }
  void setStage(RunStage stage) { job.enterStage(stage); }
  void finish() {
    std::lock_guard guard(job.lock);
    job.finished = true;
  }
};
}  // namespace

class NumberProgressDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void closesOnFirstTickAfterFinishedWithAutoClose() {
    Fixture f;
    f.job.autoClose = true;
    f.setStage(RunStage::GeneratingFiles);
    QSignalSpy closeMode(&f.dialog, &ProgressDialog::closeModeChanged);
    std::thread worker([&] {
      for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        std::lock_guard guard(f.job.lock);
        ++f.job.filesCreated;
      }
      f.finish();
    });
    QCOMPARE(f.dialog.exec(), int(QDialog::Accepted));
    worker.join();
    QCOMPARE(closeMode.count(), 0);
    QCOMPARE(f.dialog.stopButton()->text(), QStringLiteral("Stop"));
  }

  void finishedWithoutAutoCloseShowsBoldCloseAndComplete() {
    Fixture f;
    f.setStage(RunStage::GeneratingFiles);
    f.job.filesCreated = 12;
    f.finish();
    f.dialog.show();
    f.dialog.refresh();
    QVERIFY(f.dialog.isCloseMode());
    QCOMPARE(f.dialog.stopButton()->text(), QStringLiteral("Close"));
    QVERIFY(f.dialog.stopButton()->isBold());
    QCOMPARE(f.text("statusValue"), QStringLiteral("Generation complete"));
    QCOMPARE(f.job.snapshot().stage, RunStage::GeneratingFiles);  // the dialog only reads the job
    for (const char* name : {"foldersBar", "sizeBar"}) {
      QCOMPARE(f.bar(name)->upper(), 1000);
      QCOMPARE(f.bar(name)->pos(), 1000);
    }
    QCOMPARE(f.text("firstValue"), QStringLiteral("12"));
    saveScreenshot(&f.dialog, QStringLiteral("number_progress_complete"));

    QTest::keyClick(&f.dialog, Qt::Key_Return);  // Enter does nothing while there is a job
    f.dialog.refresh();
    QVERIFY(f.dialog.isVisible());
    QTest::keyClick(&f.dialog, Qt::Key_Escape);  // Esc acts as Close: the next tick ends it
    QVERIFY(f.job.stopRequested);
    QVERIFY(f.dialog.isVisible());
    f.dialog.refresh();
    QVERIFY(!f.dialog.isVisible());
    QCOMPARE(f.dialog.result(), int(QDialog::Accepted));
  }

  void stopClosesWithinOneTickBeforeTheWorkerFinishes() {
    Fixture f;
    f.setStage(RunStage::GeneratingFiles);
    std::atomic<bool> quit{false};
    std::thread worker([&] {
      while (!f.job.stopRequested && !quit) {
        {
          std::lock_guard guard(f.job.lock);
          ++f.job.filesCreated;
        }
        f.job.currentSize += 1024;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
      // A worker still busy with its last block reports finished only later.
      for (int i = 0; i < 100 && !quit; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      f.finish();
    });
    QElapsedTimer sinceStop;
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY(!f.text("firstValue").isEmpty());  // a tick has shown the running figures
      saveScreenshot(&f.dialog, QStringLiteral("number_progress_generating"));
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
    f.setStage(RunStage::GeneratingFiles);
    f.job.filesCreated = 1000000;
    f.dialog.refresh();
    QCOMPARE(f.text("firstValue"), QStringLiteral("1e+06"));
    f.job.filesCreated = 999999;
    f.dialog.refresh();
    QCOMPARE(f.text("firstValue"), QStringLiteral("999999"));
  }

  void stagesRelabelAndLabelsPersist() {
    Fixture f;
    f.job.dirsLimit = 100;
    f.job.dirsCreated = 50;
    f.setStage(RunStage::MakeUpTree);
    f.dialog.refresh();
    QCOMPARE(f.text("firstLabel"), QStringLiteral("Dirs created:"));
    QCOMPARE(f.text("firstValue"), QStringLiteral("50"));
    QCOMPARE(f.text("secondValue"), QStringLiteral("0"));
    QCOMPARE(f.text("foldersValue"), QStringLiteral("0"));
    QCOMPARE(f.bar("sizeBar")->upper(), 980);
    QCOMPARE(f.bar("sizeBar")->pos(), 495);
    saveScreenshot(&f.dialog, QStringLiteral("number_progress_make_up_tree"));

    f.job.dirsCalculated = 7;
    f.setStage(RunStage::CalculatingFolders);
    f.dialog.refresh();
    QCOMPARE(f.text("firstLabel"), QStringLiteral("Dirs created:"));  // kept from the tree stage
    QCOMPARE(f.text("secondLabel"), QStringLiteral("Dirs calculated:"));
    QCOMPARE(f.text("secondValue"), QStringLiteral("7"));
    QCOMPARE(f.bar("sizeBar")->pos(), 0);
    saveScreenshot(&f.dialog, QStringLiteral("number_progress_calculating"));

    f.job.folderFilesPlanned = 9;
    f.job.folderFileIndex = 4;
    f.job.dirsProcessed = 2;
    f.job.currentSize = 1536;
    f.setStage(RunStage::GeneratingFiles);
    f.dialog.refresh();
    QCOMPARE(f.text("firstLabel"), QStringLiteral("Files created:"));
    QCOMPARE(f.text("secondLabel"), QStringLiteral("Current size:"));
    QCOMPARE(f.text("foldersValue"), QStringLiteral("2 of 7"));
    QCOMPARE(f.text("secondValue"), QStringLiteral("1.50 Kb"));
    QCOMPARE(f.bar("sizeBar")->upper(), 801);  // the per-folder files bar ends one further
    QCOMPARE(f.bar("sizeBar")->pos(), 400);
    QCOMPARE(f.bar("foldersBar")->upper(), 875);
    QCOMPARE(f.bar("foldersBar")->pos(), 250);
  }

  void runEndingDuringTheTreeMakeUpLabelsTheFileCount() {
    // The worker made the tree and one file between two ticks: the last tick it showed was the
    // make-up, the next one sees the run finished.
    Fixture f;
    f.job.dirsLimit = 10;
    f.job.dirsCreated = 3;
    f.setStage(RunStage::MakeUpTree);
    f.dialog.refresh();
    QCOMPARE(f.text("firstLabel"), QStringLiteral("Dirs created:"));
    f.job.filesCreated = 1;
    f.job.currentSize = 2048;
    f.finish();
    f.dialog.refresh();
    QCOMPARE(f.text("statusValue"), QStringLiteral("Generation complete"));
    QCOMPARE(f.text("firstLabel"), QStringLiteral("Files created:"));
    QCOMPARE(f.text("firstValue"), QStringLiteral("1"));
    QCOMPARE(f.text("secondLabel"), QStringLiteral("Current size:"));
    QCOMPARE(f.text("secondValue"), QStringLiteral("2.00 Kb"));
  }

  void noStageYetTouchesOnlyTheStatusValue() {
    Fixture f;
    f.job.filesCreated = 5;
    f.setStage(RunStage::Starting);
    f.dialog.refresh();
    QCOMPARE(f.text("statusValue"), QString());
    QCOMPARE(f.text("firstValue"), QString());
    QCOMPARE(f.text("usedDataValue"), QString());
    QCOMPARE(f.text("firstLabel"), QStringLiteral("Files created:"));
    QCOMPARE(f.bar("usedDataBar")->upper(), 100);
  }

  void usedDataComesFromTheVolumeAndSurvivesAFailedQuery() {
    Fixture f;
    f.setStage(RunStage::GeneratingFiles);
    f.dialog.refresh();
    QCOMPARE(f.dialog.diskUsed(), 750);
    QCOMPARE(f.text("usedDataValue"), QStringLiteral("750 b"));
    QCOMPARE(f.bar("usedDataBar")->upper(), 998);
    QCOMPARE(f.bar("usedDataBar")->pos(), 749);
    f.fs.volumeQueryFails = true;
    f.fs.freeBytes = 0;
    f.dialog.refresh();
    QCOMPARE(f.dialog.diskUsed(), 750);
  }

  void minimisingTakesTheOwnerAlong() {
    Fixture f;
    QWidget owner;
    owner.show();
    f.dialog.setOwnerWindow(&owner);
    f.dialog.show();
    f.dialog.showMinimized();
    QTRY_VERIFY(owner.isMinimized());
    f.dialog.showNormal();
    QTRY_VERIFY(!owner.isMinimized());
  }

  void withoutJobEnterClosesAndEscDoesNothing() {
    FakeFileSystem fs;
    NumberProgressDialog dialog(fs);
    dialog.show();
    dialog.refresh();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    QTest::keyClick(&dialog, Qt::Key_Return);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
  }
};

QTEST_MAIN(NumberProgressDialogTest)
#include "number_progress_dialog_test.moc"
