// The message boxes' texts and captions.
#include "frontend/message_boxes.h"

#include "frontend/main_dialog_layout.h"

namespace quillet {

MessageBox exitQuestionBox() { return {BoxIcon::Question, kMainTitle, kExitQuestion, BoxButtons::OkCancel, true}; }

MessageBox emptyRootBox() { return {BoxIcon::Warning, kEmptyRootCaption, kEmptyRoot, BoxButtons::Ok, true}; }

MessageBox failureBox(FailurePresenter::Caption caption, const std::string& text,
                      const std::string& applicationTitle) {
  const bool application = caption == FailurePresenter::Caption::Application;
  return {BoxIcon::Error, application ? applicationTitle : "Error", text, BoxButtons::Ok, application};
}

MessageBox settingsErrorBox(const std::string& caption, const std::string& text) {
  return {BoxIcon::Error, caption, text, BoxButtons::Ok, false};
}

}  // namespace quillet
