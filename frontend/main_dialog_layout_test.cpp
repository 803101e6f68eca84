// The main dialog's table and rules without a window: the table's consistency, the data exchange,
// the option toggles, the enabling rules and the message boxes' texts.
#include "frontend/main_dialog_layout.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "frontend/message_boxes.h"
#include "script/failure_text.h"

using namespace quillet;
using C = MainControl;

namespace {

// Controls as plain maps, recording the typing limits they were given.
struct MapTexts : MainDialogTexts {
  std::map<MainControl, std::string> texts;
  std::map<MainControl, int> limits;
  std::map<MainControl, int> units;
  int textWrites = 0;
  std::string text(MainControl id) const override { return texts.at(id); }
  void setText(MainControl id, const std::string& text, int maxLength) override {
    texts[id] = text;
    limits[id] = maxLength;
    ++textWrites;
  }
  int unitIndex(MainControl id) const override { return units.at(id); }
  void setUnitIndex(MainControl id, int index) override { units[id] = index; }
};

}  // namespace

TEST(MainDialogLayout, EveryControlHasOneRowInsideTheFrameWithTheStyleItsKindNeeds) {
  std::set<MainControl> seen;
  int tabStops = 0;
  for (const ControlRow& row : mainControlRows()) {
    EXPECT_GE(row.x, 0);
    EXPECT_GE(row.y, 0);
    EXPECT_LE(row.x + row.width, kMainDialogFrame.width) << row.text;
    EXPECT_LE(row.y + row.height, kMainDialogFrame.height) << row.text;
    EXPECT_EQ(takesFocus(row.kind), (row.style & kStyleTabStop) != 0) << row.text;
    EXPECT_EQ(row.kind == ControlKind::NumberEdit, (row.style & kStyleDigitsOnly) != 0) << row.text;
    if (row.style & kStyleTabStop) ++tabStops;
    if (row.id) {
      EXPECT_TRUE(seen.insert(*row.id).second) << int(*row.id);
    }
  }
  EXPECT_EQ(seen.size(), 41u);  // every MainControl, once
  EXPECT_EQ(tabStops, 32);
  EXPECT_EQ(mainControlRow(C::GenerateButton).kind, ControlKind::BoldButton);
  EXPECT_STREQ(mainControlRow(C::ScriptsHelpButton).text, "Scripts help");
  EXPECT_THROW(mainControlRow(static_cast<MainControl>(1)), std::out_of_range);
  // The radio buttons start a group, and so does the box after them.
  EXPECT_TRUE(mainControlRow(C::ByAllSizeRadio).style & kStyleGroupStart);
  EXPECT_FALSE(mainControlRow(C::ByFilesNumberRadio).style & kStyleGroupStart);
  EXPECT_TRUE(mainControlRow(C::SplashBox).style & kStyleGroupStart);

  // The exchanged and checked controls are edits and lists of the table.
  for (const TextBinding& b : mainTextBindings()) {
    const ControlKind kind = mainControlRow(b.id).kind;
    EXPECT_TRUE(kind == ControlKind::Edit || kind == ControlKind::NumberEdit) << int(b.id);
  }
  for (const UnitBinding& b : mainUnitBindings()) EXPECT_EQ(mainControlRow(b.id).kind, ControlKind::UnitList);
  EXPECT_EQ(mainFocusChecks().size(), 9u);
  for (const OptionToggle& t : mainOptionToggles()) {
    const ControlKind kind = mainControlRow(t.id).kind;
    EXPECT_TRUE(kind == ControlKind::CheckBox || kind == ControlKind::Radio) << int(t.id);
  }
}

TEST(MainDialogLayout, SystemMenuEndsWithVerifyAndTheAboutItemAfterASeparator) {
  const auto menu = mainSystemMenu();
  ASSERT_EQ(menu.size(), 6u);
  EXPECT_EQ(menu[0].command, SystemCommand::Minimize);
  EXPECT_EQ(menu[1].command, SystemCommand::Close);
  EXPECT_FALSE(menu[2].command.has_value());
  EXPECT_EQ(menu[3].command, SystemCommand::VerifyFolder);
  EXPECT_STREQ(menu[3].text, "&Verify folder...");
  EXPECT_EQ(menu[4].command, SystemCommand::SpeedChart);
  EXPECT_STREQ(menu[4].text, "&Speed chart...");
  EXPECT_EQ(menu[5].command, SystemCommand::About);
  EXPECT_STREQ(menu[5].text, "&About Talvane Quillet...");
}

TEST(MainDialogLayout, DataExchangeKeepsLongStoredTextsWholeAndUnitsInRange) {
  SettingsValues fields;
  fields.minSizeText = "123456789";  // longer than the edit's six characters
  fields.maxSizeText = "12";
  fields.rootFolderText = "/data/";
  fields.maxSizeUnit = 7;
  fields.minSizeUnit = -2;
  MapTexts controls;
  showTexts(fields, controls);
  EXPECT_EQ(controls.texts[C::MinSizeEdit], "123456789");
  EXPECT_EQ(controls.limits[C::MinSizeEdit], 9);
  EXPECT_EQ(controls.limits[C::MaxSizeEdit], 6);
  EXPECT_EQ(controls.limits[C::RootFolderEdit], 32767);  // no limit of its own
  EXPECT_EQ(controls.limits[C::TreeDeepEdit], 3);
  EXPECT_EQ(controls.units[C::MaxSizeUnit], 3);
  EXPECT_EQ(controls.units[C::MinSizeUnit], 0);
  EXPECT_EQ(controls.textWrites, 12);

  controls.texts[C::DirsLimitEdit] = "12x";
  controls.units[C::AllSizeUnit] = 2;
  SettingsValues taken;
  takeTexts(controls, taken);
  EXPECT_EQ(taken.dirsLimitText, "12x");
  EXPECT_EQ(taken.rootFolderText, "/data/");
  EXPECT_EQ(taken.allSizeUnit, 2);
  EXPECT_EQ(taken.maxSizeUnit, 3);
}

TEST(MainDialogLayout, TogglesChangeTheirOptionAndLeavingRecursionDropsTheTree) {
  SettingsValues f;
  bool splash = true;
  f.byAllSize = false;
  f.fillSubfolders = true;
  f.makeUpTree = true;
  EXPECT_TRUE(toggleOption(C::FillSubfoldersBox, f, splash));
  EXPECT_FALSE(f.fillSubfolders);
  EXPECT_FALSE(f.makeUpTree);
  EXPECT_TRUE(toggleOption(C::FillSubfoldersBox, f, splash));
  EXPECT_TRUE(f.fillSubfolders);
  EXPECT_FALSE(f.makeUpTree);  // not brought back

  EXPECT_TRUE(toggleOption(C::SplashBox, f, splash));
  EXPECT_FALSE(splash);
  EXPECT_TRUE(toggleOption(C::ByAllSizeRadio, f, splash));
  EXPECT_TRUE(toggleOption(C::ByAllSizeRadio, f, splash));  // a radio button sets, never toggles
  EXPECT_TRUE(f.byAllSize);
  const bool random = f.fillRandom;
  EXPECT_TRUE(toggleOption(C::FillRandomBox, f, splash));
  EXPECT_NE(f.fillRandom, random);
  EXPECT_FALSE(toggleOption(C::GenerateButton, f, splash));
  EXPECT_FALSE(toggleOption(C::MinSizeEdit, f, splash));
}

TEST(MainDialogLayout, EnablingRulesFollowTheKindOfRun) {
  SettingsValues f;
  f.byAllSize = true;
  f.allPartition = false;
  f.fillSubfolders = true;
  f.makeUpTree = true;
  f.useMaxSize = false;
  f.useMaxFiles = true;
  f.useLimitSize = true;
  f.useDirMask = true;
  MainDialogAppearance a = mainDialogAppearance(f, false);
  EXPECT_TRUE(a.isChecked(C::ByAllSizeRadio));
  EXPECT_FALSE(a.isChecked(C::ByFilesNumberRadio));
  EXPECT_FALSE(a.isChecked(C::SplashBox));
  // The recursion and the tree show unmarked by all size, their options kept.
  EXPECT_FALSE(a.isChecked(C::FillSubfoldersBox));
  EXPECT_FALSE(a.isChecked(C::MakeUpTreeBox));
  EXPECT_TRUE(a.isEnabled(C::AllSizeEdit));
  EXPECT_TRUE(a.isEnabled(C::AllPartitionBox));
  EXPECT_FALSE(a.isEnabled(C::FilesNumberGroup));
  EXPECT_FALSE(a.isEnabled(C::LimitSizeEdit));
  EXPECT_FALSE(a.isEnabled(C::FillSubfoldersBox));
  EXPECT_FALSE(a.isEnabled(C::DirMaskEdit));
  EXPECT_FALSE(a.isEnabled(C::MaxSizeUnit));
  EXPECT_STREQ(a.label(C::MinSizeLabel), "Files size:");
  EXPECT_STREQ(a.label(C::MinFilesLabel), "Min files:");

  f.allPartition = true;  // the whole volume: no total to type
  a = mainDialogAppearance(f, false);
  EXPECT_FALSE(a.isEnabled(C::AllSizeEdit));
  EXPECT_FALSE(a.isEnabled(C::AllSizeLabel));
  EXPECT_TRUE(a.isEnabled(C::AllSizeGroup));

  f.byAllSize = false;
  a = mainDialogAppearance(f, true);
  EXPECT_TRUE(a.isChecked(C::SplashBox));
  EXPECT_TRUE(a.isChecked(C::FillSubfoldersBox));
  EXPECT_TRUE(a.isChecked(C::MakeUpTreeBox));
  EXPECT_FALSE(a.isEnabled(C::AllSizeGroup));
  EXPECT_FALSE(a.isEnabled(C::AllPartitionBox));
  EXPECT_TRUE(a.isEnabled(C::LimitSizeUnit));
  EXPECT_TRUE(a.isEnabled(C::MaxFilesEdit));
  EXPECT_TRUE(a.isEnabled(C::TreeDeepEdit));
  EXPECT_TRUE(a.isEnabled(C::DirMaskEdit));

  f.useDirMask = false;
  f.fillSubfolders = false;
  a = mainDialogAppearance(f, true);
  EXPECT_FALSE(a.isChecked(C::MakeUpTreeBox));  // no tree without the recursion
  EXPECT_FALSE(a.isEnabled(C::MakeUpTreeBox));
  EXPECT_FALSE(a.isEnabled(C::TreeGroup));
  EXPECT_FALSE(a.isEnabled(C::DirsLimitEdit));

  // Every box and radio button gets a mark; no control is listed twice.
  std::set<MainControl> checked, enabled;
  for (const auto& c : a.checks) EXPECT_TRUE(checked.insert(c.id).second);
  for (const auto& e : a.enables) EXPECT_TRUE(enabled.insert(e.id).second);
  for (const ControlRow& row : mainControlRows()) {
    if (row.kind == ControlKind::CheckBox || row.kind == ControlKind::Radio) {
      EXPECT_TRUE(checked.count(*row.id));
    }
  }
}

TEST(MessageBoxes, CaptionsTextsAndOwnersOfTheBoxes) {
  const MessageBox exit = exitQuestionBox();
  EXPECT_EQ(exit.caption, "Talvane Quillet");
  EXPECT_EQ(exit.text, "Do you want to exit?");
  EXPECT_EQ(exit.buttons, BoxButtons::OkCancel);
  EXPECT_EQ(exit.icon, BoxIcon::Question);
  const MessageBox empty = emptyRootBox();
  EXPECT_EQ(empty.caption, "Warning");
  EXPECT_EQ(empty.text, "Root directory can't be empty.");
  EXPECT_EQ(empty.buttons, BoxButtons::Ok);
  // A run's failure: "Error" stands alone, the application's box carries the title and an owner.
  const MessageBox error = failureBox(FailureCaption::Error, "disk gone", "Talvane Quillet");
  EXPECT_EQ(error.caption, "Error");
  EXPECT_FALSE(error.owned);
  const MessageBox application = failureBox(FailureCaption::Application, "full", "Title");
  EXPECT_EQ(application.caption, "Title");
  EXPECT_EQ(application.text, "full");
  EXPECT_TRUE(application.owned);
  EXPECT_EQ(settingsErrorBox("Registry", "cannot write").icon, BoxIcon::Error);
}

// The engine's failures in both forms: the box a window shows and the line a script log gets.
TEST(MessageBoxes, EngineFailuresInTheirBoxAndLogForms) {
  const Status io = Status::failure(ErrorKind::Other, 5, "/r/a", "Input/output error");
  const Status bare = Status::failure(ErrorKind::Other, 5, "/r/a", "");
  struct Row {
    RunFailure failure;
    FailureCaption caption;
    const char* box;
    const char* line;
  };
  const Row rows[] = {
      {{FailureKind::RootPath, "/r/x", {}, {}},
       FailureCaption::Error,
       "Incorrect path - '/r/x'.\n\nTry to check root folder for errors.",
       "Incorrect path - '/r/x'. Try to check root folder for errors."},
      {{FailureKind::FolderPath, "/r/x", {}, {}},
       FailureCaption::Error,
       "Incorrect path - '/r/x'.\n\nTry to check root folder and file mask for errors.",
       "Incorrect path - '/r/x'. Try to check root folder and file mask for errors."},
      {{FailureKind::FilePath, "/r/a", {}, {}},
       FailureCaption::Application,
       "Incorrect path - '/r/a'.\n\nTry to check root folder and file mask for errors.",
       "Incorrect path - '/r/a'. Try to check root folder and file mask for errors."},
      {{FailureKind::CannotAllocate, "", {}, {}},
       FailureCaption::Application,
       "Can not allocate file of selected size.",
       "Can not allocate file of selected size."},
      {{FailureKind::VolumeFull, "/", {}, "a"},
       FailureCaption::Application,
       "Destination drive /: is full.\n\nLast processed file: a",
       "Destination drive /: is full. Last processed file: a"},
      {{FailureKind::VolumeFull, "Q", {}, ""},
       FailureCaption::Application,
       "Destination drive Q: is full.\n\nLast processed file: none",
       "Destination drive Q: is full. Last processed file: none"},
      {{FailureKind::CreateFile, "/r/a", io, {}},
       FailureCaption::Application,
       "Can not create file '/r/a': Input/output error.",
       "Can not create file '/r/a': Input/output error."},
      {{FailureKind::WriteFile, "/r/a", io, {}},
       FailureCaption::Application,
       "Can not write file '/r/a': Input/output error.",
       "Can not write file '/r/a': Input/output error."},
      // A cause the system did not give apart: the whole message stands for it.
      {{FailureKind::WriteFile, "/r/a", bare, {}},
       FailureCaption::Application,
       "Can not write file '/r/a': /r/a.",
       "Can not write file '/r/a': /r/a."},
      {{FailureKind::VolumeFlush, "/r", io, {}},
       FailureCaption::Application,
       "Can not flush the volume of '/r': Input/output error.",
       "Can not flush the volume of '/r': Input/output error."},
      {{FailureKind::JournalVolumeFlush, "/r", io, {}},
       FailureCaption::Application,
       "Can not flush the volume of '/r': Input/output error; with /sync:end the journal records files only "
       "once "
       "it is flushed (/sync:file flushes each file instead).",
       "Can not flush the volume of '/r': Input/output error; with /sync:end the journal records files only "
       "once "
       "it is flushed (/sync:file flushes each file instead)."},
      {{FailureKind::FreeSpaceUnknown, "/r/", io, {}},
       FailureCaption::Application,
       "Can not read the free space of '/r/': Input/output error.",
       "Can not read the free space of '/r/': Input/output error."},
  };
  for (const Row& row : rows) {
    const MessageBox box = failureBox(row.failure, "Title");
    EXPECT_EQ(box.caption, row.caption == FailureCaption::Error ? "Error" : "Title") << row.box;
    EXPECT_EQ(box.owned, row.caption == FailureCaption::Application) << row.box;
    EXPECT_EQ(box.icon, BoxIcon::Error) << row.box;
    EXPECT_EQ(box.text, row.box);
    EXPECT_EQ(failureLogLine(row.failure), row.line);
  }
}
