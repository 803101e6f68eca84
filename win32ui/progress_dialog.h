// The two progress dialogs of a run (by files number, by all size), laid out from the shared
// tables: a 100 ms timer polls the job, the figures of each tick are shown in the labels and colour
// bars, Stop (and Esc, Alt+F4, the close box) asks the worker to stop, and the dialog ends by
// itself or turns Stop into a bold "Close". The dialog borrows the job and never waits for the
// worker. UI thread only.
#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <memory>

#include "engine/generation_job.h"
#include "frontend/progress_view.h"
#include "platform/file_system.h"
#include "win32ui/color_progress_bar.h"
#include "win32ui/owner_draw_button.h"

namespace quillet::win32 {

class ProgressDialog {
 public:
  ProgressDialog(FileSystem& fs, ProgressKind kind);
  ProgressDialog(const ProgressDialog&) = delete;
  ProgressDialog& operator=(const ProgressDialog&) = delete;

  // The job to poll (not owned; null shows nothing). Set before run().
  void setJob(GenerationJob* job) { generationJob = job; }
  // A window disabled while the dialog runs, and minimised and restored with it; none by default.
  void setOwnerWindow(HWND owner) { ownerWindow = owner; }
  // Asked at every poll; true acts as the Stop button (a stop signal of a script run).
  void setStopAsked(std::function<bool()> asked) { stopAsked = std::move(asked); }

  // Runs the dialog modally until it ends; IDOK or IDCANCEL.
  INT_PTR run();

 private:
  static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void initialise();
  void refresh();
  void show(const ProgressView& next);
  void setText(ProgressItem item, const std::string& text);
  void setBar(ProgressItem item, BarSetting setting, BarSetting shown, bool force);
  void stopClicked();

  FileSystem& fs;
  const ProgressKind kind;
  GenerationJob* generationJob = nullptr;
  HWND ownerWindow = nullptr;
  std::function<bool()> stopAsked;
  HWND window = nullptr;
  VolumeFigures volume;
  ProgressView view;
  bool firstShow = true;
  std::map<ProgressItem, std::unique_ptr<ColorProgressBar>> bars;
  OwnerDrawButton stop;
};

}  // namespace quillet::win32
