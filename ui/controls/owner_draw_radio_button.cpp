#include "ui/controls/owner_draw_radio_button.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "ui/controls/dialog_group.h"

namespace quillet {

OwnerDrawRadioButton* asOwnerDrawRadio(QWidget* widget) {
  auto* button = qobject_cast<OwnerDrawRadioButton*>(widget);
  return button != nullptr && button->kind() == OwnerDrawButton::Kind::RadioButton ? button : nullptr;
}

OwnerDrawRadioButton::OwnerDrawRadioButton(const QString& text, QWidget* parent)
    : OwnerDrawButton(Kind::RadioButton, text, parent) {
  connect(this, &OwnerDrawButton::checkStateChanged, this, &OwnerDrawRadioButton::updateGroupTabStops);
}

void OwnerDrawRadioButton::updateGroupTabStops() {
  // Tab and Backtab stop once in a group: on its checked button, or on every button while none is
  // checked. An unchecked button left in the tab chain would take the focus only to hand it back to
  // the checked one, and Tab could never leave the group.
  QList<OwnerDrawRadioButton*> radios;
  bool anyChecked = false;
  for (QWidget* widget : dialogGroup(this)) {
    if (auto* radio = asOwnerDrawRadio(widget)) {
      radios << radio;
      anyChecked = anyChecked || radio->check() == 1;
    }
  }
  for (OwnerDrawRadioButton* radio : radios) {
    radio->setFocusPolicy(!anyChecked || radio->check() == 1 ? Qt::StrongFocus : Qt::ClickFocus);
  }
}

Edges OwnerDrawRadioButton::indicatorBox() const {
  const int top = (height() - 12) / 2 - 1;
  return {1, top, 13, top + 12};
}

void OwnerDrawRadioButton::clearGroup() {
  const QList<QWidget*> group = dialogGroup(this);
  const qsizetype start = group.indexOf(this);
  for (qsizetype step = 1; step < group.size(); ++step) {
    if (auto* radio = asOwnerDrawRadio(group[(start + step) % group.size()])) radio->setCheck(0);
  }
}

void OwnerDrawRadioButton::drawIndicator(GdiPainter& g, bool disabled) {
  const ButtonColors& c = colors();
  const Edges box = indicatorBox();
  const int x = box.left, y = box.top;
  g.roundRect(box, 10, 10, disabled ? c.shadow : c.windowFrame, c.face);

  if (!disabled) {
    // Checked or pressed turns the raised pattern by half a turn about the centre: sunken.
    const bool sunken = check() == 1 || isPressed();
    drawStrokes(g, c, x, y, radioPatternStrokes(sunken));
  }
  const QColor ring = disabled ? c.mid : c.shadow;
  for (const StrokePoint& q : radioRingPixels()) g.pixel(x + q.x, y + q.y, ring);
  if (check() == 1) {
    const QColor dot = disabled ? c.shadow : c.dkShadow;
    g.roundRect(box.grown(-3), 2, 2, dot, dot);
  }
}

void OwnerDrawRadioButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractButton::mousePressEvent(event);
  pressWithMouse();
}

void OwnerDrawRadioButton::mouseMoveEvent(QMouseEvent* event) {
  trackMouse(event->position());
  QAbstractButton::mouseMoveEvent(event);
}

void OwnerDrawRadioButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractButton::mouseReleaseEvent(event);
  releaseCapture();
  if (rect().contains(event->position().toPoint())) {
    setCheck(1);
    clearGroup();
    emit clicked(true);
  }
  setPressedState(false);
  repaintIndicator();
}

void OwnerDrawRadioButton::keyPressEvent(QKeyEvent* event) {
  // Keys with a modifier are not the control's: Alt+Space belongs to the window menu.
  if (event->modifiers() != Qt::NoModifier) return OwnerDrawButton::keyPressEvent(event);
  switch (event->key()) {
    case Qt::Key_Space:
      if (!isPressed()) setPressedState(true);
      return;
    case Qt::Key_Left:
    case Qt::Key_Up:
    case Qt::Key_Right:
    case Qt::Key_Down: {
      const bool forward = event->key() == Qt::Key_Right || event->key() == Qt::Key_Down;
      clearGroup();
      QWidget* neighbour = nextInGroup(this, forward);
      if (auto* radio = asOwnerDrawRadio(neighbour)) {
        radio->setCheck(1);
        emit radio->clicked(true);
      }
      setCheck(0);
      // What the dialog does with the key afterwards: the focus moves within the group.
      if (neighbour != this) neighbour->setFocus(Qt::OtherFocusReason);
      return;
    }
    default: OwnerDrawButton::keyPressEvent(event);
  }
}

void OwnerDrawRadioButton::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() != Qt::Key_Space || !isPressed()) return QAbstractButton::keyReleaseEvent(event);
  if (event->isAutoRepeat()) return;
  setCheck(1);
  emit clicked(true);
  clearGroup();
  setPressedState(false);
  repaintIndicator();
}

void OwnerDrawRadioButton::focusInEvent(QFocusEvent* event) {
  QAbstractButton::focusInEvent(event);
  if (check() == 1 || isPressed()) return;
  const QList<QWidget*> group = dialogGroup(this);
  const qsizetype start = group.indexOf(this);
  for (qsizetype step = 1; step < group.size(); ++step) {
    auto* radio = asOwnerDrawRadio(group[(start + step) % group.size()]);
    if (radio == nullptr) return;
    if (radio->check() == 1) {
      radio->setFocus(event->reason());
      return;
    }
  }
}

}  // namespace quillet
