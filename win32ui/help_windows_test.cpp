// The help area's windows as shown: the scripts help window (its text broken into lines, read-only,
// one window only, restored when asked for again, closed by OK, Enter and Esc), the about box with
// the recorded version, and the splash's texts drawn only when shown. Needs a display; without one
// every test is skipped.
#include "win32ui/help_windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frontend/help_layout.h"
#include "script/scripts_help_text.h"
#include "settings/registry_access.h"
#include "settings/settings_values.h"
#include "testing/memory_registry_store.h"
#include "win32ui/win32_windowed_frontend.h"
#include "win32ui/window_test_steps.h"

namespace quillet::win32 {
namespace {

constexpr int kHelpTextId = 1074;

int visibleWindowsTitled(const char* title) {
  std::pair<const char*, int> count{title, 0};
  EnumWindows(
      [](HWND window, LPARAM data) -> BOOL {
        auto* c = reinterpret_cast<std::pair<const char*, int>*>(data);
        if (IsWindowVisible(window) && windowText(window) == c->first) ++c->second;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count.second;
}

class HelpWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!windowsCanBeShown()) GTEST_SKIP() << "no display";
  }
};

TEST_F(HelpWindowsTest, ScriptsHelpShowsTheTextInLinesAndStaysReadOnly) {
  std::string shown, afterTyping;
  int lines = 0;
  bool focusOnText = false;
  StepDriver driver({[&] {
    HWND help = threadWindowTitled(kScriptsHelpCaption);
    if (help == nullptr) return false;
    HWND text = GetDlgItem(help, kHelpTextId);
    shown = windowText(text);
    lines = static_cast<int>(SendMessageA(text, EM_GETLINECOUNT, 0, 0));
    focusOnText = GetFocus() == text;
    SendMessageA(text, WM_CHAR, 'x', 1);
    SendMessageA(text, WM_CHAR, VK_BACK, 1);
    afterTyping = windowText(text);
    PostMessageA(help, WM_COMMAND, IDOK, 0);
    return true;
  }});
  openOrActivateScriptsHelp(nullptr);
  EXPECT_TRUE(driver.ranCleanly());
  EXPECT_EQ(shown, scriptsHelpText().substr(0, shown.size()));
  EXPECT_EQ(shown.size(), scriptsHelpText().size());
  // The text's own line ends break it (a box that broke lines only where they run out of room would
  // show far fewer).
  EXPECT_GE(lines, static_cast<int>(std::count(shown.begin(), shown.end(), '\n')) + 1);
  EXPECT_TRUE(focusOnText);
  EXPECT_EQ(afterTyping, shown);
}

// A second request while the window is open, minimised even, opens no other window and restores
// the open one; Enter and Esc close it as OK does.
TEST_F(HelpWindowsTest, OneHelpWindowRestoredWhenAskedAgainAndClosedByItsKeys) {
  for (WPARAM closingKey : {VK_RETURN, VK_ESCAPE}) {
    SCOPED_TRACE(closingKey == VK_RETURN ? "Enter" : "Esc");
    int windows = 0;
    bool iconic = false, restored = false, stillOpen = true;
    HWND help = nullptr;
    StepDriver driver({[&] {
                         help = threadWindowTitled(kScriptsHelpCaption);
                         if (help == nullptr) return false;
                         ShowWindow(help, SW_MINIMIZE);
                         iconic = IsIconic(help) != FALSE;
                         openOrActivateScriptsHelp(nullptr);  // returns at once
                         restored = IsIconic(help) == FALSE;
                         windows = visibleWindowsTitled(kScriptsHelpCaption);
                         return true;
                       },
                       [&] {
                         SetFocus(GetDlgItem(help, kHelpTextId));
                         pressKey(help, closingKey);
                       }});
    openOrActivateScriptsHelp(nullptr);  // returns once the window is closed
    stillOpen = IsWindow(help) != FALSE;
    EXPECT_TRUE(driver.ranCleanly());
    EXPECT_TRUE(iconic);
    EXPECT_TRUE(restored);
    EXPECT_EQ(windows, 1);
    EXPECT_FALSE(stillOpen);
    EXPECT_EQ(visibleWindowsTitled(kScriptsHelpCaption), 0);
  }
}

// The about box names the recorded version, or none when the registry holds none; OK has the focus
// and Enter closes it.
TEST_F(HelpWindowsTest, AboutBoxNamesTheRecordedVersion) {
  struct Row {
    const char* stored;  // null: no value
    std::string productLine;
  };
  const std::vector<Row> rows = {
      {"3.01.029", "Talvane Quillet Build 3.01.029"},
      {nullptr, "Talvane Quillet Build "},
      {"", "Talvane Quillet Build "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.productLine);
    quillet::test_support::MemoryRegistryStore store;
    RegistryAccess access(store);
    if (row.stored != nullptr) access.writeString(productKeyPath, "Product Version", row.stored);
    std::string product, credit;
    bool okFocused = false, stillOpen = true;
    HWND about = nullptr;
    StepDriver driver({[&] {
      about = threadWindowTitled(kAboutCaption);
      if (about == nullptr) return false;
      product = windowText(GetDlgItem(about, 1079));
      credit = windowText(GetDlgItem(about, 1080));
      okFocused = GetFocus() == GetDlgItem(about, IDOK);
      pressKey(about, VK_RETURN);
      return true;
    }});
    runAboutBox(access, nullptr);  // returns once the box is closed
    stillOpen = IsWindow(about) != FALSE;
    EXPECT_TRUE(driver.ranCleanly());
    EXPECT_EQ(product, row.productLine);
    EXPECT_EQ(credit, aboutCreditLine());
    EXPECT_TRUE(okFocused);
    EXPECT_FALSE(stillOpen);
  }
}

// Without its bitmap (none is linked into the tests) the splash is black; the product and version
// are drawn in white, each only once shown and nowhere below them, the product at the left and the version at
// the right.
TEST_F(HelpWindowsTest, SplashDrawsTheTopTextsOnlyWhenShown) {
  struct Row {
    bool product, version;
  };
  for (const Row& row : {Row{false, false}, Row{true, false}, Row{false, true}, Row{true, true}}) {
    SCOPED_TRACE(std::string(row.product ? "product" : "-") + (row.version ? " version" : " -"));
    SplashWindow splash;
    splash.create();
    splash.setProduct("Talvane Quillet", row.product);
    splash.setVersion("Version 3.01.029", row.version);
    splash.setMessage("Loading...");
    splash.present();
    HWND window = threadWindowTitled("Talvane Quillet splash");
    ASSERT_NE(window, nullptr);
    RECT client{};
    GetClientRect(window, &client);
    HDC dc = GetDC(window);
    int left = 0, right = 0, elsewhere = 0;
    // The top texts' rows and as many below them.
    for (int y = 0; y < 3 * kSplashFontHeight; ++y) {
      for (int x = 0; x < client.right; ++x) {
        const COLORREF color = GetPixel(dc, x, y);
        if (GetRValue(color) < 128 || GetGValue(color) < 128 || GetBValue(color) < 128) continue;
        if (y < kSplashFontHeight + 2) {
          (x < client.right / 2 ? left : right) += 1;
        } else {
          ++elsewhere;
        }
      }
    }
    ReleaseDC(window, dc);
    EXPECT_EQ(left > 0, row.product) << left;
    EXPECT_EQ(right > 0, row.version) << right;
    EXPECT_EQ(elsewhere, 0);
    splash.close();
    EXPECT_FALSE(IsWindow(window));
  }
}

}  // namespace
}  // namespace quillet::win32
