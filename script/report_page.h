// The report page: one self-contained HTML file drawn from a JSON report (the run's parameters
// and verdict, its speed over time and over bytes written, files per second, each writer's or
// rank's line, a verify's read rate, its map of damaged ranges and the capacity). Inline SVG
// only: no script, font or picture from anywhere else, so the page opens offline and anywhere.
// Pure apart from the file functions; thread-safe.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/status.h"

namespace quillet {

// Every chart's line is an SVG polyline with one point per sample of the report's series, its
// class "series" and data-samples the count, so that a reader can check the page against the
// report.
std::string formatReportPage(const nlohmann::ordered_json& report);

// Replaces the page file with the page of the report at once.
Status writeReportPage(const std::string& path, const nlohmann::ordered_json& report);

// The /h mode: `quillet /h /report:'<report.json>' /html:'<page.html>'` turns a report written
// earlier into its page. Returns the exit code: 0 written, 8 the report cannot be read or the page
// cannot be written (said on standard error); a malformed line is said the same way and ends with 8.
int runPageScript(const std::vector<std::string>& args);

class ScriptLog;
struct RunRecord;
// The page of a run's closed record, beside or instead of its report; a failure is a log line.
void writeRunPage(ScriptLog& log, const std::string& path, const RunRecord& record);

}  // namespace quillet
