// The message box of a settings-store failure.
#include "ui/main/qt_error_presenter.h"

#include "ui/message_box.h"

namespace quillet {

void QtErrorPresenter::show(const std::string& caption, const std::string& text) {
  showMessageBox(settingsErrorBox(caption, text), nullptr, QStringLiteral("settingsErrorMessage"));
}

}  // namespace quillet
