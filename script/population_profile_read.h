// A population profile from its JSON text (schema docs/quillet-profile.schema.json), read strictly:
// a key the schema does not know, a missing key, a value of the wrong type, a number out of its
// range, shares that do not add up, quantiles or buckets out of order are each a clear error naming
// the key. Never crashes on hostile text. Also the profiles built into the program, by name.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/population_profile.h"

namespace quillet {

inline constexpr const char* kProfileSchema = "quillet-profile/1";
// A profile file larger than this is refused unread.
inline constexpr std::size_t kMaxProfileBytes = 16u << 20;

// The profile in text, or nullopt with error set ("fileSizes.body.sigma must be above 0").
std::optional<PopulationProfile> readPopulationProfile(std::string_view text, std::string& error);

// The names of the built-in profiles ("desktop").
std::vector<std::string> builtInProfileNames();
// A built-in profile by name (any case), or nullopt.
std::optional<PopulationProfile> builtInProfile(const std::string& name);

// What /profile names: a built-in profile's name, else a profile file (read and checked). nullopt
// with error set when neither.
std::optional<PopulationProfile> loadPopulationProfile(const std::string& nameOrPath, std::string& error);

}  // namespace quillet
