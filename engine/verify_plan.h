// The files a seeded run made, re-derived by running the generation engine itself against an
// in-memory file system that stands in for the volume: the same cluster size and file-system name,
// an empty root, room enough, and no content written. Worker-free: the engine runs on the caller's
// thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/generation_job.h"
#include "engine/verify.h"
#include "platform/file_system.h"

namespace quillet {

struct PlanVolume {
  std::int32_t clusterSize = 4096;
  std::string fileSystemName;
  // The room the run had: as good as unlimited unless the run filled the whole volume.
  std::int64_t freeBytes = 0;
  std::int64_t totalBytes = 0;
};

// A plan stops after this many files; a run that made more is told as far as that.
inline constexpr std::int64_t kMaxPlannedFiles = 2'000'000;

// The files job (a parsed run with its seed given and its root set) would make in an empty root, in
// the order it would make them, with their sizes. complete completes the job against the stand-in
// volume (as a run completes its job against the real one) before the engine runs. The job is used
// up. nullopt with why set when it cannot be told; why is also set when the plan was cut short.
std::optional<std::vector<PlannedFile>> planRun(GenerationJob& job, const PlanVolume& volume,
                                                const std::function<void(GenerationJob&, FileSystem&)>& complete,
                                                std::string& why);

// The stand-in volume planRun runs the engine on, alone, so that it is held to the contract every
// FileSystem keeps: root and its ancestors exist and nothing else; job is asked whether files are
// being generated and told to stop when the plan is full, and must outlive the volume.
std::unique_ptr<FileSystem> makePlanningFileSystem(const std::string& root, const PlanVolume& volume,
                                                   GenerationJob& job);

}  // namespace quillet
