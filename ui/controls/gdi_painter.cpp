#include "ui/controls/gdi_painter.h"

#include <cstdlib>
#include <vector>

namespace quillet {

GdiPainter::GdiPainter(QPainter& p) : painter(p) { painter.setRenderHint(QPainter::Antialiasing, false); }

void GdiPainter::lineTo(int x, int y) {
  // Bresenham from the current point, stopping before the end point.
  int x0 = current.x();
  int y0 = current.y();
  const int dx = std::abs(x - x0);
  const int dy = -std::abs(y - y0);
  const int sx = x0 < x ? 1 : -1;
  const int sy = y0 < y ? 1 : -1;
  int err = dx + dy;
  std::vector<QPoint> points;
  while (x0 != x || y0 != y) {
    points.emplace_back(x0, y0);
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
  if (!points.empty()) {
    painter.setPen(QPen(pen, 1));
    painter.drawPoints(points.data(), static_cast<int>(points.size()));
  }
  current = QPoint(x, y);
}

void GdiPainter::polyline(std::initializer_list<QPoint> points) {
  bool first = true;
  for (const QPoint& p : points) {
    if (first) {
      moveTo(p.x(), p.y());
      first = false;
    } else {
      lineTo(p.x(), p.y());
    }
  }
}

void GdiPainter::pixel(int x, int y, const QColor& color) {
  painter.setPen(QPen(color, 1));
  painter.drawPoint(x, y);
}

void GdiPainter::fillRect(const Edges& r, const QColor& color) {
  if (r.width() <= 0 || r.height() <= 0) return;
  painter.fillRect(QRect(r.left, r.top, r.width(), r.height()), color);
}

void GdiPainter::frameRect(const Edges& r, const QColor& color) { draw3dRect(r, color, color); }

void GdiPainter::draw3dRect(const Edges& r, const QColor& topLeft, const QColor& bottomRight) {
  if (r.width() <= 0 || r.height() <= 0) return;
  fillRect({r.left, r.top, r.right - 1, r.top + 1}, topLeft);
  fillRect({r.left, r.top, r.left + 1, r.bottom - 1}, topLeft);
  fillRect({r.right - 1, r.top, r.right, r.bottom}, bottomRight);
  fillRect({r.left, r.bottom - 1, r.right, r.bottom}, bottomRight);
}

void GdiPainter::roundRect(const Edges& r, int ellipseWidth, int ellipseHeight, const QColor& outline,
                           const QColor& fill) {
  if (r.width() <= 0 || r.height() <= 0) return;
  painter.setPen(QPen(outline, 1));
  painter.setBrush(fill);
  // An aliased 1-pixel outline of QRect(x, y, w - 1, h - 1) covers exactly x..x+w-1.
  painter.drawRoundedRect(QRect(r.left, r.top, r.width() - 1, r.height() - 1), ellipseWidth / 2.0,
                          ellipseHeight / 2.0);
  painter.setBrush(Qt::NoBrush);
}

void GdiPainter::focusRect(const Edges& r, const QColor& color) {
  if (r.width() <= 0 || r.height() <= 0) return;
  std::vector<QPoint> points;
  for (int x = r.left; x < r.right; x += 2) {
    points.emplace_back(x, r.top);
    points.emplace_back(x, r.bottom - 1);
  }
  for (int y = r.top; y < r.bottom; y += 2) {
    points.emplace_back(r.left, y);
    points.emplace_back(r.right - 1, y);
  }
  painter.setPen(QPen(color, 1));
  painter.drawPoints(points.data(), static_cast<int>(points.size()));
}

}  // namespace quillet
