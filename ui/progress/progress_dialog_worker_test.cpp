// Both progress dialogs driving a real worker thread on a small tmpfs volume: completion with and
// without closing by itself, a stop, and generating to all partition size until the volume is full.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <memory>

#include "engine/worker_thread.h"
#include "platform/system.h"
#include "testing/volume_fixture.h"
#include "ui/progress/number_progress_dialog.h"
#include "ui/progress/size_progress_dialog.h"
#include "ui/qt_failure_presenter.h"
#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {
constexpr std::int64_t kVolumeBytes = 8 << 20;

// The system's file system with every file creation slowed down, so a run lasts long enough to be
// stopped halfway whatever the machine.
class SlowFileSystem : public FileSystem {
 public:
  explicit SlowFileSystem(FileSystem& real) : real(real) {}
  Result<VolumeSpace> volumeSpace(const std::string& p) override { return real.volumeSpace(p); }
  Result<std::int32_t> clusterSize(const std::string& p) override { return real.clusterSize(p); }
  Result<std::string> fileSystemName(const std::string& p) override { return real.fileSystemName(p); }
  std::string driveRoot(const std::string& p) override { return real.driveRoot(p); }
  std::string volumeDisplayName(const std::string& p) override { return real.volumeDisplayName(p); }
  PathKind pathKind(const std::string& p) override { return real.pathKind(p); }
  Status createFolder(const std::string& p) override { return real.createFolder(p); }
  Status createFolderBelow(const std::string& b, const std::string& r) override {
    return real.createFolderBelow(b, r);
  }
  Result<std::unique_ptr<FileHandle>> createNewFile(const std::string& p) override {
    sleepMilliseconds(2);
    return real.createNewFile(p);
  }
  Result<std::unique_ptr<FileHandle>> createNewFileBelow(const std::string& b,
                                                         const std::string& r) override {
    sleepMilliseconds(2);
    return real.createNewFileBelow(b, r);
  }
  Result<std::unique_ptr<FolderReader>> openFolder(const std::string& p) override {
    return real.openFolder(p);
  }
  Status syncVolume(const std::string& p) override { return real.syncVolume(p); }

 private:
  FileSystem& real;
};

// Answers every message box the worker raises, keeping their texts.
struct MessageBoxAnswerer {
  QStringList texts;
  QTimer poll;
  MessageBoxAnswerer() {
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      texts << box->text();
      box->accept();
    });
    poll.start();
  }
};

struct Run {
  std::unique_ptr<MountedVolume> volume;
  std::unique_ptr<FileSystem> systemFs = makeSystemFileSystem();
  SlowFileSystem slowFs{*systemFs};
  FileSystem* fs = systemFs.get();
  QtFailurePresenter presenter{QStringLiteral("Talvane Quillet")};
  GenerationJob job;
  std::unique_ptr<WorkerThread> worker;

  // False (with reason) when no volume can be mounted here.
  bool mount(std::string& reason) {
    volume = MountedVolume::tmpfs(kVolumeBytes, reason);
    if (!volume) return false;
    job.rootFolder = volume->path() + "/";
    job.driveRoot = fs->driveRoot(job.rootFolder);
    job.minFileSize = 1;
    job.maxFileSize = 4096;
    job.fillRandom = true;
    return true;
  }
  void start() {
    worker = std::make_unique<WorkerThread>(job, EngineServices{*fs, systemClock(), presenter});
    worker->start();
  }
  void join() {
    if (worker) joinWorkerServingEvents(*worker, job);
  }
  ~Run() { join(); }
};

#define MOUNT_OR_SKIP(run)                           \
  do {                                               \
    std::string reason;                              \
    if (!(run).mount(reason)) QSKIP(reason.c_str()); \
  } while (false)

QString labelText(const QDialog& dialog, const char* name) {
  return dialog.findChild<QLabel*>(QLatin1String(name))->text();
}
}  // namespace

class ProgressDialogWorkerTest : public QObject {
  Q_OBJECT

 private slots:
  void numberDialogClosesItselfWhenTheTreeIsFilled() {
    Run run;
    MOUNT_OR_SKIP(run);
    run.job.byAllSize = false;
    run.job.recurseSubfolders = run.job.makeUpTree = true;
    run.job.treeDeep = 2;
    run.job.rootSize = 3;
    run.job.dirsLimit = 100;
    run.job.minFiles = run.job.maxFiles = 5;
    run.job.autoClose = true;
    NumberProgressDialog dialog(*run.fs);
    dialog.setJob(&run.job);
    run.start();
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    run.join();
    QCOMPARE(toInt(run.job.snapshot().result), 0);
    QCOMPARE(run.job.dirsCalculated.load(), 13u);  // the root, 3 and 9
    QCOMPARE(run.job.filesCreated.load(), 65);
    QVERIFY(!dialog.isCloseMode());
  }

  void numberDialogStaysOpenAsCloseAfterTheRun() {
    Run run;
    MOUNT_OR_SKIP(run);
    run.job.byAllSize = false;
    run.job.minFiles = run.job.maxFiles = 40;
    run.job.autoClose = false;
    NumberProgressDialog dialog(*run.fs);
    dialog.setJob(&run.job);
    run.start();
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY_WITH_TIMEOUT(dialog.isCloseMode(), 10000);
      QTRY_COMPARE(labelText(dialog, "statusValue"), QStringLiteral("Generation complete"));
      QTRY_COMPARE(labelText(dialog, "firstValue"), QStringLiteral("40"));
      QCOMPARE(labelText(dialog, "foldersValue"), QStringLiteral("1 of 1"));
      QVERIFY(!labelText(dialog, "usedDataValue").isEmpty());
      saveScreenshot(&dialog, QStringLiteral("number_progress_real_run_complete"));
      QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    run.join();
    QCOMPARE(toInt(run.job.snapshot().result), 0);
  }

  void sizeDialogStopEndsTheRunWithTwo() {
    Run run;
    MOUNT_OR_SKIP(run);
    run.job.byAllSize = true;
    run.job.allSize = kVolumeBytes / 2;
    run.job.minFileSize = run.job.maxFileSize = 1;
    run.job.autoClose = true;
    run.fs = &run.slowFs;
    SizeProgressDialog dialog(*run.fs);
    dialog.setJob(&run.job);
    run.start();
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY(!labelText(dialog, "filesValue").isEmpty() && run.job.filesCreated > 0);
      saveScreenshot(&dialog, QStringLiteral("size_progress_real_run"));
      QTest::mouseClick(dialog.stopButton(), Qt::LeftButton);
    });
    const int result = dialog.exec();
    run.join();
    // A worker that notices the stop before the next tick has finished by then: OK; otherwise
    // Cancel. Either way the dialog ended on the stop and the run's result is "stopped".
    QVERIFY(result == QDialog::Rejected || run.job.finished);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(toInt(run.job.snapshot().result), 2);
    QVERIFY(run.job.stopRequested);
  }

  void sizeDialogFollowsAllPartitionUntilTheVolumeIsFull() {
    Run run;
    MOUNT_OR_SKIP(run);
    const Result<VolumeSpace> space = run.fs->volumeSpace(run.job.rootFolder);
    QVERIFY(space.ok());
    run.job.byAllSize = true;
    run.job.allPartition = true;
    run.job.allSize = space.value().availableToCaller;
    run.job.fillRandom = false;
    run.job.minFileSize = 64 << 10;
    run.job.maxFileSize = 256 << 10;
    run.job.autoClose = false;
    MessageBoxAnswerer answerer;
    SizeProgressDialog dialog(*run.fs);
    dialog.setJob(&run.job);
    run.start();
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY_WITH_TIMEOUT(dialog.isCloseMode(), 20000);
      auto* sizeBar = dialog.findChild<ColorProgressBar*>(QStringLiteral("sizeBar"));
      QCOMPARE(sizeBar->pos(), 1000);
      QCOMPARE(dialog.stopButton()->text(), QStringLiteral("Close"));
      saveScreenshot(&dialog, QStringLiteral("size_progress_real_volume_full"));
      QTest::mouseClick(dialog.stopButton(), Qt::LeftButton);
    });
    QCOMPARE(dialog.exec(), int(QDialog::Accepted));
    run.join();
    QCOMPARE(toInt(run.job.snapshot().result), 1);
    QVERIFY(run.job.currentSize.load() > 0);
    // A full volume ends an all-partition run; whatever box it raises can only say so.
    for (const QString& text : answerer.texts) {
      QVERIFY2(text.contains(QStringLiteral("is full")), qPrintable(text));
    }
  }
};

QTEST_MAIN(ProgressDialogWorkerTest)
#include "progress_dialog_worker_test.moc"
