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
std::optional<std::vector<PlannedFile>> planRun(
    GenerationJob& job, const PlanVolume& volume,
    const std::function<void(GenerationJob&, FileSystem&)>& complete, std::string& why);

// What a verify found of a run it re-derives, once every file was read.
struct FoundRun {
  std::int64_t bytesInTree = 0;  // the room the tree's files take
  // The visible folders below the root, as VerifyJob::planner is given them.
  std::vector<std::string> folders;
  int writers = 1;               // the run's
  bool filledVolume = false;     // the run filled the whole volume
  std::int64_t largestFile = 0;  // the largest file the run's sizes allow, as given
};

// The files the run of job (parsed, its seed given and its root set, not yet completed) made on fs
// below job.rootFolder: planRun on a stand-in of that volume (its cluster size and file-system name)
// with the folders found made first, then complete. A run that filled the whole volume had the room
// its files take now besides what is free, and its writers' files in flight took less than their
// size when the volume filled, so it is planned with that much more room and the files handed out
// once less than that was left are marked sizeMayBeCut; any other run ends by its own figures.
std::optional<std::vector<PlannedFile>> planFoundRun(
    GenerationJob& job, FileSystem& fs, const FoundRun& found,
    const std::function<void(GenerationJob&, FileSystem&)>& complete, std::string& why);

// The stand-in volume planRun runs the engine on, alone, so that it is held to the contract every
// FileSystem keeps: root and its ancestors exist and nothing else; job is asked whether files are
// being generated and told to stop when the plan is full, and must outlive the volume.
std::unique_ptr<FileSystem> makePlanningFileSystem(const std::string& root, const PlanVolume& volume,
                                                   GenerationJob& job);

}  // namespace quillet
