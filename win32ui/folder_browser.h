// The shell's folder picker for one selection: starts on a given folder (trailing blanks and one
// trailing separator dropped), returns only file-system folders. UI thread only; the thread must
// have COM initialised (apartment-threaded).
#pragma once

#include <windows.h>

#include <string>

namespace quillet::win32 {

class FolderBrowser {
 public:
  explicit FolderBrowser(std::string initialFolder) : initialFolder(std::move(initialFolder)) {}
  virtual ~FolderBrowser() = default;

  std::string caption;       // the picker window's caption when not empty
  std::string selectedPath;  // the chosen folder
  std::string rootPath;      // the tree starts here instead of the desktop when not empty
  std::string initialFolder;
  std::string title;  // the instruction above the tree; "Open" when empty
  int imageIndex = 0;
  bool showStatusText = false;

  // Runs the modal picker over owner (may be null). True when a folder was chosen (selectedPath
  // holds it); false on cancel or when any step fails.
  bool browse(HWND owner);

  // Asked at every selection change; true enables OK. Accepts every folder.
  virtual bool validateSelection(const std::string& path, std::string& statusText) {
    (void)path;
    statusText.clear();
    return true;
  }

 private:
  static int CALLBACK callback(HWND window, UINT event, LPARAM data, LPARAM self);
};

}  // namespace quillet::win32
