// Shows a message box of the shared list (frontend/message_boxes.h) with the toolkit's box, modally
// in its own loop. UI thread only.
#pragma once

#include <QMessageBox>
#include <QString>

#include "frontend/message_boxes.h"

class QWidget;

namespace quillet {

// Over owner when the box is an owned one (owner may be null); objectName names the box for the
// tests. Returns the button pressed: Ok, or Cancel (also for Esc and the close box).
QMessageBox::StandardButton showMessageBox(const MessageBox& box, QWidget* owner, const QString& objectName);

}  // namespace quillet
