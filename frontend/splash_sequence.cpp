// The splash sequence and placement.
#include "frontend/splash_sequence.h"

#include <thread>

#include "settings/startup_registry.h"

namespace quillet {

void sleepThread(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

SplashPoint splashMessagePosition(int clientWidth, std::size_t messageLength) {
  // Integer halvings, as the layout was fixed: the text's nominal width centred, then 15 left.
  return {clientWidth / 2 - static_cast<int>(messageLength) * kSplashCharWidth / 2 - 15, kSplashMessageTop};
}

SplashPoint splashVersionPosition(int clientWidth, std::size_t versionLength) {
  // The client rectangle's right edge is exclusive.
  return {clientWidth - static_cast<int>(versionLength) * kSplashCharWidth - 7, 0};
}

std::string splashVersionText() { return std::string("Build ") + kProductVersion; }

void runSplashSequence(SplashScreen& splash, const SplashSleep& sleep) {
  splash.create();
  splash.setProduct(kStringProductName, true);
  splash.setVersion(splashVersionText(), true);
  for (const SplashStep& step : kSplashSteps) {
    splash.setMessage(step.message);
    splash.present();
    sleep(step.hold);
  }
  splash.close();
}

}  // namespace quillet
