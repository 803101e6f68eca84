#include "frontend/folder_browsing.h"

namespace quillet {

std::string trimInitialFolder(const std::string& folder) {
  std::size_t end = folder.find_last_not_of(" \t\r\n\v\f");
  end = end == std::string::npos ? 0 : end + 1;
  if (end > 0 && (folder[end - 1] == '\\' || folder[end - 1] == '/')) --end;
  return folder.substr(0, end);
}

}  // namespace quillet
