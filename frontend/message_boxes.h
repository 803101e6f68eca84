// The message boxes the windows show, as data: icon, caption, text and buttons, and whether the box
// belongs to the window that asked (an owned box) or stands alone. Each front-end shows them with
// its own box. Pure; thread-safe.
#pragma once

#include <string>

#include "engine/run_failure.h"

namespace quillet {

enum class BoxIcon { Information, Warning, Question, Error };
enum class BoxButtons { Ok, OkCancel };  // OK is the answer that goes on
enum class FailureCaption {
  Error,        // caption "Error", error icon, no owner window
  Application,  // the application title as caption, error icon
};

struct MessageBox {
  BoxIcon icon;
  std::string caption;
  std::string text;
  BoxButtons buttons;
  bool owned;  // shown over the window that asked, rather than on its own
};

// Esc in the main dialog: OK ends the dialog, Cancel stays.
MessageBox exitQuestionBox();
// Generate with an empty root folder.
MessageBox emptyRootBox();
// A failure of a run: "Error" boxes stand alone; the application's carry its title and belong to
// the window that started the run.
MessageBox failureBox(FailureCaption caption, const std::string& text, const std::string& applicationTitle);
// The box of an engine failure: its words, under the caption its kind takes.
MessageBox failureBox(const RunFailure& failure, const std::string& applicationTitle);
// The caption an engine failure's box takes.
FailureCaption failureCaption(const RunFailure& failure);
// A settings value that cannot be read or written, with the caption the settings report gives.
MessageBox settingsErrorBox(const std::string& caption, const std::string& text);

}  // namespace quillet
