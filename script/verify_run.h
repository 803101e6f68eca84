// What the program does when asked to verify (/v alone, or a run's /s or /f line with /v added):
// parse, walk and check the tree on a worker thread while the console shows progress, then print
// the summary, write the log block and the report, and end with 0 (intact), 4 (damage, missing or
// unexpected files), 2 (stopped) or 8 (the root cannot be read). Main thread.
#pragma once

#include <string>
#include <vector>

#include "engine/verify.h"
#include "script/script_parser.h"
#include "script/script_run.h"
#include "script/verify_request.h"
#include "script/verify_text.h"

namespace quillet {

int runVerifyScript(const ScriptArgs& script, const ScriptRunServices& services);

}  // namespace quillet
