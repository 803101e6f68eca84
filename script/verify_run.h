// What the program does when asked to verify (/v alone, or a run's /s or /f line with /v added):
// parse, walk and check the tree on a worker thread while the console shows progress, then print
// the summary, write the log block and the report, and end with 0 (intact), 4 (damage, missing or
// unexpected files), 2 (stopped) or 8 (the root cannot be read). Main thread.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "engine/verify.h"
#include "script/script_parser.h"
#include "script/script_run.h"

namespace quillet {

// True when the arguments ask for a verify: the mode /V, or /v among a /s or /f line's parameters.
bool isVerifyRequest(const std::string& mode, const std::vector<std::string>& args);

struct VerifyParse {
  bool accepted = false;
  std::string rejection;  // the log line's text of a rejected script
  std::string root;
  std::optional<std::uint64_t> seed;
  ScriptExtensions extensions;
  // With the run's own line: its parameters, completed as the run completes them.
  bool withRunParameters = false;
  std::vector<std::string> runArgs;  // the run's own arguments, the /v left out
  std::int32_t threads = 1;          // /threads: the readers
};

// Parses a verify request. For the /s or /f form, job receives the run's parameters (the /v left
// out) and parsed the parser's outcome for them.
VerifyParse parseVerify(const std::string& mode, const std::vector<std::string>& args, GenerationJob& job,
                        ParseOutcome& parsed);

// "1,020": the counts of the summary and the progress figures are read by people.
std::string groupedCount(std::int64_t n);

// "12.50 %" for a share of 0.125: the profile's shares as the console shows them.
std::string percentText(double share);

// The summary, its verdict first (no line end): "Intact: 3.98 Gb in 1,020 files; corrupted 0 b; ...",
// "Damage found: 2 of 1,020 files damaged, 1 missing; intact 3.97 Gb; corrupted 4.00 Kb in 1 file; ...",
// "Nothing generated found: ..." or, for a verify stopped before it found damage, "Stopped: ...".
std::string formatVerifySummary(const VerifyResult& r);
// Whether a line is a verify's summary (it starts with one of its verdicts).
bool isVerifySummaryLine(const std::string& line);
// A text from the volume (a name, a system message) as the console and the windows show it: as the
// log writes it (control characters as "\xHH"), and besides each byte that is not part of valid
// UTF-8 or that encodes a C1 control character, so that no name can move the cursor, split a line or
// garble the terminal.
std::string escapeConsoleText(const std::string& text);
// The lines after the summary: seed, read method, capacity and the first damaged blocks.
std::vector<std::string> formatVerifyDetails(const VerifyResult& r, std::size_t firstBlocks = 10);
// One log line per damaged file, capped; the last line counts the files left out.
std::vector<std::string> formatVerifyLogLines(const VerifyResult& r, std::size_t cap = 100);

void runVerifyScript(const std::string& mode, const std::vector<std::string>& args,
                     const ScriptRunServices& services, std::atomic<int>& exitCode);

}  // namespace quillet
