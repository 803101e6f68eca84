#include "script/population_report.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "engine/size_text.h"
#include "script/verify_run.h"

namespace quillet {
namespace {

using nlohmann::ordered_json;

// The most folders a tree make-up may count (the /dirlimit range).
constexpr std::int64_t kMaxTreeFolders = 30000;

// P(X <= v) of a count distribution.
double countCdf(const CountDistribution& d, std::int64_t v) {
  double total = 0, below = 0;
  for (const auto& b : d.buckets) {
    total += b.share;
    if (v >= b.high) {
      below += b.share;
    } else if (v >= b.low) {
      below += b.share * static_cast<double>(v - b.low + 1) / static_cast<double>(b.high - b.low + 1);
    }
  }
  return total > 0 ? below / total : 0;
}

std::string grouped(std::int64_t n) { return groupedCount(n); }

ordered_json figuresJson(const DistributionFigures& f, const std::string& unit, bool withCount) {
  ordered_json j;
  if (withCount) j["count"] = f.count;
  j["mean_" + unit] = f.mean;
  j["median_" + unit] = f.median;
  j["p90_" + unit] = f.p90;
  j["p99_" + unit] = f.p99;
  return j;
}

ordered_json comparison(const CountDistribution& target, std::vector<std::int64_t> made,
                        const std::string& unit) {
  return {{"target", figuresJson(targetCountFigures(target), unit, false)},
          {"achieved", figuresJson(sampleFigures(made), unit, true)}};
}

std::string number(double v) {
  char text[32];
  if (std::abs(v) >= 100 || v == std::floor(v)) {
    std::snprintf(text, sizeof text, "%.0f", v);
  } else {
    std::snprintf(text, sizeof text, "%.2f", v);
  }
  return text;
}

}  // namespace

void completeProfileJob(GenerationJob& job, const ParseOutcome& parsed) {
  if (!job.population) return;
  const PopulationProfile& p = job.population->profile();
  if (!job.byAllSize && !parsed.maxFilesGiven) job.maxFiles = INT32_MAX;
  if (job.byAllSize || !job.recurseSubfolders) return;
  std::int64_t folders = p.folders > 1 ? p.folders - 1 : 0;
  if (parsed.dirLimitGiven)
    folders = p.folders > 0 ? std::min<std::int64_t>(folders, job.dirsLimit) : job.dirsLimit;
  job.profileFolders = std::min(folders, kMaxTreeFolders);
  if (!parsed.dirLimitGiven) job.dirsLimit = static_cast<std::int32_t>(job.profileFolders);
  job.profileMaxDepth = parsed.treeDeepGiven ? std::max(0, job.treeDeep - 1) : kMaxProfileDepth;
}

std::vector<std::string> profileResolutionLines(const GenerationJob& job, const ParseOutcome& parsed) {
  std::vector<std::string> lines;
  if (!job.population) return lines;
  const PopulationSampler& sampler = *job.population;
  const PopulationProfile& p = sampler.profile();
  const std::string head = "Profile '" + p.name + "': ";
  const bool tree = !job.byAllSize && job.recurseSubfolders;
  if (job.byAllSize) {
    lines.push_back(head + "file sizes and extensions are drawn from it.");
  } else if (tree) {
    lines.push_back(head + "file sizes, files per folder, extensions and a tree of " +
                    grouped(job.profileFolders) + " folders below the root (at most " +
                    std::to_string(job.profileMaxDepth) + " levels deep) are drawn from it.");
  } else {
    lines.push_back(
        head +
        "file sizes, files per folder and extensions are drawn from it; without /recurse only the "
        "root folder is filled.");
  }
  // Sizes outside the run's size bounds are raised or lowered to them.
  const std::int64_t low = job.minFileSize;
  const std::int64_t high = std::max(job.minFileSize, job.maxFileSize);
  const double below = low > 0 ? sampler.sizeCdf(low - 1) : 0.0;
  const double above = high < kMaxProfileFileSize ? 1.0 - sampler.sizeCdf(high) : 0.0;
  if (low > 0 || high < kMaxProfileFileSize) {
    lines.push_back(head + "file sizes are kept within " + formatSize(low) + " and " + formatSize(high) +
                    " (/minsize, /maxsize and the run's total): " + percentText(below + above) +
                    " of its draws are raised or lowered to those bounds.");
  }
  if (!job.byAllSize && (job.minFiles > 0 || parsed.maxFilesGiven)) {
    const CountDistribution& d = p.filesPerFolder;
    const double out =
        countCdf(d, job.minFiles - 1) + 1.0 - countCdf(d, std::max(job.minFiles, job.maxFiles));
    lines.push_back(head + "files per folder are kept within " + std::to_string(job.minFiles) + " and " +
                    std::to_string(std::max(job.minFiles, job.maxFiles)) + " (/minfiles, /maxfiles): " +
                    percentText(out) + " of its draws are raised or lowered to those bounds.");
  }
  if (tree) {
    const std::int64_t wanted = p.folders > 1 ? p.folders - 1 : 0;
    if (p.folders == 0 && !parsed.dirLimitGiven) {
      lines.push_back(head + "it gives no folder count and /dirlimit is absent: no sub-folder is made.");
    } else if (parsed.dirLimitGiven && p.folders > 0 && job.profileFolders < wanted) {
      lines.push_back(head + "/dirlimit makes " + grouped(job.profileFolders) + " of its " + grouped(wanted) +
                      " folders below the root.");
    } else if (job.profileFolders <
               std::min(wanted, p.folders > 0 ? wanted : static_cast<std::int64_t>(job.dirsLimit))) {
      lines.push_back(head + "its " + grouped(wanted) + " folders below the root are cut to " +
                      grouped(job.profileFolders) + ", the most a tree may have.");
    }
    if (parsed.treeDeepGiven) {
      const double deeper = 1.0 - countCdf(p.folderDepth, job.profileMaxDepth);
      if (deeper > 0) {
        lines.push_back(head + "/treedeep keeps its folders within " + std::to_string(job.profileMaxDepth) +
                        " levels below the root: " + percentText(deeper) +
                        " of them would lie deeper and are made at the deepest level allowed.");
      }
    }
    if (parsed.rootSizeGiven)
      lines.push_back(head + "/rootsize is not used: it gives each folder's sub-folders.");
  }
  if (!job.byAllSize && job.useLimitSize) {
    lines.push_back(head +
                    "/limsize ends the run once reached, whatever part of the tree is filled by then.");
  }
  return lines;
}

ordered_json populationFitJson(const PopulationSampler& sampler, PopulationTally::Contents made,
                               const std::vector<std::string>& resolutions, bool tree) {
  const PopulationProfile& p = sampler.profile();
  ordered_json j;
  j["profile"] = p.name;
  j["source"] = p.source.empty() ? ordered_json(nullptr) : ordered_json(p.source);
  j["size_draws"] = sampler.usesQuantiles() ? "quantiles" : "fit";
  j["resolutions"] = resolutions;

  std::vector<std::int64_t>& sizes = made.sizes;
  const DistributionFigures achieved = sampleFigures(sizes);  // sorts
  ordered_json fileSizes;
  fileSizes["target"] = figuresJson(targetSizeFigures(sampler), "bytes", false);
  fileSizes["achieved"] = figuresJson(achieved, "bytes", true);
  fileSizes["ks_distance"] =
      sizes.empty() ? ordered_json(nullptr) : ordered_json(sizeKsDistance(sampler, sizes));
  // Shares per size class: up to 1 byte, then (2^(k-1), 2^k]; the classes either side holds.
  ordered_json bins = ordered_json::array();
  int first = -1, last = -1;
  std::vector<double> target, got;
  std::size_t at = 0;
  for (int k = 0; k <= 40; ++k) {
    const std::int64_t top = std::int64_t{1} << k;
    const double lowCdf = k == 0 ? 0.0 : sampler.sizeCdf(top / 2);
    target.push_back(sampler.sizeCdf(top) - lowCdf);
    std::size_t count = 0;
    while (at < sizes.size() && sizes[at] <= top) ++at, ++count;
    got.push_back(sizes.empty() ? 0.0 : static_cast<double>(count) / static_cast<double>(sizes.size()));
    if (target.back() > 1e-6 || got.back() > 0) {
      if (first < 0) first = k;
      last = k;
    }
  }
  for (int k = std::max(first, 0); k <= last; ++k) {
    bins.push_back({{"up_to_bytes", std::int64_t{1} << k},
                    {"target_share", target[static_cast<std::size_t>(k)]},
                    {"achieved_share", got[static_cast<std::size_t>(k)]}});
  }
  fileSizes["bins"] = std::move(bins);
  j["file_sizes"] = std::move(fileSizes);

  const bool folders = !made.filesPerFolder.empty();
  j["files_per_folder"] =
      folders ? comparison(p.filesPerFolder, made.filesPerFolder, "files") : ordered_json(nullptr);
  j["subfolders_per_folder"] =
      tree ? comparison(p.subfoldersPerFolder, made.subfoldersPerFolder, "folders") : ordered_json(nullptr);
  j["file_depth"] = tree ? comparison(p.fileDepth, made.fileDepths, "levels") : ordered_json(nullptr);
  j["folder_depth"] = tree ? comparison(p.folderDepth, made.folderDepths, "levels") : ordered_json(nullptr);

  const double files = static_cast<double>(made.sizes.size());
  ordered_json extensions = ordered_json::array();
  for (std::size_t i = 0; i < p.extensions.size(); ++i) {
    const double count = i < made.extensionFiles.size() ? static_cast<double>(made.extensionFiles[i]) : 0.0;
    extensions.push_back({{"extension", p.extensions[i].extension},
                          {"target_share", p.extensions[i].share},
                          {"achieved_share", files > 0 ? count / files : 0.0}});
  }
  extensions.push_back({{"extension", nullptr},
                        {"target_share", p.otherExtensionsShare},
                        {"achieved_share", files > 0 ? static_cast<double>(made.otherFiles) / files : 0.0}});
  j["extensions"] = std::move(extensions);
  return j;
}

std::vector<std::string> formatPopulationTable(const ordered_json& fit) {
  std::vector<std::string> lines;
  // A shared run's figures are one rank's tree: each rank makes a whole tree of its own.
  const std::string whose = fit.contains("achieved_rank") && fit["achieved_rank"].is_number_integer()
                                ? " (rank " + std::to_string(fit["achieved_rank"].get<std::int64_t>()) +
                                      "'s tree; every rank makes its own)"
                                : "";
  lines.push_back("Profile '" + fit.value("profile", std::string()) + "', target against achieved" + whose +
                  ":");
  char line[256];
  std::snprintf(line, sizeof line, "  %-22s %-9s %12s %12s %12s %12s", "", "", "mean", "median", "p90",
                "p99");
  lines.push_back(line);
  const auto rows = [&](const char* title, const char* key, const std::string& unit, bool bytes) {
    if (!fit.contains(key) || !fit[key].is_object()) return;
    const ordered_json& d = fit[key];
    for (const char* side : {"target", "achieved"}) {
      const ordered_json& f = d[side];
      const auto cell = [&](const char* which) {
        const double v = f.value(std::string(which) + "_" + unit, 0.0);
        return bytes ? formatSize(static_cast<std::int64_t>(std::llround(v))) : number(v);
      };
      std::string extra;
      if (std::string(side) == "achieved") {
        extra = "  (" + grouped(f.value("count", std::int64_t{0})) + ")";
        if (d.contains("ks_distance") && d["ks_distance"].is_number()) {
          char ks[64];
          std::snprintf(ks, sizeof ks, "  KS distance %.4f", d["ks_distance"].get<double>());
          extra += ks;
        }
      }
      std::snprintf(line, sizeof line, "  %-22s %-9s %12s %12s %12s %12s%s",
                    std::string(side) == "target" ? title : "", side, cell("mean").c_str(),
                    cell("median").c_str(), cell("p90").c_str(), cell("p99").c_str(), extra.c_str());
      lines.push_back(line);
    }
  };
  rows("file size", "file_sizes", "bytes", true);
  rows("files per folder", "files_per_folder", "files", false);
  rows("sub-folders per folder", "subfolders_per_folder", "folders", false);
  rows("file depth", "file_depth", "levels", false);
  rows("folder depth", "folder_depth", "levels", false);
  if (fit.contains("extensions") && fit["extensions"].is_array()) {
    std::string text = "  extensions (target/achieved):";
    int shown = 0;
    for (const auto& e : fit["extensions"]) {
      if (shown++ == 6) break;
      const std::string name = e["extension"].is_string() ? e["extension"].get<std::string>() : "other";
      text += " " + (name.empty() ? std::string("(none)") : name) + " " +
              percentText(e.value("target_share", 0.0)) + "/" + percentText(e.value("achieved_share", 0.0)) +
              ";";
    }
    text.pop_back();
    lines.push_back(text);
  }
  return lines;
}

}  // namespace quillet
