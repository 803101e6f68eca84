// The commit the program was built from. Thread-safe: a constant text.
#pragma once

namespace quillet {

// 12 hexadecimal digits, with "+changes" when the work tree had uncommitted changes; "unknown"
// for a build outside a git checkout (a source tarball).
const char* buildCommit();

}  // namespace quillet
