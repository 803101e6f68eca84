// Dialog geometry in dialog units: x × average character width / 4 and y × character height / 8
// of the dialog font, so dialogs keep their proportions whatever the platform's fonts. UI thread.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

namespace quillet {

// The font every dialog uses: the platform's default sans-serif face at 8 points.
QFont dialogFont();

class DialogUnits {
 public:
  // Measures font; the average width is that of the 52 Latin letters, rounded to nearest.
  explicit DialogUnits(const QFont& font = dialogFont());

  int averageCharWidth() const { return charWidth; }
  int charHeight() const { return lineHeight; }

  int toPixelsX(int x) const;
  int toPixelsY(int y) const;
  QRect toPixels(int x, int y, int width, int height) const;
  QSize toPixels(QSize size) const;

  // Places child at (x, y) with the given size, all in dialog units of its parent.
  void place(QWidget* child, int x, int y, int width, int height) const;

 private:
  int charWidth;
  int lineHeight;
};

}  // namespace quillet
