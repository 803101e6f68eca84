#include "engine/rate_series.h"

#include <algorithm>
#include <chrono>

namespace quillet {
namespace {

constexpr double kFineSeconds = 10.0;
constexpr double kFineSpacing = 0.1;
constexpr double kSpacing = 1.0;

}  // namespace

double RateSeries::spacing() const {
  const double base = !samples_.empty() && samples_.back().seconds >= kFineSeconds ? kSpacing : kFineSpacing;
  return base * static_cast<double>(1LL << std::min(merges_, 40));
}

void RateSeries::add(RateSample sample, bool final) {
  if (!samples_.empty()) {
    if (sample.seconds < samples_.back().seconds) sample.seconds = samples_.back().seconds;
    // A little slack: a sampler woken a hair early still keeps its beat.
    if (!final && sample.seconds - samples_.back().seconds < spacing() * 0.9) return;
  }
  if (samples_.size() >= kMaxSamples) {
    std::size_t kept = 0;
    for (std::size_t i = 1; i < samples_.size(); i += 2) samples_[kept++] = std::move(samples_[i]);
    // An odd last one stays the end of what is known.
    if (samples_.size() % 2 == 1) samples_[kept++] = std::move(samples_.back());
    samples_.resize(kept);
    ++merges_;
  }
  samples_.push_back(std::move(sample));
}

RateSampler::RateSampler(std::function<RateSample()> read)
    : read_(std::move(read)), started_(std::chrono::steady_clock::now()), thread_([this] { loop(); }) {}

RateSampler::~RateSampler() {
  if (thread_.joinable()) finish();
}

void RateSampler::loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    const double spacing = series_.spacing();
    wake_.wait_for(lock, std::chrono::duration<double>(spacing), [this] { return stop_; });
    if (stop_) return;
    lock.unlock();
    RateSample s = read_();
    s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    lock.lock();
    series_.add(std::move(s));
  }
}

std::vector<RateSample> RateSampler::samplesSoFar() {
  std::lock_guard lock(mutex_);
  return series_.samples();
}

RateSeries RateSampler::finish() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  RateSample s = read_();
  s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  series_.add(std::move(s), true);
  return std::move(series_);
}

}  // namespace quillet
