// The application object: start-up and dispatch on the first argument, ending in the process exit
// status. One instance per process, made by the program's entry point. Main thread only.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quillet {

class GeneratorApp {
 public:
  // The front-ends the dispatch can start; each returns the exit status of what it ran. Each may be
  // empty while its mode is not built; the dispatch then says so on standard error instead of
  // crashing.
  struct Frontends {
    std::function<int(const std::vector<std::string>& args)> interactive;
    // mode is "/S", "/F", "/V", "/M", "/PROBE" or "/H"; args is the whole argument vector.
    std::function<int(const std::string& mode, const std::vector<std::string>& args)> script;
    std::function<int(const std::vector<std::string>& args)> scriptsHelp;
  };

  GeneratorApp(std::vector<std::string> args, Frontends frontends);
  GeneratorApp(const GeneratorApp&) = delete;
  GeneratorApp& operator=(const GeneratorApp&) = delete;

  // Runs the whole life of the program (start-up and dispatch); returns the exit status: the
  // front-end's (for a script the result of its run, 8 when its root folder cannot be created, 2
  // when a stop signal ended it), 2 when a stop signal ended the logging of an invalid parameter,
  // otherwise 0.
  int run();

  const std::vector<std::string>& args() const { return args_; }

 private:
  int logInvalidParameter(const std::string& parameter);

  std::vector<std::string> args_;
  Frontends frontends_;
};

}  // namespace quillet
