#include "ui/controls/owner_draw_check_box.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace quillet {

OwnerDrawCheckBox::OwnerDrawCheckBox(const QString& text, QWidget* parent)
    : OwnerDrawButton(Kind::CheckBox, text, parent) {}

Edges OwnerDrawCheckBox::indicatorBox() const {
  const int top = (height() - 12) / 2 - 1;
  return {0, top, 14, top + 12};
}

void OwnerDrawCheckBox::drawIndicator(GdiPainter& g, bool disabled) {
  const ButtonColors& c = colors();
  Edges box = indicatorBox();
  box.right -= 2;  // the box is drawn 12 wide
  g.frameRect(box, disabled ? c.shadow : c.windowFrame);
  const Edges inner = box.grown(-1);
  if (isPressed()) {
    g.fillRect(inner, c.mid);
    g.draw3dRect(inner, c.shadow, c.light);
  } else {
    g.fillRect(inner, c.face);
    if (!disabled) g.draw3dRect(inner, c.hilite, c.shadow);
  }
  g.pixel(inner.right - 1, inner.top, c.face);
  g.pixel(inner.left, inner.bottom - 1, c.face);
  if (check() != 1) return;

  drawStrokes(g, c, inner.left, inner.top, checkMarkStrokes(disabled));
}

void OwnerDrawCheckBox::toggleAndNotify() {
  setCheck(check() == 0 ? 1 : 0);
  emit clicked(check() == 1);
}

void OwnerDrawCheckBox::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractButton::mousePressEvent(event);
  pressWithMouse();
}

void OwnerDrawCheckBox::mouseMoveEvent(QMouseEvent* event) { trackMouse(event->position()); }

void OwnerDrawCheckBox::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractButton::mouseReleaseEvent(event);
  releaseCapture();
  if (rect().contains(event->position().toPoint())) toggleAndNotify();
  setPressedState(false);
  repaintIndicator();
}

void OwnerDrawCheckBox::keyPressEvent(QKeyEvent* event) {
  // Space with a modifier is not Space: Alt+Space belongs to the window menu.
  if (event->key() != Qt::Key_Space || event->modifiers() != Qt::NoModifier) {
    return OwnerDrawButton::keyPressEvent(event);
  }
  if (!isPressed()) setPressedState(true);
}

void OwnerDrawCheckBox::keyReleaseEvent(QKeyEvent* event) {
  // Only a release that ends a press of plain Space toggles.
  if (event->key() != Qt::Key_Space || !isPressed()) return QAbstractButton::keyReleaseEvent(event);
  if (event->isAutoRepeat()) return;  // held keys repeat presses, not releases
  setPressedState(false);
  toggleAndNotify();
  repaintIndicator();
}

}  // namespace quillet
