#include "frontend/progress_figures.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace quillet {

namespace {
// Truncation toward zero, with figures no integer can hold (a division by zero, a total far
// beyond the counters) kept defined.
std::int64_t truncated(double value) {
  if (std::isnan(value)) return 0;
  constexpr double kLimit = 9.2e18;
  if (value >= kLimit) return static_cast<std::int64_t>(kLimit);
  if (value <= -kLimit) return -static_cast<std::int64_t>(kLimit);
  return static_cast<std::int64_t>(value);
}

int toInt(std::int64_t value) {
  if (value > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (value < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}
}  // namespace

BarSetting scaleBar(double current, double total, double constant, int extra) {
  const double divisor = total + 1.0;
  if (divisor == 0.0) return {};
  BarSetting bar;
  bar.upper = toInt(truncated((1.0 - constant / divisor) * 1000.0 + extra));
  // Narrowing keeps the low 16 bits, as the bar control's position word does.
  bar.pos = static_cast<std::int16_t>(truncated(current / divisor * 1000.0));
  return bar;
}

std::string fileCountText(std::int64_t files) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(files));
  return buffer;
}

std::string unsignedText(std::uint32_t count) { return std::to_string(count); }

std::string ofText(std::uint32_t done, std::uint32_t total) {
  return std::to_string(done) + " of " + std::to_string(total);
}

}  // namespace quillet
