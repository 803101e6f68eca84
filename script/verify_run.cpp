#include "script/verify_run.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "engine/journal_check.h"
#include "engine/rate_series.h"
#include "engine/rate_text.h"
#include "engine/size_text.h"
#include "engine/verify_plan.h"
#include "platform/ascii.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/console_progress.h"
#include "script/flush_journal.h"
#include "script/report_page.h"
#include "script/report_series.h"
#include "script/run_report.h"
#include "script/script_log.h"

namespace quillet {
namespace {

bool isVerifyKey(const std::string& parameter) { return asciiUpper(parameter) == "/V"; }

std::string keyOf(const std::string& parameter) { return parameter.substr(0, parameter.find(':')); }
std::string valueOf(const std::string& parameter) {
  const auto colon = parameter.find(':');
  return colon == std::string::npos ? std::string() : parameter.substr(colon + 1);
}

// An unsigned 64-bit decimal number, nothing else: a seed that does not read back exactly would
// check the tree against another run.
bool readSeed(const std::string& text, std::uint64_t& seed) {
  if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno == ERANGE || end == nullptr || *end != 0) return false;
  seed = static_cast<std::uint64_t>(value);
  return true;
}

std::string grouped(std::int64_t n) { return groupedCount(n); }

std::string filesText(std::int64_t n) { return grouped(n) + (n == 1 ? " file" : " files"); }

const char* seedSourceText(SeedSource s) {
  switch (s) {
    case SeedSource::Given: return "given";
    case SeedSource::FromData: return "carried by most files' first blocks";
    case SeedSource::FromJournal: return "from the flush journal";
    case SeedSource::None: break;
  }
  return "none: no file's first block carries one";
}

const char* seedSourceWord(SeedSource s) {
  switch (s) {
    case SeedSource::Given: return "given";
    case SeedSource::FromData: return "from_data";
    case SeedSource::FromJournal: return "from_journal";
    case SeedSource::None: break;
  }
  return "none";
}

// A /limsize past every file several writers by files number can have made under the job's limit:
// the limit and one file more, plus `writers` folders of the largest count of largest files (those
// not full at the end, and the last one begun). Saturates far below overflow.
std::int64_t beyondWritersReach(const GenerationJob& j, int writers) {
  constexpr std::int64_t kFar = INT64_C(1) << 60;
  const auto times = [](std::int64_t a, std::int64_t b) { return a != 0 && b > kFar / a ? kFar : a * b; };
  const std::int64_t largest = std::max<std::int64_t>(j.maxFileSize, j.minFileSize);
  const std::int64_t count = std::max<std::int64_t>({j.maxFiles, j.minFiles, 1});
  const std::int64_t folders = times(times(writers, count), std::min(largest, kFar));
  const auto plus = [](std::int64_t a, std::int64_t b) { return a >= kFar || b >= kFar - a ? kFar : a + b; };
  return std::max(j.limitSize, plus(plus(j.limitSize, std::min(largest, kFar)), plus(folders, 1)));
}

std::string sizeStateText(SizeState s) {
  switch (s) {
    case SizeState::Truncated: return "truncated";
    case SizeState::Extended: return "extended";
    case SizeState::Right: break;
  }
  return "right";
}

}  // namespace

bool isVerifyRequest(const std::string& mode, const std::vector<std::string>& args) {
  if (mode == "/V") return true;
  if (mode != "/S" && mode != "/F") return false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (isVerifyKey(args[i])) return true;
  }
  return false;
}

VerifyParse parseVerify(const std::string& mode, const std::vector<std::string>& args, GenerationJob& job,
                        ParseOutcome& parsed) {
  VerifyParse out;
  const auto reject = [&](const std::string& message) {
    out.rejection = "Invalid script. " + message;
    return out;
  };
  if (mode != "/V") {
    // The run's own line: its parameters are read as the run read them, the /v left out.
    std::vector<std::string> runArgs;
    bool verifySeen = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (i >= 2 && isVerifyKey(args[i])) {
        if (verifySeen) return reject("Repitition /v parameter.");
        verifySeen = true;
        continue;
      }
      runArgs.push_back(args[i]);
    }
    parsed = parseScript(mode, runArgs, job);
    if (!parsed.accepted) {
      out.rejection = rejectionText(parsed);
      return out;
    }
    out.root = job.rootFolder;
    if (job.seedGiven) out.seed = job.runSeed;
    out.runArgs = runArgs;
    out.extensions = parsed.extensions;
    out.withRunParameters = true;
    out.threads = job.threads;
    out.accepted = true;
    return out;
  }

  bool rootSeen = false, seedSeen = false, reportSeen = false, progressSeen = false, threadsSeen = false;
  bool journalSeen = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string key = asciiUpper(keyOf(args[i]));
    const std::string value = valueOf(args[i]);
    // A file named between apostrophes, once: why not, or nothing when taken.
    const auto takeQuoted = [&](const std::string& word, const std::string& label, bool& seen,
                                std::string& target) -> std::optional<std::string> {
      if (seen) return "Repitition /" + word + " parameter.";
      if (value.empty()) return label + " can't be empty.";
      if (value.front() != '\'' || value.back() != '\'' || value.size() < 2) {
        return label + " parameter must be in ' symbols.";
      }
      if (value.size() < 3) return label + " can't be empty.";
      target = value.substr(1, value.size() - 2);
      seen = true;
      return std::nullopt;
    };
    if (key == "/ROOT") {
      if (const auto why = takeQuoted("root", "Root", rootSeen, out.root)) return reject(*why);
    } else if (key == "/SEED") {
      if (seedSeen) return reject("Repitition /seed parameter.");
      if (value.empty()) return reject("Seed can't be empty.");
      std::uint64_t seed = 0;
      if (!readSeed(value, seed)) return reject("Incorrect seed, a whole number from 0 to 18446744073709551615 expected.");
      out.seed = seed;
      seedSeen = true;
    } else if (key == "/REPORT") {
      if (const auto why = takeQuoted("report", "Report", reportSeen, out.extensions.reportPath)) return reject(*why);
    } else if (key == "/HTML") {
      if (!out.extensions.htmlPath.empty()) return reject("Repitition /html parameter.");
      if (value.size() < 3 || value.front() != '\'' || value.back() != '\'') {
        return reject(value.empty() || value == "''" ? "Html can't be empty." : "Html parameter must be in ' symbols.");
      }
      out.extensions.htmlPath = value.substr(1, value.size() - 2);
    } else if (key == "/PROGRESS") {
      if (progressSeen) return reject("Repitition /progress parameter.");
      if (value.empty()) return reject("Progress can't be empty.");
      const std::string word = asciiUpper(value);
      if (word == "JSON") {
        out.extensions.progress = ProgressFormat::Json;
      } else if (word == "OFF") {
        out.extensions.progress = ProgressFormat::Off;
      } else {
        return reject("Incorrect progress form, json or off expected.");
      }
      progressSeen = true;
    } else if (key == "/THREADS") {
      if (threadsSeen) return reject("Repitition /threads parameter.");
      if (value.empty()) return reject("Threads can't be empty.");
      if (!readThreads(value, out.threads)) {
        return reject("Incorrect threads number, a whole number from 1 to 256 or auto expected.");
      }
      threadsSeen = true;
    } else if (key == "/JOURNAL") {
      if (const auto why = takeQuoted("journal", "Journal", journalSeen, out.extensions.journalPath)) {
        return reject(*why);
      }
    } else {
      out.rejection = "Invalid script parameter '" + keyOf(args[i]) + "'.";
      return out;
    }
  }
  if (!rootSeen) return reject("/root parameter is absent.");
  out.accepted = true;
  return out;
}

std::string groupedCount(std::int64_t n) {
  std::string digits = std::to_string(n < 0 ? -n : n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return n < 0 ? "-" + out : out;
}

std::string percentText(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f %%", share * 100);
  return text;
}

namespace {

constexpr const char* kIntact = "Intact: ";
constexpr const char* kDamageFound = "Damage found: ";
constexpr const char* kNothingGenerated = "Nothing generated found: ";
constexpr const char* kStopped = "Stopped: ";

}  // namespace

bool isVerifySummaryLine(const std::string& line) {
  for (const char* verdict : {kIntact, kDamageFound, kNothingGenerated, kStopped}) {
    if (line.rfind(verdict, 0) == 0) return true;
  }
  return false;
}

std::string escapeConsoleText(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  const auto escaped = [](unsigned char byte) { return std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0x0F]; };
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      // The log's rule: control characters, and a backslash that would read as the start of an escape.
      const auto hex = [&](std::size_t k) { return k < text.size() && std::isxdigit(static_cast<unsigned char>(text[k])) != 0; };
      const bool looksLikeEscape = byte == '\\' && i + 1 < text.size() && text[i + 1] == 'x' && hex(i + 2) && hex(i + 3);
      if (byte < 0x20 || byte == 0x7F || looksLikeEscape) {
        out += escaped(byte);
      } else {
        out += static_cast<char>(byte);
      }
      ++i;
      continue;
    }
    // A UTF-8 sequence is kept when it is well formed and no C1 control; else its lead byte is escaped.
    const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 0;
    bool valid = length != 0 && byte <= 0xF4 && i + length <= text.size();
    std::uint32_t code = valid ? (byte & (0x7F >> length)) : 0;
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    static constexpr std::uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    valid = valid && code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF) && code >= 0xA0;
    if (valid) {
      out.append(text, i, length);
      i += length;
    } else {
      out += escaped(byte);
      ++i;
    }
  }
  return out;
}

std::string formatVerifySummary(const VerifyResult& r) {
  std::string s;
  const std::int64_t damagedFiles = static_cast<std::int64_t>(r.damaged.size());
  if (r.nothingGenerated()) {
    s = kNothingGenerated;
    s += r.files == 0 ? "no file in the folder" : filesText(r.files) + " checked, none made by a run";
  } else if (r.anyDamage()) {
    s = kDamageFound + grouped(damagedFiles) + " of " + filesText(r.files) + " damaged";
    if (r.planned) s += ", " + grouped(static_cast<std::int64_t>(r.missing.size())) + " missing";
    if (!r.listingErrors.empty()) s += ", " + grouped(static_cast<std::int64_t>(r.listingErrors.size())) + " folders not listed";
    s += "; intact " + formatSize(r.intactBytes());
  } else {
    s = (r.stopped ? kStopped : kIntact) + formatSize(r.intactBytes()) + " in " + filesText(r.files);
  }
  for (int c = 1; c < kBlockClasses; ++c) {
    const auto i = static_cast<std::size_t>(c);
    s += "; " + std::string(blockClassName(static_cast<BlockClass>(c))) + " " + formatSize(r.classBytes[i]);
    if (r.classFiles[i] > 0) s += " in " + filesText(r.classFiles[i]);
  }
  if (r.truncatedFiles > 0) s += "; truncated " + filesText(r.truncatedFiles);
  if (r.extendedFiles > 0) s += "; extended " + filesText(r.extendedFiles);
  if (r.resizedFiles > 0) s += "; resized " + filesText(r.resizedFiles);
  if (r.allocationOnlyFiles > 0) {
    s += "; allocation-only " + formatSize(r.allocationOnlyBytes) + " in " + filesText(r.allocationOnlyFiles);
    if (r.unreservedFiles > 0) s += " (" + grouped(r.unreservedFiles) + " without their room)";
  }
  if (r.unreadableFiles > 0) s += "; unreadable " + filesText(r.unreadableFiles);
  if (!r.planned && !r.notRegular.empty()) {
    s += "; skipped " + grouped(static_cast<std::int64_t>(r.notRegular.size())) + " not a regular file";
  }
  if (r.planned) {
    s += "; missing " + filesText(static_cast<std::int64_t>(r.missing.size()));
    s += "; unexpected " + filesText(static_cast<std::int64_t>(r.unexpected.size()));
  }
  return s;
}

std::vector<std::string> formatVerifyDetails(const VerifyResult& r, std::size_t firstBlocks) {
  std::vector<std::string> lines;
  lines.push_back(r.seedSource == SeedSource::None ? std::string("Seed: ") + seedSourceText(r.seedSource)
                                                   : "Seed: " + std::to_string(r.seed) + " (" +
                                                         seedSourceText(r.seedSource) + ")");
  const ReadMethods& m = r.methods;
  std::string read = "Read past the cache: ";
  std::string sep;
  if (m.direct > 0) read += sep + "direct (O_DIRECT or unbuffered) for " + filesText(m.direct), sep = ", ";
  if (m.dropped > 0) read += sep + "flushed and dropped from the cache for " + filesText(m.dropped), sep = ", ";
  if (m.cached > 0) read += sep + "through the cache (no uncached reading here) for " + filesText(m.cached), sep = ", ";
  if (sep.empty()) read += "no file read";
  lines.push_back(read);
  if (r.volumeTotalBytes >= 0) {
    lines.push_back("Capacity: " + formatSize(r.intactBytes()) + " (" + grouped(r.intactBytes()) +
                    " bytes) read back intact; the volume claims " + formatSize(r.volumeTotalBytes) + " (" +
                    grouped(r.volumeTotalBytes) + " bytes)");
  }
  if (r.missingTailAllowed > 0) {
    lines.push_back("Not made: " + filesText(r.missingTailAllowed) + " after the run ended early (" + escapeConsoleText(r.tailReason) +
                    ")");
  }
  for (const auto& file : r.cutShortFiles) lines.push_back("Cut short where the run ended: " + escapeConsoleText(file));
  for (const auto& e : r.listingErrors) lines.push_back("Not listed: " + escapeConsoleText(e));
  if (!r.planNote.empty()) lines.push_back("The run's files: " + escapeConsoleText(r.planNote));
  std::size_t shown = 0;
  for (const auto& f : r.damaged) {
    if (shown >= firstBlocks) break;
    const std::string name = escapeConsoleText(f.relativePath);
    if (f.unreadable) {
      lines.push_back("  " + name + ": unreadable: " + escapeConsoleText(f.readError));
      ++shown;
      continue;
    }
    if (f.sizeState != SizeState::Right) {
      lines.push_back("  " + name + ": " + sizeStateText(f.sizeState) + ": " + grouped(f.length) +
                      " bytes, its blocks carry " + grouped(f.expect.size));
      ++shown;
    }
    if (f.resizedFrom >= 0) {
      lines.push_back("  " + name + ": resized: its blocks carry " + grouped(f.expect.size) + " bytes, the run planned " +
                      grouped(f.resizedFrom));
      ++shown;
    }
    if (f.allocationOnly && f.unreservedBytes > 0) {
      lines.push_back("  " + name + ": allocation-only, " + grouped(f.unreservedBytes) +
                      " bytes without reserved room");
      ++shown;
    }
    for (const auto& range : f.tally.ranges) {
      if (shown >= firstBlocks) break;
      lines.push_back("  " + name + " at " + grouped(range.offset) + ": " + blockClassName(range.kind) +
                      " (" + grouped(range.length) + " bytes); expected " + identityText(range.expected) +
                      "; found " + (range.found ? identityText(*range.found) : std::string("no identity")));
      ++shown;
    }
  }
  if (!lines.empty() && shown > 0) lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lines.size() - shown),
                                                "First damage:");
  std::size_t missingShown = 0;
  for (const auto& path : r.missing) {
    if (missingShown++ >= firstBlocks) break;
    lines.push_back("  missing: " + escapeConsoleText(path));
  }
  const auto special = [&](const std::string& path) {
    return std::binary_search(r.notRegular.begin(), r.notRegular.end(), path) ? " (not a regular file)" : "";
  };
  std::size_t unexpectedShown = 0;
  for (const auto& path : r.unexpected) {
    if (unexpectedShown++ >= firstBlocks) break;
    lines.push_back("  unexpected: " + escapeConsoleText(path) + special(path));
  }
  if (!r.planned) {
    std::size_t skippedShown = 0;
    for (const auto& path : r.notRegular) {
      if (skippedShown++ >= firstBlocks) break;
      lines.push_back("  skipped: " + escapeConsoleText(path) + " (not a regular file)");
    }
  }
  return lines;
}

std::vector<std::string> formatVerifyLogLines(const VerifyResult& r, std::size_t cap) {
  std::vector<std::string> lines;
  std::size_t total = r.damaged.size() + r.missing.size() + r.unexpected.size() + (r.planned ? 0 : r.notRegular.size());
  for (const auto& f : r.damaged) {
    if (lines.size() >= cap) break;
    std::string line = "Damaged file '" + f.relativePath + "':";
    std::string sep = " ";
    if (f.unreadable) line += sep + "unreadable (" + f.readError + ")", sep = ", ";
    for (int c = 1; c < kBlockClasses; ++c) {
      const std::int64_t bytes = f.tally.bytes[static_cast<std::size_t>(c)];
      if (bytes > 0) line += sep + blockClassName(static_cast<BlockClass>(c)) + " " + grouped(bytes) + " b", sep = ", ";
    }
    if (f.sizeState != SizeState::Right) {
      line += sep + sizeStateText(f.sizeState) + " to " + grouped(f.length) + " b of " + grouped(f.expect.size);
      sep = ", ";
    }
    if (f.resizedFrom >= 0) {
      line += sep + "resized: carries " + grouped(f.expect.size) + " b, planned " + grouped(f.resizedFrom);
      sep = ", ";
    }
    if (f.allocationOnly && f.unreservedBytes > 0) line += sep + grouped(f.unreservedBytes) + " b without room";
    if (!f.tally.ranges.empty()) line += "; first at " + grouped(f.tally.ranges.front().offset);
    lines.push_back(line + ".");
  }
  for (const auto& path : r.missing) {
    if (lines.size() >= cap) break;
    lines.push_back("Missing file '" + path + "'.");
  }
  for (const auto& path : r.unexpected) {
    if (lines.size() >= cap) break;
    const bool special = std::binary_search(r.notRegular.begin(), r.notRegular.end(), path);
    lines.push_back("Unexpected file '" + path + (special ? "': not a regular file." : "'."));
  }
  if (!r.planned) {
    for (const auto& path : r.notRegular) {
      if (lines.size() >= cap) break;
      lines.push_back("Skipped '" + path + "': not a regular file.");
    }
  }
  if (total > lines.size()) lines.push_back(grouped(static_cast<std::int64_t>(total - lines.size())) +
                                            " more damaged, missing or unexpected files left out of the log.");
  return lines;
}

namespace {

// Seeds and file ids use all 64 bits: as decimal text, since a JSON number loses digits above 2^53
// in common readers.
nlohmann::ordered_json identityJson(const BlockIdentity& id) {
  return {{"seed", std::to_string(id.seed)},
          {"file_id", std::to_string(id.fileId)},
          {"file_size_bytes", id.fileSize},
          {"offset_bytes", id.offset}};
}

// The verify part of the report: per-class bytes and files, and every damaged file with its
// merged damaged ranges (capped per file).
std::string verifyJson(const VerifyResult& r, const std::string& rootFolder) {
  using nlohmann::ordered_json;
  ordered_json j;
  j["root_folder"] = rootFolder;
  j["seed"] = r.seedSource == SeedSource::None ? ordered_json(nullptr) : ordered_json(std::to_string(r.seed));
  j["seed_source"] = seedSourceWord(r.seedSource);
  j["files_checked"] = r.files;
  ordered_json classes = ordered_json::object();
  for (int c = 0; c < kBlockClasses; ++c) {
    const auto i = static_cast<std::size_t>(c);
    classes[blockClassName(static_cast<BlockClass>(c))] = {{"bytes", r.classBytes[i]}, {"files", r.classFiles[i]}};
  }
  j["classes"] = classes;
  j["truncated"] = {{"files", r.truncatedFiles}, {"bytes", r.truncatedBytes}};
  j["extended"] = {{"files", r.extendedFiles}, {"bytes", r.extendedBytes}};
  j["allocation_only"] = {
      {"files", r.allocationOnlyFiles}, {"bytes", r.allocationOnlyBytes}, {"unreserved_files", r.unreservedFiles}};
  j["unreadable_files"] = r.unreadableFiles;
  j["resized_files"] = r.planned ? ordered_json(r.resizedFiles) : ordered_json(nullptr);
  j["nothing_generated"] = r.nothingGenerated();
  j["read_methods"] = {{"direct_files", r.methods.direct},
                       {"dropped_cache_files", r.methods.dropped},
                       {"cached_files", r.methods.cached}};
  j["capacity"] = {{"intact_bytes", r.intactBytes()},
                   {"volume_total_bytes", r.volumeTotalBytes >= 0 ? ordered_json(r.volumeTotalBytes)
                                                                  : ordered_json(nullptr)}};
  if (r.planned) {
    j["missing_files"] = r.missing;
    j["unexpected_files"] = r.unexpected;
    j["missing_tail_allowed_files"] = r.missingTailAllowed;
    j["missing_tail_reason"] = r.tailReason.empty() ? ordered_json(nullptr) : ordered_json(r.tailReason);
  } else {
    j["missing_files"] = nullptr;
    j["unexpected_files"] = nullptr;
    j["missing_tail_allowed_files"] = nullptr;
    j["missing_tail_reason"] = nullptr;
  }
  j["listing_errors"] = r.listingErrors;
  j["not_regular_files"] = r.notRegular;
  j["cut_short_file"] = r.cutShort.empty() ? ordered_json(nullptr) : ordered_json(r.cutShort);
  j["cut_short_files"] = r.cutShortFiles;
  ordered_json damaged = ordered_json::array();
  for (const auto& f : r.damaged) {
    ordered_json d;
    d["path"] = f.relativePath;
    d["length_bytes"] = f.length;
    d["carried_size_bytes"] = f.expect.sizeFromBlocks ? ordered_json(f.expect.size) : ordered_json(nullptr);
    d["size"] = sizeStateText(f.sizeState);
    d["planned_size_bytes"] = f.resizedFrom >= 0 ? ordered_json(f.resizedFrom) : ordered_json(nullptr);
    d["allocation_only"] = f.allocationOnly;
    d["unreserved_bytes"] = f.unreservedBytes;
    d["read_error"] = f.unreadable ? ordered_json(f.readError) : ordered_json(nullptr);
    ordered_json bytes = ordered_json::object();
    for (int c = 1; c < kBlockClasses; ++c) {
      bytes[blockClassName(static_cast<BlockClass>(c))] = f.tally.bytes[static_cast<std::size_t>(c)];
    }
    d["damaged_bytes"] = bytes;
    ordered_json ranges = ordered_json::array();
    for (const auto& range : f.tally.ranges) {
      ranges.push_back({{"offset_bytes", range.offset},
                        {"length_bytes", range.length},
                        {"class", blockClassName(range.kind)},
                        {"expected", identityJson(range.expected)},
                        {"found", range.found ? identityJson(*range.found) : ordered_json(nullptr)}});
    }
    d["ranges"] = ranges;
    d["ranges_left_out"] = f.tally.rangesLeftOut;
    damaged.push_back(d);
  }
  j["damaged_files"] = damaged;
  return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

// Shows the counters until the worker has finished; a stop signal stops the verify.
void showProgress(VerifyJob& job, ProgressFormat format, const std::function<bool()>& stopAsked,
                  ReadFigures& before, double& beforeSeconds) {
  using Clock = std::chrono::steady_clock;
  const bool terminal = standardErrorIsTerminal();
  const auto started = Clock::now();
  auto lastLine = started;
  bool lineOpen = false;
  const auto line = [&] {
    return "Verifying: " + grouped(job.filesChecked.load()) + " of " + filesText(job.filesFound.load()) + ", " +
           formatSize(job.bytesChecked.load()) + " checked, " + formatSize(job.damagedBytes.load()) + " damaged";
  };
  while (!job.finished.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (stopAsked && stopAsked()) job.requestStop();
    const auto now = Clock::now();
    if (format == ProgressFormat::Off) continue;
    const auto since = now - lastLine;
    if (format == ProgressFormat::Json) {
      if (since < std::chrono::seconds(1)) continue;
      const ReadFigures figures{job.filesFound.load(), job.filesChecked.load(), job.bytesChecked.load(),
                                job.damagedBytes.load()};
      const double elapsed = std::chrono::duration<double>(now - started).count();
      std::cerr << formatJsonReadLine(true, figures, before, elapsed, elapsed - beforeSeconds) + "\n"
                << std::flush;
      before = figures;
      beforeSeconds = elapsed;
      lastLine = now;
    } else if (terminal ? since >= std::chrono::milliseconds(100) : since >= std::chrono::seconds(5)) {
      std::cerr << (terminal ? "\r" + line() + "\x1b[K" : line() + "\n") << std::flush;
      lineOpen = terminal;
      lastLine = now;
    }
  }
  if (lineOpen) std::cerr << "\r" << line() << "\x1b[K\n" << std::flush;
}

// What the check of a flush journal found, beside the verify's own figures: the acknowledged files
// the storage lost, and the files it was not yet asked to keep (never damage).
struct FlushFigures {
  std::string journalPath;
  const JournalContents* journal = nullptr;
  JournalVerdict verdict;
  std::int64_t unacknowledgedFound = 0;
  std::int64_t unacknowledgedDamaged = 0;
  std::optional<std::int64_t> unacknowledgedAbsent;  // known only with the run's line and seed

  std::int64_t lost() const { return static_cast<std::int64_t>(verdict.lost.size()); }
  std::string summary() const {
    const std::int64_t m = verdict.acknowledged;
    if (lost() > 0) return "Flush broken: " + grouped(lost()) + " of " + grouped(m) + " acknowledged files lost";
    return "Flushes kept: " + grouped(m) + " of " + grouped(m);
  }
  std::string unacknowledgedLine() const {
    std::string s = "Not acknowledged (not damage): " + filesText(unacknowledgedFound) + " found, " +
                    grouped(unacknowledgedDamaged) + " of them cut or damaged";
    if (unacknowledgedAbsent) s += ", " + grouped(*unacknowledgedAbsent) + " absent";
    return s;
  }
};

FlushFigures flushFigures(const std::string& journalPath, const JournalContents& journal, JournalVerdict verdict,
                          const VerifyResult& result) {
  FlushFigures f;
  f.journalPath = journalPath;
  f.journal = &journal;
  f.verdict = std::move(verdict);
  std::set<std::string> acknowledged;
  for (const auto& file : journal.files) acknowledged.insert(file.path);
  std::int64_t lostMissing = 0;
  for (const auto& l : f.verdict.lost) lostMissing += l.what == "missing" ? 1 : 0;
  f.unacknowledgedFound = std::max<std::int64_t>(0, result.files - (f.verdict.acknowledged - lostMissing));
  for (const auto& d : result.damaged) f.unacknowledgedDamaged += acknowledged.count(d.relativePath) ? 0 : 1;
  if (result.planned) {
    std::int64_t absent = 0;
    for (const auto& m : result.missing) absent += acknowledged.count(m) ? 0 : 1;
    f.unacknowledgedAbsent = absent;
  }
  return f;
}

std::string flushJson(const FlushFigures& f) {
  using nlohmann::ordered_json;
  ordered_json j;
  j["journal"] = f.journalPath;
  j["run_line"] = f.journal->header.line;
  j["seed"] = f.journal->header.seed;
  j["sync"] = f.journal->header.sync;
  j["torn_lines"] = f.journal->tornLines;
  j["acknowledged_files"] = f.verdict.acknowledged;
  j["checked_files"] = f.verdict.checked;
  j["lost_files"] = f.lost();
  j["kept"] = f.lost() == 0 && !f.verdict.stopped;
  ordered_json lost = ordered_json::array();
  for (const auto& l : f.verdict.lost) lost.push_back({{"path", l.path}, {"what", l.what}});
  j["lost"] = lost;
  ordered_json u;
  u["found_files"] = f.unacknowledgedFound;
  u["damaged_files"] = f.unacknowledgedDamaged;
  u["absent_files"] = f.unacknowledgedAbsent ? ordered_json(*f.unacknowledgedAbsent) : ordered_json(nullptr);
  j["not_acknowledged"] = u;
  return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

}  // namespace

void runVerifyScript(const std::string& mode, const std::vector<std::string>& args,
                     const ScriptRunServices& services, std::atomic<int>& exitCode) {
  const RunSharing* sharing = services.sharing;
  const bool writesLog = sharing == nullptr || sharing->writesLog;
  ScriptLog log(services.clock);
  if (!openRunLog(log, args, sharing)) return;
  log.writeStartBanner();
  const auto startedSteady = std::chrono::steady_clock::now();
  RunRecord record;
  record.commandLine = args;
  record.verifyMode = true;
  record.started = std::chrono::system_clock::now();
  std::string reportPath = writesLog ? findReportPath(args) : std::string();
  if (!reportPath.empty()) reportPath = absolutePath(reportPath);
  std::string pagePath = writesLog ? findHtmlPath(args) : std::string();
  if (!pagePath.empty()) pagePath = absolutePath(pagePath);
  const auto stopAsked = [&services] { return services.stopAsked && services.stopAsked(); };

  VerifyResult result;
  VerifyJob job;
  // What the last /progress:json line gave, for the final line's interval figures.
  ReadFigures progressBefore;
  double progressBeforeSeconds = 0;
  std::string verifyText;
  // The end's one line on standard error: the line that ended the verify (a rejection, a root that
  // cannot be read), or under /progress:json the final progress line. A shared verify's lines are
  // its watcher's.
  ProgressFormat consoleForm = findProgressFormat(args);
  std::string endingText;
  const auto end = [&](std::optional<GenerationResult> code) {
    if (code) exitCode = toInt(*code);
    record.resultCode = exitCode.load();
    record.ended = std::chrono::system_clock::now();
    record.durationSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - startedSteady).count();
    record.verifyJson = verifyText;
    if (sharing != nullptr && sharing->conclude) {
      exitCode = sharing->conclude(exitCode.load(), record, log);
      record.resultCode = exitCode.load();
    }
    if (writesLog && !endingText.empty()) {
      printEnding(std::cerr, consoleForm, endingText, exitCode.load(), !record.rejection.empty());
    } else if (writesLog && consoleForm == ProgressFormat::Json &&
               (sharing == nullptr || !sharing->watchVerify)) {
      const int ended = exitCode.load();
      const ReadFigures figures{job.filesFound.load(), job.filesChecked.load(), job.bytesChecked.load(),
                                job.damagedBytes.load()};
      std::cerr << formatJsonReadLine(true, figures, progressBefore, record.verifySeconds,
                                      record.verifySeconds - progressBeforeSeconds, &ended) +
                       "\n"
                << std::flush;
    }
    if (!pagePath.empty()) writeRunPage(log, pagePath, record);
    if (!reportPath.empty()) {
      const Status written = writeReport(reportPath, record);
      if (!written.ok()) log.writeLine(reportFailureLine(reportPath, written));
    }
    log.writeEndBanner();
  };

  std::string planNote;
  GenerationJob runJob;
  ParseOutcome runParsed;
  VerifyParse parsed = parseVerify(mode, args, runJob, runParsed);
  if (parsed.accepted && sharing != nullptr && !sharing->rejection.empty()) {
    parsed.accepted = false;
    parsed.rejection = "Invalid script. " + sharing->rejection;
  }
  if (!parsed.accepted) {
    log.writeLine(parsed.rejection);
    record.rejection = parsed.rejection;
    endingText = parsed.rejection;
    return end(stopAsked() ? std::optional(GenerationResult::Stopped) : std::nullopt);
  }
  record.extensions = parsed.extensions;
  record.extensions.reportPath = reportPath;
  consoleForm = parsed.extensions.progress;
  // With a flush journal: the files the storage acknowledged, and the run's seed they carry.
  std::optional<JournalContents> journal;
  const std::string journalPath =
      parsed.extensions.journalPath.empty() ? std::string() : absolutePath(parsed.extensions.journalPath);
  bool seedFromJournal = false;
  if (!journalPath.empty()) {
    JournalContents contents;
    std::string why;
    if (!readJournal(journalPath, contents, why)) {
      const std::string line = "Can not read journal '" + journalPath + "': " + why + ".";
      log.writeLine(line);
      endingText = line;
      return end(GenerationResult::PathFailed);
    }
    if (!parsed.seed) {
      parsed.seed = contents.header.seed;
      seedFromJournal = true;
    }
    journal = std::move(contents);
  }

  std::string verifiedRoot = absolutePath(parsed.root);
  std::optional<std::uint64_t> verifiedSeed = parsed.seed;
  if (sharing != nullptr && sharing->verifyPart) sharing->verifyPart(verifiedRoot, verifiedSeed);
  job.rootFolder = withTrailingSeparator(verifiedRoot);
  job.seed = verifiedSeed;
  job.readers = parsed.threads;
  // The same count tells the run's writers: each may have left a file cut short.
  job.runWriters = parsed.threads;
  record.threads = parsed.threads;
  log.writeLine("Verify of '" + withoutTrailingSeparator(job.rootFolder) + "' started.");
  if (parsed.withRunParameters) {
    // A run by a profile is re-derived by the same profile.
    if (const std::string refused = attachProfile(runJob, parsed.extensions); !refused.empty()) {
      log.writeLine(refused);
      record.rejection = refused;
      endingText = refused;
      return end(std::nullopt);
    }
    runJob.rootFolder = job.rootFolder;
    if (sharing != nullptr && sharing->shareVerifiedJob) sharing->shareVerifiedJob(runJob);
    completeScriptJob(runJob, runParsed, services.fs);
    record.job = &runJob;
    record.byAllSize = runJob.byAllSize;
    // The parameters tell whether the run only allocated its files, and, with the seed, which
    // files it made: the engine re-derives them once the tree's bytes are known.
    job.planAllocationOnly = !runJob.fillRandom;
    job.allocationOnlyKnown = true;
    // Several writers by files number fill several folders at once and share /limsize file by file.
    const bool limitByTiming = !runJob.byAllSize && runJob.useLimitSize && job.runWriters > 1;
    if (limitByTiming) job.runLimitBytes = runJob.limitSize;
    if (!job.seed) {
      log.writeLine("Missing and unexpected files are told only with the run's /seed.");
    } else {
      job.planner = [&, limitByTiming](
                        std::int64_t bytesInTree,
                        const std::vector<std::string>& folders) -> std::optional<std::vector<PlannedFile>> {
        // The run's line parsed afresh: the plan uses its job up, and the sizes are the ones given,
        // not those completed against the volume as it is now (full).
        GenerationJob planJob;
        ParseOutcome planParsed = parseScript(mode, parsed.runArgs, planJob);
        const FoundRun found{bytesInTree, folders, job.runWriters, runJob.allPartition,
                             std::max<std::int64_t>(planJob.maxFileSize, planJob.minFileSize)};
        planJob.rootFolder = job.rootFolder;
        planJob.population = runJob.population;
        if (sharing != nullptr && sharing->shareVerifiedJob) sharing->shareVerifiedJob(planJob);
        std::string why;
        auto plan = planFoundRun(
            planJob, services.fs, found,
            [&](GenerationJob& j, FileSystem& planFs) {
              completeScriptJob(j, planParsed, planFs);
              // One writer stops at the limit in plan order, but n writers reach into up to n
              // folders at once: the plan goes on as far as any of them can have got (the full
              // folders before the last one begun hold no more than the limit and one file, the
              // others are at most n folders of the largest count of largest files).
              if (limitByTiming) j.limitSize = beyondWritersReach(j, job.runWriters);
            },
            why);
        planNote = why;
        return plan;
      };
    }
  }
  if (stopAsked()) return end(GenerationResult::Stopped);

  const auto verifyStarted = std::chrono::steady_clock::now();
  {
    // The speed record is sampled only for a report: a verify without one pays nothing for it.
    std::optional<RateSampler> sampler;
    if (!reportPath.empty() || !pagePath.empty()) sampler.emplace([&job] { return sampleOf(job); });
    std::thread worker([&] { runVerify(job, services.fs, result); });
    if (sharing != nullptr && sharing->watchVerify) {
      sharing->watchVerify(job);
    } else {
      showProgress(job, parsed.extensions.progress, stopAsked, progressBefore, progressBeforeSeconds);
    }
    worker.join();
    if (sampler) record.series = sampler->finish();
  }
  record.verifySeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - verifyStarted).count();
  const double readSeconds = record.verifySeconds;
  result.planNote = planNote;
  // The user gave no seed: saying "given" would credit the line with what the journal told.
  if (seedFromJournal && result.seedSource == SeedSource::Given) result.seedSource = SeedSource::FromJournal;
  record.readerTimes = result.readerTimes;
  if (!planNote.empty()) log.writeLine("The run's files: " + planNote + ".");
  verifyText = verifyJson(result, job.rootFolder);
  record.verifiedBytes = job.bytesChecked.load();
  record.verifiedFiles = result.files;
  if (result.rootMissing) {
    log.writeLine(result.rootError);
    endingText = result.rootError;
    return end(GenerationResult::PathFailed);
  }
  std::optional<FlushFigures> flush;
  if (journal) {
    const std::atomic<bool> stop{result.stopped || stopAsked()};
    flush = flushFigures(journalPath, *journal,
                         checkAcknowledgedFiles(services.fs, job.rootFolder, journal->header.seed,
                                                journal->header.shape, journal->header.filled, journal->files, stop),
                         result);
    record.flushJournalJson = flushJson(*flush);
  }
  const std::string summary = formatVerifySummary(result);
  {
    // A shared run checks each part with a seed derived from the one given: the console names the
    // seed the user gave, as the report's parameters do.
    const std::uint64_t checkedSeed = result.seed;
    if (sharing != nullptr && parsed.seed && result.seedSource == SeedSource::Given) {
      result.seed = *parsed.seed;
    }
    // The read rate is the console's alone: the log keeps its lines as they were.
    std::string text = summary + "\n" +
                       formatRateSentence("Read", job.bytesChecked.load(), job.filesChecked.load(), readSeconds, false) +
                       "\n";
    for (const auto& l : formatVerifyDetails(result)) text += l + "\n";
    result.seed = checkedSeed;
    if (writesLog) {
      std::cout << text << std::flush;
    } else if (sharing->console) {
      sharing->console(text);
    }
  }
  log.writeLine(summary + ".");
  for (const auto& l : formatVerifyLogLines(result)) log.writeLine(l);
  if (flush) {
    // Only what the storage acknowledged can be lost; the rest is counted, never damage.
    if (writesLog) {
      std::cout << flush->summary() << "\n";
      for (std::size_t i = 0; i < flush->verdict.lost.size() && i < 10; ++i) {
        std::cout << "  lost after flush: " << escapeConsoleText(flush->verdict.lost[i].path) << ": " << flush->verdict.lost[i].what << "\n";
      }
      std::cout << flush->unacknowledgedLine() << "\n" << std::flush;
    }
    log.writeLine(flush->summary() + ".");
    for (std::size_t i = 0; i < flush->verdict.lost.size() && i < 100; ++i) {
      log.writeLine("Lost after flush: " + flush->verdict.lost[i].path + ": " + flush->verdict.lost[i].what + ".");
    }
    if (flush->verdict.lost.size() > 100) {
      log.writeLine("... and " + grouped(static_cast<std::int64_t>(flush->verdict.lost.size()) - 100) +
                    " more files lost after flush.");
    }
    if (result.stopped || flush->verdict.stopped) {
      log.writeLine("Verify stopped before every file was checked.");
      return end(GenerationResult::Stopped);
    }
    return end(flush->lost() > 0 ? GenerationResult::DataDamaged : GenerationResult::Done);
  }
  if (result.stopped) {
    log.writeLine("Verify stopped before every file was checked.");
    return end(GenerationResult::Stopped);
  }
  // A verify that found nothing a run made proves nothing: it never passes.
  if (result.nothingGenerated()) log.writeLine("Nothing generated was found in '" + withoutTrailingSeparator(job.rootFolder) + "'.");
  end(result.anyDamage() || result.nothingGenerated() ? GenerationResult::DataDamaged : GenerationResult::Done);
}

}  // namespace quillet
