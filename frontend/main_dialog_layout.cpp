// The main dialog's table and rules.
#include "frontend/main_dialog_layout.h"

#include <algorithm>
#include <stdexcept>

#include "frontend/field_checks.h"
#include "frontend/speed_chart.h"

namespace quillet {

namespace {

using C = MainControl;
using K = ControlKind;

constexpr unsigned kTab = kStyleTabStop;
constexpr unsigned kNum = kStyleTabStop | kStyleDigitsOnly;

// The unit lists are given the height of the edits beside them: a closed drop-down list is sized
// by the toolkit, the list part needs no room here.
constexpr ControlRow kControls[] = {
    {std::nullopt, K::Label, "Root folder:", 8, 7, 38, 8, kStyleNone},
    {C::RootFolderEdit, K::Edit, "", 55, 4, 124, 14, kTab},
    {C::BrowseButton, K::BoldButton, "...", 184, 4, 16, 13, kTab},
    {C::FileMaskBox, K::CheckBox, "File mask:", 8, 23, 47, 10, kTab},
    {C::FileMaskEdit, K::Edit, "", 55, 21, 93, 14, kTab},
    {C::AllSizeGroup, K::GroupBox, "Generate by all files size", 4, 39, 120, 38, kStyleNone},
    {C::AllSizeLabel, K::Label, "All files size:", 11, 50, 38, 8, kStyleNone},
    {C::AllSizeEdit, K::NumberEdit, "", 55, 48, 33, 14, kNum},
    {C::AllSizeUnit, K::UnitList, "", 91, 48, 28, 14, kTab},
    {C::AllPartitionBox, K::CheckBox, "Generate to all partition size", 11, 64, 103, 10, kTab},
    {C::FilesNumberGroup, K::GroupBox, "Generate by files number", 4, 79, 120, 58, kStyleNone},
    {C::LimitSizeBox, K::CheckBox, "Limit size:", 8, 91, 45, 10, kTab},
    {C::LimitSizeEdit, K::NumberEdit, "", 55, 89, 33, 14, kNum},
    {C::LimitSizeUnit, K::UnitList, "", 91, 89, 28, 14, kTab},
    {C::MinFilesLabel, K::Label, "Min files:", 8, 106, 41, 8, kStyleNone},
    {C::MinFilesEdit, K::NumberEdit, "", 55, 104, 33, 14, kNum},
    {C::MaxFilesBox, K::CheckBox, "Max files:", 8, 121, 42, 10, kTab},
    {C::MaxFilesEdit, K::NumberEdit, "", 55, 119, 33, 14, kNum},
    {std::nullopt, K::GroupBox, "Files size", 4, 139, 120, 43, kStyleNone},
    {C::MinSizeLabel, K::Label, "Min size:", 8, 151, 41, 8, kStyleNone},
    {C::MinSizeEdit, K::NumberEdit, "", 55, 148, 33, 14, kNum},
    {C::MinSizeUnit, K::UnitList, "", 91, 148, 28, 14, kTab},
    {C::MaxSizeBox, K::CheckBox, "Max size:", 8, 166, 41, 10, kTab},
    {C::MaxSizeEdit, K::NumberEdit, "", 55, 164, 33, 14, kNum},
    {C::MaxSizeUnit, K::UnitList, "", 91, 164, 28, 14, kTab},
    {C::ScriptsHelpButton, K::FlatButton, "Scripts help", 206, 4, 46, 13, kTab},
    {C::GenerateButton, K::BoldButton, "Generate", 153, 21, 99, 13, kTab},
    {std::nullopt, K::GroupBox, "Generate type", 128, 39, 124, 27, kStyleNone},
    // The two radio buttons form one group; the splash check box starts the next.
    {C::ByAllSizeRadio, K::Radio, "By all size", 132, 51, 47, 10, kTab | kStyleGroupStart},
    {C::ByFilesNumberRadio, K::Radio, "By files number", 186, 51, 62, 10, kTab},
    {C::SplashBox, K::CheckBox, "Show splash screen at startup", 132, 68, 114, 10, kTab | kStyleGroupStart},
    {C::CloseProgressBox, K::CheckBox, "Close progress automatically", 132, 79, 120, 10, kTab},
    {C::FillRandomBox, K::CheckBox, "Fill files by random data", 132, 90, 89, 10, kTab},
    {C::FillSubfoldersBox, K::CheckBox, "Fill sub-directories recursive", 132, 101, 102, 10, kTab},
    {C::MakeUpTreeBox, K::CheckBox, "Make-up subdirectories tree", 132, 112, 103, 10, kTab},
    {C::TreeGroup, K::GroupBox, "Make-up sub-directories tree", 128, 124, 124, 58, kStyleNone},
    {C::DirMaskBox, K::CheckBox, "Dir mask:", 132, 137, 43, 10, kTab},
    {C::DirMaskEdit, K::Edit, "", 175, 135, 71, 14, kTab},
    {C::RootSizeLabel, K::Label, "Root size:", 138, 153, 32, 8, kStyleNone},
    {C::RootSizeEdit, K::NumberEdit, "", 175, 150, 26, 14, kNum},
    {C::TreeDeepLabel, K::Label, "Deep:", 205, 153, 19, 8, kStyleNone},
    {C::TreeDeepEdit, K::NumberEdit, "", 227, 150, 19, 14, kNum},
    {C::DirsLimitLabel, K::Label, "Dirs limit:", 138, 168, 28, 8, kStyleNone},
    // Takes any character: its number is read up to the first non-digit.
    {C::DirsLimitEdit, K::Edit, "", 175, 166, 26, 14, kTab},
};

constexpr SystemMenuItem kSystemMenu[] = {
    {SystemCommand::Minimize, "Mi&nimize"},
    {SystemCommand::Close, "&Close\tAlt+F4"},
    {std::nullopt, ""},
    {SystemCommand::VerifyFolder, kVerifyFolderItem},
    {SystemCommand::SpeedChart, kSpeedChartItem},
    {SystemCommand::About, kStringAboutMenuItem},
};

const TextBinding kTexts[] = {
    {C::DirMaskEdit, &SettingsValues::dirMaskText, 0},
    {C::RootFolderEdit, &SettingsValues::rootFolderText, 0},
    {C::MinSizeEdit, &SettingsValues::minSizeText, 6},
    {C::MaxSizeEdit, &SettingsValues::maxSizeText, 6},
    {C::FileMaskEdit, &SettingsValues::fileMaskText, 0},
    {C::MaxFilesEdit, &SettingsValues::maxFilesText, 6},
    {C::MinFilesEdit, &SettingsValues::minFilesText, 6},
    {C::TreeDeepEdit, &SettingsValues::treeDeepText, 3},
    {C::RootSizeEdit, &SettingsValues::rootSizeText, 5},
    {C::LimitSizeEdit, &SettingsValues::limitSizeText, 6},
    {C::AllSizeEdit, &SettingsValues::allSizeText, 6},
    {C::DirsLimitEdit, &SettingsValues::dirsLimitText, 5},
};

const UnitBinding kUnits[] = {
    {C::MaxSizeUnit, &SettingsValues::maxSizeUnit},
    {C::MinSizeUnit, &SettingsValues::minSizeUnit},
    {C::AllSizeUnit, &SettingsValues::allSizeUnit},
    {C::LimitSizeUnit, &SettingsValues::limitSizeUnit},
};

const FocusCheck kFocusChecks[] = {
    {C::MinSizeEdit, checkMinSize},     {C::MaxSizeEdit, checkMaxSize},   {C::AllSizeEdit, checkAllSize},
    {C::LimitSizeEdit, checkLimitSize}, {C::MinFilesEdit, checkMinFiles}, {C::MaxFilesEdit, checkMaxFiles},
    {C::TreeDeepEdit, checkTreeDeep},   {C::RootSizeEdit, checkRootSize}, {C::DirsLimitEdit, checkDirsLimit},
};

constexpr OptionToggle kToggles[] = {
    {C::MaxFilesBox, false},        {C::MaxSizeBox, false},      {C::SplashBox, false},
    {C::FillRandomBox, true},       {C::CloseProgressBox, true}, {C::FileMaskBox, true},
    {C::DirMaskBox, true},          {C::LimitSizeBox, false},    {C::AllPartitionBox, true},
    {C::FillSubfoldersBox, false},  {C::MakeUpTreeBox, false},   {C::ByAllSizeRadio, false},
    {C::ByFilesNumberRadio, false},
};

}  // namespace

std::span<const ControlRow> mainControlRows() { return kControls; }

const ControlRow& mainControlRow(MainControl id) {
  for (const ControlRow& row : kControls) {
    if (row.id == id) return row;
  }
  throw std::out_of_range("no main dialog control " + std::to_string(int(id)));
}

bool takesFocus(ControlKind kind) { return kind != ControlKind::Label && kind != ControlKind::GroupBox; }

std::span<const SystemMenuItem> mainSystemMenu() { return kSystemMenu; }
std::span<const TextBinding> mainTextBindings() { return kTexts; }
std::span<const UnitBinding> mainUnitBindings() { return kUnits; }
std::span<const FocusCheck> mainFocusChecks() { return kFocusChecks; }
std::span<const OptionToggle> mainOptionToggles() { return kToggles; }

int shownMaxLength(const TextBinding& binding, std::size_t textLength) {
  if (binding.maxLength == 0) return 32767;
  return static_cast<int>(std::max<std::size_t>(static_cast<std::size_t>(binding.maxLength), textLength));
}

int shownUnitIndex(int unit) { return std::clamp(unit, 0, 3); }

void takeTexts(const MainDialogTexts& controls, SettingsValues& fields) {
  for (const TextBinding& binding : kTexts) fields.*binding.member = controls.text(binding.id);
  for (const UnitBinding& binding : kUnits) fields.*binding.member = controls.unitIndex(binding.id);
}

void showTexts(const SettingsValues& fields, MainDialogTexts& controls) {
  for (const TextBinding& binding : kTexts) {
    const std::string& text = fields.*binding.member;
    controls.setText(binding.id, text, shownMaxLength(binding, text.size()));
  }
  for (const UnitBinding& binding : kUnits)
    controls.setUnitIndex(binding.id, shownUnitIndex(fields.*binding.member));
}

bool fillsSubfolders(const SettingsValues& fields) { return !fields.byAllSize && fields.fillSubfolders; }

bool makesUpTree(const SettingsValues& fields) { return fillsSubfolders(fields) && fields.makeUpTree; }

bool toggleOption(MainControl id, SettingsValues& f, bool& showSplash) {
  switch (id) {
    case C::MaxFilesBox: f.useMaxFiles = !f.useMaxFiles; return true;
    case C::MaxSizeBox: f.useMaxSize = !f.useMaxSize; return true;
    case C::SplashBox: showSplash = !showSplash; return true;
    case C::FillRandomBox: f.fillRandom = !f.fillRandom; return true;
    case C::CloseProgressBox: f.closeProgressAuto = !f.closeProgressAuto; return true;
    case C::FileMaskBox: f.useFileMask = !f.useFileMask; return true;
    case C::DirMaskBox: f.useDirMask = !f.useDirMask; return true;
    case C::LimitSizeBox: f.useLimitSize = !f.useLimitSize; return true;
    case C::AllPartitionBox: f.allPartition = !f.allPartition; return true;
    case C::FillSubfoldersBox:
      f.fillSubfolders = !f.fillSubfolders;
      // Leaving the recursion also drops the tree; marking it again does not bring the tree back.
      if (!f.fillSubfolders) f.makeUpTree = false;
      return true;
    case C::MakeUpTreeBox: f.makeUpTree = !f.makeUpTree; return true;
    case C::ByAllSizeRadio: f.byAllSize = true; return true;
    case C::ByFilesNumberRadio: f.byAllSize = false; return true;
    default: return false;
  }
}

bool MainDialogAppearance::isChecked(MainControl id) const {
  for (const Check& c : checks) {
    if (c.id == id) return c.checked;
  }
  return false;
}

bool MainDialogAppearance::isEnabled(MainControl id) const {
  for (const Enable& e : enables) {
    if (e.id == id) return e.enabled;
  }
  return true;
}

const char* MainDialogAppearance::label(MainControl id) const {
  for (const Label& l : labels) {
    if (l.id == id) return l.text;
  }
  return nullptr;
}

MainDialogAppearance mainDialogAppearance(const SettingsValues& f, bool showSplash) {
  MainDialogAppearance a;
  const bool byAllSize = f.byAllSize;
  const bool byFilesNumber = !f.byAllSize;
  const bool tree = makesUpTree(f);
  // Every box shows its option, except that the recursion and the tree show unmarked while the run
  // is by all size (their options are kept for the other mode).
  a.checks = {
      {C::ByAllSizeRadio, byAllSize},
      {C::ByFilesNumberRadio, byFilesNumber},
      {C::SplashBox, showSplash},
      {C::FillRandomBox, f.fillRandom},
      {C::CloseProgressBox, f.closeProgressAuto},
      {C::FileMaskBox, f.useFileMask},
      {C::MaxSizeBox, f.useMaxSize},
      {C::AllPartitionBox, f.allPartition},
      {C::LimitSizeBox, f.useLimitSize},
      {C::MaxFilesBox, f.useMaxFiles},
      {C::FillSubfoldersBox, fillsSubfolders(f)},
      {C::MakeUpTreeBox, tree},
      {C::DirMaskBox, f.useDirMask},
  };

  // An edit with a box of its own takes part only while the box is marked; a group only while the
  // run is of its kind. The total size is not typed when the whole volume is filled.
  const bool typedTotal = byAllSize && !f.allPartition;
  a.enables = {
      {C::FileMaskEdit, f.useFileMask}, {C::MaxSizeEdit, f.useMaxSize},  {C::MaxSizeUnit, f.useMaxSize},
      {C::AllSizeGroup, byAllSize},     {C::AllSizeLabel, typedTotal},   {C::AllSizeEdit, typedTotal},
      {C::AllSizeUnit, typedTotal},     {C::AllPartitionBox, byAllSize},
  };
  for (MainControl id :
       {C::FilesNumberGroup, C::LimitSizeBox, C::MinFilesLabel, C::MinFilesEdit, C::MaxFilesBox}) {
    a.enables.push_back({id, byFilesNumber});
  }
  a.enables.push_back({C::LimitSizeEdit, byFilesNumber && f.useLimitSize});
  a.enables.push_back({C::LimitSizeUnit, byFilesNumber && f.useLimitSize});
  a.enables.push_back({C::MaxFilesEdit, byFilesNumber && f.useMaxFiles});
  a.enables.push_back({C::FillSubfoldersBox, byFilesNumber});
  a.enables.push_back({C::MakeUpTreeBox, fillsSubfolders(f)});
  for (MainControl id : {C::TreeGroup, C::DirMaskBox, C::TreeDeepLabel, C::TreeDeepEdit, C::RootSizeLabel,
                         C::RootSizeEdit, C::DirsLimitLabel, C::DirsLimitEdit}) {
    a.enables.push_back({id, tree});
  }
  a.enables.push_back({C::DirMaskEdit, tree && f.useDirMask});

  // Without a maximum the one size (or count) is the size (count) of every file.
  a.labels = {
      {C::MinSizeLabel, f.useMaxSize ? "Min size:" : "Files size:"},
      {C::MinFilesLabel, f.useMaxFiles ? "Min files:" : "Files number:"},
  };
  return a;
}

}  // namespace quillet
