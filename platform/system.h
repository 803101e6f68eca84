// Process-level services: the clock, sleeping, the running program's own file, the working folder,
// per-user folders, the stop signals, the terminal test and the exclusively held, append-only log
// file. Thread-safe unless a method says otherwise.
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
  // A value for a run's content seed that differs between two runs even within one second: the
  // wall clock's finest ticks mixed with a high-resolution counter and the process. A clock fixed
  // for tests gives its seconds, so its runs stay repeatable.
  virtual std::uint64_t seedTicks() { return static_cast<std::uint64_t>(secondsSinceEpoch()); }
};

// The real clock (localtime_r on POSIX).
Clock& systemClock();

void sleepMilliseconds(int ms);

// Absolute path of the running program file (/proc/self/exe; GetModuleFileName on Windows).
std::string runningProgramPath();

// The path made absolute against the working folder. An absolute path (isAbsolutePath) is returned
// as it stands; a relative one is joined to the working folder without resolving "." or "..". On
// Windows a path that names only a drive ("C:x") or only the drive's root ("\x") is completed by
// the system. Unchanged when the working folder cannot be read.
std::string absolutePath(const std::string& path);

// The system the program was built for, as reports name it: "linux" or "windows".
const char* systemName();

// True when standard error is a terminal.
bool standardErrorIsTerminal();

// The stop signals: SIGINT and SIGTERM on POSIX; Ctrl-C and Ctrl-Break on Windows.
// holdStopSignals, called first thing in main (main thread, before any other thread starts): from
// then on such a signal no longer ends the process but is kept for stopSignalArrived. On POSIX the
// signals stay blocked and pending in every thread, so that no system call of the run is
// interrupted and a signal that arrives before replaceProcess reaches the new program. It also
// makes a write to a closed pipe or socket fail with an error instead of ending the process (a
// display connection that breaks, a progress pipe closed early): SIGPIPE is ignored from then on,
// in this program and in the one replaceProcess starts.
void holdStopSignals();
// Gives the stop signals their default effect again, for the modes that have no run to stop; one
// that arrived while they were held ends the process now. Main thread, before other threads start.
void releaseStopSignals();
// True once a stop signal has arrived while held (it stays true). Cheap enough to poll; any thread.
bool stopSignalArrived();

// The signal that resumes a stopped process (SIGCONT on POSIX; Windows has none). A parallel
// launcher sends it to every process of a job it is about to end (so that a stopped one can take
// the stop signal that follows); one that arrives while the process runs is only that warning.
// holdContinueSignal, like holdStopSignals called before any other thread starts, keeps it for
// continueSignalArrived; it still resumes a stopped process. continueSignalArrived counts those
// that arrived since the last call (0 or 1). Main thread.
void holdContinueSignal();
bool continueSignalArrived();

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
  // Appends the bytes at the current end of the file, whole or not at all: when the volume takes
  // only part of them, the part is cut off again and the failure returned.
  virtual Status append(const std::string& bytes) = 0;
  // Allocates room for `bytes` more bytes past the current end without changing the file's size,
  // so that appends of up to that much need no free space on the volume (fallocate with
  // FALLOC_FL_KEEP_SIZE). DiskFull when the volume has no room; Unsupported where the file system
  // (or the system: Windows) cannot reserve. The room stays allocated after close.
  virtual Status reserve(std::int64_t bytes) = 0;
  // The file's last byte (0..255), or -1 when the file is empty or cannot be read.
  virtual int lastByte() = 0;
  // Returns once what was appended is on the storage, not only in the system's cache (fdatasync;
  // FlushFileBuffers). A failure means appended bytes may be lost.
  virtual Status flush() = 0;
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
