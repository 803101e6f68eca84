#include "ui/controls/color_progress_bar.h"

#include <QPainter>
#include <QPixmap>
#include <cstdint>
#include <cstdio>

#include "ui/controls/gdi_painter.h"
#include "ui/system_colors.h"

namespace quillet {

ColorProgressBar::ColorProgressBar(QWidget* parent) : QProgressBar(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);  // never erased first, so it never flickers
  setTextVisible(true);
  QProgressBar::setRange(0, 100);
  QProgressBar::setValue(0);
  base = SystemColors::fromPalette(palette()).highlight;
  deriveColors();
}

void ColorProgressBar::deriveColors() {
  const SystemColors system = SystemColors::fromPalette(palette());
  darkShadowColor = system.darkShadow3d;
  shadowColor = system.buttonShadow;
  const BarShades shades = barShades(rgbOf(base), rgbOf(shadowColor), rgbOf(darkShadowColor));
  for (int i = 0; i < 3; ++i) lights[i] = colorOf(shades.lights[i]);
  for (int i = 0; i < 2; ++i) darks[i] = colorOf(shades.darks[i]);
  midShadowColor = colorOf(shades.midShadow);
}

void ColorProgressBar::setRange(int lower, int upper) {
  lowerBound = lower;
  upperBound = upper;
  position = lower;
  QProgressBar::setRange(static_cast<std::uint16_t>(lower), static_cast<std::uint16_t>(upper));
  QProgressBar::setValue(qBound(minimum(), lower, maximum()));
  update();
  emit rangeChanged(lower, upper);
  emit posChanged(position);
}

void ColorProgressBar::setPos(int newPosition) {
  position = newPosition;
  QProgressBar::setValue(qBound(minimum(), newPosition, maximum()));
  update();
  emit posChanged(position);
}

void ColorProgressBar::setColor(const QColor& color) {
  base = color;
  deriveColors();
  repaint();
}

int ColorProgressBar::filledWidth() const {
  const long long span = static_cast<long long>(maximum()) - minimum();
  if (span <= 0) return 0;  // an empty range shows an empty bar
  const long long done = static_cast<long long>(qBound(minimum(), value(), maximum())) - minimum();
  return static_cast<int>(done * width() / span);
}

QString ColorProgressBar::text() const {
  double percent = upperBound == 0 ? 0.0 : position * 100.0 / upperBound;
  percent += 0.0;  // a zero from a negative bound would print as "-0%"
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.0f%%", percent);
  return QString::fromLatin1(buffer);
}

void ColorProgressBar::paintEvent(QPaintEvent*) {
  const qreal ratio = devicePixelRatioF();
  QPixmap pixmap(size() * ratio);
  pixmap.setDevicePixelRatio(ratio);
  {
    QPainter p(&pixmap);
    GdiPainter g(p);
    g.fillRect({0, 0, width(), height()}, SystemColors::fromPalette(palette()).buttonFace);
    const int w = filledWidth();
    const Edges r{0, 0, w, height()};
    g.fillRect(r, lights[2]);
    if (w != 0) {
      const int L = r.left, T = r.top, R = r.right, B = r.bottom;
      g.setPen(lights[0]);
      g.line(L + 2, B - 4, R - 2, B - 4);
      g.line(L + 2, T + 2, R - 2, T + 2);
      g.pixel(L + 1, B - 3, lights[0]);
      g.pixel(L + 1, T + 1, lights[0]);
      g.setPen(lights[1]);
      g.polyline({{L + 2, B - 5}, {R - 3, B - 5}, {R - 3, T + 3}, {L + 1, T + 3}});
      g.pixel(L + 1, B - 4, lights[1]);
      g.pixel(L + 1, T + 2, lights[1]);
      g.setPen(base);
      g.polyline({{L, B - 1}, {L, T}, {L + 2, T}});
      g.pixel(L + 1, B - 2, base);
      g.line(L + 2, B - 3, R - 2, B - 3);
      g.line(L + 2, T + 1, R - 1, T + 1);
      g.setPen(darks[0]);
      g.polyline({{L + 2, B - 2}, {R - 2, B - 2}, {R - 2, T + 1}});
      g.line(L + 2, T, R, T);
      g.pixel(L + 1, B - 1, darks[0]);
      g.setPen(darks[1]);
      g.polyline({{L + 2, B - 1}, {R - 1, B - 1}, {R - 1, T}});
      g.setPen(midShadowColor);
      g.line(R, T, R, B);
      g.setPen(shadowColor);
      g.line(R + 1, T, R + 1, B);
    }
  }
  QPainter p(this);
  p.drawPixmap(0, 0, pixmap);
  p.setPen(Qt::white);
  p.setFont(font());
  p.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}

}  // namespace quillet
