#include "platform/path.h"

namespace quillet {

bool isSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

bool endsWithSeparator(std::string_view path) { return !path.empty() && isSeparator(path.back()); }

std::string withTrailingSeparator(std::string path) {
  if (!path.empty() && !endsWithSeparator(path)) path.push_back(kSeparator);
  return path;
}

std::string withoutTrailingSeparator(std::string path) {
  while (path.size() > 1 && endsWithSeparator(path)) {
#ifdef _WIN32
    if (path.size() == 3 && path[1] == ':') break;
#endif
    path.pop_back();
  }
  return path;
}

bool isAbsolutePath(std::string_view path) {
#ifdef _WIN32
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (path.size() >= 3 && isLetter(path[0]) && path[1] == ':' && isSeparator(path[2])) return true;
  // A network share: two separators, a server name, a separator and a share name.
  if (path.size() < 5 || !isSeparator(path[0]) || !isSeparator(path[1])) return false;
  std::size_t i = 2;
  while (i < path.size() && !isSeparator(path[i])) ++i;
  if (i == 2 || i + 1 >= path.size()) return false;
  return !isSeparator(path[i + 1]);
#else
  return !path.empty() && path[0] == '/';
#endif
}

std::string folderPart(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (isSeparator(path[i - 1])) return std::string(path.substr(0, i));
  }
  return "";
}

std::string joinPath(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && !endsWithSeparator(out)) out.push_back(kSeparator);
  out.append(name);
  return out;
}

std::string confinedRelativePath(std::string_view path) {
  std::string out;
  std::size_t start = 0;
  [[maybe_unused]] bool first = true;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !isSeparator(path[end])) ++end;
    std::string_view part = path.substr(start, end - start);
    start = end + 1;
#ifdef _WIN32
    // "C:name" is relative to the drive's current folder, not to the folder it is joined to.
    if (first && part.size() >= 2 && part[1] == ':') part.remove_prefix(2);
    const bool onlyDots = part.find_first_not_of(". ") == std::string_view::npos;
#else
    const bool onlyDots = part.find_first_not_of('.') == std::string_view::npos;
#endif
    first = false;
    if (onlyDots) continue;  // the empty part included
    if (!out.empty()) out.push_back(kSeparator);
    out.append(part);
  }
  return out;
}

std::string displayedRootFolder(const std::string& stored, const std::string& homeFolder) {
#ifdef _WIN32
  (void)homeFolder;
  return stored;
#else
  if (stored != "C:\\Test\\") return stored;
  std::string home = homeFolder;
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  if (home == "/") home.clear();
  return home + "/Test/";
#endif
}

}  // namespace quillet
