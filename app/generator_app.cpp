#include "app/generator_app.h"

#include <iostream>

#include "app/build_commit.h"
#include "engine/generation_job.h"
#include "platform/ascii.h"
#include "platform/system.h"
#include "script/program_version.h"
#include "script/script_log.h"

namespace quillet {

GeneratorApp::GeneratorApp(std::vector<std::string> args, Frontends frontends)
    : args_(std::move(args)), frontends_(std::move(frontends)) {}

int GeneratorApp::run() {
  if (args_.size() <= 1) {
    if (frontends_.interactive) return frontends_.interactive(args_);
    std::cerr << "quillet: the interactive mode is not available in this build; run a script "
                 "(/s or /f) or see /? for the parameters\n";
    return 0;
  }
  const std::string mode = asciiUpper(args_[1]);
  if (mode == "/S" || mode == "/F" || mode == "/V" || mode == "/M" || mode == "/PROBE" || mode == "/H") {
    if (frontends_.script) return frontends_.script(mode, args_);
    std::cerr << "quillet: script mode is not available in this build\n";
    return 0;
  }
  if (mode == "/?") {
    if (args_.size() != 2) return logInvalidParameter(args_[2]);
    return frontends_.scriptsHelp ? frontends_.scriptsHelp(args_) : 0;
  }
  // An extension: the version and the commit a build was made from, for bug reports and packages.
  if (mode == "/VERSION" || mode == "--VERSION") {
    if (args_.size() != 2) return logInvalidParameter(args_[2]);
    std::cout << "Talvane Quillet " << programVersion() << " (commit " << buildCommit() << "; "
              << programBuild() << ")\n";
    return 0;
  }
  return logInvalidParameter(args_[1]);
}

int GeneratorApp::logInvalidParameter(const std::string& parameter) {
  ScriptLog log;
  if (!log.openLog(scriptLogPath(args_[0]))) return 0;
  log.writeStartBanner();
  log.writeInvalidParameter(parameter);
  log.writeEndBanner();
  // A stop signal during the logging ends it as it ends a script run.
  return stopSignalArrived() ? toInt(GenerationResult::Stopped) : 0;
}

}  // namespace quillet
