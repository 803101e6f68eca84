// What the small windows of the help area share: a fixed size in dialog units, the dialog font, the
// program icon, and one OK button; Return and Esc close, F1 does nothing. Modal; UI thread only.
#pragma once

#include <QDialog>
#include <QSize>

#include "ui/dialog_units.h"

namespace quillet {

class OwnerDrawButton;

class OkDialog : public QDialog {
 public:
  OwnerDrawButton* okButton() const { return ok; }

 protected:
  OkDialog(QWidget* parent, const char* objectName, const char* caption, QSize sizeInDialogUnits);

  const DialogUnits& units() const { return dialogUnits; }
  // Makes the OK button at its place in dialog units; it accepts the dialog.
  void placeOkButton(int x, int y, int width, int height);

  void keyPressEvent(QKeyEvent* event) override;

 private:
  DialogUnits dialogUnits{dialogFont()};
  OwnerDrawButton* ok = nullptr;
};

}  // namespace quillet
