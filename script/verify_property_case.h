// The parts of the verify property test that are not the property itself: the drawn run, one
// verify's outcome as its report tells it, and the harm done to an intact tree. Test code only.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "testing/program_runner.h"

namespace quillet::property {

using nlohmann::json;
using Random = std::mt19937_64;

constexpr std::int64_t kVolumeBytes = 24 << 20;
constexpr std::int64_t kBlock = 1024;
// A block's identity header: a last block shorter than this carries none.
constexpr std::int64_t kHeader = 52;
constexpr std::int64_t kCluster = 4096;  // both volumes'
constexpr std::uint64_t kFirstSeed = 20261208;
// Cases per volume in CI: about half a minute each here, a few minutes under the sanitizers.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kCiCases = 15;
#else
constexpr int kCiCases = 60;
#endif

std::uint64_t envNumber(const char* name, std::uint64_t fallback);
std::int64_t pick(Random& r, std::int64_t low, std::int64_t high);
bool chance(Random& r, double p);
// Seeds and file identities are JSON numbers today and may become decimal texts.
std::uint64_t u64(const json& j);

// ---- The drawn run ----

struct Case {
  std::uint64_t seed = 0;
  bool byAllSize = true;
  bool fill = false;              // /allsize:allpartition, or by files number without a limit that fits
  std::vector<std::string> keys;  // the run's line without /root and /report
  std::string fileMask, dirMask;  // normalised ('*' is '???'); empty: none
  int threads = 1;
  bool seeded = false;
  std::uint64_t runSeedGiven = 0;
  std::int64_t expectedBytes = kVolumeBytes;  // about what the run writes
  std::int64_t avgSize = 1;
  int stopSignal = 0;             // 0: not stopped
  double stopAt = 0;              // the share of expectedBytes written when the stop is sent
  int verifyThreadsPlanless = 1;  // /threads on the two verifies without the run's line
  std::string text() const {
    std::string t;
    for (const auto& k : keys) t += (t.empty() ? "" : " ") + k;
    return t;
  }
};

Case drawCase(std::uint64_t seed);

// Where a file comes in its folder's order of making: names come from a running counter, in
// bijective base 36 without a mask, or with the mask's leftmost '?' as the least significant digit.
std::int64_t orderInFolder(const std::string& name, const std::string& mask);

// ---- One verify's outcome ----

struct Verdict {
  std::string how;  // "run's line", "seed only", "nothing"
  std::vector<std::string> args;
  test_support::ProgramResult result;
  json report;
  const json* damagedFile(const std::string& path) const {
    if (!report.is_object() || !report["verify"].is_object()) return nullptr;
    for (const auto& f : report["verify"]["damaged_files"]) {
      if (f["path"] == path) return &f;
    }
    return nullptr;
  }
  std::vector<std::string> list(const char* key) const {
    std::vector<std::string> out;
    if (report.is_object() && report["verify"].is_object() && report["verify"][key].is_array()) {
      for (const auto& s : report["verify"][key]) out.push_back(s.get<std::string>());
    }
    return out;
  }
  bool cutShort(const std::string& path) const { return !cutShortLine(path).empty(); }
  std::string cutShortLine(const std::string& path) const {
    for (const auto& s : list("cut_short_files")) {
      if (s.rfind(path + " (", 0) == 0) return s;
    }
    return {};
  }
  std::string tailReason() const {
    const json& r = report["verify"]["missing_tail_reason"];
    return r.is_string() ? r.get<std::string>() : std::string();
  }
  std::int64_t tailAllowed() const {
    const json& v = report["verify"]["missing_tail_allowed_files"];
    return v.is_number() ? v.get<std::int64_t>() : 0;
  }
  std::string describe() const {
    std::string t = "quillet";
    for (const auto& a : args) t += " \"" + a + "\"";
    return t + "\n  exit " + std::to_string(result.exitCode) + "\n" + result.out + result.err;
  }
};

bool blockDamage(const json& file);

// ---- The harm done to an intact tree ----

enum class Harm { Flip, Zero, Copy, Truncate, Delete, Extend, Replace };
const char* harmName(Harm h);

struct Fault {
  Harm harm = Harm::Flip;
  std::string file;
  std::int64_t size = 0;    // the file's length before
  std::int64_t offset = 0;  // flip: the byte; zero, copy: the first byte; truncate: the new length
  std::int64_t length = 0;  // zero, copy: bytes; extend: bytes added; replace: the new size
  std::string source;       // copy: the file the blocks come from
  std::int64_t sourceOffset = 0;
  std::uint64_t otherSeed = 0;  // replace: the other run's seed
  std::int64_t freeAfter = -1;  // the volume's free bytes once harmed
  std::string text() const;
};

std::vector<std::uint8_t> readAll(const std::string& path);
std::int64_t fileLength(const std::string& path);
std::int64_t freeBytes(const std::string& path);

// Chooses and does one harm to the tree below root, whose files (and their lengths) are `files`,
// `cutFiles` of them cut where the run ended. Returns nothing when no harm fits the tree.
std::optional<Fault> doHarm(const Case& c, Random& r, const std::string& root,
                            const std::map<std::string, std::int64_t>& files,
                            const std::set<std::string>& cutFiles, std::uint64_t runSeed);

}  // namespace quillet::property
