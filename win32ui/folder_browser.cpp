#include "win32ui/folder_browser.h"

#include <shlobj.h>

#include "frontend/folder_browsing.h"

namespace quillet::win32 {

bool FolderBrowser::browse(HWND owner) {
  if (!initialFolder.empty()) initialFolder = trimInitialFolder(initialFolder);
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator)) || allocator == nullptr) return false;

  BROWSEINFOA info{};
  IShellFolder* desktop = nullptr;
  if (!rootPath.empty() && SUCCEEDED(SHGetDesktopFolder(&desktop)) && desktop != nullptr) {
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, rootPath.c_str(), -1, wide, MAX_PATH);
    LPITEMIDLIST root = nullptr;
    const HRESULT parsed = desktop->ParseDisplayName(nullptr, nullptr, wide, nullptr, &root, nullptr);
    desktop->Release();
    if (FAILED(parsed)) {
      if (root != nullptr) allocator->Free(root);
      allocator->Release();
      return false;
    }
    info.pidlRoot = root;
  }
  char display[MAX_PATH] = {};
  info.hwndOwner = owner;
  info.pszDisplayName = display;
  info.lpszTitle = title.empty() ? "Open" : title.c_str();
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | BIF_RETURNFSANCESTORS |
                 (showStatusText ? BIF_STATUSTEXT : 0);
  info.lpfn = callback;
  info.lParam = reinterpret_cast<LPARAM>(this);

  bool result = false;
  LPITEMIDLIST chosen = SHBrowseForFolderA(&info);
  if (chosen != nullptr) {
    imageIndex = info.iImage;
    char path[MAX_PATH] = {};
    result = SHGetPathFromIDListA(chosen, path) != FALSE;
    if (result) selectedPath = path;
    allocator->Free(chosen);
  }
  if (info.pidlRoot != nullptr) allocator->Free(const_cast<LPITEMIDLIST>(info.pidlRoot));
  allocator->Release();
  return result;
}

int CALLBACK FolderBrowser::callback(HWND window, UINT event, LPARAM data, LPARAM selfData) {
  auto* self = reinterpret_cast<FolderBrowser*>(selfData);
  if (event == BFFM_INITIALIZED) {
    if (!self->initialFolder.empty()) {
      SendMessageA(window, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(self->initialFolder.c_str()));
    }
    if (!self->caption.empty()) SetWindowTextA(window, self->caption.c_str());
  } else if (event == BFFM_SELCHANGED) {
    char path[MAX_PATH] = {};
    if (!SHGetPathFromIDListA(reinterpret_cast<LPCITEMIDLIST>(data), path)) path[0] = 0;
    std::string status;
    // A place that is no file-system folder (it has no path) is never a valid choice.
    const bool valid = self->validateSelection(path, status) && path[0] != 0;
    if (self->showStatusText)
      SendMessageA(window, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(status.c_str()));
    SendMessageA(window, BFFM_ENABLEOK, 0, valid ? 1 : 0);
  }
  return 0;
}

}  // namespace quillet::win32
