// The main dialog without runs: first-start defaults, the enabling rules and label switches, the
// field checks by real focus changes, closing and what it saves, the system menu, screenshots.
#include "ui/main/main_dialog.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <algorithm>
#include <cerrno>

#include "ui/controls/flat_edit.h"
#include "ui/controls/owner_draw_button.h"
#include "ui/main/main_test_support.h"
#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::testing;

namespace {
int checkOf(MainDialog& d, int id) { return static_cast<OwnerDrawButton*>(d.control(id))->check(); }
bool enabled(MainDialog& d, int id) { return d.control(id)->isEnabled(); }
QString labelOf(MainDialog& d, int id) { return static_cast<QLabel*>(d.control(id))->text(); }
QString textOf(MainDialog& d, int id) { return editOf(d, id)->text(); }
int unitOf(MainDialog& d, int id) { return static_cast<QComboBox*>(d.control(id))->currentIndex(); }
void click(MainDialog& d, int id) { QTest::mouseClick(d.control(id), Qt::LeftButton, {}, QPoint(4, 4)); }
void setUnit(MainDialog& d, int id, int unit) { static_cast<QComboBox*>(d.control(id))->setCurrentIndex(unit); }
// Leaves an edit by giving the focus to another control, as a click or Tab would.
void leave(MainDialog& d) { d.control(1000)->setFocus(Qt::TabFocusReason); }

#define OPEN_DIALOG(env, dialog)          \
  auto dialog = (env).open();             \
  QVERIFY2(dialog, "dialog not active");

const int kTreeGroup[] = {1060, 1054, 1063, 1047, 1064, 1048, 1068, 1067};
const int kFilesNumberGroup[] = {1059, 1041, 1040, 1010, 1034};
}  // namespace

class MainDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void firstStartShowsTheDefaults() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    QCOMPARE(d->windowTitle(), QStringLiteral("Talvane Quillet"));
    QCOMPARE(d->size(), DialogUnits().toPixels(QSize(257, 186)));
    QCOMPARE(d->control(1009)->geometry(), DialogUnits().toPixels(153, 21, 99, 13));
    const QList<FlatEdit*> frames = d->findChildren<FlatEdit*>();
    QCOMPARE(frames.size(), 16);
    QCOMPARE(std::count_if(frames.begin(), frames.end(), [](FlatEdit* f) { return f->noOutline(); }), 4);
    auto* browse = static_cast<OwnerDrawButton*>(d->control(1001));
    auto* help = static_cast<OwnerDrawButton*>(d->control(1078));
    QVERIFY(browse->isBold() && static_cast<OwnerDrawButton*>(d->control(1009))->isBold());
    QVERIFY(help->isFlat() && !help->isBold());
    QCOMPARE(checkOf(*d, 1061), 1);
    QCOMPARE(checkOf(*d, 1062), 0);
    QCOMPARE(checkOf(*d, 1030), 1);
    QCOMPARE(checkOf(*d, 1036), 1);
    for (int id : kFilesNumberGroup) QVERIFY2(!enabled(*d, id), qPrintable(QString::number(id)));
    for (int id : kTreeGroup) QVERIFY2(!enabled(*d, id), qPrintable(QString::number(id)));
    QVERIFY(!enabled(*d, 1035));
    QVERIFY(!enabled(*d, 1065));
    QVERIFY(!enabled(*d, 1007));
    QVERIFY(!enabled(*d, 1032));
    QVERIFY(enabled(*d, 1008));
    QCOMPARE(labelOf(*d, 1050), QStringLiteral("Files size:"));
    QCOMPARE(labelOf(*d, 1040), QStringLiteral("Files number:"));
    QCOMPARE(textOf(*d, 1008), QStringLiteral("100"));
    QCOMPARE(unitOf(*d, 1039), 2);
    QCOMPARE(textOf(*d, 1002), QStringLiteral("????????.???"));
    QCOMPARE(static_cast<QComboBox*>(d->control(1033))->itemText(3), QStringLiteral("Gb"));
#ifndef _WIN32
    // The store's default root names no folder here; the user's home folder stands in for it.
    QCOMPARE(textOf(*d, 1000), QDir::homePath() + QStringLiteral("/Test/"));
#endif
    QCOMPARE(env.storedString("Root folder"), std::string("C:\\Test\\"));
    QCOMPARE(QApplication::focusWidget(), d->control(1009));
  }

  void tabOrderFollowsTheControlTable() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    const QList<int> expected = {1000, 1001, 1055, 1002, 1008, 1039, 1076, 1041, 1012, 1042, 1010,
                                 1034, 1011, 1006, 1033, 1031, 1007, 1032, 1078, 1009, 1061, 1062,
                                 1036, 1071, 1030, 1035, 1065, 1054, 1003, 1048, 1047, 1067};
    QList<int> seen;
    QWidget* w = d->control(1000);
    for (int i = 0; i < 200 && seen.size() < expected.size(); ++i) {
      bool ok = false;
      const int id = w->objectName().toInt(&ok);
      if (ok && (w->focusPolicy() & Qt::TabFocus) && !seen.contains(id)) seen << id;
      w = w->nextInFocusChain();
    }
    QCOMPARE(seen, expected);
  }

  void storedRootOtherThanTheDefaultIsShownAsStored() {
    QCOMPARE(displayedRootFolder("/data/run/", "/home/u"), std::string("/data/run/"));
#ifndef _WIN32
    QCOMPARE(displayedRootFolder("C:\\Test\\", "/home/u/"), std::string("/home/u/Test/"));
    QCOMPARE(displayedRootFolder("C:\\Test\\", "/"), std::string("/Test/"));
#endif
    DialogEnvironment env;
    env.storeString("Root folder", "/srv/fill/");
    OPEN_DIALOG(env, d);
    QCOMPARE(textOf(*d, 1000), QStringLiteral("/srv/fill/"));
  }

  void allPartitionDisablesTheAllSizeEntry() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    click(*d, 1076);
    QVERIFY(d->fields().allPartition);
    for (int id : {1057, 1008, 1039}) QVERIFY(!enabled(*d, id));
    QVERIFY(enabled(*d, 1076));
    QVERIFY(enabled(*d, 1058));
    click(*d, 1076);
    for (int id : {1057, 1008, 1039}) QVERIFY(enabled(*d, id));
  }

  void recursiveBoxRulesTheMakeUpBoxAndTheTreeGroup() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    click(*d, 1062);
    QVERIFY(!d->fields().byAllSize);
    for (int id : kFilesNumberGroup) QVERIFY(enabled(*d, id));
    QVERIFY(!enabled(*d, 1058));
    QVERIFY(enabled(*d, 1035));
    QVERIFY(!enabled(*d, 1065));
    click(*d, 1035);
    QVERIFY(enabled(*d, 1065));
    QCOMPARE(checkOf(*d, 1065), 0);
    click(*d, 1065);
    QVERIFY(d->conditionT());
    for (int id : kTreeGroup) QVERIFY(enabled(*d, id));
    QVERIFY(!enabled(*d, 1003));  // "Dir mask:" still unmarked
    click(*d, 1035);  // unmarking recursive also clears the make-up
    QVERIFY(!d->fields().makeUpTree);
    QCOMPARE(checkOf(*d, 1065), 0);
    QVERIFY(!enabled(*d, 1065));
    for (int id : kTreeGroup) QVERIFY(!enabled(*d, id));
    click(*d, 1035);
    QVERIFY(enabled(*d, 1065));
    QCOMPARE(checkOf(*d, 1065), 0);
  }

  void allSizeModeHidesRecursiveAndMakeUpWithoutForgettingThem() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    click(*d, 1062);
    click(*d, 1035);
    click(*d, 1065);
    click(*d, 1061);
    QCOMPARE(checkOf(*d, 1035), 0);
    QCOMPARE(checkOf(*d, 1065), 0);
    QVERIFY(!enabled(*d, 1035));
    QVERIFY(!enabled(*d, 1065));
    QVERIFY(d->fields().fillSubfolders);
    QVERIFY(d->fields().makeUpTree);
    for (int id : kTreeGroup) QVERIFY(!enabled(*d, id));
    click(*d, 1062);
    QCOMPARE(checkOf(*d, 1035), 1);
    QCOMPARE(checkOf(*d, 1065), 1);
    for (int id : kTreeGroup) QVERIFY(enabled(*d, id));
  }

  void maxBoxesSwitchLabelsAndEnableTheirEdits() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    click(*d, 1031);
    QCOMPARE(labelOf(*d, 1050), QStringLiteral("Min size:"));
    QVERIFY(enabled(*d, 1007));
    QVERIFY(enabled(*d, 1032));
    click(*d, 1031);
    QCOMPARE(labelOf(*d, 1050), QStringLiteral("Files size:"));
    QVERIFY(!enabled(*d, 1007));
    click(*d, 1062);
    click(*d, 1034);
    QCOMPARE(labelOf(*d, 1040), QStringLiteral("Min files:"));
    QVERIFY(enabled(*d, 1011));
    click(*d, 1041);
    QVERIFY(enabled(*d, 1012));
    QVERIFY(enabled(*d, 1042));
    click(*d, 1061);  // the files number group goes, marked boxes or not
    QVERIFY(!enabled(*d, 1011));
    QVERIFY(!enabled(*d, 1012));
    click(*d, 1055);
    QVERIFY(enabled(*d, 1002));
    QVERIFY(d->fields().useFileMask);
  }

  void leavingNumberEditsRepairsThem() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    click(*d, 1031);
    typeInto(*d, 1006, QString());
    leave(*d);
    QCOMPARE(textOf(*d, 1006), QStringLiteral("0"));
    typeInto(*d, 1006, QStringLiteral("000"));
    leave(*d);
    QCOMPARE(textOf(*d, 1006), QStringLiteral("0"));

    // Min 5 Mb above max 3 Mb: leaving the maximum changes nothing, leaving the minimum raises it.
    typeInto(*d, 1006, QStringLiteral("5"));
    typeInto(*d, 1007, QStringLiteral("3"));
    leave(*d);
    QCOMPARE(textOf(*d, 1007), QStringLiteral("3"));
    d->control(1006)->setFocus(Qt::TabFocusReason);
    leave(*d);
    QCOMPARE(textOf(*d, 1007), QStringLiteral("5"));
    QCOMPARE(unitOf(*d, 1032), 2);

    // 2048 b against 1 Kb.
    setUnit(*d, 1033, 0);
    setUnit(*d, 1032, 1);
    typeInto(*d, 1006, QStringLiteral("2048"));
    typeInto(*d, 1007, QStringLiteral("1"));
    d->control(1006)->setFocus(Qt::TabFocusReason);
    leave(*d);
    QCOMPARE(textOf(*d, 1007), QStringLiteral("2048"));
    QCOMPARE(unitOf(*d, 1032), 0);
  }

  void allSizeAndLimitSizePullTheRangeDown() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    click(*d, 1031);
    setUnit(*d, 1033, 3);
    setUnit(*d, 1032, 3);
    typeInto(*d, 1006, QStringLiteral("1"));
    typeInto(*d, 1007, QStringLiteral("2"));
    typeInto(*d, 1008, QStringLiteral("50"));
    leave(*d);
    QCOMPARE(textOf(*d, 1006), QStringLiteral("50"));
    QCOMPARE(textOf(*d, 1007), QStringLiteral("50"));
    QCOMPARE(unitOf(*d, 1033), 2);
    QCOMPARE(unitOf(*d, 1032), 2);

    click(*d, 1062);
    click(*d, 1041);
    typeInto(*d, 1012, QStringLiteral("1"));
    typeInto(*d, 1006, QStringLiteral("2"));
    typeInto(*d, 1012, QStringLiteral("1"));
    leave(*d);
    QCOMPARE(textOf(*d, 1006), QStringLiteral("1"));
    QCOMPARE(textOf(*d, 1007), QStringLiteral("1"));
  }

  void countEditsAreCappedAndFiltered() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    click(*d, 1062);
    click(*d, 1035);
    click(*d, 1065);
    typeInto(*d, 1047, QStringLiteral("300"));
    leave(*d);
    QCOMPARE(textOf(*d, 1047), QStringLiteral("255"));
    typeInto(*d, 1048, QStringLiteral("30001"));
    leave(*d);
    QCOMPARE(textOf(*d, 1048), QStringLiteral("30000"));
    typeInto(*d, 1067, QStringLiteral("12x"));  // no number style here
    leave(*d);
    QCOMPARE(textOf(*d, 1067), QStringLiteral("12x"));
    typeInto(*d, 1067, QStringLiteral("123456"));  // at most 5 characters
    leave(*d);
    QCOMPARE(textOf(*d, 1067), QStringLiteral("12345"));
    QCOMPARE(d->fields().dirsLimitText, std::string("12345"));
    typeInto(*d, 1010, QStringLiteral("5a0-0 0"));  // digits only
    QCOMPARE(textOf(*d, 1010), QStringLiteral("5000"));
    typeInto(*d, 1006, QStringLiteral("1234567"));
    QCOMPARE(textOf(*d, 1006), QStringLiteral("123456"));
    QVERIFY(!enabled(*d, 1011));
    editOf(*d, 1011)->setText(QStringLiteral("200"));
    typeInto(*d, 1010, QStringLiteral("500"));
    leave(*d);  // "Max files:" unmarked, yet raised
    QCOMPARE(textOf(*d, 1011), QStringLiteral("500"));
  }

  void escapeAsksAndCancelKeepsTheDialogOpen() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    BoxAnswerer cancel(QStringLiteral("exitQuestion"), QMessageBox::Cancel);
    QTest::keyClick(d.get(), Qt::Key_Escape);
    QCOMPARE(cancel.texts, QStringList{QStringLiteral("Do you want to exit?")});
    QCOMPARE(cancel.captions, QStringList{QStringLiteral("Talvane Quillet")});
    QVERIFY(d->isVisible());
    QTest::keyClick(d->control(1009), Qt::Key_Return);
    QTest::keyClick(d->control(1009), Qt::Key_F1);
    QVERIFY(d->isVisible());
  }

  void escapeConfirmedSavesTextsAsTyped() {
    DialogEnvironment env;
    {
      OPEN_DIALOG(env, d);
      click(*d, 1062);
      click(*d, 1036);  // splash off
      QVERIFY(!env.showSplash);
      typeInto(*d, 1010, QStringLiteral("0"));  // would be repaired only on leaving
      typeInto(*d, 1000, QStringLiteral("/typed/root"));
      editOf(*d, 1010)->setFocus(Qt::TabFocusReason);
      BoxAnswerer ok(QStringLiteral("exitQuestion"), QMessageBox::Ok);
      QTest::keyClick(d->control(1010), Qt::Key_Escape);
      QCOMPARE(ok.texts.size(), 1);
      QVERIFY(!d->isVisible());
      QCOMPARE(d->result(), int(QDialog::Rejected));
    }
    QCOMPARE(env.storedString("Minimum files number to create"), std::string("0"));
    QCOMPARE(env.storedString("Root folder"), std::string("/typed/root"));
    QCOMPARE(env.storedNumber("Use all size checkbox"), 0u);
    QCOMPARE(env.storedNumber("Show splash"), 0u);
    QVERIFY(env.errors.texts.empty());
  }

  void closeBoxEndsWithoutQuestionAndSaves() {
    DialogEnvironment env;
    {
      OPEN_DIALOG(env, d);
      typeInto(*d, 1006, QStringLiteral("42"));
      setUnit(*d, 1033, 1);
      BoxAnswerer any;
      d->close();
      QVERIFY(!d->isVisible());
      QCOMPARE(d->result(), int(QDialog::Accepted));
      QTest::qWait(50);
      QVERIFY(any.texts.isEmpty());
    }
    QCOMPARE(env.storedString("Minimum file size"), std::string("42"));
    QCOMPARE(env.storedNumber("Minimum file size power"), 1u);
    // The next start shows what was saved.
    OPEN_DIALOG(env, again);
    QCOMPARE(textOf(*again, 1006), QStringLiteral("42"));
  }

  void everyValueTheStoreRefusesIsReportedOnce() {
    // A store that can neither open nor create a key: the dialog opens with the defaults and its
    // destruction reports each of the 28 values it cannot write.
    struct RefusingStore : RegistryStore {
      int openKey(const std::string&, KeyAccess, std::unique_ptr<RegistryKey>&) override { return EACCES; }
      int createKey(const std::string&, std::unique_ptr<RegistryKey>&) override { return EACCES; }
    } refusing;
    DialogEnvironment env;
    {
      MainDialog d(MainDialogServices{refusing, env.errors, *env.fs, systemClock()}, env.showSplash, env.exitCode);
      QCOMPARE(d.fields().minFilesText, std::string("100"));
      QVERIFY(env.errors.texts.empty());
    }
    QCOMPARE(env.errors.texts.size(), std::size_t(28));
    QCOMPARE(env.errors.texts.front(), std::string("Fatal error: The description for error is not available."));
  }

  void scriptsHelpAndTheAboutItemOpenTheirWindows() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    const QList<QAction*> actions = d->systemMenu()->actions();
    QVERIFY(actions.size() >= 2);
    QVERIFY(actions[actions.size() - 2]->isSeparator());
    QCOMPARE(actions.last()->text(), QStringLiteral("&About Talvane Quillet..."));
    QCOMPARE(actions.last(), d->aboutAction());
    QStringList seen;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr || modal == d.get() || !modal->isVisible()) return;
      seen << QString::fromLatin1(modal->metaObject()->className());
      modal->close();
    });
    poll.start();
    click(*d, 1078);
    d->aboutAction()->trigger();
    QCOMPARE(seen, (QStringList{QStringLiteral("quillet::ScriptsHelpDialog"), QStringLiteral("quillet::AboutDialog")}));
  }

  void screenshotsOfBothModes() {
    DialogEnvironment env;
    OPEN_DIALOG(env, d);
    saveScreenshot(d.get(), QStringLiteral("main_dialog_by_all_size"));
    click(*d, 1062);
    click(*d, 1035);
    click(*d, 1065);
    click(*d, 1034);
    click(*d, 1031);
    click(*d, 1041);
    saveScreenshot(d.get(), QStringLiteral("main_dialog_by_files_number"));
    // No control overlaps another except those that sit inside a group box.
    const QList<QWidget*> children = d->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* a : children) {
      for (QWidget* b : children) {
        if (a == b || qobject_cast<QGroupBox*>(a) || qobject_cast<QGroupBox*>(b)) continue;
        if (qobject_cast<QMenu*>(a) || qobject_cast<QMenu*>(b)) continue;
        QVERIFY2(!a->geometry().intersects(b->geometry()),
                 qPrintable(a->objectName() + QLatin1String(" / ") + b->objectName()));
      }
    }
  }
};

QTEST_MAIN(MainDialogTest)
#include "main_dialog_test.moc"
