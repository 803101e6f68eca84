// Tests of the progress dialogs' figures: bar scaling with its constants and the count texts.
#include "ui/progress/progress_figures.h"

#include <QTest>

using namespace quillet;

Q_DECLARE_METATYPE(quillet::BarSetting)

class ProgressFiguresTest : public QObject {
  Q_OBJECT

 private slots:
  void scalesBarsInThousandths_data() {
    QTest::addColumn<double>("current");
    QTest::addColumn<double>("total");
    QTest::addColumn<double>("constant");
    QTest::addColumn<int>("extra");
    QTest::addColumn<int>("upper");
    QTest::addColumn<int>("pos");
    QTest::newRow("used data") << 750.0 << 1000.0 << 2.0 << 0 << 998 << 749;
    QTest::newRow("files of a folder, one past") << 4.0 << 9.0 << 2.0 << 1 << 801 << 400;
    QTest::newRow("folders, constant 1") << 2.0 << 7.0 << 1.0 << 0 << 875 << 250;
    QTest::newRow("one file planned") << 0.0 << 1.0 << 2.0 << 1 << 1 << 0;
    QTest::newRow("nothing planned") << 0.0 << 0.0 << 2.0 << 0 << -1000 << 0;
    QTest::newRow("past the total narrows to 16 bits") << 70000.0 << 1.0 << 2.0 << 0 << 0
                                                        << int(std::int16_t(35000000 & 0xFFFF));
    QTest::newRow("no divisor") << 5.0 << -1.0 << 2.0 << 0 << 0 << 0;
  }
  void scalesBarsInThousandths() {
    QFETCH(double, current);
    QFETCH(double, total);
    QFETCH(double, constant);
    QFETCH(int, extra);
    QFETCH(int, upper);
    QFETCH(int, pos);
    const BarSetting bar = scaleBar(current, total, constant, extra);
    QCOMPARE(bar.upper, upper);
    QCOMPARE(bar.pos, pos);
  }

  void countsFormatAsTheDialogsShowThem() {
    QCOMPARE(fileCountText(999999), QStringLiteral("999999"));
    QCOMPARE(fileCountText(1000000), QStringLiteral("1e+06"));
    QCOMPARE(fileCountText(1234567), QStringLiteral("1.23457e+06"));
    QCOMPARE(unsignedText(static_cast<std::uint32_t>(-1)), QStringLiteral("4294967295"));
    QCOMPARE(ofText(3, 12), QStringLiteral("3 of 12"));
  }
};

QTEST_MAIN(ProgressFiguresTest)
#include "progress_figures_test.moc"
