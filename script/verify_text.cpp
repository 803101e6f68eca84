#include "script/verify_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "engine/size_text.h"
#include "script/enum_words.h"

namespace quillet {
namespace {

std::string grouped(std::int64_t n) { return groupedCount(n); }

std::string filesText(std::int64_t n) { return grouped(n) + (n == 1 ? " file" : " files"); }

// Where the seed came from: the report's word and the summary's text. None, the default, first.
struct SeedSourceNames {
  SeedSource value;
  const char* word;
  const char* text;
};
constexpr SeedSourceNames kSeedSources[] = {
    {SeedSource::None, "none", "none: no file's first block carries one"},
    {SeedSource::Given, "given", "given"},
    {SeedSource::FromData, "from_data", "carried by most files' first blocks"},
    {SeedSource::FromJournal, "from_journal", "from the flush journal"}};

const char* seedSourceText(SeedSource s) { return rowOf(kSeedSources, s).text; }
const char* seedSourceWord(SeedSource s) { return rowOf(kSeedSources, s).word; }

constexpr EnumWord<SizeState> kSizeStates[] = {
    {SizeState::Right, "right"}, {SizeState::Truncated, "truncated"}, {SizeState::Extended, "extended"}};

std::string sizeStateText(SizeState s) { return wordOf(kSizeStates, s); }

}  // namespace

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
  const auto escaped = [](unsigned char byte) {
    return std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0x0F];
  };
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      // The log's rule: control characters, and a backslash that would read as the start of an escape.
      const auto hex = [&](std::size_t k) {
        return k < text.size() && std::isxdigit(static_cast<unsigned char>(text[k])) != 0;
      };
      const bool looksLikeEscape =
          byte == '\\' && i + 1 < text.size() && text[i + 1] == 'x' && hex(i + 2) && hex(i + 3);
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
    valid = valid && code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF) &&
            code >= 0xA0;
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
    if (!r.listingErrors.empty())
      s += ", " + grouped(static_cast<std::int64_t>(r.listingErrors.size())) + " folders not listed";
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
  lines.push_back(r.seedSource == SeedSource::None
                      ? std::string("Seed: ") + seedSourceText(r.seedSource)
                      : "Seed: " + std::to_string(r.seed) + " (" + seedSourceText(r.seedSource) + ")");
  const ReadMethods& m = r.methods;
  std::string read = "Read past the cache: ";
  std::string sep;
  if (m.direct > 0) read += sep + "direct (O_DIRECT or unbuffered) for " + filesText(m.direct), sep = ", ";
  if (m.dropped > 0)
    read += sep + "flushed and dropped from the cache for " + filesText(m.dropped), sep = ", ";
  if (m.cached > 0)
    read += sep + "through the cache (no uncached reading here) for " + filesText(m.cached), sep = ", ";
  if (sep.empty()) read += "no file read";
  lines.push_back(read);
  if (r.volumeTotalBytes >= 0) {
    lines.push_back("Capacity: " + formatSize(r.intactBytes()) + " (" + grouped(r.intactBytes()) +
                    " bytes) read back intact; the volume claims " + formatSize(r.volumeTotalBytes) + " (" +
                    grouped(r.volumeTotalBytes) + " bytes)");
  }
  if (r.missingTailAllowed > 0) {
    lines.push_back("Not made: " + filesText(r.missingTailAllowed) + " after the run ended early (" +
                    escapeConsoleText(r.tailReason) + ")");
  }
  for (const auto& file : r.cutShortFiles)
    lines.push_back("Cut short where the run ended: " + escapeConsoleText(file));
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
      lines.push_back("  " + name + ": resized: its blocks carry " + grouped(f.expect.size) +
                      " bytes, the run planned " + grouped(f.resizedFrom));
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
  if (!lines.empty() && shown > 0)
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(lines.size() - shown), "First damage:");
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
  std::size_t total =
      r.damaged.size() + r.missing.size() + r.unexpected.size() + (r.planned ? 0 : r.notRegular.size());
  for (const auto& f : r.damaged) {
    if (lines.size() >= cap) break;
    std::string line = "Damaged file '" + f.relativePath + "':";
    std::string sep = " ";
    if (f.unreadable) line += sep + "unreadable (" + f.readError + ")", sep = ", ";
    for (int c = 1; c < kBlockClasses; ++c) {
      const std::int64_t bytes = f.tally.bytes[static_cast<std::size_t>(c)];
      if (bytes > 0)
        line += sep + blockClassName(static_cast<BlockClass>(c)) + " " + grouped(bytes) + " b", sep = ", ";
    }
    if (f.sizeState != SizeState::Right) {
      line +=
          sep + sizeStateText(f.sizeState) + " to " + grouped(f.length) + " b of " + grouped(f.expect.size);
      sep = ", ";
    }
    if (f.resizedFrom >= 0) {
      line += sep + "resized: carries " + grouped(f.expect.size) + " b, planned " + grouped(f.resizedFrom);
      sep = ", ";
    }
    if (f.allocationOnly && f.unreservedBytes > 0)
      line += sep + grouped(f.unreservedBytes) + " b without room";
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
  if (total > lines.size())
    lines.push_back(grouped(static_cast<std::int64_t>(total - lines.size())) +
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

}  // namespace

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
    classes[blockClassName(static_cast<BlockClass>(c))] = {{"bytes", r.classBytes[i]},
                                                           {"files", r.classFiles[i]}};
  }
  j["classes"] = classes;
  j["truncated"] = {{"files", r.truncatedFiles}, {"bytes", r.truncatedBytes}};
  j["extended"] = {{"files", r.extendedFiles}, {"bytes", r.extendedBytes}};
  j["allocation_only"] = {{"files", r.allocationOnlyFiles},
                          {"bytes", r.allocationOnlyBytes},
                          {"unreserved_files", r.unreservedFiles}};
  j["unreadable_files"] = r.unreadableFiles;
  j["resized_files"] = r.planned ? ordered_json(r.resizedFiles) : ordered_json(nullptr);
  j["nothing_generated"] = r.nothingGenerated();
  j["read_methods"] = {{"direct_files", r.methods.direct},
                       {"dropped_cache_files", r.methods.dropped},
                       {"cached_files", r.methods.cached}};
  j["capacity"] = {{"intact_bytes", r.intactBytes()},
                   {"volume_total_bytes",
                    r.volumeTotalBytes >= 0 ? ordered_json(r.volumeTotalBytes) : ordered_json(nullptr)}};
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

}  // namespace quillet
