// Shows the engine's failures, and the windows' own failure texts, in message boxes. The worker thread calls
// it; the box is shown by the UI thread while the worker waits for the answer, and the UI thread's timers
// (the progress dialog's polling) keep running meanwhile. Thread-safe.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <mutex>

#include "engine/engine_services.h"
#include "engine/generation_job.h"
#include "engine/worker_thread.h"
#include "frontend/message_boxes.h"

class QWidget;

namespace quillet {

class FailureBoxCourier;

class QtFailurePresenter : public FailurePresenter {
 public:
  using Caption = FailureCaption;

  // Must be constructed on the UI thread. applicationTitle is the caption of
  // Caption::Application boxes, which get owner as their owner window (none when null).
  explicit QtFailurePresenter(QString applicationTitle, QWidget* owner = nullptr);
  ~QtFailurePresenter() override;

  // Shows the text with an error icon and an OK button and returns when it was dismissed. From
  // another thread the call blocks until the UI thread has shown and closed the box; on the UI
  // thread the box is shown directly.
  void showError(Caption caption, const std::string& text);
  // An engine failure, in the words and under the caption the windows give it; as showError.
  void present(const RunFailure& failure) override;

 private:
  friend class FailureBoxCourier;
  void showOnUiThread(Caption caption, const QString& text);
  void showHandedOver();

  QString title;
  QPointer<QWidget> ownerWindow;
  FailureBoxCourier* uiContext;  // lives on the UI thread; the queued calls run in its thread

  // A box asked for from another thread is handed over here rather than captured in the queued
  // call: the hand-over is then ordered by a lock every thread checker sees, not only by Qt's own
  // internal one. One such box at a time; the others wait their turn.
  std::mutex oneBoxAtATime;
  std::mutex handOver;
  Caption pendingCaption = Caption::Application;
  QString pendingText;
};

// Waits for a started worker to end while the UI thread keeps handling events, so that a message
// box the worker is waiting on can still be shown and answered. A plain join() at that moment
// would wait forever for a worker that waits for the UI thread. Returns at once when the worker
// was never started.
void joinWorkerServingEvents(WorkerThread& worker, const GenerationJob& job);

}  // namespace quillet
