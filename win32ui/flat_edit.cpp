#include "win32ui/flat_edit.h"

#include <commctrl.h>

#include "win32ui/gdi.h"

namespace quillet::win32 {

namespace {
constexpr UINT_PTR kSubclassId = 0x5144;
constexpr UINT_PTR kHoverTimer = 1;
RECT grown(RECT r, int n) { return {r.left - n, r.top - n, r.right + n, r.bottom + n}; }
}  // namespace

FlatEdit::~FlatEdit() {
  if (window != nullptr && IsWindow(window)) RemoveWindowSubclass(window, subclassProc, kSubclassId);
}

void FlatEdit::attach(HWND item, bool withoutOutline) {
  window = item;
  noOutline = withoutOutline;
  SetWindowSubclass(item, subclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

void FlatEdit::drawFrame(bool hot) {
  HDC dc = GetDC(window);
  {
    Painter g(dc);
    RECT c{};
    GetClientRect(window, &c);
    const COLORREF hilite = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const bool enabled = IsWindowEnabled(window) != FALSE;
    const COLORREF outline = toColorRef(kFlatEditOutline);
    if (!noOutline) {
      g.edge(c, outline, outline);
    } else if (hot) {
      g.edge(c, shadow, hilite);
    } else {
      g.edge(c, face, face);
    }
    g.edge(grown(c, 1), enabled ? face : hilite, enabled ? face : hilite);
    for (int n = 2; n < kFlatEditRings; ++n) g.edge(grown(c, n), face, face);
    if (hot && enabled && !noOutline) {
      g.edge(c, face, face);
      g.edge(grown(c, 1), shadow, hilite);
    }
  }
  ReleaseDC(window, dc);
}

LRESULT CALLBACK FlatEdit::subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                        DWORD_PTR self) {
  auto* edit = reinterpret_cast<FlatEdit*>(self);
  switch (message) {
    case WM_PAINT: {
      const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
      edit->drawFrame(false);
      return result;
    }
    case WM_MOUSEMOVE: SetTimer(window, kHoverTimer, 10, nullptr); break;
    case WM_TIMER:
      if (wParam == kHoverTimer) {
        POINT cursor{};
        RECT area{};
        GetCursorPos(&cursor);
        GetWindowRect(window, &area);
        if (PtInRect(&area, cursor)) {
          edit->drawFrame(true);
        } else {
          KillTimer(window, kHoverTimer);
          edit->drawFrame(false);
        }
        return 0;
      }
      break;
    case WM_ENABLE: {
      const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
      edit->drawFrame(false);
      return result;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(window, subclassProc, kSubclassId);
      edit->window = nullptr;
      break;
    default: break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace quillet::win32
