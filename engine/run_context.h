// What one run's generation routines share besides the job: the services, the random sources and
// the write buffer. Owned by the worker for the length of a run; used by its thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/engine_services.h"
#include "engine/generation_job.h"
#include "engine/random.h"

namespace quillet {

// Random content is generated and written in chunks of this many bytes (256 blocks of 1,024):
// large enough that system-call cost vanishes, small enough that a stop is seen quickly.
inline constexpr std::size_t kWriteChunk = 256 * 1024;
inline constexpr std::size_t kBlock = 1024;

struct RunContext {
  RunContext(GenerationJob& j, const EngineServices& s) : job(j), services(s), buffer(kWriteChunk) {}

  // Reseeds the size/count draws (and the content streams) from the clock's seconds.
  void seedFromClock() {
    const std::int64_t seconds = services.clock.secondsSinceEpoch();
    random.srand(static_cast<std::uint32_t>(seconds));
    content.seed(static_cast<std::uint64_t>(seconds) ^ 0x5EEDC0DEull);
  }

  GenerationJob& job;
  const EngineServices& services;
  RandomSource random;
  ContentGenerator content;
  std::vector<std::uint8_t> buffer;
};

}  // namespace quillet
