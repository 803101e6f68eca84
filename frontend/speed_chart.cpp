#include "frontend/speed_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/rate_text.h"
#include "engine/size_text.h"

namespace quillet {
namespace {

constexpr int kMarginLeft = 78, kMarginRight = 14, kMarginTop = 26, kMarginBottom = 24;

// A round step cutting 0..top in about four parts: 1, 2 or 5 times a power of ten for time, a
// power of two of a size unit for rates.
double timeStep(double top) {
  if (!(top > 0)) return 1;
  const double raw = top / 4;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * power >= raw) return m * power;
  }
  return 10 * power;
}

double rateStep(double top) {
  if (!(top > 0)) return 1024;
  double unit = 1;
  while (top / unit >= 1024 && unit < 1e18) unit *= 1024;
  double step = 0.25;
  while (step * unit * 4 < top) step *= 2;
  return step * unit;
}

std::string secondsText(double v, double step) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f s", step >= 1 ? 0 : step >= 0.1 ? 1 : 2, v);
  return text;
}

}  // namespace

SpeedChartGeometry speedChartGeometry(const std::vector<RateSample>& samples, bool read, int width,
                                      int height) {
  SpeedChartGeometry g;
  g.plot = {kMarginLeft, kMarginTop, std::max(kMarginLeft + 2, width - kMarginRight),
            std::max(kMarginTop + 2, height - kMarginBottom)};
  std::vector<std::pair<double, double>> points;
  RateSample before;
  double tMax = 0, rMax = 0;
  for (const RateSample& s : samples) {
    const double interval = s.seconds - before.seconds;
    const double rate = interval > 0 ? static_cast<double>(s.bytes - before.bytes) / interval : 0.0;
    points.emplace_back(s.seconds, std::max(0.0, rate));
    tMax = std::max(tMax, s.seconds);
    rMax = std::max(rMax, rate);
    before = s;
  }
  const std::string kind = read ? "Read" : "Write";
  g.title = samples.empty() ? std::string(kSpeedChartEmpty)
                            : formatRateSentence(kind, samples.back().bytes, samples.back().files,
                                                 samples.back().seconds, !read);
  const double tStep = timeStep(tMax), rStep = rateStep(rMax);
  const double tTop = std::max(tStep, std::ceil(tMax / tStep - 1e-9) * tStep);
  const double rTop = std::max(rStep, std::ceil(rMax / rStep - 1e-9) * rStep);
  const int w = g.plot.right - 1 - g.plot.left, h = g.plot.bottom - 1 - g.plot.top;
  const auto px = [&](double t) { return g.plot.left + static_cast<int>(std::lround(t / tTop * w)); };
  const auto py = [&](double r) { return g.plot.bottom - 1 - static_cast<int>(std::lround(r / rTop * h)); };
  for (double t = tStep; t < tTop + tStep / 2; t += tStep) g.gridX.push_back(px(t));
  for (double r = rStep; r < rTop + rStep / 2; r += rStep) g.gridY.push_back(py(r));
  for (double t = 0; t < tTop + tStep / 2; t += tStep) {
    g.labels.push_back({{px(t), g.plot.bottom + 15}, false, secondsText(t, tStep)});
  }
  for (double r = 0; r < rTop + rStep / 2; r += rStep) {
    g.labels.push_back({{g.plot.left - 6, py(r) + 4}, true, formatSize(static_cast<std::int64_t>(r)) + "/s"});
  }
  for (const auto& [t, r] : points) g.line.push_back({px(t), py(r)});
  return g;
}

}  // namespace quillet
