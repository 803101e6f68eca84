// The program's string table: the texts the help, about and splash windows and the main dialog's
// system menu show, under their table numbers. Constants only; safe from any thread.
#pragma once

namespace quillet {

inline constexpr const char* kStringProductName = "Talvane Quillet";                           // 128
inline constexpr const char* kStringSplashPreparing = "Quillet is preparing for spamming...";  // 130
inline constexpr const char* kStringSplashPleaseWait = "        Please wait...";               // 131
inline constexpr const char* kStringSplashAlmostReady = "Sharpening the random bytes...";      // 133
inline constexpr const char* kStringAboutMenuItem = "&About Talvane Quillet...";               // 134
inline constexpr const char* kStringAboutCredit = "Made by Talvane Software";                  // 135

// The text of string-table entry id, or null for a number the table does not hold.
constexpr const char* loadString(int id) {
  switch (id) {
    case 128: return kStringProductName;
    case 130: return kStringSplashPreparing;
    case 131: return kStringSplashPleaseWait;
    case 133: return kStringSplashAlmostReady;
    case 134: return kStringAboutMenuItem;
    case 135: return kStringAboutCredit;
    default: return nullptr;
  }
}

}  // namespace quillet
