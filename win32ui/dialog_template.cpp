#include "win32ui/dialog_template.h"

namespace quillet::win32 {

DialogTemplate::DialogTemplate(const std::string& caption, DWORD style, DWORD exStyle, int width, int height,
                               const std::string& fontFace, int fontPoints) {
  auto dword = [this](DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
  };
  dword(style | DS_SETFONT);
  dword(exStyle);
  words.push_back(0);  // item count, raised by every add
  words.push_back(0);
  words.push_back(0);
  words.push_back(static_cast<WORD>(width));
  words.push_back(static_cast<WORD>(height));
  words.push_back(0);  // no menu
  words.push_back(0);  // the standard dialog class
  addText(caption);
  words.push_back(static_cast<WORD>(fontPoints));
  addText(fontFace);
}

void DialogTemplate::align() {
  if (words.size() % 2 != 0) words.push_back(0);  // items start on a DWORD boundary
}

void DialogTemplate::addText(const std::string& text) {
  // The texts are plain ASCII; each character becomes one UTF-16 unit.
  for (const char c : text) words.push_back(static_cast<WORD>(static_cast<unsigned char>(c)));
  words.push_back(0);
}

void DialogTemplate::addItem(DWORD style, int x, int y, int width, int height, int id) {
  align();
  words.push_back(LOWORD(style));
  words.push_back(HIWORD(style));
  words.push_back(0);  // extended style
  words.push_back(0);
  words.push_back(static_cast<WORD>(x));
  words.push_back(static_cast<WORD>(y));
  words.push_back(static_cast<WORD>(width));
  words.push_back(static_cast<WORD>(height));
  words.push_back(static_cast<WORD>(id));
  ++words[4];  // DLGTEMPLATE::cdit
}

void DialogTemplate::add(ItemClass itemClass, const std::string& text, int id, DWORD style, int x, int y,
                         int width, int height) {
  addItem(style, x, y, width, height, id);
  words.push_back(0xFFFF);
  words.push_back(static_cast<WORD>(itemClass));
  addText(text);
  words.push_back(0);  // no creation data
}

void DialogTemplate::add(const std::string& className, const std::string& text, int id, DWORD style, int x,
                         int y, int width, int height) {
  addItem(style, x, y, width, height, id);
  addText(className);
  addText(text);
  words.push_back(0);
}

void fitStaticTexts(HWND dialog) {
  HDC dc = GetDC(dialog);
  HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(dialog, WM_GETFONT, 0, 0)));
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    char className[16] = {};
    GetClassNameA(child, className, sizeof className);
    if (_stricmp(className, "Static") != 0) continue;
    char text[128] = {};
    const int length = GetWindowTextA(child, text, sizeof text);
    SIZE needed{};
    GetTextExtentPoint32A(dc, text, length, &needed);
    RECT area{};
    GetWindowRect(child, &area);
    if (length == 0 || needed.cx <= area.right - area.left) continue;
    SetWindowPos(child, nullptr, 0, 0, needed.cx, area.bottom - area.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SelectObject(dc, oldFont);
  ReleaseDC(dialog, dc);
}

}  // namespace quillet::win32
