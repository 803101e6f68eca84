// Turns a script's argument vector into a generation job, or rejects it with exactly one log
// message. Pure apart from the job it fills; thread-safe for distinct jobs.
#pragma once

#include <string>
#include <vector>

#include "engine/generation_job.h"

namespace quillet {

struct ParseOutcome {
  bool accepted = false;
  // On rejection: either the check's message (logged as "Invalid script." plus the message) or an
  // unrecognised key as typed (logged as "Invalid script parameter '%s'.").
  std::string message;
  bool unrecognisedKey = false;
  // Whether /maxsize was given; steers the completion of the job.
  bool maxSizeGiven = false;
};

// mode is "/S" or "/F" (already upper-cased); args is the whole argument vector (args[0] the
// program, args[1] the mode switch). On acceptance the job holds the mode's defaults and every
// parameter's effect.
ParseOutcome parseScript(const std::string& mode, const std::vector<std::string>& args, GenerationJob& job);

class ScriptLog;
// Writes a rejection's one line.
void logRejection(ScriptLog& log, const ParseOutcome& outcome);

}  // namespace quillet
