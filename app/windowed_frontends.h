// The front-ends that need windows (Qt): a script run under its progress dialog, the scripts help
// window and the interactive mode. Each builds its own QApplication for the length of the run.
// Main thread only. Only built when the windowing layer is.
#pragma once

#include <string>
#include <vector>

namespace quillet {

class GeneratorApp;

void runWindowedScript(GeneratorApp& app, const std::string& mode, const std::vector<std::string>& args);

// "/?" alone: the scripts help window, or the one already open brought forward.
void runWindowedScriptsHelp(GeneratorApp& app);

// No arguments: the splash (when on) and the main dialog until the user closes it.
void runWindowedInteractive(GeneratorApp& app);

}  // namespace quillet
