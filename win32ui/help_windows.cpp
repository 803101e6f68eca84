#include "win32ui/help_windows.h"

#include <cstring>

#include "frontend/help_layout.h"
#include "script/scripts_help_text.h"
#include "win32ui/dialog_template.h"
#include "win32ui/owner_draw_button.h"
#include "win32ui/resource_ids.h"

namespace quillet::win32 {

namespace {

constexpr int kHelpTextId = 1074;
constexpr int kProductLineId = 1079;
constexpr int kCreditLineId = 1080;
constexpr int kNoId = 0xFFFF;
constexpr const char* kHelpMutexName = "Local\\TalvaneQuilletScriptsHelp";
constexpr DWORD kFrameStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;

// A help or about dialog: the OK button owner-drawn, OK and Esc close, F1 does nothing.
struct SmallDialog {
  OwnerDrawButton ok;
  HANDLE releaseOnInit = nullptr;  // the help window's mutex, released once the window exists
  std::string productLine;
  bool about = false;
};

INT_PTR CALLBACK smallDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<SmallDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      self = reinterpret_cast<SmallDialog*>(lParam);
      SetWindowLongPtrA(window, DWLP_USER, lParam);
      self->ok.attach(GetDlgItem(window, IDOK));
      if (self->about) {
        SetDlgItemTextA(window, kProductLineId, self->productLine.c_str());
        SetDlgItemTextA(window, kCreditLineId, aboutCreditLine().c_str());
        SetFocus(GetDlgItem(window, IDOK));
      } else {
        SetDlgItemTextA(window, kHelpTextId, scriptsHelpText().c_str());
        SetFocus(GetDlgItem(window, kHelpTextId));
      }
      if (self->releaseOnInit != nullptr) ReleaseMutex(self->releaseOnInit);
      return FALSE;
    case WM_DRAWITEM: {
      const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (auto* button = OwnerDrawButton::from(draw->hwndItem)) {
        button->draw(*draw);
        return TRUE;
      }
      return FALSE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(window, LOWORD(wParam));
        return TRUE;
      }
      return FALSE;
    case WM_HELP: return TRUE;
    default: return FALSE;
  }
}

void addRows(DialogTemplate& dialog, const HelpDialogLayout& layout, bool about) {
  int label = 0;
  for (const HelpControlRow& row : layout.controls) {
    const DWORD child = WS_CHILD | WS_VISIBLE;
    switch (row.kind) {
      case HelpControlKind::Frame:
        dialog.add(ItemClass::Button, "", kNoId, child | BS_GROUPBOX, row.x, row.y, row.width, row.height);
        break;
      case HelpControlKind::Label:
        dialog.add(ItemClass::Static, "", label++ == 0 ? kProductLineId : kCreditLineId,
                   child | SS_LEFT | SS_NOPREFIX, row.x, row.y, row.width, row.height);
        break;
      case HelpControlKind::Separator:
        dialog.add(ItemClass::Static, "", kNoId, child | SS_SUNKEN, row.x, row.y, row.width, row.height);
        break;
      case HelpControlKind::TextBox:
        dialog.add(ItemClass::Edit, "", kHelpTextId,
                   child | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
                   row.x, row.y, row.width, row.height);
        break;
      case HelpControlKind::OkButton:
        dialog.add(ItemClass::Button, kOkText, IDOK, child | WS_TABSTOP | BS_DEFPUSHBUTTON, row.x, row.y,
                   row.width, row.height);
        break;
    }
  }
  (void)about;
}

// The open help window: a top-level window whose title is the help caption, letter case aside.
HWND findHelpWindow() {
  struct Search {
    HWND found = nullptr;
  } search;
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        char title[64] = {};
        GetWindowTextA(window, title, sizeof title);
        if (_stricmp(title, kScriptsHelpCaption) != 0) return TRUE;
        reinterpret_cast<Search*>(data)->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

void openOrActivateScriptsHelp(HWND owner) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kHelpMutexName);
  // Another caller between its search and its window's creation holds the mutex; a caller that
  // died meanwhile leaves it abandoned, which is as good as free.
  if (mutex != nullptr) WaitForSingleObject(mutex, 10000);
  if (HWND open = findHelpWindow(); open != nullptr) {
    if (mutex != nullptr) {
      ReleaseMutex(mutex);
      CloseHandle(mutex);
    }
    if (IsIconic(open)) ShowWindow(open, SW_RESTORE);
    SetForegroundWindow(open);
    return;
  }
  const HelpDialogLayout layout = scriptsHelpLayout();
  DialogTemplate dialog(layout.caption, kFrameStyle, owner == nullptr ? WS_EX_APPWINDOW : 0, layout.width,
                        layout.height);
  addRows(dialog, layout, false);
  SmallDialog state;
  state.releaseOnInit = mutex;
  const INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), dialog.get(), owner,
                                                 smallDialogProc, reinterpret_cast<LPARAM>(&state));
  if (mutex != nullptr) {
    if (result == -1) ReleaseMutex(mutex);  // the window never came up
    CloseHandle(mutex);
  }
}

void runAboutBox(RegistryAccess& access, HWND owner) {
  const HelpDialogLayout layout = aboutLayout();
  DialogTemplate dialog(layout.caption, kFrameStyle, 0, layout.width, layout.height);
  addRows(dialog, layout, true);
  SmallDialog state;
  state.about = true;
  state.productLine = aboutProductLine(readProductVersion(access));
  DialogBoxIndirectParamA(GetModuleHandleA(nullptr), dialog.get(), owner, smallDialogProc,
                          reinterpret_cast<LPARAM>(&state));
}

// ---- Splash -------------------------------------------------------------------------------------

namespace {
constexpr const char* kSplashClass = "QuilletSplash";
// Never shown (the window has no caption); it lets tools and tests find the window.
constexpr const char* kSplashName = "Talvane Quillet splash";
}  // namespace

SplashWindow::~SplashWindow() { close(); }

void SplashWindow::create() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  bitmap = static_cast<HBITMAP>(
      LoadImageA(instance, MAKEINTRESOURCEA(kSplashBitmapResource), IMAGE_BITMAP, 0, 0, 0));
  if (bitmap != nullptr) {
    BITMAP info{};
    GetObjectA(bitmap, sizeof info, &info);
    width = info.bmWidth;
    height = info.bmHeight;
  }
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // the standard arrow
  windowClass.lpszClassName = kSplashClass;
  RegisterClassA(&windowClass);
  window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_DLGMODALFRAME, kSplashClass, kSplashName,
                           WS_POPUP, 0, 0, width, height, nullptr, nullptr, instance, this);
  if (window == nullptr) return;
  RECT area{};
  GetWindowRect(window, &area);
  const int w = area.right - area.left, h = area.bottom - area.top;
  SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(window, SW_SHOW);
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void SplashWindow::setProduct(const std::string& text, bool shown) {
  product = text;
  productShown = shown;
}

void SplashWindow::setVersion(const std::string& text, bool shown) {
  version = text;
  versionShown = shown;
}

void SplashWindow::setMessage(const std::string& text) {
  message = text;
  if (window != nullptr) RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void SplashWindow::present() {
  // Nothing else runs on this thread during the sequence's pauses: what the window system has
  // queued for the window (its first showing) is handled now.
  MSG msg;
  while (window != nullptr && PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  if (window != nullptr) UpdateWindow(window);
  GdiFlush();
}

void SplashWindow::close() {
  if (window != nullptr) {
    ShowWindow(window, SW_HIDE);
    DestroyWindow(window);
    window = nullptr;
  }
  if (bitmap != nullptr) {
    DeleteObject(bitmap);
    bitmap = nullptr;
  }
}

LRESULT CALLBACK SplashWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrA(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
  }
  auto* self = reinterpret_cast<SplashWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (message == WM_PAINT && self != nullptr) {
    self->paint();
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void SplashWindow::paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  if (bitmap != nullptr) {
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
    DeleteDC(memory);
  } else {
    RECT all{0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  }
  LOGFONTA description{};
  description.lfHeight = kSplashFontHeight;
  description.lfWidth = kSplashCharWidth;
  std::strncpy(description.lfFaceName, kSplashFontFace, LF_FACESIZE - 1);
  HFONT font = CreateFontIndirectA(&description);
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetTextColor(dc, RGB(0, 0, 0));
  SetBkMode(dc, TRANSPARENT);
  RECT client{};
  GetClientRect(window, &client);
  const SplashPoint at = splashMessagePosition(client.right - client.left, message.size());
  TextOutA(dc, at.x, at.y, message.c_str(), static_cast<int>(message.size()));
  SetTextColor(dc, RGB(255, 255, 255));
  if (productShown) {
    TextOutA(dc, kSplashProductPosition.x, kSplashProductPosition.y, product.c_str(),
             static_cast<int>(product.size()));
  }
  if (versionShown) {
    const SplashPoint v = splashVersionPosition(client.right - client.left, version.size());
    TextOutA(dc, v.x, v.y, version.c_str(), static_cast<int>(version.size()));
  }
  SelectObject(dc, oldFont);
  SetBkMode(dc, OPAQUE);
  DeleteObject(font);
  EndPaint(window, &ps);
}

}  // namespace quillet::win32
