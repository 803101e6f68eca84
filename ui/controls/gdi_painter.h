// Pixel-exact drawing in the conventions every coordinate of the custom controls is given in: a
// line covers its start point but not its end point, and a rectangle (left, top, right, bottom)
// covers left..right-1 and top..bottom-1. Every custom control draws through it. UI thread only.
#pragma once

#include <QColor>
#include <QPainter>
#include <QPoint>
#include <initializer_list>

namespace quillet {

// Edges of a half-open rectangle: right and bottom lie just outside it.
struct Edges {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int width() const { return right - left; }
  int height() const { return bottom - top; }
  // Grown (positive) or shrunk (negative) by n on every side.
  Edges grown(int n) const { return {left - n, top - n, right + n, bottom + n}; }
};

class GdiPainter {
 public:
  // Draws with painter, which must have no transformation beyond a translation; antialiasing is
  // switched off for the painter's lifetime.
  explicit GdiPainter(QPainter& painter);

  void setPen(const QColor& color) { pen = color; }
  void moveTo(int x, int y) { current = QPoint(x, y); }
  // From the current point to (x, y), excluding (x, y), which becomes the current point.
  void lineTo(int x, int y);
  void line(int x1, int y1, int x2, int y2) {
    moveTo(x1, y1);
    lineTo(x2, y2);
  }
  // moveTo the first point, then lineTo every following one.
  void polyline(std::initializer_list<QPoint> points);
  void pixel(int x, int y, const QColor& color);

  void fillRect(const Edges& r, const QColor& color);
  // One-pixel outline just inside r.
  void frameRect(const Edges& r, const QColor& color);
  // One-pixel outline just inside r: top and left sides in topLeft, bottom and right sides in
  // bottomRight (the bottom-right sides win the two shared corners).
  void draw3dRect(const Edges& r, const QColor& topLeft, const QColor& bottomRight);
  // Rounded rectangle over r with a corner ellipse of ellipseWidth x ellipseHeight, outlined in
  // outline and filled with fill.
  void roundRect(const Edges& r, int ellipseWidth, int ellipseHeight, const QColor& outline,
                 const QColor& fill);
  // Dotted focus mark just inside r.
  void focusRect(const Edges& r, const QColor& color);

 private:
  QPainter& painter;
  QColor pen = Qt::black;
  QPoint current;
};

}  // namespace quillet
