#include "ui/help/splash_sequence.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <memory>
#include <thread>

#include "settings/startup_registry.h"
#include "ui/help/help_resources.h"
#include "ui/help/splash_window.h"

namespace quillet {

namespace {

// The thread handles no events while it sleeps, so the window system's pending work (expose and
// paint events of the new window) is done now and the drawing pushed out to the display.
void presentNow() {
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
    presentNow();
    sleep(step.hold);
  }
  splash->closeSplash();
}

}  // namespace quillet
