// A raw device filled and verified as one file: `/s /allsize:allpartition /device:'...' /destroy`
// writes identified blocks over all of it, `/v /device:'...'` reads them back and tells the same
// classes, damaged ranges and capacity line as a verify of a tree.
#pragma once

#include <string>
#include <vector>

#include "script/script_run.h"

namespace quillet {

// True when a /s or /v script names a /device: such scripts never reach the tree's parser.
bool isDeviceRequest(const ScriptArgs& script);

// Exit codes: fill 0 done, 8 rejected, refused or failed, 2 stopped; verify 0 intact, 4 damaged,
// 8 rejected, refused or failed, 2 stopped.
int runDeviceScript(const ScriptArgs& script, const ScriptRunServices& services);

}  // namespace quillet
