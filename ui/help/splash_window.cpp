#include "ui/help/splash_window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "ui/help/help_resources.h"

namespace quillet {

namespace {
constexpr QSize kFallbackSize(281, 469);

// A text's length in characters, as the fixed-width placement of the texts counts it.
int characters(const QString& text) { return static_cast<int>(text.size()); }
}  // namespace

SplashWindow::SplashWindow()
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("splashWindow"));
  setAttribute(Qt::WA_OpaquePaintEvent);  // the bitmap covers everything: no background erase
  setCursor(Qt::ArrowCursor);
}

void SplashWindow::create(const QString& bitmapPath) {
  registerHelpResources();
  if (!bitmap.load(bitmapPath)) {
    bitmap = QPixmap(kFallbackSize);
    bitmap.fill(Qt::black);
  }
  setFixedSize(bitmap.size());
  QRect frame(QPoint(0, 0), bitmap.size());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    frame.moveCenter(screen->geometry().center());
  }
  move(frame.topLeft());
  show();
  // A new window is drawn only once the window system has mapped it; wait for that (briefly), as
  // the caller may block the thread right after.
  QElapsedTimer waited;
  waited.start();
  while (windowHandle() != nullptr && !windowHandle()->isExposed() && waited.elapsed() < 1000) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
  }
  repaint();
}

void SplashWindow::setProduct(const QString& text, bool shown) {
  productText = text;
  productVisible = shown;
}

void SplashWindow::setVersion(const QString& text, bool shown) {
  versionText = text;
  versionVisible = shown;
}

void SplashWindow::setMessage(const QString& text) {
  messageText = text;
  repaint();
}

void SplashWindow::closeSplash() {
  hide();
  destroy();
}

QPoint SplashWindow::messagePosition() const {
  // Integer halvings, as the layout was fixed: the text's nominal width centred, then 15 left.
  return {width() / 2 - characters(messageText) * kCharWidth / 2 - 15, kMessageTop};
}

QPoint SplashWindow::versionPosition() const {
  const QRect client = rect();
  const int right = client.x() + client.width();  // exclusive, as a client rectangle's right is
  return {right - characters(versionText) * kCharWidth - client.x() - 7, 0};
}

QFont SplashWindow::splashFont() {
  QFont font(QStringLiteral("Tahoma"));
  font.setStyleHint(QFont::SansSerif);
  // The height is the whole cell (ascent plus descent), so the em is scaled down to fit it.
  font.setPixelSize(kFontHeight);
  const int cell = QFontMetrics(font).height();
  if (cell > kFontHeight) font.setPixelSize(qMax(1, kFontHeight * kFontHeight / cell));
  const int average = QFontMetrics(font).averageCharWidth();
  if (average > 0 && average != kCharWidth) {
    font.setStretch(qBound(1, (kCharWidth * 100 + average / 2) / average, 4000));
  }
  return font;
}

void SplashWindow::paintEvent(QPaintEvent*) {
  ++paints;
  QPainter painter(this);
  painter.drawPixmap(0, 0, bitmap);

  const QFont font = splashFont();
  painter.setFont(font);
  painter.setBackgroundMode(Qt::TransparentMode);
  const int ascent = QFontMetrics(font).ascent();
  // Texts are placed by the top of their cell; the painter wants the baseline.
  const auto drawAt = [&](QPoint top, const QString& text) {
    painter.drawText(top + QPoint(0, ascent), text);
  };

  painter.setPen(Qt::black);
  drawAt(messagePosition(), messageText);
  painter.setPen(Qt::white);
  if (productVisible) drawAt(productPosition(), productText);
  if (versionVisible) drawAt(versionPosition(), versionText);
}

}  // namespace quillet
