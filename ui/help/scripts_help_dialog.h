// The scripts help window: the whole script-parameter text in a read-only scrolling box and an OK
// button. Modal; UI thread only.
#pragma once

#include "ui/help/ok_dialog.h"

class QPlainTextEdit;

namespace quillet {

class ScriptsHelpDialog : public OkDialog {
  Q_OBJECT
  Q_PROPERTY(int activationCount READ activationCount NOTIFY activated)

 public:
  static constexpr const char* kCaption = kScriptsHelpCaption;

  explicit ScriptsHelpDialog(QWidget* parent = nullptr);

  QPlainTextEdit* textBox() const { return text; }

  // Brings the window forward: restored when minimised, shown, raised and made the active window.
  // Called when a second "Scripts help" or "/?" asks for the window that is already open.
  void activate();
  int activationCount() const { return activations; }

 signals:
  void activated();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QPlainTextEdit* text = nullptr;
  int activations = 0;
};

}  // namespace quillet
