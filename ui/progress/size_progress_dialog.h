// The progress dialog of generation by all size: files created, the size written against the
// total, and the used data of the volume. UI thread only.
#pragma once

#include "ui/progress/progress_dialog.h"

namespace quillet {

class SizeProgressDialog : public ProgressDialog {
  Q_OBJECT

 public:
  explicit SizeProgressDialog(FileSystem& fileSystem) : ProgressDialog(fileSystem, ProgressKind::Size) {}
};

}  // namespace quillet
