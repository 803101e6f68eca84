// The repairs the main dialog applies to its number texts when an edit loses the focus, and again
// at every Generate: step Z (empty or non-positive becomes "0"), the caps of the tree counts, and
// the pushes that keep the minimum and maximum size and files in order. Pure functions over the
// dialog's texts and units; thread-safe as long as each caller owns its values.
#pragma once

#include <string>

#include "settings/settings_values.h"

namespace quillet {

// Step Z: an empty text, or one whose number is not greater than 0, becomes "0". A positive
// number keeps its text unchanged, characters after the digits included.
void repairZero(std::string& text);

// Step Z on the Max size text, nothing more.
void checkMaxSize(SettingsValues& fields);
// Step Z on the Max files text, nothing more.
void checkMaxFiles(SettingsValues& fields);
// Step Z; then a Max files number below Min files becomes the minimum (formatted "%d"), whether or
// not "Max files:" is marked.
void checkMinFiles(SettingsValues& fields);
// Step Z; then when the minimum size (in bytes) exceeds the maximum, the maximum takes the
// minimum's text and unit. Compares even while "Max size:" is clear.
void checkMinSize(SettingsValues& fields);
// Step Z; then, by all size only, the size range is pulled below the all size: both ends take the
// all size's text and unit when the minimum exceeds it, else only the maximum when it does.
void checkAllSize(SettingsValues& fields);
// Step Z; then, by files number with "Limit size:" marked, the same pull below the limit size.
void checkLimitSize(SettingsValues& fields);
// Step Z; Deep above 255 becomes "255".
void checkTreeDeep(SettingsValues& fields);
// Step Z; Root size above 30000 becomes "30000".
void checkRootSize(SettingsValues& fields);
// Step Z; Dirs limit above 30000 becomes "30000". The text may hold any character ("12x" is 12).
void checkDirsLimit(SettingsValues& fields);

// The nine checks in the order a Generate press runs them: all size (unless to all partition),
// limit size (when marked), min files, max files, min size, max size, root size, deep, dirs limit.
void runGenerateChecks(SettingsValues& fields);

}  // namespace quillet
