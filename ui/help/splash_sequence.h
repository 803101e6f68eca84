// The start-up splash sequence: the splash shown with product and version, three messages held in
// turn, then closed. Blocks the calling (UI) thread for the whole sequence.
#pragma once

#include <chrono>
#include <functional>

#include "ui/help/help_strings.h"

namespace quillet {

// Waits the given time without handling events. The real one sleeps the thread.
using SplashSleep = std::function<void(std::chrono::milliseconds)>;

void sleepThread(std::chrono::milliseconds duration);

// The three messages and how long each is held.
struct SplashStep {
  const char* message;
  std::chrono::milliseconds hold;
};
inline constexpr SplashStep kSplashSteps[] = {
    {kStringSplashPleaseWait, std::chrono::milliseconds(1500)},
    {kStringSplashPreparing, std::chrono::milliseconds(2000)},
    {kStringSplashAlmostReady, std::chrono::milliseconds(2000)},
};

// Creates the splash from the splash bitmap, sets product "Talvane Quillet" and version "Build "
// followed by the product version, shows each message and waits its time through sleep (the
// window is on screen before every wait), then closes the window.
void runStartupSplash(const SplashSleep& sleep = sleepThread);

}  // namespace quillet
