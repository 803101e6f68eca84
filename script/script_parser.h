// Turns a script's argument vector into a generation job, or rejects it with exactly one log
// message. Pure apart from the job it fills; thread-safe for distinct jobs.
#pragma once

#include <string>
#include <vector>

#include "engine/generation_job.h"
#include "script/script_args.h"
#include "script/script_keys.h"

namespace quillet {

// What the keys beyond the generation parameters ask for. Absent keys leave these defaults, under
// which a run behaves as it always has.
struct ScriptExtensions {
  std::string reportPath;  // /report: the file the run's JSON report replaces; empty: no report
  ProgressFormat progress = ProgressFormat::Human;  // /progress
  std::string journalPath;  // /journal: where acknowledged files are recorded; empty: no journal
  std::string htmlPath;     // /html: the file the run's report page replaces; empty: no page
  std::string profile;      // /profile: a built-in profile's name or a profile file; empty: none
};

struct ParseOutcome {
  bool accepted = false;
  // On rejection: either the check's message (logged as "Invalid script." plus the message) or an
  // unrecognised key as typed (logged as "Invalid script parameter '%s'.").
  std::string message;
  bool unrecognisedKey = false;
  // Whether /maxsize was given; steers the completion of the job.
  bool maxSizeGiven = false;
  // Which limits were given, for a run by a profile, whose draws they bound.
  bool maxFilesGiven = false;
  bool treeDeepGiven = false;
  bool dirLimitGiven = false;
  bool rootSizeGiven = false;
  ScriptExtensions extensions;
};

// script.mode is "/S" or "/F"; script.args the whole argument vector (args[0] the program, args[1] the
// mode switch). On acceptance the job holds the mode's defaults and every parameter's effect.
ParseOutcome parseScript(const ScriptArgs& script, GenerationJob& job);

// A rejection's text, as its log line and the run's report give it: "Invalid script parameter
// '<key>'." for an unrecognised key, otherwise "Invalid script. <message>".
std::string rejectionText(const ParseOutcome& outcome);

class ScriptLog;
// Writes a rejection's one line.
void logRejection(ScriptLog& log, const ParseOutcome& outcome);

}  // namespace quillet
