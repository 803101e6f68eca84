// A script's argument vector read once per run: its mode, its parameters split at their colons,
// and what must be known before the line is parsed (the report, its page and the console's form,
// which a rejected line still gets). Every mode's parser, the run frame and the many-client program
// take this value instead of reading the arguments again. Pure; thread-safe for distinct values.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "script/script_keys.h"

namespace quillet {

struct ScriptArgs {
  std::vector<std::string> args;            // as given: args[0] the program, args[1] the mode switch
  std::string mode;                         // the mode switch upper-cased ("/S", "/V", ...)
  std::vector<ScriptParameter> parameters;  // args[2..]

  // Read from the first parameter naming each key, when that one is well formed as a run reads
  // it, whatever else the line holds: empty (or Human) otherwise.
  std::string reportPath;
  std::string htmlPath;
  ProgressFormat progress = ProgressFormat::Human;

  // Whether a parameter names this key, with or without a value (any case); key in upper case.
  bool hasKey(const std::string& key) const;
  // The same line without the parameters drop picks, its early reads taken from those kept.
  ScriptArgs without(const std::function<bool(const ScriptParameter&)>& drop) const;
};

// Reads an argument vector; mode is its mode switch as the caller upper-cased it.
ScriptArgs readScriptArgs(const std::string& mode, std::vector<std::string> args);

}  // namespace quillet
