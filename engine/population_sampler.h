// Draws from a population profile: file sizes, per-folder counts and depths, and extensions, all
// from the run's own random source, so that a run with a seed makes the same tree every time. Also
// tells the profile's own figures (its distribution function, mean and percentiles) and keeps the
// tally of what a run made, so that a run can say how well it hit its targets.
//
// Deterministic, plain C++. A sampler is immutable once made and may be shared by several writers;
// a tally takes its own lock.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "engine/population_profile.h"
#include "engine/random.h"

namespace quillet {

// The largest size a profile draw gives; a heavy tail would otherwise ask for absurd files.
inline constexpr std::int64_t kMaxProfileFileSize = std::int64_t{1} << 40;  // 1 Tb
// The sub-folders one folder may be given and the depth a profile tree may reach.
inline constexpr std::int64_t kMaxProfileCount = 1'000'000;
inline constexpr int kMaxProfileDepth = 255;

// The inverse of the standard normal distribution function, for 0 < p < 1.
double inverseNormal(double p);

class PopulationSampler {
 public:
  explicit PopulationSampler(PopulationProfile profile);

  const PopulationProfile& profile() const { return profile_; }

  // A uniform draw in (0, 1) from two 15-bit draws of the run's source.
  static double uniform(RandomSource& random);

  // A file size: from the empirical quantiles when they cover the whole range (p from 0 to 1),
  // interpolated in log space between the grid points; else from the fitted mixture (empty files,
  // the lognormal body, the Pareto tail). At most kMaxProfileFileSize.
  std::int64_t drawSize(RandomSource& random) const;
  // The size a draw at the share u in (0, 1) gives (what drawSize gives for its uniform draw).
  std::int64_t drawnSizeAt(double u) const;
  // The size a uniform u in (0, 1) maps to, before rounding.
  double sizeAt(double u) const;
  // The probability that a drawn size is at most `bytes` (whole bytes, rounding included).
  double sizeCdf(std::int64_t bytes) const;
  bool usesQuantiles() const { return useQuantiles_; }
  // The shape of the draws between the quantile grid's last two points (the 99.9th percentile and
  // the largest file): 0 spreads them evenly in log space; otherwise the exponent of a Pareto shape
  // cut to the segment, chosen so that the whole distribution's mean is the profile's mean.
  double topShape() const { return topShape_; }

  // A whole value from a count distribution's buckets: a bucket by its share, then a value spread
  // evenly over the bucket.
  static std::int64_t drawCount(const CountDistribution& d, RandomSource& random);
  // The value at the share u in (0, 1] of a count distribution: its quantile function. A measured
  // distribution (its count of observations and quantiles from p 0 to p 1) is read as the sorted
  // observations it was measured from: u picks a rank; the buckets' shares tell exactly which
  // bucket holds it, and inside the bucket the value is the grid's where a grid point gives it,
  // else spread evenly between the grid points and the bucket's ends around it (so the one huge
  // folder of a tree, the grid's maximum, keeps its own size, not its bucket's middle). Otherwise
  // from the buckets alone: a bucket by its share, the value spread evenly over it.
  static std::int64_t countAt(const CountDistribution& d, double u);

  // An extension index into profile().extensions, or -1 for a file of the "other" share.
  int drawExtension(RandomSource& random) const;
  // The name suffix for a drawn extension: "." plus the extension, "" for the empty extension. A
  // file of the "other" share gets one of a thousand made-up extensions ("q000".."q999", none of
  // the listed ones), each too rare to enter a measured profile's top list.
  std::string suffixFor(int extensionIndex, RandomSource& random) const;

 private:
  PopulationProfile profile_;
  bool useQuantiles_ = false;
  double topShape_ = 0;
  std::vector<double> extensionCumulative_;  // running sum of the listed shares, then "other"
};

// The figures compared for one distribution: mean and three percentiles.
struct DistributionFigures {
  std::int64_t count = 0;
  double mean = 0;
  double median = 0;
  double p90 = 0;
  double p99 = 0;
};

// The profile's figures for its sizes (mean by a fine numeric integration of the drawn sizes).
DistributionFigures targetSizeFigures(const PopulationSampler& sampler);
// The figures of a count distribution's buckets (percentile p: the smallest value whose
// cumulative share reaches p).
DistributionFigures targetCountFigures(const CountDistribution& d);
// The figures of a sample (sorted in place); percentile p: the value at rank ceil(p * n).
DistributionFigures sampleFigures(std::vector<std::int64_t>& values);
// The Kolmogorov-Smirnov distance between sorted sizes and the profile's size distribution.
double sizeKsDistance(const PopulationSampler& sampler, const std::vector<std::int64_t>& sortedSizes);

// What a run made, for the comparison with its profile. Writers add to it under its lock.
class PopulationTally {
 public:
  explicit PopulationTally(std::size_t extensions) : extensionFiles_(extensions, 0) {}
  void addFile(std::int64_t size, int depth, int extensionIndex);
  void addFolder(std::int64_t files, int depth);
  // The tree the run made up: each folder's sub-folders and depth (the root included, depth 0).
  void setTree(std::vector<std::int64_t> subfolders, std::vector<std::int64_t> depths);

  struct Contents {
    std::vector<std::int64_t> sizes;
    std::vector<std::int64_t> fileDepths;
    std::vector<std::int64_t> filesPerFolder;
    std::vector<std::int64_t> subfoldersPerFolder;  // empty when no tree was made up
    std::vector<std::int64_t> folderDepths;         // the made-up folders below the root
    std::vector<std::int64_t> extensionFiles;       // per listed extension
    std::int64_t otherFiles = 0;
  };
  Contents contents() const;

 private:
  mutable std::mutex lock_;
  Contents c_;
  std::vector<std::int64_t> extensionFiles_;
};

}  // namespace quillet
