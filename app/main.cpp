// Entry point: builds the application object with the front-ends this build has and returns its
// exit status.
#include <iostream>
#include <string>
#include <vector>

#include "app/generator_app.h"
#include "platform/file_system.h"
#include "platform/system.h"
#include "script/console_progress.h"
#include "script/script_run.h"
#include "script/scripts_help_text.h"

namespace {

void runHeadlessScript(quillet::GeneratorApp& app, const std::string& mode, const std::vector<std::string>& args) {
  auto fs = quillet::makeSystemFileSystem();
  quillet::ConsoleProgress progress(*fs, std::cerr, quillet::standardErrorIsTerminal(), app.exitCode);
  const quillet::ScriptRunServices services{*fs, quillet::systemClock(), nullptr, progress};
  quillet::runScript(mode, args, services, app.exitCode);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (args.empty()) args.emplace_back("quillet");
  quillet::GeneratorApp::Frontends frontends;
  frontends.script = runHeadlessScript;
  frontends.scriptsHelp = [](quillet::GeneratorApp&) { std::cout << quillet::scriptsHelpText() << "\n"; };
  quillet::GeneratorApp app(std::move(args), std::move(frontends));
  return app.run();
}
