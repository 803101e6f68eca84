// The engine's failures as it hands them to its front-end: each call builds the typed failure and
// gives it to the services' presenter. Called on the worker thread.
#pragma once

#include <string>

#include "engine/engine_services.h"
#include "engine/generation_job.h"
#include "platform/status.h"

namespace quillet {

// A folder on the way to the target cannot be created; path is that folder.
void reportFolderPath(const EngineServices& services, const std::string& path);

// A file cannot be created because its path is wrong.
void reportFilePath(const EngineServices& services, const std::string& path);

void reportCannotAllocate(const EngineServices& services);

// folder's volume is full; told once per run, however many writers meet it, with the last
// generated name.
void reportVolumeFull(GenerationJob& job, const EngineServices& services, const std::string& folder);

// Any other failure to create a file.
void reportFileError(const EngineServices& services, const std::string& path, const Status& status);

// A file that could not be written or closed.
void reportWriteError(const EngineServices& services, const std::string& path, const Status& status);

// The volume that holds folder could not be flushed to its storage: written data may be lost.
void reportVolumeFlushError(const EngineServices& services, const std::string& folder, const Status& status);
// The system refused the volume's flush (no rights, a share) on a /sync:end run with a journal.
void reportJournalFlushRefused(const EngineServices& services, const std::string& folder,
                               const Status& status);

// The free space of folder's volume cannot be asked for a cause other than a wrong path.
void reportFreeSpaceUnknown(const EngineServices& services, const std::string& folder, const Status& status);

}  // namespace quillet
