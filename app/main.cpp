// The console program: no windows of its own; a run that may show them goes to the windowed
// program beside it, found at run time (a console-only build or package has none and stays on the
// console).
#include "app/program_main.h"

int main(int argc, char** argv) {
  return quillet::programMain(argc, argv, quillet::ProgramWindows{nullptr, QUILLET_WINDOWS_PROGRAM});
}
