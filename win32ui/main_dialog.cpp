#include "win32ui/main_dialog.h"

#include <commctrl.h>

#include <string>

#include "engine/volume_checks.h"
#include "engine/worker_thread.h"
#include "frontend/run_preparation.h"
#include "frontend/windowed_verify.h"
#include "script/report_series.h"
#include "settings/registry_access.h"
#include "win32ui/dialog_template.h"
#include "win32ui/folder_browser.h"
#include "win32ui/help_windows.h"
#include "win32ui/progress_dialog.h"
#include "win32ui/resource_ids.h"

namespace quillet::win32 {

namespace {

// The system menu's own items; their low four bits stay clear.
constexpr UINT kAboutCommand = 16;
constexpr UINT kVerifyCommand = 32;
constexpr UINT kSpeedChartCommand = 48;
constexpr int kNoId = 0xFFFF;

DWORD itemStyle(const ControlRow& row) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  if (row.style & kStyleTabStop) style |= WS_TABSTOP;
  if (row.style & kStyleGroupStart) style |= WS_GROUP;
  switch (row.kind) {
    case ControlKind::Label: return style | SS_LEFT | SS_NOPREFIX;
    case ControlKind::GroupBox: return style | BS_GROUPBOX;
    case ControlKind::Edit: return style | WS_BORDER | ES_AUTOHSCROLL;
    case ControlKind::NumberEdit:
      return style | WS_BORDER | ES_AUTOHSCROLL | ((row.style & kStyleDigitsOnly) ? ES_NUMBER : 0);
    case ControlKind::UnitList: return style | CBS_DROPDOWNLIST | WS_VSCROLL;
    case ControlKind::CheckBox: return style | BS_AUTOCHECKBOX;
    case ControlKind::Radio: return style | BS_AUTORADIOBUTTON;
    case ControlKind::BoldButton:
      return style | (row.id == MainControl::GenerateButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    case ControlKind::FlatButton: return style | BS_PUSHBUTTON | BS_FLAT;
  }
  return style;
}

ItemClass itemClass(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label: return ItemClass::Static;
    case ControlKind::Edit:
    case ControlKind::NumberEdit: return ItemClass::Edit;
    case ControlKind::UnitList: return ItemClass::ComboBox;
    default: return ItemClass::Button;
  }
}

// A drop-down list's template height covers its open list: room for the four units.
constexpr int kUnitListHeight = 56;

}  // namespace

MainDialog::MainDialog(const MainDialogServices& services, SettingsValues& fields, bool& showSplash)
    : services(services), values(fields), splashFlag(showSplash) {}

void MainDialog::run() {
  DialogTemplate dialog(
      "", WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_CENTER,
      WS_EX_APPWINDOW, kMainDialogFrame.width, kMainDialogFrame.height, kMainDialogFrame.fontFace,
      kMainDialogFrame.fontPoints);
  for (const ControlRow& row : mainControlRows()) {
    const int id = row.id ? static_cast<int>(*row.id) : kNoId;
    const int height = row.kind == ControlKind::UnitList ? kUnitListHeight : row.height;
    dialog.add(itemClass(row.kind), row.text, id, itemStyle(row), row.x, row.y, row.width, height);
  }
  DialogBoxIndirectParamA(GetModuleHandleA(nullptr), dialog.get(), nullptr, dialogProc,
                          reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK MainDialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<MainDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    self->window = window;
    self->initialise();
    return FALSE;  // the focus was put on Generate
  }
  auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  return self == nullptr ? FALSE : self->onMessage(message, wParam, lParam);
}

void MainDialog::initialise() {
  failurePresenter = std::make_unique<Win32FailurePresenter>(kMainTitle, window);
  for (const ControlRow& row : mainControlRows()) {
    if (!row.id) continue;
    HWND control = item(*row.id);
    switch (row.kind) {
      case ControlKind::Edit:
      case ControlKind::NumberEdit:
        edits[*row.id] = std::make_unique<FlatEdit>();
        edits[*row.id]->attach(control, false);
        break;
      case ControlKind::UnitList:
        for (const char* unit : SizeUnit::kTexts)
          SendMessageA(control, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(unit));
        edits[*row.id] = std::make_unique<FlatEdit>();
        edits[*row.id]->attach(control, true);
        break;
      case ControlKind::CheckBox:
      case ControlKind::Radio:
      case ControlKind::BoldButton:
      case ControlKind::FlatButton: {
        const auto kind = row.kind == ControlKind::CheckBox ? OwnerDrawButton::Kind::CheckBox
                          : row.kind == ControlKind::Radio  ? OwnerDrawButton::Kind::Radio
                                                            : OwnerDrawButton::Kind::PushButton;
        buttons[*row.id] = std::make_unique<OwnerDrawButton>(kind);
        buttons[*row.id]->attach(control);
        if (row.kind == ControlKind::BoldButton) buttons[*row.id]->setBold(true);
        break;
      }
      default: break;
    }
  }
  showTexts();
  icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kIconResource));
  SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  // The system's own menu already has Minimize and Close; the program's items follow a separator
  // at its end.
  if (HMENU menu = GetSystemMenu(window, FALSE); menu != nullptr) {
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    for (const SystemMenuItem& entry : mainSystemMenu()) {
      if (entry.command == SystemCommand::VerifyFolder)
        AppendMenuA(menu, MF_STRING, kVerifyCommand, entry.text);
      if (entry.command == SystemCommand::SpeedChart)
        AppendMenuA(menu, MF_STRING, kSpeedChartCommand, entry.text);
      if (entry.command == SystemCommand::About) AppendMenuA(menu, MF_STRING, kAboutCommand, entry.text);
    }
  }
  SetWindowTextA(window, kMainTitle);
  applyAppearance();
  SetFocus(item(MainControl::GenerateButton));
}

std::string MainDialog::text(MainControl id) const {
  HWND control = item(id);
  std::string result(static_cast<std::size_t>(GetWindowTextLengthA(control)) + 1, '\0');
  result.resize(
      static_cast<std::size_t>(GetWindowTextA(control, result.data(), static_cast<int>(result.size()))));
  return result;
}

void MainDialog::setText(MainControl id, const std::string& newText, int maxLength) {
  SendMessageA(item(id), EM_LIMITTEXT, static_cast<WPARAM>(maxLength), 0);
  if (text(id) != newText) SetWindowTextA(item(id), newText.c_str());
}

int MainDialog::unitIndex(MainControl id) const {
  return static_cast<int>(SendMessageA(item(id), CB_GETCURSEL, 0, 0));
}

void MainDialog::setUnitIndex(MainControl id, int index) {
  SendMessageA(item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void MainDialog::takeTexts() { quillet::takeTexts(*this, values); }
void MainDialog::showTexts() { quillet::showTexts(values, *this); }

void MainDialog::applyAppearance() {
  const MainDialogAppearance appearance = mainDialogAppearance(values, splashFlag);
  for (const auto& check : appearance.checks) {
    if (auto found = buttons.find(check.id); found != buttons.end())
      found->second->setCheck(check.checked ? 1 : 0);
  }
  for (const auto& enable : appearance.enables) EnableWindow(item(enable.id), enable.enabled ? TRUE : FALSE);
  for (const auto& label : appearance.labels) SetWindowTextA(item(label.id), label.text);
  fitStaticTexts(window);
  InvalidateRect(window, nullptr, TRUE);
}

void MainDialog::runCheck(void (*check)(SettingsValues&)) {
  takeTexts();
  check(values);
  showTexts();
}

INT_PTR MainDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: onCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)); return TRUE;
    case WM_DRAWITEM: {
      const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (auto* button = OwnerDrawButton::from(draw->hwndItem)) {
        button->draw(*draw);
        return TRUE;
      }
      return FALSE;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == kAboutCommand) {
        showAbout();
        return TRUE;
      }
      if ((wParam & 0xFFF0) == kVerifyCommand) {
        verifyFolder();
        return TRUE;
      }
      if ((wParam & 0xFFF0) == kSpeedChartCommand) {
        openSpeedChart();
        return TRUE;
      }
      if ((wParam & 0xFFF0) == SC_CLOSE) {
        closeCommand();
        return TRUE;
      }
      return FALSE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(icon);
    case WM_HELP: return TRUE;  // F1 does nothing
    default: return FALSE;
  }
}

void MainDialog::onCommand(int id, int code, HWND control) {
  if (code == EN_KILLFOCUS) {
    if (checksSuppressed) return;
    for (const FocusCheck& check : mainFocusChecks()) {
      if (static_cast<int>(check.id) == id) runCheck(check.check);
    }
    return;
  }
  if (id == IDOK) return;  // Enter never ends the dialog
  if (id == IDCANCEL) {
    askToExit();
    return;
  }
  if (code != BN_CLICKED) return;
  const auto controlId = static_cast<MainControl>(id);
  if (controlId == MainControl::BrowseButton) return browse();
  if (controlId == MainControl::GenerateButton) return generate();
  if (controlId == MainControl::ScriptsHelpButton) return openOrActivateScriptsHelp(window);
  for (const OptionToggle& toggle : mainOptionToggles()) {
    if (toggle.id != controlId) continue;
    if (OwnerDrawButton* button = OwnerDrawButton::from(control)) button->clicked();
    if (toggle.takesTextsFirst) takeTexts();
    toggleOption(controlId, values, splashFlag);
    applyAppearance();
    return;
  }
}

void MainDialog::browse() {
  takeTexts();
  FolderBrowser browser(values.rootFolderText);
  browser.title = kBrowseTitle;
  if (browser.browse(window)) {
    values.rootFolderText = browser.selectedPath;
    showTexts();
  }
}

void MainDialog::generate() {
  takeTexts();
  const PreparationOutcome outcome = runs.prepare(values, services.fs);
  showTexts();
  if (outcome == PreparationOutcome::EmptyRoot) {
    showBox(window, emptyRootBox());
    return;
  }
  if (outcome == PreparationOutcome::RelativeRoot) {
    failurePresenter->showError(FailureCaption::Error, relativeRootMessage(values.rootFolderText));
    return;
  }
  const EngineServices engine{services.fs, services.clock, *failurePresenter};
  GenerationJob& job = runs.job();
  if (!createRootFolder(job, engine)) return;
  WorkerThread worker(job, engine);
  lastRead = false;
  sampler = std::make_unique<RateSampler>([this] { return sampleOf(runs.job()); });
  ProgressDialog progress(services.fs, progressKindFor(job));
  progress.setJob(&job);
  progress.setOwnerWindow(window);
  worker.start();
  progress.run();
  // A stop ends the progress dialog before the worker has ended; the job may be refilled only once
  // it has, and a box the worker waits on must still be answered meanwhile.
  joinWorkerServingMessages(worker, job);
  lastSamples = sampler->finish().samples();
  sampler.reset();
}

void MainDialog::verifyFolder() {
  takeTexts();
  FolderBrowser browser(values.rootFolderText);
  browser.title = kVerifyBrowseTitle;
  if (!browser.browse(window)) return;
  WindowedVerify verify(browser.selectedPath);
  ProgressDialog progress(services.fs, ProgressKind::Verify);
  progress.setVerifyJob(&verify.job(), values.closeProgressAuto);
  progress.setOwnerWindow(window);
  lastRead = true;
  sampler = std::make_unique<RateSampler>([&verify] { return sampleOf(verify.job()); });
  verify.start(services.fs);
  progress.run();
  // A stop ends the dialog while the worker finishes the file it reads; its result is whole only
  // once it has ended. The verify raises no boxes, so nothing needs serving meanwhile.
  verify.join();
  lastSamples = sampler->finish().samples();
  sampler.reset();
  showBox(window, verifyResultBox(verify.result()));
}

void MainDialog::openSpeedChart() {
  chart.open(window,
             [this] { return std::make_pair(sampler ? sampler->samplesSoFar() : lastSamples, lastRead); });
}

void MainDialog::askToExit() {
  takeTexts();
  // The question takes the focus from an edit; its check must not change what is saved.
  checksSuppressed = true;
  if (showBox(window, exitQuestionBox()) == IDOK) {
    EndDialog(window, IDCANCEL);
  } else {
    checksSuppressed = false;
  }
}

void MainDialog::closeCommand() {
  takeTexts();
  checksSuppressed = true;  // the texts are saved as typed
  EndDialog(window, IDOK);
}

void MainDialog::showAbout() {
  RegistryAccess access(services.store);
  runAboutBox(access, window);
}

}  // namespace quillet::win32
