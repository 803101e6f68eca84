// The owner-drawn check box: its own indicator (box and tick), and its own mouse and space-key
// handling, since the control keeps its check state itself. Notifies with clicked(). UI thread.
#pragma once

#include "ui/controls/owner_draw_button.h"

namespace quillet {

class OwnerDrawCheckBox : public OwnerDrawButton {
  Q_OBJECT

 public:
  explicit OwnerDrawCheckBox(const QString& text = {}, QWidget* parent = nullptr);

 protected:
  Edges indicatorBox() const override;
  void drawIndicator(GdiPainter& g, bool disabled) override;

  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;

 private:
  void toggleAndNotify();
};

}  // namespace quillet
