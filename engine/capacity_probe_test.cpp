#include "engine/capacity_probe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace quillet {
namespace {

// A device that claims more than it stores: past `real` bytes it wraps (offset mod real), drops
// writes and reads zeros (limbo), or, from `limboFrom` on, the latter after the former.
class FakeDevice final : public BlockDevice {
 public:
  enum class Past { Stores, Wraps, Limbo, WrapsThenLimbo };
  FakeDevice(std::uint64_t claimed, std::uint64_t real, Past past, std::uint64_t limboFrom = 0)
      : claimed_(claimed), real_(real), past_(past), limboFrom_(limboFrom), medium_(real) {
    for (std::size_t i = 0; i < medium_.size(); ++i)
      medium_[i] = static_cast<std::uint8_t>(i * 131 + (i >> 9));
  }
  std::uint64_t size() const override { return claimed_; }
  std::uint32_t sectorSize() const override { return 512; }
  Status readAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < size; ++i) {
      const auto at = where(offset + i);
      data[i] = at ? medium_[*at] : 0;
    }
    return {};
  }
  Status writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override {
    const std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_LE(offset + size, claimed_);
    for (std::size_t i = 0; i < size; ++i) {
      if (const auto at = where(offset + i)) medium_[*at] = data[i];
    }
    return {};
  }
  Status flush() override { return {}; }
  const std::vector<std::uint8_t>& medium() const { return medium_; }

 private:
  std::optional<std::uint64_t> where(std::uint64_t offset) const {
    if (offset < real_) return offset;
    switch (past_) {
      case Past::Stores: return offset;
      case Past::Wraps: return offset % real_;
      case Past::Limbo: return std::nullopt;
      case Past::WrapsThenLimbo: return offset < limboFrom_ ? std::optional(offset % real_) : std::nullopt;
    }
    return std::nullopt;
  }
  std::uint64_t claimed_, real_;
  Past past_;
  std::uint64_t limboFrom_;
  std::vector<std::uint8_t> medium_;
  std::mutex mutex_;
};

struct Case {
  const char* name;
  std::uint64_t claimed, real;
  FakeDevice::Past past;
  std::uint64_t limboFrom;
  const char* kind;
};

constexpr std::uint64_t kMiB = 1 << 20;

TEST(CapacityProbe, TellsTheKindAndTheUsableSizeAndRestoresEveryByte) {
  const Case cases[] = {
      {"real", 64 * kMiB, 64 * kMiB, FakeDevice::Past::Stores, 0, "real capacity"},
      {"wrap at half", 64 * kMiB, 32 * kMiB, FakeDevice::Past::Wraps, 0, "wrap-around"},
      // Not a multiple of the places' spacing nor of 1 KiB: the blocks come back shifted.
      {"wrap at an odd size", 48 * kMiB, 20 * kMiB + 3 * 512, FakeDevice::Past::Wraps, 0, "wrap-around"},
      {"wrap below the cache push", 64 * kMiB, 3 * kMiB, FakeDevice::Past::Wraps, 0, "wrap-around"},
      {"limbo", 64 * kMiB, 40 * kMiB + 12 * 1024, FakeDevice::Past::Limbo, 0, "limbo"},
      {"limbo mid-place", 64 * kMiB, 17 * kMiB + 1536, FakeDevice::Past::Limbo, 0, "limbo"},
      {"wrap then limbo", 64 * kMiB, 16 * kMiB, FakeDevice::Past::WrapsThenLimbo, 40 * kMiB,
       "chain: wrap-around, limbo"},
  };
  for (const Case& c : cases) {
    for (const bool restore : {true, false}) {
      // Several requests in flight land in any order: the result must not depend on it.
      const unsigned threads = restore ? 4 : 1;
      SCOPED_TRACE(std::string(c.name) + (restore ? " (4 threads)" : " (destroy)"));
      FakeDevice device(c.claimed, c.real, c.past, c.limboFrom);
      const std::vector<std::uint8_t> before = device.medium();
      ProbeOptions options;
      options.seed = 77;
      options.restore = restore;
      options.ioThreads = threads;
      const ProbeResult r = probeCapacity(device, options);
      EXPECT_EQ(r.error, "");
      EXPECT_EQ(r.kindText(), c.kind);
      EXPECT_EQ(r.claimedBytes, c.claimed);
      // Never more than what stores, and no further below it than the stated precision.
      EXPECT_LE(r.usableBytes, c.real);
      EXPECT_GT(r.usableBytes + r.precisionBytes, c.real);
      if (c.past == FakeDevice::Past::Wraps) {
        EXPECT_EQ(r.wrapPeriod, c.real);
      }
      if (c.past == FakeDevice::Past::WrapsThenLimbo) {
        EXPECT_GE(r.limboFrom, c.limboFrom);
        EXPECT_LT(r.limboFrom, c.limboFrom + 2 * kMiB);
      }
      EXPECT_GT(r.cachePushBytes, 0u);
      EXPECT_EQ(r.restored, restore);
      if (restore) {
        EXPECT_TRUE(device.medium() == before) << "the probe changed the device";
      } else {
        EXPECT_FALSE(device.medium() == before);
      }
    }
  }
}

TEST(CapacityProbe, AStopStillRestores) {
  FakeDevice device(64 * kMiB, 32 * kMiB, FakeDevice::Past::Wraps);
  const std::vector<std::uint8_t> before = device.medium();
  int asked = 0;
  ProbeOptions options;
  options.seed = 5;
  options.stopAsked = [&] { return ++asked > 2; };
  const ProbeResult r = probeCapacity(device, options);
  EXPECT_TRUE(r.stopped);
  EXPECT_FALSE(r.fake());
  EXPECT_TRUE(r.restored);
  EXPECT_TRUE(device.medium() == before);
}

}  // namespace
}  // namespace quillet
