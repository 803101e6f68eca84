// Runs the built program as a user would: its own process, real arguments, captured output and
// exit status. Not thread-safe.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillet::test_support {

struct ProgramResult {
  int exitCode = -1;  // the exit status, or -1 when the process died from a signal
  int signal = 0;     // the signal that ended it, if any
  std::string out;    // standard output
  std::string err;    // standard error
};

struct ProgramOptions {
  std::string program = QUILLET_BINARY_PATH;  // path given as argument 0 and executed
  std::vector<std::string> environment;       // NAME=value entries added to (or replacing) ours
  std::vector<std::string> unsetEnvironment;  // names removed from the child's environment
  std::string workingFolder;                  // empty: ours
  // Called with the child's pid once it runs; it may signal the child. Runs on the caller's thread
  // while the child executes.
  std::function<void(int pid)> whileRunning;
  // When > 0, a child still running after this many seconds is killed (SIGKILL), so a run that
  // would never end fails its test instead of hanging it.
  int timeoutSeconds = 0;
};

ProgramResult runProgram(const std::vector<std::string>& args, const ProgramOptions& options = {});

// Path of the built program.
inline std::string builtProgram() { return QUILLET_BINARY_PATH; }

// Copies the built program into folder (with the windowed program beside it when asked), so that
// a run's scripts.log is the test's own, and returns options that run the copy. The program path is
// empty when the copy failed.
ProgramOptions privateCopyOfProgram(const std::string& folder, bool withWindowedProgram = false);

}  // namespace quillet::test_support
