#include "win32ui/color_progress_bar.h"

#include <commctrl.h>

#include <cstdint>
#include <cstdio>

#include "win32ui/gdi.h"

namespace quillet::win32 {

namespace {
constexpr UINT_PTR kSubclassId = 0x5143;
}  // namespace

ColorProgressBar::ColorProgressBar() : base(GetSysColor(COLOR_HIGHLIGHT)) { deriveColors(); }

ColorProgressBar::~ColorProgressBar() {
  if (window != nullptr && IsWindow(window)) RemoveWindowSubclass(window, subclassProc, kSubclassId);
}

void ColorProgressBar::attach(HWND item) {
  window = item;
  SetWindowSubclass(item, subclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
  SendMessageA(item, PBM_SETRANGE, 0, MAKELPARAM(lowerBound, upperBound));
}

void ColorProgressBar::deriveColors() {
  dkShadow = GetSysColor(COLOR_3DDKSHADOW);
  shadow = GetSysColor(COLOR_BTNSHADOW);
  const BarShades shades = barShades(toRgb(base), toRgb(shadow), toRgb(dkShadow));
  light1 = toColorRef(shades.lights[0]);
  light2 = toColorRef(shades.lights[1]);
  light3 = toColorRef(shades.lights[2]);
  dark1 = toColorRef(shades.darks[0]);
  dark2 = toColorRef(shades.darks[1]);
  midShadow = toColorRef(shades.midShadow);
}

void ColorProgressBar::setRange(int lower, int upper) {
  lowerBound = lower;
  upperBound = upper;
  position = lower;
  SendMessageA(window, PBM_SETRANGE, 0,
               MAKELPARAM(static_cast<std::uint16_t>(lower), static_cast<std::uint16_t>(upper)));
  SendMessageA(window, PBM_SETPOS, static_cast<WPARAM>(lower), 0);
}

void ColorProgressBar::setPos(int newPosition) {
  position = newPosition;
  SendMessageA(window, PBM_SETPOS, static_cast<WPARAM>(newPosition), 0);
}

void ColorProgressBar::setColor(COLORREF color) {
  base = color;
  deriveColors();
  if (window != nullptr) RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

LRESULT CALLBACK ColorProgressBar::subclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                                UINT_PTR, DWORD_PTR self) {
  auto* bar = reinterpret_cast<ColorProgressBar*>(self);
  switch (message) {
    case WM_ERASEBKGND: return 1;  // painted whole, never erased: no flicker
    case WM_PAINT: bar->paint(); return 0;
    case WM_NCDESTROY:
      RemoveWindowSubclass(window, subclassProc, kSubclassId);
      bar->window = nullptr;
      break;
    default: break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

void ColorProgressBar::paint() {
  PAINTSTRUCT ps;
  HDC target = BeginPaint(window, &ps);
  RECT client{};
  GetClientRect(window, &client);
  {
    OffscreenDc off(target, client.right, client.bottom);
    Painter g(off.dc());
    g.fillRect(client, GetSysColor(COLOR_BTNFACE));
    PBRANGE range{};
    SendMessageA(window, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    const long long span = static_cast<long long>(range.iHigh) - range.iLow;
    const long long current = static_cast<long long>(SendMessageA(window, PBM_GETPOS, 0, 0)) - range.iLow;
    // An empty range (a very small total) shows an empty bar rather than dividing by zero.
    const int w = span <= 0 ? 0 : static_cast<int>(current * client.right / span);
    const RECT r{0, 0, w, client.bottom};
    g.fillRect(r, light3);
    if (w != 0) {
      const int L = r.left, T = r.top, R = r.right, B = r.bottom;
      g.setPen(light1);
      g.line(L + 2, B - 4, R - 2, B - 4);
      g.line(L + 2, T + 2, R - 2, T + 2);
      g.pixel(L + 1, B - 3, light1);
      g.pixel(L + 1, T + 1, light1);
      g.setPen(light2);
      g.polyline({{L + 2, B - 5}, {R - 3, B - 5}, {R - 3, T + 3}, {L + 1, T + 3}});
      g.pixel(L + 1, B - 4, light2);
      g.pixel(L + 1, T + 2, light2);
      g.setPen(base);
      g.polyline({{L, B - 1}, {L, T}, {L + 2, T}});
      g.pixel(L + 1, B - 2, base);
      g.line(L + 2, B - 3, R - 2, B - 3);
      g.line(L + 2, T + 1, R - 1, T + 1);
      g.setPen(dark1);
      g.polyline({{L + 2, B - 2}, {R - 2, B - 2}, {R - 2, T + 1}});
      g.line(L + 2, T, R, T);
      g.pixel(L + 1, B - 1, dark1);
      g.setPen(dark2);
      g.polyline({{L + 2, B - 1}, {R - 1, B - 1}, {R - 1, T}});
      g.setPen(midShadow);
      g.line(R, T, R, B);
      g.setPen(shadow);
      g.line(R + 1, T, R + 1, B);
    }
  }
  double percent = upperBound == 0 ? 0.0 : position * 100.0 / upperBound;
  percent += 0.0;  // no "-0%"
  char text[64];
  std::snprintf(text, sizeof text, "%.0f%%", percent);
  HGDIOBJ oldFont =
      SelectObject(target, reinterpret_cast<HFONT>(SendMessageA(GetParent(window), WM_GETFONT, 0, 0)));
  SetTextColor(target, RGB(255, 255, 255));
  SetBkMode(target, TRANSPARENT);
  DrawTextA(target, text, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(target, oldFont);
  EndPaint(window, &ps);
}

}  // namespace quillet::win32
