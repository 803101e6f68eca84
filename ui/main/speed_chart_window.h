// The speed chart window of the main dialog's window menu: the rate over time of the last run or
// verify, redrawn twice a second so that a window left open follows the next run live. Draws the
// geometry frontend/speed_chart computes; modeless, one at a time.
#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>
#include <utility>
#include <vector>

#include "engine/rate_series.h"

namespace quillet {

class SpeedChartWindow : public QWidget {
  Q_OBJECT

 public:
  // source gives the samples to draw and whether they are a verify's (read); called on the GUI
  // thread at every redraw.
  using Source = std::function<std::pair<std::vector<RateSample>, bool>()>;
  explicit SpeedChartWindow(Source source, QWidget* parent = nullptr);

  static constexpr QRgb kLineColor = 0xff1565c0;
  static constexpr QRgb kGridColor = 0xffe0e0e0;
  static constexpr QRgb kBackground = 0xffffffff;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Source source_;
  QTimer refresh_;
};

}  // namespace quillet
