// The engine's failure texts in their two forms: a message box (interactive) or one script-log
// line (script mode, chosen by the job's scriptMode). Called on the worker thread.
#pragma once

#include <string>

#include "engine/engine_services.h"
#include "engine/generation_job.h"
#include "platform/status.h"

namespace quillet {

// A folder on the way to the target cannot be created (Caption::Error box), or a file cannot be
// created because its path is wrong (application box). path is the prefix or the full file path.
void reportIncorrectPath(GenerationJob& job, const EngineServices& services, const std::string& path,
                         FailurePresenter::Caption caption);

void reportCannotAllocate(GenerationJob& job, const EngineServices& services);

// "Destination drive %s: is full." with the volume of folder and the last generated name.
void reportVolumeFull(GenerationJob& job, const EngineServices& services, const std::string& folder);

// Any other failure to create a file: a clear message naming the file and the cause. Always a
// message box, also in script mode (the script front-end turns it into a log line when headless).
void reportFileError(const EngineServices& services, const std::string& path, const Status& status);

// A file that could not be written or closed: the same kind of message box as reportFileError.
void reportWriteError(const EngineServices& services, const std::string& path, const Status& status);

// The volume that holds folder could not be flushed to its storage: written data may be lost. The
// same kind of message box as reportWriteError.
void reportVolumeFlushError(const EngineServices& services, const std::string& folder, const Status& status);
// The system refused the volume's flush (no rights, a share) on a /sync:end run with a journal.
void reportJournalFlushRefused(const EngineServices& services, const std::string& folder, const Status& status);

// The free space of folder's volume cannot be asked for a cause other than a wrong path.
void reportFreeSpaceUnknown(GenerationJob& job, const EngineServices& services, const std::string& folder,
                            const Status& status);

}  // namespace quillet
