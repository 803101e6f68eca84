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

// "path: description" with the system's own description of err.
inline Status posixError(const std::string& context, int err) {
  return Status::failure(classifyErrno(err), err, context, std::strerror(err));
}

}  // namespace quillet
