// The speed record of a run or verify: cumulative figures sampled while the work goes, from which
// a report gives the rate over each interval. Sampling takes the figures a display reads anyway,
// on a thread of its own, so the writers never wait for it.
//
// One sample every 0.1 s for the first 10 s (a run of a few seconds still has a curve), then one a
// second. Memory is bounded: once kMaxSamples are held, neighbouring pairs are merged (the later of
// each pair is kept, its interval then spans both) and the spacing of new samples doubles, so a
// run of any length keeps between half and all of kMaxSamples, evenly spread over its whole length.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quillet {

struct RateSample {
  double seconds = 0;                // since the work started
  std::int64_t bytes = 0;            // written (or, verifying, read) so far
  std::int64_t files = 0;            // finished so far
  std::int64_t damagedBytes = 0;     // a verify's damaged bytes found so far
  std::vector<std::int64_t> shares;  // bytes so far of each writer, reader or rank; empty with one
};

class RateSeries {
 public:
  static constexpr std::size_t kMaxSamples = 3600;

  // Adds a sample taken at or after every one added so far; one closer to the last than the
  // current spacing is left out unless final (the end of the work is always recorded).
  void add(RateSample sample, bool final = false);
  const std::vector<RateSample>& samples() const { return samples_; }
  // How often neighbouring samples were merged (the spacing doubled).
  int merges() const { return merges_; }
  // The least spacing of samples now, in seconds.
  double spacing() const;

 private:
  std::vector<RateSample> samples_;
  int merges_ = 0;
};

// Samples `read` (which fills every field but seconds) on its own thread from construction until
// finish(), which takes the last sample and hands the series over. read must be safe to call from
// that thread while the work goes.
class RateSampler {
 public:
  explicit RateSampler(std::function<RateSample()> read);
  ~RateSampler();
  RateSampler(const RateSampler&) = delete;
  RateSampler& operator=(const RateSampler&) = delete;

  RateSeries finish();
  // The samples so far, while the sampling goes on (a live display).
  std::vector<RateSample> samplesSoFar();

 private:
  void loop();

  std::function<RateSample()> read_;
  std::chrono::steady_clock::time_point started_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  RateSeries series_;
  std::thread thread_;
};

}  // namespace quillet
