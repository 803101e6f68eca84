// The flat frame of edit boxes and drop-down lists: after the control has painted itself, a frame
// is painted over its border and the few pixels around it on the parent; while the mouse is over
// the control a sunken edge shows instead. Attached to an existing QLineEdit or QComboBox, whose
// text handling stays untouched. UI thread only.
#pragma once

#include <QColor>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <functional>

class QWidget;

namespace quillet {

class FlatEdit : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool hot READ isHot NOTIFY hotChanged)

 public:
  // Attaches to control (a QLineEdit or QComboBox with a parent), which becomes the owner of this
  // object. noOutline: for drop-down lists, no grey outline and no extra hover edge.
  FlatEdit(QWidget* control, bool noOutline = false);

  bool isHot() const { return hot; }
  bool noOutline() const { return withoutOutline; }
  QWidget* control() const { return edit; }
  bool hoverTimerActive() const { return hoverTimer.isActive(); }

  QColor hiliteColor() const { return hilite; }
  QColor shadowColor() const { return shadow; }
  QColor faceColor() const { return face; }

  // Where a drop-down list with the focus shows its selected choice and the focus mark, in the
  // control's coordinates: its text field inside the client rectangle. Empty for an edit box.
  QRect focusMarkRect() const;

  // The rectangle the frame is drawn around, in the control's coordinates: the control's text
  // area inside its 2-pixel border.
  QRect clientRect() const;

  // Where the cursor is, in global coordinates; tests may substitute their own.
  std::function<QPoint()> cursorPosition;

 signals:
  void hotChanged(bool hot);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void readColors();
  void checkHover();
  void setHot(bool state);
  void repaintFrame();
  // The frame's five rings, in the coordinates of the painted widget: `offset` maps control
  // coordinates to it, and only rings from firstRing to lastRing (0 = the client rectangle) are
  // drawn.
  void paintFrame(QWidget* target, QPoint offset, int firstRing, int lastRing);
  // A drop-down list with the keyboard focus shows its choice selected inside a dotted focus mark,
  // as the system's own lists do; the style's painting alone shows no focus under the frame.
  void paintFocusMark();

  QPointer<QWidget> edit;
  QPointer<QWidget> parent;
  bool withoutOutline = false;
  bool hot = false;
  bool painting = false;
  QTimer hoverTimer;
  QColor hilite;
  QColor shadow;
  QColor face;
};

}  // namespace quillet
