// The entry point every program shares: it puts the windowed front-end a build has (if any) and the
// console's together and runs the dispatch with them.
//
// On Linux the program comes in two files. `quillet` is the console program: script runs without a
// display, the help text on standard output, the script log. `quillet-windows` beside it adds the
// windows (Qt). Loading the windowing libraries costs a noticeable part of a second, which a short
// script run on a server should not pay, so the console program hands a run over to the windowed
// one only when a display may exist; the windowed one then makes the final decision and falls back
// to the console when no display answers. On Windows one program has both.
//
// SIGINT and SIGTERM are held from the first line of programMain, so that one arriving at any
// moment of a script run, even before the log is open or while the run passes to the windowed
// program, stops the run like the Stop button. The modes without a run give them their default
// effect back.
#pragma once

#include <string>
#include <vector>

#include "frontend/windowed_frontend.h"

namespace quillet {

// The windows a program can reach.
struct ProgramWindows {
  // The windowed front-end built into this program; null in a console program.
  WindowedFrontend* frontend = nullptr;
  // The file name of the windowed program beside this one that a run which may show windows is
  // handed to while a display may exist; null: none.
  const char* handOverTo = nullptr;
};

// The whole program from main's arguments; returns the process exit status.
int programMain(int argc, char** argv, const ProgramWindows& windows);

// The dispatch of args (args[0] the program) once the stop signals are held: each mode on the
// windowed front-end when windows can be shown, else on the console. Returns the exit status.
int runProgram(std::vector<std::string> args, const ProgramWindows& windows);

}  // namespace quillet
