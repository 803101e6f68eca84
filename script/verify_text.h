// The texts of a verify: the console's summary and details, the log's lines and the report's verify
// object. Pure; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/verify.h"

namespace quillet {

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

// The report's verify object (one line): per-class bytes and files, and every damaged file with its
// merged damaged ranges (capped per file).
std::string verifyJson(const VerifyResult& r, const std::string& rootFolder);

}  // namespace quillet
