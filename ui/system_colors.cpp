#include "ui/system_colors.h"

namespace quillet {

SystemColors SystemColors::fromPalette(const QPalette& palette) {
  SystemColors c;
  c.buttonHighlight = palette.color(QPalette::Light);
  c.light3d = palette.color(QPalette::Midlight);
  c.buttonFace = palette.color(QPalette::Button);
  c.buttonShadow = palette.color(QPalette::Dark);
  c.darkShadow3d = palette.color(QPalette::Shadow);
  c.window = palette.color(QPalette::Base);
  c.windowFrame = palette.color(QPalette::WindowText);
  c.highlight = palette.color(QPalette::Highlight);
  c.buttonText = palette.color(QPalette::ButtonText);
  return c;
}

namespace {
int halfway(int a, int b) {
  // The arithmetic shift keeps the sign, so the result moves towards b by half, rounding down.
  return (a + ((b - a) >> 1)) & 0xFF;
}
}  // namespace

QColor halfwayColor(const QColor& a, const QColor& b) {
  return QColor(halfway(a.red(), b.red()), halfway(a.green(), b.green()),
                halfway(a.blue(), b.blue()));
}

QColor invertedColor(const QColor& c) {
  return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue());
}

}  // namespace quillet
