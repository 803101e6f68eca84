// GetLastError classification and message building for the Win32 implementation. Internal to
// platform/; thread-safe (FormatMessageA keeps no state between calls).
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "platform/status.h"

namespace quillet {

inline ErrorKind classifyWin32Error(DWORD code) {
  switch (code) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return ErrorKind::AlreadyExists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ErrorKind::WrongPath;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ErrorKind::DiskFull;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION: return ErrorKind::Unsupported;
    default: return ErrorKind::Other;
  }
}

// The system's own description of code, without the trailing line break; a plain "error N" when
// the system has none.
inline std::string win32Description(DWORD code) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
  std::string description = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!description.empty() && (description.back() == '\n' || description.back() == '\r' ||
                                  description.back() == ' ' || description.back() == '.')) {
    description.pop_back();
  }
  if (description.empty()) description = "error " + std::to_string(code);
  return description;
}

// "path: description" for a failed call whose GetLastError() was code.
inline Status win32Error(const std::string& context, DWORD code) {
  return Status::failure(classifyWin32Error(code), static_cast<int>(code), context, win32Description(code));
}

}  // namespace quillet
