// The system menu's "Verify folder...": the folder browser, cancelled or answered; the verify of a
// real tree the engine filled with a seed, one file damaged on purpose, under its progress dialog;
// and the box with the summary. Screenshots of the dialog and the box.
#include <QAction>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <filesystem>
#include <fstream>

#include "engine/worker_thread.h"
#include "platform/path.h"
#include "testing/engine_harness.h"
#include "ui/main/main_test_support.h"
#include "ui/progress/progress_dialog.h"
#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;
using enum quillet::MainControl;

namespace {

#define OPEN_DIALOG(env, dialog) \
  auto dialog = (env).open();    \
  QVERIFY2(dialog, "dialog not active");

QAction* verifyAction(MainDialog& d) {
  for (QAction* action : d.systemMenu()->actions()) {
    if (action->text() == QStringLiteral("&Verify folder...")) return action;
  }
  return nullptr;
}

ProgressDialog* verifyProgress() { return qobject_cast<ProgressDialog*>(QApplication::activeModalWidget()); }

QString labelText(QWidget* dialog, const char* name) {
  auto* label = dialog->findChild<QLabel*>(QString::fromLatin1(name));
  return label == nullptr ? QString() : label->text();
}

// Answers the folder browser once it is up: its title is kept, then it is accepted (with the
// folder it opened on selected) or cancelled.
struct BrowserAnswer {
  QString title;
  QTimer poll;
  explicit BrowserAnswer(bool accept) {
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [this, accept] {
      auto* browser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (browser == nullptr || !browser->isVisible()) return;
      poll.stop();
      title = browser->windowTitle();
      if (accept) {
        static_cast<QDialog*>(browser)->accept();
      } else {
        browser->reject();
      }
    });
    poll.start();
  }
};

}  // namespace

class MainDialogVerifyTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { QApplication::setPalette(classicPalette()); }

  void cancellingTheBrowserDoesNothing() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    BrowserAnswer answer(false);
    BoxAnswerer anyBox;
    QSignalSpy ended(d.get(), &MainDialog::verifyEnded);
    verifyAction(*d)->trigger();
    QCOMPARE(answer.title, QStringLiteral("Select folder to verify"));
    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toBool(), false);
    QVERIFY(anyBox.texts.isEmpty());
  }

  void damagedFileIsReportedInTheBox() {
    ScratchFolder scratch;
    const std::string root = scratch / "tree";
    {
      auto fs = makeSystemFileSystem();
      EngineHarness h{*fs};
      h.job.rootFolder = withTrailingSeparator(root);
      h.job.byAllSize = false;
      h.job.minFiles = h.job.maxFiles = 6;
      h.job.minFileSize = h.job.maxFileSize = 64 << 10;
      h.job.runSeed = 1234;
      h.job.seedGiven = true;
      QCOMPARE(int(runWorker(h.job, h.services)), int(GenerationResult::Done));
    }
    std::string victim;
    for (const auto& entry : std::filesystem::directory_iterator(root)) victim = entry.path().string();
    QVERIFY(!victim.empty());
    {
      std::fstream f(victim, std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(20000);
      f.put('\0');  // content bytes are never zero at an even offset
    }

    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    QVERIFY(!d->fields().closeProgressAuto);
    typeInto(*d, RootFolderEdit, QString::fromStdString(root));  // the browser opens on it
    BrowserAnswer answer(true);
    QString filesShown, bytesShown, damagedShown, title;
    // Polled without blocking: the browser's own loop runs first and must be free to end.
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, [&] {
      ProgressDialog* progress = verifyProgress();
      if (progress == nullptr || !progress->isCloseMode()) return;
      poll.stop();
      title = progress->windowTitle();
      filesShown = labelText(progress, "filesValue");
      bytesShown = labelText(progress, "sizeValue");
      damagedShown = labelText(progress, "damagedValue");
      saveScreenshot(progress, QStringLiteral("verify_progress_dialog"));
      QTest::mouseClick(progress->stopButton(), Qt::LeftButton);
    });
    poll.start();
    BoxAnswerer box(QStringLiteral("verifyResult"));
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    box.whileShown = [&] {
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* shown = qobject_cast<QMessageBox*>(widget);
        if (shown == nullptr || !shown->isVisible()) continue;
        icon = shown->icon();
        saveScreenshot(shown, QStringLiteral("verify_result_box"));
      }
    };
    QSignalSpy ended(d.get(), &MainDialog::verifyEnded);
    verifyAction(*d)->trigger();

    QCOMPARE(ended.count(), 1);
    QCOMPARE(ended.at(0).at(0).toBool(), true);
    QCOMPARE(title, QStringLiteral("Verifying"));
    QCOMPARE(filesShown, QStringLiteral("6 of 6"));
    QCOMPARE(bytesShown, QStringLiteral("384.00 Kb"));
    QCOMPARE(damagedShown, QStringLiteral("1.00 Kb"));
    QCOMPARE(box.captions, QStringList{QStringLiteral("Talvane Quillet")});
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(box.texts.size(), 1);
    const QString text = box.texts.first();
    QVERIFY2(text.startsWith(QStringLiteral(
                 "Damage found: 1 of 6 files damaged; intact 383.00 Kb; corrupted 1.00 Kb in 1 file;")),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("Seed: 1234 (carried by most files' first blocks)")),
             qPrintable(text));
    const QString name = QString::fromStdString(std::filesystem::path(victim).filename().string());
    QVERIFY2(text.contains(name + QStringLiteral(" at 19,456: corrupted")), qPrintable(text));
    QVERIFY(!text.contains(QStringLiteral("stopped")));
  }
};

QTEST_MAIN(MainDialogVerifyTest)
#include "main_dialog_verify_test.moc"
