// The front-ends that need windows: a script run under its progress dialog, the scripts help window
// and the interactive mode. On Linux they are Qt's (each builds its own QApplication for the length
// of the run), on Windows the native front-end's. Main thread only. Only built where a windowing
// layer is.
#pragma once

#include <string>
#include <vector>

namespace quillet {

class GeneratorApp;

// Whether windows can be shown at all; decided before any window is made.
bool windowsCanBeShown();

void runWindowedScript(GeneratorApp& app, const std::string& mode, const std::vector<std::string>& args);

// "/?" alone: the scripts help window, or the one already open brought forward.
void runWindowedScriptsHelp(GeneratorApp& app);

// No arguments: the splash (when on) and the main dialog until the user closes it.
void runWindowedInteractive(GeneratorApp& app);

}  // namespace quillet
