#include "ui/progress/size_progress_dialog.h"

#include <QLabel>

#include "engine/size_text.h"

namespace quillet {

SizeProgressDialog::SizeProgressDialog(FileSystem& fileSystem)
    : ProgressDialog(fileSystem, QSize(120, 89)) {
  setObjectName(QStringLiteral("sizeProgressDialog"));
  addLabel(QStringLiteral("Files created:"), 6, 5, 43, 8, QStringLiteral("filesLabel"));
  filesValueLabel = addLabel({}, 51, 5, 67, 8, QStringLiteral("filesValue"));
  addLabel(QStringLiteral("Current size:"), 6, 17, 39, 8, QStringLiteral("sizeLabel"));
  sizeValueLabel = addLabel({}, 51, 17, 67, 8, QStringLiteral("sizeValue"));
  sizeBar = addBar(QColor(0, 0, 255), 4, 27, 111, 10, QStringLiteral("sizeBar"));
  addLabel(QStringLiteral("Used data size:"), 6, 43, 49, 8, QStringLiteral("usedDataLabel"));
  usedDataValueLabel = addLabel({}, 59, 43, 53, 8, QStringLiteral("usedDataValue"));
  usedDataBar = addBar(QColor(255, 0, 0), 4, 54, 111, 10, QStringLiteral("usedDataBar"));
  addStopButton(38, 71, 42, 13);
}

void SizeProgressDialog::forceBarsFull() { setBar(sizeBar, kFullBar); }

void SizeProgressDialog::refreshStage(const ProgressSnapshot& s) {
  if (!s.finished) {
    setBar(sizeBar, scaleBar(static_cast<double>(s.currentSize), static_cast<double>(s.allSize), 2));
    // Generating to all partition size writes past allSize, which only scales this bar: it grows
    // by the free space left, and the bar drops back accordingly.
    if (s.currentSize > s.allSize) job()->allSize += static_cast<std::int64_t>(diskFree());
  }
  filesValue = fileCountText(s.filesCreated);
  sizeValue = QString::fromStdString(formatSize(s.currentSize));
  usedDataValue = QString::fromStdString(formatSize(diskUsed()));
  showUsedData();
}

void SizeProgressDialog::pushValues() {
  filesValueLabel->setText(filesValue);
  sizeValueLabel->setText(sizeValue);
  usedDataValueLabel->setText(usedDataValue);
}

}  // namespace quillet
