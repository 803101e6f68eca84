#include "ui/dialog_units.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QWidget>

#include "frontend/drawing_rules.h"

namespace quillet {

QFont dialogFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(kDialogFontPoints);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int letters =
      metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  charWidth = (letters / 26 + 1) / 2;
  lineHeight = metrics.height();
  if (charWidth < 1) charWidth = 1;
  if (lineHeight < 1) lineHeight = 1;
}

namespace {
// a * b / c rounded to nearest, as dialog templates are mapped.
int mulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}
}  // namespace

int DialogUnits::toPixelsX(int x) const { return mulDiv(x, charWidth, 4); }
int DialogUnits::toPixelsY(int y) const { return mulDiv(y, lineHeight, 8); }

QRect DialogUnits::toPixels(int x, int y, int width, int height) const {
  return QRect(toPixelsX(x), toPixelsY(y), toPixelsX(width), toPixelsY(height));
}

QSize DialogUnits::toPixels(QSize size) const {
  return QSize(toPixelsX(size.width()), toPixelsY(size.height()));
}

void DialogUnits::place(QWidget* child, int x, int y, int width, int height) const {
  child->setGeometry(toPixels(x, y, width, height));
}

}  // namespace quillet
