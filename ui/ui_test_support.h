// Helpers the ui test suites share: a fixed palette with known colours, pixel reads and the
// screenshots every suite saves of the states it drives. Tests only; UI thread.
#pragma once

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QWidget>

namespace quillet::test_support {

// A palette with the classic desktop's 3D colours, so expected pixels are known figures:
// face (192,192,192), shadow (128,128,128), dark shadow black, highlight (240,250,200), 3D light
// (223,223,223) -> mid (160,160,160), edge (64,64,64).
inline QPalette classicPalette() {
  QPalette p;
  p.setColor(QPalette::Light, QColor(240, 250, 200));
  p.setColor(QPalette::Midlight, QColor(223, 223, 223));
  p.setColor(QPalette::Button, QColor(192, 192, 192));
  p.setColor(QPalette::Window, QColor(192, 192, 192));
  p.setColor(QPalette::Dark, QColor(128, 128, 128));
  p.setColor(QPalette::Mid, QColor(128, 128, 128));
  p.setColor(QPalette::Shadow, QColor(0, 0, 0));
  p.setColor(QPalette::Base, QColor(255, 255, 255));
  p.setColor(QPalette::WindowText, QColor(0, 0, 0));
  p.setColor(QPalette::Text, QColor(0, 0, 0));
  p.setColor(QPalette::ButtonText, QColor(0, 0, 0));
  p.setColor(QPalette::Highlight, QColor(0, 0, 128));
  return p;
}

inline QImage render(QWidget* widget) { return widget->grab().toImage(); }

// The colour of one pixel as (r,g,b), for readable failure messages.
inline QString rgbAt(const QImage& image, int x, int y) { return image.pixelColor(x, y).name(); }
inline QString rgb(const QColor& color) { return color.name(); }

// Saves what widget shows under the build tree's screenshots folder as name.png.
inline void saveScreenshot(QWidget* widget, const QString& name) {
  const QString folder = QStringLiteral(QUILLET_SCREENSHOT_DIR);
  QDir().mkpath(folder);
  widget->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

}  // namespace quillet::test_support
