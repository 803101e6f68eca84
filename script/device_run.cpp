#include "script/device_run.h"

#include <chrono>
#include <iostream>
#include <random>

#include "engine/capacity_probe.h"
#include "engine/uncached_buffer.h"
#include "engine/verify.h"
#include "platform/ascii.h"
#include "platform/block_device.h"
#include "script/run_frame.h"
#include "script/script_keys.h"
#include "script/script_log.h"
#include "script/verify_run.h"

namespace quillet {
namespace {

constexpr std::size_t kDeviceChunk = 4 << 20;

struct DeviceParse {
  std::string rejection;
  std::string device;
  bool destroy = false, allPartition = false, seedGiven = false;
  std::uint64_t seed = 0;
};

// The keys of a device's fill and verify: the device named between apostrophes (no empty text of
// its own), a seed; a fill also /destroy and /allsize:allpartition, either of them as often as given.
const KeyRule kDevice{keys::kDevice, Form::File, false};
const KeyRule kSeed{keys::kSeed, Form::Seed, false};
const KeyRule kDestroy{keys::kDestroy, Form::BareFlag, true, true};
const KeyRule kAllPartition{keys::kAllSize, Form::AllPartition, true, true};
const std::vector<const KeyRule*> kFillRules{&kDevice, &kSeed, &kDestroy, &kAllPartition};
const std::vector<const KeyRule*> kVerifyRules{&kDevice, &kSeed};

DeviceParse parseDevice(const ScriptArgs& script) {
  DeviceParse p;
  const std::string& mode = script.mode;
  const auto& rules = mode == "/S" ? kFillRules : kVerifyRules;
  const KeyReading reading = readKeys(script.parameters, rules);
  if (!reading.accepted) {
    p.rejection = readingFailureText(reading.message, reading.unrecognisedKey);
    return p;
  }
  if (const KeyValue* v = reading.find(rules, keys::kDevice)) p.device = v->quotedText;
  if (const KeyValue* v = reading.find(rules, keys::kSeed)) {
    p.seed = v->seed;
    p.seedGiven = true;
  }
  p.destroy = reading.find(rules, keys::kDestroy) != nullptr;
  p.allPartition = reading.find(rules, keys::kAllSize) != nullptr;
  if (mode == "/S" && !p.allPartition) {
    p.rejection = "Invalid script. A device is filled whole: /allsize:allpartition expected.";
  } else if (mode == "/S" && !p.destroy) {
    p.rejection = "Invalid script. Filling a device wipes it: /destroy expected.";
  }
  return p;
}

bool stopAsked(const ScriptRunServices& services) { return services.stopAsked && services.stopAsked(); }

int fill(BlockDevice& device, const DeviceParse& p, const ScriptRunServices& services, ScriptLog& log) {
  const std::uint64_t size = device.size();
  AlignedBuffer buffer(kDeviceChunk);
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t at = 0; at < size; at += kDeviceChunk) {
    if (stopAsked(services)) {
      log.writeLine("Fill of '" + p.device + "' stopped at byte " + std::to_string(at) + ".");
      return toInt(GenerationResult::Stopped);
    }
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(kDeviceChunk, size - at));
    fillIdentifiedContent(p.seed, kDeviceFileId, size, at, buffer.data, length);
    if (const Status written = device.writeAt(at, buffer.data, length); !written.ok()) {
      const std::string line = "Fill of '" + p.device + "' failed: " + written.message() + ".";
      log.writeLine(line);
      std::cerr << "quillet: " << line << "\n";
      return toInt(GenerationResult::PathFailed);
    }
  }
  if (const Status flushed = device.flush(); !flushed.ok()) {
    log.writeLine("Fill of '" + p.device + "': the device does not take a flush: " + flushed.message() + ".");
    return toInt(GenerationResult::PathFailed);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char text[32];
  std::snprintf(text, sizeof text, "%.2f s", seconds);
  const std::string line = "Filled '" + p.device + "': " + groupedCount(static_cast<std::int64_t>(size)) +
                           " bytes, seed " + std::to_string(p.seed) + "; " + text + ".";
  std::cout << line << "\n" << std::flush;
  log.writeLine(line);
  return toInt(GenerationResult::Done);
}

int verify(BlockDevice& device, DeviceParse p, const ScriptRunServices& services, ScriptLog& log) {
  const std::uint64_t size = device.size();
  AlignedBuffer buffer(kDeviceChunk);
  VerifyResult r;
  r.files = 1;
  r.volumeTotalBytes = static_cast<std::int64_t>(size);
  r.methods.direct = 1;
  r.seedSource = p.seedGiven ? SeedSource::Given : SeedSource::None;
  FileVerdict verdict;
  verdict.relativePath = p.device;
  verdict.length = static_cast<std::int64_t>(size);
  for (std::uint64_t at = 0; at < size; at += kDeviceChunk) {
    if (stopAsked(services)) {
      r.stopped = true;
      break;
    }
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(kDeviceChunk, size - at));
    if (const Status read = device.readAt(at, buffer.data, length); !read.ok()) {
      const std::string line = "Verify of '" + p.device + "' failed: " + read.message() + ".";
      log.writeLine(line);
      std::cerr << "quillet: " << line << "\n";
      return toInt(GenerationResult::PathFailed);
    }
    if (at == 0 && !p.seedGiven) {
      // The seed the device's first block carries, when it is a block of a device fill.
      if (const auto id = readBlockIdentity(buffer.data, std::min(length, kIdentityBlock));
          id && id->fileId == kDeviceFileId && id->fileSize == size) {
        p.seed = id->seed;
        r.seedSource = SeedSource::FromData;
      }
    }
    if (at == 0)
      verdict.expect = FileExpectation{p.seed, kDeviceFileId, static_cast<std::int64_t>(size), true, {}};
    classifyRange(verdict.expect, static_cast<std::int64_t>(at), buffer.data, length, verdict.tally);
  }
  r.seed = p.seed;
  for (int c = 0; c < kBlockClasses; ++c) {
    r.classBytes[c] = verdict.tally.bytes[c];
    if (verdict.tally.bytes[c] > 0) r.classFiles[c] = 1;
  }
  if (verdict.damaged()) r.damaged.push_back(verdict);
  std::vector<std::string> lines{formatVerifySummary(r)};
  for (std::string& line : formatVerifyDetails(r)) lines.push_back(std::move(line));
  for (const std::string& line : lines) {
    std::cout << line << "\n";
    log.writeLine(line);
  }
  std::cout.flush();
  if (r.stopped) return toInt(GenerationResult::Stopped);
  return verdict.damaged() ? toInt(GenerationResult::DataDamaged) : toInt(GenerationResult::Done);
}

}  // namespace

bool isDeviceRequest(const ScriptArgs& script) {
  if (script.mode != "/S" && script.mode != "/V") return false;
  return script.hasKey("/DEVICE");
}

int runDeviceScript(const ScriptArgs& script, const ScriptRunServices& services) {
  const std::string& mode = script.mode;
  RunFrame frame(script, services, nullptr);
  if (!frame.open()) return 0;
  // Every refusal is said on standard error where it happens.
  frame.printNoEnding();
  ScriptLog& log = frame.log();
  DeviceParse p = parseDevice(script);
  int code = toInt(GenerationResult::PathFailed);
  if (!p.rejection.empty()) {
    log.writeLine(p.rejection);
    std::cerr << "quillet: " << p.rejection << "\n";
  } else {
    // Every check passes before the device is opened; nothing is written before.
    DeviceOpening opening = openBlockDevice(p.device);
    if (!opening.device) {
      const std::string line = "Device refused: " + opening.refusal + ".";
      log.writeLine(line);
      std::cerr << "quillet: " << line << "\n";
    } else if (mode == "/S") {
      if (!p.seedGiven) {
        p.seed = (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}() ^
                 static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
      }
      log.writeLine("Fill of '" + p.device + "' started.");
      code = fill(*opening.device, p, services, log);
    } else {
      log.writeLine("Verify of '" + p.device + "' started.");
      code = verify(*opening.device, p, services, log);
    }
  }
  return frame.end(code);
}

}  // namespace quillet
