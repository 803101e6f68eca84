// The random-shaped sub-folder tree made up before generation by files number, and the count of
// the folders that generation will fill. Depth-first walks over visible sub-folders only (never
// hidden or system ones, never links). Worker thread only.
#pragma once

#include "engine/run_context.h"
#include "platform/file_system.h"

namespace quillet {

// A sub-folder the engine may count, enter and fill.
inline bool isVisibleFolder(const FolderEntry& e) {
  return e.isDirectory && !e.isLink && !e.isHidden && !e.isSystem;
}

// Brings every folder of the tree below folder (at level) up to rootSize visible sub-folders,
// treeDeep levels deep, counting existing and new folders against dirsLimit. Returns Done,
// Stopped, NamesUsedUp (this level only) or FolderLimit (the whole make-up ends). A folder that
// cannot be created for a reason other than existing ends its level quietly. freshlyCreated skips
// the listing of a folder the make-up has just created itself. Sets ctx.treeUnknown when it leaves
// part of the visible tree unlisted.
GenerationResult makeUpFolderTree(const std::string& folder, RunContext& ctx, int level,
                                  bool freshlyCreated = false);

// With a profile: makes up below root the tree the profile describes: job.profileFolders folders
// whose depths follow the profile's folder depths (none deeper than job.profileMaxDepth) and whose
// parents' sub-folder counts follow its sub-folders per folder as near as those depths allow. A
// folder of the planned name that exists already is taken as it is. The draws come from the run's
// seed (or the clock), so a seeded run makes the same tree. Records the tree in the job's tally.
// Returns Done, Stopped or FolderLimit.
GenerationResult makeUpProfileTree(const std::string& root, RunContext& ctx);

// Adds one to dirsCalculated for every visible sub-folder below folder (only when
// recurseSubfolders is set); a stop request ends the count silently.
void countFolders(const std::string& folder, RunContext& ctx);

}  // namespace quillet
