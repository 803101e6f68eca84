// The progress dialog of generation by all size: files created, the size written against the
// total, and the used data of the volume. UI thread only.
#pragma once

#include "ui/progress/progress_dialog.h"

namespace quillet {

class SizeProgressDialog : public ProgressDialog {
  Q_OBJECT

 public:
  explicit SizeProgressDialog(FileSystem& fileSystem);

 protected:
  void refreshStage(const ProgressSnapshot& snapshot) override;
  void forceBarsFull() override;
  void pushValues() override;

 private:
  QLabel* filesValueLabel;
  QLabel* sizeValueLabel;
  QLabel* usedDataValueLabel;
  ColorProgressBar* sizeBar;
  QString filesValue;
  QString sizeValue;
  QString usedDataValue;
};

}  // namespace quillet
