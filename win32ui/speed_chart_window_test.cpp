// The speed chart's GDI painting against the shared geometry: drawn into a memory bitmap, the
// line's colour lies on every sample's point and half-way along each segment, the grid where the
// geometry puts it, and nothing of the line outside the frame.
#include <windows.h>

#include <gtest/gtest.h>

#include "frontend/speed_chart.h"
#include "win32ui/speed_chart_window.h"

namespace quillet::win32 {
namespace {

TEST(Win32SpeedChartTest, PaintsTheSharedGeometry) {
  const std::vector<RateSample> samples{{1.0, 8 << 20, 2, 0, {}},
                                        {2.0, 10 << 20, 3, 0, {}},
                                        {3.0, 12 << 20, 4, 0, {}},
                                        {4.0, 14 << 20, 5, 0, {}}};
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = kSpeedChartWidth;
  info.bmiHeader.biHeight = -kSpeedChartHeight;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(bitmap, nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  SpeedChartWindow::paint(dc, kSpeedChartWidth, kSpeedChartHeight, samples, false);
  GdiFlush();
  const SpeedChartGeometry g = speedChartGeometry(samples, false, kSpeedChartWidth, kSpeedChartHeight);
  ASSERT_EQ(g.line.size(), samples.size());
  const auto pixel = [&](int x, int y) { return GetPixel(dc, x, y); };
  for (std::size_t i = 0; i < g.line.size(); ++i) {
    EXPECT_EQ(pixel(g.line[i].x, g.line[i].y), SpeedChartWindow::kLineColor) << i;
    if (i > 0) {
      EXPECT_EQ(pixel((g.line[i].x + g.line[i - 1].x) / 2, (g.line[i].y + g.line[i - 1].y) / 2),
                SpeedChartWindow::kLineColor)
          << i;
    }
  }
  EXPECT_EQ(pixel(g.gridX.front(), g.plot.bottom - 4), SpeedChartWindow::kGridColor);
  EXPECT_EQ(pixel(g.plot.left + 3, g.plot.bottom - 4), SpeedChartWindow::kBackground);
  int outside = 0;
  for (int y = 0; y < kSpeedChartHeight; ++y) {
    for (int x = 0; x < kSpeedChartWidth; ++x) {
      if (x >= g.plot.left - 2 && x < g.plot.right + 2 && y >= g.plot.top - 2 && y < g.plot.bottom + 2)
        continue;
      outside += pixel(x, y) == SpeedChartWindow::kLineColor;
    }
  }
  EXPECT_EQ(outside, 0);
  SelectObject(dc, old);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(nullptr, screen);
}

}  // namespace
}  // namespace quillet::win32
