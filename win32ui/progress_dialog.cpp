#include "win32ui/progress_dialog.h"

#include <commctrl.h>

#include <string>

#include "win32ui/dialog_template.h"

namespace quillet::win32 {

namespace {

constexpr UINT_PTR kPollTimer = 0;
constexpr int kNoId = 0xFFFF;

// The control numbers of the dialog templates; labels code never changes have none.
int controlId(ProgressItem item) {
  switch (item) {
    case ProgressItem::FoldersValue: return 1072;
    case ProgressItem::FoldersBar: return 1027;
    case ProgressItem::FirstLabel: return 1069;
    case ProgressItem::FirstValue: return 1073;
    case ProgressItem::SecondLabel: return 1070;
    case ProgressItem::SecondValue: return 1066;
    case ProgressItem::FilesValue: return 1073;
    case ProgressItem::SizeValue: return 1066;
    case ProgressItem::SizeBar: return 1028;
    case ProgressItem::StatusValue: return 1026;
    case ProgressItem::UsedDataLabel: return 1071;
    case ProgressItem::UsedDataValue: return 1067;
    case ProgressItem::UsedDataBar: return 1030;
    case ProgressItem::DamagedValue: return 1074;
    case ProgressItem::DamagedBar: return 1031;
    case ProgressItem::StopButton: return 1025;
    default: return kNoId;
  }
}

COLORREF colorOf(const Rgb& c) { return RGB(c.red, c.green, c.blue); }

}  // namespace

ProgressDialog::ProgressDialog(FileSystem& fileSystem, ProgressKind dialogKind)
    : fs(fileSystem), kind(dialogKind) {}

INT_PTR ProgressDialog::run() {
  const ProgressFrame frame = progressFrame(kind);
  // Visible from its creation: a dialog made visible only when its message queue first runs empty
  // would stay hidden behind a failure box the worker raises at once.
  DialogTemplate dialog(
      frame.title,
      WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_MODALFRAME | DS_CENTER, 0,
      frame.width, frame.height);
  for (const ProgressControlRow& row : progressControlRows(kind)) {
    const int id = controlId(row.item);
    switch (row.kind) {
      case ProgressControlKind::Label:
        // The value labels start empty: the first tick's texts are the first ones seen.
        dialog.add(ItemClass::Static, row.text, id, WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, row.x,
                   row.y, row.width, row.height);
        break;
      case ProgressControlKind::Bar:
        dialog.add(PROGRESS_CLASSA, "", id, WS_CHILD | WS_VISIBLE | PBS_SMOOTH, row.x, row.y, row.width,
                   row.height);
        bars[row.item] = std::make_unique<ColorProgressBar>();
        break;
      case ProgressControlKind::Button:
        dialog.add(ItemClass::Button, row.text, id, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                   row.x, row.y, row.width, row.height);
        break;
    }
  }
  return DialogBoxIndirectParamA(GetModuleHandleA(nullptr), dialog.get(), ownerWindow, dialogProc,
                                 reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK ProgressDialog::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<ProgressDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    self->window = window;
    self->initialise();
    return FALSE;  // the focus was set on Stop
  }
  auto* self = reinterpret_cast<ProgressDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  return self == nullptr ? FALSE : self->onMessage(message, wParam, lParam);
}

void ProgressDialog::initialise() {
  for (const ProgressControlRow& row : progressControlRows(kind)) {
    if (row.kind != ProgressControlKind::Bar) continue;
    ColorProgressBar& bar = *bars[row.item];
    bar.attach(GetDlgItem(window, controlId(row.item)));
    bar.setColor(colorOf(row.color));
  }
  stop.attach(GetDlgItem(window, controlId(ProgressItem::StopButton)));
  fitStaticTexts(window);
  SetTimer(window, kPollTimer, kProgressPollMilliseconds, nullptr);
  SetFocus(stop.handle());
}

INT_PTR ProgressDialog::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == kPollTimer) refresh();
      return TRUE;
    case WM_DRAWITEM:
      if (auto* button = OwnerDrawButton::from(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem)) {
        button->draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
      }
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case 1025:
          if (HIWORD(wParam) == BN_CLICKED) stopClicked();
          return TRUE;
        case IDCANCEL:
          stopClicked();  // Esc, Alt+F4 and the close box stop rather than close
          return TRUE;
        case IDOK:
          // Enter closes only a dialog without a job.
          if (generationJob == nullptr && verifyJob == nullptr) EndDialog(window, IDOK);
          return TRUE;
        default: return FALSE;
      }
    case WM_HELP: return TRUE;
    case WM_SYSCOMMAND:
      if (ownerWindow != nullptr) {
        const WPARAM command = wParam & 0xFFF0;
        if (command == SC_MINIMIZE) ShowWindow(ownerWindow, SW_MINIMIZE);
        if ((command == SC_RESTORE || command == SC_CLOSE) && IsIconic(ownerWindow)) {
          ShowWindow(ownerWindow, SW_RESTORE);
        }
      }
      return FALSE;  // the default processing follows
    default: return FALSE;
  }
}

void ProgressDialog::stopClicked() {
  if (verifyJob != nullptr) verifyJob->requestStop();
  if (generationJob != nullptr) generationJob->requestStop();
}

void ProgressDialog::refresh() {
  ProgressView next = view;
  ProgressEnding ending = ProgressEnding::None;
  if (verifyJob != nullptr) {
    if (stopAsked && stopAsked()) verifyJob->requestStop();
    ending = refreshVerifyProgress(*verifyJob, verifyAutoClose, next);
  } else {
    if (generationJob == nullptr) return;
    if (stopAsked && stopAsked()) generationJob->requestStop();
    // The query may take a while on a busy volume; it runs before the job's lock is taken.
    queryVolume(fs, generationJob->rootFolder, volume);
    ending = refreshProgress(kind, *generationJob, volume, next);
  }
  show(next);
  if (ending != ProgressEnding::None) {
    KillTimer(window, kPollTimer);
    EndDialog(window, ending == ProgressEnding::Accepted ? IDOK : IDCANCEL);
  }
}

void ProgressDialog::setText(ProgressItem item, const std::string& text) {
  const int id = controlId(item);
  if (id == kNoId) return;
  char shown[256] = {};
  GetDlgItemTextA(window, id, shown, sizeof shown);
  if (text != shown) SetDlgItemTextA(window, id, text.c_str());
}

void ProgressDialog::setBar(ProgressItem item, BarSetting setting, BarSetting shown, bool force) {
  const auto found = bars.find(item);
  if (found == bars.end()) return;
  // Setting a range also resets the position, so a new range is always followed by the position.
  if (force || setting.upper != shown.upper) {
    found->second->setRange(0, setting.upper);
    found->second->setPos(setting.pos);
  } else if (setting.pos != shown.pos) {
    found->second->setPos(setting.pos);
  }
}

void ProgressDialog::show(const ProgressView& next) {
  const bool force = firstShow;
  firstShow = false;
  if (kind == ProgressKind::Number) {
    setText(ProgressItem::FirstLabel, next.firstLabel);
    setText(ProgressItem::SecondLabel, next.secondLabel);
    if (next.firstLabel != view.firstLabel || next.secondLabel != view.secondLabel) fitStaticTexts(window);
    setText(ProgressItem::FoldersValue, next.foldersValue);
    setText(ProgressItem::FirstValue, next.firstValue);
    setText(ProgressItem::SecondValue, next.secondValue);
    setBar(ProgressItem::FoldersBar, next.foldersBar, view.foldersBar, force);
  } else {
    setText(ProgressItem::FilesValue, next.filesValue);
    setText(ProgressItem::SizeValue, next.sizeValue);
  }
  if (kind != ProgressKind::Verify) setText(ProgressItem::StatusValue, next.statusValue);
  if (kind == ProgressKind::Verify) {
    setText(ProgressItem::DamagedValue, next.damagedValue);
    setBar(ProgressItem::DamagedBar, next.damagedBar, view.damagedBar, force);
  }
  setText(ProgressItem::UsedDataValue, next.usedDataValue);
  setBar(ProgressItem::SizeBar, next.sizeBar, view.sizeBar, force);
  setBar(ProgressItem::UsedDataBar, next.usedDataBar, view.usedDataBar, force);
  if (next.closeMode && !view.closeMode) {
    SetWindowTextA(stop.handle(), kCloseText);
    stop.setBold(true);
  }
  view = next;
}

}  // namespace quillet::win32
