#include "win32ui/gdi.h"

#include <vector>

namespace quillet::win32 {

ButtonColors ButtonColors::fromSystem() {
  ButtonColors c{};
  c.hilite = GetSysColor(COLOR_BTNHIGHLIGHT);
  c.light = GetSysColor(COLOR_3DLIGHT);
  c.face = GetSysColor(COLOR_BTNFACE);
  c.shadow = GetSysColor(COLOR_BTNSHADOW);
  c.dkShadow = GetSysColor(COLOR_3DDKSHADOW);
  c.mid = halfwayColor(c.face, c.shadow);
  c.edge = halfwayColor(c.shadow, c.dkShadow);
  c.window = GetSysColor(COLOR_WINDOW);
  c.windowFrame = GetSysColor(COLOR_WINDOWFRAME);
  c.text = GetSysColor(COLOR_BTNTEXT);
  return c;
}

OffscreenDc::OffscreenDc(HDC target, int width, int height)
    : target(target),
      memory(CreateCompatibleDC(target)),
      bitmap(CreateCompatibleBitmap(target, width, height)),
      previous(static_cast<HBITMAP>(SelectObject(memory, bitmap))),
      width(width),
      height(height) {}

OffscreenDc::~OffscreenDc() {
  BitBlt(target, 0, 0, width, height, memory, 0, 0, SRCCOPY);
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

Painter::~Painter() {
  if (pen != nullptr) {
    SelectObject(dc, original);
    DeleteObject(pen);
  }
}

void Painter::setPen(COLORREF color) {
  HPEN next = CreatePen(PS_SOLID, 1, color);
  HGDIOBJ was = SelectObject(dc, next);
  if (pen == nullptr) {
    original = was;
  } else {
    DeleteObject(pen);
  }
  pen = next;
}

void Painter::line(int x1, int y1, int x2, int y2) {
  MoveToEx(dc, x1, y1, nullptr);
  LineTo(dc, x2, y2);
}

void Painter::polyline(std::initializer_list<POINT> points) {
  const std::vector<POINT> list(points);
  Polyline(dc, list.data(), static_cast<int>(list.size()));
}

void Painter::strokes(int x, int y, const ButtonColors& colors, const std::vector<Stroke>& list) {
  for (const Stroke& s : list) {
    const COLORREF color = toneColor(colors, s.tone);
    if (s.count == 1) {
      pixel(x + s.points[0].x, y + s.points[0].y, color);
      continue;
    }
    setPen(color);
    POINT points[4];
    for (int i = 0; i < s.count; ++i) {
      const StrokePoint& p = s.points[static_cast<std::size_t>(i)];
      points[i] = POINT{x + p.x, y + p.y};
    }
    Polyline(dc, points, s.count);
  }
}

void Painter::fillRect(const RECT& r, COLORREF color) {
  SetBkColor(dc, color);
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

void Painter::frameRect(const RECT& r, COLORREF color) {
  HBRUSH brush = CreateSolidBrush(color);
  FrameRect(dc, &r, brush);
  DeleteObject(brush);
}

void Painter::edge(const RECT& r, COLORREF topLeft, COLORREF bottomRight) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  fillRect({r.left, r.top, r.left + w - 1, r.top + 1}, topLeft);
  fillRect({r.left, r.top, r.left + 1, r.top + h - 1}, topLeft);
  fillRect({r.left + w - 1, r.top, r.left + w, r.top + h}, bottomRight);
  fillRect({r.left, r.top + h - 1, r.left + w, r.top + h}, bottomRight);
}

void Painter::roundRect(const RECT& r, int ellipse, COLORREF outline, COLORREF fill) {
  HPEN outlinePen = CreatePen(PS_SOLID, 1, outline);
  HBRUSH brush = CreateSolidBrush(fill);
  HGDIOBJ oldPen = SelectObject(dc, outlinePen);
  HGDIOBJ oldBrush = SelectObject(dc, brush);
  RoundRect(dc, r.left, r.top, r.right, r.bottom, ellipse, ellipse);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(brush);
  DeleteObject(outlinePen);
}

}  // namespace quillet::win32
