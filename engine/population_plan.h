// The files a run by a profile puts in each folder of its made-up tree, planned as a whole before
// any folder is filled: the profile's files-per-folder distribution is cut into as many strata as
// the tree has folders and each stratum is used once, so the run's total follows the profile (a
// rare huge folder is always made, never left to chance), and the strata are dealt out by depth so
// that the files sit at the profile's depths. Each file's size is drawn likewise, from its own
// stratum of the size distribution among all the run's files.
//
// Deterministic: a folder's count and its files' strata depend only on the run's seed and the
// folder's place in the tree, never on which writer fills it or when. Immutable once made; shared
// by the writers without a lock.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/population_sampler.h"

namespace quillet {

// A keyed permutation of 0..n-1 (a Feistel network over the next power of four, walked until it
// lands inside the range): the strata of n draws in an order no draw can predict, without a table.
class KeyedPermutation {
 public:
  KeyedPermutation(std::uint64_t n, std::uint64_t key);
  std::uint64_t size() const { return n_; }
  // The image of i < size(); i itself for an i out of range.
  std::uint64_t at(std::uint64_t i) const;

 private:
  std::uint64_t n_;
  std::uint64_t key_;
  int halfBits_ = 1;
};

// A share in (0, 1) from a key and an index: the fixed "random" draws of a plan.
double keyedUnit(std::uint64_t key, std::uint64_t index);

class PopulationPlan {
 public:
  struct Folder {
    std::int64_t files = 0;      // the files planned for the folder
    std::int64_t firstFile = 0;  // the run's index of its first file (folders in making order)
  };

  // folderPaths: the identity paths of the tree's folders, the root ("") first, in the order they
  // were made; folderDepths alike (the root's 0). Counts are kept within minFiles..maxFiles. key:
  // from the run's seed.
  PopulationPlan(const PopulationSampler& sampler, const std::vector<std::string>& folderPaths,
                 const std::vector<std::int64_t>& folderDepths, std::int64_t minFiles, std::int64_t maxFiles,
                 std::uint64_t key);

  // The plan of a folder by its identity path; null for a folder the tree make-up did not make.
  const Folder* folder(const std::string& identityPath) const;
  std::int64_t files() const { return files_; }
  // The share a file's size is drawn at: the stratum the permutation gives the file's index, and
  // `within` (0..1) its place inside that stratum. `within` alone for an index outside the plan.
  double sizeShare(std::int64_t fileIndex, double within) const;

 private:
  std::unordered_map<std::string, Folder> folders_;
  std::int64_t files_ = 0;
  KeyedPermutation sizeStrata_;
};

// The count each folder of a tree gets (indexes as folderDepths): the N strata of the profile's
// files-per-folder quantile function (one share drawn inside each, kept within minFiles..maxFiles),
// the largest first, each to the depth whose planned files lag furthest behind the profile's file
// depths, and to a folder picked at random there. Without file depths in the profile the strata go
// to the folders in a random order.
std::vector<std::int64_t> plannedFolderCounts(const PopulationProfile& profile,
                                              const std::vector<std::int64_t>& folderDepths,
                                              std::int64_t minFiles, std::int64_t maxFiles,
                                              std::uint64_t key);

}  // namespace quillet
