// What the program does when started with /s or /f: open the log, parse, complete the job from the
// volume's facts, create the root, run the worker under a progress display, write the end banner.
// Main thread; the worker runs on its own thread between the root creation and the end banner.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "engine/engine_services.h"
#include "engine/generation_job.h"
#include "engine/worker_thread.h"
#include "script/script_parser.h"

namespace quillet {

// Shows a running job until the display ends: the progress dialog when there is a display, the
// console otherwise. Returns when the run has finished (and, with /noclose, the user closed the
// dialog) or a stop was requested. Main thread.
class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  virtual void show(GenerationJob& job) = 0;
  // The script's /progress form, given before show(). A display without a console ignores it.
  virtual void setFormat(ProgressFormat format) { (void)format; }
  // Waits for the worker to end after show() returned. A display whose thread must keep serving
  // the worker (a message box the worker waits on) overrides this.
  virtual void waitForWorker(WorkerThread& worker, const GenerationJob& job) {
    (void)job;
    worker.join();
  }
};

struct ScriptRunServices {
  FileSystem& fs;
  Clock& clock;
  // Presents the one box a script run can raise (an unexpected file-creation failure). Null: a log
  // line plus a line on standard error, as a run without a display has it.
  FailurePresenter* presenter = nullptr;
  ProgressDisplay& progress;
  // True once the run is asked to stop from outside (a stop signal); empty: never. A run asked to
  // stop before its worker starts creates nothing more and ends with 2, as a stopped run does.
  std::function<bool()> stopAsked;
};

// Completes a parsed job the script way (sizes, counts, masks, the file-system limit). The
// all-partition free space is queried on the root, or on its nearest existing ancestor while the
// root does not exist yet.
void completeScriptJob(GenerationJob& job, const ParseOutcome& parsed, FileSystem& fs);

// The whole script run. A relative root is taken relative to the working folder and made absolute
// before anything uses it. exitCode receives PathFailed when the root cannot be created, Stopped
// when the run was asked to stop, otherwise the worker's result; it is left alone for a rejected
// script or a log that cannot be opened.
void runScript(const std::string& mode, const std::vector<std::string>& args, const ScriptRunServices& services,
               std::atomic<int>& exitCode);

}  // namespace quillet
