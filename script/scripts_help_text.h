// The scripts help text, shown by the help window and printed by "/?" without a display.
#pragma once

#include <string>

namespace quillet {

// The whole text, lines separated by CR LF, no line break after the last line.
const std::string& scriptsHelpText();

}  // namespace quillet
