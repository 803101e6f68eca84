// The plan of a profile's tree: its strata permutation is a bijection, a measured files-per-folder
// distribution read by rank gives back the tree's own counts (the one huge folder included), the
// counts are dealt out by the profile's file depths, and every file gets its own size stratum.
#include "engine/population_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <numeric>
#include <set>

#include "engine/population_fit.h"

namespace quillet {
namespace {

TEST(KeyedPermutation, MapsEveryRangeOntoItselfAndTheKeyChangesTheOrder) {
  for (const std::uint64_t n : {0ull, 1ull, 2ull, 3ull, 5ull, 16ull, 17ull, 1000ull, 4097ull}) {
    SCOPED_TRACE(n);
    const KeyedPermutation a(n, 11), b(n, 12);
    std::set<std::uint64_t> images;
    std::size_t moved = 0, differ = 0;
    for (std::uint64_t i = 0; i < n; ++i) {
      const std::uint64_t x = a.at(i);
      ASSERT_LT(x, n);
      images.insert(x);
      moved += x != i;
      differ += x != b.at(i);
    }
    EXPECT_EQ(images.size(), n);
    if (n >= 16) {
      EXPECT_GT(moved, n / 2);
      EXPECT_GT(differ, n / 2);
    }
    EXPECT_EQ(a.at(n + 3), n + 3);
  }
}

// A skewed tree as a measure sees it: most folders hold a few files, some hundreds, one thousands.
std::vector<std::int64_t> skewedCounts() {
  std::vector<std::int64_t> v;
  for (int i = 0; i < 4600; ++i) v.push_back(i % 7 == 0 ? 0 : 1 + (i * 37) % 9);
  for (int i = 0; i < 20; ++i) v.push_back(100 + 23 * i);
  v.push_back(1273);
  v.push_back(17731);
  return v;
}

TEST(PopulationPlan, MeasuredCountsComeBackByRankAndBucketsAloneBySharedValues) {
  const std::vector<std::int64_t> values = skewedCounts();
  const CountDistribution measured = countDistribution(values);
  const auto n = static_cast<std::int64_t>(values.size());
  std::vector<std::int64_t> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  std::int64_t sum = 0, exact = 0;
  for (std::int64_t k = 0; k < n; ++k) {
    const std::int64_t v =
        PopulationSampler::countAt(measured, (static_cast<double>(k) + 0.5) / static_cast<double>(n));
    sum += v;
    exact += v == sorted[static_cast<std::size_t>(k)];
  }
  // Each small count is its own bucket, so only the hundreds are interpolated.
  const double total = std::accumulate(values.begin(), values.end(), 0.0);
  EXPECT_NEAR(static_cast<double>(sum), total, 0.02 * total);
  EXPECT_GE(exact, n - 21);
  EXPECT_EQ(PopulationSampler::countAt(measured, 1.0), 17731);
  EXPECT_EQ(PopulationSampler::countAt(measured, 1.0 - 0.5 / static_cast<double>(n)), 17731);
  // The second largest is alone in its bucket, with no grid point: the bucket's middle.
  EXPECT_EQ(PopulationSampler::countAt(measured, 1.0 - 1.5 / static_cast<double>(n)), (1025 + 2048 + 1) / 2);

  // Without the count and quantiles: the buckets' inverse, spread evenly inside each.
  CountDistribution buckets;
  buckets.buckets = {{0, 0, 0.5}, {1, 4, 0.4}, {16385, 32768, 0.1}};
  EXPECT_EQ(PopulationSampler::countAt(buckets, 0.25), 0);
  EXPECT_EQ(PopulationSampler::countAt(buckets, 0.51), 1);
  EXPECT_EQ(PopulationSampler::countAt(buckets, 0.89), 4);
  EXPECT_EQ(PopulationSampler::countAt(buckets, 0.96), 16385 + 9830);
}

// The tree of a measured profile: 4,622 folders over depths 0..6, its files mostly at depth 2.
PopulationProfile skewedProfile(std::vector<std::int64_t>& depths) {
  PopulationProfile p;
  p.filesPerFolder = countDistribution(skewedCounts());
  p.fileDepth.buckets = {{1, 1, 0.05}, {2, 2, 0.45}, {3, 3, 0.25}, {4, 4, 0.15}, {5, 5, 0.07}, {6, 9, 0.03}};
  depths = {0};
  for (int d = 1; d <= 6; ++d) depths.insert(depths.end(), static_cast<std::size_t>(d == 1 ? 40 : 920), d);
  depths.resize(skewedCounts().size(), 6);
  return p;
}

TEST(PopulationPlan, CountsTotalTheProfileAndSitAtItsFileDepths) {
  std::vector<std::int64_t> depths;
  const PopulationProfile profile = skewedProfile(depths);
  const std::vector<std::int64_t> values = skewedCounts();
  const double total = std::accumulate(values.begin(), values.end(), 0.0);
  for (const std::uint64_t key : {1ull, 2ull, 99ull}) {
    SCOPED_TRACE(key);
    const std::vector<std::int64_t> counts = plannedFolderCounts(profile, depths, 0, INT32_MAX, key);
    ASSERT_EQ(counts.size(), depths.size());
    EXPECT_EQ(plannedFolderCounts(profile, depths, 0, INT32_MAX, key), counts);
    const double planned = std::accumulate(counts.begin(), counts.end(), 0.0);
    EXPECT_NEAR(planned, total, 0.02 * total);
    EXPECT_EQ(*std::max_element(counts.begin(), counts.end()), 17731);
    std::map<std::int64_t, double> atDepth;
    for (std::size_t i = 0; i < counts.size(); ++i) atDepth[depths[i]] += static_cast<double>(counts[i]);
    // The huge folder alone is 32 % of the files: it lands where the most files are wanted.
    const std::size_t huge =
        static_cast<std::size_t>(std::max_element(counts.begin(), counts.end()) - counts.begin());
    EXPECT_EQ(depths[huge], 2);
    for (const auto& b : profile.fileDepth.buckets) {
      double got = 0;
      for (std::int64_t d = b.low; d <= b.high; ++d) got += atDepth[d];
      EXPECT_NEAR(got / planned, b.share, 0.01) << "depth " << b.low;
    }
  }
  EXPECT_NE(plannedFolderCounts(profile, depths, 0, INT32_MAX, 1),
            plannedFolderCounts(profile, depths, 0, INT32_MAX, 2));
  // The run's bounds hold for every folder.
  const std::vector<std::int64_t> bounded = plannedFolderCounts(profile, depths, 2, 50, 1);
  EXPECT_EQ(*std::min_element(bounded.begin(), bounded.end()), 2);
  EXPECT_EQ(*std::max_element(bounded.begin(), bounded.end()), 50);
}

TEST(PopulationPlan, EveryFileHasItsOwnSizeStratumAndFoldersFollowOneAnother) {
  std::vector<std::int64_t> depths;
  PopulationProfile profile = skewedProfile(depths);
  depths.resize(300);
  std::vector<std::string> paths = {""};
  for (std::size_t i = 1; i < depths.size(); ++i) paths.push_back("f" + std::to_string(i));
  const PopulationSampler sampler(profile);
  const PopulationPlan plan(sampler, paths, depths, 0, 100, 5);
  std::int64_t next = 0;
  for (const std::string& path : paths) {
    const PopulationPlan::Folder* f = plan.folder(path);
    ASSERT_NE(f, nullptr) << path;
    EXPECT_EQ(f->firstFile, next);
    next += f->files;
  }
  EXPECT_EQ(plan.files(), next);
  EXPECT_EQ(plan.folder("elsewhere"), nullptr);
  ASSERT_GT(plan.files(), 300);
  std::vector<std::int64_t> strata;
  for (std::int64_t g = 0; g < plan.files(); ++g) {
    const double u = plan.sizeShare(g, 0.5);
    ASSERT_GT(u, 0);
    ASSERT_LT(u, 1);
    strata.push_back(static_cast<std::int64_t>(u * static_cast<double>(plan.files())));
  }
  std::sort(strata.begin(), strata.end());
  for (std::int64_t k = 0; k < plan.files(); ++k) ASSERT_EQ(strata[static_cast<std::size_t>(k)], k);
  EXPECT_EQ(plan.sizeShare(plan.files(), 0.25), 0.25);
}

}  // namespace
}  // namespace quillet
