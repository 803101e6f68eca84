// The end of a shared run as parallel-I/O users read it: each rank's rate and host, the spread of
// the rates over the ranks (min, max, mean, standard deviation) and the aggregate bandwidth and
// files per second. Pure apart from hostName; thread-safe.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace quillet {

struct RankRate {
  std::string host;
  std::int64_t files = 0;
  std::int64_t bytes = 0;
  double seconds = 0;  // the rank's generation time
  double bytesPerSecond() const { return seconds > 0 ? static_cast<double>(bytes) / seconds : 0.0; }
  double filesPerSecond() const { return seconds > 0 ? static_cast<double>(files) / seconds : 0.0; }
};

struct RateSpread {
  double minimum = 0;
  double maximum = 0;
  double mean = 0;
  double deviation = 0;  // the population standard deviation: the ranks are all there are
};

RateSpread spreadOf(const std::vector<double>& values);

// The table's lines (no line ends): a header, one row per rank, the spread and the aggregate (the
// run's totals over its generation time, from the earliest start to the latest end).
std::vector<std::string> formatRankTable(const std::vector<RankRate>& ranks, std::int64_t bytes,
                                         std::int64_t files, double seconds);

// The report's "rate_summary" of "ranks".
nlohmann::ordered_json rankRateJson(const std::vector<RankRate>& ranks, std::int64_t bytes,
                                    std::int64_t files, double seconds);

// This machine's name, as the table and the report give it; "unknown" when it cannot be had.
std::string hostName();

// A rank's name rides in front of its log lines to rank 0: the marker starts that one line.
inline constexpr char kHostMarker = '\x1f';

}  // namespace quillet
