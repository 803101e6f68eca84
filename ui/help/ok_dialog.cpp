#include "ui/help/ok_dialog.h"

#include <QKeyEvent>

#include "ui/controls/owner_draw_button.h"
#include "ui/help/help_resources.h"

namespace quillet {

OkDialog::OkDialog(QWidget* parent, const char* objectName, const char* caption, QSize sizeInDialogUnits)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QString::fromLatin1(objectName));
  setFont(dialogFont());
  setWindowTitle(QString::fromLatin1(caption));
  setWindowIcon(programIcon());
  setModal(true);
  setFixedSize(dialogUnits.toPixels(sizeInDialogUnits));
}

void OkDialog::placeOkButton(int x, int y, int width, int height) {
  ok = new OwnerDrawButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("okButton"));
  dialogUnits.place(ok, x, y, width, height);
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
    default:
      QDialog::keyPressEvent(event);  // Esc closes
  }
}

}  // namespace quillet
