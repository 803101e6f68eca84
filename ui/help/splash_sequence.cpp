#include "ui/help/splash_sequence.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QWindow>
#include <memory>
#include <thread>

#include "settings/startup_registry.h"
#include "ui/help/help_resources.h"
#include "ui/help/splash_window.h"

namespace quillet {

namespace {

// The thread handles no events while it sleeps, so whatever the window system still has to do to
// put the window on screen is done now: wait (briefly) for the window to be mapped, paint it, and
// push the drawing out to the display.
void presentNow(SplashWindow& splash) {
  QElapsedTimer waited;
  waited.start();
  const QWindow* window = splash.windowHandle();
  while (window != nullptr && !window->isExposed() && waited.elapsed() < 500) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
  }
  splash.repaint();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  QGuiApplication::sync();
}

}  // namespace

void sleepThread(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

void runStartupSplash(const SplashSleep& sleep) {
  auto splash = std::make_unique<SplashWindow>();
  splash->create(kSplashBitmap);
  splash->setProduct(QString::fromUtf8(kStringProductName), true);
  splash->setVersion(QStringLiteral("Build ") + QString::fromUtf8(kProductVersion), true);
  for (const SplashStep& step : kSplashSteps) {
    splash->setMessage(QString::fromUtf8(step.message));
    presentNow(*splash);
    sleep(step.hold);
  }
  splash->closeSplash();
}

}  // namespace quillet
