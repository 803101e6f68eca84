// Entry point: builds the application object with the front-ends this build has and returns its
// exit status.
//
// The program comes in two files. `quillet` is the console program: script runs without a display,
// the help text on standard output, the script log. `quillet-windows` beside it adds the windows
// (Qt). Loading the windowing libraries costs a noticeable part of a second, which a short script
// run on a server should not pay, so the console program hands a run over to the windowed one only
// when a display may exist; the windowed one then makes the final decision and falls back to the
// console when no display answers.
//
// SIGINT and SIGTERM are held from the first line of main, so that one arriving at any moment of a
// script run, even before the log is open or while the run passes to the windowed program, stops
// the run like the Stop button. The modes without a run give them their default effect back.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/generator_app.h"
#include "platform/ascii.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/console_progress.h"
#include "script/script_run.h"
#include "script/scripts_help_text.h"

#ifdef QUILLET_HAVE_UI
#include "app/windowed_frontends.h"
#endif

namespace {

using quillet::GeneratorApp;

#ifdef QUILLET_WINDOWS_PROGRAM
bool environmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != 0;
}

// Replaces this process by the windowed program when a display may exist. Returns when no display
// is named (an empty text), or when the windowed program cannot be started: then the reason, since a
// console-only build (or package) has no windowed program beside it and a user with a desktop should
// learn once why no window appears.
std::string handOverToWindows(const std::vector<std::string>& args) {
  if (!environmentSet("QT_QPA_PLATFORM") && !environmentSet("DISPLAY") && !environmentSet("WAYLAND_DISPLAY")) {
    return {};
  }
  const std::string folder = quillet::folderPart(quillet::runningProgramPath());
  if (folder.empty()) return {};
  return quillet::replaceProcess(folder + QUILLET_WINDOWS_PROGRAM, args).message();
}

// The console program going on by itself although a display may exist. Not under /progress, whose
// json form owns every byte of standard error and whose off form asks for quiet.
void sayNoWindows(const std::string& reason, const std::vector<std::string>& args) {
  if (reason.empty()) return;
  for (const auto& arg : args) {
    if (quillet::asciiUpper(arg).rfind("/PROGRESS:", 0) == 0) return;
  }
  std::cerr << "quillet: the windowed program can not be started (" << reason
            << "); this build or package has none, so the run stays on the console\n";
}
#else
std::string handOverToWindows(const std::vector<std::string>&) { return {}; }
void sayNoWindows(const std::string&, const std::vector<std::string>&) {}
#endif

void runHeadlessScript(GeneratorApp& app, const std::string& mode, const std::vector<std::string>& args) {
  auto fs = quillet::makeSystemFileSystem();
  quillet::ConsoleProgress progress(*fs, std::cerr, quillet::standardErrorIsTerminal(), app.exitCode,
                                    quillet::stopSignalArrived);
  const quillet::ScriptRunServices services{*fs, quillet::systemClock(), nullptr, progress,
                                            quillet::stopSignalArrived};
  quillet::runScript(mode, args, services, app.exitCode);
}

void runScript(GeneratorApp& app, const std::string& mode, const std::vector<std::string>& args) {
  sayNoWindows(handOverToWindows(args), args);
#ifdef QUILLET_HAVE_UI
  if (quillet::windowsCanBeShown()) {
    quillet::runWindowedScript(app, mode, args);
    return;
  }
#endif
  runHeadlessScript(app, mode, args);
}

void showScriptsHelp(GeneratorApp& app) {
  sayNoWindows(handOverToWindows(app.args()), app.args());
  quillet::releaseStopSignals();
#ifdef QUILLET_HAVE_UI
  if (quillet::windowsCanBeShown()) {
    quillet::runWindowedScriptsHelp(app);
    return;
  }
#endif
  std::cout << quillet::scriptsHelpText() << "\n";
}

void runInteractive(GeneratorApp& app) {
  const std::string noWindows = handOverToWindows(app.args());
  quillet::releaseStopSignals();
#if defined(QUILLET_HAVE_UI)
  if (quillet::windowsCanBeShown()) {
    quillet::runWindowedInteractive(app);
    return;
  }
#endif
  if (!noWindows.empty()) {
    std::cerr << "quillet: the interactive mode needs the windowed program, which can not be started ("
              << noWindows << "); run a script (/s or /f) or print the parameters with /?\n";
    return;
  }
#if defined(QUILLET_HAVE_UI) || defined(QUILLET_WINDOWS_PROGRAM)
  std::cerr << "quillet: the interactive mode needs a display (DISPLAY or WAYLAND_DISPLAY); without one, run a "
               "script (/s or /f) or print the parameters with /?\n";
#else
  std::cerr << "quillet: this build has no interactive mode; run a script (/s or /f) or print the parameters "
               "with /?\n";
#endif
}

// The processes a parallel launcher started this one among, from the variables the common ones
// give each process (Open MPI's mpirun, the PMI launchers such as MPICH's and Intel MPI's, Slurm's
// srun); 1 when none did. Slurm's job-wide task count is left out: a batch script of a job with
// several tasks is still one process.
long launchedProcesses() {
  for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMI_SIZE", "SLURM_STEP_NUM_TASKS"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == 0) continue;
    char* end = nullptr;
    const long n = std::strtol(value, &end, 10);
    if (*end == 0 && n > 1) return n;
  }
  return 1;
}

// Started as several processes of one job, every process would run the whole script in the same
// place (one of them writing, the others finding its files or racing it): the many-client program
// is the one that shares a run.
constexpr int kLaunchedAsManyProcesses = 10;

}  // namespace

int main(int argc, char** argv) {
  if (const long processes = launchedProcesses(); processes > 1) {
    std::cerr << "quillet: started as one of " << processes
              << " processes of a parallel job; nothing done. Use quillet-mpi to share a run among them.\n";
    return kLaunchedAsManyProcesses;
  }
  quillet::holdStopSignals();
  std::vector<std::string> args(argv, argv + argc);
  if (args.empty()) args.emplace_back("quillet");
  GeneratorApp::Frontends frontends;
  frontends.script = runScript;
  frontends.scriptsHelp = showScriptsHelp;
  frontends.interactive = runInteractive;
  GeneratorApp app(std::move(args), std::move(frontends));
  return app.run();
}
