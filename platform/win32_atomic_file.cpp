// Whole-file services on Win32: a temporary file beside the target, FlushFileBuffers, and
// MoveFileExA with write-through; MoveFileExA without replacing for setting files aside.
#include <algorithm>
#include <atomic>

#include "platform/atomic_file.h"
#include "platform/win32_errors.h"

namespace quillet {
namespace {

// Closes a handle when it goes out of scope.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // Closes now; returns GetLastError() of a failed close, 0 otherwise.
  DWORD close() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return ::CloseHandle(handle) ? 0 : ::GetLastError();
  }

 private:
  HANDLE handle_;
};

DWORD writeAll(HANDLE handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD done = 0;
    if (!::WriteFile(handle, bytes.data(), piece, &done, nullptr)) return ::GetLastError();
    if (done == 0) return ERROR_DISK_FULL;
    bytes.remove_prefix(done);
  }
  return 0;
}

std::string temporaryName(const std::string& path, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  return path + ".tmp-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++) + "-" +
         std::to_string((::GetTickCount() ^ (attempt * 2654435761u)) % 1000000);
}

// The file a replace puts its new contents in place of: path itself, or, when path is a link, the
// file it leads to, so that the link stays. Anything there that is not a file on a disk (a folder,
// a device such as NUL or COM1, a pipe) is refused: the move would put a file in its place.
Status replacedTarget(const std::string& path, std::string& target) {
  target = path;
  Handle file(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) {
    const DWORD err = ::GetLastError();
    // Nothing there yet: a new file is made under that name.
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return {};
    return win32Error(path, err);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return Status::failure(ErrorKind::WrongPath, ERROR_INVALID_PARAMETER, path, "not a regular file");
  }
  // The name itself, not what it leads to: another file than the one followed means a link.
  Handle own(::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr));
  BY_HANDLE_FILE_INFORMATION ownInfo{};
  if (!own.valid() || !::GetFileInformationByHandle(own.get(), &ownInfo))
    return win32Error(path, ::GetLastError());
  if (ownInfo.nFileIndexHigh != info.nFileIndexHigh || ownInfo.nFileIndexLow != info.nFileIndexLow ||
      ownInfo.dwVolumeSerialNumber != info.dwVolumeSerialNumber) {
    char final[4096];
    const DWORD n = ::GetFinalPathNameByHandleA(file.get(), final, sizeof final, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= sizeof final)
      return win32Error(path, n == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE);
    target.assign(final, n);
  }
  return {};
}

}  // namespace

Status replaceFileAtomically(const std::string& requestedPath, std::string_view contents,
                             const BeforeReplace& beforeReplace) {
  std::string path;
  if (Status refused = replacedTarget(requestedPath, path); !refused.ok()) return refused;
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  // MoveFileExA refuses a read-only target too; saying so before writing spares the temporary file.
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return win32Error(path, ERROR_ACCESS_DENIED);
  }
  std::string tempPath;
  HANDLE created = INVALID_HANDLE_VALUE;
  for (unsigned attempt = 0; created == INVALID_HANDLE_VALUE; ++attempt) {
    tempPath = temporaryName(path, attempt);
    created = ::CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
    if (created == INVALID_HANDLE_VALUE) {
      const DWORD err = ::GetLastError();
      if ((err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) || attempt == 100)
        return win32Error(tempPath, err);
    }
  }
  Handle file(created);
  DWORD err = writeAll(file.get(), contents);
  if (err == 0 && !::FlushFileBuffers(file.get())) err = ::GetLastError();
  if (const DWORD closeErr = file.close(); err == 0) err = closeErr;
  if (err == 0) {
    if (beforeReplace) beforeReplace(tempPath);
    if (::MoveFileExA(tempPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return {};
    const DWORD moveErr = ::GetLastError();
    ::DeleteFileA(tempPath.c_str());
    return win32Error(path, moveErr);
  }
  ::DeleteFileA(tempPath.c_str());
  return win32Error(tempPath, err);
}

Status readWholeFile(const std::string& path, std::size_t maxBytes, std::string& contents) {
  contents.clear();
  Handle file(::CreateFileA(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return win32Error(path, ::GetLastError());
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.get(), &size)) return win32Error(path, ::GetLastError());
  if (static_cast<unsigned long long>(size.QuadPart) > maxBytes)
    return win32Error(path, ERROR_FILE_TOO_LARGE);
  char buffer[8192];
  for (;;) {
    DWORD done = 0;
    if (!::ReadFile(file.get(), buffer, sizeof buffer, &done, nullptr))
      return win32Error(path, ::GetLastError());
    if (done == 0) return {};
    // The file may grow while it is read.
    if (contents.size() + done > maxBytes) return win32Error(path, ERROR_FILE_TOO_LARGE);
    contents.append(buffer, done);
  }
}

Status setFileAside(const std::string& path, const std::string& asideName, int copies) {
  if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    return win32Error(path, ::GetLastError());
  const auto copyName = [&](int n) { return n == 0 ? asideName : asideName + "." + std::to_string(n); };
  // Oldest first, each over the next older one, so the oldest kept is the one replaced.
  for (int n = copies - 1; n > 0; --n) {
    const std::string from = copyName(n - 1);
    if (!::MoveFileExA(from.c_str(), copyName(n).c_str(), MOVEFILE_REPLACE_EXISTING)) {
      const DWORD err = ::GetLastError();
      if (err != ERROR_FILE_NOT_FOUND) return win32Error(from, err);
    }
  }
  if (!::MoveFileExA(path.c_str(), asideName.c_str(), MOVEFILE_WRITE_THROUGH)) {
    return win32Error(asideName, ::GetLastError());
  }
  return {};
}

}  // namespace quillet
