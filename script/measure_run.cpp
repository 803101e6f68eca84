#include "script/measure_run.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>

#include "engine/rate_text.h"
#include "platform/ascii.h"
#include "platform/atomic_file.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/script_log.h"

namespace quillet {
namespace {

std::string ratioText(double r) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f:1", r);
  return text;
}

bool quotedValue(const std::string& value, std::string& text) {
  if (value.size() < 3 || value.front() != '\'' || value.back() != '\'') return false;
  text = value.substr(1, value.size() - 2);
  return true;
}

MeasureParse rejected(std::string message) {
  MeasureParse p;
  p.rejection = std::move(message);
  return p;
}

}  // namespace

MeasureParse parseMeasure(const std::vector<std::string>& args) {
  MeasureParse p;
  bool root = false, block = false, report = false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    const auto colon = args[i].find(':');
    const std::string key = asciiUpper(args[i].substr(0, colon));
    const std::string value = colon == std::string::npos ? std::string() : args[i].substr(colon + 1);
    if (key == "/ROOT") {
      if (root) return rejected("Invalid script. Repitition /root parameter.");
      if (value.empty() || value == "''") return rejected("Invalid script. Root can't be empty.");
      if (!quotedValue(value, p.root)) return rejected("Invalid script. Root parameter must be in ' symbols.");
      root = true;
    } else if (key == "/DEDUPEBLOCK") {
      if (block) return rejected("Invalid script. Repitition /dedupeblock parameter.");
      if (value.empty()) return rejected("Invalid script. Dedupe block size can't be empty.");
      std::int64_t unit = 0;
      switch (asciiUpper(value.back())) {
        case 'B': unit = 1; break;
        case 'K': unit = 1024; break;
        case 'M': unit = 1048576; break;
        default: break;
      }
      const std::string digits = value.substr(0, value.size() - 1);
      std::int64_t n = 0;
      // At most seven digits are read, so the number cannot overflow however long the value.
      bool digitsOnly = !digits.empty() && digits.size() <= 7;
      for (std::size_t d = 0; digitsOnly && d < digits.size(); ++d) {
        if (digits[d] < '0' || digits[d] > '9') digitsOnly = false;
        n = n * 10 + (digits[d] - '0');
      }
      const std::int64_t size = n * unit;
      if (unit == 0 || !digitsOnly || size < kMinDedupeBlock || size > kMaxDedupeBlock || (size & (size - 1)) != 0) {
        return rejected("Invalid script. Incorrect dedupe block size, a power of two from 1K to 1M expected.");
      }
      p.blockSize = static_cast<std::uint32_t>(size);
      block = true;
    } else if (key == "/REPORT") {
      if (report) return rejected("Invalid script. Repitition /report parameter.");
      if (value.empty() || value == "''") return rejected("Invalid script. Report can't be empty.");
      if (!quotedValue(value, p.reportPath)) return rejected("Invalid script. Report parameter must be in ' symbols.");
      report = true;
    } else {
      return rejected("Invalid script parameter '" + args[i].substr(0, colon) + "'.");
    }
  }
  if (!root) return rejected("Invalid script. /root parameter is absent.");
  p.accepted = true;
  return p;
}

std::vector<std::string> formatMeasure(const std::string& root, std::uint32_t blockSize, const MeasureResult& r) {
  const std::string unit = std::to_string(blockSize) + "-byte blocks";
  std::vector<std::string> lines;
  lines.push_back("Measured '" + root + "': " + std::to_string(r.files) + " files, " + std::to_string(r.bytes) +
                  " bytes, " + std::to_string(r.blocks) + " blocks of " + std::to_string(blockSize) + " bytes.");
  lines.push_back("Compression (" + unit + " each on its own): zstd-1 " + ratioText(r.zstdRatio()) + ", lz4 " +
                  ratioText(r.lz4Ratio()) + ".");
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

std::string measureReport(const std::string& root, std::uint32_t blockSize, const MeasureResult& r, int resultCode) {
  nlohmann::ordered_json j;
  j["program"] = "quillet";
  j["mode"] = "measure";
  j["root"] = root;
  j["dedupe_block_bytes"] = blockSize;
  j["files"] = r.files;
  j["bytes"] = r.bytes;
  j["blocks"] = r.blocks;
  j["unique_blocks"] = r.uniqueBlocks;
  j["zstd1_bytes"] = r.zstdBytes;
  j["lz4_bytes"] = r.lz4Bytes;
  j["zstd1_ratio"] = r.zstdRatio();
  j["lz4_ratio"] = r.lz4Ratio();
  j["dedupe_ratio"] = r.dedupeRatio();
  j["unreadable_files"] = r.unreadableFiles;
  j["problems"] = r.problems;
  j["stopped"] = r.stopped;
  j["root_error"] = r.rootError.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.rootError);
  j["result_code"] = resultCode;
  return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

void runMeasureScript(const std::vector<std::string>& args, const ScriptRunServices& services,
                      std::atomic<int>& exitCode) {
  ScriptLog log(services.clock);
  if (!openRunLog(log, args, nullptr)) return;
  log.writeStartBanner();
  const MeasureParse parsed = parseMeasure(args);
  if (!parsed.accepted) {
    log.writeLine(parsed.rejection);
    std::cerr << "quillet: " << parsed.rejection << "\n";
    log.writeEndBanner();
    return;
  }
  MeasureJob job;
  job.rootFolder = withTrailingSeparator(absolutePath(parsed.root));
  job.blockSize = parsed.blockSize;
  const std::string root = withoutTrailingSeparator(job.rootFolder);
  MeasureResult result;
  int code = toInt(GenerationResult::Done);
  if (!measureAvailable()) {
    runMeasure(job, services.fs, result);
    log.writeLine("Measure is not available: " + result.rootError + ".");
    std::cerr << "quillet: " << result.rootError << "\n";
    code = toInt(GenerationResult::PathFailed);
  } else {
    log.writeLine("Measure of '" + root + "' started.");
    // Measuring runs here; a stop signal is passed on to the walk between its reads.
    std::atomic<bool> done{false};
    std::thread watcher([&] {
      while (!done) {
        if (services.stopAsked && services.stopAsked()) job.stopRequested = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    });
    const auto measureStarted = std::chrono::steady_clock::now();
    runMeasure(job, services.fs, result);
    const double measureSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - measureStarted).count();
    done = true;
    watcher.join();
    if (result.rootMissing) {
      log.writeLine("Measure failed: the root cannot be read: " + result.rootError + ".");
      std::cerr << "quillet: the root cannot be read: " << result.rootError << "\n";
      code = toInt(GenerationResult::PathFailed);
    } else {
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
  exitCode = code;
  if (!parsed.reportPath.empty()) {
    const std::string reportPath = absolutePath(parsed.reportPath);
    const Status written = replaceFileAtomically(reportPath, measureReport(root, parsed.blockSize, result, code));
    if (!written.ok()) log.writeLine("Can not write report '" + reportPath + "': " + written.message() + ".");
  }
  log.writeEndBanner();
}

}  // namespace quillet
