// Tests of the scripts help window: the text it shows line by line, the read-only scrolling box,
// and the keys and button that close it.
#include "ui/help/scripts_help_dialog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <functional>

#include "ui/controls/owner_draw_button.h"
#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {

// The help as the user must read it, written out independently of the code that builds it.
const QStringList kExpectedLines = {
    "Possible QX script parameters:",
    "",
    "1. /s - Generate files by all size:",
    "",
    "/s /allsize:[<All size><Mod> or allpartition] /root:'<Root folder>'",
    "/minsize:<Min size><Mod> [/maxsize:<Max size><Mod>]",
    "[/filemask:'<File mask>'] [/nofill] [/noclose]",
    "",
    "Example:",
    "/s /allsize:100m /root:'c:\\test' /minsize:1m /maxsize:2m",
    "/filemask:'????????.???' /nofill /noclose",
    "",
    "/s /allsize:allpartition /root:'c:\\test' /minsize:1m /maxsize:2m",
    "/filemask:'????????.???' /nofill /noclose",
    "",
    "2. /f - Generate files by number:",
    "",
    "/f /minfiles:<Minimum files number> [/maxfiles:<Maximum files number>]",
    "[/limsize:<Limit size><Mod>]",
    "[/recurse",
    "  [/rootsize:<Root size> /treedeep:<Tree deep> /dirlimit:<Dir number limit>",
    "    [/dirmask:'<Directory mask>']",
    "  ]",
    "]",
    "/root:'<Root folder>' /minsize:<Min size><Mod> [/maxsize:<Max size><Mod>]",
    "[/filemask:'<File mask>'] [/nofill] [/noclose]",
    "",
    "Example:",
    "/f /minfiles:100 /maxfiles:200 /limsize:150m /recurse",
    "/rootsize:2 /treedeep:1 /dirlimit:200 /dirmask:'????????' /root:'c:\\test'",
    "/minsize:1m /maxsize:2m /filemask:'????????.???' /nofill /noclose",
    "",
    "3. /? - Call scripts help dialog",
    "",
    "Comment: <Mod> = <b, k, m, g>",
};

QStringList shownLines(const QPlainTextEdit* box) {
  QStringList lines;
  for (QTextBlock block = box->document()->begin(); block.isValid(); block = block.next()) {
    lines << block.text();
  }
  return lines;
}

}  // namespace

class ScriptsHelpDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void showsTheHelpTextLineByLine() {
    ScriptsHelpDialog dialog;
    const QStringList lines = shownLines(dialog.textBox());
    QCOMPARE(lines.size(), kExpectedLines.size());
    for (int i = 0; i < lines.size(); ++i) {
      QVERIFY2(lines.at(i) == kExpectedLines.at(i),
               qPrintable(QStringLiteral("line %1: '%2'").arg(i + 1).arg(lines.at(i))));
    }
    QVERIFY2(!dialog.textBox()->toPlainText().contains(QLatin1Char('\r')), "no stray carriage returns");
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Scripts help"));
    QVERIFY(!(dialog.windowFlags() & Qt::WindowMinimizeButtonHint));
  }

  void textBoxIsReadOnlyScrollsVerticallyAndHasTheFocus() {
    ScriptsHelpDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QPlainTextEdit* box = dialog.textBox();
    QTRY_VERIFY(box->hasFocus());
    saveScreenshot(&dialog, QStringLiteral("scripts_help_dialog"));
    QVERIFY(box->isReadOnly());
    const QString before = box->toPlainText();
    QTest::keyClicks(box, QStringLiteral("xyz"));
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClick(box, Qt::Key_Backspace);
    QCOMPARE(box->toPlainText(), before);

    QScrollBar* bar = box->verticalScrollBar();
    QVERIFY(bar->isVisible());
    QVERIFY2(bar->maximum() > 0, "the text is longer than the box");
    QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier);
    QVERIFY(box->textCursor().atEnd());
    QTRY_VERIFY2(bar->value() > 0, "the box scrolled down to the caret");
    QVERIFY(!box->horizontalScrollBar()->isVisible());
  }

  void okEscapeAndReturnCloseButF1DoesNot() {
    const auto closesWith = [](const std::function<void(ScriptsHelpDialog&)>& act) {
      ScriptsHelpDialog dialog;
      dialog.show();
      if (!QTest::qWaitForWindowExposed(&dialog)) return false;
      QSignalSpy finished(&dialog, &QDialog::finished);
      act(dialog);
      return finished.count() == 1 && !dialog.isVisible();
    };
    QVERIFY(closesWith([](ScriptsHelpDialog& d) { QTest::mouseClick(d.okButton(), Qt::LeftButton); }));
    QVERIFY(closesWith([](ScriptsHelpDialog& d) { QTest::keyClick(d.textBox(), Qt::Key_Escape); }));
    QVERIFY(closesWith([](ScriptsHelpDialog& d) { QTest::keyClick(d.textBox(), Qt::Key_Return); }));
    QVERIFY(!closesWith([](ScriptsHelpDialog& d) { QTest::keyClick(d.textBox(), Qt::Key_F1); }));
  }

  void activationRestoresAMinimisedWindow() {
    ScriptsHelpDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.showMinimized();
    QTRY_VERIFY(dialog.isMinimized());
    QSignalSpy activated(&dialog, &ScriptsHelpDialog::activated);
    dialog.activate();
    QCOMPARE(activated.count(), 1);
    QVERIFY(!dialog.isMinimized());
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.activationCount(), 1);
  }
};

QTEST_MAIN(ScriptsHelpDialogTest)
#include "scripts_help_dialog_test.moc"
