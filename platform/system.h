// Process-level services: the clock, sleeping, the running program's own file, per-user folders and
// the exclusively held, append-only log file. Thread-safe unless a method says otherwise.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/status.h"

namespace quillet {

// The wall clock, as an interface so that tests can fix it.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime localTime() = 0;
  // Whole seconds since the epoch, the seed source of the random draws.
  virtual std::int64_t secondsSinceEpoch() = 0;
};

// The real clock (localtime_r on POSIX).
Clock& systemClock();

void sleepMilliseconds(int ms);

// Absolute path of the running program file (/proc/self/exe; GetModuleFileName on Windows).
std::string runningProgramPath();

// Per-user state folder for files the program keeps across runs when its own folder cannot be
// written: $XDG_STATE_HOME/talvane-quillet (default ~/.local/state/talvane-quillet). Not created.
std::string userStateFolder();

// Per-user configuration folder: $XDG_CONFIG_HOME/talvane-quillet (default
// ~/.config/talvane-quillet). Not created.
std::string userConfigFolder();

// Creates path and every missing parent (best effort; for per-user folders only).
Status createFolderTree(const std::string& path);

// A file opened for appending and held exclusively: while one process holds it, a second open
// fails (non-blocking flock on POSIX, share mode 0 on Windows). Never truncated.
class ExclusiveAppendFile {
 public:
  virtual ~ExclusiveAppendFile() = default;
  // Appends the bytes as one write at the current end of the file. The result may be ignored.
  virtual Status append(const std::string& bytes) = 0;
  // Flushes to the system and closes; nothing may be written afterwards.
  virtual void close() = 0;
};

// Opens (creating when missing) path for exclusive appending. Fails with AlreadyExists-free
// classifications: WrongPath when the folder is missing, Other when another process holds it.
Result<std::unique_ptr<ExclusiveAppendFile>> openExclusiveAppend(const std::string& path);

// Runs program in place of the current process with the given argument vector (args[0] is passed
// as it stands, so the new program sees the same argument 0). Returns only on failure.
Status replaceProcess(const std::string& program, const std::vector<std::string>& args);

// True when the folder exists and the current user may create files in it.
bool folderIsWritable(const std::string& folder);

// True where windows can always be shown (the Windows desktop); elsewhere a display must be found.
bool desktopAlwaysPresent();

}  // namespace quillet
