// Folder paths, the full-volume test and the creation of one file (random content or allocation
// only), shared by both generation loops. Worker thread only.
#pragma once

#include <cstdint>
#include <string>

#include "engine/run_context.h"
#include "platform/file_system.h"

namespace quillet {

// Creates every missing folder on the path (each prefix before a separator, from the second
// character on; an existing prefix is passed). Returns the first prefix that could not be created,
// the path itself when it exists but is no folder (a file, a dangling link), or an empty text when
// the whole path is a folder.
std::string createMissingFolders(FileSystem& fs, const std::string& path);

// Creates every missing folder on folder's path (prefixes before each separator). Done, or
// PathFailed after reporting "Incorrect path" with the prefix that could not be created.
GenerationResult ensureFolderPath(const std::string& folder, RunContext& ctx);

// Asks for the free bytes available to the caller on folder's volume, into freeBytes. Done when
// more than one cluster is free; VolumeFull (not reported) when at most one is; PathFailed, after
// reporting the failure, when the system cannot tell: an unknown figure is never taken for a full
// or an empty volume. When a file of `wanted` bytes would leave a wide margin in the figure asked
// for this folder moments ago (less what the run wrote since), that figure is used instead of a
// new query: with many small files the query would otherwise cost as much as creating a file. Near
// a full volume every file asks again.
GenerationResult checkFreeSpace(const std::string& folder, RunContext& ctx, std::int64_t& freeBytes,
                                std::int64_t wanted = -1);

// Whether a full volume is reported (not when filling the whole volume is the goal).
enum class FullVolume { Report, Silent };

// Writes or allocates an exclusively created, open file at path in folder (steps after opening):
// Done when the file was created and counted; VolumeFull, Stopped as the failure rules say;
// PathFailed (reported, stop requested) when a write, the allocation's closing or the closing
// fails for a cause other than a full disk: such a file is never counted. createdHere and
// job.filesCreated grow by one per counted file.
GenerationResult fillNewFile(FileHandle& file, const std::string& path, const std::string& folder,
                             std::int64_t size, RunContext& ctx, std::int64_t& createdHere,
                             FullVolume fullVolume);

// Finds a free name in folder (the counter keeps running) and creates a file of size there. A name
// that turns out to be taken when the file is created exclusively sends the search on; a name with a
// folder part is created without following links. namesUsedUp is set (with result Done) when the
// mask has no free name left. No room for a new file (a full inode table) is a full volume.
GenerationResult createNextFile(const std::string& folder, std::int64_t& counter, std::int64_t size,
                                RunContext& ctx, std::int64_t& createdHere, FullVolume fullVolume,
                                bool& namesUsedUp, const std::string& suffix = {});

// How a run ends when the exclusive creation of path failed for a cause other than a taken name:
// VolumeFull for a full inode table (reported unless Silent), PathFailed otherwise (reported, stop
// requested).
GenerationResult endAfterFailedCreate(const Status& status, const std::string& path,
                                      const std::string& folder, RunContext& ctx, FullVolume fullVolume);

}  // namespace quillet
