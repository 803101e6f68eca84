// The words for the engine's failures, shared by every front-end: a window shows the sentences
// apart by an empty line, a log line joins them by a blank. Pure; thread-safe.
#pragma once

#include <string>
#include <vector>

#include "engine/run_failure.h"

namespace quillet {

// The failure's text, one sentence (or sentence group) an element.
std::vector<std::string> failureSentences(const RunFailure& failure);

// The text of a message box: the sentences apart by an empty line.
std::string failureBoxText(const RunFailure& failure);

// The script log's line: the sentences joined by a blank.
std::string failureLogLine(const RunFailure& failure);

}  // namespace quillet
