// The system colours the custom controls draw with, mapped to palette roles in this one place.
// Plain value type; read on the UI thread (palettes belong to it).
#pragma once

#include <QColor>
#include <QPalette>

#include "frontend/drawing_rules.h"

namespace quillet {

struct SystemColors {
  QColor buttonHighlight;  // the lit outer edge of raised 3D elements
  QColor light3d;          // the inner lit edge
  QColor buttonFace;
  QColor buttonShadow;
  QColor darkShadow3d;
  QColor window;       // background of edit fields and flat buttons
  QColor windowFrame;  // outlines of controls
  QColor highlight;    // selection colour; default colour of progress bars
  QColor buttonText;   // captions drawn on the button face (black in the default palette)

  // Controls call this at construction and again on every QEvent::PaletteChange, so a change of
  // the desktop's colours reaches the next repaint.
  static SystemColors fromPalette(const QPalette& palette);
};

// The shared colour rules of frontend/drawing_rules.h on the toolkit's colours, and the
// conversions between the two.
Rgb rgbOf(const QColor& c);
QColor colorOf(const Rgb& c);
QColor halfwayColor(const QColor& a, const QColor& b);
QColor invertedColor(const QColor& c);
QColor lightenBy51(const QColor& c);
QColor darkenBy51(const QColor& c);

}  // namespace quillet
