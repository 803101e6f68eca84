#include <cctype>

#include "platform/block_device.h"

namespace quillet {

// Raw physical drives are not written on Windows yet: the name is checked so that the refusal
// says which of the two reasons holds, and nothing is opened.
DeviceOpening openBlockDevice(const std::string& path) {
  DeviceOpening out;
  const std::string prefix = "\\\\.\\PhysicalDrive";
  bool physical = path.size() > prefix.size();
  for (std::size_t i = 0; physical && i < prefix.size(); ++i) {
    physical = std::tolower(static_cast<unsigned char>(path[i])) ==
               std::tolower(static_cast<unsigned char>(prefix[i]));
  }
  for (std::size_t i = prefix.size(); physical && i < path.size(); ++i) {
    physical = std::isdigit(static_cast<unsigned char>(path[i])) != 0;
  }
  out.refusal =
      physical ? "'" + path + "' can not be opened: raw drives are not supported on Windows in this version"
               : "'" + path + "' is not a block device (\\\\.\\PhysicalDriveN expected)";
  return out;
}

}  // namespace quillet
