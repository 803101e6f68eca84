// The help area's tables and texts.
#include "frontend/help_layout.h"

#include <exception>

#include "frontend/help_strings.h"
#include "script/scripts_help_text.h"
#include "settings/registry_access.h"
#include "settings/settings_values.h"

namespace quillet {

namespace {

using K = HelpControlKind;

constexpr HelpControlRow kAboutRows[] = {
    {K::Frame, "", 7, 2, 153, 94},
    {K::Label, "productLine", 24, 12, 131, 8},
    {K::Label, "creditLine", 36, 26, 113, 8},
    {K::Separator, "separator", 24, 40, 120, 1},
    {K::OkButton, "okButton", 59, 78, 50, 13},
};

constexpr HelpControlRow kScriptsHelpRows[] = {
    {K::TextBox, "helpText", 7, 7, 269, 148},
    {K::OkButton, "okButton", 116, 163, 50, 13},
};

}  // namespace

HelpDialogLayout aboutLayout() { return {"aboutDialog", kAboutCaption, 167, 101, kAboutRows}; }

HelpDialogLayout scriptsHelpLayout() {
  return {"scriptsHelpDialog", kScriptsHelpCaption, 283, 183, kScriptsHelpRows};
}

std::string aboutProductLine(const std::string& version) {
  return std::string(kStringProductName) + " Build " + version;
}

std::string aboutCreditLine() { return kStringAboutCredit; }

std::string readProductVersion(RegistryAccess& access) {
  std::string version;
  try {
    access.readString(productKeyPath, "Product Version", version);
  } catch (const CErrException&) {
    version.clear();
  } catch (const std::exception&) {
    version.clear();  // a store that fails in any other way is no reason to lose the about box
  }
  access.closeKey();
  return version;
}

std::string scriptsHelpLines() {
  const std::string text = scriptsHelpText();
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return lines;
}

}  // namespace quillet
