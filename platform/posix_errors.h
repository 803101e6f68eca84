// errno classification and message building for the POSIX implementation. Internal to platform/.
#pragma once

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/status.h"

namespace quillet {

inline ErrorKind classifyErrno(int err) {
  switch (err) {
    case EEXIST: return ErrorKind::AlreadyExists;
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case EISDIR:
    case EINVAL:
    case ELOOP: return ErrorKind::WrongPath;
    case ENOSPC:
    case EDQUOT: return ErrorKind::DiskFull;
    case EOPNOTSUPP: return ErrorKind::Unsupported;
    default: return ErrorKind::Other;
  }
}

// strerror_r comes in two forms, chosen by the C library's feature macros: the GNU one returns the
// text (which may or may not be in buffer), the POSIX one fills buffer and returns 0 on success.
inline std::string errnoText(const char* text, const char*) { return text; }
inline std::string errnoText(int failed, const char* buffer) {
  return failed == 0 ? std::string(buffer) : std::string();
}

// The system's own description of err. Unlike strerror, safe with several writers failing at once.
inline std::string errnoDescription(int err) {
  char buffer[256] = {};
  std::string text = errnoText(::strerror_r(err, buffer, sizeof buffer), buffer);
  if (text.empty()) text = "Unknown error " + std::to_string(err);
  return text;
}

// "path: description" with the system's own description of err.
inline Status posixError(const std::string& context, int err) {
  return Status::failure(classifyErrno(err), err, context, errnoDescription(err));
}

}  // namespace quillet
