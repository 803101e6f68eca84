// Tests of the colour progress bar: colour arithmetic, range and position, the percentage text,
// and the filled width, pixel by pixel.
#include "ui/controls/color_progress_bar.h"

#include <QSignalSpy>
#include <QTest>

#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

class ColorProgressBarTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<ColorProgressBar> makeBar(const QColor& color = QColor(0, 0, 255)) {
    auto bar = std::make_unique<ColorProgressBar>();
    bar->setPalette(classicPalette());
    bar->resize(200, 16);
    bar->setColor(color);
    return bar;
  }

 private slots:
  void derivesShadesBy51WithoutClamping() {
    auto bar = makeBar(QColor(255, 0, 0));
    QCOMPARE(rgb(bar->light1()), rgb(QColor(255, 51, 51)));
    QCOMPARE(rgb(bar->light2()), rgb(QColor(255, 102, 102)));
    QCOMPARE(rgb(bar->light3()), rgb(QColor(255, 153, 153)));
    QCOMPARE(rgb(bar->dark1()), rgb(QColor(204, 0, 0)));
    QCOMPARE(rgb(bar->dark2()), rgb(QColor(153, 0, 0)));
    QCOMPARE(rgb(lightenBy51(QColor(230, 204, 0))), rgb(QColor(230, 255, 51)));
    QCOMPARE(rgb(darkenBy51(QColor(50, 51, 255))), rgb(QColor(50, 0, 204)));
    QCOMPARE(rgb(bar->midShadow()), rgb(QColor(64, 64, 64)));
  }

  void newBarReadsZeroAndIsEmpty() {
    ColorProgressBar bar;
    bar.resize(200, 16);
    QCOMPARE(bar.text(), QStringLiteral("0%"));
    QCOMPARE(bar.filledWidth(), 0);
    QCOMPARE(bar.upper(), 100);
    QCOMPARE(bar.step(), 10);
  }

  void filledWidthFollowsPosition_data() {
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << 0 << 0 << "0%";
    QTest::newRow("50 per mille") << 50 << 10 << "5%";
    QTest::newRow("half") << 500 << 100 << "50%";
    QTest::newRow("full") << 1000 << 200 << "100%";
  }
  void filledWidthFollowsPosition() {
    QFETCH(int, pos);
    QFETCH(int, width);
    QFETCH(QString, text);
    auto bar = makeBar();
    bar->setRange(0, 1000);
    bar->setPos(pos);
    QCOMPARE(bar->filledWidth(), width);
    QCOMPARE(bar->text(), text);
    const QImage image = render(bar.get());
    saveScreenshot(bar.get(), QStringLiteral("bar_%1_per_mille").arg(pos));
    const QColor face(192, 192, 192);
    if (width == 0) {
      QCOMPARE(rgbAt(image, 0, 0), rgb(face));
      QCOMPARE(rgbAt(image, 1, 0), rgb(face));
      return;
    }
    QCOMPARE(rgbAt(image, 0, 0), rgb(bar->color()));
    QCOMPARE(rgbAt(image, width - 1, 0), rgb(bar->dark1()));
    if (width + 2 < bar->width()) {
      QCOMPARE(rgbAt(image, width, 0), rgb(bar->midShadow()));
      QCOMPARE(rgbAt(image, width + 1, 0), rgb(bar->shadow()));
      QCOMPARE(rgbAt(image, width + 2, 0), rgb(face));
    }
  }

  void setRangeResetsPositionToLowerBound() {
    auto bar = makeBar();
    QSignalSpy ranges(bar.get(), &ColorProgressBar::rangeChanged);
    QSignalSpy positions(bar.get(), &ColorProgressBar::posChanged);
    bar->setPos(70);
    bar->setRange(0, 1000);
    QCOMPARE(bar->pos(), 0);
    QCOMPARE(bar->text(), QStringLiteral("0%"));
    bar->setRange(200, 1000);
    QCOMPARE(bar->pos(), 200);
    QCOMPARE(bar->text(), QStringLiteral("20%"));  // the lower bound is not subtracted
    QCOMPARE(ranges.count(), 2);
    QCOMPARE(positions.last().at(0).toInt(), 200);
  }

  void positionAboveUpperReadsAboveHundredAndFillsTheBar() {
    auto bar = makeBar();
    bar->setRange(0, 1000);
    bar->setPos(1500);
    QCOMPARE(bar->text(), QStringLiteral("150%"));
    QCOMPARE(bar->filledWidth(), bar->width());
  }

  void emptyRangeShowsEmptyBar_data() {
    QTest::addColumn<int>("upper");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative, as a one-byte total scales") << -1000;
  }
  void emptyRangeShowsEmptyBar() {
    QFETCH(int, upper);
    auto bar = makeBar();
    bar->setRange(0, upper);
    QCOMPARE(bar->filledWidth(), 0);
    QCOMPARE(bar->text(), QStringLiteral("0%"));
    QCOMPARE(rgbAt(render(bar.get()), 0, 0), rgb(QColor(192, 192, 192)));
  }

  void systemColourChangeWaitsForSetColor() {
    auto bar = makeBar();
    QPalette changed = classicPalette();
    changed.setColor(QPalette::Dark, QColor(10, 20, 30));
    bar->setPalette(changed);
    QCOMPARE(rgb(bar->shadow()), rgb(QColor(128, 128, 128)));
    bar->setColor(bar->color());
    QCOMPARE(rgb(bar->shadow()), rgb(QColor(10, 20, 30)));
  }
};

QTEST_MAIN(ColorProgressBarTest)
#include "color_progress_bar_test.moc"
