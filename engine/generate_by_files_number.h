// Generation by files number: every folder gets a random number of files between minFiles and
// maxFiles (its own name counter from 0), then, with recurseSubfolders, every visible sub-folder
// is filled the same way, pre-order. Called on the worker thread; the walk stays on it and the
// writers (one or more, /threads) fill the folders it hands them on threads of their own (on the
// worker thread itself when the system refuses one).
#pragma once

#include "engine/run_context.h"

namespace quillet {

// folder ends with a separator. Returns Done, VolumeFull, Stopped, LimitSizeReached, MaxSizeZero
// or PathFailed; anything but Done from deep in the tree ends the whole run.
// How much the caller already knows of the folder: found by listing its parent (so it exists),
// and whether it may hold sub-folders at all.
struct FolderFacts {
  bool knownToExist = false;
  bool mayHaveSubfolders = true;
  int depth = 0;  // below the root folder
};

GenerationResult generateByFilesNumber(const std::string& folder, RunContext& ctx, FolderFacts facts = {});

}  // namespace quillet
