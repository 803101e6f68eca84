#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "engine/rate_series.h"
#include "engine/rate_text.h"

namespace quillet {
namespace {

TEST(RateTextTest, SummaryFiguresInTheDisplaysUnits) {
  EXPECT_EQ(groupThousands(0), "0");
  EXPECT_EQ(groupThousands(1234567), "1,234,567");
  EXPECT_EQ(groupThousands(-1000), "-1,000");
  EXPECT_EQ(groupThousands(INT64_MIN), "-9,223,372,036,854,775,808");
  EXPECT_EQ(formatElapsed(0.25), "0.25 s");
  EXPECT_EQ(formatElapsed(12.34), "12.3 s");
  EXPECT_EQ(formatElapsed(125), "2 min 05 s");
  EXPECT_EQ(formatElapsed(3725), "1 h 02 min 05 s");
  EXPECT_EQ(formatByteRate(10 * 1048576.0, 2), "5.00 Mb/s");
  EXPECT_EQ(formatByteRate(1000, 0), "0 b/s");
  EXPECT_EQ(formatFileRate(123456, 2), "61,728 files/s");
  EXPECT_EQ(formatFileRate(7, 2), "3.5 files/s");
  // Small files give files/s as well; large ones only the byte rate.
  EXPECT_EQ(formatRateSentence("Write", 3 * 102400, 3, 0.5),
            "Write rate: 600.00 Kb/s, 6.0 files/s, over 0.50 s");
  EXPECT_EQ(formatRateSentence("Write", 4 * 1048576, 2, 2), "Write rate: 2.00 Mb/s, over 2.00 s");
  EXPECT_EQ(formatRateSentence("Read", 4096, 1, 1, false), "Read rate: 4.00 Kb/s, over 1.00 s");
}

TEST(RateSeriesTest, KeepsTheBeatAndAlwaysTheEnd) {
  RateSeries series;
  series.add({0.1, 10, 1, 0, {}});
  series.add({0.12, 20, 1, 0, {}});  // too close: left out
  series.add({0.2, 30, 2, 0, {}});
  series.add({0.21, 40, 3, 0, {}}, true);
  ASSERT_EQ(series.samples().size(), 3u);
  EXPECT_EQ(series.samples().back().bytes, 40);
  // Past ten seconds one a second.
  series.add({10.5, 50, 3, 0, {}});
  EXPECT_DOUBLE_EQ(series.spacing(), 1.0);
  series.add({11.0, 60, 3, 0, {}});
  EXPECT_EQ(series.samples().back().bytes, 50);
}

TEST(RateSeriesTest, MergesNeighboursSoALongRunStaysBoundedAndWhole) {
  RateSeries series;
  // Ten hours at a sample a second.
  const int seconds = 36000;
  for (int t = 1; t <= seconds; ++t) series.add({10.0 + t, std::int64_t{t} * 100, t, 0, {}}, t == seconds);
  const auto& s = series.samples();
  EXPECT_LE(s.size(), RateSeries::kMaxSamples);
  EXPECT_GE(s.size(), RateSeries::kMaxSamples / 2);
  EXPECT_GT(series.merges(), 0);
  EXPECT_EQ(s.back().bytes, std::int64_t{seconds} * 100);
  // Still spread over the whole run, in order, without a gap wider than the spacing allows.
  EXPECT_LT(s.front().seconds, 10.0 + seconds / 100.0);
  for (std::size_t i = 1; i < s.size(); ++i) {
    EXPECT_GT(s[i].seconds, s[i - 1].seconds);
    EXPECT_LE(s[i].seconds - s[i - 1].seconds, series.spacing() + 1e-9);
  }
}

TEST(RateSamplerTest, SamplesWhileTheWorkGoesAndEndsWithTheLastFigures) {
  std::atomic<std::int64_t> bytes{0};
  RateSampler sampler([&] {
    RateSample s;
    s.bytes = bytes.load();
    return s;
  });
  for (int i = 0; i < 30; ++i) {
    bytes += 100;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  bytes = 12345;
  const RateSeries series = sampler.finish();
  ASSERT_FALSE(series.samples().empty());
  EXPECT_EQ(series.samples().back().bytes, 12345);
}

}  // namespace
}  // namespace quillet
