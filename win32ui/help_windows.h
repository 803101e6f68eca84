// The help area's windows: the scripts help window (one per user across processes), the about box
// and the start-up splash. UI thread only.
#pragma once

#include <windows.h>

#include <string>

#include "frontend/splash_sequence.h"

namespace quillet {
class RegistryAccess;
}

namespace quillet::win32 {

// The help window already open, in this process or another, is restored when minimised and brought
// to the front; otherwise a new one runs modally (owner may be null) until closed. A named mutex
// holds a second caller back until the first window exists, so two callers never open two windows.
void openOrActivateScriptsHelp(HWND owner);

// The about box, modal over owner, with the version recorded in the registry (none when unreadable).
void runAboutBox(RegistryAccess& access, HWND owner);

// The splash window: the splash bitmap with the product, version and message texts over it.
class SplashWindow final : public SplashScreen {
 public:
  SplashWindow() = default;
  ~SplashWindow() override;
  SplashWindow(const SplashWindow&) = delete;
  SplashWindow& operator=(const SplashWindow&) = delete;

  void create() override;
  void setProduct(const std::string& text, bool shown) override;
  void setVersion(const std::string& text, bool shown) override;
  void setMessage(const std::string& text) override;
  void present() override;
  void close() override;

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void paint();

  HWND window = nullptr;
  HBITMAP bitmap = nullptr;
  int width = kSplashFallbackWidth;
  int height = kSplashFallbackHeight;
  std::string product = kSplashInitialProduct;
  bool productShown = false;
  std::string version = kSplashInitialVersion;
  bool versionShown = false;
  std::string message = kSplashInitialMessage;
};

}  // namespace quillet::win32
