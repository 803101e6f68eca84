// What every script mode (run, verify, measure, probe, device) does around its own work, in one
// place: the log block and its banners, the run's record for the report and its page, the one line
// that tells an end no progress display told, a stop asked from outside, a shared run's agreement
// and the result the process ends with. Main thread.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/status.h"
#include "script/run_report.h"
#include "script/script_args.h"
#include "script/script_log.h"
#include "script/script_run.h"

namespace quillet {

class RunFrame {
 public:
  // sharing: the run shared among several processes, or null for a run of its own (a mode that is
  // never shared passes null whatever the services hold).
  // script: the run's arguments as read once; it must outlive the frame.
  RunFrame(const ScriptArgs& script, const ScriptRunServices& services, const RunSharing* sharing);
  RunFrame(const RunFrame&) = delete;
  RunFrame& operator=(const RunFrame&) = delete;

  // Opens the log beside the program (or keeps the lines of a process that writes no log block) and
  // writes the start banner. False when the log cannot be opened: the run then ends with 0 without
  // a word, as it has nowhere to say one.
  bool open();

  ScriptLog& log() { return log_; }
  RunRecord& record() { return record_; }
  const RunSharing* sharing() const { return sharing_; }
  // False for a process of a shared run whose log block, console and report another one writes.
  bool writesLog() const { return sharing_ == nullptr || sharing_->writesLog; }
  // True once the run is asked to stop from outside (a stop signal).
  bool stopAsked() const { return services_.stopAsked && services_.stopAsked(); }

  // The report and its page, as the line names them before it is parsed (so that a rejected line
  // still gets its report), relative to the working folder; none for a process that writes no log.
  void wantReport(bool page);
  // The report named only once the line is accepted (empty: none).
  void setReportPath(const std::string& path);
  const std::string& reportPath() const { return reportPath_; }
  const std::string& pagePath() const { return pagePath_; }
  bool reportWanted() const { return !reportPath_.empty() || !pagePath_.empty(); }
  // How a report that cannot be written is told in the log; reportFailureLine unless set.
  void setReportFailureText(std::function<std::string(const std::string&, const Status&)> text) {
    reportFailureText_ = std::move(text);
  }

  // The ending line, until the mode knows better: its form is /progress's as the line gives it.
  void setConsoleForm(ProgressFormat form) { consoleForm_ = form; }
  ProgressFormat consoleForm() const { return consoleForm_; }
  // A line the mode ends on before any display showed the run: logged, and the ending line.
  void endingLine(const std::string& text);
  // The ending line without a log line of its own (the log says it in other words).
  void setEndingText(const std::string& text) { endingText_ = text; }
  // A rejection: logged, the ending line and the record's rejection.
  void reject(const std::string& text);
  // Under /progress:json, the final line of a run that ends without an ending line.
  void setFinalLine(std::function<void(int result)> line) { finalLine_ = std::move(line); }
  // From here the run's display tells its end: no ending or final line.
  void displayed() { displayed_ = true; }
  // A mode that tells its refusals on standard error itself prints no ending line.
  void printNoEnding() { printsEnding_ = false; }

  // Every end passes here once: the record's result and times, the shared run's agreement, the
  // ending line, the page and the report, the end banner. Returns the result the process ends with.
  int end(int result);

 private:
  using Steady = std::chrono::steady_clock;
  const ScriptArgs& script_;
  const ScriptRunServices& services_;
  const RunSharing* sharing_;
  ScriptLog log_;
  RunRecord record_;
  Steady::time_point startedSteady_;
  std::string reportPath_;
  std::string pagePath_;
  std::function<std::string(const std::string&, const Status&)> reportFailureText_;
  ProgressFormat consoleForm_ = ProgressFormat::Human;
  std::string endingText_;
  std::function<void(int)> finalLine_;
  bool displayed_ = false;
  bool printsEnding_ = true;
};

}  // namespace quillet
