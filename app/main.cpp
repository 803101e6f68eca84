// Entry point: builds the application object with the front-ends this build has and returns its
// exit status.
#include <iostream>
#include <string>
#include <vector>

#include "app/generator_app.h"
#include "script/scripts_help_text.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (args.empty()) args.emplace_back("quillet");
  quillet::GeneratorApp::Frontends frontends;
  frontends.scriptsHelp = [](quillet::GeneratorApp&) { std::cout << quillet::scriptsHelpText() << "\n"; };
  quillet::GeneratorApp app(std::move(args), std::move(frontends));
  return app.run();
}
