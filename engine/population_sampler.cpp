#include "engine/population_sampler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quillet {
namespace {

double normalCdf(double x) { return 0.5 * std::erfc(-x / std::sqrt(2.0)); }

double shareSum(const std::vector<CountBucket>& buckets) {
  double total = 0;
  for (const auto& b : buckets) total += b.share;
  return total;
}

// A measured quantile grid runs from the minimum (p 0) to the maximum (p 1); only then does it
// describe every draw. A partial grid (hand-written) leaves the draws to the fit.
bool coversWholeRange(const std::vector<Quantile>& q) {
  return q.size() >= 2 && q.front().p <= 0.0 && q.back().p >= 1.0;
}

std::int64_t clampSize(double x) {
  if (!(x > 0)) return 0;
  if (x >= static_cast<double>(kMaxProfileFileSize)) return kMaxProfileFileSize;
  return std::llround(x);
}

double percentileOfSorted(const std::vector<std::int64_t>& sorted, double p) {
  if (sorted.empty()) return 0;
  const auto n = static_cast<double>(sorted.size());
  const auto rank = static_cast<std::size_t>(std::max(0.0, std::ceil(p * n) - 1));
  return static_cast<double>(sorted[std::min(rank, sorted.size() - 1)]);
}

// The draws above the quantile grid's last interior point a, up to the largest file b, follow a
// Pareto shape cut to [a, b] (density in proportion to x^-(alpha + 1)), with y = ln(x / a) and
// L = ln(b / a). Alpha 0 spreads them evenly in log space; a larger alpha keeps more of them near
// a, a negative one near b. Written with expm1 and log1p so that no alpha overflows.
double topLogAt(double t, double alpha, double L) {
  if (alpha == 0) return t * L;
  if (alpha > 0) return -std::log1p(t * std::expm1(-alpha * L)) / alpha;
  const double beta = -alpha;
  return L + std::log(t * -std::expm1(-beta * L) + std::exp(-beta * L)) / beta;
}

// The share of the segment's draws at or below y (the inverse of topLogAt).
double topShareAt(double y, double alpha, double L) {
  if (alpha == 0) return y / L;
  if (alpha > 0) return std::expm1(-alpha * y) / std::expm1(-alpha * L);
  const double beta = -alpha;
  return (std::exp(beta * (y - L)) - std::exp(-beta * L)) / -std::expm1(-beta * L);
}

// ln |e^z - 1| for z != 0, without overflow.
double logAbsExpm1(double z) { return z > 0 ? z + std::log(-std::expm1(-z)) : std::log(-std::expm1(z)); }

// The segment's mean over a.
double topMeanRatio(double alpha, double L) {
  if (alpha == 0) return std::expm1(L) / L;
  if (alpha == 1) return L / -std::expm1(-L);
  return std::exp(std::log(std::abs(alpha)) - std::log(std::abs(1 - alpha)) + logAbsExpm1((1 - alpha) * L) -
                  logAbsExpm1(-alpha * L));
}

// The mean of the grid's log-linear segments from the first up to (not including) segment `end`,
// each weighted by its share; draws below the zero share are empty. Sizes capped at `cap`.
double gridMean(const SizeDistribution& s, std::size_t end, double cap) {
  double mean = 0;
  for (std::size_t i = 1; i < std::min(end, s.quantiles.size()); ++i) {
    const double p0 = s.quantiles[i - 1].p, p1 = s.quantiles[i].p;
    if (p1 <= s.zeroShare) continue;
    const double dp = p1 - p0;
    const double from = std::max(0.0, (s.zeroShare - p0) / dp);  // the segment's part left out, 0..1
    const double v0 = std::min(cap, s.quantiles[i - 1].value), v1 = std::min(cap, s.quantiles[i].value);
    if (v0 > 0 && v1 > v0) {
      // log-linear between the points: v0 * (v1 / v0)^t over t from `from` to 1
      const double r = std::log(v1 / v0);
      mean += dp * v0 * (std::exp(r) - std::exp(r * from)) / r;
    } else {
      mean += dp * ((1 - from) * v0 + (1 - from * from) / 2 * (v1 - v0));
    }
  }
  return mean;
}

// The exponent that makes the whole grid's mean the tree's measured mean: the grid's last two
// points are the 99.9th percentile and the largest file, and spreading that tenth of a percent
// evenly in log space gives those files far more bytes than a real tree's few largest hold. 0 (the
// even spread) when the profile has no usable mean or the segment cannot be bent.
double solveTopShape(const SizeDistribution& s) {
  const auto& q = s.quantiles;
  if (q.size() < 2 || !std::isfinite(s.mean) || !(s.mean > 0)) return 0;
  const Quantile& lo = q[q.size() - 2];
  const Quantile& hi = q.back();
  const double dp = hi.p - lo.p;
  const double cap = static_cast<double>(kMaxProfileFileSize);
  if (!(dp > 0) || s.zeroShare > lo.p || !(lo.value >= 1) || !(hi.value <= cap)) return 0;
  const double L = std::log(hi.value / lo.value);
  if (!(L > 1e-9)) return 0;
  const double wanted = (s.mean - gridMean(s, q.size() - 1, cap)) / (dp * lo.value);
  // The segment's mean falls as alpha rises; past |alpha L| = 700 every draw sits at one end.
  double low = -700 / L, high = 700 / L;
  if (!(wanted < topMeanRatio(low, L))) return low;
  if (!(wanted > topMeanRatio(high, L))) return high;
  for (int i = 0; i < 200 && high - low > 1e-12 * std::max(1.0, std::abs(low)); ++i) {
    const double mid = low + (high - low) / 2;
    (topMeanRatio(mid, L) > wanted ? low : high) = mid;
  }
  return low + (high - low) / 2;
}

}  // namespace

double inverseNormal(double p) {
  // Rational approximations of the central region and the two tails (relative error below
  // 1.2e-9), ample for drawing sizes.
  static const double a[] = {-3.969683028665376e+01, 2.209460984245205e+02,  -2.759285104469687e+02,
                             1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00};
  static const double b[] = {-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
                             6.680131188771972e+01, -1.328068155288572e+01};
  static const double c[] = {-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
                             -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00};
  static const double d[] = {7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                             3.754408661907416e+00};
  p = std::clamp(p, 1e-300, 1.0 - 1e-16);
  const double low = 0.02425;
  if (p < low) {
    const double q = std::sqrt(-2 * std::log(p));
    return (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
           ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
  }
  if (p > 1 - low) {
    const double q = std::sqrt(-2 * std::log1p(-p));
    return -(((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5]) /
           ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
  }
  const double q = p - 0.5;
  const double r = q * q;
  return (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q /
         (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
}

PopulationSampler::PopulationSampler(PopulationProfile profile) : profile_(std::move(profile)) {
  useQuantiles_ = coversWholeRange(profile_.fileSizes.quantiles);
  if (useQuantiles_) topShape_ = solveTopShape(profile_.fileSizes);
  double running = 0;
  for (const auto& e : profile_.extensions) {
    running += e.share;
    extensionCumulative_.push_back(running);
  }
  extensionCumulative_.push_back(running + profile_.otherExtensionsShare);
}

double PopulationSampler::uniform(RandomSource& random) {
  const auto high = static_cast<std::uint32_t>(random.rand());
  const auto low = static_cast<std::uint32_t>(random.rand());
  return (static_cast<double>((high << 15) | low) + 0.5) / 1073741824.0;
}

double PopulationSampler::sizeAt(double u) const {
  const SizeDistribution& s = profile_.fileSizes;
  if (useQuantiles_) {
    // The empty files' share is kept exactly: a grid point at 0 bytes followed by a rise would
    // otherwise spread some of them over the first bytes.
    if (u < s.zeroShare) return 0;
    const auto& q = s.quantiles;
    const auto above =
        std::upper_bound(q.begin(), q.end(), u, [](double v, const Quantile& x) { return v < x.p; });
    if (above == q.begin()) return q.front().value;
    if (above == q.end()) return q.back().value;
    const Quantile& lo = *(above - 1);
    const Quantile& hi = *above;
    const double t = (u - lo.p) / (hi.p - lo.p);
    if (topShape_ != 0 && above + 1 == q.end()) {
      return lo.value * std::exp(topLogAt(t, topShape_, std::log(hi.value / lo.value)));
    }
    if (lo.value > 0 && hi.value > 0) return lo.value * std::pow(hi.value / lo.value, t);
    return lo.value + t * (hi.value - lo.value);
  }
  if (u < s.zeroShare) return 0;
  const double v = (u - s.zeroShare) / std::max(1e-300, 1.0 - s.zeroShare);
  if (v < s.tailShare) {
    const double w = v / s.tailShare;
    return s.tailStart * std::pow(1.0 - w, -1.0 / s.tailAlpha);
  }
  const double w = (v - s.tailShare) / std::max(1e-300, 1.0 - s.tailShare);
  return std::exp(s.bodyMu + s.bodySigma * inverseNormal(w));
}

std::int64_t PopulationSampler::drawSize(RandomSource& random) const { return drawnSizeAt(uniform(random)); }

std::int64_t PopulationSampler::drawnSizeAt(double u) const {
  const double x = sizeAt(u);
  const std::int64_t size = clampSize(x);
  // The fit's body and tail never give an empty file: those are the zero share's.
  if (!useQuantiles_ && size == 0 && x > 0) return 1;
  return size;
}

double PopulationSampler::sizeCdf(std::int64_t bytes) const {
  if (bytes < 0) return 0;
  if (bytes >= kMaxProfileFileSize) return 1;
  const SizeDistribution& s = profile_.fileSizes;
  // A drawn x becomes llround(x): at most `bytes` when x < bytes + 0.5.
  const double x = static_cast<double>(bytes) + 0.5;
  if (useQuantiles_) {
    const auto& q = s.quantiles;
    if (x < q.front().value) return s.zeroShare;
    if (x >= q.back().value) return 1;
    const auto above =
        std::upper_bound(q.begin(), q.end(), x, [](double v, const Quantile& e) { return v < e.value; });
    const Quantile& lo = *(above - 1);
    const Quantile& hi = *above;
    if (topShape_ != 0 && above + 1 == q.end()) {
      const double within = topShareAt(std::log(x / lo.value), topShape_, std::log(hi.value / lo.value));
      return std::max(s.zeroShare, lo.p + within * (hi.p - lo.p));
    }
    const double t = lo.value > 0 ? std::log(x / lo.value) / std::log(hi.value / lo.value)
                                  : (x - lo.value) / (hi.value - lo.value);
    return std::max(s.zeroShare, lo.p + t * (hi.p - lo.p));
  }
  if (bytes == 0) return s.zeroShare;
  const double body = normalCdf((std::log(x) - s.bodyMu) / s.bodySigma);
  const double tail =
      s.tailShare > 0 && x >= s.tailStart ? 1.0 - std::pow(s.tailStart / x, s.tailAlpha) : 0.0;
  return s.zeroShare + (1.0 - s.zeroShare) * (s.tailShare * tail + (1.0 - s.tailShare) * body);
}

std::int64_t PopulationSampler::drawCount(const CountDistribution& d, RandomSource& random) {
  if (d.buckets.empty()) return 0;
  const double pick = uniform(random) * shareSum(d.buckets);
  const double within = uniform(random);
  double running = 0;
  const CountBucket* chosen = &d.buckets.back();
  for (const auto& b : d.buckets) {
    running += b.share;
    if (pick < running) {
      chosen = &b;
      break;
    }
  }
  const std::int64_t width = chosen->high - chosen->low + 1;
  return chosen->low + std::min(width - 1, static_cast<std::int64_t>(within * static_cast<double>(width)));
}

std::int64_t PopulationSampler::countAt(const CountDistribution& d, double u) {
  if (d.buckets.empty()) return 0;
  u = std::clamp(u, 0.0, 1.0);
  const double total = shareSum(d.buckets);
  if (d.count > 0 && coversWholeRange(d.quantiles) && total > 0) {
    const std::int64_t n = d.count;
    // The 0-based rank of the value at share p, as the measure's grid takes it (ceil(p n)-th).
    const auto rankOf = [n](double p) {
      const double r = std::ceil(p * static_cast<double>(n) - 1e-9) - 1;
      return static_cast<std::int64_t>(std::clamp(r, 0.0, static_cast<double>(n - 1)));
    };
    const std::int64_t r = rankOf(u);
    // The bucket holding rank r, and its ranks [first, end).
    const CountBucket* bucket = &d.buckets.back();
    std::int64_t first = 0, end = n;
    double running = 0;
    for (const auto& b : d.buckets) {
      running += b.share;
      const std::int64_t next = std::llround(running / total * static_cast<double>(n));
      if (r < next) {
        bucket = &b;
        end = next;
        break;
      }
      first = next;
    }
    // Between the grid points inside the bucket its values are spread evenly, as a bucket's are:
    // from its low just before its first rank to its high just after its last.
    double loRank = static_cast<double>(first) - 0.5, hiRank = static_cast<double>(end) - 0.5;
    double loValue = static_cast<double>(bucket->low), hiValue = static_cast<double>(bucket->high);
    for (const auto& q : d.quantiles) {
      const std::int64_t qr = rankOf(q.p);
      if (qr < first || qr >= end) continue;
      if (qr <= r) {
        loRank = static_cast<double>(qr);
        loValue = q.value;
      }
      if (qr >= r) {
        hiRank = static_cast<double>(qr);
        hiValue = q.value;
        break;
      }
    }
    double v = loValue;
    if (hiRank > loRank) v += (hiValue - loValue) * (static_cast<double>(r) - loRank) / (hiRank - loRank);
    v = std::clamp(v, static_cast<double>(bucket->low), static_cast<double>(bucket->high));
    return std::llround(v);
  }
  const double pick = u * total;
  double running = 0;
  for (const auto& b : d.buckets) {
    if (b.share > 0 && pick <= running + b.share) {
      const std::int64_t width = b.high - b.low + 1;
      const double within = std::clamp((pick - running) / b.share, 0.0, 1.0);
      return b.low + std::min(width - 1, static_cast<std::int64_t>(within * static_cast<double>(width)));
    }
    running += b.share;
  }
  return d.buckets.back().high;
}

int PopulationSampler::drawExtension(RandomSource& random) const {
  const double pick = uniform(random) * extensionCumulative_.back();
  for (std::size_t i = 0; i + 1 < extensionCumulative_.size(); ++i) {
    if (pick < extensionCumulative_[i]) return static_cast<int>(i);
  }
  return -1;
}

std::string PopulationSampler::suffixFor(int extensionIndex, RandomSource& random) const {
  if (extensionIndex >= 0) {
    const std::string& e = profile_.extensions[static_cast<std::size_t>(extensionIndex)].extension;
    return e.empty() ? std::string() : "." + e;
  }
  int n = static_cast<int>(uniform(random) * 1000.0) % 1000;
  for (int tries = 0; tries < 1000; ++tries, n = (n + 1) % 1000) {
    char text[8];
    std::snprintf(text, sizeof text, "q%03d", n);
    const bool listed = std::any_of(profile_.extensions.begin(), profile_.extensions.end(),
                                    [&](const ExtensionShare& e) { return e.extension == text; });
    if (!listed) return std::string(".") + text;
  }
  return std::string();
}

DistributionFigures targetSizeFigures(const PopulationSampler& sampler) {
  DistributionFigures f;
  // The mean in closed form: over the quantile grid's segments, or over the fit's parts, each
  // capped at the largest size a draw gives.
  const SizeDistribution& s = sampler.profile().fileSizes;
  const double cap = static_cast<double>(kMaxProfileFileSize);
  if (sampler.usesQuantiles()) {
    f.mean = gridMean(s, s.quantiles.size(), cap);
    if (sampler.topShape() != 0) {
      // The last segment bent to the tree's mean (never a shape for a segment past the cap).
      const Quantile& lo = s.quantiles[s.quantiles.size() - 2];
      const Quantile& hi = s.quantiles.back();
      f.mean = gridMean(s, s.quantiles.size() - 1, cap) +
               (hi.p - lo.p) * lo.value * topMeanRatio(sampler.topShape(), std::log(hi.value / lo.value));
    }
  } else {
    const double body = std::exp(s.bodyMu + s.bodySigma * s.bodySigma / 2) *
                            normalCdf((std::log(cap) - s.bodyMu - s.bodySigma * s.bodySigma) / s.bodySigma) +
                        cap * (1 - normalCdf((std::log(cap) - s.bodyMu) / s.bodySigma));
    double tail = 0;
    if (s.tailShare > 0) {
      const double xm = std::min(cap, s.tailStart), a = s.tailAlpha;
      // E[min(X, cap)] = xm + the integral of (xm / x)^a from xm to cap.
      tail = xm + (std::abs(a - 1) < 1e-12
                       ? xm * std::log(cap / xm)
                       : std::pow(xm, a) * (std::pow(cap, 1 - a) - std::pow(xm, 1 - a)) / (1 - a));
    }
    f.mean = (1 - s.zeroShare) * ((1 - s.tailShare) * body + s.tailShare * tail);
  }
  // The smallest whole size whose distribution function reaches p.
  const auto percentile = [&](double p) {
    std::int64_t lo = 0, hi = kMaxProfileFileSize;
    while (lo < hi) {
      const std::int64_t mid = lo + (hi - lo) / 2;
      if (sampler.sizeCdf(mid) >= p) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    return static_cast<double>(lo);
  };
  f.median = percentile(0.5);
  f.p90 = percentile(0.9);
  f.p99 = percentile(0.99);
  return f;
}

DistributionFigures targetCountFigures(const CountDistribution& d) {
  DistributionFigures f;
  const double total = shareSum(d.buckets);
  if (d.buckets.empty() || total <= 0) return f;
  for (const auto& b : d.buckets)
    f.mean += b.share / total * (static_cast<double>(b.low) + static_cast<double>(b.high)) / 2;
  const auto percentile = [&](double p) {
    double running = 0;
    for (const auto& b : d.buckets) {
      const double share = b.share / total;
      if (running + share >= p && share > 0) {
        const double width = static_cast<double>(b.high - b.low + 1);
        const double k = std::ceil((p - running) / (share / width) - 1e-9) - 1;
        return static_cast<double>(b.low) + std::clamp(k, 0.0, width - 1);
      }
      running += share;
    }
    return static_cast<double>(d.buckets.back().high);
  };
  f.median = percentile(0.5);
  f.p90 = percentile(0.9);
  f.p99 = percentile(0.99);
  return f;
}

DistributionFigures sampleFigures(std::vector<std::int64_t>& values) {
  DistributionFigures f;
  f.count = static_cast<std::int64_t>(values.size());
  if (values.empty()) return f;
  std::sort(values.begin(), values.end());
  double sum = 0;
  for (const auto v : values) sum += static_cast<double>(v);
  f.mean = sum / static_cast<double>(values.size());
  f.median = percentileOfSorted(values, 0.5);
  f.p90 = percentileOfSorted(values, 0.9);
  f.p99 = percentileOfSorted(values, 0.99);
  return f;
}

double sizeKsDistance(const PopulationSampler& sampler, const std::vector<std::int64_t>& sortedSizes) {
  const auto n = static_cast<double>(sortedSizes.size());
  double distance = 0;
  std::size_t i = 0;
  while (i < sortedSizes.size()) {
    const std::int64_t k = sortedSizes[i];
    std::size_t j = i;
    while (j < sortedSizes.size() && sortedSizes[j] == k) ++j;
    // Both distribution functions are steps on whole sizes: compare just below k and at k.
    const double below = static_cast<double>(i) / n;
    const double at = static_cast<double>(j) / n;
    distance = std::max(distance, std::abs(below - sampler.sizeCdf(k - 1)));
    distance = std::max(distance, std::abs(at - sampler.sizeCdf(k)));
    i = j;
  }
  return distance;
}

void PopulationTally::addFile(std::int64_t size, int depth, int extensionIndex) {
  std::lock_guard guard(lock_);
  c_.sizes.push_back(size);
  c_.fileDepths.push_back(depth);
  if (extensionIndex >= 0 && static_cast<std::size_t>(extensionIndex) < extensionFiles_.size()) {
    ++extensionFiles_[static_cast<std::size_t>(extensionIndex)];
  } else {
    ++c_.otherFiles;
  }
}

void PopulationTally::addFolder(std::int64_t files, int depth) {
  (void)depth;
  std::lock_guard guard(lock_);
  c_.filesPerFolder.push_back(files);
}

void PopulationTally::setTree(std::vector<std::int64_t> subfolders, std::vector<std::int64_t> depths) {
  std::lock_guard guard(lock_);
  c_.subfoldersPerFolder = std::move(subfolders);
  c_.folderDepths = std::move(depths);
}

PopulationTally::Contents PopulationTally::contents() const {
  std::lock_guard guard(lock_);
  Contents out = c_;
  out.extensionFiles = extensionFiles_;
  return out;
}

}  // namespace quillet
