#include "win32ui/speed_chart_window.h"

#include "frontend/speed_chart.h"

namespace quillet::win32 {
namespace {

constexpr const char* kChartClass = "QuilletSpeedChart";
constexpr UINT_PTR kRefreshTimer = 1;

}  // namespace

SpeedChartWindow::~SpeedChartWindow() {
  if (window != nullptr) DestroyWindow(window);
}

void SpeedChartWindow::open(HWND owner, Source chartSource) {
  source = std::move(chartSource);
  if (window != nullptr) {
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    return;
  }
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // the standard arrow
  windowClass.lpszClassName = kChartClass;
  RegisterClassA(&windowClass);  // a second registration fails harmlessly
  RECT area{0, 0, kSpeedChartWidth, kSpeedChartHeight};
  constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW;
  AdjustWindowRect(&area, kStyle, FALSE);
  window = CreateWindowExA(0, kChartClass, kSpeedChartTitle, kStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                           area.right - area.left, area.bottom - area.top, owner, nullptr, instance, this);
  if (window == nullptr) return;
  SetTimer(window, kRefreshTimer, 500, nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
}

void SpeedChartWindow::paint(HDC dc, int width, int height, const std::vector<RateSample>& samples,
                             bool read) {
  const SpeedChartGeometry g = speedChartGeometry(samples, read, width, height);
  const RECT all{0, 0, width, height};
  HBRUSH background = CreateSolidBrush(kBackground);
  FillRect(dc, &all, background);
  DeleteObject(background);
  const auto line = [dc](int x1, int y1, int x2, int y2) {
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2, y2);
  };
  HPEN grid = CreatePen(PS_SOLID, 1, kGridColor);
  HGDIOBJ oldPen = SelectObject(dc, grid);
  for (int x : g.gridX) line(x, g.plot.top, x, g.plot.bottom - 1);
  for (int y : g.gridY) line(g.plot.left, y, g.plot.right - 1, y);
  HPEN frame = CreatePen(PS_SOLID, 1, RGB(0x80, 0x80, 0x80));
  SelectObject(dc, frame);
  const POINT box[] = {{g.plot.left, g.plot.top},
                       {g.plot.right - 1, g.plot.top},
                       {g.plot.right - 1, g.plot.bottom - 1},
                       {g.plot.left, g.plot.bottom - 1},
                       {g.plot.left, g.plot.top}};
  Polyline(dc, box, 5);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SetTextAlign(dc, TA_LEFT | TA_BASELINE);
  TextOutA(dc, g.plot.left, 18, g.title.c_str(), static_cast<int>(g.title.size()));
  for (const ChartLabel& l : g.labels) {
    SetTextAlign(dc, (l.alignRight ? TA_RIGHT : TA_CENTER) | TA_BASELINE);
    TextOutA(dc, l.at.x, l.at.y, l.text.c_str(), static_cast<int>(l.text.size()));
  }
  HPEN rate = CreatePen(PS_SOLID, 2, kLineColor);
  SelectObject(dc, rate);
  std::vector<POINT> points;
  for (const ChartPoint& p : g.line) points.push_back({p.x, p.y});
  if (points.size() == 1) {
    HBRUSH dot = CreateSolidBrush(kLineColor);
    HGDIOBJ oldBrush = SelectObject(dc, dot);
    Ellipse(dc, points[0].x - 2, points[0].y - 2, points[0].x + 3, points[0].y + 3);
    SelectObject(dc, oldBrush);
    DeleteObject(dot);
  } else if (!points.empty()) {
    Polyline(dc, points.data(), static_cast<int>(points.size()));
  }
  SelectObject(dc, oldFont);
  SelectObject(dc, oldPen);
  DeleteObject(grid);
  DeleteObject(frame);
  DeleteObject(rate);
}

LRESULT CALLBACK SpeedChartWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
  }
  auto* self = reinterpret_cast<SpeedChartWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  switch (message) {
    case WM_TIMER: InvalidateRect(hwnd, nullptr, FALSE); return 0;
    case WM_ERASEBKGND: return 1;  // the paint covers everything
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT client{};
      GetClientRect(hwnd, &client);
      if (self != nullptr && self->source) {
        const auto [samples, read] = self->source();
        paint(dc, client.right, client.bottom, samples, read);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_DESTROY:
      KillTimer(hwnd, kRefreshTimer);
      if (self != nullptr) self->window = nullptr;
      return 0;
    default: break;
  }
  return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace quillet::win32
