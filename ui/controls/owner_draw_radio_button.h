// The owner-drawn radio button: its own ring-and-dot indicator, mouse and space-key handling,
// arrow keys that move the check within its dialog group, and focus that goes to the group's
// checked button when tabbing in; Tab stops only on that button. Notifies with clicked(). UI
// thread only.
#pragma once

#include "ui/controls/owner_draw_button.h"

namespace quillet {

class OwnerDrawRadioButton : public OwnerDrawButton {
  Q_OBJECT

 public:
  explicit OwnerDrawRadioButton(const QString& text = {}, QWidget* parent = nullptr);

  // Clears the check state of every other radio button of this class in the same dialog group.
  void clearGroup();

 protected:
  Edges indicatorBox() const override;
  void drawIndicator(GdiPainter& g, bool disabled) override;

  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  void updateGroupTabStops();
};

// The control as a radio button of this class, or null.
OwnerDrawRadioButton* asOwnerDrawRadio(QWidget* widget);

}  // namespace quillet
