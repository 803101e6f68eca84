#include "ui/help/splash_window.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <memory>

#include "ui/help/help_resources.h"

namespace quillet {

namespace {
constexpr QSize kFallbackSize(kSplashFallbackWidth, kSplashFallbackHeight);

// A text's length in characters, as the fixed-width placement of the texts counts it.
std::size_t characters(const QString& text) { return static_cast<std::size_t>(text.size()); }

// The sequence's window: a SplashWindow, with the pending window-system work done before each
// wait (the thread handles no events while it sleeps).
class QtSplashScreen : public SplashScreen {
 public:
  void create() override {
    window = std::make_unique<SplashWindow>();
    window->create(kSplashBitmap);
  }
  void setProduct(const std::string& text, bool shown) override {
    window->setProduct(QString::fromUtf8(text), shown);
  }
  void setVersion(const std::string& text, bool shown) override {
    window->setVersion(QString::fromUtf8(text), shown);
  }
  void setMessage(const std::string& text) override { window->setMessage(QString::fromUtf8(text)); }
  void present() override {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QGuiApplication::sync();
  }
  void close() override { window->closeSplash(); }

 private:
  std::unique_ptr<SplashWindow> window;
};
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
  const SplashPoint at = splashMessagePosition(width(), characters(messageText));
  return {at.x, at.y};
}

QPoint SplashWindow::versionPosition() const {
  const SplashPoint at = splashVersionPosition(width(), characters(versionText));
  return {at.x, at.y};
}

QFont SplashWindow::splashFont() {
  QFont font(QString::fromLatin1(kSplashFontFace));
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

void runStartupSplash(const SplashSleep& sleep) {
  QtSplashScreen screen;
  runSplashSequence(screen, sleep);
}

}  // namespace quillet
