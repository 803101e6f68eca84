#include "ui/help/about_dialog.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <string_view>

#include "settings/registry_access.h"
#include "ui/controls/owner_draw_button.h"
#include "ui/dialog_units.h"

namespace quillet {

AboutDialog::AboutDialog(RegistryAccess& access, QWidget* parent) : OkDialog(parent, aboutLayout()) {
  const DialogUnits& units = this->units();
  for (const HelpControlRow& row : aboutLayout().controls) {
    switch (row.kind) {
      case HelpControlKind::Frame:
        units.place(new QGroupBox(this), row.x, row.y, row.width, row.height);
        break;
      case HelpControlKind::Label: {
        auto* label = new QLabel(this);
        label->setObjectName(QString::fromLatin1(row.name));
        units.place(label, row.x, row.y, row.width, row.height);
        (std::string_view(row.name) == "productLine" ? product : credit) = label;
        break;
      }
      case HelpControlKind::Separator: {
        auto* separator = new QFrame(this);
        separator->setObjectName(QString::fromLatin1(row.name));
        separator->setFrameShape(QFrame::HLine);
        separator->setFrameShadow(QFrame::Sunken);
        // A sunken line one unit high: the shadow and light edges, two pixels whatever the unit's
        // size.
        const QRect line = units.toPixels(row.x, row.y, row.width, row.height);
        separator->setGeometry(line.x(), line.y(), line.width(), 2);
        break;
      }
      case HelpControlKind::OkButton: placeOkButton(row); break;
      case HelpControlKind::TextBox: break;  // the about box has none
    }
  }
  product->setText(QString::fromStdString(aboutProductLine(readProductVersion(access))));
  credit->setText(QString::fromStdString(aboutCreditLine()));
}

QString AboutDialog::productLine() const { return product->text(); }
QString AboutDialog::creditLine() const { return credit->text(); }

void AboutDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  okButton()->setFocus(Qt::OtherFocusReason);
}

}  // namespace quillet
