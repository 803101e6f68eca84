// The file-system name mapping shared by every implementation.
#include "platform/ascii.h"
#include "platform/file_system.h"

namespace quillet {

std::string mapFileSystemName(const std::string& systemType) {
  const std::string lower = asciiLower(systemType);
  if (lower == "vfat") return "FAT32";
  if (lower == "msdos") return "FAT";
  if (lower == "ntfs" || lower == "ntfs3" || lower == "fuseblk") return "NTFS";
  return asciiUpper(systemType);
}

}  // namespace quillet
