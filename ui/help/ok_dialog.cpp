#include "ui/help/ok_dialog.h"

#include <QKeyEvent>

#include "ui/controls/owner_draw_button.h"
#include "ui/help/help_resources.h"

namespace quillet {

OkDialog::OkDialog(QWidget* parent, const HelpDialogLayout& layout)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QString::fromLatin1(layout.objectName));
  setFont(dialogFont());
  setWindowTitle(QString::fromLatin1(layout.caption));
  setWindowIcon(programIcon());
  setModal(true);
  setFixedSize(dialogUnits.toPixels(QSize(layout.width, layout.height)));
}

void OkDialog::placeOkButton(const HelpControlRow& row) {
  ok = new OwnerDrawButton(QString::fromLatin1(kOkText), this);
  ok->setObjectName(QString::fromLatin1(row.name));
  dialogUnits.place(ok, row.x, row.y, row.width, row.height);
  connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
}

void OkDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // The default button is OK, whatever holds the focus.
      accept();
      event->accept();
      return;
    case Qt::Key_F1:
      event->accept();  // no context help here
      return;
    default: QDialog::keyPressEvent(event);  // Esc closes
  }
}

}  // namespace quillet
