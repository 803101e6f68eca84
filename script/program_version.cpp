#include "script/program_version.h"

#include "platform/system.h"
#include "quillet_version.h"

namespace quillet {

const char* programVersion() { return QUILLET_VERSION; }

std::string programBuild() {
  std::string text = std::string(systemName()) + ", ";
#if defined(__clang__)
  text += "clang " __clang_version__;
#elif defined(__GNUC__)
  text += "gcc " __VERSION__;
#else
  text += "unknown compiler";
#endif
#ifdef NDEBUG
  text += ", optimised";
#else
  text += ", debug";
#endif
  return text;
}

}  // namespace quillet
