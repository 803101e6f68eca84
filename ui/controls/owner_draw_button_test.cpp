// Tests of the owner-drawn push button: its bevels pixel by pixel, the caption colour, bold and
// check state, double clicks and colour changes.
#include "ui/controls/owner_draw_button.h"

#include <QSignalSpy>
#include <QTest>

#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

class OwnerDrawButtonTest : public QObject {
  Q_OBJECT

 private:
  static constexpr int kWidth = 64;
  static constexpr int kHeight = 22;

  static void expectCornersInEdgeColor(const QImage& image, const QColor& edge) {
    const int L = 0, T = 0, R = kWidth, B = kHeight;
    for (const QPoint& p :
         {QPoint(L, T + 2), QPoint(L + 2, T), QPoint(R - 3, T), QPoint(R - 1, T + 2), QPoint(R - 1, B - 3),
          QPoint(R - 3, B - 1), QPoint(L + 2, B - 1), QPoint(L, B - 3)}) {
      QCOMPARE(rgbAt(image, p.x(), p.y()), rgb(edge));
    }
  }

  std::unique_ptr<OwnerDrawButton> makeButton(const QString& text = QStringLiteral("Stop")) {
    auto button = std::make_unique<OwnerDrawButton>(text);
    button->setPalette(classicPalette());
    button->resize(kWidth, kHeight);
    return button;
  }

 private slots:
  void derivesMidAndEdgeColorsHalfwayWithSignedShift_data() {
    QTest::addColumn<QColor>("from");
    QTest::addColumn<QColor>("to");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("face to shadow") << QColor(192, 192, 192) << QColor(128, 128, 128)
                                    << QColor(160, 160, 160);
    QTest::newRow("shadow to black") << QColor(128, 128, 128) << QColor(0, 0, 0) << QColor(64, 64, 64);
    QTest::newRow("odd rising") << QColor(100, 0, 255) << QColor(201, 1, 0) << QColor(150, 0, 127);
    QTest::newRow("odd falling rounds down")
        << QColor(201, 1, 0) << QColor(100, 0, 255) << QColor(150, 0, 127);
  }
  void derivesMidAndEdgeColorsHalfwayWithSignedShift() {
    QFETCH(QColor, from);
    QFETCH(QColor, to);
    QFETCH(QColor, expected);
    QCOMPARE(rgb(halfwayColor(from, to)), rgb(expected));
  }

  void raisedButtonHasEdgeCornersAndFaceInside() {
    auto button = makeButton();
    const QImage image = render(button.get());
    saveScreenshot(button.get(), QStringLiteral("button_raised"));
    QCOMPARE(rgb(button->colors().edge), rgb(QColor(64, 64, 64)));
    expectCornersInEdgeColor(image, button->colors().edge);
    QCOMPARE(rgbAt(image, 3, 3), rgb(button->colors().hilite));  // the highlight's corner pixel
    QCOMPARE(rgbAt(image, 4, 4), rgb(button->colors().face));
    QCOMPARE(rgbAt(image, kWidth / 2, 0), rgb(button->colors().windowFrame));  // the outline
  }

  void pressedButtonShowsPressedBevelOnMidFace() {
    auto button = makeButton();
    QSignalSpy pressedSpy(button.get(), &OwnerDrawButton::pressedChanged);
    QTest::mousePress(button.get(), Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(button->isPressed());
    QCOMPARE(pressedSpy.count(), 1);
    const QImage image = render(button.get());
    saveScreenshot(button.get(), QStringLiteral("button_pressed"));
    QCOMPARE(rgbAt(image, 4, 4), rgb(QColor(160, 160, 160)));
    QCOMPARE(rgbAt(image, 1, 5), rgb(button->colors().edge));    // pressed bevel's outer line
    QCOMPARE(rgbAt(image, 3, 3), rgb(button->colors().shadow));  // and its inner corner
    expectCornersInEdgeColor(image, button->colors().edge);
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, QPoint(10, 10));
    QVERIFY(!button->isPressed());
  }

  void disabledButtonShowsOnlyOutlineInShadow() {
    auto button = makeButton();
    button->setEnabled(false);
    const QImage image = render(button.get());
    saveScreenshot(button.get(), QStringLiteral("button_disabled"));
    QCOMPARE(rgbAt(image, kWidth / 2, 0), rgb(button->colors().shadow));
    QCOMPARE(rgbAt(image, 3, 3), rgb(button->colors().face));           // no bevel
    QCOMPARE(rgbAt(image, 0, 2) == rgb(button->colors().edge), false);  // no corner pixels
  }

  void flatButtonIsWindowColouredAndInvertsWhilePressed() {
    auto button = makeButton(QStringLiteral("Scripts help"));
    button->setFlat(true);
    QImage image = render(button.get());
    QCOMPARE(rgbAt(image, 4, 4), rgb(QColor(255, 255, 255)));
    QCOMPARE(rgbAt(image, kWidth / 2, 0), rgb(QColor(0, 0, 0)));  // inverted window colour
    saveScreenshot(button.get(), QStringLiteral("button_flat"));
    button->setDown(true);
    image = render(button.get());
    QCOMPARE(rgbAt(image, 4, 4), rgb(QColor(0, 0, 0)));
    saveScreenshot(button.get(), QStringLiteral("button_flat_pressed"));
  }

  void setBoldStoresFlagAndNotifiesOnce() {
    auto button = makeButton(QStringLiteral("Close"));
    QSignalSpy spy(button.get(), &OwnerDrawButton::boldChanged);
    button->setBold(true);
    QVERIFY(button->isBold());
    QCOMPARE(button->property("bold").toBool(), true);
    button->setBold(true);
    QCOMPARE(spy.count(), 1);
    saveScreenshot(button.get(), QStringLiteral("button_bold"));
  }

  void pushButtonIgnoresSetCheck() {
    auto button = makeButton();
    QSignalSpy spy(button.get(), &OwnerDrawButton::checkStateChanged);
    button->setCheck(1);
    QCOMPARE(button->check(), 0);
    QCOMPARE(spy.count(), 0);
  }

  void doubleClickCountsAsTwoPresses() {
    auto button = makeButton();
    QSignalSpy clicked(button.get(), &QAbstractButton::clicked);
    const QPoint inside(10, 10);
    QTest::mousePress(button.get(), Qt::LeftButton, {}, inside);
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, inside);
    QTest::mouseDClick(button.get(), Qt::LeftButton, {}, inside);
    QVERIFY(button->isPressed());
    QTest::mouseRelease(button.get(), Qt::LeftButton, {}, inside);
    QCOMPARE(clicked.count(), 2);
  }

  void paletteChangeReachesTheNextRepaint() {
    auto button = makeButton();
    QPalette changed = classicPalette();
    changed.setColor(QPalette::Dark, QColor(100, 20, 60));
    changed.setColor(QPalette::Shadow, QColor(0, 40, 0));
    button->setPalette(changed);
    QCOMPARE(rgb(button->colors().edge), rgb(QColor(50, 30, 30)));
    expectCornersInEdgeColor(render(button.get()), QColor(50, 30, 30));
  }

  void captionsTakeThePalettesTextColour() {
    // A dark desktop: light captions on a dark face. Nothing but the caption is drawn in green; a
    // fixed black caption would leave no green pixel.
    auto button = makeButton(QStringLiteral("Generate"));
    QPalette dark = classicPalette();
    dark.setColor(QPalette::Button, QColor(40, 40, 40));
    dark.setColor(QPalette::ButtonText, QColor(0, 255, 0));
    button->setPalette(dark);
    const QImage image = render(button.get());
    int green = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, y);
        green += c.green() > c.red() + 100 && c.green() > c.blue() + 100 ? 1 : 0;
      }
    }
    QVERIFY2(green > 10, qPrintable(QString::number(green)));
    saveScreenshot(button.get(), QStringLiteral("button_dark_palette"));
  }
};

QTEST_MAIN(OwnerDrawButtonTest)
#include "owner_draw_button_test.moc"
