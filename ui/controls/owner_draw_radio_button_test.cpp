// Tests of the owner-drawn radio button: clicks, the space key, arrow keys and group clearing,
// focus moving to the checked button, and the ring's turn when sunken.
#include "ui/controls/owner_draw_radio_button.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include "ui/controls/dialog_group.h"
#include "ui/controls/owner_draw_check_box.h"
#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {
// A dialog with a group of two radio buttons followed by a group holding a check box.
struct RadioDialog {
  QWidget dialog;
  OwnerDrawRadioButton* first = new OwnerDrawRadioButton(QStringLiteral("By all size"), &dialog);
  OwnerDrawRadioButton* second = new OwnerDrawRadioButton(QStringLiteral("By files number"), &dialog);
  OwnerDrawCheckBox* other = new OwnerDrawCheckBox(QStringLiteral("Recurse"), &dialog);

  RadioDialog() {
    dialog.setPalette(classicPalette());
    dialog.resize(200, 80);
    first->setGeometry(10, 10, 150, 16);
    second->setGeometry(10, 30, 150, 16);
    other->setGeometry(10, 50, 150, 16);
    setGroupStart(first);
    setGroupStart(other);
  }
  void showActive() {
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
  }
};
}  // namespace

class OwnerDrawRadioButtonTest : public QObject {
  Q_OBJECT

 private slots:
  void clickingUncheckedChecksItClearsOtherAndNotifiesOnce() {
    RadioDialog d;
    d.first->setCheck(1);
    QSignalSpy firstClicked(d.first, &QAbstractButton::clicked);
    QSignalSpy secondClicked(d.second, &QAbstractButton::clicked);
    QTest::mouseClick(d.second, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(d.second->check(), 1);
    QCOMPARE(d.first->check(), 0);
    QCOMPARE(secondClicked.count(), 1);
    QCOMPARE(firstClicked.count(), 0);
    saveScreenshot(&d.dialog, QStringLiteral("radio_second_checked"));
    QTest::mouseClick(d.second, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(d.second->check(), 1);  // clicking the checked one keeps it, and notifies again
    QCOMPARE(secondClicked.count(), 2);
  }

  void spaceKeyChecksAndClearsTheGroup() {
    RadioDialog d;
    d.first->setCheck(1);
    d.other->setCheck(1);
    QTest::keyPress(d.second, Qt::Key_Space);
    QVERIFY(d.second->isPressed());
    QTest::keyRelease(d.second, Qt::Key_Space);
    QCOMPARE(d.second->check(), 1);
    QCOMPARE(d.first->check(), 0);
    QCOMPARE(d.other->check(), 1);  // another group is left alone
    QVERIFY(!d.second->isPressed());
  }

  void arrowKeysMoveTheCheckWithinTheGroup_data() {
    QTest::addColumn<int>("forwardKey");
    QTest::addColumn<int>("backwardKey");
    QTest::newRow("right and left") << int(Qt::Key_Right) << int(Qt::Key_Left);
    QTest::newRow("down and up") << int(Qt::Key_Down) << int(Qt::Key_Up);
  }
  void arrowKeysMoveTheCheckWithinTheGroup() {
    QFETCH(int, forwardKey);
    QFETCH(int, backwardKey);
    RadioDialog d;
    d.showActive();
    d.first->setCheck(1);
    d.first->setFocus();
    QSignalSpy secondClicked(d.second, &QAbstractButton::clicked);
    QSignalSpy firstClicked(d.first, &QAbstractButton::clicked);
    QTest::keyClick(d.first, Qt::Key(forwardKey));
    QCOMPARE(d.second->check(), 1);
    QCOMPARE(d.first->check(), 0);
    QCOMPARE(secondClicked.count(), 1);
    QTRY_VERIFY(d.second->hasFocus());
    QTest::keyClick(d.second, Qt::Key(backwardKey));
    QCOMPARE(d.first->check(), 1);
    QCOMPARE(d.second->check(), 0);
    QCOMPARE(firstClicked.count(), 1);
    QTRY_VERIFY(d.first->hasFocus());
  }

  void arrowTowardsAnotherControlLeavesNoRadioChecked() {
    QWidget dialog;
    auto* radio = new OwnerDrawRadioButton(QStringLiteral("Only"), &dialog);
    auto* partner = new OwnerDrawRadioButton(QStringLiteral("Partner"), &dialog);
    auto* edit = new QLineEdit(&dialog);
    radio->setCheck(1);
    partner->setCheck(1);  // clearing the group unchecks it as well
    dialog.show();
    QTest::keyClick(radio, Qt::Key_Up);  // backwards from the first wraps to the edit box
    QCOMPARE(radio->check(), 0);
    QCOMPARE(partner->check(), 0);
    Q_UNUSED(edit);
  }

  void tabbingIntoTheGroupFocusesTheCheckedButton() {
    RadioDialog d;
    d.showActive();
    d.second->setCheck(1);
    d.other->setFocus();
    d.first->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(d.second->hasFocus());
  }

  void sunkenRingIsTheRaisedPatternTurnedHalfway() {
    RadioDialog d;
    // Box of a 16-pixel item: x = 1, y = ((16 - 12) / 2) - 1 = 1.
    const int x = 1, y = 1;
    QImage image = render(d.second);
    QCOMPARE(rgbAt(image, x + 3, y + 5), rgb(d.second->colors().hilite));
    QCOMPARE(rgbAt(image, x + 3, y), rgb(d.second->colors().shadow));  // one of the eight pixels
    QTest::mousePress(d.second, Qt::LeftButton, {}, QPoint(5, 5));
    image = render(d.second);
    saveScreenshot(d.second, QStringLiteral("radio_pressed"));
    QCOMPARE(rgbAt(image, x + 8, y + 6), rgb(d.second->colors().hilite));
    QTest::mouseRelease(d.second, Qt::LeftButton, {}, QPoint(5, 5));
    image = render(d.second);
    QCOMPARE(rgbAt(image, x + 5, y + 5), rgb(d.second->colors().dkShadow));  // the dot
  }
};

QTEST_MAIN(OwnerDrawRadioButtonTest)
#include "owner_draw_radio_button_test.moc"
