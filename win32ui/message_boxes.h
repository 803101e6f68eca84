// The message boxes of the windowed program: the engine's failure texts, raised on the worker
// thread but shown by the UI thread while the worker waits for the answer (the progress dialog
// keeps polling meanwhile), and the settings store's failures. Also the wait for a worker that may
// still be waiting on such a box.
#pragma once

#include <windows.h>
// The shared message boxes' type shares its name with the system's narrow/wide switch; every call
// here names the narrow function itself.
#undef MessageBox

#include <string>

#include "frontend/message_boxes.h"

#include "engine/engine_services.h"
#include "engine/generation_job.h"
#include "engine/worker_thread.h"
#include "settings/registry_error_report.h"

namespace quillet::win32 {

// Shows box (over owner when the box is an owned one) and returns the answer: IDOK or IDCANCEL.
int showBox(HWND owner, const quillet::MessageBox& box);

class Win32FailurePresenter : public FailurePresenter {
 public:
  using Caption = FailureCaption;

  // Must be constructed on the UI thread. Caption::Application boxes take applicationTitle as
  // caption and owner as owner window (none when null).
  explicit Win32FailurePresenter(std::string applicationTitle, HWND owner = nullptr);
  ~Win32FailurePresenter() override;
  Win32FailurePresenter(const Win32FailurePresenter&) = delete;
  Win32FailurePresenter& operator=(const Win32FailurePresenter&) = delete;

  void setOwner(HWND owner) { ownerWindow = owner; }
  // Shows the text with an error icon and OK; returns when it was dismissed. From another thread
  // the call waits until the UI thread has shown and closed the box. Thread-safe.
  void showError(Caption caption, const std::string& text);
  // An engine failure, in the words and under the caption the windows give it; as showError.
  void present(const RunFailure& failure) override;

 private:
  struct Request;
  static LRESULT CALLBACK relayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void showHere(Caption caption, const std::string& text);

  std::string title;
  HWND ownerWindow;
  HWND relay = nullptr;  // a message-only window of the UI thread
  DWORD uiThread;
};

// A settings failure: OK only, error icon, no owner window.
class Win32ErrorPresenter : public ErrorPresenter {
 public:
  void show(const std::string& caption, const std::string& text) override;
};

// Waits for a started worker to end while the UI thread keeps dispatching its messages, so a box
// the worker waits on is still shown and answered. Returns at once for a worker never started.
void joinWorkerServingMessages(WorkerThread& worker, const GenerationJob& job);

}  // namespace quillet::win32
