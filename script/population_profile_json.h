// The JSON form of a population profile ("quillet-profile/1", schema in
// docs/quillet-profile.schema.json): the writer. Names and paths never enter it; only figures and
// the extensions' own short names.
#pragma once

#include <string>

#include "engine/population_profile.h"

namespace quillet {

inline constexpr const char* kProfileSchema = "quillet-profile/1";

// The profile as its file holds it: one JSON object, pretty-printed, ending in a line feed. Optional
// members are written when known: quantiles when measured, count and mean when counted, an
// extension's compressionRatio when sampled; "source" when not empty.
std::string populationProfileJson(const PopulationProfile& profile);

}  // namespace quillet
