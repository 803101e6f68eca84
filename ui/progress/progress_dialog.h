// What the two progress dialogs share: the controls laid out from the shared table, the 100 ms
// poll, which shows what each tick of the job makes (refreshProgress), the Stop button that becomes
// "Close", and the keys and window commands. The dialog borrows the job and never waits for the
// worker. UI thread only.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <map>
#include <memory>

#include "engine/generation_job.h"
#include "frontend/progress_view.h"
#include "platform/file_system.h"
#include "ui/controls/color_progress_bar.h"
#include "ui/controls/owner_draw_button.h"
#include "ui/dialog_units.h"

class QLabel;

namespace quillet {

class ProgressDialog : public QDialog {
  Q_OBJECT
  Q_PROPERTY(bool closeMode READ isCloseMode NOTIFY closeModeChanged)

 public:
  // The texts the dialogs show and write.
  static constexpr const char* kGenerationComplete = quillet::kGenerationComplete;
  static constexpr int kPollMilliseconds = kProgressPollMilliseconds;

  // The job to poll (not owned; null shows nothing). Set before the dialog runs.
  void setJob(GenerationJob* job) { generationJob = job; }
  GenerationJob* job() const { return generationJob; }

  // A window minimised and restored together with this dialog; none by default.
  void setOwnerWindow(QWidget* owner) { ownerWindow = owner; }

  bool isCloseMode() const { return closeMode; }
  std::uint64_t diskTotal() const { return volume.total; }
  std::uint64_t diskFree() const { return volume.free; }
  std::int64_t diskUsed() const { return volume.used; }

  OwnerDrawButton* stopButton() const { return stop; }

  // One poll: the volume query, then the tick under the job's lock, then the view shown. The timer
  // calls it every 100 ms while the dialog is shown.
  void refresh();

  // Esc, Alt+F4 and the close box act as the Stop button; they do not close the dialog themselves.
  void reject() override;
  void done(int result) override;

 signals:
  void closeModeChanged(bool closeMode);

 protected:
  ProgressDialog(FileSystem& fileSystem, ProgressKind kind);

  void keyPressEvent(QKeyEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  // Pushes what the tick changed into the controls.
  void showView();
  void showText(ProgressItem item, const std::string& text, const std::string& shown);
  void showBar(ProgressItem item, BarSetting setting, BarSetting shown);
  void enterCloseMode();
  void stopClicked();

  FileSystem& fs;
  const ProgressKind kind;
  const DialogUnits units;
  GenerationJob* generationJob = nullptr;
  QPointer<QWidget> ownerWindow;
  std::map<ProgressItem, QWidget*> controls;
  OwnerDrawButton* stop = nullptr;
  QTimer timer;
  bool closeMode = false;
  VolumeFigures volume;
  ProgressView view;   // what the last tick made
  ProgressView shown;  // what the controls show
};

// The dialog of the kind a job's run shows (progressKindFor), not yet given the job.
std::unique_ptr<ProgressDialog> makeProgressDialog(FileSystem& fileSystem, ProgressKind kind);

}  // namespace quillet
