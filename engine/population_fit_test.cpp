// The profile's fit: on sizes drawn (seeded) from known mixtures the fit finds the parameters back
// within stated tolerances, and finds no tail where there is none; the quantile grid, the count
// buckets and the extension rule on small hand-checked inputs.
#include "engine/population_fit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace quillet {
namespace {

struct Known {
  double mu, sigma, zeroShare, tailShare, tailStart, alpha;
};

// n sizes from the mixture, whole bytes: empty with zeroShare, Pareto with tailShare, else lognormal.
std::vector<std::int64_t> draw(const Known& k, int n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  std::normal_distribution<double> normal(k.mu, k.sigma);
  std::vector<std::int64_t> sizes;
  for (int i = 0; i < n; ++i) {
    const double pick = u(rng);
    double x = 0;
    if (pick < k.zeroShare) {
      sizes.push_back(0);
      continue;
    }
    if (pick < k.zeroShare + k.tailShare) {
      x = k.tailStart * std::pow(1.0 - u(rng), -1.0 / k.alpha);
    } else {
      x = std::exp(normal(rng));
    }
    sizes.push_back(std::max<std::int64_t>(1, std::llround(std::min(x, 1e15))));
  }
  return sizes;
}

class SizeFitTest : public testing::TestWithParam<Known> {};

// Tolerances, for 200,000 files: mu and sigma within 0.05, the zero share within 0.003, the tail's
// share within 0.01 (absolute), its alpha within 10 % and its start within 15 %; no tail at all for
// a plain lognormal; the fitted mixture within 0.01 of the sizes (Kolmogorov-Smirnov).
TEST_P(SizeFitTest, RecoversTheParametersOfADrawnSample) {
  const Known k = GetParam();
  for (const std::uint64_t seed : {1u, 2u}) {
    std::vector<std::int64_t> sizes = draw(k, 200000, seed);
    const SizeDistribution d = fitSizes(sizes);
    SCOPED_TRACE("mu " + std::to_string(k.mu) + " sigma " + std::to_string(k.sigma) + " seed " +
                 std::to_string(seed));
    EXPECT_NEAR(d.bodyMu, k.mu, 0.05);
    EXPECT_NEAR(d.bodySigma, k.sigma, 0.05);
    EXPECT_NEAR(d.zeroShare, k.zeroShare, 0.003);
    if (k.tailShare == 0) {
      EXPECT_EQ(d.tailShare, 0);
    } else {
      EXPECT_NEAR(d.tailShare, k.tailShare, 0.01);
      EXPECT_NEAR(d.tailAlpha, k.alpha, 0.1 * k.alpha);
      EXPECT_NEAR(d.tailStart, k.tailStart, 0.15 * k.tailStart);
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_LT(sizeFitDistance(d, sizes), 0.01);
    EXPECT_EQ(d.count, 200000);
  }
}

INSTANTIATE_TEST_SUITE_P(Mixtures, SizeFitTest,
                         testing::Values(Known{8.0, 2.0, 0.02, 0.05, 1048576, 1.2},
                                         Known{10.0, 1.5, 0.0, 0.10, 4194304, 0.9},
                                         Known{9.0, 2.5, 0.01, 0.05, 262144, 1.5},
                                         Known{6.0, 1.0, 0.01, 0.0, 0, 1}, Known{12.0, 2.5, 0.0, 0.0, 0, 1}));

TEST(PopulationFitTest, QuantilesBucketsAndExtensions) {
  // Ranks: p = 0.5 of 8 values is the 4th smallest; 0.001 the smallest; 1 the largest.
  const CountDistribution d = countDistribution({1000, 0, 65, 1, 64, 0, 128, 129});
  ASSERT_EQ(d.quantiles.size(), quantileGridThousandths().size());
  EXPECT_EQ(d.quantiles.size(), 105u);
  const auto at = [&](double p) {
    for (const Quantile& q : d.quantiles) {
      if (std::abs(q.p - p) < 1e-12) return q.value;
    }
    ADD_FAILURE() << "no quantile at " << p;
    return -1.0;
  };
  EXPECT_EQ(at(0), 0);
  EXPECT_EQ(at(0.001), 0);
  EXPECT_EQ(at(0.25), 0);
  EXPECT_EQ(at(0.26), 1);
  EXPECT_EQ(at(0.5), 64);
  EXPECT_EQ(at(0.51), 65);
  EXPECT_EQ(at(0.99), 1000);
  EXPECT_EQ(at(1), 1000);
  const std::vector<std::tuple<std::int64_t, std::int64_t, double>> buckets = {
      {0, 0, 0.25}, {1, 1, 0.125}, {64, 64, 0.125}, {65, 128, 0.25}, {129, 256, 0.125}, {513, 1024, 0.125}};
  ASSERT_EQ(d.buckets.size(), buckets.size());
  for (std::size_t i = 0; i < buckets.size(); ++i) {
    EXPECT_EQ(d.buckets[i].low, std::get<0>(buckets[i])) << i;
    EXPECT_EQ(d.buckets[i].high, std::get<1>(buckets[i])) << i;
    EXPECT_DOUBLE_EQ(d.buckets[i].share, std::get<2>(buckets[i])) << i;
  }
  EXPECT_EQ(d.count, 8);
  EXPECT_DOUBLE_EQ(d.mean, (1000 + 65 + 1 + 64 + 128 + 129) / 8.0);

  const std::vector<std::pair<const char*, std::optional<std::string>>> names = {
      {"a.TXT", "txt"},
      {"noext", ""},
      {".bashrc", ""},
      {"a.", ""},
      {"a.tar.gz", "gz"},
      {"a.x-y_Z1", "x-y_z1"},
      {"a.b\xC3\xA9", std::nullopt},
      {"a.abcdefghijklmnopq", std::nullopt},
      {"a.abcdefghijklmnop", "abcdefghijklmnop"},
      {"a.b c", std::nullopt}};
  for (const auto& [name, extension] : names) EXPECT_EQ(profileExtension(name), extension) << name;

  // 25 extensions of 25, 24 ... 1 files and 5 unlistable ones: the top 20 are listed, the rest
  // and the unlistable go to "other"; shares add to 1.
  PopulationObservations o;
  std::int64_t files = 0;
  for (int i = 0; i < 25; ++i) {
    o.extensions["e" + std::to_string(100 + i)].files = 25 - i;
    files += 25 - i;
  }
  o.extensions[kOtherExtensionKey].files = 5;
  files += 5;
  o.extensions["e100"].sampledBytes = 8192;
  o.extensions["e100"].compressedBytes = 2048;
  o.fileSizes.assign(static_cast<std::size_t>(files), 100);
  const PopulationProfile p = fitPopulation(o);
  ASSERT_EQ(p.extensions.size(), kListedExtensions);
  EXPECT_EQ(p.extensions.front().extension, "e100");
  EXPECT_DOUBLE_EQ(p.extensions.front().compressionRatio, 4.0);
  EXPECT_EQ(p.extensions[1].compressionRatio, 0);
  EXPECT_EQ(p.extensions.back().extension, "e119");
  double sum = p.otherExtensionsShare;
  for (const ExtensionShare& e : p.extensions) sum += e.share;
  EXPECT_NEAR(sum, 1.0, 1e-12);
  EXPECT_DOUBLE_EQ(p.otherExtensionsShare, (5.0 + 4 + 3 + 2 + 1 + 5) / static_cast<double>(files));
  // One size only: a narrow body, never a zero or negative sigma.
  EXPECT_GT(p.fileSizes.bodySigma, 0);
  EXPECT_NEAR(p.fileSizes.bodyMu, std::log(100.0), 1e-12);
  EXPECT_EQ(p.fileSizes.tailShare, 0);
}

}  // namespace
}  // namespace quillet
