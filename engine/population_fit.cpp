#include "engine/population_fit.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <span>

namespace quillet {
namespace {

constexpr double kMinSigma = 1e-3;  // a body of one size still has a (narrow) spread
constexpr double kSqrt1_2 = 0.70710678118654752440;

double normalCdf(double z) { return 0.5 * std::erfc(-z * kSqrt1_2); }

// One whole size above the tail's start, or a bin of sizes whose logarithms lie within a
// hundredth: the count, and the sums of ln(size) and of its square, exact.
struct LogBin {
  double count = 0;
  double sum = 0;
  double sumSquares = 0;
};

struct MixtureFit {
  double mu = 0, sigma = 1;
  double tailShare = 0;  // of the non-empty files
  double alpha = 1;
  double start = 0;
  bool ok = false;
};

// The maximum-likelihood lognormal body plus Pareto tail above start (fixed), over the non-empty
// sorted sizes, by expectation-maximisation. from: the index of the first size at or above start.
// prefix/prefixSquares: running sums of ln(size) and its square over sorted.
MixtureFit fitMixture(std::span<const std::int64_t> sorted, std::size_t from,
                      const std::vector<double>& prefix, const std::vector<double>& prefixSquares) {
  MixtureFit fit;
  const double n = static_cast<double>(sorted.size());
  const double below = static_cast<double>(from);
  const double above = n - below;
  fit.start = static_cast<double>(sorted[from]);
  const double logStart = std::log(fit.start);
  // Sizes above the start in bins a hundredth wide in ln(size): a responsibility is the same for
  // all sizes of a bin to well within the fit's own uncertainty, and an iteration costs the bins.
  std::vector<LogBin> bins;
  double binEdge = -1;
  for (std::size_t i = from; i < sorted.size(); ++i) {
    const double y = std::log(static_cast<double>(sorted[i]));
    if (bins.empty() || y >= binEdge) {
      bins.push_back({});
      binEdge = y + 0.01;
    }
    LogBin& b = bins.back();
    b.count += 1;
    b.sum += y;
    b.sumSquares += y * y;
  }
  const double bodySum = from > 0 ? prefix[from - 1] : 0;
  const double bodySquares = from > 0 ? prefixSquares[from - 1] : 0;
  // Start from the body below the start and the Hill estimate over all sizes above it.
  double excess = 0;
  for (const LogBin& b : bins) excess += b.sum - b.count * logStart;
  if (excess <= 0) return fit;
  double mu = below > 0 ? bodySum / below : logStart;
  double sigma = below > 1 ? std::sqrt(std::max(bodySquares / below - mu * mu, kMinSigma * kMinSigma)) : 1.0;
  double share = above / n;
  double alpha = above / excess;
  for (int iteration = 0; iteration < 200; ++iteration) {
    double weight = below, sum = bodySum, squares = bodySquares, tailCount = 0, tailExcess = 0;
    for (const LogBin& b : bins) {
      const double y = b.sum / b.count;
      const double z = (y - mu) / sigma;
      // Both densities over ln(size): the body's normal one and the tail's exponential one.
      const double body = (1 - share) * std::exp(-0.5 * z * z) / (sigma * 2.5066282746310002);
      const double tail = share * alpha * std::exp(-alpha * (y - logStart));
      const double r = body + tail > 0 ? body / (body + tail) : 0;
      weight += r * b.count;
      sum += r * b.sum;
      squares += r * b.sumSquares;
      tailCount += (1 - r) * b.count;
      tailExcess += (1 - r) * (b.sum - b.count * logStart);
    }
    if (weight <= 0 || tailCount <= 0 || tailExcess <= 0) return fit;
    const double nextMu = sum / weight;
    const double nextSigma = std::sqrt(std::max(squares / weight - nextMu * nextMu, kMinSigma * kMinSigma));
    const double nextShare = tailCount / n;
    const double nextAlpha = tailCount / tailExcess;
    const double change = std::abs(nextMu - mu) + std::abs(nextSigma - sigma) + std::abs(nextShare - share) +
                          std::abs(nextAlpha - alpha) / std::max(alpha, 1.0);
    mu = nextMu;
    sigma = nextSigma;
    share = nextShare;
    alpha = nextAlpha;
    if (change < 1e-7) break;
  }
  if (!std::isfinite(mu) || !std::isfinite(sigma) || !std::isfinite(alpha) || !std::isfinite(share))
    return fit;
  fit.mu = mu;
  fit.sigma = sigma;
  fit.tailShare = share;
  fit.alpha = alpha;
  fit.ok = share > 1e-4 && alpha > 0;
  return fit;
}

// One whole size with the shares of files below it and at or below it.
struct Checkpoint {
  double value;
  double before, after;
};

// The Kolmogorov-Smirnov distance at the checkpoints only: a bound from below on the full one, off
// by at most the share between two checkpoints. Lets the search compare many candidates cheaply.
double checkpointDistance(const SizeDistribution& d, const std::vector<Checkpoint>& points) {
  double distance = 0;
  for (const Checkpoint& c : points) {
    const double modelBefore = c.value == 0 ? 0 : sizeDistributionCdf(d, c.value - 0.5);
    const double modelAt = c.value == 0 ? d.zeroShare : sizeDistributionCdf(d, c.value + 0.5);
    distance = std::max({distance, std::abs(c.before - modelBefore), std::abs(c.after - modelAt)});
  }
  return distance;
}

// Every distinct size of a small sample, and about 4,000 spread evenly over the ranks of a large one.
std::vector<Checkpoint> checkpointsOf(const std::vector<std::int64_t>& sorted) {
  constexpr std::size_t kPoints = 4000;
  std::vector<Checkpoint> points;
  const double n = static_cast<double>(sorted.size());
  const std::size_t step = std::max<std::size_t>(1, sorted.size() / kPoints);
  for (std::size_t i = 0; i < sorted.size();) {
    const auto lo = std::lower_bound(sorted.begin(), sorted.end(), sorted[i]);
    const auto hi = std::upper_bound(lo, sorted.end(), sorted[i]);
    points.push_back({static_cast<double>(sorted[i]), static_cast<double>(lo - sorted.begin()) / n,
                      static_cast<double>(hi - sorted.begin()) / n});
    i = std::max(static_cast<std::size_t>(hi - sorted.begin()), i + step);
  }
  return points;
}

SizeDistribution withFit(double zeroShare, const MixtureFit& m) {
  SizeDistribution d;
  d.zeroShare = zeroShare;
  d.bodyMu = m.mu;
  d.bodySigma = m.sigma;
  d.tailShare = m.tailShare * (1 - zeroShare);
  d.tailStart = d.tailShare > 0 ? m.start : 0;
  d.tailAlpha = d.tailShare > 0 ? m.alpha : 1;
  return d;
}

}  // namespace

const std::vector<int>& quantileGridThousandths() {
  static const std::vector<int> grid = [] {
    std::vector<int> g = {0, 1, 5};
    for (int k = 10; k <= 990; k += 10) g.push_back(k);
    g.insert(g.end(), {995, 999, 1000});
    return g;
  }();
  return grid;
}

std::optional<std::string> profileExtension(std::string_view fileName) {
  const auto dot = fileName.rfind('.');
  // "name", ".profile" (a dot at the start only names a hidden file) and "name." have none.
  if (dot == std::string_view::npos || dot == 0) return std::string();
  const std::string_view part = fileName.substr(dot + 1);
  if (part.size() > 16) return std::nullopt;
  std::string extension;
  for (char c : part) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) return std::nullopt;
    extension.push_back(c);
  }
  return extension;
}

std::vector<Quantile> gridQuantiles(const std::vector<std::int64_t>& sorted) {
  std::vector<Quantile> out;
  if (sorted.empty()) return out;
  const std::int64_t n = static_cast<std::int64_t>(sorted.size());
  for (const int k : quantileGridThousandths()) {
    const std::int64_t rank = k == 0 ? 1 : (k * n + 999) / 1000;
    out.push_back({k / 1000.0, static_cast<double>(sorted[static_cast<std::size_t>(rank - 1)])});
  }
  return out;
}

CountDistribution countDistribution(std::vector<std::int64_t> values) {
  CountDistribution d;
  if (values.empty()) return d;
  std::sort(values.begin(), values.end());
  const double n = static_cast<double>(values.size());
  d.count = static_cast<std::int64_t>(values.size());
  d.mean = static_cast<double>(std::accumulate(values.begin(), values.end(), 0.0)) / n;
  d.quantiles = gridQuantiles(values);
  for (std::size_t i = 0; i < values.size();) {
    const std::int64_t v = values[i];
    std::int64_t low = v, high = v;
    if (v > 64) {
      high = 128;
      while (high < v) high *= 2;
      low = high / 2 + 1;
    }
    std::size_t j = i;
    while (j < values.size() && values[j] <= high) ++j;
    d.buckets.push_back({low, high, static_cast<double>(j - i) / n});
    i = j;
  }
  return d;
}

double sizeDistributionCdf(const SizeDistribution& d, double bytes) {
  if (bytes < 0) return 0;
  double f = d.zeroShare;
  if (bytes > 0) {
    f += (1 - d.zeroShare - d.tailShare) * normalCdf((std::log(bytes) - d.bodyMu) / d.bodySigma);
    if (d.tailShare > 0 && bytes >= d.tailStart)
      f += d.tailShare * (1 - std::pow(d.tailStart / bytes, d.tailAlpha));
  }
  return std::min(1.0, f);
}

double sizeFitDistance(const SizeDistribution& d, const std::vector<std::int64_t>& sorted) {
  const double n = static_cast<double>(sorted.size());
  double distance = 0;
  for (std::size_t i = 0; i < sorted.size();) {
    std::size_t j = i;
    while (j < sorted.size() && sorted[j] == sorted[i]) ++j;
    const double v = static_cast<double>(sorted[i]);
    // Empty files are exact; a whole size v > 0 stands for the sizes that round to it.
    const double modelBefore = v == 0 ? 0 : sizeDistributionCdf(d, v - 0.5);
    const double modelAt = v == 0 ? d.zeroShare : sizeDistributionCdf(d, v + 0.5);
    distance = std::max({distance, std::abs(static_cast<double>(i) / n - modelBefore),
                         std::abs(static_cast<double>(j) / n - modelAt)});
    i = j;
  }
  return distance;
}

namespace {

// sizes: sorted.
SizeDistribution fitSortedSizes(const std::vector<std::int64_t>& sizes) {
  SizeDistribution d;
  d.count = static_cast<std::int64_t>(sizes.size());
  d.quantiles = gridQuantiles(sizes);
  if (sizes.empty()) return d;
  d.mean = std::accumulate(sizes.begin(), sizes.end(), 0.0) / static_cast<double>(sizes.size());
  const auto firstNonEmpty = std::upper_bound(sizes.begin(), sizes.end(), std::int64_t{0});
  const double zeroShare =
      static_cast<double>(firstNonEmpty - sizes.begin()) / static_cast<double>(sizes.size());
  const std::span<const std::int64_t> positive(sizes.data() + (firstNonEmpty - sizes.begin()),
                                               static_cast<std::size_t>(sizes.end() - firstNonEmpty));
  d.zeroShare = zeroShare;
  if (positive.empty()) return d;

  std::vector<double> prefix(positive.size()), prefixSquares(positive.size());
  double sum = 0, squares = 0;
  for (std::size_t i = 0; i < positive.size(); ++i) {
    const double y = std::log(static_cast<double>(positive[i]));
    sum += y;
    squares += y * y;
    prefix[i] = sum;
    prefixSquares[i] = squares;
  }
  const double n = static_cast<double>(positive.size());
  MixtureFit plain;
  plain.mu = sum / n;
  plain.sigma = std::sqrt(std::max(squares / n - plain.mu * plain.mu, kMinSigma * kMinSigma));
  SizeDistribution best = withFit(zeroShare, plain);
  const std::vector<Checkpoint> checkpoints = checkpointsOf(sizes);
  const double plainDistance = checkpointDistance(best, checkpoints);
  double bestDistance = plainDistance;
  bool tail = false;
  // A tail needs some sizes of its own to be told from the body's upper end.
  constexpr std::size_t kMinTail = 30;
  // Candidate starts: every percentile from the 80th to the 99th, then every tenth of a percentile
  // within one percentile of the best (a start between two percentiles distorts both fits).
  const auto tryStart = [&](double share) {
    std::size_t from = static_cast<std::size_t>(std::ceil(n * share));
    if (from >= positive.size()) return;
    // The start is a size: begin at its first occurrence, so that equal sizes stay together.
    from = static_cast<std::size_t>(std::lower_bound(positive.begin(), positive.end(), positive[from]) -
                                    positive.begin());
    if (positive.size() - from < kMinTail || positive[from] <= 1) return;
    const MixtureFit m = fitMixture(positive, from, prefix, prefixSquares);
    if (!m.ok) return;
    const SizeDistribution candidate = withFit(zeroShare, m);
    const double distance = checkpointDistance(candidate, checkpoints);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = candidate;
      tail = true;
    }
  };
  for (int percent = 80; percent <= 99; ++percent) tryStart(percent / 100.0);
  if (tail) {
    const double around = static_cast<double>(std::lower_bound(positive.begin(), positive.end(),
                                                               static_cast<std::int64_t>(best.tailStart)) -
                                              positive.begin()) /
                          n;
    for (int step = -9; step <= 9; ++step) {
      if (step != 0) tryStart(std::clamp(around + step / 1000.0, 0.5, 0.999));
    }
  }
  // Two more parameters always fit a little better; a tail must earn its place by more than that.
  if (tail && !(bestDistance < 0.9 * plainDistance && plainDistance - bestDistance > 0.5 / std::sqrt(n))) {
    best = withFit(zeroShare, plain);
  }
  d.bodyMu = best.bodyMu;
  d.bodySigma = best.bodySigma;
  d.tailShare = best.tailShare;
  d.tailStart = best.tailStart;
  d.tailAlpha = best.tailAlpha;
  return d;
}

}  // namespace

SizeDistribution fitSizes(std::vector<std::int64_t> sizes, double* distance) {
  std::sort(sizes.begin(), sizes.end());
  SizeDistribution d = fitSortedSizes(sizes);
  if (distance != nullptr) *distance = sizeFitDistance(d, sizes);
  return d;
}

std::vector<std::string> listedExtensionKeys(const std::map<std::string, ExtensionTally>& extensions) {
  std::vector<std::pair<std::string, std::int64_t>> all;
  for (const auto& [extension, tally] : extensions) {
    if (extension != kOtherExtensionKey && tally.files > 0) all.emplace_back(extension, tally.files);
  }
  std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  });
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < all.size() && i < kListedExtensions; ++i) keys.push_back(all[i].first);
  return keys;
}

PopulationProfile fitPopulation(PopulationObservations o, double* sizeDistance) {
  PopulationProfile p;
  p.files = static_cast<std::int64_t>(o.fileSizes.size());
  p.folders = static_cast<std::int64_t>(o.folderFiles.size());
  for (const std::int64_t s : o.fileSizes) p.bytes += s;
  p.fileSizes = fitSizes(std::move(o.fileSizes), sizeDistance);
  p.filesPerFolder = countDistribution(std::move(o.folderFiles));
  p.subfoldersPerFolder = countDistribution(std::move(o.folderSubfolders));
  p.fileDepth = countDistribution(std::move(o.fileDepths));
  p.folderDepth = countDistribution(std::move(o.folderDepths));

  const std::vector<std::string> listed = listedExtensionKeys(o.extensions);
  std::int64_t other = 0;
  for (const auto& [extension, tally] : o.extensions) other += tally.files;
  const double files = static_cast<double>(std::max<std::int64_t>(p.files, 1));
  for (const std::string& extension : listed) {
    const ExtensionTally& tally = o.extensions.at(extension);
    other -= tally.files;
    ExtensionShare e;
    e.extension = extension;
    e.files = tally.files;
    e.share = static_cast<double>(tally.files) / files;
    e.compressionRatio = tally.compressedBytes > 0 ? static_cast<double>(tally.sampledBytes) /
                                                         static_cast<double>(tally.compressedBytes)
                                                   : 0;
    p.extensions.push_back(e);
  }
  p.otherExtensionsShare = p.files > 0 ? static_cast<double>(other) / files : 0;
  return p;
}

}  // namespace quillet
