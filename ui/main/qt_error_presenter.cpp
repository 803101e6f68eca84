// The message box of a settings-store failure.
#include "ui/main/qt_error_presenter.h"

#include <QMessageBox>

namespace quillet {

void QtErrorPresenter::show(const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::Critical, QString::fromStdString(caption), QString::fromStdString(text),
                  QMessageBox::Ok);
  box.setObjectName(QStringLiteral("settingsErrorMessage"));
  box.exec();
}

}  // namespace quillet
