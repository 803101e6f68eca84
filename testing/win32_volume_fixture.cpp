// The volume fixtures on Windows: scratch folders under the user's temporary folder. Volumes cannot
// be mounted from a test there, so MountedVolume always reports why it is skipped. Not thread-safe.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/path.h"
#include "testing/volume_fixture.h"

namespace quillet::test_support {

namespace {

constexpr const char* kNoVolumes =
    "test volumes are mounted only on Linux (as root); on Windows the real-volume cases run in the "
    "end-to-end runs on a mapped drive";

bool removeEntry(const std::string& path, DWORD attributes) {
  // Read-only entries refuse deletion; hidden and system ones do not, but are cleared all the same.
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (isFolder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    WIN32_FIND_DATAA found;
    const HANDLE find = ::FindFirstFileA(joinPath(path, "*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
      std::vector<std::pair<std::string, DWORD>> children;
      do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") children.emplace_back(joinPath(path, name), found.dwFileAttributes);
      } while (::FindNextFileA(find, &found));
      ::FindClose(find);
      for (const auto& [child, childAttributes] : children) removeEntry(child, childAttributes);
    }
  }
  // A link to a folder is removed as a folder, never entered.
  return isFolder ? ::RemoveDirectoryA(path.c_str()) != 0 : ::DeleteFileA(path.c_str()) != 0;
}

bool fileInformation(const std::string& path, FILE_STANDARD_INFO& info) {
  const HANDLE handle = ::CreateFileA(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool ok = ::GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof info) != 0;
  ::CloseHandle(handle);
  return ok;
}

}  // namespace

bool removeTree(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return true;
  return removeEntry(path, attributes);
}

ScratchFolder::ScratchFolder() {
  static std::atomic<unsigned> counter{0};
  char temp[MAX_PATH + 1] = {};
  const DWORD n = ::GetTempPathA(sizeof temp, temp);
  const std::string base = n > 0 && n < sizeof temp ? std::string(temp, n) : std::string(".\\");
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string candidate = joinPath(
        base, "quillet-test-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++));
    if (::CreateDirectoryA(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  std::abort();
}

ScratchFolder::~ScratchFolder() { removeTree(path_); }

std::string ScratchFolder::operator/(const std::string& name) const { return joinPath(path_, name); }

std::unique_ptr<MountedVolume> MountedVolume::tmpfs(std::int64_t, std::string& skipReason, std::int64_t) {
  skipReason = kNoVolumes;
  return nullptr;
}

std::unique_ptr<MountedVolume> MountedVolume::ext4(std::int64_t, std::string& skipReason) {
  skipReason = kNoVolumes;
  return nullptr;
}

MountedVolume::~MountedVolume() = default;

std::string MountedVolume::operator/(const std::string& name) const { return joinPath(mountPoint_, name); }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::int64_t fileSize(const std::string& path) {
  FILE_STANDARD_INFO info;
  return fileInformation(path, info) ? static_cast<std::int64_t>(info.EndOfFile.QuadPart) : -1;
}

std::int64_t allocatedBytes(const std::string& path) {
  FILE_STANDARD_INFO info;
  return fileInformation(path, info) ? static_cast<std::int64_t>(info.AllocationSize.QuadPart) : -1;
}

}  // namespace quillet::test_support
