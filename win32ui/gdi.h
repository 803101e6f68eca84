// Small GDI helpers the custom controls draw with: the 3D colours derived from the system ones, an
// off-screen bitmap copied to the window in one transfer, and pens, lines and pixels with the
// "start included, end excluded" rule of GDI lines. UI thread only.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <vector>

#include "frontend/drawing_rules.h"
#include "frontend/indicator_strokes.h"

namespace quillet::win32 {

inline Rgb toRgb(COLORREF c) { return {GetRValue(c), GetGValue(c), GetBValue(c)}; }
inline COLORREF toColorRef(const Rgb& c) {
  return RGB(static_cast<BYTE>(c.red), static_cast<BYTE>(c.green), static_cast<BYTE>(c.blue));
}
// The shared colour rules on GDI colours.
inline COLORREF halfwayColor(COLORREF a, COLORREF b) {
  return toColorRef(quillet::halfwayColor(toRgb(a), toRgb(b)));
}
inline COLORREF invertedColor(COLORREF c) { return toColorRef(quillet::invertedColor(toRgb(c))); }

// The colours of the owner-drawn buttons, read from the system (again on every colour change).
struct ButtonColors {
  COLORREF hilite, light, face, mid, shadow, dkShadow, edge, window, windowFrame, text;
  static ButtonColors fromSystem();
};

// Draws into a memory bitmap of the given size; the destructor copies it to target at 0,0.
class OffscreenDc {
 public:
  OffscreenDc(HDC target, int width, int height);
  ~OffscreenDc();
  OffscreenDc(const OffscreenDc&) = delete;
  OffscreenDc& operator=(const OffscreenDc&) = delete;
  HDC dc() const { return memory; }

 private:
  HDC target, memory;
  HBITMAP bitmap, previous;
  int width, height;
};

// A GDI pen selected for the painter's life; lines and polylines drawn with it.
class Painter {
 public:
  explicit Painter(HDC dc) : dc(dc) {}
  ~Painter();
  Painter(const Painter&) = delete;
  Painter& operator=(const Painter&) = delete;
  void setPen(COLORREF color);
  void line(int x1, int y1, int x2, int y2);
  void polyline(std::initializer_list<POINT> points);
  void pixel(int x, int y, COLORREF color) { SetPixel(dc, x, y, color); }
  void fillRect(const RECT& r, COLORREF color);
  void frameRect(const RECT& r, COLORREF color);
  // Top and left in topLeft, bottom and right in bottomRight, one pixel wide, as Draw3dRect.
  void edge(const RECT& r, COLORREF topLeft, COLORREF bottomRight);
  void roundRect(const RECT& r, int ellipse, COLORREF outline, COLORREF fill);
  HDC handle() const { return dc; }
  // Plays the shared indicator strokes with their origin at (x, y).
  void strokes(int x, int y, const ButtonColors& colors, const std::vector<Stroke>& list);

 private:
  HDC dc;
  HPEN pen = nullptr;
  HGDIOBJ original = nullptr;
};

}  // namespace quillet::win32
