// The file-system name mapping shared by every implementation.
#include <algorithm>
#include <cctype>

#include "platform/file_system.h"

namespace quillet {

std::string mapFileSystemName(const std::string& systemType) {
  std::string lower = systemType;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "vfat") return "FAT32";
  if (lower == "msdos") return "FAT";
  if (lower == "ntfs" || lower == "ntfs3" || lower == "fuseblk") return "NTFS";
  std::string upper = systemType;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return upper;
}

}  // namespace quillet
