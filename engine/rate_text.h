// Rates and elapsed times as every summary line gives them: sizes in the progress displays' units
// per second, counts with thousands separators. Pure; thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace quillet {

// Files of a run whose mean size is below this are small files: its summary also gives files/s.
inline constexpr std::int64_t kSmallFileBytes = 1048576;

// "1,234,567"; a negative count keeps its sign.
std::string groupThousands(std::int64_t n);

// "0.25 s", "12.3 s", "2 min 05 s", "1 h 02 min 05 s".
std::string formatElapsed(double seconds);

// "115.06 Mb/s" (formatSize of the whole bytes per second); "0 b/s" for no time.
std::string formatByteRate(double bytes, double seconds);

// "12,345 files/s" from ten a second up, "3.4 files/s" below.
std::string formatFileRate(double files, double seconds);

// "<kind> rate: 115.06 Mb/s, 9,634 files/s, over 12.3 s" (no full stop: a verify's console lines
// have none, the other summaries add theirs). The files/s only with filesToo and for
// small files (files made and a mean size below kSmallFileBytes).
std::string formatRateSentence(const std::string& kind, std::int64_t bytes, std::int64_t files,
                               double seconds, bool filesToo = true);

}  // namespace quillet
