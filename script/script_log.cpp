#include "script/script_log.h"

#include <cstdio>

#include "platform/path.h"

namespace quillet {
namespace {

constexpr const char* kEol = "\r\n";
const std::string kAsterisks(80, '*');

}  // namespace

std::string formatTimeStamp(const LocalTime& t) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "[%02d.%02d.%04d %02d:%02d:%02d]: ", t.day, t.month, t.year, t.hour,
                t.minute, t.second);
  return buffer;
}

std::string formatStartBanner(const LocalTime& t) {
  return kAsterisks + kEol + formatTimeStamp(t) + "#QX Scripts log started" + kEol;
}

std::string formatEndBanner(const LocalTime& t) {
  return formatTimeStamp(t) + "#QX Scripts log ended" + kEol + kAsterisks + kEol + kEol;
}

std::string formatLogLine(const LocalTime& t, const std::string& text) { return formatTimeStamp(t) + text + kEol; }

std::string formatLogLine(const LocalTime& t, const std::string& first, const std::string& second) {
  return formatTimeStamp(t) + first + " " + second + kEol;
}

std::string formatInvalidParameter(const LocalTime& t, const std::string& parameter) {
  return formatTimeStamp(t) + "Invalid script parameter '" + parameter + "'." + kEol;
}

std::string scriptLogPath(const std::string& argv0) {
  // A program found through PATH has no folder in argument 0; its own file tells where it is.
  std::string folder = folderPart(argv0);
  if (folder.empty()) folder = folderPart(runningProgramPath());
  if (folder.empty() || !folderIsWritable(folder)) {
    const std::string state = userStateFolder();
    createFolderTree(state);
    folder = withTrailingSeparator(state);
  }
  return folder + "scripts.log";
}

ScriptLog::~ScriptLog() {
  if (file_) file_->close();
}

bool ScriptLog::openLog(const std::string& path) {
  auto opened = openExclusiveAppend(path);
  if (!opened.ok()) return false;
  file_ = std::move(opened.value());
  return true;
}

void ScriptLog::append(const std::string& bytes) {
  if (file_) file_->append(bytes);  // the result of a write is ignored by design
}

void ScriptLog::writeStartBanner() { append(formatStartBanner(clock_.localTime())); }

void ScriptLog::writeLine(const std::string& text) { append(formatLogLine(clock_.localTime(), text)); }

void ScriptLog::writeLine(const std::string& first, const std::string& second) {
  append(formatLogLine(clock_.localTime(), first, second));
}

void ScriptLog::writeInvalidParameter(const std::string& parameter) {
  append(formatInvalidParameter(clock_.localTime(), parameter));
}

void ScriptLog::writeEndBanner() {
  append(formatEndBanner(clock_.localTime()));
  if (file_) file_->close();
  file_.reset();
}

}  // namespace quillet
