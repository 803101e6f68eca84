// The walk of a verify: the visible tree below the root as the generator sees it, and the seed most
// of its files' first blocks carry. Runs on the verify's own thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/verify.h"

namespace quillet {

struct FoundFile {
  std::string relative;  // parts joined by '/'
};

// What the walk found below the root.
struct WalkedTree {
  std::vector<FoundFile> files;  // in walk order
  // Every folder, parents first, each folder's sub-folders in the order the volume lists them: the
  // order a run walked them in, which its plan must follow.
  std::vector<std::string> folders;
  std::vector<std::string> listingErrors;
  std::vector<std::string> notRegular;  // in byte order
};

// A path relative to the root with the system's separator between its parts.
std::string systemRelative(const std::string& relative);

// Walks the visible tree below job.rootFolder: visible sub-folders entered (never links, hidden or
// system folders), visible files listed (never links, hidden or system files), names in byte order
// per folder, so that every walk of the same tree lists it alike. Counts job.filesFound and ends
// early once job.stopRequested is set.
WalkedTree walkTree(FileSystem& fs, VerifyJob& job);

// The seed most files' first blocks carry, read from at most a few thousand files spread over the
// walk; nullopt when no first block tells one (or the job was stopped first).
std::optional<std::uint64_t> voteSeed(FileSystem& fs, VerifyJob& job, const std::vector<FoundFile>& files);

}  // namespace quillet
