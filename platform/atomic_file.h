// Small files kept whole: read at once, replaced in one step so that a crash or a full volume leaves
// either the old contents or the new ones, never a mix, and set aside under numbered names. For
// stores, logs and reports of a few KiB. Thread-safe (no shared state); two processes replacing
// one file at once each leave a whole file, the last one's.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quillet {

// Called with the temporary file's path once it holds the new contents on disk and just before it
// takes the target's place: the moment where a crash must leave the old file whole.
using BeforeReplace = std::function<void(const std::string& tempPath)>;

// Writes contents to a new file in path's folder, flushes it to the disk, moves it over path and
// (POSIX) flushes the folder. On failure path keeps its old contents, the temporary file is
// removed, and the status names the file that failed and the system's reason. A file the user
// made read-only is not replaced (permission denied). The new file keeps the old one's permission
// bits; a new one gets the default ones. The folder must exist. A link at path is followed: the
// file it leads to is replaced in its own folder and the link stays. Anything else that is not a
// regular file (a folder, FIFO, device node, socket) is refused and left as it is (POSIX).
Status replaceFileAtomically(const std::string& path, std::string_view contents,
                             const BeforeReplace& beforeReplace = {});

// Reads a whole file of at most maxBytes into contents. A larger file fails with the "file too
// large" error (EFBIG; ERROR_FILE_TOO_LARGE on Windows) without being read; a missing one with
// WrongPath; a folder, device or FIFO in its place fails at once.
Status readWholeFile(const std::string& path, std::size_t maxBytes, std::string& contents);

// Moves path to asideName after moving earlier copies on to asideName.1, asideName.2 ...; at most
// copies (at least 1) are kept in all, the oldest dropped, so asideName always holds the latest.
// The last move never replaces a file: a copy that another process set aside meanwhile fails the
// call (AlreadyExists) rather than being lost. A missing path fails with WrongPath.
Status setFileAside(const std::string& path, const std::string& asideName, int copies);

}  // namespace quillet
