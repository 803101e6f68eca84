// Tests of the flat edit frame: the normal outline, the hot state and its 10 ms timer, drop-down
// lists without outline, and the disabled ring.
#include "ui/controls/flat_edit.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {
struct EditDialog {
  QWidget dialog;
  QLineEdit* edit = new QLineEdit(QStringLiteral("C:\\Test\\"), &dialog);
  QComboBox* combo = new QComboBox(&dialog);
  FlatEdit* editFrame;
  FlatEdit* comboFrame;
  QPoint cursor{-100, -100};

  EditDialog() {
    dialog.setPalette(classicPalette());
    dialog.setAutoFillBackground(true);
    dialog.resize(220, 100);
    edit->setGeometry(20, 20, 120, 24);
    combo->addItems({QStringLiteral("b"), QStringLiteral("Kb"), QStringLiteral("Mb"), QStringLiteral("Gb")});
    combo->setGeometry(150, 20, 50, 24);
    editFrame = new FlatEdit(edit);
    comboFrame = new FlatEdit(combo, true);
    for (FlatEdit* frame : {editFrame, comboFrame}) frame->cursorPosition = [this] { return cursor; };
    dialog.show();
  }
  // Moves the cursor over (or off) a control and tells it, as the mouse would.
  void hover(QWidget* control, QPoint local) {
    cursor = control->mapToGlobal(local);
    QMouseEvent move(QEvent::MouseMove, QPointF(local), QPointF(cursor), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QCoreApplication::sendEvent(control, &move);
  }
  // Ring n (0 = the client rectangle's outermost pixels) on the left side of the control, in the
  // dialog's coordinates.
  QPoint leftRing(QWidget* control, int n) const {
    return QPoint(control->x() + 2 - n, control->y() + control->height() / 2);
  }
};
}  // namespace

class FlatEditTest : public QObject {
  Q_OBJECT

 private slots:
  void editBoxShowsGreyOutlineInsideFaceBorder() {
    EditDialog d;
    const QImage image = render(&d.dialog);
    saveScreenshot(&d.dialog, QStringLiteral("flat_edit_normal"));
    const QPoint ring0 = d.leftRing(d.edit, 0);
    QCOMPARE(rgbAt(image, ring0.x(), ring0.y()), rgb(QColor(100, 100, 100)));
    for (int n = 1; n <= 4; ++n) {
      const QPoint p = d.leftRing(d.edit, n);
      QCOMPARE(rgbAt(image, p.x(), p.y()), rgb(d.editFrame->faceColor()));
    }
    const QPoint comboRing0 = d.leftRing(d.combo, 0);
    QCOMPARE(rgbAt(image, comboRing0.x(), comboRing0.y()), rgb(d.comboFrame->faceColor()));
  }

  void hoverShowsSunkenEdgeAndLeavingRestoresWithinTicks() {
    EditDialog d;
    QSignalSpy hot(d.editFrame, &FlatEdit::hotChanged);
    d.hover(d.edit, QPoint(30, 10));
    QVERIFY(d.editFrame->hoverTimerActive());
    QTRY_VERIFY_WITH_TIMEOUT(d.editFrame->isHot(), 500);
    QImage image = render(&d.dialog);
    saveScreenshot(&d.dialog, QStringLiteral("flat_edit_hot"));
    QPoint p = d.leftRing(d.edit, 1);
    QCOMPARE(rgbAt(image, p.x(), p.y()), rgb(d.editFrame->shadowColor()));
    p = d.leftRing(d.edit, 0);
    QCOMPARE(rgbAt(image, p.x(), p.y()), rgb(d.editFrame->faceColor()));

    d.cursor = QPoint(-100, -100);
    QElapsedTimer left;
    left.start();
    QTRY_VERIFY_WITH_TIMEOUT(!d.editFrame->isHot(), 500);
    QVERIFY(left.elapsed() < 200);
    QVERIFY(!d.editFrame->hoverTimerActive());
    QCOMPARE(hot.count(), 2);
    image = render(&d.dialog);
    QCOMPARE(rgbAt(image, p.x(), p.y()), rgb(QColor(100, 100, 100)));
  }

  void dropDownListShowsSunkenEdgeOnlyOnItsClientRectangle() {
    EditDialog d;
    d.hover(d.combo, QPoint(10, 10));
    QTRY_VERIFY_WITH_TIMEOUT(d.comboFrame->isHot(), 500);
    const QImage image = render(&d.dialog);
    saveScreenshot(&d.dialog, QStringLiteral("flat_combo_hot"));
    QPoint p = d.leftRing(d.combo, 0);
    QCOMPARE(rgbAt(image, p.x(), p.y()), rgb(d.comboFrame->shadowColor()));
    p = d.leftRing(d.combo, 1);
    QCOMPARE(rgbAt(image, p.x(), p.y()), rgb(d.comboFrame->faceColor()));
  }

  // A drop-down list with the keyboard focus shows its choice selected inside a dotted focus mark;
  // without the focus neither shows.
  void dropDownListShowsTheFocusMarkWhileFocused() {
    EditDialog d;
    d.dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&d.dialog));
    const QRect mark = d.comboFrame->focusMarkRect().translated(d.combo->pos());
    QVERIFY(!mark.isEmpty());
    const QColor highlight = d.combo->palette().color(QPalette::Highlight);
    // Right end of the field, past the short unit text: the selection's fill inside the mark.
    const QPoint fill(mark.right() - 2, mark.center().y());
    d.edit->setFocus();
    QTRY_VERIFY(d.edit->hasFocus());
    QImage image = render(&d.dialog);
    QVERIFY(rgbAt(image, fill.x(), fill.y()) != rgb(highlight));
    d.combo->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(d.combo->hasFocus());
    image = render(&d.dialog);
    saveScreenshot(&d.dialog, QStringLiteral("flat_combo_focus"));
    QCOMPARE(rgbAt(image, fill.x(), fill.y()), rgb(highlight));
    // The dotted mark: its corner in the selected text's colour, the next pixel along the fill.
    const QColor text = d.combo->palette().color(QPalette::HighlightedText);
    QCOMPARE(rgbAt(image, mark.left(), mark.top()), rgb(text));
    QCOMPARE(rgbAt(image, mark.left() + 1, mark.top()), rgb(highlight));
  }

  void disabledEditShowsHiliteRingAndNeverTheHoverEdge() {
    EditDialog d;
    d.edit->setEnabled(false);
    d.hover(d.edit, QPoint(30, 10));
    QTest::qWait(40);
    QVERIFY(!d.editFrame->isHot());
    const QImage image = render(&d.dialog);
    saveScreenshot(&d.dialog, QStringLiteral("flat_edit_disabled"));
    const QPoint ring1 = d.leftRing(d.edit, 1);
    QCOMPARE(rgbAt(image, ring1.x(), ring1.y()), rgb(QColor(240, 250, 200)));
    const QPoint bottom(d.edit->x() + 40, d.edit->y() + d.edit->height() - 2);
    QCOMPARE(rgbAt(image, bottom.x(), bottom.y()), rgb(QColor(240, 250, 200)));
  }

  void paletteChangeReachesTheNextPaint() {
    EditDialog d;
    QPalette changed = classicPalette();
    changed.setColor(QPalette::Button, QColor(200, 180, 160));
    d.dialog.setPalette(changed);
    QCOMPARE(rgb(d.editFrame->faceColor()), rgb(QColor(200, 180, 160)));
    const QPoint ring3 = d.leftRing(d.edit, 3);
    QCOMPARE(rgbAt(render(&d.dialog), ring3.x(), ring3.y()), rgb(QColor(200, 180, 160)));
  }
};

QTEST_MAIN(FlatEditTest)
#include "flat_edit_test.moc"
