// The window of the interactive mode, built from the shared control table as an in-memory dialog
// template: the options of a run with their data exchange, field checks on focus loss, enabling
// rules after every click, the system menu's verify and about items, the folder browser, and "Generate",
// which prepares the job, starts the worker and runs the progress dialog. The caller loads the fields before
// and saves them after. UI thread only; the job is shared with a worker only during a run.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "engine/generation_job.h"
#include "engine/rate_series.h"
#include "frontend/main_dialog_layout.h"
#include "frontend/windowed_runs.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "settings/registry_store.h"
#include "settings/settings_values.h"
#include "win32ui/flat_edit.h"
#include "win32ui/message_boxes.h"
#include "win32ui/owner_draw_button.h"
#include "win32ui/speed_chart_window.h"

namespace quillet::win32 {

struct MainDialogServices {
  RegistryStore& store;  // read by the about box
  FileSystem& fs;
  Clock& clock;
};

class MainDialog : public MainDialogTexts {
 public:
  // fields are the loaded settings; showSplash the application's flag the splash box toggles. All
  // must outlive the dialog.
  MainDialog(const MainDialogServices& services, SettingsValues& fields, bool& showSplash);
  MainDialog(const MainDialog&) = delete;
  MainDialog& operator=(const MainDialog&) = delete;

  // Runs the dialog modally until Esc (confirmed), the close box or the system menu's Close. The
  // fields then hold the texts as last taken from the controls.
  void run();
  // How the last run the dialog started and saw finish ended; empty while none has.
  std::optional<int> lastResult() const { return runs.lastResult(); }

  // The data exchange's view of the controls.
  std::string text(MainControl id) const override;
  void setText(MainControl id, const std::string& text, int maxLength) override;
  int unitIndex(MainControl id) const override;
  void setUnitIndex(MainControl id, int index) override;

 private:
  static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void initialise();
  void onCommand(int id, int code, HWND control);
  void applyAppearance();
  void takeTexts();
  void showTexts();
  void runCheck(void (*check)(SettingsValues&));
  void browse();
  void generate();
  void askToExit();
  void closeCommand();
  void showAbout();
  // The system menu's verify: the shell's folder picker, the verify on a worker under its progress
  // dialog, then the box with the summary. Cancelling the picker does nothing.
  void verifyFolder();
  // The system menu's chart of the last run's or verify's speed, live while one runs.
  void openSpeedChart();
  HWND item(MainControl id) const { return GetDlgItem(window, static_cast<int>(id)); }

  MainDialogServices services;
  SettingsValues& values;
  bool& splashFlag;
  WindowedRuns runs;
  HWND window = nullptr;
  HICON icon = nullptr;
  std::unique_ptr<Win32FailurePresenter> failurePresenter;
  std::map<MainControl, std::unique_ptr<OwnerDrawButton>> buttons;
  std::map<MainControl, std::unique_ptr<FlatEdit>> edits;
  bool checksSuppressed = false;  // while the dialog asks to exit or closes
  // The speed record of the run or verify going on (null between them) and of the last one.
  std::unique_ptr<RateSampler> sampler;
  std::vector<RateSample> lastSamples;
  bool lastRead = false;
  SpeedChartWindow chart;
};

}  // namespace quillet::win32
