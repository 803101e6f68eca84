#include "ui/help/about_dialog.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <exception>

#include "settings/registry_access.h"
#include "settings/settings_values.h"
#include "ui/controls/owner_draw_button.h"
#include "ui/dialog_units.h"
#include "ui/help/help_strings.h"

namespace quillet {

std::string readProductVersion(RegistryAccess& access) {
  std::string version;
  try {
    access.readString(productKeyPath, "Product Version", version);
  } catch (const CErrException&) {
    version.clear();
  } catch (const std::exception&) {
    version.clear();  // a store that fails in any other way is no reason to lose the about box
  }
  access.closeKey();
  return version;
}

AboutDialog::AboutDialog(RegistryAccess& access, QWidget* parent)
    : OkDialog(parent, "aboutDialog", kCaption, QSize(167, 101)) {
  const DialogUnits& units = this->units();

  auto* frame = new QGroupBox(this);
  units.place(frame, 7, 2, 153, 94);

  product = new QLabel(this);
  product->setObjectName(QStringLiteral("productLine"));
  units.place(product, 24, 12, 131, 8);
  product->setText(QString::fromUtf8(kStringProductName) + QStringLiteral(" Build ") +
                   QString::fromStdString(readProductVersion(access)));

  credit = new QLabel(QString::fromUtf8(kStringAboutCredit), this);
  credit->setObjectName(QStringLiteral("creditLine"));
  units.place(credit, 36, 26, 113, 8);

  auto* separator = new QFrame(this);
  separator->setObjectName(QStringLiteral("separator"));
  separator->setFrameShape(QFrame::HLine);
  separator->setFrameShadow(QFrame::Sunken);
  // A sunken line one unit high: the shadow and light edges, two pixels whatever the unit's size.
  const QRect line = units.toPixels(24, 40, 120, 1);
  separator->setGeometry(line.x(), line.y(), line.width(), 2);

  placeOkButton(59, 78, 50, 13);
}

QString AboutDialog::productLine() const { return product->text(); }
QString AboutDialog::creditLine() const { return credit->text(); }

void AboutDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  okButton()->setFocus(Qt::OtherFocusReason);
}

}  // namespace quillet
