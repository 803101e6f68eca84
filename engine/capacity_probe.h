// How much of a raw device really stores data, found in seconds rather than by a full fill: blocks
// that name their own offset are written at chosen places, the device's cache is pushed out, and
// what reads back tells a place that stores from one that lands elsewhere (wrap-around), reads
// zeros (limbo) or reads something else. What the probe overwrites is saved first and written back
// at the end unless the caller waives it. Not thread-safe; one probe per device at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/block_device.h"

namespace quillet {

// The file identity of the blocks written on a raw device (by a probe or a fill): the device is
// taken as one file with no path, its size the device's.
inline constexpr std::uint64_t kDeviceFileId = 0;

struct ProbeOptions {
  std::uint64_t seed = 0;
  bool restore = true;     // false (/destroy): what the probe wrote stays on the device
  unsigned ioThreads = 1;  // requests in flight at once; the device must take them from threads
  std::function<bool()> stopAsked;
};

struct ProbeResult {
  std::uint64_t seed = 0;
  std::uint64_t claimedBytes = 0;
  std::uint64_t usableBytes = 0;     // [0, usableBytes) stores; never more than what really does
  std::uint64_t precisionBytes = 0;  // the real size lies in [usableBytes, usableBytes + precision)
  bool wraps = false;                // from wrapPeriod on, offset o lands on o mod wrapPeriod
  std::uint64_t wrapPeriod = 0;
  bool limbo = false;  // from limboFrom on, reads give zeros
  std::uint64_t limboFrom = 0;
  bool lost = false;  // from lostFrom on, reads give neither the data nor zeros
  std::uint64_t lostFrom = 0;
  std::uint64_t places = 0;          // probe places written and read back
  std::uint64_t bytesWritten = 0;    // by the probe itself, the restore not counted
  std::uint64_t cachePushBytes = 0;  // written to push the probe places out of the device's cache
  bool cachePassed = false;          // reads turned as slow as cold ones within the push
  bool restored = false;             // what was overwritten is back
  bool stopped = false;
  std::string error;  // an I/O failure that ended the probe; empty otherwise
  double seconds = 0;

  bool fake() const { return wraps || limbo || lost; }
  // "real capacity", "wrap-around", "limbo", "lost data" or "chain: wrap-around, limbo".
  std::string kindText() const;
};

// The device must be at least 64 KiB.
ProbeResult probeCapacity(BlockDevice& device, const ProbeOptions& options);

}  // namespace quillet
