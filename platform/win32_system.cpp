// Process-level services on Win32: GetLocalTime, GetModuleFileNameA, the per-user application data
// folders, the console control handler and a log file opened with share mode 0. Stateless apart
// from the process-wide clock and the latched stop signal.
#include <io.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

#include "platform/path.h"
#include "platform/system.h"
#include "platform/win32_command_line.h"
#include "platform/win32_errors.h"

namespace quillet {
namespace {

constexpr const char* kProductFolder = "Talvane Quillet";

class Win32Clock final : public Clock {
 public:
  LocalTime localTime() override {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
  }
  std::int64_t secondsSinceEpoch() override { return static_cast<std::int64_t>(std::time(nullptr)); }
  std::uint64_t seedTicks() override {
    const auto wall = std::chrono::system_clock::now().time_since_epoch();
    const auto counter = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count()) ^
           (static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(counter).count())
            << 17) ^
           (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 40);
  }
};

class Win32AppendFile final : public ExclusiveAppendFile {
 public:
  Win32AppendFile(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  ~Win32AppendFile() override { close(); }

  Status append(const std::string& bytes) override {
    if (handle_ == INVALID_HANDLE_VALUE) return win32Error(path_, ERROR_INVALID_HANDLE);
    // Share mode 0 keeps every other writer out, so the end found here is where these bytes begin.
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(handle_, LARGE_INTEGER{}, &start, FILE_END))
      return win32Error(path_, ::GetLastError());
    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD n = 0;
      DWORD err = ERROR_DISK_FULL;
      if (!::WriteFile(handle_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr)) {
        err = ::GetLastError();
      } else if (n > 0) {
        done += n;
        continue;
      }
      // Cut off the part that got in, so that the file never ends in half a record.
      if (done > 0 && ::SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN)) ::SetEndOfFile(handle_);
      return win32Error(path_, err);
    }
    return {};
  }

  // Room past the end of a file cannot be held on every Windows file system; the log then relies
  // on whole appends alone.
  Status reserve(std::int64_t) override { return win32Error(path_, ERROR_NOT_SUPPORTED); }

  int lastByte() override {
    LARGE_INTEGER size{};
    if (handle_ == INVALID_HANDLE_VALUE || !::GetFileSizeEx(handle_, &size) || size.QuadPart == 0) return -1;
    LARGE_INTEGER last{};
    last.QuadPart = size.QuadPart - 1;
    unsigned char byte = 0;
    DWORD n = 0;
    if (!::SetFilePointerEx(handle_, last, nullptr, FILE_BEGIN) ||
        !::ReadFile(handle_, &byte, 1, &n, nullptr) || n != 1) {
      return -1;
    }
    return byte;
  }

  Status flush() override {
    if (handle_ == INVALID_HANDLE_VALUE) return win32Error(path_, ERROR_INVALID_HANDLE);
    if (!::FlushFileBuffers(handle_)) return win32Error(path_, ::GetLastError());
    return {};
  }

  void close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    ::FlushFileBuffers(handle_);
    ::CloseHandle(handle_);  // ends the exclusive use
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
  std::string path_;
};

std::atomic<bool> stopArrived{false};

BOOL WINAPI onConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: stopArrived = true; return TRUE;
    default: return FALSE;
  }
}

std::string environmentFolder(const char* variable) {
  const char* value = std::getenv(variable);
  return value != nullptr ? std::string(value) : std::string();
}

// %variable%\Talvane Quillet, or the same folder below the user's profile when the variable is
// missing.
std::string applicationDataFolder(const char* variable, const char* belowProfile) {
  std::string base = environmentFolder(variable);
  if (base.empty()) {
    const std::string profile = environmentFolder("USERPROFILE");
    base = joinPath(profile.empty() ? std::string("C:\\") : profile, belowProfile);
  }
  return joinPath(base, kProductFolder);
}

}  // namespace

Clock& systemClock() {
  static Win32Clock clock;
  return clock;
}

void sleepMilliseconds(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string runningProgramPath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return "";
    // A full buffer means the name was cut.
    if (n < buffer.size()) return std::string(buffer.data(), n);
    if (buffer.size() >= 32768) return "";
    buffer.resize(buffer.size() * 2);
  }
}

std::string absolutePath(const std::string& path) {
  if (isAbsolutePath(path)) return path;
  const DWORD needed = ::GetCurrentDirectoryA(0, nullptr);
  if (needed == 0) return path;
  std::string folder(needed, '\0');
  const DWORD n = ::GetCurrentDirectoryA(needed, folder.data());
  if (n == 0 || n >= needed) return path;
  folder.resize(n);
  const bool drivePart = path.size() >= 2 && path[1] == ':';
  if (!drivePart && !(path.size() >= 1 && isSeparator(path[0]))) return joinPath(folder, path);
  // "C:x" means the working folder of drive C and "\x" the root of the working folder's drive;
  // only the system knows the former.
  std::vector<char> full(32768);
  const DWORD length =
      ::GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return path;
  return std::string(full.data(), length);
}

const char* systemName() { return "windows"; }

bool standardErrorIsTerminal() { return ::_isatty(2) != 0; }

void holdStopSignals() { ::SetConsoleCtrlHandler(onConsoleControl, TRUE); }

void releaseStopSignals() { ::SetConsoleCtrlHandler(onConsoleControl, FALSE); }

bool stopSignalArrived() { return stopArrived.load(); }

// Windows has no signal that resumes a stopped process.
void holdContinueSignal() {}

bool continueSignalArrived() { return false; }

std::string userStateFolder() { return applicationDataFolder("LOCALAPPDATA", "AppData\\Local"); }

std::string userConfigFolder() { return applicationDataFolder("APPDATA", "AppData\\Roaming"); }

Status createFolderTree(const std::string& path) {
  Status failure;
  forEachFolderPrefix(withTrailingSeparator(path), [&](std::string_view prefix) {
    const std::string folder(prefix);
    // Prefixes of a network path ("\\server") cannot be made, only passed.
    if (::GetFileAttributesA(folder.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    if (::CreateDirectoryA(folder.c_str(), nullptr)) return true;
    const DWORD err = ::GetLastError();
    if (err == ERROR_ALREADY_EXISTS) return true;
    failure = win32Error(folder, err);
    return false;
  });
  return failure;
}

Result<std::unique_ptr<ExclusiveAppendFile>> openExclusiveAppend(const std::string& path) {
  // Read and write access: the last byte tells whether the previous block was cut off mid-line, and
  // a write the volume takes only in part is cut off again. Every write goes to the end of the file.
  // Share mode 0: while this handle is open, every other open of the file fails with a sharing
  // violation.
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return win32Error(path, ::GetLastError());
  return std::unique_ptr<ExclusiveAppendFile>(new Win32AppendFile(handle, path));
}

Status replaceProcess(const std::string& program, const std::vector<std::string>& args) {
  // Windows cannot replace a process image: the program runs as a child with our standard handles,
  // and this process ends with the child's exit status, so that whoever waits sees the same outcome.
  std::string commandLine = win32CommandLine(args);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process)) {
    return win32Error(program, ::GetLastError());
  }
  ::CloseHandle(process.hThread);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hProcess);
  ::ExitProcess(code);
}

bool folderIsWritable(const std::string& folder) {
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return false;
  // Access control lists decide, and only an attempt tells: a file that vanishes when closed.
  const std::string probe =
      joinPath(folder, "quillet-write-probe-" + std::to_string(::GetCurrentProcessId()) + "-" +
                           std::to_string(::GetTickCount64()) + ".tmp");
  const HANDLE handle =
      ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(handle);
  return true;
}

bool desktopAlwaysPresent() { return true; }

}  // namespace quillet
