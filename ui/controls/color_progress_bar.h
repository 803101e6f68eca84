// A horizontal progress bar that paints itself: a flat button-face background, a shaded bar in a
// chosen colour and the percentage in white over the middle. UI thread only.
#pragma once

#include <QColor>
#include <QProgressBar>

#include "ui/system_colors.h"

namespace quillet {

class ColorProgressBar : public QProgressBar {
  Q_OBJECT
  Q_PROPERTY(int lower READ lower NOTIFY rangeChanged)
  Q_PROPERTY(int upper READ upper NOTIFY rangeChanged)
  Q_PROPERTY(int pos READ pos WRITE setPos NOTIFY posChanged)
  Q_PROPERTY(QColor color READ color WRITE setColor)

 public:
  explicit ColorProgressBar(QWidget* parent = nullptr);

  // Stores the bounds, resets the stored position to lower and hands the range to the control as
  // two unsigned 16-bit words, as the bar control takes it.
  void setRange(int lower, int upper);
  // Stores the position; the control itself keeps it within its range.
  void setPos(int position);
  void setStep(int step) { stepSize = step; }
  // Stores the colour, derives the shading colours and repaints at once.
  void setColor(const QColor& color);

  int lower() const { return lowerBound; }
  int upper() const { return upperBound; }
  int pos() const { return position; }
  int step() const { return stepSize; }
  QColor color() const { return base; }

  // The shading colours, derived from the bar colour and the system shadows.
  QColor light1() const { return lights[0]; }
  QColor light2() const { return lights[1]; }
  QColor light3() const { return lights[2]; }
  QColor dark1() const { return darks[0]; }
  QColor dark2() const { return darks[1]; }
  QColor shadow() const { return shadowColor; }
  QColor midShadow() const { return midShadowColor; }

  // The filled width in pixels for the control's range and position and the current width; 0 for
  // an empty range.
  int filledWidth() const;

  // "%.0f%%" of pos × 100 ÷ upper (the stored figures; the lower bound is not subtracted). An
  // upper bound of 0 reads 0%.
  QString text() const override;

 signals:
  void rangeChanged(int lower, int upper);
  void posChanged(int pos);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void deriveColors();

  int lowerBound = 0;
  int upperBound = 100;
  int stepSize = 10;
  int position = 0;
  QColor base;
  QColor lights[3];
  QColor darks[2];
  QColor darkShadowColor;
  QColor shadowColor;
  QColor midShadowColor;
};

}  // namespace quillet
