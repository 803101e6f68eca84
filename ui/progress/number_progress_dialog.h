// The progress dialog of generation by files number: folders processed, the tree make-up, the
// folder count and the files of the current folder, and the used data of the volume. UI thread.
#pragma once

#include "ui/progress/progress_dialog.h"

namespace quillet {

class NumberProgressDialog : public ProgressDialog {
  Q_OBJECT

 public:
  explicit NumberProgressDialog(FileSystem& fileSystem) : ProgressDialog(fileSystem, ProgressKind::Number) {}
};

}  // namespace quillet
