#include "engine/size_text.h"

#include <cstdio>

namespace quillet {

std::string formatSize(std::int64_t n) {
  char buffer[64];
  if (n / 1073741824 > 0) {
    std::snprintf(buffer, sizeof buffer, "%.2f Gb", static_cast<double>(n) * (1.0 / 1073741824.0));
  } else if (n / 1048576 > 0) {
    std::snprintf(buffer, sizeof buffer, "%.2f Mb", static_cast<double>(n) * (1.0 / 1048576.0));
  } else if (n / 1024 > 0) {
    std::snprintf(buffer, sizeof buffer, "%.2f Kb", static_cast<double>(n) * (1.0 / 1024.0));
  } else {
    std::snprintf(buffer, sizeof buffer, "%d b", static_cast<std::int32_t>(static_cast<std::uint32_t>(n)));
  }
  return buffer;
}

}  // namespace quillet
