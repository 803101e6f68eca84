// The machine-readable record of one script run: one JSON object, written to the file /report
// names by an atomic replace when the run ends, whatever the end. Every number carries its unit
// in its key name. Pure formatting apart from writeReport; thread-safe for distinct values.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/generation_job.h"
#include "engine/rate_series.h"
#include "platform/status.h"
#include "script/script_parser.h"

namespace quillet {

inline constexpr const char* kReportSchema = "quillet-report/2";

// The volume that holds the root, as queried around the generation.
struct ReportVolume {
  std::string mountPoint;
  std::string fileSystem;
  std::optional<std::int64_t> totalBytes;
  std::optional<std::int64_t> freeBytesBefore;
  std::optional<std::int64_t> freeBytesAfter;
  std::optional<std::int32_t> clusterBytes;
};

// What a run knows when it ends. job is null for a rejected script; volume is empty when the run
// ended before it asked the volume anything.
struct RunRecord {
  std::vector<std::string> commandLine;
  bool byAllSize = true;
  std::string rejection;  // the log line's text of a rejected script
  const GenerationJob* job = nullptr;
  ScriptExtensions extensions;
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point ended;
  double durationSeconds = 0;
  double generationSeconds = 0;  // the worker's running time; 0 when none ran
  int resultCode = 0;
  std::optional<ReportVolume> volume;
  // A verify: the mode is "verify" and verifyJson (one JSON object) becomes the report's "verify".
  bool verifyMode = false;
  int threads = 1;                       // a verify's readers (a generation's writers are the job's)
  std::vector<WriterTimes> readerTimes;  // a verify's, per reader; empty when no file was checked
  std::string verifyJson;
  // A verify's reading: the bytes and files it checked and the seconds its walk took, for the
  // report's throughput (a verify generates nothing).
  std::int64_t verifiedBytes = 0;
  std::int64_t verifiedFiles = 0;
  double verifySeconds = 0;
  // A measure: the mode is "measure", and the report holds the common head, the result and these
  // two objects (one JSON object each; empty: null) as "parameters" and "measure".
  bool measureMode = false;
  std::string measureParametersJson;
  std::string measureJson;
  // A measure that profiled the tree (/saveprofile): where the profile went and its headline
  // figures (one JSON object), the report's "saved_profile"; left out when empty.
  std::string savedProfileJson;
  // A probe: the mode is "probe" and probeJson (one JSON object) becomes the report's "probe".
  bool probeMode = false;
  std::string probeJson;
  // A verify with a flush journal: its figures (one JSON object), the report's "flush_journal".
  std::string flushJournalJson;
  // When the generation started (the worker's start); set once it did.
  std::optional<std::chrono::system_clock::time_point> generationStarted;
  // A run shared among several processes: the figures of all of them, which replace this
  // process's own counts, and sharedJson (one JSON object) becomes the report's "ranks".
  struct Totals {
    std::int64_t filesCreated = 0;
    std::int64_t bytesAllocated = 0;
    std::int64_t foldersCreated = 0;
    std::int64_t foldersVisited = 0;
    std::int64_t filesPlanned = 0;
  };
  std::optional<Totals> totals;
  // What the whole shared run was asked for, given instead of this process's part in "parameters"
  // and "run_seed": the root above the parts' folders, the total, the limit and the given seed.
  struct RunWide {
    std::string rootFolder;
    std::int64_t allSize = 0;
    std::int64_t limitSize = 0;
    std::uint64_t seed = 0;
  };
  std::optional<RunWide> runWide;
  std::string sharedJson;
  // The speed record sampled while the worker ran (see RateSeries); becomes the report's "series".
  std::optional<RateSeries> series;
  // A run by a profile: target against achieved (one JSON object), the report's "population".
  std::string populationJson;
};

// "2026-12-07T18:40:01.123Z".
std::string formatUtcTime(std::chrono::system_clock::time_point when);

// The report as its file holds it: one JSON object, pretty-printed, ending in a line feed.
std::string formatReport(const RunRecord& record);

// Replaces the report file with the record at once (a reader sees the old file or the new one).
Status writeReport(const std::string& path, const RunRecord& record);

// "Can not write report '<path>': <reason>." for a failed write: the system's reason, without the
// file name the status starts with (which may be the temporary file beside the report).
std::string reportFailureLine(const std::string& path, const Status& failed);

}  // namespace quillet
