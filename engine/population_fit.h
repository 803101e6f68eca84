// From what a walk saw (every file's size, depth and extension; every folder's file and sub-folder
// counts and depth) to a PopulationProfile: empirical quantiles on one fixed grid, count buckets,
// the top extensions and the fitted size distribution. Pure computation; no file system.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/population_profile.h"

namespace quillet {

// The quantile grid a measured profile uses, in thousandths: 0 (the minimum), 0.001, 0.005, 0.01,
// 0.02 ... 0.99 (every hundredth), 0.995, 0.999 and 1 (the maximum).
const std::vector<int>& quantileGridThousandths();

// The extensions listed by name; the rest are counted together as "other".
inline constexpr std::size_t kListedExtensions = 20;

// An extension as a profile names it: the part after the name's last dot, lower-cased, "" for a
// name without a dot (or ending in one, or a dot only at its start). Empty optional when the part
// is longer than 16 characters or holds anything but [a-z0-9_-] after lower-casing: such files
// count as "other".
std::optional<std::string> profileExtension(std::string_view fileName);

// Per extension (the key; kOtherExtensionKey for files that have no listable one): the files, and
// what a sample of their content compressed to (0 and 0 when none was sampled).
struct ExtensionTally {
  std::int64_t files = 0;
  std::int64_t sampledBytes = 0;
  std::int64_t compressedBytes = 0;
};
inline constexpr const char* kOtherExtensionKey = "/other";  // no extension can hold a '/'

struct PopulationObservations {
  std::vector<std::int64_t> fileSizes;         // one per file
  std::vector<std::int64_t> fileDepths;        // one per file
  std::vector<std::int64_t> folderFiles;       // one per folder, the root included
  std::vector<std::int64_t> folderSubfolders;  // one per folder, the root included
  std::vector<std::int64_t> folderDepths;      // one per folder below the root
  std::map<std::string, ExtensionTally> extensions;
};

// The value at or below which a share k/1000 of the sorted values lies: the ceil(k n / 1000)-th
// smallest (the smallest for k = 0). Integer arithmetic, so that another program finds the same.
std::vector<Quantile> gridQuantiles(const std::vector<std::int64_t>& sorted);

// Shares over one bucket per value up to 64, then [65,128], [129,256] ... (non-empty ones only),
// with the grid quantiles, the count and the mean. values need not be sorted.
CountDistribution countDistribution(std::vector<std::int64_t> values);

// The size fit: empty files to zeroShare; the other sizes as a lognormal body, plus a Pareto tail
// when one improves the fit. The tail's start is chosen among the upper quantiles (the 80th to the
// 99th percentile) as the one whose fitted mixture is nearest the data by the Kolmogorov-Smirnov
// distance; for a given start the mixture is the maximum-likelihood one (expectation-maximisation,
// its alpha the Hill estimate weighted by the tail's share of each size). A tail is kept only when it
// brings the distance down by at least a tenth and by more than the sample's own noise.
// distance, when given, receives the fit's sizeFitDistance to the sizes.
SizeDistribution fitSizes(std::vector<std::int64_t> sizes, double* distance = nullptr);

// The share of files at or below bytes under the fitted distribution (quantiles ignored).
double sizeDistributionCdf(const SizeDistribution& d, double bytes);

// The Kolmogorov-Smirnov distance between the sorted sizes and the fitted distribution, each whole
// size counted as the interval it rounds from (so small sizes are not charged their discreteness).
double sizeFitDistance(const SizeDistribution& d, const std::vector<std::int64_t>& sorted);

// The extensions a profile lists by name: the kListedExtensions with the most files (equal counts
// by name, so the list does not depend on the order of the walk), "other" never among them.
std::vector<std::string> listedExtensionKeys(const std::map<std::string, ExtensionTally>& extensions);

// Everything together; name and source are left empty for the caller. sizeDistance as for fitSizes.
PopulationProfile fitPopulation(PopulationObservations observations, double* sizeDistance = nullptr);

}  // namespace quillet
