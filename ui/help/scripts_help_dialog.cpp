#include "ui/help/scripts_help_dialog.h"

#include <QKeyEvent>
#include <QPlainTextEdit>

#include "script/scripts_help_text.h"
#include "ui/controls/owner_draw_button.h"
#include "ui/dialog_units.h"
#include "ui/help/help_resources.h"

namespace quillet {

ScriptsHelpDialog::ScriptsHelpDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("scriptsHelpDialog"));
  setFont(dialogFont());
  setWindowTitle(QString::fromLatin1(kCaption));
  setWindowIcon(programIcon());
  setModal(true);
  const DialogUnits units(font());
  setFixedSize(units.toPixels(QSize(283, 183)));

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

  ok = new OwnerDrawButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  units.place(ok, 116, 163, 50, 13);
  connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);

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

void ScriptsHelpDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // The text box does not want Return, so it reaches the default button.
      accept();
      event->accept();
      return;
    case Qt::Key_F1:
      event->accept();  // no context help here
      return;
    default:
      QDialog::keyPressEvent(event);  // Esc closes
  }
}

void ScriptsHelpDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  text->setFocus(Qt::OtherFocusReason);
}

}  // namespace quillet
