// The program's name, version, build and commit, as the report and `--version` give them.
// Thread-safe: constant texts.
#pragma once

#include <string>

namespace quillet {

// The project version, e.g. "3.1.29".
const char* programVersion();
// The commit the build was made from (12 hexadecimal digits, "+changes" when the work tree had
// uncommitted changes, "unknown" outside a git checkout).
const char* programCommit();
// How the program was built: system, compiler, optimised or debug.
std::string programBuild();
// The `--version` text: one line.
std::string versionLine();

}  // namespace quillet
