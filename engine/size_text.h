// The short size text the progress displays show. Pure; thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace quillet {

// "%d b", "%.2f Kb", "%.2f Mb" or "%.2f Gb", by whole-number division of the count; a negative
// count shows its low 32 bits as a signed number followed by " b".
std::string formatSize(std::int64_t bytes);

}  // namespace quillet
