#include "engine/capacity_probe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "engine/block_identity.h"
#include "engine/uncached_buffer.h"

namespace quillet {
namespace {

using Clock = std::chrono::steady_clock;

// The size of one probe place: four identity blocks, the unit every disk of today can write alone.
constexpr std::uint64_t kPlace = 4096;
// Places lie about this far apart (each costs a few round trips to the device, which a busy or
// slow device makes dear), never fewer than kMinPlaces nor more than kMaxPlaces.
constexpr std::uint64_t kPlaceSpacing = 8 << 20;
constexpr std::uint64_t kMinPlaces = 64;
constexpr std::uint64_t kMaxPlaces = 65536;
constexpr std::uint64_t kPushChunk = 1 << 20;
constexpr std::uint64_t kMinPush = 4 << 20;
constexpr std::uint64_t kMaxPush = 64 << 20;
// A probe block that reads back elsewhere after one with another seed: each check of its own.
constexpr std::uint64_t kCheckSeedStep = 0x9E3779B97F4A7C15ull;

enum class Seen { Own, Moved, Zeros, Other };

struct Saved {
  std::uint64_t offset;
  std::unique_ptr<AlignedBuffer> bytes;
};

class Prober {
 public:
  Prober(BlockDevice& device, const ProbeOptions& options, ProbeResult& result)
      : device_(device), options_(options), r_(result), scratch_(kPushChunk), check_(kPlace) {
    place_ = std::max<std::uint64_t>(kPlace, device.sectorSize());
    size_ = device.size() / place_ * place_;
  }

  void run();
  void restore();

  // Runs work(i) for i in [0, n) on up to options_.ioThreads threads: a device answers several
  // requests at once far sooner than one after another.
  template <typename Work>
  void inParallel(std::size_t n, const Work& work) {
    const std::size_t threads = std::min<std::size_t>(std::max(1u, options_.ioThreads), n);
    if (threads <= 1) {
      for (std::size_t i = 0; i < n; ++i) work(i);
      return;
    }
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < threads; ++t) {
      pool.emplace_back([&] {
        for (std::size_t i = next++; i < n; i = next++) work(i);
      });
    }
    for (std::thread& thread : pool) thread.join();
  }

 private:
  bool stop() {
    if (options_.stopAsked && options_.stopAsked()) r_.stopped = true;
    return r_.stopped || !r_.error.empty();
  }
  void fill(std::uint64_t seed, std::uint64_t offset, std::uint8_t* out, std::size_t size) const {
    fillIdentifiedContent(seed, kDeviceFileId, r_.claimedBytes, offset, out, size);
  }
  // Reads what a write is about to overwrite, unless the probe is not to restore.
  bool save(std::uint64_t offset, std::size_t size) {
    if (!options_.restore) return true;
    auto bytes = std::make_unique<AlignedBuffer>(size);
    if (!device_.readAt(offset, bytes->data, size).ok()) return false;
    saved_.push_back({offset, std::move(bytes)});
    return true;
  }
  bool write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    r_.bytesWritten += size;
    return device_.writeAt(offset, data, size).ok();
  }
  Seen classify(const std::uint8_t* block, std::uint64_t at, std::uint64_t seed, std::uint64_t& from) const;
  Seen classifyPlace(const std::uint8_t* data, std::uint64_t at, std::uint64_t seed);
  // Writes a block of its own seed at `at` and reads it back there: does the place store?
  bool placeStores(std::uint64_t at, Seen& seen);
  bool wrapHolds(std::uint64_t period);

  BlockDevice& device_;
  const ProbeOptions& options_;
  ProbeResult& r_;
  std::uint64_t place_ = kPlace;
  std::uint64_t size_ = 0;
  AlignedBuffer scratch_;
  AlignedBuffer check_;
  std::uint64_t checks_ = 0;
  std::vector<Saved> saved_;                   // after the places' own, restored latest first
  std::unique_ptr<AlignedBuffer> placeSaves_;  // what every place held before the probe
  std::vector<std::uint64_t> places_;
  std::vector<char> savedPlaces_;
  std::uint64_t period_ = 0;  // gcd of every distance between where a block was written and found
};

Seen Prober::classify(const std::uint8_t* block, std::uint64_t at, std::uint64_t seed,
                      std::uint64_t& from) const {
  if (const auto id = readBlockIdentity(block, kIdentityBlock)) {
    if (id->seed == seed && id->fileId == kDeviceFileId && id->fileSize == r_.claimedBytes &&
        blockMatches(*id, block, kIdentityBlock)) {
      from = id->offset;
      return id->offset == at ? Seen::Own : Seen::Moved;
    }
    // Our block up to a point and zeros after it: the place straddles the start of a limbo.
    std::size_t end = kIdentityBlock;
    while (end > 0 && block[end - 1] == 0) --end;
    if (id->seed == seed && id->fileId == kDeviceFileId && id->offset == at && end < kIdentityBlock &&
        blockMatches(*id, block, end)) {
      return Seen::Zeros;
    }
  }
  return std::all_of(block, block + kIdentityBlock, [](std::uint8_t b) { return b == 0; }) ? Seen::Zeros
                                                                                           : Seen::Other;
}

Seen Prober::classifyPlace(const std::uint8_t* data, std::uint64_t at, std::uint64_t seed) {
  bool moved = false, zeros = false, other = false;
  for (std::uint64_t b = 0; b < place_; b += kIdentityBlock) {
    std::uint64_t from = 0;
    switch (classify(data + b, at + b, seed, from)) {
      case Seen::Own: break;
      case Seen::Moved:
        moved = true;
        period_ = std::gcd(period_, from > at + b ? from - (at + b) : at + b - from);
        break;
      case Seen::Zeros: zeros = true; break;
      case Seen::Other: other = true; break;
    }
  }
  if (moved) return Seen::Moved;
  if (other) return Seen::Other;
  return zeros ? Seen::Zeros : Seen::Own;
}

// No flush between the write and the read: a flush does not make the read come from the medium, it
// only costs a round trip through the device's whole cache.
bool Prober::placeStores(std::uint64_t at, Seen& seen) {
  const std::uint64_t seed = r_.seed + kCheckSeedStep * ++checks_;
  fill(seed, at, check_.data, place_);
  if (!save(at, place_) || !write(at, check_.data, place_) || !device_.readAt(at, check_.data, place_).ok()) {
    seen = Seen::Other;
    return false;
  }
  const std::uint64_t before = period_;
  seen = classifyPlace(check_.data, at, seed);
  period_ = before;  // a check's own blocks are judged by the check alone
  return seen == Seen::Own;
}

// A block written one period above a place must read back at the place.
bool Prober::wrapHolds(std::uint64_t period) {
  if (period < place_ || period % device_.sectorSize() != 0) return false;
  if (period + place_ > size_) return true;  // nothing above to try: the evidence stands alone
  std::uint64_t low = std::min(period, size_ - period) / 2 / place_ * place_;
  if (low + place_ > period) low = 0;
  const std::uint64_t seed = r_.seed + kCheckSeedStep * ++checks_;
  fill(seed, low + period, check_.data, place_);
  if (!save(low + period, place_) || !write(low + period, check_.data, place_) ||
      !device_.readAt(low, check_.data, place_).ok()) {
    return false;
  }
  // The written range's first whole block: content is laid out in 1 KiB blocks of device offsets.
  const std::uint64_t skip = (kIdentityBlock - (low + period) % kIdentityBlock) % kIdentityBlock;
  std::uint64_t from = 0;
  return classify(check_.data + skip, low + skip, seed, from) == Seen::Moved && from == low + period + skip;
}

void Prober::restore() {
  if (!options_.restore) return;
  bool ok = true;
  // Latest first: where two saves cover one spot, the earlier one holds what was there before
  // the probe, and it is written last.
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    ok = device_.writeAt(it->offset, it->bytes->data, it->bytes->size).ok() && ok;
  }
  // The places' saves were all read before the first write, so each holds what its spot on the
  // medium held, aliases included: their order does not matter.
  {
    std::atomic<bool> placesOk{true};
    inParallel(savedPlaces_.size(), [&](std::size_t i) {
      if (savedPlaces_[i] && !device_.writeAt(places_[i], placeSaves_->data + i * place_, place_).ok())
        placesOk = false;
    });
    ok = ok && placesOk;
  }
  ok = device_.flush().ok() && ok;
  r_.restored = ok;
  if (!ok && r_.error.empty()) r_.error = "the overwritten places could not all be written back";
}

void Prober::run() {
  const std::uint64_t count = std::clamp(size_ / kPlaceSpacing, kMinPlaces, kMaxPlaces);
  const std::uint64_t spacing = std::max(place_, size_ / count / place_ * place_);
  std::vector<std::uint64_t>& places = places_;
  for (std::uint64_t at = spacing; at + place_ <= size_; at += spacing) places.push_back(at);
  if (places.empty() || places.back() != size_ - place_) places.push_back(size_ - place_);
  r_.places = places.size();
  std::vector<Seen> seen(places.size(), Seen::Own);
  std::vector<char> written(places.size(), 1);
  savedPlaces_.assign(places.size(), 0);

  // What the places hold now, read before anything is written; the times of these cold reads
  // tell later whether a place reads from the device's cache.
  // Read also without a restore to come: a place that cannot be read is not written.
  // The first few one at a time, timed as the cache push's reads will be: alone.
  constexpr std::size_t kTimedCold = 9;
  std::vector<double> coldTimes;
  placeSaves_ = std::make_unique<AlignedBuffer>(places.size() * place_);
  const auto saveOne = [&](std::size_t i) {
    savedPlaces_[i] = device_.readAt(places[i], placeSaves_->data + i * place_, place_).ok();
    written[i] = savedPlaces_[i];
    if (!written[i]) seen[i] = Seen::Other;
  };
  for (std::size_t i = 0; i < std::min(kTimedCold, places.size()); ++i) {
    const auto start = Clock::now();
    saveOne(i);
    coldTimes.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  if (places.size() > kTimedCold)
    inParallel(places.size() - kTimedCold, [&](std::size_t i) { saveOne(i + kTimedCold); });
  std::sort(coldTimes.begin(), coldTimes.end());
  const double cold = coldTimes.empty() ? 0 : coldTimes[coldTimes.size() / 2];
  if (stop()) return;

  // Where two places share a spot on the medium, either one read back at the other's offset
  // names it; the region below the first place receives the lowest one that wrapped.
  AlignedBuffer blocks(places.size() * place_);
  for (std::size_t i = 0; i < places.size(); ++i) fill(r_.seed, places[i], blocks.data + i * place_, place_);
  inParallel(places.size(), [&](std::size_t i) {
    if (written[i] && !device_.writeAt(places[i], blocks.data + i * place_, place_).ok())
      seen[i] = Seen::Other;
  });
  for (const char w : written) r_.bytesWritten += w ? place_ : 0;

  // The cache push: identified blocks from two spacings up, until a place written early reads
  // as slowly as a cold read twice running, then as much again.
  const std::uint64_t pushStart = std::min(2 * spacing, size_);
  const std::uint64_t pushRoom = (size_ - pushStart) / 4 / kPushChunk * kPushChunk;
  const std::uint64_t maxPush = std::min(kMaxPush, pushRoom);
  std::uint64_t pushTarget = std::min(kMinPush, maxPush);
  std::uint64_t pushed = 0;
  int slowReads = 0;
  std::size_t timed = places.size();
  while (pushed < pushTarget && !stop()) {
    const std::uint64_t at = pushStart + pushed;
    if (!save(at, kPushChunk)) {
      r_.error = "the device can not be read at byte " + std::to_string(at);
      break;
    }
    fill(r_.seed, at, scratch_.data, kPushChunk);
    if (!write(at, scratch_.data, kPushChunk)) {
      r_.error = "the device can not be written at byte " + std::to_string(at);
      break;
    }
    pushed += kPushChunk;
    if (!r_.cachePassed && timed > 0) {
      const auto start = Clock::now();
      if (device_.readAt(places[--timed], check_.data, place_).ok()) {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        slowReads = seconds >= cold / 2 ? slowReads + 1 : 0;
        if (slowReads >= 2) {
          r_.cachePassed = true;
          pushTarget = std::min(maxPush, std::max(pushTarget, 2 * pushed));
        } else if (pushed >= pushTarget) {
          pushTarget = std::min(maxPush, pushTarget + kPushChunk);
        }
      }
    }
  }
  r_.cachePushBytes = pushed;
  if (!device_.flush().ok() && r_.error.empty()) r_.error = "the device does not take a flush";

  // Read back: every place, then the region below the first place for blocks that wrapped there.
  if (stop()) return;
  std::vector<char> readOk(places.size(), 0);
  inParallel(places.size(), [&](std::size_t i) {
    readOk[i] = written[i] && device_.readAt(places[i], blocks.data + i * place_, place_).ok();
  });
  for (std::size_t i = 0; i < places.size(); ++i) {
    if (!written[i]) continue;
    seen[i] = readOk[i] ? classifyPlace(blocks.data + i * place_, places[i], r_.seed) : Seen::Other;
  }
  for (std::uint64_t at = 0; at < spacing + place_ && at < size_ && !stop();) {
    const std::uint64_t length = std::min<std::uint64_t>({kPushChunk, spacing + place_ - at, size_ - at});
    if (!device_.readAt(at, scratch_.data, length).ok()) break;
    // At every sector: a device that wraps at a size that is no multiple of 1 KiB shifts blocks.
    for (std::uint64_t b = 0; b + kIdentityBlock <= length; b += device_.sectorSize()) {
      std::uint64_t from = 0;
      if (classify(scratch_.data + b, at + b, r_.seed, from) == Seen::Moved) {
        period_ = std::gcd(period_, from > at + b ? from - (at + b) : at + b - from);
      }
    }
    at += length;
  }

  if (!stop() && period_ > 0) {
    // The evidence gives a multiple of the period; the smallest one that holds is it.
    if (wrapHolds(period_)) {
      r_.wraps = true;
      for (bool smaller = true; smaller && !stop();) {
        smaller = false;
        for (std::uint64_t q : {2, 3, 5, 7}) {
          if (period_ % q == 0 && wrapHolds(period_ / q)) {
            period_ /= q;
            smaller = true;
            break;
          }
        }
      }
      r_.wrapPeriod = period_;
    }
  }
  const std::uint64_t stores = r_.wraps ? r_.wrapPeriod : size_;
  r_.usableBytes = stores;
  r_.precisionBytes = device_.sectorSize();
  // The first place below the wrap that does not store: zeros or other data, then found to the
  // place by halving between it and the last one that stored.
  std::size_t first = places.size();
  for (std::size_t i = 0; i < places.size(); ++i) {
    if (places[i] + place_ <= stores && seen[i] != Seen::Own && seen[i] != Seen::Moved) {
      first = i;
      break;
    }
  }
  if (first < places.size() && !stop()) {
    std::uint64_t good = 0, bad = places[first] / place_;  // in places; place 0 taken as storing
    Seen kind = seen[first];
    std::uint64_t lo = first == 0 ? 0 : places[first - 1] / place_;
    good = lo;
    while (bad - good > 1 && !stop()) {
      const std::uint64_t mid = good + (bad - good) / 2;
      Seen s = Seen::Own;
      if (placeStores(mid * place_, s)) {
        good = mid;
      } else {
        bad = mid;
        kind = s;
      }
    }
    Seen at0 = Seen::Own;
    if (bad == 1 && !placeStores(0, at0)) bad = 0, kind = at0;
    const std::uint64_t from = bad * place_;
    if (kind == Seen::Zeros) {
      r_.limbo = true, r_.limboFrom = from;
    } else {
      r_.lost = true, r_.lostFrom = from;
    }
    r_.usableBytes = from;
    r_.precisionBytes = place_;
  }
  // Beyond a wrap a region may read zeros too: known to the spacing of the places only.
  if (r_.wraps && !r_.limbo) {
    for (std::size_t i = 0; i < places.size(); ++i) {
      if (places[i] >= stores && seen[i] == Seen::Zeros) {
        r_.limbo = true, r_.limboFrom = places[i];
        break;
      }
    }
  }
}

}  // namespace

std::string ProbeResult::kindText() const {
  std::vector<std::string> kinds;
  if (wraps) kinds.emplace_back("wrap-around");
  if (limbo) kinds.emplace_back("limbo");
  if (lost) kinds.emplace_back("lost data");
  if (kinds.empty()) return "real capacity";
  if (kinds.size() == 1) return kinds.front();
  std::string text = "chain:";
  for (std::size_t i = 0; i < kinds.size(); ++i) text += (i == 0 ? " " : ", ") + kinds[i];
  return text;
}

ProbeResult probeCapacity(BlockDevice& device, const ProbeOptions& options) {
  const auto start = Clock::now();
  ProbeResult result;
  result.seed = options.seed;
  result.claimedBytes = device.size();
  if (device.size() < 64 * 1024) {
    result.error = "the device is smaller than 64 KiB";
    return result;
  }
  {
    Prober prober(device, options, result);
    prober.run();
    // Stopped or failed, what was overwritten goes back all the same.
    prober.restore();
  }
  result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return result;
}

}  // namespace quillet
