#include "mpi/rank_share.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

namespace quillet {

std::string rankFolderName(int rank) {
  char text[24];
  std::snprintf(text, sizeof text, "rank-%05d", rank);
  return text;
}

std::int64_t shareOf(std::int64_t total, int rank, int ranks) {
  if (ranks <= 1 || total < 0) return total;
  const std::int64_t n = ranks;
  return total / n + (rank < total % n ? 1 : 0);
}

int verifiedRank(int rank, int ranks, int shift) {
  if (ranks <= 1) return 0;
  return static_cast<int>((static_cast<std::int64_t>(rank) + shift) % ranks);
}

namespace {

// Digits only, from low to high.
bool readWhole(const std::string& text, long long low, long long high, int& out) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (value < low || value > high) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

std::int64_t lineDigest(const std::vector<std::string>& args) {
  // FNV-1a over the arguments, each ended by a zero byte, so that "/a b" and "/a" "b" differ.
  std::uint64_t h = 14695981039346656037ULL;
  const auto add = [&h](unsigned char c) {
    h ^= c;
    h *= 1099511628211ULL;
  };
  for (std::size_t i = 1; i < args.size(); ++i) {
    for (const char c : args[i]) add(static_cast<unsigned char>(c));
    add(0);
  }
  return static_cast<std::int64_t>(h);
}

int firstOtherLine(const std::vector<std::int64_t>& all, int wordsPerRank) {
  const auto step = static_cast<std::size_t>(wordsPerRank);
  if (step == 0) return -1;
  for (std::size_t i = step; i + step <= all.size(); i += step) {
    if (all[i] != all[0]) return static_cast<int>(i / step);
  }
  return -1;
}

bool readShift(const std::string& text, int& shift) { return readWhole(text, 0, 2147483647LL, shift); }

bool readSilenceLimit(const std::string& text, int& seconds) { return readWhole(text, 1, 86400, seconds); }

std::array<std::int64_t, RankState::kWords> RankState::pack() const {
  // clang-format off
  return {phase,        result,       flags,           files,             bytes,           foldersCreated,
          foldersVisited, filesPlanned, startedUs,     endedUs,           generationStartUs, generationEndUs,
          firstDoneUs,  lastDoneUs,   runSeed,         seedKnown,         verifiedRank,    damagedBytes,
          intactBytes,  logLines,     endedByRank,     endedByCode,       missingFiles,    unexpectedFiles,
          consoleBytes, verifyJsonBytes};
  // clang-format on
}

RankState RankState::unpack(const std::int64_t* w) {
  RankState s;
  s.phase = w[0];
  s.result = w[1];
  s.flags = w[2];
  s.files = w[3];
  s.bytes = w[4];
  s.foldersCreated = w[5];
  s.foldersVisited = w[6];
  s.filesPlanned = w[7];
  s.startedUs = w[8];
  s.endedUs = w[9];
  s.generationStartUs = w[10];
  s.generationEndUs = w[11];
  s.firstDoneUs = w[12];
  s.lastDoneUs = w[13];
  s.runSeed = w[14];
  s.seedKnown = w[15];
  s.verifiedRank = w[16];
  s.damagedBytes = w[17];
  s.intactBytes = w[18];
  s.logLines = w[19];
  s.endedByRank = w[20];
  s.endedByCode = w[21];
  s.missingFiles = w[22];
  s.unexpectedFiles = w[23];
  s.consoleBytes = w[24];
  s.verifyJsonBytes = w[25];
  return s;
}

namespace {
// Result codes, as the single program gives them.
constexpr std::int64_t kDone = 0, kFull = 1, kStopped = 2, kNamesUsedUp = 3, kDamaged = 4, kPathFailed = 8;
bool isFailure(std::int64_t r) { return r == kNamesUsedUp || r == kPathFailed; }
}  // namespace

bool endsOthers(std::int64_t result) { return result == kFull || isFailure(result); }

std::int64_t rowResult(const RankState& s) {
  // A stop that no signal asked for came from the other rank's end.
  if (s.result == kStopped && (s.flags & RankState::SignalStop) == 0 && s.endedByRank >= 0) {
    return s.endedByCode;
  }
  return s.result;
}

int agreedResult(const std::vector<RankState>& ranks, int& failedRank) {
  failedRank = -1;
  for (std::size_t i = 0; i < ranks.size(); ++i) {
    if (isFailure(ranks[i].result)) {
      failedRank = static_cast<int>(i);
      return static_cast<int>(ranks[i].result);
    }
  }
  const bool signalled = std::any_of(
      ranks.begin(), ranks.end(), [](const RankState& s) { return (s.flags & RankState::SignalStop) != 0; });
  if (signalled) return static_cast<int>(kStopped);
  for (const auto& s : ranks) {
    if (s.result == kDamaged) return static_cast<int>(kDamaged);
  }
  for (std::size_t i = 0; i < ranks.size(); ++i) {
    if (ranks[i].result == kFull) {
      failedRank = static_cast<int>(i);
      return static_cast<int>(kFull);
    }
  }
  std::int64_t highest = kDone;
  for (const auto& s : ranks) {
    // A stop without a signal was asked by another rank's end, which is the result instead.
    if (s.result != kStopped) highest = std::max(highest, s.result);
  }
  return static_cast<int>(highest);
}

std::int64_t earliestGenerationStart(const std::vector<RankState>& ranks) {
  std::int64_t earliest = 0;
  for (const auto& s : ranks) {
    if (s.generationStartUs > 0 && (earliest == 0 || s.generationStartUs < earliest))
      earliest = s.generationStartUs;
  }
  return earliest;
}

std::string ranksJson(const std::vector<RankState>& ranks, int failedRank, bool verify,
                      const std::vector<std::string>& verifyParts) {
  using nlohmann::ordered_json;
  const std::int64_t origin = earliestGenerationStart(ranks);
  const auto since = [&](std::int64_t us) {
    return us > 0 && origin > 0 ? ordered_json(static_cast<double>(us - origin) / 1e6)
                                : ordered_json(nullptr);
  };
  ordered_json j;
  j["count"] = ranks.size();
  j["decided_by_rank"] = failedRank >= 0 ? ordered_json(failedRank) : ordered_json(nullptr);
  ordered_json rows = ordered_json::array();
  for (std::size_t i = 0; i < ranks.size(); ++i) {
    const RankState& s = ranks[i];
    ordered_json row;
    row["rank"] = i;
    row["folder"] = rankFolderName(static_cast<int>(i));
    row["result_code"] = rowResult(s);
    row["stopped_by_signal"] = (s.flags & RankState::SignalStop) != 0;
    row["ended_by"] = rowResult(s) != s.result
                          ? ordered_json{{"rank", s.endedByRank}, {"result_code", s.endedByCode}}
                          : ordered_json(nullptr);
    if (verify) {
      row["verified_folder"] = s.verifiedRank >= 0
                                   ? ordered_json(rankFolderName(static_cast<int>(s.verifiedRank)))
                                   : ordered_json(nullptr);
      row["files_checked"] = s.files;
      row["bytes_checked"] = s.bytes;
      row["intact_bytes"] = s.intactBytes;
      row["damaged_bytes"] = s.damagedBytes;
      row["missing_files"] = s.missingFiles >= 0 ? ordered_json(s.missingFiles) : ordered_json(nullptr);
      row["unexpected_files"] =
          s.unexpectedFiles >= 0 ? ordered_json(s.unexpectedFiles) : ordered_json(nullptr);
      ordered_json paths = ordered_json::array();
      if (i < verifyParts.size()) {
        const auto part = ordered_json::parse(verifyParts[i], nullptr, false);
        if (part.is_object() && part.contains("damaged_files") && part["damaged_files"].is_array()) {
          for (const auto& f : part["damaged_files"]) {
            if (f.is_object() && f.contains("path") && f["path"].is_string()) paths.push_back(f["path"]);
          }
        }
      }
      row["damaged_paths"] = std::move(paths);
    } else {
      // As a text, as the run's own seed: a JSON number loses digits beyond 2^53.
      row["run_seed"] = s.seedKnown != 0 ? ordered_json(std::to_string(static_cast<std::uint64_t>(s.runSeed)))
                                         : ordered_json(nullptr);
      row["files"] = s.files;
      row["bytes"] = s.bytes;
      row["first_done_seconds"] = since(s.firstDoneUs);
      row["last_done_seconds"] = since(s.lastDoneUs);
      const double seconds = s.generationStartUs > 0 && s.generationEndUs > s.generationStartUs
                                 ? static_cast<double>(s.generationEndUs - s.generationStartUs) / 1e6
                                 : 0.0;
      row["generation_seconds"] = seconds;
      row["bytes_per_second"] = seconds > 0 ? static_cast<double>(s.bytes) / seconds : 0.0;
      row["files_per_second"] = seconds > 0 ? static_cast<double>(s.files) / seconds : 0.0;
    }
    rows.push_back(std::move(row));
  }
  j["per_rank"] = std::move(rows);
  return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

namespace {

using nlohmann::ordered_json;

// Paths within a rank's verify object are relative to the folder it checked; over all ranks they
// are led by that folder.
void leadPaths(ordered_json& list, const std::string& folder) {
  for (auto& item : list) {
    if (item.is_string()) {
      item = folder + "/" + item.get<std::string>();
    } else if (item.is_object() && item.contains("path") && item["path"].is_string()) {
      item["path"] = folder + "/" + item["path"].get<std::string>();
    }
  }
}

// Adds `part` into `into`, key by key: whole numbers summed, lists joined, objects merged alike; a
// value rank 0 left null is taken from the first rank that has one; anything else stays as it is.
void mergeInto(ordered_json& into, ordered_json part) {
  for (auto& [key, value] : part.items()) {
    if (!into.contains(key) || into[key].is_null()) {
      into[key] = value;
      continue;
    }
    ordered_json& target = into[key];
    // The size of the one volume every rank checks on is not a figure to add up.
    if (key == "volume_total_bytes") continue;
    if (target.is_number_integer() && value.is_number_integer()) {
      target = target.get<std::int64_t>() + value.get<std::int64_t>();
    } else if (target.is_array() && value.is_array()) {
      for (auto& item : value) target.push_back(item);
    } else if (target.is_object() && value.is_object()) {
      mergeInto(target, value);
    }
  }
}

// Leads every path of one rank's verify object by the folder that rank checked.
void leadAllPaths(ordered_json& part, const std::string& folder) {
  for (auto& [key, value] : part.items()) {
    const bool fileList = key.size() > 6 && key.ends_with("_files");
    if (value.is_array() && (fileList || key == "damaged_files")) leadPaths(value, folder);
    if (key == "cut_short_file" && value.is_string()) value = folder + "/" + value.get<std::string>();
  }
}

}  // namespace

std::string mergedVerifyJson(const std::vector<std::string>& parts, const std::vector<RankState>& ranks,
                             const std::string& runRoot, std::optional<std::uint64_t> givenSeed) {
  ordered_json merged;
  for (std::size_t i = 0; i < parts.size() && i < ranks.size(); ++i) {
    auto part = ordered_json::parse(parts[i], nullptr, false);
    if (!part.is_object()) continue;
    const std::int64_t checked =
        ranks[i].verifiedRank >= 0 ? ranks[i].verifiedRank : static_cast<std::int64_t>(i);
    leadAllPaths(part, rankFolderName(static_cast<int>(checked)));
    // Seeds and root are each rank's own: the whole run's are set below.
    if (merged.is_null()) {
      merged = std::move(part);
    } else {
      part.erase("seed");
      part.erase("root_folder");
      mergeInto(merged, std::move(part));
    }
  }
  if (merged.is_null()) return {};
  merged["root_folder"] = runRoot;
  if (givenSeed && merged.contains("seed")) {
    // As the report writes every seed: decimal text, which no reader rounds.
    merged["seed"] = std::to_string(*givenSeed);
  }
  return merged.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

}  // namespace quillet
