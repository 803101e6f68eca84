// Command lines built for CreateProcess split back into the same arguments, as the system's own
// splitter reads them.
#include "platform/win32_command_line.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

namespace quillet {
namespace {

std::vector<std::string> splitBySystem(const std::string& line) {
  const std::wstring wide(line.begin(), line.end());  // the cases are ASCII
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(wide.c_str(), &count);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    const std::wstring arg = argv[i];
    out.emplace_back(arg.begin(), arg.end());
  }
  ::LocalFree(argv);
  return out;
}

TEST(Win32CommandLineTest, ArgumentsSurviveTheRoundTrip) {
  const std::vector<std::string> args = {"C:\\Program Files\\quillet.exe",
                                         "/s",
                                         "/root:'C:\\dir with blanks\\'",
                                         "/filemask:'????????.???'",
                                         "",
                                         "say \"hi\"",
                                         "trailing\\\\",
                                         "C:\\ends in blank\\",
                                         "\\\\server\\share\\\"quoted\""};
  EXPECT_EQ(splitBySystem(win32CommandLine(args)), args);
  EXPECT_EQ(win32CommandLine({"/s", "/minsize:1m"}), "/s /minsize:1m") << "plain arguments stay as they are";
}

}  // namespace
}  // namespace quillet
