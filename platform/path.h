// Path text helpers shared by every area: the native separator and the folder conventions the
// engine relies on. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace quillet {

#ifdef _WIN32
inline constexpr char kSeparator = '\\';
#else
inline constexpr char kSeparator = '/';
#endif

// True for the native separator; on Windows '/' is accepted as well.
bool isSeparator(char c);

bool endsWithSeparator(std::string_view path);

// The path with one native separator appended unless it already ends with a separator.
// An empty path stays empty.
std::string withTrailingSeparator(std::string path);

// The path with trailing separators removed, except that a root ("/" or "X:\") keeps its own.
std::string withoutTrailingSeparator(std::string path);

// True for a path that names one place whatever the working folder: on POSIX one that starts with
// "/"; on Windows a drive letter, ":" and a separator ("C:\x"), or a network share
// ("\\server\share"). Anything else, including an empty text or one of blanks, is relative.
bool isAbsolutePath(std::string_view path);

// The folder part of a path: everything up to and including its last separator; empty when the
// path holds no separator.
std::string folderPart(std::string_view path);

// Joins a folder (with or without a trailing separator) and a name.
std::string joinPath(std::string_view folder, std::string_view name);

// A relative path that cannot lead out of the folder it is joined to: empty components (a leading,
// trailing or repeated separator), components made only of dots ("." and ".." among them) and, on
// Windows, a drive prefix ("C:") and components of dots and blanks (which Windows reads as dots) are
// dropped; the rest is joined with the native separator.
std::string confinedRelativePath(std::string_view path);

// The root folder the interactive mode shows for the text kept in the settings. The settings'
// default "C:\Test\" names no usable folder on POSIX, so there it stands for <homeFolder>/Test/;
// any other text, and every text on Windows, is shown as kept.
std::string displayedRootFolder(const std::string& stored, const std::string& homeFolder);

// Each prefix before a separator, from the second character on, that folder creation must walk.
// A two-character drive prefix "X:" is skipped on Windows; on POSIX the leading "/" never forms a
// prefix because the search starts at the second character.
template <typename Fn>
bool forEachFolderPrefix(std::string_view path, Fn&& fn) {
  for (std::size_t i = 1; i < path.size(); ++i) {
    if (!isSeparator(path[i])) continue;
    std::string_view prefix = path.substr(0, i);
#ifdef _WIN32
    if (prefix.size() == 2 && prefix[1] == ':') continue;
#endif
    if (!fn(prefix)) return false;
  }
  return true;
}

}  // namespace quillet
