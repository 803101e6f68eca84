// The figures the progress dialogs show: bar scaling in thousandths and the count texts. Pure;
// thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace quillet {

// A bar's range 0..upper and its position.
struct BarSetting {
  int upper = 0;
  int pos = 0;
  bool operator==(const BarSetting&) const = default;
};

// The completed bar, as shown once a run has ended.
inline constexpr BarSetting kFullBar{1000, 1000};

// upper = (1 − constant ÷ (total + 1)) × 1000 + extra, position = current ÷ (total + 1) × 1000,
// both computed in double precision and truncated toward zero; the position is then narrowed to a
// signed 16-bit value, as the bar control takes it. A total of -1 (no divisor) gives 0 for both.
BarSetting scaleBar(double current, double total, double constant, int extra = 0);

// A file count as "%g": six significant digits, so a million shows as "1e+06".
std::string fileCountText(std::int64_t files);
// A count as "%u".
std::string unsignedText(std::uint32_t count);
// "%u of %u".
std::string ofText(std::uint32_t done, std::uint32_t total);

}  // namespace quillet
