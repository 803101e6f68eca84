#include "app/program_main.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "app/generator_app.h"
#include "platform/ascii.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/console_progress.h"
#include "script/script_run.h"
#include "script/scripts_help_text.h"

namespace quillet {
namespace {

bool environmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != 0;
}

// Replaces this process by the windowed program when there is one to hand over to and a display
// may exist. Returns when no display is named (an empty text), or when the windowed program cannot
// be started: then the reason, since a console-only build (or package) has no windowed program
// beside it and a user with a desktop should learn once why no window appears.
std::string handOverToWindows(const ProgramWindows& windows, const std::vector<std::string>& args) {
  if (windows.handOverTo == nullptr) return {};
  if (!environmentSet("QT_QPA_PLATFORM") && !environmentSet("DISPLAY") &&
      !environmentSet("WAYLAND_DISPLAY")) {
    return {};
  }
  const std::string folder = folderPart(runningProgramPath());
  if (folder.empty()) return {};
  return replaceProcess(folder + windows.handOverTo, args).message();
}

// The console program going on by itself although a display may exist. Not under /progress, whose
// json form owns every byte of standard error and whose off form asks for quiet.
void sayNoWindows(const std::string& reason, const std::vector<std::string>& args) {
  if (reason.empty()) return;
  for (const auto& arg : args) {
    if (asciiUpper(arg).rfind("/PROGRESS:", 0) == 0) return;
  }
  std::cerr << "quillet: the windowed program can not be started (" << reason
            << "); this build or package has none, so the run stays on the console\n";
}

bool windowsCanBeShown(const ProgramWindows& windows) {
  return windows.frontend != nullptr && windows.frontend->windowsCanBeShown();
}

int runHeadlessScript(const std::string& mode, const std::vector<std::string>& args) {
  auto fs = makeSystemFileSystem();
  ConsoleProgress progress(*fs, std::cerr, standardErrorIsTerminal(), stopSignalArrived);
  const ScriptRunServices services{*fs, systemClock(), nullptr, progress, stopSignalArrived};
  return runScript(mode, args, services);
}

int runAScript(const ProgramWindows& windows, const std::string& mode, const std::vector<std::string>& args) {
  sayNoWindows(handOverToWindows(windows, args), args);
  if (windowsCanBeShown(windows)) return windows.frontend->runScript(mode, args);
  return runHeadlessScript(mode, args);
}

int showScriptsHelp(const ProgramWindows& windows, const std::vector<std::string>& args) {
  sayNoWindows(handOverToWindows(windows, args), args);
  releaseStopSignals();
  if (windowsCanBeShown(windows)) return windows.frontend->showScriptsHelp(args);
  std::cout << scriptsHelpText() << "\n";
  return 0;
}

int runInteractive(const ProgramWindows& windows, const std::vector<std::string>& args) {
  const std::string noWindows = handOverToWindows(windows, args);
  releaseStopSignals();
  if (windowsCanBeShown(windows)) return windows.frontend->runInteractive(args);
  if (!noWindows.empty()) {
    std::cerr << "quillet: the interactive mode needs the windowed program, which can not be started ("
              << noWindows << "); run a script (/s or /f) or print the parameters with /?\n";
  } else if (windows.frontend != nullptr || windows.handOverTo != nullptr) {
    std::cerr
        << "quillet: the interactive mode needs a display (DISPLAY or WAYLAND_DISPLAY); without one, run a "
           "script (/s or /f) or print the parameters with /?\n";
  } else {
    std::cerr
        << "quillet: this build has no interactive mode; run a script (/s or /f) or print the parameters "
           "with /?\n";
  }
  return 0;
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

int runProgram(std::vector<std::string> args, const ProgramWindows& windows) {
  if (args.empty()) args.emplace_back("quillet");
  GeneratorApp::Frontends frontends;
  frontends.script = [&windows](const std::string& mode, const std::vector<std::string>& all) {
    return runAScript(windows, mode, all);
  };
  frontends.scriptsHelp = [&windows](const std::vector<std::string>& all) {
    return showScriptsHelp(windows, all);
  };
  frontends.interactive = [&windows](const std::vector<std::string>& all) {
    return runInteractive(windows, all);
  };
  GeneratorApp app(std::move(args), std::move(frontends));
  return app.run();
}

int programMain(int argc, char** argv, const ProgramWindows& windows) {
  if (const long processes = launchedProcesses(); processes > 1) {
    std::cerr << "quillet: started as one of " << processes
              << " processes of a parallel job; nothing done. Use quillet-mpi to share a run among them.\n";
    return kLaunchedAsManyProcesses;
  }
  holdStopSignals();
  return runProgram(std::vector<std::string>(argv, argv + argc), windows);
}

}  // namespace quillet
