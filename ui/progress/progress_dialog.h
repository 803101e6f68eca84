// What the two progress dialogs share: the 100 ms poll of the job, the volume query, the Stop
// button that becomes "Close", the used-data bar, and the keys and window commands. The dialog
// borrows the job and never waits for the worker. UI thread only.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <mutex>

#include "engine/generation_job.h"
#include "platform/file_system.h"
#include "ui/controls/color_progress_bar.h"
#include "ui/controls/owner_draw_button.h"
#include "ui/dialog_units.h"
#include "ui/progress/progress_figures.h"

class QLabel;

namespace quillet {

class ProgressDialog : public QDialog {
  Q_OBJECT
  Q_PROPERTY(bool closeMode READ isCloseMode NOTIFY closeModeChanged)

 public:
  // The texts the dialogs show and write.
  static constexpr const char* kGenerationComplete = "Generation complete";
  static constexpr int kPollMilliseconds = 100;

  // The job to poll (not owned; null shows nothing). Set before the dialog runs.
  void setJob(GenerationJob* job) { generationJob = job; }
  GenerationJob* job() const { return generationJob; }

  // A window minimised and restored together with this dialog; none by default.
  void setOwnerWindow(QWidget* owner) { ownerWindow = owner; }

  bool isCloseMode() const { return closeMode; }
  std::uint64_t diskTotal() const { return volumeTotal; }
  std::uint64_t diskFree() const { return volumeFree; }
  std::int64_t diskUsed() const { return volumeUsed; }

  OwnerDrawButton* stopButton() const { return stop; }

  // One poll: the volume query, then the refresh under the job's lock, then the texts. The timer
  // calls it every 100 ms while the dialog is shown.
  void refresh();

  // Esc, Alt+F4 and the close box act as the Stop button; they do not close the dialog themselves.
  void reject() override;
  void done(int result) override;

 signals:
  void closeModeChanged(bool closeMode);

 protected:
  ProgressDialog(FileSystem& fileSystem, QSize sizeInDialogUnits);

  // The stages' steps, with the job's lock held and snapshot taken under it.
  virtual void refreshStage(const ProgressSnapshot& snapshot) = 0;
  // Forces the bars that complete with the run full.
  virtual void forceBarsFull() = 0;
  // Pushes the value texts into their labels, after the lock is released.
  virtual void pushValues() = 0;

  QLabel* addLabel(const QString& text, int x, int y, int width, int height, const QString& name);
  ColorProgressBar* addBar(const QColor& color, int x, int y, int width, int height,
                           const QString& name);
  void addStopButton(int x, int y, int width, int height);
  static void setBar(ColorProgressBar* bar, BarSetting setting);

  // The used-data bar from the volume figures of this tick.
  void showUsedData();

  const DialogUnits units;
  ColorProgressBar* usedDataBar = nullptr;

  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void queryVolume();
  void enterCloseMode();
  void stopClicked();

  FileSystem& fs;
  GenerationJob* generationJob = nullptr;
  QPointer<QWidget> ownerWindow;
  OwnerDrawButton* stop = nullptr;
  QTimer timer;
  bool closeMode = false;
  std::uint64_t volumeTotal = 0;
  std::uint64_t volumeFree = 0;
  std::int64_t volumeUsed = 0;
};

}  // namespace quillet
