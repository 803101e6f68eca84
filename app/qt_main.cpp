// The windowed program on Linux: the console program's modes with the Qt windows, falling back to
// the console when no display answers.
#include "app/program_main.h"
#include "ui/windowed/qt_windowed_frontend.h"

int main(int argc, char** argv) {
  quillet::QtWindowedFrontend windows;
  return quillet::programMain(argc, argv, quillet::ProgramWindows{&windows, nullptr});
}
