// A push button that paints itself completely: rounded, bevelled in the system 3D colours, caption
// centred (optionally bold); also the common machinery of the owner-drawn check box and radio
// button (colours, caption, focus mark, pressed and check state). UI thread only.
#pragma once

#include <QAbstractButton>
#include <QColor>

#include <vector>

#include "frontend/indicator_strokes.h"
#include "ui/controls/gdi_painter.h"
#include "ui/system_colors.h"

namespace quillet {

// The colours the button family draws with, derived from the system colours.
struct ButtonColors {
  QColor hilite;    // button highlight
  QColor light;     // 3D light
  QColor face;      // button face
  QColor mid;       // halfway from face to shadow
  QColor shadow;    // button shadow
  QColor dkShadow;  // 3D dark shadow
  QColor edge;      // halfway from shadow to dark shadow
  QColor window;
  QColor windowFrame;
  QColor text;  // caption of an enabled, unpressed control

  static ButtonColors from(const SystemColors& system);
};

// Plays the shared indicator strokes with their origin at (x, y).
void drawStrokes(GdiPainter& g, const ButtonColors& colors, int x, int y, const std::vector<Stroke>& strokes);

class OwnerDrawButton : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(int checkState READ check WRITE setCheck NOTIFY checkStateChanged)
  Q_PROPERTY(bool pressed READ isPressed NOTIFY pressedChanged)
  Q_PROPERTY(bool bold READ isBold WRITE setBold NOTIFY boldChanged)
  Q_PROPERTY(bool flat READ isFlat WRITE setFlat)

 public:
  enum class Kind { PushButton = 0, CheckBox = 1, RadioButton = 2 };

  explicit OwnerDrawButton(const QString& text = {}, QWidget* parent = nullptr);

  Kind kind() const { return buttonKind; }

  // Ignored for push buttons; otherwise stores the state (0 or 1) and repaints the indicator when
  // it changed.
  void setCheck(int state);
  int check() const { return checkValue; }

  // Stores the flag and repaints at once.
  void setBold(bool bold);
  bool isBold() const { return boldCaption; }

  // Push button: held down by the mouse or the space key. Check box and radio button: the mouse
  // button is down over it (with the capture) or the space key is down on it.
  bool isPressed() const;

  // The flat look: a plain rounded rectangle in the window colour with an inverted outline.
  void setFlat(bool flat);
  bool isFlat() const { return flatLook; }

  const ButtonColors& colors() const { return palette3d; }

  QSize sizeHint() const override;

 signals:
  void checkStateChanged(int state);
  void pressedChanged(bool pressed);
  void boldChanged(bool bold);

 protected:
  OwnerDrawButton(Kind kind, const QString& text, QWidget* parent);

  // The indicator's box in widget coordinates; empty for push buttons.
  virtual Edges indicatorBox() const { return {}; }
  // Draws the indicator of a check box or radio button.
  virtual void drawIndicator(GdiPainter&, bool /*disabled*/) {}

  // Pressed state of check boxes and radio buttons; repaints the indicator when it changed.
  void setPressedState(bool pressed);
  void repaintIndicator();
  // The shared mouse and space-key handling of check boxes and radio buttons.
  void pressWithMouse();
  void trackMouse(const QPointF& position);
  bool hasCapture() const { return captured; }
  void releaseCapture() { captured = false; }

  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  // Space with a modifier goes on to the window (Alt+Space opens the window menu); every other key
  // as for any button.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void readColors();
  void drawPushFrame(GdiPainter& g, const Edges& item, bool selected, bool disabled);
  void drawRaisedBevel(GdiPainter& g, const Edges& r);
  void drawPressedBevel(GdiPainter& g, const Edges& r);
  void drawCornerPixels(GdiPainter& g, const Edges& r);

  Kind buttonKind = Kind::PushButton;
  bool boldCaption = false;
  bool pressedValue = false;
  bool captured = false;
  bool flatLook = false;
  int checkValue = 0;
  ButtonColors palette3d;
};

}  // namespace quillet
