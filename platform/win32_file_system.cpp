// FileSystem on Win32: GetDiskFreeSpace(Ex)A for volume figures, GetVolumeInformationA for the
// file-system name, CREATE_NEW creation, the end of file moved out for allocation, FindFirstFileA
// for enumeration. Stateless; thread-safe.
#include <algorithm>
#include <vector>

#include "platform/ascii.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/win32_errors.h"

namespace quillet {
namespace {

// The bytes that fit when a write meets a full disk are found block by block, in the engine's
// accounting unit, so that a disk filling mid-write still yields a short count.
constexpr std::size_t kFullDiskProbe = 1024;

bool entryExists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Win32FileHandle final : public FileHandle {
 public:
  Win32FileHandle(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  // The engine closes every file itself and checks the result; a handle still open here belongs
  // to a path that already failed, so what closing says adds nothing.
  ~Win32FileHandle() override { (void)close(); }

  Status write(const void* data, std::size_t size, std::size_t& written) override {
    written = 0;
    const char* p = static_cast<const char*>(data);
    while (written < size) {
      const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - written, 1u << 30));
      DWORD done = 0;
      if (!::WriteFile(handle_, p + written, piece, &done, nullptr)) {
        const DWORD err = ::GetLastError();
        if (classifyWin32Error(err) == ErrorKind::DiskFull && piece > kFullDiskProbe) {
          // A full disk may refuse a large write whole although part of it still fits.
          return writeWhatFits(p, size, written);
        }
        return win32Error(path_, err);
      }
      if (done == 0) return win32Error(path_, ERROR_DISK_FULL);
      written += done;
    }
    return {};
  }

  Status allocate(std::int64_t size) override {
    if (size <= 0) return {};
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (!::SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN)) return win32Error(path_, ::GetLastError());
    // Setting the end of file reserves the clusters up to it (the valid data length stays at zero,
    // so nothing is written and reads see zeros).
    if (!::SetEndOfFile(handle_)) return win32Error(path_, ::GetLastError());
    return {};
  }

  Status syncData() override {
    if (!::FlushFileBuffers(handle_)) return win32Error(path_, ::GetLastError());
    return {};
  }

  Status close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return {};
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (!::CloseHandle(handle)) return win32Error(path_, ::GetLastError());
    return {};
  }

 private:
  Status writeWhatFits(const char* p, std::size_t size, std::size_t& written) {
    while (written < size) {
      const DWORD piece = static_cast<DWORD>(std::min(size - written, kFullDiskProbe));
      DWORD done = 0;
      if (!::WriteFile(handle_, p + written, piece, &done, nullptr))
        return win32Error(path_, ::GetLastError());
      if (done == 0) return win32Error(path_, ERROR_DISK_FULL);
      written += done;
    }
    return {};
  }

  HANDLE handle_;
  std::string path_;
};

class Win32FolderReader final : public FolderReader {
 public:
  // first holds the entry FindFirstFileA already returned; handle may be invalid for an empty
  // listing.
  Win32FolderReader(HANDLE handle, const WIN32_FIND_DATAA& first) : handle_(handle), pending_(first) {
    hasPending_ = handle_ != INVALID_HANDLE_VALUE;
  }
  ~Win32FolderReader() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::FindClose(handle_);
  }

  Result<bool> next(FolderEntry& entry) override {
    for (;;) {
      if (!hasPending_) {
        if (handle_ == INVALID_HANDLE_VALUE) return false;
        if (!::FindNextFileA(handle_, &pending_)) {
          const DWORD err = ::GetLastError();
          if (err == ERROR_NO_MORE_FILES) return false;
          return win32Error("folder listing", err);
        }
      }
      hasPending_ = false;
      const char* name = pending_.cFileName;
      if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
      const DWORD attributes = pending_.dwFileAttributes;
      entry.name = name;
      // A junction or a symbolic link to a folder carries the directory bit too; it is a link.
      entry.isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      entry.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !entry.isLink;
      entry.isHidden = (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
      entry.isSystem = (attributes & FILE_ATTRIBUTE_SYSTEM) != 0;
      return true;
    }
  }

  // The listing already holds the length of the entry next() returned last.
  Result<std::int64_t> entrySize(const FolderEntry& entry) override {
    (void)entry;
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(pending_.nFileSizeHigh) << 32) |
                                     pending_.nFileSizeLow);
  }

 private:
  HANDLE handle_;
  WIN32_FIND_DATAA pending_;
  bool hasPending_ = false;
};

// A file opened for checking with FILE_FLAG_NO_BUFFERING, so that its reads go to the device; a
// volume that refuses the flag is read through the cache (and says so).
class Win32ReadHandle final : public ReadHandle {
 public:
  Win32ReadHandle(HANDLE handle, std::string path, std::int64_t size, std::int64_t allocated, bool direct)
      : handle_(handle), path_(std::move(path)), size_(size), allocated_(allocated), direct_(direct) {}
  ~Win32ReadHandle() override { ::CloseHandle(handle_); }

  std::int64_t size() const override { return size_; }
  std::int64_t allocatedBytes() const override { return allocated_; }
  UncachedRead method() const override { return direct_ ? UncachedRead::Direct : UncachedRead::Cached; }

  Result<std::size_t> read(std::int64_t offset, void* data, std::size_t size) override {
    std::size_t done = 0;
    char* p = static_cast<char*>(data);
    while (done < size) {
      OVERLAPPED at{};
      const std::uint64_t position = static_cast<std::uint64_t>(offset) + done;
      at.Offset = static_cast<DWORD>(position & 0xFFFFFFFFu);
      at.OffsetHigh = static_cast<DWORD>(position >> 32);
      const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
      DWORD got = 0;
      if (!::ReadFile(handle_, p + done, piece, &got, &at)) {
        const DWORD err = ::GetLastError();
        if (err == ERROR_HANDLE_EOF) break;
        return win32Error(path_, err);
      }
      if (got == 0) break;
      done += got;
      if (got < piece) break;
    }
    return done;
  }

 private:
  HANDLE handle_;
  std::string path_;
  std::int64_t size_;
  std::int64_t allocated_;
  bool direct_;
};

class Win32FileSystem final : public FileSystem {
 public:
  Result<VolumeSpace> volumeSpace(const std::string& path) override {
    ULARGE_INTEGER available, total, free;
    if (!::GetDiskFreeSpaceExA(path.c_str(), &available, &total, &free))
      return win32Error(path, ::GetLastError());
    // The query answers for a missing folder too when its drive exists; the figures belong to a
    // path that exists, as on every system.
    if (!entryExists(path)) return win32Error(path, ERROR_PATH_NOT_FOUND);
    VolumeSpace space;
    space.availableToCaller = static_cast<std::int64_t>(available.QuadPart);
    space.total = static_cast<std::int64_t>(total.QuadPart);
    return space;
  }

  Result<std::int32_t> clusterSize(const std::string& path) override {
    const std::string root = volumeRoot(path);
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (root.empty() || !::GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                                             &totalClusters)) {
      return win32Error(path, root.empty() ? ERROR_PATH_NOT_FOUND : ::GetLastError());
    }
    return static_cast<std::int32_t>(sectorsPerCluster * bytesPerSector);
  }

  Result<std::string> fileSystemName(const std::string& path) override {
    const std::string root = volumeRoot(path);
    char name[MAX_PATH + 1] = {};
    if (root.empty() ||
        !::GetVolumeInformationA(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr, name, sizeof name)) {
      return win32Error(path, root.empty() ? ERROR_PATH_NOT_FOUND : ::GetLastError());
    }
    return asciiUpper(name);
  }

  std::string driveRoot(const std::string& path) override {
    // Whatever the first character is: the volume texts show it as the drive letter.
    if (path.empty()) return "";
    return std::string(1, path[0]) + ":\\";
  }

  // Drive letters and share names are written in either case, and a volume mounted on a folder is
  // a volume of its own: the volume roots the system finds are compared, blind to case.
  bool sameVolume(const std::string& a, const std::string& b) override {
    const std::string rootA = volumeRoot(a), rootB = volumeRoot(b);
    if (rootA.empty() || rootB.empty()) return asciiUpper(driveRoot(a)) == asciiUpper(driveRoot(b));
    return asciiUpper(rootA) == asciiUpper(rootB);
  }

  std::string volumeDisplayName(const std::string& path) override {
    if (path.empty()) return "";
    return std::string(1, asciiUpper(path[0]));
  }

  PathKind pathKind(const std::string& path) override {
    // The attributes are the entry's own: a reparse point is not followed, and its directory bit
    // tells what it stands for.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
      return folder ? PathKind::LinkToFolder : PathKind::LinkToOther;
    return folder ? PathKind::Folder : PathKind::File;
  }

  Status createFolderBelow(const std::string& base, const std::string& relative) override {
    const std::string path = base + relative;
    if (const DWORD refused = refusedBelow(base, relative); refused != 0) return win32Error(path, refused);
    return createFolder(path);
  }

  Result<std::unique_ptr<FileHandle>> createNewFileBelow(const std::string& base,
                                                         const std::string& relative) override {
    const std::string path = base + relative;
    if (const DWORD refused = refusedBelow(base, relative); refused != 0) return win32Error(path, refused);
    return createNewFile(path);
  }

  Result<std::unique_ptr<ReadHandle>> openForCheck(const std::string& base,
                                                   const std::string& relative) override {
    const std::string path = base + relative;
    // A folder (base itself included) is no file to read: refused as a wrong path, in the system's
    // own words.
    const auto notAFile = [&path](DWORD code) {
      return Status::failure(ErrorKind::WrongPath, static_cast<int>(code), path, win32Description(code));
    };
    if (const DWORD refused = refusedBelow(base, relative); refused != 0) {
      return refused == ERROR_ALREADY_EXISTS ? notAFile(refused) : win32Error(path, refused);
    }
    // The reparse point itself is opened, never what it leads to; it is then refused below.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN;
    bool direct = true;
    HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  flags | FILE_FLAG_NO_BUFFERING, nullptr);
    if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_INVALID_PARAMETER) {
      direct = false;
      handle = ::CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, flags, nullptr);
    }
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD err = ::GetLastError();
      // Opening a folder as a file is denied.
      if (err == ERROR_ACCESS_DENIED && pathKind(path) == PathKind::Folder) return notAFile(err);
      return win32Error(path, err);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(handle, &info)) {
      const DWORD err = ::GetLastError();
      ::CloseHandle(handle);
      return win32Error(path, err);
    }
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        ::GetFileType(handle) != FILE_TYPE_DISK) {
      ::CloseHandle(handle);
      return win32Error(path, ERROR_BAD_PATHNAME);
    }
    const std::int64_t size =
        static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    std::int64_t allocated = -1;
    FILE_STANDARD_INFO standard{};
    if (::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
      allocated = standard.AllocationSize.QuadPart;
    }
    return std::unique_ptr<ReadHandle>(new Win32ReadHandle(handle, path, size, allocated, direct));
  }

  Status createFolder(const std::string& path) override {
    if (::CreateDirectoryA(path.c_str(), nullptr)) return {};
    return win32Error(path, ::GetLastError());
  }

  Result<std::unique_ptr<FileHandle>> createNewFile(const std::string& path) override {
    // CREATE_NEW fails on any existing name, a link's included, so nothing is truncated or followed.
    const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return win32Error(path, ::GetLastError());
    return std::unique_ptr<FileHandle>(new Win32FileHandle(handle, path));
  }

  Result<std::unique_ptr<FolderReader>> openFolder(const std::string& path) override {
    WIN32_FIND_DATAA first{};
    const HANDLE handle = ::FindFirstFileA(joinPath(path, "*").c_str(), &first);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD err = ::GetLastError();
      // A drive root holds no "." or "..": an empty one lists nothing at all.
      const DWORD attributes = ::GetFileAttributesA(path.c_str());
      if (err != ERROR_FILE_NOT_FOUND || attributes == INVALID_FILE_ATTRIBUTES ||
          (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return win32Error(path, err == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : err);
      }
    }
    return std::unique_ptr<FolderReader>(new Win32FolderReader(handle, first));
  }

  Status syncVolume(const std::string& path) override {
    const std::string root = volumeRoot(path);
    // The volume's own name ("\\?\Volume{...}\") also serves volumes mounted on a folder; a
    // drive letter's device name is the fallback.
    std::string device;
    char volumeName[MAX_PATH + 1] = {};
    if (!root.empty() && ::GetVolumeNameForVolumeMountPointA(root.c_str(), volumeName, sizeof volumeName)) {
      device = withoutTrailingSeparator(volumeName);
    } else if (root.size() >= 2 && root[1] == ':') {
      device = "\\\\.\\" + root.substr(0, 2);
    } else {
      return Status::failure(ErrorKind::Unsupported, 0, path, "the volume has no device that can be flushed");
    }
    const auto refused = [&root](DWORD err) {
      return Status::failure(ErrorKind::Unsupported, static_cast<int>(err), root,
                             err == ERROR_ACCESS_DENIED
                                 ? "flushing the volume needs administrator rights"
                                 : "the volume cannot be flushed: " + win32Description(err));
    };
    const HANDLE volume =
        ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (volume == INVALID_HANDLE_VALUE) return refused(::GetLastError());
    const bool flushed = ::FlushFileBuffers(volume) != 0;
    const DWORD err = flushed ? 0 : ::GetLastError();
    ::CloseHandle(volume);
    if (flushed) return {};
    // Refusals, not failures: the flush was never done, nothing says data was lost.
    if (err == ERROR_ACCESS_DENIED || classifyWin32Error(err) == ErrorKind::Unsupported) return refused(err);
    return win32Error(root, err);
  }

 private:
  // Why relative cannot be created below base, or 0: a part that climbs or names a drive, or a
  // folder part that is a junction or a symbolic link (which could lead out of base).
  static DWORD refusedBelow(const std::string& base, const std::string& relative) {
    if (relative.empty()) return ERROR_ALREADY_EXISTS;  // base itself, which exists
    std::size_t start = 0;
    for (;;) {
      std::size_t end = start;
      while (end < relative.size() && !isSeparator(relative[end])) ++end;
      const std::string part = relative.substr(start, end - start);
      if (part.empty() || part.find_first_not_of(". ") == std::string::npos ||
          part.find(':') != std::string::npos) {
        return ERROR_BAD_PATHNAME;
      }
      if (end == relative.size()) return 0;
      const DWORD attributes = ::GetFileAttributesA((base + relative.substr(0, end)).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return ERROR_BAD_PATHNAME;
      }
      start = end + 1;
    }
  }

  // The root of the volume that holds path (a drive root, or the folder a volume is mounted on),
  // found from its nearest existing ancestor; the drive letter's root when that cannot be told.
  std::string volumeRoot(const std::string& path) {
    const std::string existing = nearestExistingAncestor(path);
    if (!existing.empty()) {
      std::vector<char> root(existing.size() + MAX_PATH + 2);
      if (::GetVolumePathNameA(existing.c_str(), root.data(), static_cast<DWORD>(root.size()))) {
        return withTrailingSeparator(root.data());
      }
    }
    return path.size() >= 2 && path[1] == ':' ? driveRoot(path) : std::string();
  }
};

}  // namespace

std::unique_ptr<FileSystem> makeSystemFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace quillet
