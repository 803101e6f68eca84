// The speed chart window's drawing as data: the frame, grid, axis labels and the rate line of a
// run's or verify's speed record in a client area of a given size, in pixels. Both front-ends paint
// exactly these (Qt and the native toolkit), as they play the indicator strokes. Pure; thread-safe.
#pragma once

#include <string>
#include <vector>

#include "engine/rate_series.h"

namespace quillet {

struct ChartPoint {
  int x = 0;
  int y = 0;
  bool operator==(const ChartPoint&) const = default;
};

struct ChartRect {
  int left = 0;
  int top = 0;
  int right = 0;   // exclusive
  int bottom = 0;  // exclusive
};

struct ChartLabel {
  ChartPoint at;  // the text's anchor: its right end for the rate axis, its centre for time
  bool alignRight = false;
  std::string text;
};

struct SpeedChartGeometry {
  std::string title;       // "Write rate" or "Read rate", with the rate so far
  ChartRect plot;          // the frame inside which the line runs
  std::vector<int> gridX;  // vertical grid lines' x
  std::vector<int> gridY;  // horizontal grid lines' y
  std::vector<ChartLabel> labels;
  std::vector<ChartPoint> line;  // one point per sample: x by elapsed time, y by interval rate
};

inline constexpr int kSpeedChartWidth = 480;
inline constexpr int kSpeedChartHeight = 260;
inline constexpr const char* kSpeedChartItem = "&Speed chart...";
inline constexpr const char* kSpeedChartTitle = "Speed chart";
inline constexpr const char* kSpeedChartEmpty = "No run or verify yet.";

// The chart of samples (cumulative, as RateSeries keeps them) in a client area of width x height.
SpeedChartGeometry speedChartGeometry(const std::vector<RateSample>& samples, bool read, int width,
                                      int height);

}  // namespace quillet
