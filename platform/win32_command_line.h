// Builds a Windows command line that the C runtime splits back into the same argument vector.
// Pure function; thread-safe. Used by the Win32 layer and by the test runner on Windows.
#pragma once

#include <string>
#include <vector>

namespace quillet {

// One argument as the runtime's splitter reads it back: quoted when it is empty or holds blanks or
// quotes, a quote escaped with a backslash, backslashes doubled only where a quote follows them.
inline std::string quotedWin32Argument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, '\\');
  out.push_back('"');
  return out;
}

inline std::string win32CommandLine(const std::vector<std::string>& args) {
  std::string line;
  for (const auto& arg : args) {
    if (!line.empty()) line.push_back(' ');
    line += quotedWin32Argument(arg);
  }
  return line;
}

}  // namespace quillet
