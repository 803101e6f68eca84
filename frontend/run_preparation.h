// Turns the main dialog's texts, units and flags into a complete generation job before a run:
// the field checks, sizes in bytes, the trimmed root, consistent ranges written back into the
// texts, normalised masks and the file-system limit. Front-end (UI) thread only.
#pragma once

#include <string>

#include "engine/generation_job.h"
#include "platform/file_system.h"
#include "settings/settings_values.h"

namespace quillet {

// The root text with leading and trailing spaces (code 32 only) removed; a text of spaces only is
// returned unchanged, so it is not taken for an empty one.
std::string trimRootText(const std::string& text);

enum class PreparationOutcome {
  Ready,         // the job is filled; the root folder still has to be created
  EmptyRoot,     // the trimmed root text is empty: nothing may be started
  RelativeRoot,  // the root is not an absolute path (spaces only, for one): nothing may be started
};

// The error box text for a root that is refused as RelativeRoot: the "Incorrect path" text that
// root creation shows, with the root text (without its trailing separator).
std::string relativeRootMessage(const std::string& rootText);

// Runs the field checks, then fills job from fields and writes every correction back into fields
// (root text trimmed and ended with a separator, consistent size and files ranges, normalised
// masks). With allPartition, allSize is the free space of the root's volume, or of its nearest
// existing ancestor while the root does not exist yet. Ends with the file-system limit of the
// root's volume. The job must not be in use by a worker. On EmptyRoot and RelativeRoot the job is
// left as it was and fields holds the checked texts (the root trimmed and, when not empty, ended
// with a separator). A relative root would land in the program's working folder, which the user
// never chose, so it is refused before anything is asked of the volume.
PreparationOutcome prepareJob(SettingsValues& fields, GenerationJob& job, FileSystem& fs);

}  // namespace quillet
