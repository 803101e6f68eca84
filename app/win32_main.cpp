// The one program on Windows: a console program (a script run from a console prints there and
// returns its exit status) that shows its windows itself.
#include "app/program_main.h"
#include "win32ui/win32_windowed_frontend.h"

int main(int argc, char** argv) {
  quillet::win32::Win32WindowedFrontend windows;
  return quillet::programMain(argc, argv, quillet::ProgramWindows{&windows, nullptr});
}
