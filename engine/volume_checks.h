// Facts of the destination volume a front-end completes the job with before the worker starts:
// the largest file its file system takes, and an existing root folder. Front-end thread.
#pragma once

#include <cstdint>
#include <string>

#include "engine/engine_services.h"
#include "engine/generation_job.h"

namespace quillet {

// The largest file a file system of that (upper-cased) name takes; 0 means no limit. Names are
// compared whole; unknown names get 2,147,483,647.
std::int64_t fileSystemSizeLimit(const std::string& fileSystemName);

// Sets job.driveRoot and job.fsFileSizeLimit from the volume that holds job.rootFolder.
void setFileSystemLimit(GenerationJob& job, FileSystem& fs);

// The free bytes available to the caller on the volume that will hold root, asked of root or, when
// it does not exist yet, of its nearest existing ancestor; 0 when no figure can be had. Sets the
// total of a run that fills the whole volume.
std::int64_t allPartitionFreeSpace(FileSystem& fs, const std::string& root);

// Creates every missing folder of job.rootFolder; a root (or a folder on its way) that exists but
// is no folder, such as a file or a dangling link, fails like one that cannot be created. On
// failure presents a RootPath failure naming the prefix that failed and returns false; folders
// created before stay.
bool createRootFolder(GenerationJob& job, const EngineServices& services);

}  // namespace quillet
