// The main dialog as a user meets it, driven through real messages while its modal loop runs: the
// repairs an edit's focus loss makes, which controls a click enables, typing limits, the tab order,
// Enter, Esc and the close box, a Generate refused for its root, the unit lists and the window menu.
// Needs a display; without one every test is skipped.
#include "win32ui/main_dialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "frontend/help_layout.h"
#include "frontend/run_preparation.h"
#include "frontend/speed_chart.h"
#include "settings/registry_access.h"
#include "testing/memory_registry_store.h"
#include "win32ui/win32_windowed_frontend.h"
#include "win32ui/window_test_steps.h"

namespace quillet::win32 {
namespace {

using C = MainControl;
using Steps = std::vector<StepDriver::Step>;

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!windowsCanBeShown()) GTEST_SKIP() << "no display";
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    fields.rootFolderText = temp;
    fields.byAllSize = true;
    for (bool* flag : {&fields.fillRandom, &fields.closeProgressAuto, &fields.fillSubfolders,
                       &fields.makeUpTree, &fields.useMaxFiles, &fields.useMaxSize, &fields.useLimitSize,
                       &fields.useFileMask, &fields.useDirMask, &fields.allPartition}) {
      *flag = false;
    }
  }

  // Runs the dialog until it ends; the steps find it in `dialog`. Every step must have run and the
  // last must have ended the dialog.
  void run(Steps steps) {
    steps.insert(steps.begin(), [this] {
      dialog = threadWindowTitled(kMainTitle);
      return dialog != nullptr;
    });
    StepDriver driver(std::move(steps));
    MainDialog main(MainDialogServices{store, *fs, systemClock()}, fields, splash);
    main.run();
    lastResult = main.lastResult();
    EXPECT_TRUE(driver.ranCleanly()) << "the dialog was left open or a step never ran";
  }

  HWND item(C id) const { return GetDlgItem(dialog, static_cast<int>(id)); }
  std::string text(C id) const { return windowText(item(id)); }
  int unit(C id) const { return static_cast<int>(SendMessageA(item(id), CB_GETCURSEL, 0, 0)); }
  bool enabled(C id) const { return IsWindowEnabled(item(id)) != FALSE; }
  int checked(C id) const { return OwnerDrawButton::from(item(id))->check(); }
  // A click as the button reports it to the dialog.
  void click(C id) const { SendMessageA(item(id), BM_CLICK, 0, 0); }
  // Text put into an edit that has the focus; only leaving it runs its check.
  void type(C id, const char* typed) const {
    SetFocus(item(id));
    SetWindowTextA(item(id), typed);
  }
  void leave() const { SetFocus(item(C::RootFolderEdit)); }
  // Steps that close the dialog by its close box, keeping the texts as they stand.
  void closeBox() const { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }
  // The box the dialog shows over itself, if any.
  HWND ownedBox() const {
    std::pair<HWND, HWND> search{dialog, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM data) -> BOOL {
          auto* s = reinterpret_cast<std::pair<HWND, HWND>*>(data);
          if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != s->first) return TRUE;
          s->second = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.second;
  }

  quillet::test_support::MemoryRegistryStore store;
  std::unique_ptr<FileSystem> fs = makeSystemFileSystem();
  SettingsValues fields;
  bool splash = true;
  std::optional<int> lastResult;  // how the last run the dialog started ended; none while none did
  HWND dialog = nullptr;
};

// An edit's focus loss repairs what was typed into it and the texts that depend on it. Texts not
// typed are preset without the focus; units are indices b, Kb, Mb, Gb.
TEST_F(MainDialogTest, LeavingAnEditRepairsItsTextAndWhatDependsOnIt) {
  struct Row {
    const char* what;
    bool byAllSize;
    std::vector<std::pair<C, const char*>> preset;
    std::vector<std::pair<C, int>> units;
    C edit;
    const char* typed;
    std::vector<std::pair<C, const char*>> expected;
    std::vector<std::pair<C, int>> expectedUnits;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {"an empty count becomes 0", false, {{C::MaxFilesEdit, "9"}}, {}, C::MinFilesEdit, "",
       {{C::MinFilesEdit, "0"}}, {}},
      {"a negative count becomes 0", false, {}, {}, C::MaxFilesEdit, "-5", {{C::MaxFilesEdit, "0"}}, {}},
      {"more minimum files push the maximum", false, {{C::MaxFilesEdit, "3"}}, {}, C::MinFilesEdit, "7",
       {{C::MinFilesEdit, "7"}, {C::MaxFilesEdit, "7"}}, {}},
      {"characters after the digits stay", false, {{C::MaxFilesEdit, "20"}}, {}, C::MinFilesEdit, "12abc",
       {{C::MinFilesEdit, "12abc"}, {C::MaxFilesEdit, "20"}}, {}},
      {"a deep tree is capped at 255", false, {}, {}, C::TreeDeepEdit, "300", {{C::TreeDeepEdit, "255"}}, {}},
      {"root size is capped at 30000", false, {}, {}, C::RootSizeEdit, "99999", {{C::RootSizeEdit, "30000"}}, {}},
      {"dirs limit is capped by its number", false, {}, {}, C::DirsLimitEdit, "40000x",
       {{C::DirsLimitEdit, "30000"}}, {}},
      {"dirs limit keeps its letters", false, {}, {}, C::DirsLimitEdit, "12x", {{C::DirsLimitEdit, "12x"}}, {}},
      {"a minimum size above the maximum moves it, unit and all", false, {{C::MaxSizeEdit, "1"}},
       {{C::MaxSizeUnit, 1}, {C::MinSizeUnit, 2}}, C::MinSizeEdit, "5", {{C::MaxSizeEdit, "5"}}, {{C::MaxSizeUnit, 2}}},
      {"limit size pulls both ends below it", false, {{C::MinSizeEdit, "4"}, {C::MaxSizeEdit, "8"}},
       {{C::MinSizeUnit, 1}, {C::MaxSizeUnit, 1}, {C::LimitSizeUnit, 1}}, C::LimitSizeEdit, "2",
       {{C::MinSizeEdit, "2"}, {C::MaxSizeEdit, "2"}}, {{C::MinSizeUnit, 1}, {C::MaxSizeUnit, 1}}},
      {"all size pulls both ends below it", true, {{C::MinSizeEdit, "4"}, {C::MaxSizeEdit, "8"}},
       {{C::MinSizeUnit, 1}, {C::MaxSizeUnit, 1}, {C::AllSizeUnit, 1}}, C::AllSizeEdit, "2",
       {{C::MinSizeEdit, "2"}, {C::MaxSizeEdit, "2"}}, {}},
      {"all size pulls only the maximum when the minimum fits", true, {{C::MinSizeEdit, "1"}, {C::MaxSizeEdit, "8"}},
       {{C::MinSizeUnit, 2}, {C::MaxSizeUnit, 2}, {C::AllSizeUnit, 1}}, C::AllSizeEdit, "4000",
       {{C::MinSizeEdit, "1"}, {C::MaxSizeEdit, "4000"}}, {{C::MinSizeUnit, 2}, {C::MaxSizeUnit, 1}}},
      {"a zero all size becomes 0 and pulls both ends to it", true, {{C::MinSizeEdit, "1"}, {C::MaxSizeEdit, "1"}},
       {}, C::AllSizeEdit, "0k", {{C::AllSizeEdit, "0"}, {C::MinSizeEdit, "0"}, {C::MaxSizeEdit, "0"}}, {}},
  };
  // clang-format on
  // Every edit of the rows enabled: by files number with a limit, a maximum of both and a tree.
  fields.byAllSize = false;
  fields.useLimitSize = fields.useMaxSize = fields.useMaxFiles = fields.fillSubfolders = fields.makeUpTree =
      true;
  Steps steps;
  for (const Row& row : rows) {
    steps.push_back([this, &row] {
      SCOPED_TRACE(row.what);
      click(row.byAllSize ? C::ByAllSizeRadio : C::ByFilesNumberRadio);
      for (const auto& [id, preset] : row.preset) SetWindowTextA(item(id), preset);
      for (const auto& [id, index] : row.units) SendMessageA(item(id), CB_SETCURSEL, index, 0);
      ASSERT_TRUE(enabled(row.edit));
      type(row.edit, row.typed);
      leave();
      for (const auto& [id, expected] : row.expected) EXPECT_EQ(text(id), expected) << int(id);
      for (const auto& [id, index] : row.expectedUnits) EXPECT_EQ(unit(id), index) << int(id);
    });
  }
  steps.push_back([this] { closeBox(); });
  run(steps);
  EXPECT_EQ(fields.allSizeText, "0") << "the repaired texts are the ones kept";
  EXPECT_EQ(fields.maxSizeText, "0");
}

// Each click changes what takes part in the run; a step's lists hold what it changed or kept.
TEST_F(MainDialogTest, ClicksEnableWhatTheChosenRunUses) {
  struct Row {
    std::vector<C> clicks;
    std::vector<std::pair<C, bool>> enables;
    std::vector<std::pair<C, int>> checks;
    std::vector<std::pair<C, const char*>> labels;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {{}, {{C::AllSizeEdit, true}, {C::MinFilesEdit, false}, {C::FillSubfoldersBox, false}, {C::MaxSizeEdit, false},
            {C::FileMaskEdit, false}, {C::TreeDeepEdit, false}},
       {{C::ByAllSizeRadio, 1}, {C::ByFilesNumberRadio, 0}, {C::SplashBox, 1}},
       {{C::MinSizeLabel, "Files size:"}, {C::MinFilesLabel, "Files number:"}}},
      {{C::ByFilesNumberRadio}, {{C::AllSizeEdit, false}, {C::AllPartitionBox, false}, {C::MinFilesEdit, true},
            {C::MaxFilesEdit, false}, {C::LimitSizeEdit, false}, {C::FillSubfoldersBox, true},
            {C::MakeUpTreeBox, false}},
       {{C::ByAllSizeRadio, 0}, {C::ByFilesNumberRadio, 1}}, {}},
      {{C::MaxFilesBox, C::LimitSizeBox, C::FileMaskBox},
       {{C::MaxFilesEdit, true}, {C::LimitSizeEdit, true}, {C::LimitSizeUnit, true}, {C::FileMaskEdit, true}},
       {{C::MaxFilesBox, 1}, {C::LimitSizeBox, 1}}, {{C::MinFilesLabel, "Min files:"}}},
      {{C::FillSubfoldersBox}, {{C::MakeUpTreeBox, true}, {C::TreeDeepEdit, false}}, {{C::FillSubfoldersBox, 1}}, {}},
      {{C::MakeUpTreeBox}, {{C::TreeDeepEdit, true}, {C::RootSizeEdit, true}, {C::DirsLimitEdit, true},
            {C::DirMaskBox, true}, {C::DirMaskEdit, false}}, {{C::MakeUpTreeBox, 1}}, {}},
      {{C::DirMaskBox}, {{C::DirMaskEdit, true}}, {{C::DirMaskBox, 1}}, {}},
      // By all size the recursion and the tree show unmarked and take no part, but are kept.
      {{C::ByAllSizeRadio}, {{C::FillSubfoldersBox, false}, {C::MakeUpTreeBox, false}, {C::TreeDeepEdit, false},
            {C::DirMaskEdit, false}, {C::MaxFilesEdit, false}},
       {{C::FillSubfoldersBox, 0}, {C::MakeUpTreeBox, 0}, {C::ByAllSizeRadio, 1}}, {}},
      {{C::ByAllSizeRadio}, {{C::AllSizeEdit, true}}, {{C::ByAllSizeRadio, 1}, {C::ByFilesNumberRadio, 0}}, {}},
      {{C::ByFilesNumberRadio}, {{C::TreeDeepEdit, true}, {C::DirMaskEdit, true}, {C::MaxFilesEdit, true}},
       {{C::FillSubfoldersBox, 1}, {C::MakeUpTreeBox, 1}}, {}},
      // Leaving the recursion drops the tree, and marking it again does not bring the tree back.
      {{C::FillSubfoldersBox}, {{C::MakeUpTreeBox, false}, {C::TreeDeepEdit, false}}, {{C::MakeUpTreeBox, 0}}, {}},
      {{C::FillSubfoldersBox}, {{C::MakeUpTreeBox, true}, {C::TreeDeepEdit, false}}, {{C::MakeUpTreeBox, 0}}, {}},
      {{C::ByAllSizeRadio, C::AllPartitionBox}, {{C::AllSizeEdit, false}, {C::AllSizeUnit, false},
            {C::AllSizeLabel, false}, {C::AllPartitionBox, true}}, {{C::AllPartitionBox, 1}}, {}},
      {{C::MaxSizeBox, C::SplashBox, C::CloseProgressBox, C::FillRandomBox},
       {{C::MaxSizeEdit, true}, {C::MaxSizeUnit, true}},
       {{C::MaxSizeBox, 1}, {C::SplashBox, 0}, {C::CloseProgressBox, 1}, {C::FillRandomBox, 1}},
       {{C::MinSizeLabel, "Min size:"}}},
  };
  // clang-format on
  Steps steps;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    steps.push_back([this, &rows, i] {
      SCOPED_TRACE("row " + std::to_string(i));
      const Row& row = rows[i];
      for (C id : row.clicks) click(id);
      for (const auto& [id, on] : row.enables) EXPECT_EQ(enabled(id), on) << int(id);
      for (const auto& [id, state] : row.checks) EXPECT_EQ(checked(id), state) << int(id);
      for (const auto& [id, label] : row.labels) EXPECT_EQ(text(id), label) << int(id);
    });
  }
  steps.push_back([this] { closeBox(); });
  run(steps);
  EXPECT_TRUE(fields.byAllSize && fields.allPartition && fields.useMaxFiles && fields.useLimitSize);
  EXPECT_TRUE(fields.fillSubfolders && fields.useDirMask && fields.useMaxSize && fields.useFileMask);
  EXPECT_FALSE(fields.makeUpTree);
  EXPECT_TRUE(fields.closeProgressAuto && fields.fillRandom);
  EXPECT_FALSE(splash) << "the splash box is the application's flag";
}

// A click is painted at once: the tick appears in the box without anything else asking for a redraw.
TEST_F(MainDialogTest, AClickedBoxShowsItsTick) {
  auto tickPixel = [this] {
    HWND box = item(C::FillRandomBox);
    RECT client{};
    GetClientRect(box, &client);
    HDC dc = GetDC(box);
    const COLORREF color = GetPixel(dc, 1 + 11, (client.bottom - 12) / 2 - 1 + 1);
    ReleaseDC(box, dc);
    return color;
  };
  COLORREF before = 0, after = 0;
  run({[] {}, [&] { before = tickPixel(); }, [this] { click(C::FillRandomBox); }, [] {},
       [&] { after = tickPixel(); }, [this] { closeBox(); }});
  EXPECT_NE(before, GetSysColor(COLOR_3DDKSHADOW));
  EXPECT_EQ(after, GetSysColor(COLOR_3DDKSHADOW));
}

// Typed characters stop at an edit's limit, and the number edits refuse letters (Dirs limit takes
// them); a longer text kept in the settings is shown whole and typing stops at its length.
TEST_F(MainDialogTest, TypingStopsAtTheLimitsAndNumberEditsRefuseLetters) {
  struct Row {
    C edit;
    const char* typed;
    const char* shown;
  };
  const std::vector<Row> rows = {
      {C::MinSizeEdit, "12345678", "123456"}, {C::MinSizeEdit, "1x2", "12"},
      {C::TreeDeepEdit, "1234", "123"},       {C::RootSizeEdit, "123456", "12345"},
      {C::DirsLimitEdit, "12x45", "12x45"},   {C::DirsLimitEdit, "1234567", "12345"},
      {C::FileMaskEdit, "*.bin", "*.bin"},    {C::AllSizeEdit, "9", "12345678"},
  };
  fields.allSizeText = "12345678";
  fields.useFileMask = true;
  fields.byAllSize = false;
  fields.fillSubfolders = fields.makeUpTree = true;
  std::string allSizeShownFirst;
  Steps steps;
  steps.push_back([&] { allSizeShownFirst = text(C::AllSizeEdit); });
  for (const Row& row : rows) {
    steps.push_back([this, &row] {
      if (row.edit == C::AllSizeEdit) click(C::ByAllSizeRadio);
      HWND edit = item(row.edit);
      SetFocus(edit);
      if (row.edit != C::AllSizeEdit) SetWindowTextA(edit, "");
      SendMessageA(edit, EM_SETSEL, 0x7FFF, 0x7FFF);
      for (const char* c = row.typed; *c != '\0'; ++c)
        SendMessageA(edit, WM_CHAR, static_cast<WPARAM>(*c), 1);
      EXPECT_EQ(text(row.edit), row.shown) << "typed " << row.typed;
    });
  }
  steps.push_back([this] { closeBox(); });
  run(steps);
  EXPECT_EQ(allSizeShownFirst, "12345678");
  EXPECT_EQ(fields.allSizeText, "12345678");
  EXPECT_EQ(fields.fileMaskText, "*.bin");
}

// Tab visits the enabled controls in the table's order and passes the radio group in one stop, at
// its checked button; Shift+Tab goes back the same way.
TEST_F(MainDialogTest, TabVisitsTheEnabledControlsInOrder) {
  struct Row {
    bool byAllSize;
    std::vector<int> order;  // from the root folder's edit round to it
  };
  const std::vector<Row> rows = {
      {true,
       {1000, 1001, 1055, 1008, 1039, 1076, 1006, 1033, 1031, 1078, 1009, 1061, 1036, 1071, 1030, 1000}},
      {false, {1000, 1001, 1055, 1041, 1010, 1034, 1006, 1033, 1031, 1078, 1009,
               1062, 1036, 1071, 1030, 1035, 1065, 1054, 1048, 1047, 1067, 1000}},
  };
  fields.fillSubfolders = fields.makeUpTree = true;
  Steps steps;
  for (const Row& row : rows) {
    steps.push_back([this, &row] {
      SCOPED_TRACE(row.byAllSize ? "by all size" : "by files number");
      click(row.byAllSize ? C::ByAllSizeRadio : C::ByFilesNumberRadio);
      SetFocus(item(C::RootFolderEdit));
      std::vector<int> forward{GetDlgCtrlID(GetFocus())};
      for (std::size_t i = 1; i < row.order.size(); ++i) {
        pressKey(dialog, VK_TAB);
        forward.push_back(GetDlgCtrlID(GetFocus()));
      }
      EXPECT_EQ(forward, row.order);
      std::vector<int> backward{GetDlgCtrlID(GetFocus())};
      for (std::size_t i = 1; i < row.order.size(); ++i) {
        SendMessageA(dialog, WM_NEXTDLGCTL, 1, 0);  // what Shift+Tab sends
        backward.push_back(GetDlgCtrlID(GetFocus()));
      }
      EXPECT_EQ(backward, std::vector<int>(row.order.rbegin(), row.order.rend()));
    });
  }
  steps.push_back([this] { closeBox(); });
  run(steps);
}

// Enter in an edit does not end the dialog (whether it presses Generate is the platform's choice;
// with no root that shows a box, answered here).
TEST_F(MainDialogTest, EnterDoesNotEndTheDialog) {
  bool open = false;
  int ticks = 0;
  run({[this] {
         SetWindowTextA(item(C::RootFolderEdit), "");
         SetFocus(item(C::AllSizeEdit));
         pressKey(dialog, VK_RETURN);
       },
       [&] {
         if (HWND box = ownedBox()) PostMessageA(box, WM_COMMAND, IDOK, 0);
         return ++ticks == 10;
       },
       [&] {
         open = IsWindowVisible(dialog) && IsWindowEnabled(dialog);
         closeBox();
       }});
  EXPECT_TRUE(open);
  EXPECT_FALSE(lastResult.has_value()) << "no run ended";
}

// Esc asks first. Cancel keeps the dialog, and the edit left for the question is checked again on
// the next focus loss; OK ends it with the texts as typed, as does the close box.
TEST_F(MainDialogTest, EscAsksAndTheTextsAreKeptAsTyped) {
  std::string question, afterCancel, repaired;
  bool cancelOffered = false;
  fields.byAllSize = false;
  fields.fillSubfolders = fields.makeUpTree = true;
  run({[this] {
         type(C::TreeDeepEdit, "300");
         pressKey(dialog, VK_ESCAPE);  // blocks in the question until the next step answers it
       },
       [&] {
         HWND box = ownedBox();
         if (box == nullptr) return false;
         question = boxText(box);
         cancelOffered = GetDlgItem(box, IDCANCEL) != nullptr;
         PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
         return true;
       },
       [&] {
         afterCancel = text(C::TreeDeepEdit);
         type(C::TreeDeepEdit, "300");
         leave();
         repaired = text(C::TreeDeepEdit);
         type(C::RootSizeEdit, "99999");
         pressKey(dialog, VK_ESCAPE);
       },
       [this] { return PostMessageA(ownedBox(), WM_COMMAND, IDOK, 0) != FALSE; }});
  EXPECT_EQ(question, kExitQuestion);
  EXPECT_TRUE(cancelOffered);
  EXPECT_EQ(afterCancel, "300") << "the question changed no text";
  EXPECT_EQ(repaired, "255");
  EXPECT_EQ(fields.rootSizeText, "99999");

  run({[this] { type(C::MinFilesEdit, "0x"); }, [this] { closeBox(); }});
  EXPECT_EQ(fields.minFilesText, "0x") << "the close box keeps the text as typed";
  EXPECT_FALSE(lastResult.has_value());
}

// Generate refuses a root it cannot use with a box and makes nothing, after the
// checks have repaired the texts; the dialog stays for another try.
TEST_F(MainDialogTest, GenerateRefusesARootItCannotUse) {
  struct Row {
    const char* root;
    const char* caption;
    std::string text;
  };
  const std::vector<Row> rows = {
      {"", kEmptyRootCaption, kEmptyRoot},
      // A root of spaces alone is left as it is, and is no absolute path.
      {"   ", "Error", relativeRootMessage("   \\")},
      {"quillet-relative", "Error", relativeRootMessage("quillet-relative\\")},
  };
  std::vector<std::pair<std::string, std::string>> shown(rows.size());
  std::vector<std::string> minFiles(rows.size());
  fields.byAllSize = false;
  Steps steps;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    steps.push_back([this, &rows, i] {
      SetWindowTextA(item(C::RootFolderEdit), rows[i].root);
      SetWindowTextA(item(C::MinFilesEdit), "");
      click(C::GenerateButton);  // blocks in the box
    });
    steps.push_back([&shown, &minFiles, this, i, caption = std::string(rows[i].caption)] {
      HWND box = threadWindowTitled(caption);
      if (box == nullptr) return false;
      shown[i] = {windowText(box), boxText(box)};
      minFiles[i] = text(C::MinFilesEdit);
      PostMessageA(box, WM_COMMAND, IDOK, 0);
      return true;
    });
  }
  steps.push_back([this] { closeBox(); });
  run(steps);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].root);
    EXPECT_EQ(shown[i].first, rows[i].caption);
    EXPECT_EQ(shown[i].second, rows[i].text);
    EXPECT_EQ(minFiles[i], "0");
  }
  EXPECT_FALSE(std::filesystem::exists("quillet-relative"));
  EXPECT_FALSE(lastResult.has_value());
}

// The unit lists hold the four units; a stored unit out of range shows the nearest, and the unit
// chosen is the one kept.
TEST_F(MainDialogTest, UnitListsShowTheStoredUnitWithinRange) {
  fields.minSizeUnit = 7;
  fields.maxSizeUnit = -2;
  fields.allSizeUnit = 2;
  std::vector<std::string> units;
  int minShown = -1, maxShown = -1, allShown = -1;
  run({[&] {
         HWND list = item(C::LimitSizeUnit);
         for (int i = 0; i < static_cast<int>(SendMessageA(list, CB_GETCOUNT, 0, 0)); ++i) {
           char unitText[16] = {};
           SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(unitText));
           units.emplace_back(unitText);
         }
         minShown = unit(C::MinSizeUnit);
         maxShown = unit(C::MaxSizeUnit);
         allShown = unit(C::AllSizeUnit);
         SendMessageA(item(C::LimitSizeUnit), CB_SETCURSEL, 1, 0);
       },
       [this] { closeBox(); }});
  EXPECT_EQ(units, (std::vector<std::string>{"b", "Kb", "Mb", "Gb"}));
  EXPECT_EQ(minShown, 3);
  EXPECT_EQ(maxShown, 0);
  EXPECT_EQ(allShown, 2);
  EXPECT_EQ(fields.minSizeUnit, 3);
  EXPECT_EQ(fields.limitSizeUnit, 1);
}

// The window menu ends with the program's items after a separator; its about item opens the about
// box with the version the registry records.
TEST_F(MainDialogTest, WindowMenuEndsWithTheProgramsItems) {
  {
    RegistryAccess access(store);
    access.writeString(productKeyPath, "Product Version", "9.8.765");
  }
  std::vector<std::string> tail;
  bool separator = false;
  std::string productLine;
  run({[&] {
         HMENU menu = GetSystemMenu(dialog, FALSE);
         const int count = GetMenuItemCount(menu);
         ASSERT_GE(count, 4);
         separator = (GetMenuState(menu, count - 4, MF_BYPOSITION) & MF_SEPARATOR) != 0;
         for (int i = count - 3; i < count; ++i) {
           char entry[64] = {};
           GetMenuStringA(menu, i, entry, sizeof entry, MF_BYPOSITION);
           tail.emplace_back(entry);
         }
         SendMessageA(dialog, WM_SYSCOMMAND, GetMenuItemID(menu, count - 1), 0);  // blocks in the box
       },
       [&] {
         HWND about = threadWindowTitled(kAboutCaption);
         if (about == nullptr) return false;
         productLine = windowText(GetDlgItem(about, 1079));
         PostMessageA(about, WM_COMMAND, IDOK, 0);
         return true;
       },
       [this] { closeBox(); }});
  EXPECT_TRUE(separator);
  EXPECT_EQ(tail, (std::vector<std::string>{kVerifyFolderItem, kSpeedChartItem, kStringAboutMenuItem}));
  EXPECT_EQ(productLine, aboutProductLine("9.8.765"));
}

}  // namespace
}  // namespace quillet::win32
