// The progress dialog of a verify, in the size dialog's frame: files checked, bytes checked and
// damaged bytes, each value with its colour bar below. UI thread only.
#pragma once

#include "ui/progress/progress_dialog.h"

namespace quillet {

class VerifyProgressDialog : public ProgressDialog {
  Q_OBJECT

 public:
  explicit VerifyProgressDialog(FileSystem& fileSystem) : ProgressDialog(fileSystem, ProgressKind::Verify) {}
};

}  // namespace quillet
