// The message boxes' texts and captions.
#include "frontend/message_boxes.h"

#include "frontend/main_dialog_layout.h"
#include "script/failure_text.h"

namespace quillet {

MessageBox exitQuestionBox() {
  return {BoxIcon::Question, kMainTitle, kExitQuestion, BoxButtons::OkCancel, true};
}

MessageBox emptyRootBox() { return {BoxIcon::Warning, kEmptyRootCaption, kEmptyRoot, BoxButtons::Ok, true}; }

MessageBox failureBox(FailureCaption caption, const std::string& text, const std::string& applicationTitle) {
  const bool application = caption == FailureCaption::Application;
  return {BoxIcon::Error, application ? applicationTitle : "Error", text, BoxButtons::Ok, application};
}

FailureCaption failureCaption(const RunFailure& failure) {
  // A folder on the way (the root's or a file's) that cannot be made stands alone as an "Error";
  // a failure of the files themselves belongs to the window of the run.
  const bool folder = failure.kind == FailureKind::RootPath || failure.kind == FailureKind::FolderPath;
  return folder ? FailureCaption::Error : FailureCaption::Application;
}

MessageBox failureBox(const RunFailure& failure, const std::string& applicationTitle) {
  return failureBox(failureCaption(failure), failureBoxText(failure), applicationTitle);
}

MessageBox settingsErrorBox(const std::string& caption, const std::string& text) {
  return {BoxIcon::Error, caption, text, BoxButtons::Ok, false};
}

}  // namespace quillet
