// The native controls and dialogs on a real desktop (Wine on a virtual X server in CI): check and
// radio state kept by the owner-drawn buttons, the pixels the drawing rules fix, the progress
// dialog's ending, and a worker's failure box shown by the UI thread. Needs a display; without one
// every test is skipped.
#include <windows.h>
#undef MessageBox

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/generation_job.h"
#include "platform/file_system.h"
#include "win32ui/color_progress_bar.h"
#include "win32ui/dialog_template.h"
#include "win32ui/flat_edit.h"
#include "win32ui/message_boxes.h"
#include "win32ui/owner_draw_button.h"
#include "win32ui/progress_dialog.h"
#include "win32ui/win32_windowed_frontend.h"

namespace quillet::win32 {
namespace {

void pumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

COLORREF pixelOf(HWND window, int x, int y) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  pumpMessages();
  HDC dc = GetDC(window);
  const COLORREF color = GetPixel(dc, x, y);
  ReleaseDC(window, dc);
  return color;
}

// A modeless dialog of two radio buttons (one group), a check box, an edit and a progress bar,
// whose click notifications reach the owner-drawn buttons as the main dialog's do.
class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!windowsCanBeShown()) GTEST_SKIP() << "no display";
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    DialogTemplate dialog("Controls", WS_POPUP | WS_VISIBLE | WS_CAPTION, 0, 200, 120);
    dialog.add(ItemClass::Button, "First", 11,
               WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_AUTORADIOBUTTON, 5, 5, 60, 10);
    dialog.add(ItemClass::Button, "Second", 12, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTORADIOBUTTON, 70,
               5, 60, 10);
    dialog.add(ItemClass::Button, "Box", 13, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX,
               5, 20, 60, 10);
    dialog.add(ItemClass::Edit, "", 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER, 20, 40, 60, 14);
    dialog.add(PROGRESS_CLASSA, "", 15, WS_CHILD | WS_VISIBLE, 5, 70, 180, 10);
    dialog.add(ItemClass::Static, "A label far wider than its control", 16, WS_CHILD | WS_VISIBLE | SS_LEFT,
               5, 90, 20, 8);
    window = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), dialog.get(), nullptr, proc,
                                        reinterpret_cast<LPARAM>(this));
    ASSERT_NE(window, nullptr);
    first.attach(GetDlgItem(window, 11));
    second.attach(GetDlgItem(window, 12));
    box.attach(GetDlgItem(window, 13));
    edit.attach(GetDlgItem(window, 14), false);
    bar.attach(GetDlgItem(window, 15));
    pumpMessages();
  }
  void TearDown() override {
    if (window != nullptr) DestroyWindow(window);
  }

  static INT_PTR CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<ControlsTest*>(GetWindowLongPtrA(window, DWLP_USER));
    if (message == WM_DRAWITEM) {
      const auto* draw = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (auto* button = OwnerDrawButton::from(draw->hwndItem)) button->draw(*draw);
      return TRUE;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && self != nullptr) {
      if (auto* button = OwnerDrawButton::from(reinterpret_cast<HWND>(lParam))) button->clicked();
      self->notifications.push_back(LOWORD(wParam));
      return TRUE;
    }
    return FALSE;
  }

  void clickWithMouse(OwnerDrawButton& button) { SendMessageA(button.handle(), BM_CLICK, 0, 0); }

  HWND window = nullptr;
  OwnerDrawButton first{OwnerDrawButton::Kind::Radio};
  OwnerDrawButton second{OwnerDrawButton::Kind::Radio};
  OwnerDrawButton box{OwnerDrawButton::Kind::CheckBox};
  FlatEdit edit;
  ColorProgressBar bar;
  std::vector<int> notifications;
};

TEST_F(ControlsTest, CheckBoxTogglesOnEveryClickAndNotifiesOnce) {
  clickWithMouse(box);
  EXPECT_EQ(box.check(), 1);
  clickWithMouse(box);
  EXPECT_EQ(box.check(), 0);
  EXPECT_EQ(notifications, (std::vector<int>{13, 13}));
}

TEST_F(ControlsTest, DoubleClickCountsAsTwoPresses) {
  HWND item = box.handle();
  SendMessageA(item, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageA(item, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  SendMessageA(item, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(2, 2));
  SendMessageA(item, WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
  EXPECT_EQ(box.check(), 0);
  EXPECT_EQ(notifications.size(), 2u);
}

TEST_F(ControlsTest, RadioClickChecksItAndClearsTheGroup) {
  clickWithMouse(first);
  EXPECT_EQ(first.check(), 1);
  clickWithMouse(second);
  EXPECT_EQ(second.check(), 1);
  EXPECT_EQ(first.check(), 0);
  EXPECT_EQ(box.check(), 0) << "the check box is of another group";
  clickWithMouse(second);
  EXPECT_EQ(second.check(), 1);
  EXPECT_EQ(notifications, (std::vector<int>{11, 12, 12}));
}

TEST_F(ControlsTest, ArrowKeyMovesTheCheckToTheNeighbourOnce) {
  first.setCheck(1);
  SetFocus(first.handle());
  MSG key{first.handle(), WM_KEYDOWN, VK_RIGHT, 0, 0, {}};
  IsDialogMessageA(window, &key);
  EXPECT_EQ(second.check(), 1);
  EXPECT_EQ(first.check(), 0);
  EXPECT_EQ(notifications, (std::vector<int>{12}));
  EXPECT_EQ(GetFocus(), second.handle());
}

// Tab and Shift+Tab pass the radio group in one step whichever button is checked: an unchecked
// button must not take the focus only to hand it back to the checked one.
TEST_F(ControlsTest, TabAndShiftTabPassTheRadioGroupWhicheverIsChecked) {
  for (OwnerDrawButton* checked : {&first, &second}) {
    SCOPED_TRACE(checked == &first ? "first checked" : "second checked");
    first.setCheck(checked == &first ? 1 : 0);
    second.setCheck(checked == &second ? 1 : 0);
    SetFocus(edit.handle());
    auto tab = [&] {
      MSG key{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
      IsDialogMessageA(window, &key);
    };
    auto shiftTab = [&] { SendMessageA(window, WM_NEXTDLGCTL, 1, 0); };  // what Shift+Tab sends
    tab();
    EXPECT_EQ(GetFocus(), checked->handle());
    tab();
    EXPECT_EQ(GetFocus(), box.handle());
    shiftTab();
    EXPECT_EQ(GetFocus(), checked->handle());
    shiftTab();
    EXPECT_EQ(GetFocus(), edit.handle());
  }
  EXPECT_EQ(notifications, std::vector<int>{}) << "moving through the group checks nothing";
}

TEST_F(ControlsTest, CheckBoxFrameAndTickFollowTheDrawingRules) {
  RECT item{};
  GetClientRect(box.handle(), &item);
  const int top = (item.bottom - 12) / 2 - 1;
  EXPECT_EQ(pixelOf(box.handle(), 0, top), GetSysColor(COLOR_WINDOWFRAME));
  box.setCheck(1);
  // The long stroke of the tick, in the dark shadow, runs out of the box at its upper right.
  EXPECT_EQ(pixelOf(box.handle(), 1 + 11, top + 1 + 0), GetSysColor(COLOR_3DDKSHADOW));
}

TEST_F(ControlsTest, ProgressBarFillsItsShareAndResetsThePositionWithTheRange) {
  bar.setColor(RGB(255, 0, 0));
  bar.setRange(0, 1000);
  EXPECT_EQ(bar.pos(), 0);
  bar.setPos(500);
  RECT client{};
  GetClientRect(bar.handle(), &client);
  // The bar's left column is drawn in the base colour; past the filled part the face shows.
  EXPECT_EQ(pixelOf(bar.handle(), 0, client.bottom / 2), RGB(255, 0, 0));
  EXPECT_EQ(pixelOf(bar.handle(), client.right - 2, 1), GetSysColor(COLOR_BTNFACE));
  bar.setRange(100, 1000);
  EXPECT_EQ(bar.pos(), 100);
}

TEST_F(ControlsTest, EditGetsTheGreyOutlineInsideItsBorder) {
  EXPECT_EQ(pixelOf(edit.handle(), 0, 0), RGB(100, 100, 100));
}

TEST_F(ControlsTest, StaticTextsAreWidenedToTheirText) {
  HWND label = GetDlgItem(window, 16);
  RECT before{};
  GetWindowRect(label, &before);
  fitStaticTexts(window);
  RECT after{};
  GetWindowRect(label, &after);
  EXPECT_GT(after.right - after.left, before.right - before.left);
  EXPECT_EQ(after.left, before.left);
}

// Runs fn on the UI thread's next timer tick after ms milliseconds, while a modal loop runs.
class Later {
 public:
  Later(UINT ms, std::function<void()> fn) {
    action = std::move(fn);
    id = SetTimer(nullptr, 0, ms, [](HWND, UINT, UINT_PTR timer, DWORD) {
      KillTimer(nullptr, timer);
      if (action) action();
      action = nullptr;
    });
  }
  ~Later() { KillTimer(nullptr, id); }

 private:
  static inline std::function<void()> action;
  UINT_PTR id = 0;
};

class ProgressDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!windowsCanBeShown()) GTEST_SKIP() << "no display";
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    job.rootFolder = temp;
  }
  std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  GenerationJob job;
};

TEST_F(ProgressDialogTest, FinishedRunClosesByItself) {
  job.finished = true;
  job.autoClose = true;
  ProgressDialog dialog(*fs, ProgressKind::Size);
  dialog.setJob(&job);
  EXPECT_EQ(dialog.run(), IDOK);
}

TEST_F(ProgressDialogTest, StopBeforeTheEndClosesWithCancel) {
  ProgressDialog dialog(*fs, ProgressKind::Number);
  dialog.setJob(&job);
  Later press(300, [] { SendMessageA(FindWindowA(nullptr, "Generating"), WM_COMMAND, IDCANCEL, 0); });
  EXPECT_EQ(dialog.run(), IDCANCEL);
  EXPECT_TRUE(job.stopRequested.load());
}

TEST_F(ProgressDialogTest, WithoutAutoCloseStopBecomesCloseAndEnterDoesNotEnd) {
  job.finished = true;
  job.autoClose = false;
  ProgressDialog dialog(*fs, ProgressKind::Size);
  dialog.setJob(&job);
  std::string caption;
  bool stillOpenAfterEnter = false;
  Later step(400, [&] {
    HWND shown = FindWindowA(nullptr, "Generating");
    char text[32] = {};
    GetDlgItemTextA(shown, 1025, text, sizeof text);
    caption = text;
    SendMessageA(shown, WM_COMMAND, IDOK, 0);
    stillOpenAfterEnter = IsWindow(shown) && IsWindowVisible(shown);
    SendMessageA(shown, WM_COMMAND, IDCANCEL, 0);  // Esc: the next tick ends the dialog
  });
  EXPECT_EQ(dialog.run(), IDOK);
  EXPECT_EQ(caption, "Close");
  EXPECT_TRUE(stillOpenAfterEnter);
}

// The bar of a finished run shows the share really written, and the status why the run ended: a run
// whose names ran out at 45 % reads 45 %, a full volume at 64 of 200 reads 32 %, only a run that
// wrote all it was to write reads 100 %.
TEST_F(ProgressDialogTest, FinishedRunShowsTheShareWrittenAndWhyItEnded) {
  struct Row {
    GenerationResult result;
    std::int64_t written;
    int percent;
    const char* status;
  };
  for (const Row& row : {Row{GenerationResult::NamesUsedUp, 90, 45, "Ended: names used up"},
                         Row{GenerationResult::VolumeFull, 64, 32, "Ended: the volume is full"},
                         Row{GenerationResult::Done, 200, 100, "Generation complete"}}) {
    SCOPED_TRACE(row.status);
    job.resetCounters();
    job.allSize = 200;
    job.currentSize = row.written;
    job.result = row.result;
    job.finished = true;
    job.autoClose = false;
    ProgressDialog dialog(*fs, ProgressKind::Size);
    dialog.setJob(&job);
    std::string status;
    int percent = -1;
    Later step(400, [&] {
      HWND shown = FindWindowA(nullptr, "Generating");
      char text[64] = {};
      GetDlgItemTextA(shown, 1026, text, sizeof text);
      status = text;
      HWND bar = GetDlgItem(shown, 1028);
      const auto pos = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
      const auto upper = static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
      percent = upper == 0 ? -1 : pos * 100 / upper;
      SendMessageA(shown, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(dialog.run(), IDOK);
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(percent, row.percent);
  }
}

TEST(FailurePresenterTest, WorkerWaitsForTheBoxTheUiThreadShows) {
  if (!windowsCanBeShown()) GTEST_SKIP() << "no display";
  Win32FailurePresenter presenter("Talvane Quillet");
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    presenter.showError(FailureCaption::Error, "Disk trouble.");
    returned = true;
  });
  // The box runs its own loop on this thread, inside the message wait below; the timer is served
  // by that loop and answers the box.
  DWORD boxThread = 0;
  bool returnedWhileShown = true;
  Later answer(500, [&] {
    HWND box = FindWindowA(nullptr, "Error");
    boxThread = GetWindowThreadProcessId(box, nullptr);
    returnedWhileShown = returned.load();
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  });
  const DWORD start = GetTickCount();
  while (!returned.load() && GetTickCount() - start < 20000) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    pumpMessages();
  }
  worker.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(boxThread, GetCurrentThreadId());
  EXPECT_FALSE(returnedWhileShown);
}

}  // namespace
}  // namespace quillet::win32
