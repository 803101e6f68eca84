// The start-up splash: a frameless, topmost picture window the size of its bitmap, with a message
// line near the bottom and the product and version in white along the top. UI thread only.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include "frontend/splash_sequence.h"

namespace quillet {

class SplashWindow : public QWidget {
  Q_OBJECT

 public:
  // Where the texts go: the message's top at this y, the top texts at y 0, each character
  // counted as this many pixels wide when centring and right-aligning.
  static constexpr int kMessageTop = kSplashMessageTop;
  static constexpr int kCharWidth = kSplashCharWidth;
  static constexpr int kFontHeight = kSplashFontHeight;

  SplashWindow();

  // Loads the bitmap (a resource path), sizes the window to it, centres it on the screen, shows it
  // and paints it at once. A bitmap that cannot be loaded leaves a black 281 x 469 picture.
  void create(const QString& bitmap);

  // Store the text and whether it is drawn; no repaint (the next one shows them).
  void setProduct(const QString& text, bool shown);
  void setVersion(const QString& text, bool shown);
  // Stores the message and repaints at once.
  void setMessage(const QString& text);
  // Hides and destroys the window.
  void closeSplash();

  QString product() const { return productText; }
  QString version() const { return versionText; }
  QString message() const { return messageText; }
  bool productShown() const { return productVisible; }
  bool versionShown() const { return versionVisible; }

  // Top-left points where the texts are drawn (the top of the text cell), in client coordinates.
  QPoint messagePosition() const;
  QPoint productPosition() const { return {kSplashProductPosition.x, kSplashProductPosition.y}; }
  QPoint versionPosition() const;

  // The painting font: "Tahoma" (or the closest face there is), 12 pixels from the top of the
  // cell to its bottom, squeezed so that an average character is 4 pixels wide.
  static QFont splashFont();

  int paintCount() const { return paints; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPixmap bitmap;
  QString productText = QString::fromLatin1(kSplashInitialProduct);
  QString versionText = QString::fromLatin1(kSplashInitialVersion);
  QString messageText = QString::fromLatin1(kSplashInitialMessage);
  bool productVisible = false;
  bool versionVisible = false;
  int paints = 0;
};

// The start-up splash sequence over a SplashWindow made from the splash bitmap.
void runStartupSplash(const SplashSleep& sleep = sleepThread);

}  // namespace quillet
