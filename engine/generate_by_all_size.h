// Generation by total size: files of random size go into the root folder (never its sub-folders)
// until allSize bytes are written or, with allPartition, until the volume is full. Worker thread.
#pragma once

#include "engine/run_context.h"

namespace quillet {

// Returns Done, VolumeFull, Stopped, NamesUsedUp, MaxSizeZero or PathFailed.
GenerationResult generateByAllSize(const std::string& rootFolder, RunContext& ctx);

}  // namespace quillet
