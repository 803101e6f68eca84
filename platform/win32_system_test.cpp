// Process services on Win32: the log file's share mode, the program's own path, the per-user
// folders and folder creation.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdlib>

#include "platform/system.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

TEST(Win32SystemTest, AnAppendFileKeepsOutEvenReadersThatShareEverything) {
  test_support::ScratchFolder dir;
  const std::string path = dir / "scripts.log";
  {
    auto first = openExclusiveAppend(path);
    ASSERT_TRUE(first.ok()) << first.status().message();
    // Share mode 0 keeps out any opener, even one that only wants to read and shares everything.
    const HANDLE reader = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (reader != INVALID_HANDLE_VALUE) ::CloseHandle(reader);
    first.value()->close();
  }
}

// Needs a small volume that may be filled: the Windows CI maps a tmpfs of a few MiB as a drive.
TEST(Win32SystemTest, AnAppendTheDriveCannotTakeLeavesNoPartBehind) {
  const char* drive = std::getenv("QUILLET_TEST_SMALL_DRIVE");
  if (drive == nullptr || *drive == 0)
    GTEST_SKIP() << "QUILLET_TEST_SMALL_DRIVE names no small drive to fill";
  const std::string folder = std::string(drive) + "\\log-full-" + std::to_string(::GetCurrentProcessId());
  ASSERT_TRUE(createFolderTree(folder).ok());
  auto opened = openExclusiveAppend(folder + "\\scripts.log");
  ASSERT_TRUE(opened.ok()) << opened.status().message();
  ExclusiveAppendFile& log = *opened.value();
  EXPECT_EQ(log.lastByte(), -1);
  ASSERT_TRUE(log.append("first\r\n").ok());
  EXPECT_EQ(log.lastByte(), '\n');
  EXPECT_EQ(log.reserve(4096).kind(), ErrorKind::Unsupported);

  const HANDLE filler = ::CreateFileA((folder + "\\filler").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(filler, INVALID_HANDLE_VALUE);
  const std::string block(1 << 20, 'x');
  DWORD n = 1;
  for (int i = 0; i < 512 && n > 0; ++i) {
    if (!::WriteFile(filler, block.data(), static_cast<DWORD>(block.size()), &n, nullptr)) n = 0;
  }
  ::CloseHandle(filler);

  EXPECT_FALSE(log.append(std::string(512 << 10, 'b')).ok());
  EXPECT_EQ(log.lastByte(), '\n') << "no part of the refused append stays";
  log.close();
  EXPECT_EQ(test_support::readFile(folder + "\\scripts.log"), "first\r\n");
  test_support::removeTree(folder);
}

TEST(Win32SystemTest, TheProgramIsAnExeAndUserFoldersFollowTheProfileVariables) {
  const std::string program = runningProgramPath();
  ASSERT_GT(program.size(), 4u);
  EXPECT_EQ(program.substr(program.size() - 4), ".exe");

  _putenv_s("LOCALAPPDATA", "C:\\Users\\tester\\AppData\\Local");
  _putenv_s("APPDATA", "C:\\Users\\tester\\AppData\\Roaming");
  EXPECT_EQ(userStateFolder(), "C:\\Users\\tester\\AppData\\Local\\Talvane Quillet");
  EXPECT_EQ(userConfigFolder(), "C:\\Users\\tester\\AppData\\Roaming\\Talvane Quillet");
  _putenv_s("LOCALAPPDATA", "");
  _putenv_s("USERPROFILE", "C:\\Users\\other");
  EXPECT_EQ(userStateFolder(), "C:\\Users\\other\\AppData\\Local\\Talvane Quillet");
}

}  // namespace
}  // namespace quillet
