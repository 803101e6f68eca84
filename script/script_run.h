// What the program does when started with /s or /f: open the log, parse, complete the job from the
// volume's facts, create the root, run the worker under a progress display, write the end banner.
// Main thread; the worker runs on its own thread between the root creation and the end banner.
#pragma once

#include <functional>
#include <optional>
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

struct RunRecord;
class ScriptLog;
struct VerifyJob;

// A run shared among several processes, each doing a part of it in a folder of its own under the
// root. The hooks let the process agree with the others; without them (the default) a run is a
// run of its own and nothing here changes it.
struct RunSharing {
  // False: this process writes neither a log block nor a report (another one does); its log lines
  // are kept (ScriptLog::keepLinesInstead) and handed to conclude.
  bool writesLog = true;
  // A rejection found before the script is read: a key of the shared run with a bad value.
  std::string rejection;
  // Generation: makes the job this process's part (its folder, its share of the total, its seed)
  // once the root is absolute and before the job is completed against the volume. A non-empty
  // text is a log line: the part's folder cannot be had, and the run ends as a path failure.
  std::function<std::string(GenerationJob&)> shareJob;
  // Verify: the folder and seed of the part this process checks, from the run's root and seed.
  std::function<void(std::string& root, std::optional<std::uint64_t>& seed)> verifyPart;
  // Verify with the run's line: the job of the part checked, for its list of files (as shareJob).
  std::function<void(GenerationJob&)> shareVerifiedJob;
  // Verify: waits, in the main thread, until job.finished, instead of the console display.
  std::function<void(VerifyJob&)> watchVerify;
  // Verify, a process that writes no log block: receives the lines it would have printed on
  // standard output (each with its line end), for the one that writes the log to show.
  std::function<void(const std::string&)> console;
  // Every end passes here once, before the report and the end banner: returns the result agreed
  // with the others and may set the record's totals, times and sharedJson.
  std::function<int(int result, RunRecord& record, ScriptLog& log)> conclude;
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
  // Set for a run shared among several processes; null otherwise.
  const RunSharing* sharing = nullptr;
};

// Opens the script log beside the program (args[0]), or, for a process of a shared run that writes
// no log block (sharing->writesLog false), keeps its lines instead. False when the log cannot be
// opened; the run then ends without a word, as it has nowhere to say one.
bool openRunLog(ScriptLog& log, const std::vector<std::string>& args, const RunSharing* sharing);

// Completes a parsed job the script way (sizes, counts, masks, the file-system limit). The
// all-partition free space is queried on the root, or on its nearest existing ancestor while the
// root does not exist yet.
void completeScriptJob(GenerationJob& job, const ParseOutcome& parsed, FileSystem& fs);

// With /profile: loads the built-in or file profile the extensions name into job.population.
// Empty when done (or without /profile), else the rejection's log line.
std::string attachProfile(GenerationJob& job, const ScriptExtensions& extensions);

// The whole script run. A relative root is taken relative to the working folder and made absolute
// before anything uses it. Returns the run's result as the process ends with it: PathFailed when
// the root cannot be created, Stopped when the run was asked to stop, otherwise the worker's
// result; 0 for a rejected script or a log that cannot be opened.
int runScript(const std::string& mode, const std::vector<std::string>& args,
              const ScriptRunServices& services);
// The same for a line already read (the many-client program reads it to learn its form first).
int runScript(const ScriptArgs& script, const ScriptRunServices& services);

}  // namespace quillet
