// Runs the built program on Windows with CreateProcessA: a command line the C runtime splits back
// into the same arguments, standard output and error captured in files. Not thread-safe.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <cctype>

#include "platform/ascii.h"
#include "platform/win32_command_line.h"
#include "testing/program_runner.h"
#include "testing/volume_fixture.h"

namespace quillet::test_support {

namespace {

std::string upperName(const std::string& entry) { return asciiUpper(entry.substr(0, entry.find('='))); }

// Our environment with the options' changes, as the NUL-separated block CreateProcessA takes.
std::string environmentBlock(const ProgramOptions& options) {
  std::string block;
  char* strings = ::GetEnvironmentStringsA();
  for (const char* e = strings; e != nullptr && *e != 0; e += std::char_traits<char>::length(e) + 1) {
    const std::string entry = e;
    // Entries such as "=C:=C:\..." carry the per-drive current folders; they are kept as they are.
    const std::string name = entry.front() == '=' ? std::string() : upperName(entry);
    bool dropped = false;
    for (const auto& unset : options.unsetEnvironment) dropped |= !name.empty() && upperName(unset) == name;
    for (const auto& set : options.environment) dropped |= !name.empty() && upperName(set) == name;
    if (!dropped) block.append(entry).push_back('\0');
  }
  if (strings != nullptr) ::FreeEnvironmentStringsA(strings);
  for (const auto& set : options.environment) block.append(set).push_back('\0');
  block.push_back('\0');
  return block;
}

HANDLE inheritableFile(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ProgramResult runProgram(const std::vector<std::string>& args, const ProgramOptions& options) {
  ScratchFolder capture;
  const std::string outPath = capture / "out";
  const std::string errPath = capture / "err";
  ProgramResult result;
  {
    const HANDLE out = inheritableFile(outPath, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE err = inheritableFile(errPath, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE nul = inheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);

    std::vector<std::string> argv{options.program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string commandLine = win32CommandLine(argv);
    std::string environment = environmentBlock(options);

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const BOOL started = ::CreateProcessA(
        options.program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, environment.data(),
        options.workingFolder.empty() ? nullptr : options.workingFolder.c_str(), &startup, &process);
    for (const HANDLE h : {out, err, nul}) {
      if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    if (!started) return result;
    if (options.whileRunning) options.whileRunning(static_cast<int>(process.dwProcessId));
    const DWORD wait =
        options.timeoutSeconds > 0 ? static_cast<DWORD>(options.timeoutSeconds) * 1000 : INFINITE;
    if (::WaitForSingleObject(process.hProcess, wait) == WAIT_TIMEOUT) {
      ::TerminateProcess(process.hProcess, 137);
      ::WaitForSingleObject(process.hProcess, INFINITE);
    }
    DWORD code = 0;
    if (::GetExitCodeProcess(process.hProcess, &code)) result.exitCode = static_cast<int>(code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
  }
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

}  // namespace quillet::test_support
