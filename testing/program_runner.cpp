#include "testing/program_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "testing/volume_fixture.h"

extern char** environ;

namespace quillet::test_support {

ProgramResult runProgram(const std::vector<std::string>& args, const ProgramOptions& options) {
  ScratchFolder capture;
  const std::string outPath = capture / "out";
  const std::string errPath = capture / "err";

  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool dropped = false;
    for (const auto& unset : options.unsetEnvironment) dropped |= unset == name;
    for (const auto& set : options.environment) dropped |= set.substr(0, set.find('=')) == name;
    if (!dropped) env.push_back(entry);
  }
  for (const auto& set : options.environment) env.push_back(set);

  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int nul = ::open("/dev/null", O_RDONLY);
    ::dup2(nul, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0) ::_exit(126);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(options.program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    ::execve(options.program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ProgramResult result;
  if (pid < 0) return result;
  if (options.whileRunning) options.whileRunning(pid);
  int status = 0;
  if (options.timeoutSeconds > 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
    for (;;) {
      const pid_t done = ::waitpid(pid, &status, WNOHANG);
      if (done == pid || (done < 0 && errno != EINTR)) break;
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  } else {
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.out = readFile(outPath);
  result.err = readFile(errPath);
  return result;
}

ProgramOptions privateCopyOfProgram(const std::string& folder, bool withWindowedProgram) {
  namespace fs = std::filesystem;
  ProgramOptions options;
  std::error_code error;
  const auto copy = [&](const std::string& from) {
    fs::copy_file(from, fs::path(folder) / fs::path(from).filename(), fs::copy_options::overwrite_existing,
                  error);
    return !error;
  };
  if (!copy(builtProgram())) return options;
  // The console program hands runs that may show windows to the windowed program beside it.
  if (withWindowedProgram && !copy(builtProgram() + "-windows")) return options;
  options.program = (fs::path(folder) / fs::path(builtProgram()).filename()).string();
  return options;
}

}  // namespace quillet::test_support
