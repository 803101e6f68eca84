#include "ui/main/speed_chart_window.h"

#include <QPainter>
#include <QPolygon>

#include "frontend/speed_chart.h"

namespace quillet {

SpeedChartWindow::SpeedChartWindow(Source source, QWidget* parent)
    : QWidget(parent, Qt::Window), source_(std::move(source)) {
  setObjectName(QStringLiteral("speedChart"));
  setWindowTitle(QString::fromLatin1(kSpeedChartTitle));
  setAttribute(Qt::WA_DeleteOnClose);
  resize(kSpeedChartWidth, kSpeedChartHeight);
  refresh_.setInterval(500);
  connect(&refresh_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
  refresh_.start();
}

void SpeedChartWindow::paintEvent(QPaintEvent*) {
  const auto [samples, read] = source_();
  const SpeedChartGeometry g = speedChartGeometry(samples, read, width(), height());
  QPainter p(this);
  p.fillRect(rect(), QColor::fromRgb(kBackground));
  p.setPen(QColor::fromRgb(kGridColor));
  for (int x : g.gridX) p.drawLine(x, g.plot.top, x, g.plot.bottom - 1);
  for (int y : g.gridY) p.drawLine(g.plot.left, y, g.plot.right - 1, y);
  p.setPen(QColor(Qt::gray));
  p.drawRect(g.plot.left, g.plot.top, g.plot.right - 1 - g.plot.left, g.plot.bottom - 1 - g.plot.top);
  p.setPen(QColor(Qt::black));
  p.drawText(g.plot.left, 18, QString::fromStdString(g.title));
  const QFontMetrics metrics(p.font());
  for (const ChartLabel& l : g.labels) {
    const QString text = QString::fromStdString(l.text);
    const int w = metrics.horizontalAdvance(text);
    p.drawText(l.alignRight ? l.at.x - w : l.at.x - w / 2, l.at.y, text);
  }
  QPolygon line;
  for (const ChartPoint& point : g.line) line << QPoint(point.x, point.y);
  p.setPen(QPen(QColor::fromRgb(kLineColor), 2));
  if (line.size() == 1) {
    p.drawEllipse(line.front(), 2, 2);
  } else {
    p.drawPolyline(line);
  }
}

}  // namespace quillet
