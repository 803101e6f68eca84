#include "ui/help/scripts_help_dialog.h"

#include <QPlainTextEdit>

#include "script/scripts_help_text.h"
#include "ui/dialog_units.h"

namespace quillet {

ScriptsHelpDialog::ScriptsHelpDialog(QWidget* parent)
    : OkDialog(parent, "scriptsHelpDialog", kCaption, QSize(283, 183)) {
  const DialogUnits& units = this->units();

  text = new QPlainTextEdit(this);
  text->setObjectName(QStringLiteral("helpText"));
  text->setReadOnly(true);
  // Read-only, yet the keyboard still moves the caret and selects, as in any read-only edit box.
  text->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
  text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  text->setTabChangesFocus(true);
  // The help text separates its lines with CR LF; the box keeps one paragraph per line.
  QString help = QString::fromStdString(scriptsHelpText());
  help.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text->setPlainText(help);
  units.place(text, 7, 7, 269, 148);

  placeOkButton(116, 163, 50, 13);

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
