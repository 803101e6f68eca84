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
