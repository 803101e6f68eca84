// The main dialog as data and pure rules: its frame (size, title, font), every control in tab order
// with its kind, text, place and size in dialog units and style, the system menu, the texts and
// units exchanged with the settings, the edits whose focus loss runs a check, the option each box
// or radio button toggles, and the enabling rules that decide which controls take part in the
// chosen kind of run. Both front-ends build and drive their dialog from here. Constants and pure
// functions; thread-safe.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "frontend/drawing_rules.h"
#include "frontend/help_strings.h"
#include "settings/settings_values.h"

namespace quillet {

// The controls code refers to. The number is the control's id (the Qt dialog's objectName, "1009"
// for Generate).
enum class MainControl {
  RootFolderEdit = 1000,
  BrowseButton = 1001,
  FileMaskEdit = 1002,
  DirMaskEdit = 1003,
  MinSizeEdit = 1006,
  MaxSizeEdit = 1007,
  AllSizeEdit = 1008,
  GenerateButton = 1009,
  MinFilesEdit = 1010,
  MaxFilesEdit = 1011,
  LimitSizeEdit = 1012,
  FillRandomBox = 1030,
  MaxSizeBox = 1031,
  MaxSizeUnit = 1032,
  MinSizeUnit = 1033,
  MaxFilesBox = 1034,
  FillSubfoldersBox = 1035,
  SplashBox = 1036,
  AllSizeUnit = 1039,
  MinFilesLabel = 1040,  // "Min files:" or "Files number:"
  LimitSizeBox = 1041,
  LimitSizeUnit = 1042,
  TreeDeepEdit = 1047,
  RootSizeEdit = 1048,
  MinSizeLabel = 1050,  // "Min size:" or "Files size:"
  DirMaskBox = 1054,
  FileMaskBox = 1055,
  AllSizeLabel = 1057,
  AllSizeGroup = 1058,
  FilesNumberGroup = 1059,
  TreeGroup = 1060,
  ByAllSizeRadio = 1061,
  ByFilesNumberRadio = 1062,
  TreeDeepLabel = 1063,
  RootSizeLabel = 1064,
  MakeUpTreeBox = 1065,
  DirsLimitEdit = 1067,
  DirsLimitLabel = 1068,
  CloseProgressBox = 1071,
  AllPartitionBox = 1076,
  ScriptsHelpButton = 1078,
};

// The id of a control code never refers to (plain labels and group boxes), as dialog templates
// give it.
inline constexpr int kStaticControlId = -1;

enum class ControlKind {
  Label,       // static text
  Edit,        // one-line edit taking any character, in the flat frame
  NumberEdit,  // the same, refusing typed characters other than digits
  UnitList,    // drop-down list of the size units, in the flat frame
  CheckBox,    // owner-drawn check box
  Radio,       // owner-drawn radio button
  BoldButton,  // owner-drawn push button with a bold caption
  FlatButton,  // owner-drawn flat push button
  GroupBox,
};

// Style flags of a control row.
enum ControlStyle : unsigned {
  kStyleNone = 0,
  kStyleTabStop = 1u << 0,     // reached with Tab
  kStyleGroupStart = 1u << 1,  // starts a group of the arrow keys (the radio buttons, the boxes after)
  kStyleDigitsOnly = 1u << 2,  // refuses typed characters other than digits
};

struct ControlRow {
  std::optional<MainControl> id;  // none: a plain label or group box code never refers to
  ControlKind kind;
  const char* text;
  int x, y, width, height;  // dialog units
  unsigned style;           // ControlStyle flags
};

// The dialog's frame: client size in dialog units, title, and the font its units are measured in.
struct DialogFrame {
  const char* title;
  int width, height;  // dialog units
  int fontPoints;
  const char* fontFace;  // the template's face; the Qt dialog takes the platform's default sans face
};

inline constexpr const char* kMainTitle = kStringProductName;
inline constexpr DialogFrame kMainDialogFrame{kMainTitle, 257, 186, kDialogFontPoints, kDialogFontFace};

// The window's controls in tab order (the rows with kStyleTabStop, in this order).
std::span<const ControlRow> mainControlRows();
// The row of a control code refers to; every MainControl has exactly one.
const ControlRow& mainControlRow(MainControl id);
// Whether a control of this kind takes the focus with Tab.
bool takesFocus(ControlKind kind);

// The main dialog's texts.
inline constexpr const char* kExitQuestion = "Do you want to exit?";
inline constexpr const char* kEmptyRoot = "Root directory can't be empty.";
inline constexpr const char* kEmptyRootCaption = "Warning";
inline constexpr const char* kBrowseTitle = "Select folder to start from";

// The system menu's commands; a new item adds a command here and a row to mainSystemMenu().
enum class SystemCommand { Minimize, Close, VerifyFolder, SpeedChart, About };
inline constexpr const char* kVerifyFolderItem = "&Verify folder...";
inline constexpr const char* kVerifyBrowseTitle = "Select folder to verify";
struct SystemMenuItem {
  std::optional<SystemCommand> command;  // none: a separator
  const char* text;                      // "\t" separates the shortcut shown on the right
};
std::span<const SystemMenuItem> mainSystemMenu();

// The texts of the data exchange with their length limits (0: none).
struct TextBinding {
  MainControl id;
  std::string SettingsValues::*member;
  int maxLength;
};
std::span<const TextBinding> mainTextBindings();

// The size unit lists and the unit each shows (an index into SizeUnit::kTexts).
struct UnitBinding {
  MainControl id;
  int SettingsValues::*member;
};
std::span<const UnitBinding> mainUnitBindings();

// The length limit an edit gets when it shows text: a longer text kept in the settings is shown
// whole rather than cut at the limit; typing still stops there. No limit gives 32767.
int shownMaxLength(const TextBinding& binding, std::size_t textLength);
// The unit index a list shows for a stored unit (kept within the four units).
int shownUnitIndex(int unit);

// What a front-end's controls offer the data exchange.
class MainDialogTexts {
 public:
  virtual ~MainDialogTexts() = default;
  virtual std::string text(MainControl id) const = 0;
  // Sets the text (only when it differs from what the edit shows) and the typing limit.
  virtual void setText(MainControl id, const std::string& text, int maxLength) = 0;
  virtual int unitIndex(MainControl id) const = 0;
  virtual void setUnitIndex(MainControl id, int index) = 0;
};

// The data exchange: take copies the controls into the fields, show the fields into the controls.
void takeTexts(const MainDialogTexts& controls, SettingsValues& fields);
void showTexts(const SettingsValues& fields, MainDialogTexts& controls);

// The edits whose focus loss runs a check, and the check.
struct FocusCheck {
  MainControl id;
  void (*check)(SettingsValues&);
};
std::span<const FocusCheck> mainFocusChecks();

// What kind of run the options describe; they decide which controls take part. Sub-folders are
// filled only by files number ("Fill sub-directories recursive" keeps its mark in the other mode
// without taking effect), and a tree is made up only where sub-folders are filled.
bool fillsSubfolders(const SettingsValues& fields);
bool makesUpTree(const SettingsValues& fields);

// A click on a box or radio button that changes an option. Some clicks take the texts from the
// controls before the change (takesTextsFirst), as their handlers always have.
struct OptionToggle {
  MainControl id;
  bool takesTextsFirst;
};
std::span<const OptionToggle> mainOptionToggles();
// Changes the option of a box or radio button as its click does; showSplash is the application's
// flag the splash box toggles. Returns false for a control that toggles no option.
bool toggleOption(MainControl id, SettingsValues& fields, bool& showSplash);

// Which controls are checked and enabled, and the switching labels' texts, for the dialog's state.
struct MainDialogAppearance {
  struct Check {
    MainControl id;
    bool checked;
  };
  struct Enable {
    MainControl id;
    bool enabled;
  };
  struct Label {
    MainControl id;
    const char* text;
  };
  std::vector<Check> checks;    // every box and radio button
  std::vector<Enable> enables;  // every control whose state depends on the options
  std::vector<Label> labels;    // the two labels that switch their text

  // Lookups for callers and tests; a control not listed is left as it is (checked false, enabled
  // true, label null).
  bool isChecked(MainControl id) const;
  bool isEnabled(MainControl id) const;
  const char* label(MainControl id) const;
};

// The enabling rules: called at start-up and after every click that changes an option.
MainDialogAppearance mainDialogAppearance(const SettingsValues& fields, bool showSplash);

}  // namespace quillet
