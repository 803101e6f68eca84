#include "ui/help/scripts_help_dialog.h"

#include <QPlainTextEdit>

#include "ui/dialog_units.h"

namespace quillet {

ScriptsHelpDialog::ScriptsHelpDialog(QWidget* parent) : OkDialog(parent, scriptsHelpLayout()) {
  const DialogUnits& units = this->units();
  const HelpDialogLayout layout = scriptsHelpLayout();
  const HelpControlRow& box = layout.controls[0];
  const HelpControlRow& ok = layout.controls[1];

  text = new QPlainTextEdit(this);
  text->setObjectName(QString::fromLatin1(box.name));
  text->setReadOnly(true);
  // Read-only, yet the keyboard still moves the caret and selects, as in any read-only edit box.
  text->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  text->setTabChangesFocus(true);
  text->setPlainText(QString::fromStdString(scriptsHelpLines()));
  units.place(text, box.x, box.y, box.width, box.height);

  placeOkButton(ok);

  text->setFocus(Qt::OtherFocusReason);
}

void ScriptsHelpDialog::activate() {
  if (isMinimized()) setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
  ++activations;
  emit activated();
}

void ScriptsHelpDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  text->setFocus(Qt::OtherFocusReason);
}

}  // namespace quillet
