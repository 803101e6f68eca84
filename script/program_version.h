// The program's version and build, as the report and `--version` give them.
// Thread-safe: constant texts.
#pragma once

#include <string>

namespace quillet {

// The project version, e.g. "3.1.29".
const char* programVersion();
// How the program was built: system, compiler, optimised or debug.
std::string programBuild();

}  // namespace quillet
