// The /progress:json lines of a mode that reads a tree (a verify, a measure): at most one a second,
// each with the figures since the one before, and the final line's interval from the last of them.
// Kept in one place so that every reading mode's lines pace and count alike. Used by the one thread
// that watches the work; not thread-safe.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "script/console_progress.h"

namespace quillet {

class ReadLinePacer {
 public:
  using Clock = std::chrono::steady_clock;

  // verify: the lines are a verify's (found and damaged figures), else a measure's.
  explicit ReadLinePacer(bool verify) : verify_(verify) {}

  // The work starts: its lines' seconds count from now, and the first line is due a second later.
  void start(Clock::time_point now) { started_ = lastLine_ = now; }

  // The line due at now, a second at least after the last one (or the start), without its line
  // end; figuresNow is asked only then. Empty when no line is due.
  std::string lineAt(Clock::time_point now, const std::function<ReadFigures()>& figuresNow);

  // The final line of work that ended after seconds (counted by the mode) with result: its interval
  // runs from the last line given, or from the start when there was none.
  std::string finalLine(const ReadFigures& figures, double seconds, int result) const;

 private:
  bool verify_;
  Clock::time_point started_;
  Clock::time_point lastLine_;
  ReadFigures before_;
  double beforeSeconds_ = 0;
};

}  // namespace quillet
