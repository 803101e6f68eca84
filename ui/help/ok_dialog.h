// What the small windows of the help area share: a fixed size in dialog units, the dialog font, the
// program icon, and one OK button; Return and Esc close, F1 does nothing. Modal; UI thread only.
#pragma once

#include <QDialog>
#include <QSize>

#include "frontend/help_layout.h"
#include "ui/dialog_units.h"

namespace quillet {

class OwnerDrawButton;

class OkDialog : public QDialog {
 public:
  OwnerDrawButton* okButton() const { return ok; }

 protected:
  // The window's name, caption and size from its layout; the controls are the caller's.
  OkDialog(QWidget* parent, const HelpDialogLayout& layout);

  const DialogUnits& units() const { return dialogUnits; }
  // Makes the OK button at its row's place; it accepts the dialog.
  void placeOkButton(const HelpControlRow& row);

  void keyPressEvent(QKeyEvent* event) override;

 private:
  DialogUnits dialogUnits{dialogFont()};
  OwnerDrawButton* ok = nullptr;
};

}  // namespace quillet
