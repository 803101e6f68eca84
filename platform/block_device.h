// A raw block device, taken whole: opened only after every safety check has passed, read and
// written past every cache of this system. Not thread-safe; one user at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace quillet {

class BlockDevice {
 public:
  virtual ~BlockDevice() = default;
  // The size the device claims, in bytes.
  virtual std::uint64_t size() const = 0;
  // The smallest unit it is addressed in; offsets and sizes passed below are multiples of it,
  // buffers aligned to kUncachedAlignment.
  virtual std::uint32_t sectorSize() const = 0;
  virtual Status readAt(std::uint64_t offset, std::uint8_t* data, std::size_t size) = 0;
  virtual Status writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) = 0;
  // Asks the device to put what it was given on its medium.
  virtual Status flush() = 0;
};

struct DeviceOpening {
  std::unique_ptr<BlockDevice> device;  // null when refused
  // Why the device is refused: "'/dev/sda' is not a block device", "... is mounted at /home" ...
  std::string refusal;
};

// Opens the device at path for reading and writing when it is a block device that nothing uses:
// not mounted, no partition of it mounted, no other device built on it (holders), no swap on it,
// not the device of this program's root file system, and not opened exclusively by anyone else.
// Nothing is written by the checks.
DeviceOpening openBlockDevice(const std::string& path);

}  // namespace quillet
