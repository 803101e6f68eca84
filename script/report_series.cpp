#include "script/report_series.h"

#include <algorithm>

namespace quillet {

nlohmann::ordered_json seriesJson(const RateSeries& series, bool verify) {
  using nlohmann::ordered_json;
  ordered_json j;
  j["kind"] = verify ? "read" : "write";
  j["max_samples"] = RateSeries::kMaxSamples;
  j["merges"] = series.merges();
  j["sample_spacing_seconds"] = series.spacing();
  ordered_json samples = ordered_json::array();
  RateSample before;
  for (const RateSample& s : series.samples()) {
    const double interval = s.seconds - before.seconds;
    const auto rate = [&](std::int64_t now, std::int64_t then) {
      return interval > 0 ? static_cast<double>(now - then) / interval : 0.0;
    };
    ordered_json o;
    o["elapsed_seconds"] = s.seconds;
    o["interval_seconds"] = interval;
    o["bytes"] = s.bytes;
    o["files"] = s.files;
    o["interval_bytes_per_second"] = rate(s.bytes, before.bytes);
    o["interval_files_per_second"] = rate(s.files, before.files);
    if (verify) o["damaged_bytes"] = s.damagedBytes;
    if (!s.shares.empty()) o["shares_bytes"] = s.shares;
    samples.push_back(std::move(o));
    before = s;
  }
  j["samples"] = std::move(samples);
  return j;
}

RateSample sampleOf(const GenerationJob& job) {
  RateSample s;
  s.bytes = job.currentSize.load(std::memory_order_relaxed);
  s.files = job.filesCreated.load(std::memory_order_relaxed);
  // threads is set before the worker starts and never changes while it runs.
  if (job.threads > 1) {
    const auto writers = static_cast<std::size_t>(std::min(job.threads, kMaxWriters));
    s.shares.reserve(writers);
    for (std::size_t i = 0; i < writers; ++i)
      s.shares.push_back(job.writerBytesSoFar[i].load(std::memory_order_relaxed));
  }
  return s;
}

RateSample sampleOf(const VerifyJob& job) {
  RateSample s;
  s.bytes = job.bytesChecked.load(std::memory_order_relaxed);
  s.files = job.filesChecked.load(std::memory_order_relaxed);
  s.damagedBytes = job.damagedBytes.load(std::memory_order_relaxed);
  return s;
}

}  // namespace quillet
