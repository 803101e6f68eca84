#include "script/measure_run.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "engine/population_fit.h"
#include "engine/rate_text.h"
#include "platform/ascii.h"
#include "platform/atomic_file.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/console_progress.h"
#include "script/population_profile_json.h"
#include "script/read_line_pacer.h"
#include "script/run_frame.h"
#include "script/run_report.h"
#include "script/script_log.h"
#include "script/script_parser.h"
#include "script/verify_run.h"

namespace quillet {
namespace {

std::string ratioText(double r) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f:1", r);
  return text;
}

// The keys of /m: a block size in plain digits, files of one character at least.
const KeyRule kRoot{keys::kRoot, Form::File};
const KeyRule kDedupeBlock{keys::kDedupeBlock, Form::BlockSize};
const KeyRule kReport{keys::kReport, Form::File};
const KeyRule kSaveProfile{keys::kSaveProfile, Form::File};
const KeyRule kProgress{keys::kProgress, Form::Progress};
const std::vector<const KeyRule*> kMeasureRules{&kRoot, &kDedupeBlock, &kReport, &kSaveProfile, &kProgress};

MeasureParse rejected(std::string message) {
  MeasureParse p;
  p.rejection = std::move(message);
  return p;
}

std::string figureText(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", v);
  return text;
}

// The value at p of a measured distribution's grid (0 when it has none).
double quantileAt(const std::vector<Quantile>& quantiles, double p) {
  for (const Quantile& q : quantiles) {
    if (std::abs(q.p - p) < 1e-9) return q.value;
  }
  return 0;
}

std::string wholeText(double v) { return std::to_string(static_cast<long long>(std::llround(v))); }

// The entry path names in its folder's listing, found without following a link at path itself;
// empty when the folder cannot be listed or holds no such entry. A volume's root names no entry.
std::optional<FolderEntry> entryOf(FileSystem& fs, const std::string& path) {
  const std::string bare = withoutTrailingSeparator(path);
  const std::string folder = folderPart(bare);
  if (folder.empty() || folder.size() >= bare.size()) return std::nullopt;
  const std::string name = bare.substr(folder.size());
  auto reader = fs.openFolder(withoutTrailingSeparator(folder));
  if (!reader.ok()) return std::nullopt;
  FolderEntry entry;
  for (;;) {
    const auto more = reader.value()->next(entry);
    if (!more.ok() || !more.value()) return std::nullopt;
#ifdef _WIN32
    if (asciiUpper(entry.name) == asciiUpper(name)) return entry;
#else
    if (entry.name == name) return entry;
#endif
  }
}

// Why the profile cannot go to path, found before the walk so that a long walk is not lost; empty
// when it may. As a report is written: the folder must exist, and a file there is replaced only
// when it is a regular one (a link is followed to one).
std::string profileTargetProblem(FileSystem& fs, const std::string& path) {
  const std::string folder = folderPart(path);
  if (folder.empty() || !fs.isFolder(withoutTrailingSeparator(folder))) return "its folder does not exist";
  if (endsWithSeparator(path) || fs.isFolder(path)) return "it is a folder";
  const auto entry = entryOf(fs, path);
  if (entry && (entry->isDirectory || entry->isSpecial)) return "it is not a regular file";
  return std::string();
}

}  // namespace

MeasureParse parseMeasure(const ScriptArgs& script) {
  const KeyReading reading = readKeys(script.parameters, kMeasureRules);
  if (!reading.accepted) return rejected(readingFailureText(reading.message, reading.unrecognisedKey));
  MeasureParse p;
  if (const KeyValue* v = reading.find(kMeasureRules, keys::kRoot)) p.root = v->quotedText;
  if (const KeyValue* v = reading.find(kMeasureRules, keys::kDedupeBlock)) {
    p.blockSize = static_cast<std::uint32_t>(v->size);
  }
  if (const KeyValue* v = reading.find(kMeasureRules, keys::kReport)) p.reportPath = v->quotedText;
  if (const KeyValue* v = reading.find(kMeasureRules, keys::kSaveProfile)) p.profilePath = v->quotedText;
  if (const KeyValue* v = reading.find(kMeasureRules, keys::kProgress)) p.progress = v->progress;
  if (reading.find(kMeasureRules, keys::kRoot) == nullptr)
    return rejected("Invalid script. /root parameter is absent.");
  p.accepted = true;
  return p;
}

std::vector<std::string> formatMeasure(const std::string& root, std::uint32_t blockSize,
                                       const MeasureResult& r) {
  const std::string unit = std::to_string(blockSize) + "-byte blocks";
  std::vector<std::string> lines;
  lines.push_back("Measured '" + root + "': " + std::to_string(r.files) + " files, " +
                  std::to_string(r.bytes) + " bytes, " + std::to_string(r.blocks) + " blocks of " +
                  std::to_string(blockSize) + " bytes.");
  lines.push_back("Compression (" + unit + " each on its own): zstd-1 " + ratioText(r.zstdRatio()) +
                  ", lz4 " + ratioText(r.lz4Ratio()) + ".");
  lines.push_back("Dedupe (" + unit + " aligned to file offsets): " + ratioText(r.dedupeRatio()) + ", " +
                  std::to_string(r.uniqueBlocks) + " unique of " + std::to_string(r.blocks) + " blocks.");
  if (r.unreadableFiles > 0 || !r.problems.empty()) {
    lines.push_back("Not measured: " + std::to_string(r.unreadableFiles) + " unreadable files, " +
                    std::to_string(r.problems.size()) + " problems" +
                    (r.problems.empty() ? std::string(".") : "; first: " + r.problems.front()));
  }
  if (r.stopped) lines.push_back("Measure stopped: the figures cover the part measured.");
  return lines;
}

std::string measureJson(const MeasureResult& r) {
  nlohmann::ordered_json j;
  j["files_measured"] = r.files;
  j["measured_bytes"] = r.bytes;
  j["total_blocks"] = r.blocks;
  j["unique_blocks"] = r.uniqueBlocks;
  j["zstd1_compressed_bytes"] = r.zstdBytes;
  j["lz4_compressed_bytes"] = r.lz4Bytes;
  j["zstd1_ratio"] = r.zstdRatio();
  j["lz4_ratio"] = r.lz4Ratio();
  j["dedupe_ratio"] = r.dedupeRatio();
  j["unreadable_files"] = r.unreadableFiles;
  j["problems"] = r.problems;
  j["stopped"] = r.stopped;
  j["root_error"] =
      r.rootError.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.rootError);
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::vector<std::string> formatProfile(const std::string& root, const PopulationWalkResult& r) {
  const PopulationProfile& p = r.profile;
  const SizeDistribution& s = p.fileSizes;
  std::vector<std::string> lines;
  lines.push_back("Profiled '" + root + "': " + std::to_string(p.files) + " files, " +
                  std::to_string(p.folders) + " folders, " + std::to_string(p.bytes) + " bytes.");
  std::string sizes = "File sizes: median " + wholeText(quantileAt(s.quantiles, 0.5)) +
                      " bytes, 90th percentile " + wholeText(quantileAt(s.quantiles, 0.9)) + ", 99th " +
                      wholeText(quantileAt(s.quantiles, 0.99)) + ", empty " + percentText(s.zeroShare) +
                      "; lognormal body mu " + figureText(s.bodyMu) + ", sigma " + figureText(s.bodySigma) +
                      "; ";
  if (s.tailShare > 0) {
    sizes += "Pareto tail " + percentText(s.tailShare) + " of files from " + wholeText(s.tailStart) +
             " bytes, alpha " + figureText(s.tailAlpha);
  } else {
    sizes += "no Pareto tail";
  }
  lines.push_back(sizes + " (fit distance " + figureText(r.sizeFitDistance) + ").");
  lines.push_back("Files per folder: median " + wholeText(quantileAt(p.filesPerFolder.quantiles, 0.5)) +
                  ", 99th percentile " + wholeText(quantileAt(p.filesPerFolder.quantiles, 0.99)) + ", most " +
                  wholeText(quantileAt(p.filesPerFolder.quantiles, 1)) + "; file depth: median " +
                  wholeText(quantileAt(p.fileDepth.quantiles, 0.5)) + ", deepest " +
                  wholeText(quantileAt(p.fileDepth.quantiles, 1)) + ".");
  if (!p.extensions.empty()) {
    std::string top = "Top extensions:";
    for (std::size_t i = 0; i < p.extensions.size() && i < 5; ++i) {
      const ExtensionShare& e = p.extensions[i];
      top += (i > 0 ? ", " : " ") + (e.extension.empty() ? std::string("(none)") : e.extension) + " " +
             percentText(e.share);
    }
    lines.push_back(top + "; other " + percentText(p.otherExtensionsShare) + ".");
  }
  if (r.problemCount > 0) {
    lines.push_back("Not profiled: " + std::to_string(r.problemCount) +
                    " problems; first: " + r.problems.front());
  }
  if (r.stopped) lines.push_back("Profile stopped: the figures cover the part walked.");
  return lines;
}

std::string profileReportJson(const std::string& path, const PopulationWalkResult& r,
                              const std::string& writeError) {
  const PopulationProfile& p = r.profile;
  nlohmann::ordered_json j;
  j["profile_file"] = path;
  j["written"] = writeError.empty();
  j["write_error"] =
      writeError.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(writeError);
  j["files_profiled"] = p.files;
  j["folders_profiled"] = p.folders;
  j["profiled_bytes"] = p.bytes;
  j["median_file_size_bytes"] = quantileAt(p.fileSizes.quantiles, 0.5);
  j["tail_share"] = p.fileSizes.tailShare;
  j["size_fit_ks_distance"] = r.sizeFitDistance;
  j["extensions_listed"] = p.extensions.size();
  j["sampled_files"] = r.sampledFiles;
  j["problem_count"] = r.problemCount;
  j["problems"] = r.problems;
  j["stopped"] = r.stopped;
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

int runMeasureScript(const ScriptArgs& script, const ScriptRunServices& services) {
  RunFrame frame(script, services, nullptr);
  if (!frame.open()) return 0;
  ScriptLog& log = frame.log();
  RunRecord& record = frame.record();
  record.measureMode = true;
  // Read before parsing, as a run reads it: a rejected line gets its report and its console line.
  frame.wantReport(false);
  const std::string& reportPath = frame.reportPath();
  // The /progress:json lines, the final one's interval counted from the last of them.
  ReadLinePacer jsonLines(false);
  double measureSeconds = 0;
  MeasureJob job;
  frame.setFinalLine([&](int code) {
    const ReadFigures figures{0, job.filesMeasured.load(), job.bytesMeasured.load(), 0};
    std::cerr << jsonLines.finalLine(figures, measureSeconds, code) + "\n" << std::flush;
  });
  const auto end = [&](int code) { return frame.end(code); };

  const MeasureParse parsed = parseMeasure(script);
  if (!parsed.accepted) {
    frame.reject(parsed.rejection);
    return end(0);
  }
  frame.setConsoleForm(parsed.progress);
  job.rootFolder = withTrailingSeparator(absolutePath(parsed.root));
  job.blockSize = parsed.blockSize;
  {
    nlohmann::ordered_json p;
    p["root_folder"] = job.rootFolder;
    p["dedupe_block_bytes"] = parsed.blockSize;
    p["report_file"] = reportPath;
    p["progress"] = progressWord(parsed.progress);
    record.measureParametersJson = p.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }
  const std::string root = withoutTrailingSeparator(job.rootFolder);
  MeasureResult result;
  // A walk (the measure's or the profile's) runs on its own thread; this one passes a stop signal on
  // to it between its reads and prints the /progress:json lines from the figures it counts.
  const auto walkOnItsOwnThread = [&](const std::function<void()>& walkTree, std::atomic<bool>& stopRequested,
                                      const std::function<ReadFigures()>& figuresNow,
                                      std::chrono::milliseconds poll) {
    const auto started = std::chrono::steady_clock::now();
    jsonLines.start(started);
    std::atomic<bool> walked{false};
    std::thread walker([&] {
      walkTree();
      walked = true;
    });
    while (!walked.load()) {
      std::this_thread::sleep_for(poll);
      if (services.stopAsked && services.stopAsked()) stopRequested = true;
      if (parsed.progress != ProgressFormat::Json) continue;
      const std::string jsonLine = jsonLines.lineAt(std::chrono::steady_clock::now(), figuresNow);
      if (!jsonLine.empty()) std::cerr << jsonLine + "\n" << std::flush;
    }
    walker.join();
    measureSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  int code = toInt(GenerationResult::Done);
  if (!parsed.profilePath.empty()) {
    const std::string profilePath = absolutePath(parsed.profilePath);
    {
      auto p = nlohmann::ordered_json::parse(record.measureParametersJson);
      p["profile_file"] = profilePath;
      record.measureParametersJson = p.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    }
    const auto fail = [&](const std::string& text) {
      frame.endingLine(text);
      return end(toInt(GenerationResult::PathFailed));
    };
    // A link is never followed, the root's own included: it may lead anywhere.
    if (const auto entry = entryOf(services.fs, root); entry && entry->isLink) {
      return fail("Profile failed: the root '" + root + "' is a link; give the folder it leads to.");
    }
    if (const std::string problem = profileTargetProblem(services.fs, profilePath); !problem.empty()) {
      return fail("Can not write profile '" + profilePath + "': " + problem + ".");
    }
    log.writeLine("Profile of '" + root + "' started.");
    PopulationWalkJob walk;
    walk.rootFolder = job.rootFolder;
    walk.blockSize = parsed.blockSize;
    PopulationWalkResult profiled;
    walkOnItsOwnThread([&] { runPopulationWalk(walk, services.fs, profiled); }, walk.stopRequested,
                       [&] {
                         return ReadFigures{0, walk.filesSeen.load(), walk.bytesSeen.load(), 0};
                       },
                       std::chrono::milliseconds(10));
    job.filesMeasured = walk.filesSeen.load();
    job.bytesMeasured = walk.bytesSeen.load();
    if (profiled.rootMissing) {
      return fail("Profile failed: the root cannot be read: " + profiled.rootError + ".");
    }
    for (const std::string& line : formatProfile(root, profiled)) {
      std::cout << line << "\n";
      log.writeLine(line);
    }
    // The profile says where its figures come from, but never the path: that is the tree's own.
    profiled.profile.name = "measured";
    profiled.profile.source = "quillet /m /saveprofile";
    const Status written = replaceFileAtomically(profilePath, populationProfileJson(profiled.profile));
    std::string writeError;
    if (written.ok()) {
      const std::string line = "Profile written to '" + profilePath + "'.";
      std::cout << line << "\n";
      log.writeLine(line);
    } else {
      writeError = reportFailureLine(profilePath, written);
      writeError.replace(0, std::string("Can not write report").size(), "Can not write profile");
    }
    std::cout.flush();
    record.savedProfileJson = profileReportJson(profilePath, profiled, writeError);
    if (!writeError.empty()) return fail(writeError);
    return end(profiled.stopped ? toInt(GenerationResult::Stopped) : toInt(GenerationResult::Done));
  }
  if (!measureAvailable()) {
    runMeasure(job, services.fs, result);
    log.writeLine("Measure is not available: " + result.rootError + ".");
    frame.setEndingText(result.rootError);
    code = toInt(GenerationResult::PathFailed);
  } else {
    log.writeLine("Measure of '" + root + "' started.");
    walkOnItsOwnThread([&] { runMeasure(job, services.fs, result); }, job.stopRequested,
                       [&] {
                         return ReadFigures{0, job.filesMeasured.load(), job.bytesMeasured.load(), 0};
                       },
                       std::chrono::milliseconds(50));
    if (result.rootMissing) {
      log.writeLine("Measure failed: the root cannot be read: " + result.rootError + ".");
      frame.setEndingText("the root cannot be read: " + result.rootError);
      code = toInt(GenerationResult::PathFailed);
    } else {
      record.measureJson = measureJson(result);
      for (const std::string& line : formatMeasure(root, parsed.blockSize, result)) {
        std::cout << line << "\n";
        log.writeLine(line);
      }
      // The console's alone: the log keeps its lines as they were.
      std::cout << formatRateSentence("Read", result.bytes, result.files, measureSeconds, false) << ".\n";
      std::cout.flush();
      if (result.stopped) code = toInt(GenerationResult::Stopped);
    }
  }
  return end(code);
}

}  // namespace quillet
