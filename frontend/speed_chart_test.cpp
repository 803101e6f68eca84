#include "frontend/speed_chart.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(SpeedChartTest, TheLineHoldsEverySampleInsideThePlotWithTheFastestOnTop) {
  // 1 Mb in the first second, 3 Mb in the second, then 2 Mb: the middle interval is the fastest.
  const std::vector<RateSample> samples{
      {1.0, 1 << 20, 1, 0, {}}, {2.0, 4 << 20, 2, 0, {}}, {3.0, 6 << 20, 3, 0, {}}};
  const SpeedChartGeometry g = speedChartGeometry(samples, false, kSpeedChartWidth, kSpeedChartHeight);
  ASSERT_EQ(g.line.size(), samples.size());
  for (const ChartPoint& p : g.line) {
    EXPECT_GE(p.x, g.plot.left);
    EXPECT_LT(p.x, g.plot.right);
    EXPECT_GE(p.y, g.plot.top);
    EXPECT_LT(p.y, g.plot.bottom);
  }
  EXPECT_LT(g.line[0].x, g.line[1].x);
  EXPECT_LT(g.line[1].x, g.line[2].x);
  EXPECT_LT(g.line[1].y, g.line[2].y);  // 3 Mb/s higher than 2 Mb/s
  EXPECT_LT(g.line[2].y, g.line[0].y);
  // 3 Mb/s lands exactly on a round grid line (0.75, 1.5, 2.25, 3 ...), at the top of the scale.
  EXPECT_EQ(g.line[1].y, g.gridY.back());
  EXPECT_EQ(g.title, "Write rate: 2.00 Mb/s, over 3.00 s");
  bool zeroRate = false, lastTime = false;
  for (const ChartLabel& l : g.labels) zeroRate |= l.text == "0 b/s", lastTime |= l.text == "3 s";
  EXPECT_TRUE(zeroRate);
  EXPECT_TRUE(lastTime);

  const SpeedChartGeometry none = speedChartGeometry({}, true, kSpeedChartWidth, kSpeedChartHeight);
  EXPECT_TRUE(none.line.empty());
  EXPECT_EQ(none.title, kSpeedChartEmpty);
}

}  // namespace
}  // namespace quillet
