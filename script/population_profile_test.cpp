// Population profiles: the sampler hits a profile's targets on 100,000 draws, the reader refuses
// hostile profiles with a word naming the key, the built-in profile holds the published figures,
// and the built program makes trees by a profile that measure back to it, says how the profile met
// its limits and reports how well it hit.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "engine/population_sampler.h"
#include "script/population_profile_read.h"
#include "testing/script_program_fixture.h"

namespace quillet {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The measured quantile grid: 0, 0.001, 0.005, 0.01 .. 0.99, 0.995, 0.999, 1.
std::vector<double> measuredGrid() {
  std::vector<double> grid = {0, 0.001, 0.005};
  for (int i = 1; i <= 99; ++i) grid.push_back(i / 100.0);
  for (double p : {0.995, 0.999, 1.0}) grid.push_back(p);
  return grid;
}

// A profile as a measure writes it: 0.1 % empty files, then lognormal sizes (ln bytes mu 7.5,
// sigma 1.2) on the quantile grid up to 1 Mb, and a few extensions.
json labProfile() {
  json quantiles = json::array();
  for (const double p : measuredGrid()) {
    const double v = p <= 0.001 ? 0.0
                     : p >= 1   ? 1048576.0
                                : std::round(std::exp(7.5 + 1.2 * inverseNormal(p)));
    quantiles.push_back({p, v});
  }
  const auto counts = [](json buckets) { return json{{"buckets", buckets}}; };
  return {{"schema", "quillet-profile/1"},
          {"name", "lab"},
          {"source", "test"},
          {"files", 20000},
          {"folders", 201},
          {"bytes", 74000000},
          {"fileSizes",
           {{"body", {{"mu", 7.5}, {"sigma", 1.2}}},
            {"tail", {{"share", 0}, {"start", 0}, {"alpha", 0}}},
            {"zeroShare", 0.001},
            {"quantiles", quantiles},
            {"count", 20000},
            {"mean", 3700}}},
          {"filesPerFolder", counts({{0, 0, 0.2}, {1, 1, 0.2}, {2, 2, 0.2}, {3, 9, 0.3}, {10, 40, 0.1}})},
          {"subfoldersPerFolder", counts({{0, 0, 0.6}, {1, 1, 0.15}, {2, 2, 0.1}, {3, 6, 0.15}})},
          {"fileDepth", counts({{0, 0, 0.1}, {1, 1, 0.3}, {2, 2, 0.3}, {3, 3, 0.3}})},
          {"folderDepth", counts({{1, 1, 0.3}, {2, 2, 0.4}, {3, 3, 0.3}})},
          {"extensions",
           {{{"extension", "txt"}, {"share", 0.4}, {"compressionRatio", 2.5}, {"files", 8000}},
            {{"extension", ""}, {"share", 0.1}},
            {{"extension", "jpg"}, {"share", 0.2}}}},
          {"otherExtensionsShare", 0.3}};
}

PopulationSampler samplerOf(const json& profile) {
  std::string error;
  auto p = readPopulationProfile(profile.dump(), error);
  EXPECT_TRUE(p) << error;
  return PopulationSampler(p ? *p : PopulationProfile{});
}

// The smallest whole size whose distribution function reaches p.
double targetPercentile(const PopulationSampler& s, double p) {
  std::int64_t lo = 0, hi = kMaxProfileFileSize;
  while (lo < hi) {
    const std::int64_t mid = lo + (hi - lo) / 2;
    if (s.sizeCdf(mid) >= p) {
      hi = mid;
    } else {
      lo = mid + 1;
    }
  }
  return static_cast<double>(lo);
}

double sortedPercentile(const std::vector<std::int64_t>& sorted, double p) {
  const auto rank =
      static_cast<std::size_t>(std::max(0.0, std::ceil(p * static_cast<double>(sorted.size())) - 1));
  return static_cast<double>(sorted[rank]);
}

// The goal: on 100,000 files the size distance stays below 0.02 and every percentile within 5 %,
// whether the sizes come from measured quantiles or from the fitted body and tail.
TEST(PopulationSampler, HundredThousandDrawsHitTheProfile) {
  std::string error;
  const auto desktop = builtInProfile("desktop");
  ASSERT_TRUE(desktop);
  // A fit with a tail whose mean is finite (alpha above 1), no quantiles and some empty files.
  json fit = labProfile();
  fit["name"] = "fit";
  fit["fileSizes"].erase("quantiles");
  fit["fileSizes"]["tail"] = {{"share", 0.05}, {"start", 20000}, {"alpha", 2.5}};
  fit["fileSizes"]["zeroShare"] = 0.02;
  const PopulationSampler samplers[] = {samplerOf(labProfile()), PopulationSampler(*desktop), samplerOf(fit)};
  for (const PopulationSampler& sampler : samplers) {
    SCOPED_TRACE(sampler.profile().name);
    RandomSource random;
    random.srand(20261208);
    std::vector<std::int64_t> sizes;
    std::map<int, int> extensions;
    for (int i = 0; i < 100000; ++i) {
      sizes.push_back(sampler.drawSize(random));
      ++extensions[sampler.drawExtension(random)];
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_LT(sizeKsDistance(sampler, sizes), 0.02);
    for (int i = 1; i <= 99; ++i) {
      const double target = targetPercentile(sampler, i / 100.0);
      EXPECT_NEAR(sortedPercentile(sizes, i / 100.0), target, 0.05 * target) << "percentile " << i;
    }
    std::vector<std::int64_t> copy = sizes;
    const DistributionFigures made = sampleFigures(copy);
    const DistributionFigures target = targetSizeFigures(sampler);
    EXPECT_NEAR(made.median, target.median, 0.05 * target.median);
    EXPECT_NEAR(made.p99, target.p99, 0.05 * target.p99);
    // The desktop's tail (alpha below 1) has no finite mean to hit; the others have one.
    if (sampler.profile().name != "desktop") {
      EXPECT_NEAR(made.mean, target.mean, 0.05 * target.mean);
    }
    const auto& listed = sampler.profile().extensions;
    for (std::size_t e = 0; e < listed.size(); ++e) {
      EXPECT_NEAR(extensions[static_cast<int>(e)] / 100000.0, listed[e].share, 0.005) << listed[e].extension;
    }
    EXPECT_NEAR(extensions[-1] / 100000.0, sampler.profile().otherExtensionsShare, 0.005);
  }
  EXPECT_TRUE(samplers[0].usesQuantiles());
  EXPECT_FALSE(samplers[1].usesQuantiles());
  EXPECT_FALSE(samplers[2].usesQuantiles());
}

// Above the grid's 99.9th percentile the draws bend so that the distribution's mean is the
// recorded one, within what the segment up to the largest file can hold; without a mean they
// spread evenly in log space as before. Evenly spaced shares (as a planned tree's strata) make a
// sample whose mean is the target's, and the distribution function inverts the draws.
TEST(PopulationSampler, TopSegmentBendsToTheRecordedMean) {
  struct Row {
    double mean;
    bool bent;
    bool reached;
  };
  const Row rows[] = {{3900, true, true}, {4500, true, true}, {0, false, false}, {1e30, true, false}};
  const PopulationSampler even = [] {
    json j = labProfile();
    j["fileSizes"].erase("mean");
    return samplerOf(j);
  }();
  const double evenMean = targetSizeFigures(even).mean;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.mean);
    json j = labProfile();
    if (row.mean > 0) {
      j["fileSizes"]["mean"] = row.mean;
    } else {
      j["fileSizes"].erase("mean");
    }
    const PopulationSampler sampler = samplerOf(j);
    EXPECT_EQ(sampler.topShape() != 0, row.bent);
    const DistributionFigures target = targetSizeFigures(sampler);
    if (row.reached) {
      EXPECT_NEAR(target.mean, row.mean, 1e-6 * row.mean);
    }
    if (!row.bent) {
      EXPECT_DOUBLE_EQ(target.mean, evenMean);
    }
    // Below the top segment nothing moves.
    EXPECT_EQ(target.p99, targetSizeFigures(even).p99);
    const int n = 200000;
    double sum = 0;
    for (int k = 0; k < n; ++k) {
      const double u = (k + 0.5) / n;
      const std::int64_t size = sampler.drawnSizeAt(u);
      sum += static_cast<double>(size);
      if (u > 0.999) {
        ASSERT_GE(size, 73000);
        ASSERT_LE(size, 1048576);
        const double step = sampler.sizeCdf(size) - sampler.sizeCdf(size - 1);
        EXPECT_NEAR(sampler.sizeCdf(size), u, 2e-6 + step);
      } else {
        EXPECT_EQ(size, even.drawnSizeAt(u));
      }
    }
    EXPECT_NEAR(sum / n, target.mean, 0.01 * target.mean);
  }
}

TEST(PopulationSampler, CountsFollowTheirBuckets) {
  const auto desktop = builtInProfile("desktop");
  ASSERT_TRUE(desktop);
  for (const CountDistribution* d : {&desktop->filesPerFolder, &desktop->fileDepth}) {
    RandomSource random;
    random.srand(7);
    std::vector<std::int64_t> drawn;
    for (int i = 0; i < 100000; ++i) drawn.push_back(PopulationSampler::drawCount(*d, random));
    const DistributionFigures made = sampleFigures(drawn);
    const DistributionFigures target = targetCountFigures(*d);
    EXPECT_EQ(made.median, target.median);
    EXPECT_NEAR(made.p90, target.p90, std::max(1.0, 0.05 * target.p90));
    EXPECT_NEAR(made.mean, target.mean, 0.05 * target.mean);
    EXPECT_GE(drawn.front(), d->buckets.front().low);
    EXPECT_LE(drawn.back(), d->buckets.back().high);
  }
}

// The built-in profile by any case, with the figures of the published study as its generator used them.
TEST(PopulationProfileRead, BuiltInDesktopHoldsThePublishedFigures) {
  const auto p = builtInProfile("DeskTop");
  ASSERT_TRUE(p);
  EXPECT_FALSE(builtInProfile("laptop"));
  EXPECT_EQ(p->name, "desktop");
  EXPECT_DOUBLE_EQ(p->fileSizes.bodyMu, 9.48);
  EXPECT_DOUBLE_EQ(p->fileSizes.bodySigma, 2.46);
  EXPECT_DOUBLE_EQ(p->fileSizes.tailAlpha, 0.91);
  EXPECT_DOUBLE_EQ(p->fileSizes.tailStart, 512.0 * 1024 * 1024);
  for (const CountDistribution* d :
       {&p->filesPerFolder, &p->subfoldersPerFolder, &p->fileDepth, &p->folderDepth}) {
    double total = 0;
    for (const auto& b : d->buckets) total += b.share;
    EXPECT_NEAR(total, 1.0, 1e-9);
  }
  double shares = p->otherExtensionsShare;
  for (const auto& e : p->extensions) shares += e.share;
  EXPECT_NEAR(shares, 1.0, 1e-9);
  // The body's median is e^mu; files by depth have the Poisson's mean; a folder has about one
  // sub-folder on average, as every folder but the root is somebody's sub-folder.
  const PopulationSampler sampler(*p);
  EXPECT_NEAR(targetSizeFigures(sampler).median, std::exp(9.48), 0.01 * std::exp(9.48));
  EXPECT_NEAR(targetCountFigures(p->fileDepth).mean, 6.49, 0.01);
  EXPECT_NEAR(targetCountFigures(p->subfoldersPerFolder).mean, 1.0, 0.05);
}

// Each hostile change of a good profile, and the words its refusal must contain.
TEST(PopulationProfileRead, HostileProfilesAreRefusedNamingTheKey) {
  std::string error;
  ASSERT_TRUE(readPopulationProfile(labProfile().dump(), error)) << error;
  struct Row {
    std::function<void(json&)> change;
    const char* words;
  };
  const Row rows[] = {
      {[](json& j) { j["bogus"] = 1; }, "unknown key 'bogus'"},
      {[](json& j) { j["fileSizes"]["body"]["x"] = 1; }, "unknown key 'fileSizes.body.x'"},
      {[](json& j) { j["extensions"][0]["name"] = "x"; }, "unknown key 'extensions[0].name'"},
      {[](json& j) { j.erase("folderDepth"); }, "missing key 'folderDepth'"},
      {[](json& j) { j["fileSizes"]["tail"].erase("alpha"); }, "missing key 'fileSizes.tail.alpha'"},
      {[](json& j) { j["schema"] = "quillet-profile/2"; }, "schema must be \"quillet-profile/1\""},
      {[](json& j) { j["fileSizes"]["body"]["sigma"] = 0; }, "fileSizes.body.sigma must be above 0"},
      {[](json& j) {
         j["fileSizes"]["tail"] = {{"share", 0.1}, {"start", 1e6}, {"alpha", 0}};
       },
       "fileSizes.tail.alpha must be above 0"},
      {[](json& j) { j["fileSizes"]["zeroShare"] = -0.01; }, "fileSizes.zeroShare must not be negative"},
      {[](json& j) { j["extensions"][0]["share"] = -0.1; }, "extensions[0].share must not be negative"},
      {[](json& j) { j["otherExtensionsShare"] = 0.5; },
       "extensions shares and otherExtensionsShare must add up to 1"},
      {[](json& j) { j["filesPerFolder"]["buckets"][4][2] = 0.05; },
       "filesPerFolder.buckets shares must add up to 1"},
      {[](json& j) {
         j["filesPerFolder"]["buckets"][3] = {2, 9, 0.3};
       },
       "filesPerFolder.buckets[3] overlaps"},
      {[](json& j) {
         j["fileDepth"]["buckets"][1] = {2, 1, 0.3};
       },
       "fileDepth.buckets[1] has its high below its low"},
      {[](json& j) { j["fileSizes"]["quantiles"][5][0] = 0.001; }, "fileSizes.quantiles[5] is out of order"},
      {[](json& j) { j["fileSizes"]["quantiles"][7][1] = 1; }, "fileSizes.quantiles[7] is out of order"},
      {[](json& j) { j["folders"] = "201"; }, "folders must be a whole number"},
      {[](json& j) { j["bytes"] = -1; }, "bytes must not be negative"},
      {[](json& j) { j["files"] = 1.5; }, "files must be a whole number"},
      {[](json& j) { j["extensions"][2]["extension"] = "JPG"; }, "extensions[2].extension may hold only"},
      {[](json& j) { j["extensions"][2]["extension"] = "txt"; }, "extensions[2].extension is listed twice"},
      {[](json& j) { j["extensions"][2]["extension"] = std::string(17, 'a'); }, "at most 16 characters"},
      {[](json& j) { j["name"] = "a\x1b[2Jb"; }, "name must not hold control characters"},
      {[](json& j) { j["subfoldersPerFolder"]["buckets"] = json::array(); },
       "subfoldersPerFolder.buckets must not be empty"},
      {[](json& j) {
         j["folderDepth"]["count"] = 3;
         j["folderDepth"]["buckets"] = json::array();
       },
       "folderDepth.buckets must not be empty"},
      {[](json& j) { j["fileDepth"]["quantiles"] = {{0.5}}; }, "fileDepth.quantiles[0] must be a pair"},
      {[](json& j) { j = json::array(); }, "the profile must be an object"},
  };
  for (const Row& row : rows) {
    json j = labProfile();
    row.change(j);
    error.clear();
    EXPECT_FALSE(readPopulationProfile(j.dump(), error)) << row.words;
    EXPECT_NE(error.find(row.words), std::string::npos) << "want: " << row.words << "\ngot:  " << error;
  }
  // A tree measured with only its root and no file has nothing to share out: read, and drawn as such.
  json bare = labProfile();
  bare["files"] = 0;
  bare["folders"] = 1;
  for (const char* key : {"filesPerFolder", "subfoldersPerFolder", "fileDepth", "folderDepth"}) {
    bare[key] = {{"buckets", json::array()}, {"count", 0}};
  }
  bare["filesPerFolder"] = {{"buckets", {{0, 0, 1.0}}}, {"count", 1}};
  bare["extensions"] = json::array();
  bare["otherExtensionsShare"] = 0;
  error.clear();
  EXPECT_TRUE(readPopulationProfile(bare.dump(), error)) << error;
  bare["files"] = 5;
  EXPECT_FALSE(readPopulationProfile(bare.dump(), error));
  EXPECT_NE(error.find("extensions shares and otherExtensionsShare must add up to 1"), std::string::npos)
      << error;

  // Texts no JSON reader should take whole: each is refused with a reason, never a crash.
  const std::string texts[] = {"",
                               "{",
                               "nan",
                               "{\"schema\": NaN}",
                               std::string(100000, '['),
                               "{\"fileSizes\": {\"body\": {\"mu\": 1e999}}}",
                               std::string("\xff\xfe{}", 4)};
  for (const auto& text : texts) {
    error.clear();
    EXPECT_FALSE(readPopulationProfile(text, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

class ProfileProgramTest : public test_support::ScriptProgramTest {
 protected:
  ProfileProgramTest() : ScriptProgramTest(256 << 20) {}
  std::string writeProfile(const json& profile) {
    const std::string path = bin / "lab.json";
    std::ofstream(path) << profile.dump(1);
    return path;
  }
  json report() const { return json::parse(test_support::readFile(bin / "report.json")); }
  std::string reportArg() const { return "/report:'" + (bin / "report.json") + "'"; }
};

struct WalkedTree {
  std::vector<std::int64_t> sizes;
  std::vector<std::int64_t> filesPerFolder;
  std::vector<std::int64_t> subfoldersPerFolder;
  std::vector<std::int64_t> fileDepths;
  std::map<std::string, int> extensions;
  int deepest = 0;
};

// The tree's shape computed here, independently of the program.
WalkedTree walk(const std::string& root) {
  WalkedTree t;
  std::map<std::string, std::pair<std::int64_t, std::int64_t>> folders = {{"", {0, 0}}};
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(e.path(), root).generic_string();
    const auto slash = relative.find_last_of('/');
    const std::string parent = slash == std::string::npos ? "" : relative.substr(0, slash);
    const int depth = static_cast<int>(std::count(relative.begin(), relative.end(), '/'));
    if (e.is_directory()) {
      folders[relative];
      ++folders[parent].second;
      t.deepest = std::max(t.deepest, depth + 1);
    } else {
      ++folders[parent].first;
      t.sizes.push_back(static_cast<std::int64_t>(e.file_size()));
      t.fileDepths.push_back(depth);
      const std::string name = e.path().filename().string();
      const auto dot = name.find('.');
      ++t.extensions[dot == std::string::npos ? "" : name.substr(dot + 1)];
    }
  }
  for (const auto& [name, counts] : folders) {
    t.filesPerFolder.push_back(counts.first);
    t.subfoldersPerFolder.push_back(counts.second);
  }
  return t;
}

// Round trip: the sizes and extensions of a tree made from a known profile, measured here, agree
// with the profile within the goal's bounds, and the report's figures are the tree's own.
TEST_F(ProfileProgramTest, TreeMadeByAProfileMeasuresBackToIt) {
  const json profile = labProfile();
  const std::string file = writeProfile(profile);
  const std::string tree = *vol / "tree";
  auto r = run({"/s", "/root:'" + tree + "'", "/allsize:70m", "/profile:'" + file + "'", "/nofill", "/seed:5",
                reportArg(), "/html:'" + (bin / "page.html") + "'"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  WalkedTree t = walk(tree);
  ASSERT_GT(t.sizes.size(), 15000u);
  // The last file is cut to the total; all others are the profile's draws.
  std::sort(t.sizes.begin(), t.sizes.end());
  const PopulationSampler sampler = samplerOf(profile);
  EXPECT_LT(sizeKsDistance(sampler, t.sizes), 0.02);
  for (const double p : {0.1, 0.25, 0.5, 0.75, 0.9}) {
    const double target = targetPercentile(sampler, p);
    EXPECT_NEAR(sortedPercentile(t.sizes, p), target, 0.05 * target) << p;
  }
  const double files = static_cast<double>(t.sizes.size());
  // The profile's empty files (p 0 to 0.001 at 0 bytes, then a linear rise) are made as files.
  const double empty = static_cast<double>(std::count(t.sizes.begin(), t.sizes.end(), 0));
  EXPECT_NEAR(empty / files, sampler.sizeCdf(0), 0.001);
  EXPECT_GT(empty, 0);
  EXPECT_NEAR(t.extensions["txt"] / files, 0.4, 0.02);
  EXPECT_NEAR(t.extensions["jpg"] / files, 0.2, 0.02);
  EXPECT_NEAR(t.extensions[""] / files, 0.1, 0.02);

  const json population = report()["population"];
  EXPECT_EQ(population["profile"], "lab");
  EXPECT_EQ(population["size_draws"], "quantiles");
  EXPECT_EQ(population["file_sizes"]["achieved"]["count"], t.sizes.size());
  EXPECT_EQ(population["file_sizes"]["achieved"]["median_bytes"], sortedPercentile(t.sizes, 0.5));
  EXPECT_LT(population["file_sizes"]["ks_distance"].get<double>(), 0.02);
  EXPECT_TRUE(population["files_per_folder"].is_null());
  EXPECT_NE(r.err.find("Profile 'lab', target against achieved:"), std::string::npos) << r.err;
  // The page draws each size class's pair of bars from the report's shares.
  const std::string page = test_support::readFile(bin / "page.html");
  const auto occurrences = [&](const std::string& what) {
    std::size_t n = 0;
    for (auto at = page.find(what); at != std::string::npos; at = page.find(what, at + 1)) ++n;
    return n;
  };
  const json& bins = population["file_sizes"]["bins"];
  ASSERT_GT(bins.size(), 10u);
  EXPECT_NE(
      page.find("id=\"population-sizes\" class=\"chart\" data-bins=\"" + std::to_string(bins.size()) + "\""),
      std::string::npos);
  EXPECT_EQ(occurrences("<rect class=\"target\""), bins.size());
  EXPECT_EQ(occurrences("<rect class=\"achieved\""), bins.size());
  double achieved = 0;
  for (const auto& b : bins) achieved += b["achieved_share"].get<double>();
  EXPECT_NEAR(achieved, 1.0, 1e-9);
}

// A tree by a profile within /dirlimit and /treedeep: the run says how it resolved them, keeps to
// them, and its report gives the shape the tree really has.
TEST_F(ProfileProgramTest, TreeKeepsTheLimitsAndSaysHow) {
  const std::string file = writeProfile(labProfile());
  const std::string tree = *vol / "tree";
  auto r = run({"/f", "/root:'" + tree + "'", "/minfiles:0", "/recurse", "/profile:'" + file + "'",
                "/dirlimit:60", "/treedeep:3", "/rootsize:4", "/maxsize:64k", "/seed:11", reportArg()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string log = this->log();
  for (const char* line :
       {"Profile 'lab': /dirlimit makes 60 of its 200 folders below the root.",
        "Profile 'lab': /treedeep keeps its folders within 2 levels below the root: 30.00 % of them",
        "Profile 'lab': /rootsize is not used",
        "Profile 'lab': file sizes are kept within 0 b and 64.00 Kb"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    EXPECT_NE(r.err.find(line), std::string::npos) << line;
  }
  WalkedTree t = walk(tree);
  EXPECT_EQ(t.subfoldersPerFolder.size(), 61u);
  EXPECT_EQ(t.deepest, 2);
  EXPECT_LE(*std::max_element(t.sizes.begin(), t.sizes.end()), 65536);
  const json rep = report();
  const json& population = rep["population"];
  const auto achieved = [&](const char* key) { return population[key]["achieved"]; };
  EXPECT_EQ(achieved("files_per_folder")["count"], 61);
  EXPECT_EQ(achieved("subfolders_per_folder")["count"], 61);
  EXPECT_EQ(achieved("folder_depth")["count"], 60);
  EXPECT_EQ(achieved("file_depth")["count"], rep["files_created"]);
  EXPECT_NEAR(achieved("files_per_folder")["mean_files"].get<double>(), sampleFigures(t.filesPerFolder).mean,
              1e-9);
  EXPECT_NEAR(achieved("file_depth")["mean_levels"].get<double>(), sampleFigures(t.fileDepths).mean, 1e-9);
  EXPECT_EQ(rep["parameters"]["profile"], file);
}

// A few folders of a deep profile (desktop: depths about 6 and 7, the first levels seldom drawn)
// still make their count: the shallow levels left empty take folders from the deepest one.
TEST_F(ProfileProgramTest, FewFoldersOfDeepLevelsMakeTheirCount) {
  for (const int seed : {2, 7}) {
    const std::string tree = *vol / ("few" + std::to_string(seed));
    auto r =
        run({"/f", "/root:'" + tree + "'", "/minfiles:0", "/maxfiles:2", "/recurse", "/profile:'desktop'",
             "/dirlimit:12", "/maxsize:1k", "/nofill", "/seed:" + std::to_string(seed), reportArg()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const WalkedTree t = walk(tree);
    EXPECT_EQ(t.subfoldersPerFolder.size(), 13u) << "seed " << seed;
    EXPECT_GE(t.deepest, 2) << "seed " << seed;
    EXPECT_EQ(report()["population"]["folder_depth"]["achieved"]["count"], 12) << "seed " << seed;
  }
}

// A profile that cannot be used rejects the line as a bad parameter does: one log line naming the
// problem, nothing made, and the exit code of a rejected script.
TEST_F(ProfileProgramTest, UnusableProfilesRejectTheLine) {
  json bad = labProfile();
  bad["fileSizes"]["body"]["sigma"] = -1;
  const std::string file = writeProfile(bad);
  const std::string tree = *vol / "tree";
  auto r = run({"/s", "/root:'" + tree + "'", "/allsize:1m", "/profile:'" + file + "'"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(log().find("Invalid script. Profile '" + file + "' fileSizes.body.sigma must be above 0."),
            std::string::npos)
      << log();
  r = run({"/f", "/root:'" + tree + "'", "/minfiles:1", "/profile:'" + (bin / "none.json") + "'"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(log().find("Invalid script. Profile '" + (bin / "none.json") + "' is neither a built-in profile"),
            std::string::npos)
      << log();
  json empty = labProfile();
  empty["fileSizes"]["quantiles"] = {{0, 0}, {1, 0}};
  r = run({"/s", "/root:'" + tree + "'", "/allsize:1m", "/profile:'" + writeProfile(empty) + "'"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(log().find("gives empty files only; /s could never reach /allsize."), std::string::npos) << log();
  r = run({"/f", "/root:'" + tree + "'", "/minfiles:1", "/profile:desktop"});
  EXPECT_NE(log().find("Invalid script. Profile parameter must be in ' symbols."), std::string::npos)
      << log();
  EXPECT_FALSE(fs::exists(tree));
}

}  // namespace
}  // namespace quillet
