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

Rgb rgbOf(const QColor& c) { return {c.red(), c.green(), c.blue()}; }

QColor colorOf(const Rgb& c) { return QColor(c.red, c.green, c.blue); }

QColor halfwayColor(const QColor& a, const QColor& b) { return colorOf(halfwayColor(rgbOf(a), rgbOf(b))); }

QColor invertedColor(const QColor& c) { return colorOf(invertedColor(rgbOf(c))); }

QColor lightenBy51(const QColor& c) { return colorOf(lightenBy51(rgbOf(c))); }

QColor darkenBy51(const QColor& c) { return colorOf(darkenBy51(rgbOf(c))); }

}  // namespace quillet
