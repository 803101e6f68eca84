// A failure the engine meets in a run, as data: what failed, where, and the platform's word on
// why. The engine hands it to its front-end, which alone turns it into a box or a log line. Plain
// value type; safe to copy between threads.
#pragma once

#include <string>

#include "platform/status.h"

namespace quillet {

enum class FailureKind {
  RootPath,            // the root (or a folder on its way) cannot be made before the run; path: that folder
  FolderPath,          // a folder on the way to a file cannot be made; path: that folder
  FilePath,            // a file cannot be created because its path is wrong; path: the file
  CannotAllocate,      // a file's space cannot be allocated
  VolumeFull,          // path: the volume's display name; lastFile: the last name generated
  CreateFile,          // any other failure to create the file at path; status: why
  WriteFile,           // the file at path cannot be written or closed; status: why
  VolumeFlush,         // the volume holding the folder at path cannot be flushed; status: why
  JournalVolumeFlush,  // as VolumeFlush, in a /sync:end run with a flush journal: nothing journaled
  FreeSpaceUnknown,    // the free space of the folder at path cannot be asked; status: why
};

struct RunFailure {
  FailureKind kind = FailureKind::CreateFile;
  std::string path;
  Status status;         // ok when the kind says all there is
  std::string lastFile;  // VolumeFull only; empty when no file was generated yet
};

}  // namespace quillet
