// The window menu's speed chart: the window paints the line, grid and frame the shared geometry
// gives (pixel checks on what it shows), and the menu item opens one window, shown again rather
// than doubled. Screenshot of the chart.
#include <QAction>
#include <QImage>
#include <QMenu>
#include <QtTest>

#include "frontend/speed_chart.h"
#include "ui/main/main_test_support.h"
#include "ui/main/speed_chart_window.h"
#include "ui/ui_test_support.h"

using namespace quillet;
using namespace quillet::test_support;

namespace {

QAction* chartAction(MainDialog& d) {
  for (QAction* action : d.systemMenu()->actions()) {
    if (action->text() == QString::fromLatin1(kSpeedChartItem)) return action;
  }
  return nullptr;
}

class SpeedChartWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void paintsTheSharedGeometry() {
    // A fast first second (a cache), then a slower device.
    const std::vector<RateSample> samples{{1.0, 8 << 20, 2, 0, {}},
                                          {2.0, 10 << 20, 3, 0, {}},
                                          {3.0, 12 << 20, 4, 0, {}},
                                          {4.0, 14 << 20, 5, 0, {}}};
    SpeedChartWindow window([&] { return std::make_pair(samples, false); });
    window.resize(kSpeedChartWidth, kSpeedChartHeight);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage shown = window.grab().toImage();
    saveScreenshot(&window, QStringLiteral("speed_chart"));
    const SpeedChartGeometry g = speedChartGeometry(samples, false, window.width(), window.height());
    QCOMPARE(g.line.size(), samples.size());
    const auto rgb = [&](int x, int y) { return shown.pixel(x, y) & 0xffffffu; };
    constexpr QRgb line = SpeedChartWindow::kLineColor & 0xffffffu;
    // On every sample's point and half-way along every segment, the line's colour.
    for (std::size_t i = 0; i < g.line.size(); ++i) {
      QCOMPARE(rgb(g.line[i].x, g.line[i].y), line);
      if (i > 0) {
        QCOMPARE(rgb((g.line[i].x + g.line[i - 1].x) / 2, (g.line[i].y + g.line[i - 1].y) / 2), line);
      }
    }
    // The grid where the geometry puts it, the background between, and no line outside the frame.
    QCOMPARE(rgb(g.gridX.front(), g.plot.bottom - 4), SpeedChartWindow::kGridColor & 0xffffffu);
    QCOMPARE(rgb(g.plot.left + 3, g.plot.bottom - 4), SpeedChartWindow::kBackground & 0xffffffu);
    for (int y = 0; y < shown.height(); ++y) {
      for (int x = 0; x < shown.width(); ++x) {
        if (x >= g.plot.left - 2 && x < g.plot.right + 2 && y >= g.plot.top - 2 && y < g.plot.bottom + 2)
          continue;
        QVERIFY2(rgb(x, y) != line, qPrintable(QStringLiteral("line colour at %1,%2").arg(x).arg(y)));
      }
    }
  }

  void theMenuItemOpensOneWindow() {
    DialogEnvironment env;
    auto d = env.open();
    QVERIFY2(d, "dialog not active");
    QAction* action = chartAction(*d);
    QVERIFY(action != nullptr);
    QVERIFY(d->speedChart() == nullptr);
    action->trigger();
    QWidget* first = d->speedChart();
    QVERIFY(first != nullptr);
    QVERIFY(QTest::qWaitForWindowExposed(first));
    QCOMPARE(first->windowTitle(), QString::fromLatin1(kSpeedChartTitle));
    action->trigger();
    QCOMPARE(d->speedChart(), first);
    first->close();
    QTRY_VERIFY(d->speedChart() == nullptr);
  }
};

}  // namespace

QTEST_MAIN(SpeedChartWindowTest)
#include "speed_chart_window_test.moc"
