// The speed chart window of the main dialog's system menu: the rate over time of the last run or
// verify, redrawn twice a second so that a window left open follows the next run live. Paints the
// geometry frontend/speed_chart computes with GDI; modeless, one at a time. UI thread.
#pragma once

#include <windows.h>

#include <functional>
#include <utility>
#include <vector>

#include "engine/rate_series.h"

namespace quillet::win32 {

class SpeedChartWindow {
 public:
  using Source = std::function<std::pair<std::vector<RateSample>, bool>()>;
  static constexpr COLORREF kLineColor = RGB(0x15, 0x65, 0xc0);
  static constexpr COLORREF kGridColor = RGB(0xe0, 0xe0, 0xe0);
  static constexpr COLORREF kBackground = RGB(0xff, 0xff, 0xff);

  SpeedChartWindow() = default;
  SpeedChartWindow(const SpeedChartWindow&) = delete;
  SpeedChartWindow& operator=(const SpeedChartWindow&) = delete;
  ~SpeedChartWindow();

  // Opens the window beside owner, or brings the open one forward.
  void open(HWND owner, Source source);
  HWND handle() const { return window; }

  // Draws the chart of samples over a width x height area of dc (the window's client area).
  static void paint(HDC dc, int width, int height, const std::vector<RateSample>& samples, bool read);

 private:
  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window = nullptr;
  Source source;
};

}  // namespace quillet::win32
