#include "mpi/rank_summary.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "engine/rate_text.h"
#include "engine/size_text.h"

namespace quillet {
namespace {

std::string byteRate(double perSecond) { return formatByteRate(perSecond, 1.0); }

std::string padLeft(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string padRight(const std::string& text, std::size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

RateSpread spreadOf(const std::vector<double>& values) {
  RateSpread s;
  if (values.empty()) return s;
  s.minimum = *std::min_element(values.begin(), values.end());
  s.maximum = *std::max_element(values.begin(), values.end());
  double sum = 0;
  for (double v : values) sum += v;
  s.mean = sum / static_cast<double>(values.size());
  double squares = 0;
  for (double v : values) squares += (v - s.mean) * (v - s.mean);
  s.deviation = std::sqrt(squares / static_cast<double>(values.size()));
  return s;
}

std::vector<std::string> formatRankTable(const std::vector<RankRate>& ranks, std::int64_t bytes,
                                         std::int64_t files, double seconds) {
  std::size_t hostWidth = 4;
  for (const RankRate& r : ranks) hostWidth = std::max(hostWidth, r.host.size());
  std::vector<std::string> lines;
  lines.push_back("Rank  " + padRight("Host", hostWidth) + "  " + padLeft("Files", 12) + "  " +
                  padLeft("Written", 11) + "  " + padLeft("Rate", 13) + "  " + padLeft("Files/s", 10));
  std::vector<double> rates;
  for (std::size_t i = 0; i < ranks.size(); ++i) {
    const RankRate& r = ranks[i];
    rates.push_back(r.bytesPerSecond());
    lines.push_back(padLeft(std::to_string(i), 4) + "  " + padRight(r.host, hostWidth) + "  " +
                    padLeft(groupThousands(r.files), 12) + "  " + padLeft(formatSize(r.bytes), 11) + "  " +
                    padLeft(byteRate(r.bytesPerSecond()), 13) + "  " +
                    padLeft(groupThousands(std::llround(r.filesPerSecond())), 10));
  }
  const RateSpread s = spreadOf(rates);
  lines.push_back("Rate per rank: min " + byteRate(s.minimum) + ", max " + byteRate(s.maximum) + ", mean " +
                  byteRate(s.mean) + ", standard deviation " + byteRate(s.deviation));
  lines.push_back("Aggregate: " + formatByteRate(static_cast<double>(bytes), seconds) + ", " +
                  formatFileRate(static_cast<double>(files), seconds) + ", over " + formatElapsed(seconds));
  return lines;
}

nlohmann::ordered_json rankRateJson(const std::vector<RankRate>& ranks, std::int64_t bytes,
                                    std::int64_t files, double seconds) {
  std::vector<double> rates;
  for (const RankRate& r : ranks) rates.push_back(r.bytesPerSecond());
  const RateSpread s = spreadOf(rates);
  nlohmann::ordered_json j;
  j["min_bytes_per_second"] = s.minimum;
  j["max_bytes_per_second"] = s.maximum;
  j["mean_bytes_per_second"] = s.mean;
  j["stddev_bytes_per_second"] = s.deviation;
  j["aggregate_bytes_per_second"] = seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0;
  j["aggregate_files_per_second"] = seconds > 0 ? static_cast<double>(files) / seconds : 0.0;
  return j;
}

std::string hostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return "unknown";
  return name;
}

}  // namespace quillet
