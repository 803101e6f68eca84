#include "script/probe_run.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>

#include "engine/generation_job.h"
#include "platform/ascii.h"
#include "platform/block_device.h"
#include "platform/path.h"
#include "script/run_frame.h"
#include "script/run_report.h"
#include "script/script_keys.h"
#include "script/script_log.h"

namespace quillet {
namespace {

// Requests in flight at once: a loop device, a USB stick and a disk all answer a batch far sooner
// than the same requests one by one.
constexpr unsigned kProbeIoThreads = 8;

ProbeParse rejected(std::string message) {
  ProbeParse p;
  p.rejection = std::move(message);
  return p;
}

// The keys of /probe: /destroy takes no value.
const KeyRule kDevice{keys::kDevice, Form::File};
const KeyRule kDestroy{keys::kDestroy, Form::BareFlag};
const KeyRule kReport{keys::kReport, Form::File};
const std::vector<const KeyRule*> kProbeRules{&kDevice, &kDestroy, &kReport};

std::string binarySize(std::uint64_t bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) value /= 1024, ++unit;
  char text[48];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.2f %s", value, units[unit]);
  }
  return text;
}

std::string bytesText(std::uint64_t bytes) {
  return std::to_string(bytes) + " bytes (" + binarySize(bytes) + ")";
}

std::string kindWord(const ProbeResult& r) {
  const int kinds = int(r.wraps) + int(r.limbo) + int(r.lost);
  if (kinds == 0) return "real_capacity";
  if (kinds > 1) return "chain";
  return r.wraps ? "wrap_around" : r.limbo ? "limbo" : "lost_data";
}

std::string probeJson(const std::string& device, bool destroy, const std::string& refusal,
                      const ProbeResult* r) {
  using nlohmann::ordered_json;
  const auto orNull = [](bool present, std::uint64_t value) {
    return present ? ordered_json(value) : ordered_json(nullptr);
  };
  ordered_json j;
  j["device"] = device;
  j["destroy"] = destroy;
  j["refusal"] = refusal.empty() ? ordered_json(nullptr) : ordered_json(refusal);
  if (r == nullptr) {
    for (const char* key : {"kind", "claimed_bytes", "usable_bytes", "precision_bytes", "wrap_period_bytes",
                            "limbo_from_byte", "lost_from_byte", "places", "bytes_written",
                            "cache_push_bytes", "cache_passed", "restored", "seed", "seconds", "error"}) {
      j[key] = nullptr;
    }
    return j.dump();
  }
  j["kind"] = kindWord(*r);
  j["claimed_bytes"] = r->claimedBytes;
  j["usable_bytes"] = r->usableBytes;
  j["precision_bytes"] = r->precisionBytes;
  j["wrap_period_bytes"] = orNull(r->wraps, r->wrapPeriod);
  j["limbo_from_byte"] = orNull(r->limbo, r->limboFrom);
  j["lost_from_byte"] = orNull(r->lost, r->lostFrom);
  j["places"] = r->places;
  j["bytes_written"] = r->bytesWritten;
  j["cache_push_bytes"] = r->cachePushBytes;
  j["cache_passed"] = r->cachePassed;
  j["restored"] = r->restored;
  j["seed"] = std::to_string(r->seed);
  j["seconds"] = r->seconds;
  j["error"] = r->error.empty() ? ordered_json(nullptr) : ordered_json(r->error);
  return j.dump();
}

}  // namespace

ProbeParse parseProbe(const ScriptArgs& script) {
  const KeyReading reading = readKeys(script.parameters, kProbeRules);
  if (!reading.accepted) return rejected(readingFailureText(reading.message, reading.unrecognisedKey));
  ProbeParse p;
  if (const KeyValue* v = reading.find(kProbeRules, keys::kDevice)) p.device = v->quotedText;
  if (const KeyValue* v = reading.find(kProbeRules, keys::kReport)) p.reportPath = v->quotedText;
  p.destroy = reading.find(kProbeRules, keys::kDestroy) != nullptr;
  if (reading.find(kProbeRules, keys::kDevice) == nullptr)
    return rejected("Invalid script. /device parameter is absent.");
  p.accepted = true;
  return p;
}

std::vector<std::string> formatProbe(const std::string& device, bool destroy, const ProbeResult& r) {
  std::vector<std::string> lines;
  lines.push_back("Probe of '" + device + "': claims " + bytesText(r.claimedBytes) + ".");
  if (!r.error.empty()) {
    lines.push_back("Probe failed: " + r.error + ".");
  } else if (r.stopped) {
    lines.push_back("Probe stopped before it could tell.");
  } else if (!r.fake()) {
    lines.push_back("Real capacity: every place probed stores its own data; usable " +
                    bytesText(r.usableBytes) + ".");
  } else {
    std::vector<std::string> parts;
    if (r.wraps) {
      parts.push_back("wrap-around every " + std::to_string(r.wrapPeriod) + " bytes from byte " +
                      std::to_string(r.wrapPeriod));
    }
    if (r.limbo) parts.push_back("limbo (reads zeros) from byte " + std::to_string(r.limboFrom));
    if (r.lost) parts.push_back("other data read back from byte " + std::to_string(r.lostFrom));
    std::string kinds = parts.size() > 1 ? "chain: " : "";
    for (std::size_t i = 0; i < parts.size(); ++i) kinds += (i == 0 ? "" : ", then ") + parts[i];
    lines.push_back("Fake capacity: " + kinds + ".");
    lines.push_back("Usable: " + bytesText(r.usableBytes) + ", exact to " + std::to_string(r.precisionBytes) +
                    " bytes.");
  }
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.2f s", r.seconds);
  std::string after = destroy      ? "left its blocks on the device (/destroy)"
                      : r.restored ? "wrote back what it overwrote"
                                   : "could NOT write back all it overwrote";
  lines.push_back("Probe wrote " + binarySize(r.bytesWritten) + " at " + std::to_string(r.places) +
                  " places and a cache push of " + binarySize(r.cachePushBytes) + ", " + after + "; " +
                  seconds + ".");
  return lines;
}

int probeExitCode(const ProbeResult& r) {
  if (!r.error.empty()) return toInt(GenerationResult::PathFailed);
  if (r.stopped) return toInt(GenerationResult::Stopped);
  return r.fake() ? toInt(GenerationResult::DataDamaged) : toInt(GenerationResult::Done);
}

int runProbeScript(const ScriptArgs& script, const ScriptRunServices& services) {
  RunFrame frame(script, services, nullptr);
  if (!frame.open()) return 0;
  // Every refusal is said on standard error where it happens.
  frame.printNoEnding();
  ScriptLog& log = frame.log();
  RunRecord& record = frame.record();
  record.probeMode = true;
  const ProbeParse parsed = parseProbe(script);
  // A probe that cannot tell must never end as a real capacity would: 8 for every refusal.
  int code = toInt(GenerationResult::PathFailed);
  std::string refusal;
  std::optional<ProbeResult> result;
  if (!parsed.accepted) {
    log.writeLine(parsed.rejection);
    std::cerr << "quillet: " << parsed.rejection << "\n";
    record.rejection = parsed.rejection;
  } else {
    // Every check passes before the device is opened for writing; nothing is written before.
    DeviceOpening opening = openBlockDevice(parsed.device);
    if (!opening.device) {
      refusal = opening.refusal;
      log.writeLine("Probe refused: " + refusal + ".");
      std::cerr << "quillet: probe refused: " << refusal << "\n";
    } else {
      log.writeLine("Probe of '" + parsed.device + "' started.");
      ProbeOptions options;
      options.seed = std::random_device{}() * 0x100000001ull ^
                     static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
      options.restore = !parsed.destroy;
      options.ioThreads = kProbeIoThreads;
      options.stopAsked = services.stopAsked;
      result = probeCapacity(*opening.device, options);
      for (const std::string& line : formatProbe(parsed.device, parsed.destroy, *result)) {
        std::cout << line << "\n";
        log.writeLine(line);
      }
      std::cout.flush();
      code = probeExitCode(*result);
    }
  }
  // Only an accepted probe has a report; it names the failure's whole message.
  if (!parsed.reportPath.empty()) {
    record.probeJson = probeJson(parsed.device, parsed.destroy, refusal, result ? &*result : nullptr);
    frame.setReportPath(parsed.reportPath);
    frame.setReportFailureText([](const std::string& path, const Status& written) {
      return "Can not write report '" + path + "': " + written.message() + ".";
    });
  }
  return frame.end(code);
}

}  // namespace quillet
