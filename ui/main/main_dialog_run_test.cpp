// Generate end to end with the real worker on a small tmpfs volume: both modes creating files, a
// stop that the next Generate must wait out, the empty root, a relative root and a root that cannot
// be created (after a run, whose exit code it keeps), a worker failure box answered while the
// progress dialog keeps polling, and the exit code.
#include <QComboBox>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "ui/main/main_dialog.h"
#include "ui/main/main_test_support.h"
#include "ui/progress/progress_dialog.h"

using namespace quillet;
using namespace quillet::test_support;
using enum quillet::MainControl;

namespace {
constexpr std::int64_t kVolumeBytes = 8 << 20;

void click(MainDialog& d, MainControl id) {
  QTest::mouseClick(d.control(id), Qt::LeftButton, {}, QPoint(4, 4));
}

// The progress dialog of the run going on, if any.
ProgressDialog* progressDialog() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* dialog = qobject_cast<ProgressDialog*>(widget); dialog != nullptr && dialog->isVisible()) {
      return dialog;
    }
  }
  return nullptr;
}

std::size_t filesIn(const std::string& folder) {
  std::size_t count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    count += entry.is_regular_file() ? 1 : 0;
  return count;
}

#define MOUNT_OR_SKIP(volume)                                       \
  std::string volume##Reason;                                       \
  auto volume = MountedVolume::tmpfs(kVolumeBytes, volume##Reason); \
  if (!volume) QSKIP(volume##Reason.c_str());

#define OPEN_DIALOG(env, dialog) \
  auto dialog = (env).open();    \
  QVERIFY2(dialog, "dialog not active");
}  // namespace

class MainDialogRunTest : public QObject {
  Q_OBJECT

 private slots:
  void generateByFilesNumberCreatesTheFiles() {
    MOUNT_OR_SKIP(volume);
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    typeInto(*d, RootFolderEdit, QString::fromStdString("  " + volume->path() + "/run  "));
    click(*d, ByFilesNumberRadio);
    click(*d, CloseProgressBox);  // close progress automatically
    typeInto(*d, MinFilesEdit, QStringLiteral("25"));
    typeInto(*d, MinSizeEdit, QStringLiteral("3"));
    static_cast<QComboBox*>(d->control(MinSizeUnit))->setCurrentIndex(1);
    QSignalSpy ended(d.get(), &MainDialog::runEnded);
    click(*d, GenerateButton);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toBool(), true);
    QCOMPARE(d->lastResult(), std::optional<int>(0));
    QCOMPARE(d->job().filesCreated.load(), std::int64_t(25));
    QCOMPARE(d->job().currentSize.load(), std::int64_t(25 * 3072));
    QCOMPARE(filesIn(volume->path() + "/run"), std::size_t(25));
    QCOMPARE(editOf(*d, RootFolderEdit)->text(), QString::fromStdString(volume->path() + "/run/"));
    QVERIFY(d->job().finished);
  }

  void generateByAllSizeStaysOpenUntilClosed() {
    MOUNT_OR_SKIP(volume);
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    typeInto(*d, RootFolderEdit, QString::fromStdString(volume->path()));
    typeInto(*d, AllSizeEdit, QStringLiteral("64"));
    static_cast<QComboBox*>(d->control(AllSizeUnit))->setCurrentIndex(1);
    typeInto(*d, MinSizeEdit, QStringLiteral("4"));
    static_cast<QComboBox*>(d->control(MinSizeUnit))->setCurrentIndex(1);
    bool sawCloseMode = false;
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY_WITH_TIMEOUT(progressDialog() && progressDialog()->isCloseMode(), 10000);
      sawCloseMode = true;
      QTest::mouseClick(progressDialog()->stopButton(), Qt::LeftButton);
    });
    click(*d, GenerateButton);
    QVERIFY(sawCloseMode);
    QCOMPARE(d->lastResult(), std::optional<int>(0));
    QCOMPARE(d->job().currentSize.load(), std::int64_t(64 << 10));
    QCOMPARE(filesIn(volume->path()), std::size_t(16));
  }

  void stopWaitsForTheWorkerBeforeTheNextGenerate() {
    MOUNT_OR_SKIP(volume);
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    typeInto(*d, RootFolderEdit, QString::fromStdString(volume->path()));
    click(*d, ByFilesNumberRadio);
    typeInto(*d, MinFilesEdit, QStringLiteral("999999"));
    typeInto(*d, MinSizeEdit, QStringLiteral("1"));
    static_cast<QComboBox*>(d->control(MinSizeUnit))->setCurrentIndex(0);
    QTimer::singleShot(0, [&] {
      QTRY_VERIFY_WITH_TIMEOUT(progressDialog() != nullptr, 5000);
      QTest::mouseClick(progressDialog()->stopButton(), Qt::LeftButton);
    });
    click(*d, GenerateButton);
    // The progress dialog closed on the stop; Generate returned only once the worker had ended.
    QVERIFY(d->job().finished);
    QCOMPARE(d->lastResult(), std::optional<int>(2));
    QVERIFY(d->job().filesCreated.load() < 999999);
  }

  void emptyRootIsRefused() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    typeInto(*d, RootFolderEdit, QString());
    BoxAnswerer box(QStringLiteral("emptyRootMessage"));
    QSignalSpy ended(d.get(), &MainDialog::runEnded);
    click(*d, GenerateButton);
    QCOMPARE(box.texts, QStringList{QStringLiteral("Root directory can't be empty.")});
    QCOMPARE(box.captions, QStringList{QStringLiteral("Warning")});
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toBool(), false);
    QVERIFY(!d->lastResult());  // no run finished
  }

  void relativeRootIsRefusedAndNothingIsCreated() {
    ScratchFolder working;
    const std::string previous = std::filesystem::current_path().string();
    std::filesystem::current_path(working.path());
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    typeInto(*d, RootFolderEdit, QStringLiteral("   "));
    BoxAnswerer box(QStringLiteral("failureMessage"));
    click(*d, GenerateButton);
    std::filesystem::current_path(previous);
    QCOMPARE(box.captions, QStringList{QStringLiteral("Error")});
    QCOMPARE(box.texts,
             QStringList{QStringLiteral("Incorrect path - '   '.\n\nTry to check root folder for errors.")});
    QVERIFY(std::filesystem::is_empty(working.path()));
    QVERIFY(!d->lastResult());  // no run finished
    QVERIFY(progressDialog() == nullptr);
  }

  void rootThatCannotBeCreatedIsReported() {
    MOUNT_OR_SKIP(volume);
    std::ofstream(volume->path() + "/file") << "x";
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    typeInto(*d, RootFolderEdit, QString::fromStdString(volume->path() + "/file/sub/"));
    BoxAnswerer box(QStringLiteral("failureMessage"));
    click(*d, GenerateButton);
    QCOMPARE(box.captions, QStringList{QStringLiteral("Error")});
    QCOMPARE(box.texts,
             QStringList{QString::fromStdString("Incorrect path - '" + volume->path() +
                                                "/file/sub'.\n\nTry to check root folder for errors.")});
    QVERIFY(!d->lastResult());  // no run finished
    QVERIFY(progressDialog() == nullptr);
  }

  void rootThatCannotBeCreatedKeepsTheLastRunsExitCode() {
    MOUNT_OR_SKIP(volume);
    std::ofstream(volume->path() + "/file") << "x";
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    typeInto(*d, RootFolderEdit, QString::fromStdString(volume->path() + "/run"));
    click(*d, ByFilesNumberRadio);
    click(*d, CloseProgressBox);
    typeInto(*d, MinFilesEdit, QStringLiteral("3"));
    typeInto(*d, MinSizeEdit, QStringLiteral("1"));
    click(*d, GenerateButton);
    QCOMPARE(d->lastResult(), std::optional<int>(0));

    // The next Generate fills the job for its root, then cannot make the root: no run, so the exit
    // code stays the one of the run before.
    typeInto(*d, RootFolderEdit, QString::fromStdString(volume->path() + "/file/sub"));
    BoxAnswerer box(QStringLiteral("failureMessage"));
    click(*d, GenerateButton);
    QCOMPARE(box.texts.size(), 1);
    QCOMPARE(d->job().rootFolder, volume->path() + "/file/sub/");
    QVERIFY(!d->job().finished);
    QCOMPARE(d->lastResult(), std::optional<int>(0));
  }

  void fullVolumeBoxIsAnsweredWhileTheProgressKeepsPolling() {
    MOUNT_OR_SKIP(volume);
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    typeInto(*d, RootFolderEdit, QString::fromStdString(volume->path()));
    // A first run that finishes normally sets the exit code to 0.
    typeInto(*d, AllSizeEdit, QStringLiteral("8"));
    static_cast<QComboBox*>(d->control(AllSizeUnit))->setCurrentIndex(1);
    typeInto(*d, MinSizeEdit, QStringLiteral("1"));
    static_cast<QComboBox*>(d->control(MinSizeUnit))->setCurrentIndex(1);
    click(*d, CloseProgressBox);
    click(*d, GenerateButton);
    QCOMPARE(d->lastResult(), std::optional<int>(0));

    // Then more than the volume holds, only allocating: the volume fills and the worker waits on
    // the box that says so.
    click(*d, CloseProgressBox);
    typeInto(*d, AllSizeEdit, QStringLiteral("16"));
    static_cast<QComboBox*>(d->control(AllSizeUnit))->setCurrentIndex(2);
    click(*d, FillRandomBox);
    click(*d, MaxSizeBox);
    typeInto(*d, MinSizeEdit, QStringLiteral("64"));
    typeInto(*d, MaxSizeEdit, QStringLiteral("256"));
    static_cast<QComboBox*>(d->control(MaxSizeUnit))->setCurrentIndex(1);
    BoxAnswerer box(QStringLiteral("failureMessage"));
    std::uint64_t freeWhileShown = 0;
    box.whileShown = [&] {
      // Freeing space while the box is up shows in the progress dialog's next polls.
      ProgressDialog* progress = progressDialog();
      QVERIFY(progress != nullptr);
      for (const auto& entry : std::filesystem::directory_iterator(volume->path())) {
        if (entry.is_regular_file()) std::filesystem::remove(entry.path());
      }
      QTRY_VERIFY_WITH_TIMEOUT(progress->diskFree() > std::uint64_t(kVolumeBytes / 2), 5000);
      freeWhileShown = progress->diskFree();
    };
    QTimer closer;
    closer.setInterval(50);
    connect(&closer, &QTimer::timeout, [&] {
      if (ProgressDialog* progress = progressDialog(); progress && progress->isCloseMode()) {
        QTest::mouseClick(progress->stopButton(), Qt::LeftButton);
      }
    });
    closer.start();
    click(*d, GenerateButton);
    QCOMPARE(box.texts.size(), 1);
    QVERIFY2(box.texts[0].contains(QStringLiteral("is full")), qPrintable(box.texts[0]));
    QVERIFY(freeWhileShown > 0);
    QCOMPARE(d->lastResult(), std::optional<int>(1));
    QVERIFY(!d->job().fillRandom);
  }
};

QTEST_MAIN(MainDialogRunTest)
#include "main_dialog_run_test.moc"
