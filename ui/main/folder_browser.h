// Picks one existing folder through the toolkit's folder-selection window, made on the stack for
// one selection. UI thread only.
#pragma once

#include <QString>

class QWidget;

namespace quillet {

// The folder selected when the browser opens: trailing white space removed, then one trailing
// separator ("\" or "/") removed. Pure.
QString trimInitialFolder(const QString& folder);

class FolderBrowser {
 public:
  explicit FolderBrowser(const QString& initialFolder = {});
  virtual ~FolderBrowser() = default;

  QString caption;   // window caption when not empty
  QString title;     // instruction above the tree; "Open" when empty
  QString rootPath;  // when not empty, the browser starts at this folder
  QString initialFolder;
  QString selectedPath;  // the chosen folder, in native separators, after browse() succeeded
  bool showStatusText = false;

  // Runs the modal browser with owner (or none). True when a folder was chosen and its path is
  // in selectedPath; false when the user cancelled or rootPath names no folder.
  bool browse(QWidget* owner = nullptr);

  // Asked for every selection change: true lets the user choose path; statusText is shown under
  // the tree when showStatusText is set. The base accepts every folder.
  virtual bool validateSelection(const QString& path, QString& statusText);
};

}  // namespace quillet
