#include "script/verify_run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/rate_series.h"
#include "engine/rate_text.h"
#include "engine/size_text.h"
#include "engine/verify_plan.h"
#include "platform/ascii.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/console_progress.h"
#include "script/report_page.h"
#include "script/run_report.h"
#include "script/script_log.h"

namespace quillet {
namespace {

std::string systemPath(std::string relative) {
  if (kSeparator != '/') std::replace(relative.begin(), relative.end(), '/', kSeparator);
  return relative;
}

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
    case SeedSource::None: break;
  }
  return "none: no file's first block carries one";
}

const char* seedSourceWord(SeedSource s) {
  switch (s) {
    case SeedSource::Given: return "given";
    case SeedSource::FromData: return "from_data";
    case SeedSource::None: break;
  }
  return "none";
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
  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string key = asciiUpper(keyOf(args[i]));
    const std::string value = valueOf(args[i]);
    if (key == "/ROOT") {
      if (rootSeen) return reject("Repitition /root parameter.");
      if (value.empty()) return reject("Root can't be empty.");
      if (value.front() != '\'' || value.back() != '\'' || value.size() < 2) {
        return reject("Root parameter must be in ' symbols.");
      }
      out.root = value.substr(1, value.size() - 2);
      if (out.root.empty()) return reject("Root can't be empty.");
      rootSeen = true;
    } else if (key == "/SEED") {
      if (seedSeen) return reject("Repitition /seed parameter.");
      if (value.empty()) return reject("Seed can't be empty.");
      std::uint64_t seed = 0;
      if (!readSeed(value, seed)) return reject("Incorrect seed, a whole number from 0 to 18446744073709551615 expected.");
      out.seed = seed;
      seedSeen = true;
    } else if (key == "/REPORT") {
      if (reportSeen) return reject("Repitition /report parameter.");
      if (value.empty()) return reject("Report can't be empty.");
      if (value.front() != '\'' || value.back() != '\'' || value.size() < 2) {
        return reject("Report parameter must be in ' symbols.");
      }
      if (value.size() < 3) return reject("Report can't be empty.");
      out.extensions.reportPath = value.substr(1, value.size() - 2);
      reportSeen = true;
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

std::string formatVerifySummary(const VerifyResult& r) {
  std::string s = "Data OK: " + formatSize(r.intactBytes()) + " in " + filesText(r.classFiles[0]);
  for (int c = 1; c < kBlockClasses; ++c) {
    const auto i = static_cast<std::size_t>(c);
    s += "; " + std::string(blockClassName(static_cast<BlockClass>(c))) + " " + formatSize(r.classBytes[i]);
    if (r.classFiles[i] > 0) s += " in " + filesText(r.classFiles[i]);
  }
  if (r.truncatedFiles > 0) s += "; truncated " + filesText(r.truncatedFiles);
  if (r.extendedFiles > 0) s += "; extended " + filesText(r.extendedFiles);
  if (r.allocationOnlyFiles > 0) {
    s += "; allocation-only " + formatSize(r.allocationOnlyBytes) + " in " + filesText(r.allocationOnlyFiles);
    if (r.unreservedFiles > 0) s += " (" + grouped(r.unreservedFiles) + " without their room)";
  }
  if (r.unreadableFiles > 0) s += "; unreadable " + filesText(r.unreadableFiles);
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
    lines.push_back("Not made: " + filesText(r.missingTailAllowed) + " after the run ended early (" + r.tailReason +
                    ")");
  }
  for (const auto& file : r.cutShortFiles) lines.push_back("Cut short where the run ended: " + file);
  for (const auto& e : r.listingErrors) lines.push_back("Not listed: " + e);
  if (!r.planNote.empty()) lines.push_back("The run's files: " + r.planNote);
  std::size_t shown = 0;
  for (const auto& f : r.damaged) {
    if (shown >= firstBlocks) break;
    if (f.unreadable) {
      lines.push_back("  " + f.relativePath + ": unreadable: " + f.readError);
      ++shown;
      continue;
    }
    if (f.sizeState != SizeState::Right) {
      lines.push_back("  " + f.relativePath + ": " + sizeStateText(f.sizeState) + ": " + grouped(f.length) +
                      " bytes, its blocks carry " + grouped(f.expect.size));
      ++shown;
    }
    if (f.allocationOnly && f.unreservedBytes > 0) {
      lines.push_back("  " + f.relativePath + ": allocation-only, " + grouped(f.unreservedBytes) +
                      " bytes without reserved room");
      ++shown;
    }
    for (const auto& range : f.tally.ranges) {
      if (shown >= firstBlocks) break;
      lines.push_back("  " + f.relativePath + " at " + grouped(range.offset) + ": " + blockClassName(range.kind) +
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
    lines.push_back("  missing: " + path);
  }
  std::size_t unexpectedShown = 0;
  for (const auto& path : r.unexpected) {
    if (unexpectedShown++ >= firstBlocks) break;
    lines.push_back("  unexpected: " + path);
  }
  return lines;
}

std::vector<std::string> formatVerifyLogLines(const VerifyResult& r, std::size_t cap) {
  std::vector<std::string> lines;
  std::size_t total = r.damaged.size() + r.missing.size() + r.unexpected.size();
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
    lines.push_back("Unexpected file '" + path + "'.");
  }
  if (total > lines.size()) lines.push_back(grouped(static_cast<std::int64_t>(total - lines.size())) +
                                            " more damaged, missing or unexpected files left out of the log.");
  return lines;
}

namespace {

nlohmann::ordered_json identityJson(const BlockIdentity& id) {
  return {{"seed", id.seed}, {"file_id", id.fileId}, {"file_size_bytes", id.fileSize}, {"offset_bytes", id.offset}};
}

// The verify part of the report: per-class bytes and files, and every damaged file with its
// merged damaged ranges (capped per file).
std::string verifyJson(const VerifyResult& r) {
  using nlohmann::ordered_json;
  ordered_json j;
  j["root_folder"] = "";
  j["seed"] = r.seedSource == SeedSource::None ? ordered_json(nullptr) : ordered_json(r.seed);
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
  j["cut_short_file"] = r.cutShort.empty() ? ordered_json(nullptr) : ordered_json(r.cutShort);
  j["cut_short_files"] = r.cutShortFiles;
  ordered_json damaged = ordered_json::array();
  for (const auto& f : r.damaged) {
    ordered_json d;
    d["path"] = f.relativePath;
    d["length_bytes"] = f.length;
    d["carried_size_bytes"] = f.expect.sizeFromBlocks ? ordered_json(f.expect.size) : ordered_json(nullptr);
    d["size"] = sizeStateText(f.sizeState);
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
void showProgress(VerifyJob& job, ProgressFormat format, const std::function<bool()>& stopAsked) {
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
      nlohmann::ordered_json j;
      j["schema"] = kProgressSchema;
      j["stage"] = "verifying";
      j["elapsed_seconds"] = std::chrono::duration<double>(now - started).count();
      j["files_found"] = job.filesFound.load();
      j["files_checked"] = job.filesChecked.load();
      j["bytes_checked"] = job.bytesChecked.load();
      j["damaged_bytes"] = job.damagedBytes.load();
      std::cerr << j.dump() + "\n" << std::flush;
      lastLine = now;
    } else if (terminal ? since >= std::chrono::milliseconds(100) : since >= std::chrono::seconds(5)) {
      std::cerr << (terminal ? "\r" + line() + "\x1b[K" : line() + "\n") << std::flush;
      lineOpen = terminal;
      lastLine = now;
    }
  }
  if (lineOpen) std::cerr << "\r" << line() << "\x1b[K\n" << std::flush;
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
  std::string verifyText;
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
    if (!pagePath.empty()) writeRunPage(log, pagePath, record);
    if (!reportPath.empty()) {
      const Status written = writeReport(reportPath, record);
      if (!written.ok()) log.writeLine("Can not write report '" + reportPath + "': " + written.message() + ".");
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
    return end(stopAsked() ? std::optional(GenerationResult::Stopped) : std::nullopt);
  }
  record.extensions = parsed.extensions;
  record.extensions.reportPath = reportPath;

  VerifyJob job;
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
    runJob.rootFolder = job.rootFolder;
    if (sharing != nullptr && sharing->shareVerifiedJob) sharing->shareVerifiedJob(runJob);
    completeScriptJob(runJob, runParsed, services.fs);
    record.job = &runJob;
    record.byAllSize = runJob.byAllSize;
    // The parameters tell whether the run only allocated its files, and, with the seed, which
    // files it made: the engine re-derives them once the tree's bytes are known.
    job.planAllocationOnly = !runJob.fillRandom;
    job.allocationOnlyKnown = true;
    if (!job.seed) {
      log.writeLine("Missing and unexpected files are told only with the run's /seed.");
    } else {
      job.planner = [&](std::int64_t bytesInTree,
                        const std::vector<std::string>& folders) -> std::optional<std::vector<PlannedFile>> {
        PlanVolume volume;
        FileSystem& fs = services.fs;
        const std::string root = withoutTrailingSeparator(job.rootFolder);
        if (const auto c = fs.clusterSize(root); c.ok() && c.value() > 0) volume.clusterSize = c.value();
        if (const auto n = fs.fileSystemName(root); n.ok()) volume.fileSystemName = n.value();
        // A run that filled the whole volume had the room its files take now besides what is free;
        // any other run ends by its own figures.
        volume.freeBytes = INT64_C(1) << 60;
        volume.totalBytes = INT64_C(1) << 61;
        if (runJob.allPartition) {
          if (const auto space = fs.volumeSpace(root); space.ok()) {
            volume.freeBytes = space.value().availableToCaller + bytesInTree;
            volume.totalBytes = space.value().total;
          }
        }
        GenerationJob planJob;
        ParseOutcome planParsed = parseScript(mode, parsed.runArgs, planJob);
        planJob.rootFolder = job.rootFolder;
        if (sharing != nullptr && sharing->shareVerifiedJob) sharing->shareVerifiedJob(planJob);
        std::string why;
        auto plan = planRun(
            planJob, volume,
            [&](GenerationJob& j, FileSystem& planFs) {
              for (const auto& folder : folders) (void)planFs.createFolderBelow(j.rootFolder, systemPath(folder));
              completeScriptJob(j, planParsed, planFs);
            },
            why);
        planNote = why;
        return plan;
      };
    }
  }
  if (stopAsked()) return end(GenerationResult::Stopped);

  const auto readStarted = std::chrono::steady_clock::now();
  {
    // The speed record is sampled only for a report: a verify without one pays nothing for it.
    std::optional<RateSampler> sampler;
    if (!reportPath.empty() || !pagePath.empty()) sampler.emplace([&job] {
      RateSample s;
      s.bytes = job.bytesChecked.load(std::memory_order_relaxed);
      s.files = job.filesChecked.load(std::memory_order_relaxed);
      s.damagedBytes = job.damagedBytes.load(std::memory_order_relaxed);
      return s;
    });
    std::thread worker([&] { runVerify(job, services.fs, result); });
    if (sharing != nullptr && sharing->watchVerify) {
      sharing->watchVerify(job);
    } else {
      showProgress(job, parsed.extensions.progress, stopAsked);
    }
    worker.join();
    if (sampler) record.series = sampler->finish();
  }
  const double readSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - readStarted).count();
  result.planNote = planNote;
  record.readerTimes = result.readerTimes;
  if (!planNote.empty()) log.writeLine("The run's files: " + planNote + ".");
  verifyText = verifyJson(result);
  if (result.rootMissing) {
    log.writeLine(result.rootError);
    std::cerr << "quillet: " << result.rootError << "\n";
    return end(GenerationResult::PathFailed);
  }
  const std::string summary = formatVerifySummary(result);
  if (writesLog) {
    std::cout << summary << "\n";
    // The console's alone: the log keeps its lines as they were.
    std::cout << formatRateSentence("Read", job.bytesChecked.load(), job.filesChecked.load(), readSeconds, false)
              << "\n";
    for (const auto& l : formatVerifyDetails(result)) std::cout << l << "\n";
    std::cout << std::flush;
  }
  log.writeLine(summary + ".");
  for (const auto& l : formatVerifyLogLines(result)) log.writeLine(l);
  if (result.stopped) {
    log.writeLine("Verify stopped before every file was checked.");
    return end(GenerationResult::Stopped);
  }
  end(result.anyDamage() ? GenerationResult::DataDamaged : GenerationResult::Done);
}

}  // namespace quillet
