#include "script/population_profile_json.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <regex>

namespace quillet {
namespace {

using nlohmann::ordered_json;

// JSON has no NaN or infinity; a figure that is not finite is written as 0 (none can be, but a
// file a reader rejects must never be the result).
double finite(double v) { return std::isfinite(v) ? v : 0.0; }

// Sizes and counts are whole numbers: written as such (12, not 12.0) while they are exact in a double.
ordered_json number(double v) {
  v = finite(v);
  if (v == std::floor(v) && std::abs(v) < 9007199254740992.0) return static_cast<std::int64_t>(v);
  return v;
}

ordered_json quantilesJson(const std::vector<Quantile>& quantiles) {
  ordered_json list = ordered_json::array();
  for (const Quantile& q : quantiles) list.push_back(ordered_json::array({finite(q.p), number(q.value)}));
  return list;
}

ordered_json countJson(const CountDistribution& d) {
  ordered_json j;
  ordered_json buckets = ordered_json::array();
  for (const CountBucket& b : d.buckets)
    buckets.push_back(ordered_json::array({b.low, b.high, finite(b.share)}));
  j["buckets"] = std::move(buckets);
  if (!d.quantiles.empty()) j["quantiles"] = quantilesJson(d.quantiles);
  if (d.count > 0) {
    j["count"] = d.count;
    j["mean"] = finite(d.mean);
  }
  return j;
}

}  // namespace

std::string populationProfileJson(const PopulationProfile& p) {
  ordered_json j;
  j["schema"] = kProfileSchema;
  j["name"] = p.name;
  if (!p.source.empty()) j["source"] = p.source;
  j["files"] = p.files;
  j["folders"] = p.folders;
  j["bytes"] = p.bytes;
  const SizeDistribution& s = p.fileSizes;
  ordered_json sizes;
  sizes["body"] = {{"mu", finite(s.bodyMu)}, {"sigma", finite(s.bodySigma)}};
  sizes["tail"] = {
      {"share", finite(s.tailShare)}, {"start", number(s.tailStart)}, {"alpha", finite(s.tailAlpha)}};
  sizes["zeroShare"] = finite(s.zeroShare);
  if (!s.quantiles.empty()) sizes["quantiles"] = quantilesJson(s.quantiles);
  if (s.count > 0) {
    sizes["count"] = s.count;
    sizes["mean"] = finite(s.mean);
  }
  j["fileSizes"] = std::move(sizes);
  j["filesPerFolder"] = countJson(p.filesPerFolder);
  j["subfoldersPerFolder"] = countJson(p.subfoldersPerFolder);
  j["fileDepth"] = countJson(p.fileDepth);
  j["folderDepth"] = countJson(p.folderDepth);
  ordered_json extensions = ordered_json::array();
  for (const ExtensionShare& e : p.extensions) {
    ordered_json x;
    x["extension"] = e.extension;
    x["share"] = finite(e.share);
    if (e.compressionRatio > 0) x["compressionRatio"] = finite(e.compressionRatio);
    if (e.files > 0) x["files"] = e.files;
    extensions.push_back(std::move(x));
  }
  j["extensions"] = std::move(extensions);
  j["otherExtensionsShare"] = finite(p.otherExtensionsShare);
  // One line per quantile and bucket: a profile stays readable (and diffable) by eye. Only real
  // line breaks are matched, and a string's are escaped, so no text is touched.
  static const std::regex triple(R"(\[\n\s*([-+.eE0-9]+),\n\s*([-+.eE0-9]+),\n\s*([-+.eE0-9]+)\n\s*\])");
  static const std::regex pair(R"(\[\n\s*([-+.eE0-9]+),\n\s*([-+.eE0-9]+)\n\s*\])");
  const std::string text = j.dump(2, ' ', false, ordered_json::error_handler_t::replace);
  return std::regex_replace(std::regex_replace(text, triple, "[$1, $2, $3]"), pair, "[$1, $2]") + "\n";
}

}  // namespace quillet
