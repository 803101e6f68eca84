// The application object: start-up, dispatch on the first argument, and the process exit status.
// One instance per process, made by main(). exitCode may be written by a worker thread.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace quillet {

class GeneratorApp {
 public:
  // The front-ends the dispatch can start. Each may be empty while its mode is not built; the
  // dispatch then says so on standard error instead of crashing.
  struct Frontends {
    std::function<void(GeneratorApp&)> interactive;
    // mode is "/S", "/F" or "/V"; args is the whole argument vector.
    std::function<void(GeneratorApp&, const std::string& mode, const std::vector<std::string>& args)> script;
    std::function<void(GeneratorApp&)> scriptsHelp;
  };

  GeneratorApp(std::vector<std::string> args, Frontends frontends);
  GeneratorApp(const GeneratorApp&) = delete;
  GeneratorApp& operator=(const GeneratorApp&) = delete;

  // Runs the whole life of the program (start-up and dispatch); returns the exit status.
  int run();

  const std::vector<std::string>& args() const { return args_; }

  // The process exit status: the result of the last finished run (written by its worker), 8 when a
  // script's root folder cannot be created, 2 when a stop signal ended a script, otherwise 0.
  std::atomic<int> exitCode{0};
  // The "Show splash" setting as read at start-up.
  bool showSplash = true;

 private:
  void initInstance();
  void logInvalidParameter(const std::string& parameter);

  std::vector<std::string> args_;
  Frontends frontends_;
};

}  // namespace quillet
