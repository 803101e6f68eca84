#include "script/read_line_pacer.h"

namespace quillet {

std::string ReadLinePacer::lineAt(Clock::time_point now, const std::function<ReadFigures()>& figuresNow) {
  if (now - lastLine_ < std::chrono::seconds(1)) return {};
  const ReadFigures figures = figuresNow();
  const double elapsed = std::chrono::duration<double>(now - started_).count();
  std::string line = formatJsonReadLine(verify_, figures, before_, elapsed, elapsed - beforeSeconds_);
  before_ = figures;
  beforeSeconds_ = elapsed;
  lastLine_ = now;
  return line;
}

std::string ReadLinePacer::finalLine(const ReadFigures& figures, double seconds, int result) const {
  return formatJsonReadLine(verify_, figures, before_, seconds, seconds - beforeSeconds_, &result);
}

}  // namespace quillet
