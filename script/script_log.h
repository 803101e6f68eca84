// The script log, "scripts.log": the append-only record of every script run, one block per run
// between a start and an end banner, every line time-stamped and ended with CR LF on every system.
//
// Threads: no lock of its own. During a run the worker writes failure lines while the main thread
// waits; the main thread writes the end banner only after the worker has ended.
#pragma once

#include <memory>
#include <string>

#include "engine/generation_job.h"
#include "platform/file_system.h"
#include "platform/system.h"

namespace quillet {

// Pure formatting of the five record forms; `\n` in the documented forms is written as CR LF.
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

class ScriptLog final : public LogSink {
 public:
  explicit ScriptLog(Clock& clock = systemClock()) : clock_(clock) {}
  ~ScriptLog() override;

  // Opens the log for exclusive appending, creating it when missing. Fails silently (false) when
  // it cannot be opened or another run holds it.
  bool openLog(const std::string& path);
  bool isOpen() const { return file_ != nullptr; }

  void writeStartBanner();
  // One-text line (also the engine's failure lines).
  void writeLine(const std::string& text) override;
  // Two-text line: the texts joined by one blank.
  void writeLine(const std::string& first, const std::string& second);
  void writeInvalidParameter(const std::string& parameter);
  // Writes the end banner, flushes and closes. Nothing may be written afterwards.
  void writeEndBanner();

 private:
  void append(const std::string& bytes);

  Clock& clock_;
  std::unique_ptr<ExclusiveAppendFile> file_;
};

}  // namespace quillet
