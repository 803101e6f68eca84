#include "ui/message_box.h"

namespace quillet {

QMessageBox::StandardButton showMessageBox(const MessageBox& box, QWidget* owner, const QString& objectName) {
  QMessageBox::Icon icon = QMessageBox::Critical;
  if (box.icon == BoxIcon::Warning) icon = QMessageBox::Warning;
  if (box.icon == BoxIcon::Question) icon = QMessageBox::Question;
  const QMessageBox::StandardButtons buttons =
      box.buttons == BoxButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok;
  QMessageBox shown(icon, QString::fromStdString(box.caption), QString::fromStdString(box.text), buttons,
                    box.owned ? owner : nullptr);
  shown.setObjectName(objectName);
  const int answer = shown.exec();
  return answer == QMessageBox::Ok ? QMessageBox::Ok : QMessageBox::Cancel;
}

}  // namespace quillet
