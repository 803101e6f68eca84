#include "script/run_frame.h"

#include <iostream>

#include "platform/path.h"
#include "script/console_progress.h"
#include "script/report_page.h"

namespace quillet {

RunFrame::RunFrame(const ScriptArgs& script, const ScriptRunServices& services, const RunSharing* sharing)
    : script_(script),
      services_(services),
      sharing_(sharing),
      log_(services.clock),
      reportFailureText_(reportFailureLine),
      consoleForm_(script.progress) {}

bool RunFrame::open() {
  if (!openRunLog(log_, script_.args, sharing_)) return false;
  log_.writeStartBanner();
  startedSteady_ = Steady::now();
  record_.commandLine = script_.args;
  record_.started = std::chrono::system_clock::now();
  return true;
}

void RunFrame::wantReport(bool page) {
  if (!writesLog()) return;
  setReportPath(script_.reportPath);
  if (page) pagePath_ = script_.htmlPath;
  // Relative, as a relative root is, to the working folder the program started in.
  if (!pagePath_.empty()) pagePath_ = absolutePath(pagePath_);
}

void RunFrame::setReportPath(const std::string& path) {
  reportPath_ = path.empty() ? std::string() : absolutePath(path);
}

void RunFrame::endingLine(const std::string& text) {
  log_.writeLine(text);
  endingText_ = text;
}

void RunFrame::reject(const std::string& text) {
  endingLine(text);
  record_.rejection = text;
}

int RunFrame::end(int result) {
  record_.resultCode = result;
  record_.ended = std::chrono::system_clock::now();
  record_.durationSeconds = std::chrono::duration<double>(Steady::now() - startedSteady_).count();
  if (sharing_ != nullptr && sharing_->conclude) {
    result = sharing_->conclude(result, record_, log_);
    record_.resultCode = result;
  }
  if (printsEnding_ && !displayed_ && writesLog()) {
    if (!endingText_.empty()) {
      printEnding(std::cerr, consoleForm_, endingText_, result, !record_.rejection.empty());
    } else if (consoleForm_ == ProgressFormat::Json && finalLine_) {
      finalLine_(result);
    }
  }
  if (!pagePath_.empty()) writeRunPage(log_, pagePath_, record_);
  if (!reportPath_.empty()) {
    const Status written = writeReport(reportPath_, record_);
    if (!written.ok()) log_.writeLine(reportFailureText_(reportPath_, written));
  }
  log_.writeEndBanner();
  return result;
}

}  // namespace quillet
