// The FileSystem methods composed of its primitives, one rule for every implementation.
#include "platform/file_system.h"

#include "platform/path.h"

namespace quillet {
namespace {

bool leadsSomewhere(PathKind kind) { return kind != PathKind::Missing && kind != PathKind::BrokenLink; }

// "C:" alone names a drive; only Windows has them.
bool isBareDrive(const std::string& path) {
#ifdef _WIN32
  const char c = path.size() == 2 ? path[0] : '\0';
  return path.size() == 2 && path[1] == ':' && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'));
#else
  (void)path;
  return false;
#endif
}

}  // namespace

std::string FileSystem::nearestExistingAncestor(const std::string& path) {
  if (path.empty()) return "";
  std::string candidate = withoutTrailingSeparator(path);
  for (;;) {
    if (isBareDrive(candidate)) candidate.push_back(kSeparator);
    if (leadsSomewhere(pathKind(candidate))) return candidate;
    std::size_t cut = candidate.size();
    while (cut > 0 && !isSeparator(candidate[cut - 1])) --cut;
    if (cut == 0) return leadsSomewhere(pathKind(".")) ? "." : "";
    if (cut == candidate.size()) return "";  // a root that does not exist
    candidate = withoutTrailingSeparator(candidate.substr(0, cut));
  }
}

}  // namespace quillet
