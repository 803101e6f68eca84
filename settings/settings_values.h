// The options of the main dialog as kept in the per-user registry: key paths, the value table
// (names, types, defaults and load rules) and the load and save that walk it. Not thread-safe:
// main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "settings/registry_access.h"
#include "settings/registry_error_report.h"

namespace quillet {

inline const std::string productKeyPath = std::string("Software\\Talvane Software") + "\\Talvane Quillet";
inline const std::string settingsKeyPath = productKeyPath + "\\Settings";

// The main dialog's options. A default-made one holds the defaults of a first start. Texts are kept
// as typed (numbers included); units are SizeUnit powers 0..3.
struct SettingsValues {
  SettingsValues();

  std::string rootFolderText;
  std::string minSizeText;
  std::string maxSizeText;
  std::string allSizeText;
  std::string fileMaskText;
  std::string dirMaskText;
  std::string minFilesText;
  std::string maxFilesText;
  std::string limitSizeText;
  bool fillRandom = false;
  bool closeProgressAuto = false;
  bool fillSubfolders = false;
  bool makeUpTree = false;
  bool useMaxFiles = false;
  bool useMaxSize = false;
  bool byAllSize = false;
  bool useLimitSize = false;
  bool useFileMask = false;
  bool useDirMask = false;
  bool allPartition = false;
  int minSizeUnit = 0;
  int maxSizeUnit = 0;
  int limitSizeUnit = 0;
  int allSizeUnit = 0;
  std::string treeDeepText;
  std::string rootSizeText;
  std::string dirsLimitText;
};

// Reads every option from settingsKeyPath into values, in one pass over the store. A value that
// cannot be read for any reason (missing key or value, another type, a text longer than 260
// characters) gets its default, which is written back with the others at the end of the pass;
// when that write fails the defaults are kept in memory only. Texts are normalised as their rule
// says. Never throws CErrException.
void loadSettings(RegistryAccess& access, SettingsValues& values);

// Writes every option and "Show splash" to settingsKeyPath in one pass, so that a file-backed store
// is replaced once. Each write fails on its own: a failure is shown through the presenter and the
// remaining values are still written. When the pass's final write fails, each value it held is
// shown as a failed write. Nothing is normalised.
void saveSettings(RegistryAccess& access, const SettingsValues& values, bool showSplash,
                  ErrorPresenter& presenter);

// Reads "Show splash" (any non-zero number is on); when it cannot be read, writes 1 back (best
// effort) and returns true. Never throws CErrException.
bool loadShowSplash(RegistryAccess& access);

// Rule N(max) for numbers kept as text: strtol in base 10; negative or empty gives "0", above max
// gives max, anything else keeps the text as stored, characters after the digits included.
std::string clampNumberText(const std::string& text, std::uint32_t max);

}  // namespace quillet
