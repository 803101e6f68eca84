// The small windows of the help area as data: the about box and the scripts help window, each with
// its caption, size and controls in dialog units, and their texts. OK closes either (Return too,
// whatever holds the focus; F1 does nothing). Constants and pure functions, except the read of the
// recorded version; the tables are thread-safe.
#pragma once

#include <span>
#include <string>

namespace quillet {

class RegistryAccess;

enum class HelpControlKind {
  Frame,  // an empty group box framing the texts
  Label,
  Separator,  // a sunken horizontal line: two pixels high whatever the unit's size
  TextBox,    // read-only, multi-line, scrolling vertically, wrapping at its width
  OkButton,   // owner-drawn; accepts the dialog
};

struct HelpControlRow {
  HelpControlKind kind;
  const char* name;         // the control's object name, which the tests find it by ("" for none)
  int x, y, width, height;  // dialog units
};

struct HelpDialogLayout {
  const char* objectName;
  const char* caption;
  int width, height;                         // dialog units
  std::span<const HelpControlRow> controls;  // in creation and tab order
};

inline constexpr const char* kOkText = "OK";
inline constexpr const char* kAboutCaption = "About Talvane Quillet";
inline constexpr const char* kScriptsHelpCaption = "Scripts help";

// The about box: frame, product line, credit line, separator, OK.
HelpDialogLayout aboutLayout();
// The scripts help window: the help text box, OK.
HelpDialogLayout scriptsHelpLayout();

// The about box's first line: product name, " Build " and the recorded version.
std::string aboutProductLine(const std::string& version);
// Its second line.
std::string aboutCreditLine();

// The recorded "Product Version", or "" when it cannot be read for any reason.
std::string readProductVersion(RegistryAccess& access);

// The scripts help text with one paragraph per line: the CR LF line ends made plain LF, for a text
// box that breaks lines at LF.
std::string scriptsHelpLines();

}  // namespace quillet
