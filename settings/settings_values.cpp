// The value table of the settings key, walked in one order by load and in another by save.
#include "settings/settings_values.h"

#include <array>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace quillet {
namespace {

enum class Rule {
  Text,    // REG_SZ, loaded unchanged
  Number,  // REG_SZ holding a number, clamped to 0..max (clampNumberText)
  Flag,    // REG_DWORD, any non-zero number is 1
  Unit,    // REG_DWORD size unit, anything above 3 is 3
};

struct Row {
  const char* name;
  Rule rule;
  std::size_t savePosition;     // place in the save sequence
  const char* defaultText;      // Text and Number rows
  std::uint32_t defaultNumber;  // Flag and Unit rows
  std::uint32_t max;            // Number rows
  // The member the row fills; all null for "Show splash", which belongs to the application object.
  std::string SettingsValues::*text;
  bool SettingsValues::*flag;
  int SettingsValues::*unit;

  bool isString() const { return rule == Rule::Text || rule == Rule::Number; }
};

constexpr Row text(const char* name, std::size_t save, const char* def, std::string SettingsValues::*member) {
  return {name, Rule::Text, save, def, 0, 0, member, nullptr, nullptr};
}
constexpr Row number(const char* name, std::size_t save, const char* def, std::uint32_t max,
                     std::string SettingsValues::*member) {
  return {name, Rule::Number, save, def, 0, max, member, nullptr, nullptr};
}
constexpr Row flag(const char* name, std::size_t save, std::uint32_t def, bool SettingsValues::*member) {
  return {name, Rule::Flag, save, "", def, 0, nullptr, member, nullptr};
}
constexpr Row unit(const char* name, std::size_t save, std::uint32_t def, int SettingsValues::*member) {
  return {name, Rule::Unit, save, "", def, 0, nullptr, nullptr, member};
}

using V = SettingsValues;

// In load order. The second column is the save position: texts first, then the numbers (with
// "Show splash" leading them), then the three tree texts.
constexpr std::array kTable = {
    text("Root folder", 0, "C:\\Test\\", &V::rootFolderText),
    number("Minimum file size", 1, "1", 999999, &V::minSizeText),
    number("Maximum file size", 2, "2", 999999, &V::maxSizeText),
    number("All size", 3, "100", 999999, &V::allSizeText),
    text("File mask", 5, "????????.???", &V::fileMaskText),
    text("Directory mask", 6, "????????", &V::dirMaskText),
    number("Minimum files number to create", 7, "100", 999999, &V::minFilesText),
    number("Maximum files number to create", 8, "200", 999999, &V::maxFilesText),
    number("Limit size", 4, "150", 999999, &V::limitSizeText),
    flag("Fill files by random data", 10, 1, &V::fillRandom),
    flag("Close progress dialog automatically", 11, 0, &V::closeProgressAuto),
    flag("Fill include subfolders", 12, 0, &V::fillSubfolders),
    flag("Make up subdirectories tree", 13, 0, &V::makeUpTree),
    flag("Use maximum files number checkbox", 17, 0, &V::useMaxFiles),
    flag("Use maximum files size checkbox", 16, 0, &V::useMaxSize),
    flag("Use all size checkbox", 14, 1, &V::byAllSize),
    flag("Use limit size checkbox", 15, 0, &V::useLimitSize),
    flag("Use file mask checkbox", 18, 0, &V::useFileMask),
    flag("Use directory mask checkbox", 19, 0, &V::useDirMask),
    flag("Generate to all partition size", 20, 0, &V::allPartition),
    unit("Minimum file size power", 21, 2, &V::minSizeUnit),
    unit("Maximum file size power", 22, 2, &V::maxSizeUnit),
    unit("Limit size power", 23, 2, &V::limitSizeUnit),
    unit("All size power", 24, 2, &V::allSizeUnit),
    number("Tree deep", 25, "1", 255, &V::treeDeepText),
    number("Number of folders in root folder", 26, "2", 30000, &V::rootSizeText),
    number("Directories number limit", 27, "200", 30000, &V::dirsLimitText),
    flag("Show splash", 9, 1, nullptr),
};

constexpr std::size_t kShowSplashRow = kTable.size() - 1;
static_assert(std::string_view(kTable[kShowSplashRow].name) == "Show splash");

// Table indices in save order.
constexpr auto kSaveSequence = [] {
  std::array<std::size_t, kTable.size()> sequence{};
  for (std::size_t i = 0; i < kTable.size(); ++i) sequence[kTable[i].savePosition] = i;
  return sequence;
}();

constexpr bool savePositionsAreAPermutation() {
  std::array<bool, kTable.size()> taken{};
  for (const Row& row : kTable) {
    if (row.savePosition >= kTable.size() || taken[row.savePosition]) return false;
    taken[row.savePosition] = true;
  }
  return true;
}
static_assert(savePositionsAreAPermutation(), "every value is saved exactly once");

// The value as loaded, or its default (written back at once) when it cannot be read.
std::string loadText(RegistryAccess& access, const Row& row) {
  std::string stored;
  try {
    access.readString(settingsKeyPath, row.name, stored);
  } catch (const CErrException&) {
    try {
      access.writeString(settingsKeyPath, row.name, row.defaultText);
    } catch (const CErrException&) {
      // A store that refuses writes still gives the defaults for this run.
    }
    return row.defaultText;
  }
  return row.rule == Rule::Number ? clampNumberText(stored, row.max) : stored;
}

std::uint32_t loadNumber(RegistryAccess& access, const Row& row) {
  std::uint32_t stored = 0;
  try {
    access.readDword(settingsKeyPath, row.name, stored);
  } catch (const CErrException&) {
    try {
      access.writeDword(settingsKeyPath, row.name, row.defaultNumber);
    } catch (const CErrException&) {
      // As for texts: keep the default in memory.
    }
    return row.defaultNumber;
  }
  if (row.rule == Rule::Flag) return stored != 0 ? 1 : 0;
  return stored > 3 ? 3 : stored;
}

}  // namespace

SettingsValues::SettingsValues() {
  for (const Row& row : kTable) {
    if (row.text != nullptr) this->*row.text = row.defaultText;
    if (row.flag != nullptr) this->*row.flag = row.defaultNumber != 0;
    if (row.unit != nullptr) this->*row.unit = static_cast<int>(row.defaultNumber);
  }
}

std::string clampNumberText(const std::string& text, std::uint32_t max) {
  const long number = std::strtol(text.c_str(), nullptr, 10);
  if (text.empty() || number < 0) return "0";
  if (static_cast<unsigned long>(number) > max) return std::to_string(max);
  return text;
}

void loadSettings(RegistryAccess& access, SettingsValues& values) {
  // One read of the store, and one write when defaults had to be put back; a failure of that
  // write leaves the defaults in memory, as a failed single write would.
  RegistryPass pass(access);
  for (const Row& row : kTable) {
    if (row.text != nullptr) values.*row.text = loadText(access, row);
    if (row.flag != nullptr) values.*row.flag = loadNumber(access, row) != 0;
    if (row.unit != nullptr) values.*row.unit = static_cast<int>(loadNumber(access, row));
  }
  access.closeKey();
}

bool loadShowSplash(RegistryAccess& access) {
  RegistryPass pass(access);
  return loadNumber(access, kTable[kShowSplashRow]) != 0;
}

void saveSettings(RegistryAccess& access, const SettingsValues& values, bool showSplash,
                  ErrorPresenter& presenter) {
  // All values go to the store in one replace at the end of the pass; the values written until then
  // are the ones that replace loses when it fails.
  RegistryPass pass(access);
  std::vector<const char*> pending;
  for (const std::size_t index : kSaveSequence) {
    const Row& row = kTable[index];
    try {
      if (row.isString()) {
        access.writeString(settingsKeyPath, row.name, values.*row.text);
      } else if (row.flag != nullptr) {
        access.writeDword(settingsKeyPath, row.name, values.*row.flag ? 1 : 0);
      } else if (row.unit != nullptr) {
        // Written as held; a unit outside 0..3 comes back as 3 at the next load.
        access.writeDword(settingsKeyPath, row.name, static_cast<std::uint32_t>(values.*row.unit));
      } else {
        access.writeDword(settingsKeyPath, row.name, showSplash ? 1 : 0);
      }
      pending.push_back(row.name);
    } catch (const CErrException& error) {
      reportRegistryError(error, presenter);
    }
  }
  access.closeKey();
  try {
    pass.end();
  } catch (const CErrException& error) {
    // Each value not kept is reported as its own failed write would have been.
    for (const char* name : pending) {
      reportRegistryError(CErrException(errSetValue, name, error.systemError, error.detail), presenter);
    }
  }
}

}  // namespace quillet
