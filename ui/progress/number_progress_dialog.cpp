#include "ui/progress/number_progress_dialog.h"

#include <QLabel>

#include "engine/size_text.h"

namespace quillet {

NumberProgressDialog::NumberProgressDialog(FileSystem& fileSystem)
    : ProgressDialog(fileSystem, QSize(120, 130)) {
  setObjectName(QStringLiteral("numberProgressDialog"));
  addLabel(QStringLiteral("Dirs processed:"), 6, 5, 50, 8, QStringLiteral("foldersLabel"));
  foldersValueLabel = addLabel({}, 59, 5, 58, 8, QStringLiteral("foldersValue"));
  foldersBar = addBar(QColor(255, 0, 255), 6, 18, 110, 10, QStringLiteral("foldersBar"));
  firstLabel = addLabel(QStringLiteral("Files created:"), 6, 34, 51, 8, QStringLiteral("firstLabel"));
  firstValueLabel = addLabel({}, 59, 34, 57, 8, QStringLiteral("firstValue"));
  secondLabel = addLabel(QStringLiteral("Current size:"), 6, 47, 49, 8, QStringLiteral("secondLabel"));
  secondValueLabel = addLabel({}, 59, 47, 53, 8, QStringLiteral("secondValue"));
  sizeBar = addBar(QColor(0, 0, 255), 6, 58, 110, 10, QStringLiteral("sizeBar"));
  addLabel(QStringLiteral("Status:"), 6, 74, 23, 8, QStringLiteral("statusLabel"));
  statusValueLabel = addLabel({}, 33, 74, 83, 8, QStringLiteral("statusValue"));
  addLabel(QStringLiteral("Used data size:"), 6, 88, 49, 8, QStringLiteral("usedDataLabel"));
  usedDataValueLabel = addLabel({}, 59, 88, 53, 8, QStringLiteral("usedDataValue"));
  usedDataBar = addBar(QColor(255, 0, 0), 6, 99, 110, 10, QStringLiteral("usedDataBar"));
  addStopButton(38, 113, 42, 13);
}

void NumberProgressDialog::forceBarsFull() {
  setBar(foldersBar, kFullBar);
  setBar(sizeBar, kFullBar);
}

void NumberProgressDialog::refreshStage(const ProgressSnapshot& s) {
  const QString size = QString::fromStdString(formatSize(diskUsed()));
  // Exact, case-sensitive stage names; any other text leaves everything but the status alone.
  if (s.statusText == "Make-up tree") {
    foldersBar->setPos(0);
    setBar(sizeBar, scaleBar(s.dirsCreated, s.dirsLimit, 2));
    firstLabel->setText(QStringLiteral("Dirs created:"));
    firstValue = unsignedText(static_cast<std::uint32_t>(s.dirsCreated));
    secondValue = QStringLiteral("0");
    foldersValue = QStringLiteral("0");
    usedDataValue = size;
    showUsedData();
  }
  if (s.statusText == "Calculating folders") {
    foldersBar->setPos(0);
    sizeBar->setPos(0);
    showUsedData();
    secondLabel->setText(QStringLiteral("Dirs calculated:"));
    firstValue = unsignedText(static_cast<std::uint32_t>(s.dirsCreated));
    secondValue = unsignedText(s.dirsCalculated);
    usedDataValue = size;
    foldersValue = QStringLiteral("0");
  }
  if (s.statusText == "Generating files" || s.statusText == kGenerationComplete) {
    if (!s.finished) {
      // The per-folder files bar's range ends one thousandth further than the others.
      setBar(sizeBar, scaleBar(s.folderFileIndex, s.folderFilesPlanned, 2, 1));
      setBar(foldersBar, scaleBar(s.dirsProcessed, s.dirsCalculated, 1));
    }
    // The values below are the file count and size, so the labels say so even when the run ended
    // before any tick saw "Generating files" (a tree make-up would otherwise leave "Dirs created:"
    // beside the number of files).
    firstLabel->setText(QStringLiteral("Files created:"));
    secondLabel->setText(QStringLiteral("Current size:"));
    foldersValue = ofText(s.dirsProcessed, s.dirsCalculated);
    firstValue = fileCountText(s.filesCreated);
    secondValue = QString::fromStdString(formatSize(s.currentSize));
    usedDataValue = size;
    showUsedData();
  }
  statusValue = QString::fromStdString(s.statusText);
}

void NumberProgressDialog::pushValues() {
  foldersValueLabel->setText(foldersValue);
  firstValueLabel->setText(firstValue);
  secondValueLabel->setText(secondValue);
  statusValueLabel->setText(statusValue);
  usedDataValueLabel->setText(usedDataValue);
}

}  // namespace quillet
