// The start-up splash sequence: the splash shown with product and version, three messages held in
// turn, then closed; and where the splash's texts go. The window is reached through SplashScreen,
// which each front-end implements. Blocks the calling (UI) thread for the whole sequence.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "frontend/help_strings.h"

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

// The splash's texts: the message's top at kSplashMessageTop, the top texts at y 0, each character
// counted as kSplashCharWidth pixels wide when centring and right-aligning, drawn in kSplashFontFace
// with a cell kSplashFontHeight pixels high. A bitmap that cannot be loaded leaves a black picture
// of the fallback size.
inline constexpr int kSplashMessageTop = 450;
inline constexpr int kSplashCharWidth = 4;
inline constexpr int kSplashFontHeight = 12;
inline constexpr const char* kSplashFontFace = "Tahoma";
inline constexpr int kSplashFallbackWidth = 281;
inline constexpr int kSplashFallbackHeight = 469;
inline constexpr const char* kSplashInitialProduct = "Product";
inline constexpr const char* kSplashInitialVersion = "Version";
inline constexpr const char* kSplashInitialMessage = "Please wait...";

// Top-left points of the texts (the top of the text cell) in client coordinates of a splash
// clientWidth pixels wide; lengths are in characters.
struct SplashPoint {
  int x = 0;
  int y = 0;
  bool operator==(const SplashPoint&) const = default;
};
SplashPoint splashMessagePosition(int clientWidth, std::size_t messageLength);
inline constexpr SplashPoint kSplashProductPosition{3, 0};
SplashPoint splashVersionPosition(int clientWidth, std::size_t versionLength);

// "Build " followed by the product version, as the splash shows it.
std::string splashVersionText();

// The splash window as the sequence drives it.
class SplashScreen {
 public:
  virtual ~SplashScreen() = default;
  // Makes the window from the splash bitmap, shows it and paints it at once.
  virtual void create() = 0;
  // Store the text and whether it is drawn; no repaint (the next one shows them).
  virtual void setProduct(const std::string& text, bool shown) = 0;
  virtual void setVersion(const std::string& text, bool shown) = 0;
  // Stores the message and repaints at once.
  virtual void setMessage(const std::string& text) = 0;
  // The thread handles no events while it sleeps: the window system's pending work for the window
  // is done now and the drawing pushed out to the display.
  virtual void present() = 0;
  // Hides and destroys the window.
  virtual void close() = 0;
};

// Creates the splash, sets product "Talvane Quillet" and version "Build " followed by the product
// version, shows each message and waits its time through sleep (the window is presented before
// every wait), then closes the window.
void runSplashSequence(SplashScreen& splash, const SplashSleep& sleep = sleepThread);

}  // namespace quillet
