// The script log, "scripts.log": the append-only record of every script run, one block per run
// between a start and an end banner, every line time-stamped and ended with CR LF on every system.
// A block always gets its end banner, even when the run fills the log's volume: the room for it is
// held from the moment the log is opened, a line is written whole or not at all, and a line that
// would eat into the end banner's room is left out.
//
// Threads: no lock of its own. During a run the worker writes failure lines while the main thread
// waits; the main thread writes the end banner only after the worker has ended.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/generation_job.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace quillet {

// A text as it goes into a record: each control character (0x00-0x1F, 0x7F) as "\xHH" with two
// upper-case hex digits, so that a record stays one line; a "\" that is followed by "x" and two hex
// digits as "\x5C", so that the escapes read back unambiguously. Everything else, ordinary "\"
// separators included, stays as it is.
std::string escapeLogText(const std::string& text);

// Pure formatting of the five record forms; `\n` in the documented forms is written as CR LF.
// The texts are escaped with escapeLogText.
std::string formatTimeStamp(const LocalTime& t);  // "[dd.mm.yyyy hh:mm:ss]: "
std::string formatStartBanner(const LocalTime& t);
std::string formatEndBanner(const LocalTime& t);
std::string formatLogLine(const LocalTime& t, const std::string& text);
std::string formatLogLine(const LocalTime& t, const std::string& first, const std::string& second);
std::string formatInvalidParameter(const LocalTime& t, const std::string& parameter);

// Where the log of a program started as argv0 lives: the folder part of argv0 (up to its last
// separator); for a bare name found through PATH the running program's folder. When that folder
// cannot be written, the per-user state folder (created when missing).
std::string scriptLogPath(const std::string& argv0);

// Where a run's log lines go: the script log, or whatever passes them on to it.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void writeLine(const std::string& text) = 0;
};

class ScriptLog final : public LogSink {
 public:
  explicit ScriptLog(Clock& clock = systemClock()) : clock_(clock) {}
  ~ScriptLog() override;

  // Opens the log for exclusive appending, creating it when missing, and reserves the room of a
  // block. Fails silently (false) when it cannot be opened, another run holds it, or its volume
  // has no room left for the banners of a block.
  bool openLog(const std::string& path);
  bool isOpen() const { return file_ != nullptr; }
  // Instead of a file: the one-text lines are kept (unformatted, in order) for another process of
  // the same run to write into its block; banners and invalid-parameter records are dropped.
  void keepLinesInstead() { keeping_ = true; }
  const std::vector<std::string>& keptLines() const { return kept_; }

  // The start banner, after a line end when the log does not end in one (a block cut off by an
  // earlier failure), so that a block never starts in the middle of a line.
  void writeStartBanner();
  // One-text line (also the engine's failure lines).
  void writeLine(const std::string& text) override;
  // Two-text line: the texts joined by one blank.
  void writeLine(const std::string& first, const std::string& second);
  void writeInvalidParameter(const std::string& parameter);
  // Writes the end banner, flushes and closes. Nothing may be written afterwards.
  void writeEndBanner();

 private:
  // Appends a record whole or not at all. A record other than the end banner is written only when
  // the room for the end banner stays reserved after it.
  void append(const std::string& bytes, bool endBanner = false);
  // Makes sure bytes past the end are reserved; false when the volume has no room for them.
  bool ensureRoom(std::int64_t bytes);

  Clock& clock_;
  std::unique_ptr<ExclusiveAppendFile> file_;
  bool startsMidLine_ = false;
  // Bytes known to be reserved past the end of the file; unlimited where nothing can be reserved
  // (the log then relies on whole appends alone).
  std::int64_t room_ = 0;
  bool roomUnlimited_ = false;
  bool keeping_ = false;
  std::mutex keptLock_;  // writers may note failures at once
  std::vector<std::string> kept_;
};

}  // namespace quillet
