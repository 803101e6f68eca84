// The report's speed record: the sampled series as the "series" object of a report, with the rate
// over each interval worked out from the cumulative figures. Pure; thread-safe.
#pragma once

#include <nlohmann/json.hpp>

#include "engine/generation_job.h"
#include "engine/rate_series.h"
#include "engine/verify.h"

namespace quillet {

// "write" for a generation, "read" for a verify (its samples carry the damage found so far).
nlohmann::ordered_json seriesJson(const RateSeries& series, bool verify);

// The figures a generation's sample holds, read from the running job (any thread).
RateSample sampleOf(const GenerationJob& job);
// The figures a verify's sample holds: read so far and damage found so far (any thread).
RateSample sampleOf(const VerifyJob& job);

}  // namespace quillet
