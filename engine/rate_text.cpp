#include "engine/rate_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/size_text.h"

namespace quillet {

std::string groupThousands(std::int64_t n) {
  const std::string digits = std::to_string(n < 0 ? -(n + 1) + 1ULL : static_cast<unsigned long long>(n));
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return n < 0 ? "-" + out : out;
}

std::string formatElapsed(double seconds) {
  if (!(seconds > 0)) seconds = 0;
  char text[64];
  if (seconds < 10) {
    std::snprintf(text, sizeof text, "%.2f s", seconds);
  } else if (seconds < 60) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else {
    const auto whole = static_cast<long long>(std::llround(seconds));
    if (whole < 3600) {
      std::snprintf(text, sizeof text, "%lld min %02lld s", whole / 60, whole % 60);
    } else {
      std::snprintf(text, sizeof text, "%lld h %02lld min %02lld s", whole / 3600, whole / 60 % 60,
                    whole % 60);
    }
  }
  return text;
}

std::string formatByteRate(double bytes, double seconds) {
  const double rate = seconds > 0 && bytes > 0 ? bytes / seconds : 0.0;
  // Beyond any real device; keeps the conversion defined for a run timed at next to nothing.
  const double capped = std::min(rate, 9.0e18);
  return formatSize(static_cast<std::int64_t>(capped)) + "/s";
}

std::string formatFileRate(double files, double seconds) {
  const double rate = seconds > 0 && files > 0 ? files / seconds : 0.0;
  if (rate >= 10)
    return groupThousands(static_cast<std::int64_t>(std::llround(std::min(rate, 9.0e18)))) + " files/s";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f files/s", rate);
  return text;
}

std::string formatRateSentence(const std::string& kind, std::int64_t bytes, std::int64_t files,
                               double seconds, bool filesToo) {
  std::string s = kind + " rate: " + formatByteRate(static_cast<double>(bytes), seconds);
  if (filesToo && files > 0 && bytes / files < kSmallFileBytes) {
    s += ", " + formatFileRate(static_cast<double>(files), seconds);
  }
  return s + ", over " + formatElapsed(seconds);
}

}  // namespace quillet
