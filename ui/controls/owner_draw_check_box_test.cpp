// Tests of the owner-drawn check box: mouse capture semantics, the space key, double clicks and
// the indicator pixel by pixel.
#include "ui/controls/owner_draw_check_box.h"

#include <QSignalSpy>
#include <QTest>

#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

class OwnerDrawCheckBoxTest : public QObject {
  Q_OBJECT

 private:
  static constexpr int kHeight = 16;
  // The indicator's inner square: the box top is ((16 - 12) / 2) - 1 = 1, the square one further.
  static constexpr int kX = 1;
  static constexpr int kY = 2;

  std::unique_ptr<OwnerDrawCheckBox> makeBox() {
    auto box = std::make_unique<OwnerDrawCheckBox>(QStringLiteral("Fill random"));
    box->setPalette(classicPalette());
    box->resize(100, kHeight);
    return box;
  }

 private slots:
  void clickInsideTogglesAndNotifiesOnce() {
    auto box = makeBox();
    QSignalSpy clicked(box.get(), &QAbstractButton::clicked);
    QTest::mouseClick(box.get(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(box->check(), 1);
    QCOMPARE(clicked.count(), 1);
    QVERIFY(!box->isPressed());
    QTest::mouseClick(box.get(), Qt::LeftButton, {}, QPoint(50, 5));
    QCOMPARE(box->check(), 0);
    QCOMPARE(clicked.count(), 2);
  }

  void releaseOutsideLeavesStateAndSendsNothing() {
    auto box = makeBox();
    QSignalSpy clicked(box.get(), &QAbstractButton::clicked);
    QSignalSpy pressed(box.get(), &OwnerDrawButton::pressedChanged);
    QTest::mousePress(box.get(), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(box->isPressed());
    QMouseEvent away(QEvent::MouseMove, QPointF(150, 40), box->mapToGlobal(QPointF(150, 40)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(box.get(), &away);
    QVERIFY(!box->isPressed());  // the capture follows the mouse out of the control
    QTest::mouseRelease(box.get(), Qt::LeftButton, {}, QPoint(150, 40));
    QCOMPARE(box->check(), 0);
    QCOMPARE(clicked.count(), 0);
    QCOMPARE(pressed.count(), 2);
  }

  void spaceKeyShowsPressedBoxUntilReleased() {
    auto box = makeBox();
    QSignalSpy clicked(box.get(), &QAbstractButton::clicked);
    QTest::keyPress(box.get(), Qt::Key_Space);
    QVERIFY(box->isPressed());
    const QImage image = render(box.get());
    saveScreenshot(box.get(), QStringLiteral("check_box_pressed"));
    QCOMPARE(rgbAt(image, kX + 5, kY + 5), rgb(box->colors().mid));
    QCOMPARE(rgbAt(image, kX, kY + 3), rgb(box->colors().shadow));  // sunken edge
    QCOMPARE(box->check(), 0);
    QTest::keyRelease(box.get(), Qt::Key_Space);
    QVERIFY(!box->isPressed());
    QCOMPARE(box->check(), 1);
    QCOMPARE(clicked.count(), 1);
  }

  void doubleClickTogglesTwice() {
    auto box = makeBox();
    QSignalSpy states(box.get(), &OwnerDrawButton::checkStateChanged);
    QSignalSpy clicked(box.get(), &QAbstractButton::clicked);
    const QPoint inside(5, 5);
    QTest::mousePress(box.get(), Qt::LeftButton, {}, inside);
    QTest::mouseRelease(box.get(), Qt::LeftButton, {}, inside);
    QTest::mouseDClick(box.get(), Qt::LeftButton, {}, inside);
    QTest::mouseRelease(box.get(), Qt::LeftButton, {}, inside);
    QCOMPARE(states.count(), 2);
    QCOMPARE(clicked.count(), 2);
    QCOMPARE(box->check(), 0);
  }

  void tickStartsAtTheFixedPixels() {
    auto box = makeBox();
    QSignalSpy states(box.get(), &OwnerDrawButton::checkStateChanged);
    box->setCheck(1);
    box->setCheck(1);
    QCOMPARE(states.count(), 1);
    QCOMPARE(box->property("checkState").toInt(), 1);
    const QImage image = render(box.get());
    saveScreenshot(box.get(), QStringLiteral("check_box_checked"));
    const ButtonColors& c = box->colors();
    QCOMPARE(rgbAt(image, kX + 4, kY + 8), rgb(c.shadow));    // short stroke's start
    QCOMPARE(rgbAt(image, kX + 2, kY + 6), rgb(c.mid));       // its soft edge
    QCOMPARE(rgbAt(image, kX + 1, kY + 4), rgb(c.dkShadow));  // long stroke's start
    QCOMPARE(rgbAt(image, kX + 11, kY), rgb(c.dkShadow));     // the stroke leaves the box
    QCOMPARE(rgbAt(image, kX + 11, kY + 1), rgb(c.shadow));
    QCOMPARE(rgbAt(image, kX + 12, kY + 1), rgb(c.mid));
    QCOMPARE(rgbAt(image, kX + 12, kY - 1), rgb(c.face));  // end points are not drawn
  }

  void disabledBoxFramesInShadow() {
    auto box = makeBox();
    box->setCheck(1);
    box->setEnabled(false);
    const QImage image = render(box.get());
    saveScreenshot(box.get(), QStringLiteral("check_box_disabled"));
    QCOMPARE(rgbAt(image, 0, kY + 5), rgb(box->colors().shadow));
    QCOMPARE(rgbAt(image, kX + 4, kY + 8), rgb(box->colors().mid));
  }
};

QTEST_MAIN(OwnerDrawCheckBoxTest)
#include "owner_draw_check_box_test.moc"
