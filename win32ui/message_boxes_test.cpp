// The boxes as shown: caption, text, buttons, icon, owner and answer of each kind the program raises,
// an engine failure under the caption of its kind, and the shell's folder picker opened on a folder,
// answered and cancelled. Needs a display; without one every test is skipped.
#include "win32ui/message_boxes.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cctype>
#include <string>
#include <vector>

#include "frontend/main_dialog_layout.h"
#include "script/failure_text.h"
#include "win32ui/folder_browser.h"
#include "win32ui/win32_windowed_frontend.h"
#include "win32ui/window_test_steps.h"

namespace quillet::win32 {
namespace {

// The icon static of the system's message box.
constexpr int kBoxIconId = 0x0440;

struct ShownBox {
  std::string caption, text;
  bool cancel = false;
  HWND owner = nullptr;
  HICON icon = nullptr;
};

// Reads the box titled caption at the next tick and answers it.
StepDriver::Step readAndAnswer(const std::string& caption, ShownBox& shown, int answer) {
  return [caption, &shown, answer] {
    HWND box = threadWindowTitled(caption);
    if (box == nullptr) return false;
    shown = {windowText(box), boxText(box), GetDlgItem(box, IDCANCEL) != nullptr, GetWindow(box, GW_OWNER),
             reinterpret_cast<HICON>(SendDlgItemMessageA(box, kBoxIconId, STM_GETICON, 0, 0))};
    PostMessageA(box, WM_COMMAND, answer, 0);
    return true;
  };
}

class BoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!windowsCanBeShown()) GTEST_SKIP() << "no display";
    owner = CreateWindowExA(0, "STATIC", "Box owner", WS_POPUP | WS_VISIBLE, 10, 10, 100, 60, nullptr,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(owner, nullptr);
  }
  void TearDown() override {
    if (owner != nullptr) DestroyWindow(owner);
  }
  HWND owner = nullptr;
};

TEST_F(BoxTest, EachBoxShowsItsCaptionButtonsIconAndOwnerAndReturnsTheAnswer) {
  struct Row {
    quillet::MessageBox box;
    int answer;
    LPCSTR icon;
  };
  const std::vector<Row> rows = {
      {exitQuestionBox(), IDCANCEL, IDI_QUESTION},
      {exitQuestionBox(), IDOK, IDI_QUESTION},
      {emptyRootBox(), IDOK, IDI_WARNING},
      {failureBox(FailureCaption::Error, "Disk trouble.", "App title"), IDOK, IDI_ERROR},
      {failureBox(FailureCaption::Application, "Disk trouble.", "App title"), IDOK, IDI_ERROR},
      {settingsErrorBox("Settings store", "Can not read 'Root folder'."), IDOK, IDI_ERROR},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.box.caption + ": " + row.box.text);
    ShownBox shown;
    StepDriver driver({readAndAnswer(row.box.caption, shown, row.answer)});
    EXPECT_EQ(showBox(owner, row.box), row.answer);
    EXPECT_TRUE(driver.ranCleanly());
    EXPECT_EQ(shown.caption, row.box.caption);
    EXPECT_EQ(shown.text, row.box.text);
    EXPECT_EQ(shown.cancel, row.box.buttons == BoxButtons::OkCancel);
    EXPECT_EQ(shown.owner, row.box.owned ? owner : nullptr);
    EXPECT_EQ(shown.icon, LoadIconA(nullptr, row.icon));
  }
}

// A folder that cannot be made stands alone under "Error"; a failure of the run's files is owned by
// the window of the run under the application's title. Settings failures stand alone.
TEST_F(BoxTest, FailuresGoUnderTheCaptionOfTheirKind) {
  struct Row {
    RunFailure failure;
    const char* caption;
    bool owned;
  };
  const std::vector<Row> rows = {
      {{FailureKind::RootPath, "Z:\\no\\root\\", Status{}, ""}, "Error", false},
      {{FailureKind::FolderPath, "C:\\run\\sub\\", Status{}, ""}, "Error", false},
      {{FailureKind::VolumeFull, "C:", Status{}, "a1b2"}, "App title", true},
      {{FailureKind::FilePath, "C:\\run\\a?b", Status{}, ""}, "App title", true},
  };
  Win32FailurePresenter presenter("App title", owner);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.failure.path);
    ShownBox shown;
    StepDriver driver({readAndAnswer(row.caption, shown, IDOK)});
    presenter.present(row.failure);
    EXPECT_TRUE(driver.ranCleanly());
    EXPECT_EQ(shown.caption, row.caption);
    EXPECT_EQ(shown.text, failureBoxText(row.failure));
    EXPECT_EQ(shown.owner, row.owned ? owner : nullptr);
  }
  ShownBox shown;
  StepDriver driver({readAndAnswer("Registry", shown, IDOK)});
  Win32ErrorPresenter errors;
  errors.show("Registry", "Can not write 'Show splash'.");
  EXPECT_TRUE(driver.ranCleanly());
  EXPECT_EQ(shown.text, "Can not write 'Show splash'.");
  EXPECT_EQ(shown.owner, nullptr);
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class FolderBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!windowsCanBeShown()) GTEST_SKIP() << "no display";
    comReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    char temp[MAX_PATH] = {}, full[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    GetLongPathNameA(temp, full, MAX_PATH);
    folder = full;
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
  }
  void TearDown() override {
    if (comReady) CoUninitialize();
  }
  bool comReady = false;
  std::string folder;  // the temporary folder, without its separator
};

// The picker opens on the folder given, whatever blanks and separator end it, and OK returns it.
TEST_F(FolderBrowserTest, OpensOnTheFolderGivenAndOkReturnsIt) {
  for (const std::string& initial : {folder, folder + "\\", folder + "\\   ", folder + "/"}) {
    SCOPED_TRACE(initial);
    FolderBrowser browser(initial);
    browser.caption = "Pick a folder";
    bool okEnabled = false;
    StepDriver driver({[&] {
      HWND picker = threadWindowTitled("Pick a folder");
      if (picker == nullptr) return false;
      okEnabled = IsWindowEnabled(GetDlgItem(picker, IDOK)) != FALSE;
      PostMessageA(picker, WM_COMMAND, IDOK, 0);
      return true;
    }});
    EXPECT_TRUE(browser.browse(nullptr));
    EXPECT_TRUE(driver.ranCleanly());
    EXPECT_TRUE(okEnabled);
    EXPECT_EQ(lower(browser.selectedPath), lower(folder));
  }
}

TEST_F(FolderBrowserTest, CancelReturnsNothing) {
  FolderBrowser cancelled(folder);
  cancelled.caption = "Pick a folder";
  StepDriver driver({[] {
    HWND picker = threadWindowTitled("Pick a folder");
    return picker != nullptr && PostMessageA(picker, WM_COMMAND, IDCANCEL, 0) != FALSE;
  }});
  EXPECT_FALSE(cancelled.browse(nullptr));
  EXPECT_TRUE(driver.ranCleanly());
  EXPECT_EQ(cancelled.selectedPath, "");
}

}  // namespace
}  // namespace quillet::win32
