// Everything the engine asks of the operating system's file and volume services. One abstract
// interface so that shared code has no #ifdef and tests can substitute a fake; posix_file_system.cpp
// and win32_file_system.cpp implement it and CMake picks one.
//
// Thread safety: implementations keep no mutable shared state; one object may be used from the
// front-end thread and the worker thread at the same time. A FileHandle or FolderReader belongs to
// the thread that opened it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/status.h"

namespace quillet {

struct VolumeSpace {
  std::int64_t availableToCaller = 0;  // free bytes this user may still write
  std::int64_t total = 0;              // size of the volume in bytes
};

struct FolderEntry {
  std::string name;
  bool isDirectory = false;  // a real folder (never true for a link to one)
  bool isHidden = false;     // POSIX: name begins with '.'; Windows: hidden attribute
  bool isSystem = false;     // Windows system attribute; never set on POSIX
  bool isLink = false;       // symbolic link or reparse point: never entered, counted or filled
  bool isSpecial = false;    // POSIX: a FIFO, socket or device node; opening one may block or act
};

// Enumerates one folder, "." and ".." excluded, in the order the file system returns entries.
class FolderReader {
 public:
  virtual ~FolderReader() = default;
  // Fills entry and returns true, returns false at the end of the listing, or fails when the
  // listing cannot be read further (the listing ends there).
  virtual Result<bool> next(FolderEntry& entry) = 0;
  // For a folder entry just returned by next(): false only when it certainly holds no sub-folder,
  // which some file systems tell from a folder's link count far more cheaply than a listing; true
  // whenever that is not known. Lets a walk over a large tree skip listing its leaves.
  virtual bool entryMayHaveSubfolders(const FolderEntry& entry) {
    (void)entry;
    return true;
  }
  // For a file entry just returned by next() (not a folder or link): its length in bytes, read
  // without following a link (one stat on POSIX; Windows has it from the listing). A walk that
  // needs only sizes reads them here rather than opening each file.
  virtual Result<std::int64_t> entrySize(const FolderEntry& entry) {
    return Status::failure(ErrorKind::Unsupported, 0, entry.name, "no entry sizes here");
  }
};

// An open file created by createNewFile. Closed by close() or by the destructor.
class FileHandle {
 public:
  virtual ~FileHandle() = default;
  // Writes all of size bytes unless the system refuses; written receives the bytes that reached
  // the file even on failure (a disk that fills mid-write gives a short count and DiskFull).
  virtual Status write(const void* data, std::size_t size, std::size_t& written) = 0;
  // Reserves real blocks for the first size bytes and sets the file's length to size. Never makes
  // a sparse file. Failure leaves the file at whatever length the system left.
  virtual Status allocate(std::int64_t size) = 0;
  // Returns once the data written so far is on the storage, not only in the system's cache
  // (fdatasync; FlushFileBuffers). A failure (an I/O error, a full thin volume) means written data
  // may be lost.
  virtual Status syncData() = 0;
  virtual Status close() = 0;
};

// How a file opened for checking is read past the system's cache.
enum class UncachedRead {
  Direct,   // every read goes to the device (O_DIRECT, FILE_FLAG_NO_BUFFERING)
  Dropped,  // the file's data was flushed and its cached pages dropped before the first read
  Cached,   // neither was possible: the bytes may come from the cache
};

// Offsets, sizes and buffer addresses of ReadHandle::read are multiples of this: it covers the
// sector sizes of the devices uncached reads go to.
inline constexpr std::size_t kUncachedAlignment = 4096;

// An existing regular file opened for reading past the cache. Closed by the destructor.
class ReadHandle {
 public:
  virtual ~ReadHandle() = default;
  // The file's length when it was opened.
  virtual std::int64_t size() const = 0;
  // Bytes the file system holds in reserve for the file (its allocated blocks); -1 when unknown.
  virtual std::int64_t allocatedBytes() const = 0;
  virtual UncachedRead method() const = 0;
  // Reads up to size bytes from offset into data (all three aligned to kUncachedAlignment).
  // Returns the bytes read: fewer than size only at the end of the file. Once a first read has
  // returned, several threads may read at once, each at its own offset.
  virtual Result<std::size_t> read(std::int64_t offset, void* data, std::size_t size) = 0;
};

// What a path names, as one look at it tells; links in the path's folder part are followed, the
// last part is looked at itself.
enum class PathKind {
  Missing,  // nothing of that name, or nothing the caller may look at
  Folder,
  File,          // a regular file or any other node that is not a folder (FIFO, device, socket)
  LinkToFolder,  // a symbolic link or reparse point that leads to a folder
  LinkToOther,   // a link that leads to anything else
  BrokenLink,    // a link that leads nowhere (its target is missing, or links loop)
};

// Local wall-clock time, as the log's time stamps show it.
struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Implementations provide the virtual primitives; the non-virtual methods are composed of them
// once, here, so that every implementation answers them by the same rule.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The primitive every question about an existing name is answered from.
  virtual PathKind pathKind(const std::string& path) = 0;
  // True when a file, folder or link of that name exists (links are not followed).
  bool exists(const std::string& path) { return pathKind(path) != PathKind::Missing; }
  // True when path is a folder, or a link to one (the path the user chose may pass through links).
  bool isFolder(const std::string& path) {
    const PathKind kind = pathKind(path);
    return kind == PathKind::Folder || kind == PathKind::LinkToFolder;
  }
  // The path itself when it leads to something (a link that leads nowhere does not), otherwise the
  // nearest of its ancestors that does; trailing separators are dropped and a bare drive ("C:")
  // stands for its root. A relative path that runs out of ancestors ends at the working folder
  // ("."). Empty when nothing does: an empty path, or a root that does not exist ("X:\" of no
  // drive).
  std::string nearestExistingAncestor(const std::string& path);

  // Free bytes available to the caller and total bytes of the volume that holds path. Fails when
  // path does not exist (WrongPath, also when a part of it is not a folder) or cannot be asked.
  virtual Result<VolumeSpace> volumeSpace(const std::string& path) = 0;
  // Bytes per cluster (allocation unit) of the volume that holds path.
  virtual Result<std::int32_t> clusterSize(const std::string& path) = 0;
  // File-system name of the volume that holds path, mapped to the names the size-limit table
  // knows (FAT32, NTFS, EXT4, TMPFS, ...). path may not exist yet: its nearest existing ancestor
  // decides.
  virtual Result<std::string> fileSystemName(const std::string& path) = 0;
  // Root of the volume that holds path ("C:\" on Windows, the mount point on POSIX), found from the
  // nearest existing ancestor; ends with a separator.
  virtual std::string driveRoot(const std::string& path) = 0;
  // True when a and b (each found from its nearest existing ancestor) are held by one volume, so
  // that what takes one's storage takes the other's too. Where the system tells nothing better, the
  // two drive roots decide.
  virtual bool sameVolume(const std::string& a, const std::string& b) { return driveRoot(a) == driveRoot(b); }
  // How the full-volume text names the volume that holds path: the upper-cased drive letter on
  // Windows, the mount point (without its final separator) on POSIX.
  virtual std::string volumeDisplayName(const std::string& path) = 0;

  // Creates one folder. AlreadyExists when any entry of that name exists; WrongPath when the
  // parent is missing or not a folder; other failures as classified.
  virtual Status createFolder(const std::string& path) = 0;
  // Creates a new file for writing, exclusively: AlreadyExists when the name is taken (so an
  // existing file is never truncated and a link is never followed).
  virtual Result<std::unique_ptr<FileHandle>> createNewFile(const std::string& path) = 0;
  // The same two creations for a relative path below a folder the engine already trusts (the root
  // or a listed sub-folder), as a name mask with a folder part makes them: no link and no ".." in
  // relative is followed, so nothing is created outside base (WrongPath instead).
  virtual Status createFolderBelow(const std::string& base, const std::string& relative) = 0;
  virtual Result<std::unique_ptr<FileHandle>> createNewFileBelow(const std::string& base,
                                                                 const std::string& relative) = 0;
  // Opens a folder for enumeration.
  virtual Result<std::unique_ptr<FolderReader>> openFolder(const std::string& path) = 0;
  // Opens the existing regular file relative below base (parts joined by the system's separator)
  // for reading past the cache, as createNewFileBelow walks: no link on the way or at the end is
  // followed and no part climbs (WrongPath); anything but a regular file is refused (WrongPath).
  virtual Result<std::unique_ptr<ReadHandle>> openForCheck(const std::string& base,
                                                           const std::string& relative) {
    return Status::failure(ErrorKind::Unsupported, 0, base + relative, "no uncached reading here");
  }
  // Writes every cached change of the volume that holds path (a folder) to its storage and returns
  // when that is done (syncfs on POSIX; on Windows a flush of the volume's handle). Unsupported when
  // the system refuses the flush itself rather than fails it (Windows without administrator
  // rights, a network share); any other failure means written data may be lost.
  virtual Status syncVolume(const std::string& path) = 0;
};

// The implementation for the system the program was built for.
std::unique_ptr<FileSystem> makeSystemFileSystem();

// Maps a system file-system type name to the name the size-limit table uses
// (vfat -> FAT32, ext4 -> EXT4, tmpfs -> TMPFS, ...).
std::string mapFileSystemName(const std::string& systemType);

}  // namespace quillet
