// How a verify is asked for: /v alone with its own keys, or a run's /s or /f line with /v added.
// Pure; thread-safe for distinct jobs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/generation_job.h"
#include "script/script_parser.h"

namespace quillet {

// True when the line asks for a verify: the mode /V, or /v among a /s or /f line's parameters.
bool isVerifyRequest(const ScriptArgs& script);

struct VerifyParse {
  bool accepted = false;
  std::string rejection;  // the log line's text of a rejected script
  std::string root;
  std::optional<std::uint64_t> seed;
  ScriptExtensions extensions;
  // With the run's own line: its parameters, completed as the run completes them.
  bool withRunParameters = false;
  std::int32_t threads = 1;  // /threads: the readers
};

// Parses a verify request. For the /s or /f form, job receives the run's parameters (the /v left
// out) and parsed the parser's outcome for them.
VerifyParse parseVerify(const ScriptArgs& script, GenerationJob& job, ParseOutcome& parsed);

}  // namespace quillet
