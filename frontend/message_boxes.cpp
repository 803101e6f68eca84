// The message boxes' texts and captions.
#include "frontend/message_boxes.h"

#include "frontend/main_dialog_layout.h"
#include "script/failure_text.h"

namespace quillet {

MessageBox exitQuestionBox() { return {BoxIcon::Question, kMainTitle, kExitQuestion, BoxButtons::OkCancel, true}; }

MessageBox emptyRootBox() { return {BoxIcon::Warning, kEmptyRootCaption, kEmptyRoot, BoxButtons::Ok, true}; }

MessageBox failureBox(FailureCaption caption, const std::string& text, const std::string& applicationTitle) {
  const bool application = caption == FailureCaption::Application;
  return {BoxIcon::Error, application ? applicationTitle : "Error", text, BoxButtons::Ok, application};
}

FailureCaption failureCaption(const RunFailure& failure) {
  return failureBoxIsApplications(failure) ? FailureCaption::Application : FailureCaption::Error;
}

MessageBox failureBox(const RunFailure& failure, const std::string& applicationTitle) {
  return failureBox(failureCaption(failure), failureBoxText(failure), applicationTitle);
}

MessageBox settingsErrorBox(const std::string& caption, const std::string& text) {
  return {BoxIcon::Error, caption, text, BoxButtons::Ok, false};
}

}  // namespace quillet
