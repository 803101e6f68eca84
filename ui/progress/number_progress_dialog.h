// The progress dialog of generation by files number: folders processed, the tree make-up, the
// folder count and the files of the current folder, and the used data of the volume. UI thread.
#pragma once

#include "ui/progress/progress_dialog.h"

namespace quillet {

class NumberProgressDialog : public ProgressDialog {
  Q_OBJECT

 public:
  explicit NumberProgressDialog(FileSystem& fileSystem);

 protected:
  void refreshStage(const ProgressSnapshot& snapshot) override;
  void forceBarsFull() override;
  void pushValues() override;

 private:
  QLabel* firstLabel;    // "Files created:" or "Dirs created:"
  QLabel* secondLabel;   // "Current size:" or "Dirs calculated:"
  QLabel* foldersValueLabel;
  QLabel* firstValueLabel;
  QLabel* secondValueLabel;
  QLabel* statusValueLabel;
  QLabel* usedDataValueLabel;
  ColorProgressBar* foldersBar;
  ColorProgressBar* sizeBar;
  QString foldersValue;
  QString firstValue;
  QString secondValue;
  QString statusValue;
  QString usedDataValue;
};

}  // namespace quillet
