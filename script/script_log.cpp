#include "script/script_log.h"

#include <cstdio>

#include "platform/path.h"

namespace quillet {
namespace {

constexpr const char* kEol = "\r\n";
const std::string kAsterisks(80, '*');
// The room reserved when a log is opened: the banners and several lines of the longest kind (a
// failure line with two paths), so that a run that fills the volume still logs why it ended.
constexpr std::int64_t kBlockRoom = 16 * 1024;

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }

std::int64_t endBannerSize() { return static_cast<std::int64_t>(formatEndBanner(LocalTime{}).size()); }

}  // namespace

std::string escapeLogText(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool looksLikeEscape = byte == '\\' && i + 3 < text.size() && text[i + 1] == 'x' &&
                                 isHexDigit(text[i + 2]) && isHexDigit(text[i + 3]);
    if (byte < 0x20 || byte == 0x7F || looksLikeEscape) {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

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

std::string formatLogLine(const LocalTime& t, const std::string& text) {
  return formatTimeStamp(t) + escapeLogText(text) + kEol;
}

std::string formatLogLine(const LocalTime& t, const std::string& first, const std::string& second) {
  return formatTimeStamp(t) + escapeLogText(first + " " + second) + kEol;
}

std::string formatInvalidParameter(const LocalTime& t, const std::string& parameter) {
  return formatTimeStamp(t) + "Invalid script parameter '" + escapeLogText(parameter) + "'." + kEol;
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
  const int last = file_->lastByte();
  startsMidLine_ = last >= 0 && last != '\n';
  room_ = 0;
  roomUnlimited_ = false;
  // The whole block's room when there is some; at the least the banners' room, without which the
  // block could not be closed and is better not begun.
  const auto banners = static_cast<std::int64_t>(formatStartBanner(LocalTime{}).size()) + 2 + endBannerSize();
  if (!ensureRoom(kBlockRoom) && !ensureRoom(banners)) {
    file_->close();
    file_.reset();
    return false;
  }
  return true;
}

bool ScriptLog::ensureRoom(std::int64_t bytes) {
  if (roomUnlimited_ || room_ >= bytes) return true;
  const Status reserved = file_->reserve(bytes);
  if (reserved.ok()) {
    room_ = bytes;
    return true;
  }
  if (reserved.kind() == ErrorKind::DiskFull) return false;
  // A file system that cannot reserve: whole appends are all the log can rely on there.
  roomUnlimited_ = true;
  return true;
}

void ScriptLog::append(const std::string& bytes, bool endBanner) {
  if (!file_) return;
  const auto size = static_cast<std::int64_t>(bytes.size());
  // The end banner's room was reserved with the record before it; any other record must leave it.
  if (!endBanner && !ensureRoom(size + endBannerSize())) return;
  if (!file_->append(bytes).ok()) return;  // the failure of a record is not reported anywhere
  room_ = room_ > size ? room_ - size : 0;
}

void ScriptLog::writeStartBanner() {
  const std::string banner = formatStartBanner(clock_.localTime());
  append(startsMidLine_ ? kEol + banner : banner);
  startsMidLine_ = false;
}

void ScriptLog::writeLine(const std::string& text) {
  if (keeping_) {
    std::lock_guard guard(keptLock_);
    kept_.push_back(text);
    return;
  }
  append(formatLogLine(clock_.localTime(), text));
}

void ScriptLog::writeLine(const std::string& first, const std::string& second) {
  if (keeping_) {
    std::lock_guard guard(keptLock_);
    kept_.push_back(first + " " + second);
    return;
  }
  append(formatLogLine(clock_.localTime(), first, second));
}

void ScriptLog::writeInvalidParameter(const std::string& parameter) {
  append(formatInvalidParameter(clock_.localTime(), parameter));
}

void ScriptLog::writeEndBanner() {
  append(formatEndBanner(clock_.localTime()), true);
  if (file_) file_->close();
  file_.reset();
}

}  // namespace quillet
