#include "engine/population_plan.h"

#include <algorithm>
#include <numeric>

#include "engine/block_identity.h"

namespace quillet {
namespace {

// Salts, so that the plan's draws never repeat one another's or the run's other draws.
constexpr std::uint64_t kCountShares = 0x434F554E54535452ull;
constexpr std::uint64_t kStrataOrder = 0x5354524154414F52ull;
constexpr std::uint64_t kFolderOrder = 0x464F4C4445524F52ull;
constexpr std::uint64_t kSizeStrata = 0x53495A4553545241ull;

// The order of 0..n-1 after a keyed shuffle.
std::vector<std::size_t> shuffled(std::size_t n, std::uint64_t key) {
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  for (std::size_t i = n; i > 1; --i) {
    const auto j = static_cast<std::size_t>(keyedUnit(key, i) * static_cast<double>(i));
    std::swap(order[i - 1], order[std::min(j, i - 1)]);
  }
  return order;
}

// Each level's share of the files, from the profile's file depths: a file deeper than the tree
// goes to its deepest level.
std::vector<double> levelShares(const CountDistribution& fileDepth, std::size_t levels) {
  std::vector<double> shares(levels, 0.0);
  const auto deepest = static_cast<std::int64_t>(levels) - 1;
  double total = 0;
  for (const auto& b : fileDepth.buckets) {
    if (b.share <= 0 || b.high < b.low) continue;
    total += b.share;
    const double each = b.share / (static_cast<double>(b.high - b.low) + 1);
    for (std::int64_t d = std::max<std::int64_t>(b.low, 0); d <= std::min(b.high, deepest); ++d) {
      shares[static_cast<std::size_t>(d)] += each;
    }
    // The values outside the levels, counted rather than walked (a bucket may be wide).
    if (b.high > deepest) shares.back() += each * static_cast<double>(b.high - std::max(b.low - 1, deepest));
    if (b.low < 0)
      shares.front() += each * static_cast<double>(std::min<std::int64_t>(b.high, -1) - b.low + 1);
  }
  if (total > 0) {
    for (double& s : shares) s /= total;
  }
  return shares;
}

}  // namespace

double keyedUnit(std::uint64_t key, std::uint64_t index) {
  const std::uint64_t bits =
      mix64(mix64(key) ^ (index * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull)) >> 11;
  return (static_cast<double>(bits) + 0.5) / 9007199254740992.0;  // 2^53
}

KeyedPermutation::KeyedPermutation(std::uint64_t n, std::uint64_t key) : n_(n), key_(key) {
  while (halfBits_ < 32 && (std::uint64_t{1} << (2 * halfBits_)) < n) ++halfBits_;
}

std::uint64_t KeyedPermutation::at(std::uint64_t i) const {
  if (i >= n_) return i;
  const std::uint64_t mask = (std::uint64_t{1} << halfBits_) - 1;
  std::uint64_t x = i;
  // The network permutes 0..4^halfBits-1, at most four times n: a walk of a few steps on average
  // leaves it for a value inside 0..n-1, and each value keeps its own.
  do {
    std::uint64_t left = x >> halfBits_, right = x & mask;
    for (std::uint64_t round = 0; round < 4; ++round) {
      const std::uint64_t next = left ^ (mix64(right ^ mix64(key_ + round)) & mask);
      left = right;
      right = next;
    }
    x = (left << halfBits_) | right;
  } while (x >= n_);
  return x;
}

std::vector<std::int64_t> plannedFolderCounts(const PopulationProfile& profile,
                                              const std::vector<std::int64_t>& folderDepths,
                                              std::int64_t minFiles, std::int64_t maxFiles,
                                              std::uint64_t key) {
  const std::size_t n = folderDepths.size();
  std::vector<std::int64_t> counts(n, 0);
  if (n == 0) return counts;
  std::vector<std::int64_t> strata(n);
  std::int64_t total = 0;
  const std::int64_t top = std::max(minFiles, maxFiles);
  for (std::size_t k = 0; k < n; ++k) {
    const double u = (static_cast<double>(k) + keyedUnit(key ^ kCountShares, k)) / static_cast<double>(n);
    strata[k] = std::clamp(PopulationSampler::countAt(profile.filesPerFolder, u), minFiles, top);
    total += strata[k];
  }
  // The largest strata first; among equal ones, in a random order.
  std::vector<std::size_t> order = shuffled(n, key ^ kStrataOrder);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return strata[a] > strata[b]; });

  const std::vector<std::size_t> folderOrder = shuffled(n, key ^ kFolderOrder);
  if (profile.fileDepth.buckets.empty()) {
    for (std::size_t i = 0; i < n; ++i) counts[folderOrder[i]] = strata[order[i]];
    return counts;
  }
  std::int64_t deepest = 0;
  for (const std::int64_t d : folderDepths)
    deepest = std::max(deepest, std::clamp<std::int64_t>(d, 0, kMaxProfileDepth));
  const auto levels = static_cast<std::size_t>(deepest) + 1;
  // Each level's folders, in a random order; a level's next folder is taken from its front.
  std::vector<std::vector<std::size_t>> folders(levels);
  for (const std::size_t i : folderOrder) {
    folders[static_cast<std::size_t>(std::clamp<std::int64_t>(folderDepths[i], 0, deepest))].push_back(i);
  }
  // A level without folders (not made by a tree whose levels follow one another) hands its share
  // of the files to the nearest shallower level that has some.
  std::vector<double> want = levelShares(profile.fileDepth, levels);
  for (std::size_t level = levels; level-- > 1;) {
    if (folders[level].empty()) {
      want[level - 1] += want[level];
      want[level] = 0;
    }
  }
  if (folders[0].empty()) {
    // Only reached for depths the tree lacks altogether: the shallowest level with folders takes it.
    std::size_t first = 0;
    while (first + 1 < levels && folders[first].empty()) ++first;
    want[first] += want[0];
    want[0] = 0;
  }
  std::vector<double> lag(levels);
  for (std::size_t level = 0; level < levels; ++level) want[level] *= static_cast<double>(total);
  for (std::size_t level = 0; level < levels; ++level) lag[level] = want[level];
  std::vector<std::size_t> taken(levels, 0);
  for (const std::size_t k : order) {
    // Among the levels the count fits in (their lag at least the count), the one that lags most per
    // folder left, so that a level of few folders and many files gets the large counts it needs;
    // a count that fits nowhere goes where the lag is largest.
    const auto count = static_cast<double>(strata[k]);
    std::size_t best = levels, largest = levels;
    double bestPerFolder = 0;
    for (std::size_t level = 0; level < levels; ++level) {
      const std::size_t left = folders[level].size() - taken[level];
      if (left == 0) continue;
      if (largest == levels || lag[level] > lag[largest]) largest = level;
      const double perFolder = lag[level] / static_cast<double>(left);
      if (lag[level] >= count && (best == levels || perFolder > bestPerFolder)) {
        best = level;
        bestPerFolder = perFolder;
      }
    }
    if (best == levels) best = largest;
    counts[folders[best][taken[best]++]] = strata[k];
    lag[best] -= static_cast<double>(strata[k]);
  }
  return counts;
}

PopulationPlan::PopulationPlan(const PopulationSampler& sampler, const std::vector<std::string>& folderPaths,
                               const std::vector<std::int64_t>& folderDepths, std::int64_t minFiles,
                               std::int64_t maxFiles, std::uint64_t key)
    : sizeStrata_(0, 0) {
  const std::vector<std::int64_t> counts =
      plannedFolderCounts(sampler.profile(), folderDepths, minFiles, maxFiles, key);
  folders_.reserve(folderPaths.size());
  for (std::size_t i = 0; i < folderPaths.size() && i < counts.size(); ++i) {
    folders_.emplace(folderPaths[i], Folder{counts[i], files_});
    files_ += counts[i];
  }
  sizeStrata_ = KeyedPermutation(static_cast<std::uint64_t>(files_), key ^ kSizeStrata);
}

const PopulationPlan::Folder* PopulationPlan::folder(const std::string& identityPath) const {
  const auto found = folders_.find(identityPath);
  return found == folders_.end() ? nullptr : &found->second;
}

double PopulationPlan::sizeShare(std::int64_t fileIndex, double within) const {
  if (fileIndex < 0 || fileIndex >= files_) return within;
  const auto stratum = static_cast<double>(sizeStrata_.at(static_cast<std::uint64_t>(fileIndex)));
  return (stratum + within) / static_cast<double>(files_);
}

}  // namespace quillet
