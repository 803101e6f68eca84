// A population profile: the statistical shape of a file tree, without a single name or path, so a
// profile taken on a production server can be handed to a lab. Measured by walking a tree's
// metadata (fitPopulation) and used to generate trees of the same shape (PopulationSampler).
//
// Sizes are bytes; depths count folders below the root (a file in the root has depth 0, the root's
// own sub-folders have depth 1). Plain C++; the JSON form lives with the script layer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

// One empirical quantile: the value at or below which a share p (0..1) of the population lies.
struct Quantile {
  double p = 0;
  double value = 0;
};

// File sizes: a lognormal body (of the natural log of the size in bytes) and a Pareto tail above
// tailStart, with the share of files in each; plus the empirical quantiles when measured, which a
// generator prefers (they follow the real curve where the fit does not).
struct SizeDistribution {
  double bodyMu = 0;                // mean of ln(size) over the body
  double bodySigma = 1;             // standard deviation of ln(size) over the body
  double tailShare = 0;             // share of files in the Pareto tail (0 = no tail)
  double tailStart = 0;             // x_m: the tail's smallest size in bytes
  double tailAlpha = 1;             // the tail's shape
  double zeroShare = 0;             // share of empty files (neither body nor tail can give 0)
  std::vector<Quantile> quantiles;  // ascending p; empty for a profile given by its fit only
  std::int64_t count = 0;           // files measured (0 for a built-in profile)
  double mean = 0;                  // measured mean size, bytes
};

// A count or depth: shares over ranges of whole values. A bucket [low, high] holds a share spread
// evenly over its values; buckets are ascending and do not overlap; the shares add to 1.
struct CountBucket {
  std::int64_t low = 0;
  std::int64_t high = 0;
  double share = 0;
};

struct CountDistribution {
  std::vector<CountBucket> buckets;
  std::vector<Quantile> quantiles;  // ascending p, empirical when measured
  std::int64_t count = 0;           // observations (folders or files) measured
  double mean = 0;
};

// One extension (without its dot; "" for names without one) with its share of the files and, when
// measured, the compression ratio of its content (zstd level 1 per block, 2.0 for 2:1; 0 when not
// measured).
struct ExtensionShare {
  std::string extension;
  double share = 0;
  double compressionRatio = 0;
  std::int64_t files = 0;
};

struct PopulationProfile {
  std::string name;    // a built-in profile's name, or a label the user gave
  std::string source;  // where the figures come from (free text)
  SizeDistribution fileSizes;
  CountDistribution filesPerFolder;        // files directly in each folder, the root included
  CountDistribution subfoldersPerFolder;   // sub-folders directly in each folder, the root included
  CountDistribution fileDepth;             // the depth of each file
  CountDistribution folderDepth;           // the depth of each folder below the root (root excluded)
  std::vector<ExtensionShare> extensions;  // the top extensions by share; the rest is "other"
  double otherExtensionsShare = 0;         // share of files whose extension is not in the list
  std::int64_t files = 0;
  std::int64_t folders = 0;  // the root included
  std::int64_t bytes = 0;
};

}  // namespace quillet
