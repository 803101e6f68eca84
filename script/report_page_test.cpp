// Rates, the speed record and the report page through the built program on tmpfs volumes: the
// console's end lines give their rates while the log keeps its lines, the report's series agrees
// with the run's totals and its schema, and the page charts every sample of it, whether written
// beside the report or made from it afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "testing/program_runner.h"
#include "testing/script_program_fixture.h"

namespace quillet {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The points of the polyline of the chart with id, and its data-samples.
std::pair<int, int> chartPoints(const std::string& page, const std::string& id) {
  const auto at = page.find("<svg id=\"" + id + "\"");
  if (at == std::string::npos) return {-1, -1};
  const auto line = page.find("<polyline", at);
  const std::regex form(R"re(data-samples="(\d+)"[^>]*points="([^"]*)")re");
  std::smatch m;
  const std::string rest = page.substr(line, page.find('>', line) - line);
  if (!std::regex_search(rest, m, form)) return {-1, -1};
  int points = 0;
  for (char c : m[2].str()) points += c == ',';
  return {points, std::stoi(m[1].str())};
}

class ReportPageTest : public test_support::ScriptProgramTest {
 protected:
  std::string path(const char* name) const { return bin / name; }
  std::string root() const { return *vol / "run"; }
};

TEST_F(ReportPageTest, ARunsRecordAddsUpAndItsPageChartsEverySample) {
  const auto r =
      run({"/s", "/allsize:20m", "/root:'" + root() + "'", "/minsize:10k", "/maxsize:200k", "/threads:3",
           "/seed:5", "/report:'" + path("r.json") + "'", "/html:'" + path("r.html") + "'"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(std::regex_search(
      r.err,
      std::regex(R"(written\. Write rate: [0-9.]+ (b|Kb|Mb|Gb)/s, [0-9,.]+ files/s, over [0-9.]+ s\.)")))
      << r.err;
  EXPECT_EQ(log().find("rate"), std::string::npos) << log();
  const json rep = json::parse(test_support::readFile(path("r.json")));
  const json& samples = rep["series"]["samples"];
  ASSERT_FALSE(samples.empty());
  EXPECT_EQ(rep["series"]["kind"], "write");
  // The last sample is the run's end: every byte and file, each writer's share among them.
  EXPECT_EQ(samples.back()["bytes"], rep["bytes_allocated"]);
  EXPECT_EQ(samples.back()["files"], rep["files_created"]);
  ASSERT_EQ(samples.back()["shares_bytes"].size(), 3u);
  std::int64_t shares = 0;
  for (const auto& s : samples.back()["shares_bytes"]) shares += s.get<std::int64_t>();
  EXPECT_EQ(shares, rep["bytes_allocated"].get<std::int64_t>());
  double before = 0;
  for (const auto& s : samples) {
    EXPECT_GE(s["elapsed_seconds"].get<double>(), before);
    before = s["elapsed_seconds"].get<double>();
  }
  const std::string page = test_support::readFile(path("r.html"));
  const auto n = static_cast<int>(samples.size());
  for (const char* chart : {"rate-time", "rate-bytes", "files-time", "shares-time"}) {
    EXPECT_EQ(chartPoints(page, chart), std::make_pair(n, n)) << chart;
  }
  // Nothing the page would fetch from anywhere.
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("src="), std::string::npos);

  // The same page from the report afterwards; a report that is none is said, and no page made.
  auto h = run({"/h", "/report:'" + path("r.json") + "'", "/html:'" + path("again.html") + "'"});
  ASSERT_EQ(h.exitCode, 0) << h.err;
  EXPECT_EQ(test_support::readFile(path("again.html")), page);
  h = run({"/h", "/report:'" + path("r.html") + "'", "/html:'" + path("none.html") + "'"});
  EXPECT_EQ(h.exitCode, 8);
  EXPECT_NE(h.err.find("is not a report"), std::string::npos) << h.err;
  EXPECT_FALSE(fs::exists(path("none.html")));
  h = run({"/h", "/report:'" + path("r.json") + "'"});
  EXPECT_EQ(h.exitCode, 8);
  EXPECT_NE(h.err.find("/html parameter is absent."), std::string::npos) << h.err;
}

TEST_F(ReportPageTest, AVerifyGivesItsReadRateAndMapsItsDamage) {
  const std::string line[] = {"/f",          "/root:'" + root() + "'", "/minfiles:3",
                              "/maxfiles:3", "/minsize:64k",           "/seed:9"};
  ASSERT_EQ(run({line[0], line[1], line[2], line[3], line[4], line[5]}).exitCode, 0);
  std::string victim;
  for (const auto& e : fs::directory_iterator(root())) victim = e.path();
  {
    std::fstream f(victim, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(8192);
    f.put('\x5a');
  }
  const auto r = run({"/v", "/root:'" + root() + "'", "/seed:9", "/report:'" + path("v.json") + "'",
                      "/html:'" + path("v.html") + "'"});
  EXPECT_EQ(r.exitCode, 4) << r.err;
  EXPECT_TRUE(
      std::regex_search(r.out, std::regex(R"(\nRead rate: [0-9.]+ (b|Kb|Mb|Gb)/s, over [0-9.]+ s\n)")))
      << r.out;
  EXPECT_EQ(log().find("Read rate"), std::string::npos) << log();
  const json rep = json::parse(test_support::readFile(path("v.json")));
  const json& samples = rep["series"]["samples"];
  ASSERT_FALSE(samples.empty());
  EXPECT_EQ(rep["series"]["kind"], "read");
  EXPECT_EQ(samples.back()["files"], 3);
  EXPECT_GT(samples.back()["damaged_bytes"].get<std::int64_t>(), 0);
  const std::string page = test_support::readFile(path("v.html"));
  const auto n = static_cast<int>(samples.size());
  EXPECT_EQ(chartPoints(page, "rate-time"), std::make_pair(n, n));
  EXPECT_EQ(chartPoints(page, "damage-time"), std::make_pair(n, n));
  EXPECT_NE(page.find("<svg id=\"damage-map\""), std::string::npos);
  EXPECT_NE(page.find("data-class=\"corrupted\""), std::string::npos);
  EXPECT_NE(page.find("<svg id=\"capacity\""), std::string::npos);
}

}  // namespace
}  // namespace quillet
