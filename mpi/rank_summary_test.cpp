#include "mpi/rank_summary.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(RankSummaryTest, SpreadAndTableOfTheRanksRates) {
  const RateSpread none = spreadOf({});
  EXPECT_EQ(none.mean, 0.0);
  const RateSpread s = spreadOf({2.0, 4.0, 4.0, 4.0, 5.0, 5.0, 7.0, 9.0});
  EXPECT_DOUBLE_EQ(s.minimum, 2.0);
  EXPECT_DOUBLE_EQ(s.maximum, 9.0);
  EXPECT_DOUBLE_EQ(s.mean, 5.0);
  EXPECT_DOUBLE_EQ(s.deviation, 2.0);

  // Two ranks of 100 and 300 Mb/s; the run's totals over its whole time give the aggregate.
  const std::vector<RankRate> ranks{{"node-a", 1000, 200LL << 20, 2.0}, {"node-bb", 3000, 300LL << 20, 1.0}};
  const auto lines = formatRankTable(ranks, 500LL << 20, 4000, 2.5);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Rank  Host            Files      Written           Rate     Files/s");
  EXPECT_EQ(lines[1], "   0  node-a          1,000    200.00 Mb    100.00 Mb/s         500");
  EXPECT_EQ(lines[2], "   1  node-bb         3,000    300.00 Mb    300.00 Mb/s       3,000");
  EXPECT_EQ(
      lines[3],
      "Rate per rank: min 100.00 Mb/s, max 300.00 Mb/s, mean 200.00 Mb/s, standard deviation 100.00 Mb/s");
  EXPECT_EQ(lines[4], "Aggregate: 200.00 Mb/s, 1,600 files/s, over 2.50 s");
  const auto j = rankRateJson(ranks, 500LL << 20, 4000, 2.5);
  EXPECT_DOUBLE_EQ(j["stddev_bytes_per_second"].get<double>(), 100.0 * 1048576);
  EXPECT_DOUBLE_EQ(j["aggregate_files_per_second"].get<double>(), 1600.0);
  EXPECT_FALSE(hostName().empty());
}

}  // namespace
}  // namespace quillet
