#include "script/population_profile_read.h"

#include <cmath>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/ascii.h"
#include "platform/atomic_file.h"

namespace quillet {
namespace {

using nlohmann::json;

// Shares add to 1 within this.
constexpr double kShareSlack = 0.001;
// Bounds that keep a hostile profile's memory and time small.
constexpr std::size_t kMaxListEntries = 10000;
constexpr std::size_t kMaxNesting = 16;
constexpr std::size_t kMaxTextLength = 4096;
constexpr std::int64_t kMaxBucketValue = 2147483647;

// Nesting deeper than any profile has is refused before the parser sees it. Strings are skipped.
bool nestedTooDeeply(std::string_view text) {
  std::size_t depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') inString = true;
    if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) return true;
    }
    if ((c == ']' || c == '}') && depth > 0) --depth;
  }
  return false;
}

class Reader {
 public:
  std::string error;

  bool fail(const std::string& where, const std::string& what) {
    error = where.empty() ? what : where + " " + what;
    return false;
  }

  // Every key of object is one of known; the first that is not is the error.
  bool onlyKnownKeys(const json& object, const std::string& where, std::initializer_list<const char*> known) {
    for (auto it = object.begin(); it != object.end(); ++it) {
      bool ok = false;
      for (const char* k : known) ok = ok || it.key() == k;
      if (!ok) return fail("", "unknown key '" + join(where, printable(it.key())) + "'");
    }
    return true;
  }

  const json* member(const json& object, const std::string& where, const char* key, bool required) {
    const auto it = object.find(key);
    if (it == object.end()) {
      if (required) fail("", "missing key '" + join(where, key) + "'");
      return nullptr;
    }
    return &*it;
  }

  bool object(const json& value, const std::string& where) {
    return value.is_object() || fail(where, "must be an object");
  }

  bool real(const json& value, const std::string& where, double& out) {
    if (!value.is_number()) return fail(where, "must be a number");
    out = value.get<double>();
    if (!std::isfinite(out)) return fail(where, "must be a finite number");
    return true;
  }

  bool nonNegative(const json& value, const std::string& where, double& out) {
    if (!real(value, where, out)) return false;
    return out >= 0 || fail(where, "must not be negative");
  }

  bool share(const json& value, const std::string& where, double& out) {
    if (!nonNegative(value, where, out)) return false;
    return out <= 1 + kShareSlack || fail(where, "must be a share from 0 to 1");
  }

  bool whole(const json& value, const std::string& where, std::int64_t& out, std::int64_t top = INT64_MAX) {
    if (value.is_number_unsigned()) {
      if (value.get<std::uint64_t>() > static_cast<std::uint64_t>(top)) return fail(where, "is too large");
      out = static_cast<std::int64_t>(value.get<std::uint64_t>());
      return true;
    }
    if (value.is_number_integer()) {
      out = value.get<std::int64_t>();
      return out >= 0 || fail(where, "must not be negative");
    }
    return fail(where, "must be a whole number");
  }

  bool text(const json& value, const std::string& where, std::string& out) {
    if (!value.is_string()) return fail(where, "must be a text");
    out = value.get<std::string>();
    return out.size() <= kMaxTextLength || fail(where, "is too long");
  }

  bool list(const json& value, const std::string& where) {
    if (!value.is_array()) return fail(where, "must be a list");
    return value.size() <= kMaxListEntries || fail(where, "has too many entries");
  }

  // [[p, value], ...]: p ascending from 0 to 1, values never falling.
  bool quantiles(const json& value, const std::string& where, std::vector<Quantile>& out) {
    if (!list(value, where)) return false;
    for (std::size_t i = 0; i < value.size(); ++i) {
      const std::string at = where + "[" + std::to_string(i) + "]";
      const json& pair = value[i];
      if (!pair.is_array() || pair.size() != 2) return fail(at, "must be a pair [p, value]");
      Quantile q;
      if (!share(pair[0], at + " p", q.p) || !nonNegative(pair[1], at + " value", q.value)) return false;
      if (q.p > 1) return fail(at + " p", "must be a share from 0 to 1");
      if (!out.empty() && q.p <= out.back().p) return fail(at, "is out of order: p must ascend");
      if (!out.empty() && q.value < out.back().value)
        return fail(at, "is out of order: values must not fall");
      out.push_back(q);
    }
    return true;
  }

  bool countDistribution(const json& parent, const char* key, CountDistribution& out) {
    const json* value = member(parent, "", key, true);
    if (value == nullptr) return false;
    const std::string where = key;
    if (!object(*value, where) || !onlyKnownKeys(*value, where, {"buckets", "quantiles", "count", "mean"}))
      return false;
    const json* buckets = member(*value, where, "buckets", true);
    if (buckets == nullptr || !list(*buckets, where + ".buckets")) return false;
    // A distribution of nothing measured (a tree without files or sub-folders) has no shares.
    if (const json* c = member(*value, where, "count", false);
        c != nullptr && !whole(*c, where + ".count", out.count)) {
      return false;
    }
    const bool nothingMeasured = value->contains("count") && out.count == 0;
    if (buckets->empty() && !nothingMeasured) return fail(where + ".buckets", "must not be empty");
    double total = 0;
    for (std::size_t i = 0; i < buckets->size(); ++i) {
      const std::string at = where + ".buckets[" + std::to_string(i) + "]";
      const json& b = (*buckets)[i];
      if (!b.is_array() || b.size() != 3) return fail(at, "must be [low, high, share]");
      CountBucket bucket;
      if (!whole(b[0], at + " low", bucket.low, kMaxBucketValue) ||
          !whole(b[1], at + " high", bucket.high, kMaxBucketValue) ||
          !share(b[2], at + " share", bucket.share)) {
        return false;
      }
      if (bucket.high < bucket.low) return fail(at, "has its high below its low");
      if (!out.buckets.empty() && bucket.low <= out.buckets.back().high) {
        return fail(at, "overlaps or is out of order: buckets must ascend without overlapping");
      }
      total += bucket.share;
      out.buckets.push_back(bucket);
    }
    if (std::abs(total - 1) > kShareSlack && !(nothingMeasured && total == 0)) {
      return fail(where + ".buckets", "shares must add up to 1");
    }
    if (const json* q = member(*value, where, "quantiles", false); q != nullptr) {
      if (!quantiles(*q, where + ".quantiles", out.quantiles)) return false;
    }
    if (const json* m = member(*value, where, "mean", false);
        m != nullptr && !nonNegative(*m, where + ".mean", out.mean)) {
      return false;
    }
    return true;
  }

  bool sizes(const json& parent, SizeDistribution& out) {
    const json* value = member(parent, "", "fileSizes", true);
    if (value == nullptr) return false;
    if (!object(*value, "fileSizes") ||
        !onlyKnownKeys(*value, "fileSizes", {"body", "tail", "zeroShare", "quantiles", "count", "mean"})) {
      return false;
    }
    const json* body = member(*value, "fileSizes", "body", true);
    if (body == nullptr || !object(*body, "fileSizes.body") ||
        !onlyKnownKeys(*body, "fileSizes.body", {"mu", "sigma"})) {
      return false;
    }
    const json* mu = member(*body, "fileSizes.body", "mu", true);
    const json* sigma = member(*body, "fileSizes.body", "sigma", true);
    if (mu == nullptr || sigma == nullptr || !real(*mu, "fileSizes.body.mu", out.bodyMu) ||
        !real(*sigma, "fileSizes.body.sigma", out.bodySigma)) {
      return false;
    }
    if (out.bodySigma <= 0) return fail("fileSizes.body.sigma", "must be above 0");
    if (std::abs(out.bodyMu) > 60)
      return fail("fileSizes.body.mu", "is out of range (ln of a size in bytes)");
    const json* tail = member(*value, "fileSizes", "tail", true);
    if (tail == nullptr || !object(*tail, "fileSizes.tail") ||
        !onlyKnownKeys(*tail, "fileSizes.tail", {"share", "start", "alpha"})) {
      return false;
    }
    const json* tailShare = member(*tail, "fileSizes.tail", "share", true);
    const json* start = member(*tail, "fileSizes.tail", "start", true);
    const json* alpha = member(*tail, "fileSizes.tail", "alpha", true);
    if (tailShare == nullptr || start == nullptr || alpha == nullptr ||
        !share(*tailShare, "fileSizes.tail.share", out.tailShare) ||
        !nonNegative(*start, "fileSizes.tail.start", out.tailStart) ||
        !real(*alpha, "fileSizes.tail.alpha", out.tailAlpha)) {
      return false;
    }
    // Without a tail its start and shape say nothing; with one they must make a tail.
    if (out.tailShare > 0) {
      if (out.tailAlpha <= 0) return fail("fileSizes.tail.alpha", "must be above 0");
      if (out.tailStart < 1) return fail("fileSizes.tail.start", "must be at least 1 byte");
    } else if (out.tailAlpha < 0) {
      return fail("fileSizes.tail.alpha", "must not be negative");
    }
    const json* zero = member(*value, "fileSizes", "zeroShare", true);
    if (zero == nullptr || !share(*zero, "fileSizes.zeroShare", out.zeroShare)) return false;
    if (out.zeroShare + out.tailShare > 1 + kShareSlack) {
      return fail("fileSizes", "zeroShare and tail.share must not add up to more than 1");
    }
    if (const json* q = member(*value, "fileSizes", "quantiles", false); q != nullptr) {
      if (!quantiles(*q, "fileSizes.quantiles", out.quantiles)) return false;
    }
    if (const json* c = member(*value, "fileSizes", "count", false);
        c != nullptr && !whole(*c, "fileSizes.count", out.count)) {
      return false;
    }
    if (const json* m = member(*value, "fileSizes", "mean", false);
        m != nullptr && !nonNegative(*m, "fileSizes.mean", out.mean)) {
      return false;
    }
    return true;
  }

  bool extensions(const json& parent, PopulationProfile& out) {
    const json* value = member(parent, "", "extensions", true);
    if (value == nullptr || !list(*value, "extensions")) return false;
    std::set<std::string> seen;
    double total = 0;
    for (std::size_t i = 0; i < value->size(); ++i) {
      const std::string at = "extensions[" + std::to_string(i) + "]";
      const json& e = (*value)[i];
      if (!object(e, at) || !onlyKnownKeys(e, at, {"extension", "share", "compressionRatio", "files"}))
        return false;
      ExtensionShare entry;
      const json* name = member(e, at, "extension", true);
      const json* share = member(e, at, "share", true);
      if (name == nullptr || share == nullptr || !text(*name, at + ".extension", entry.extension) ||
          !this->share(*share, at + ".share", entry.share)) {
        return false;
      }
      if (entry.extension.size() > 16) return fail(at + ".extension", "must have at most 16 characters");
      for (const char c : entry.extension) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
        if (!allowed) return fail(at + ".extension", "may hold only a-z, 0-9, '_' and '-'");
      }
      if (!seen.insert(entry.extension).second) return fail(at + ".extension", "is listed twice");
      if (const json* r = member(e, at, "compressionRatio", false);
          r != nullptr && !nonNegative(*r, at + ".compressionRatio", entry.compressionRatio)) {
        return false;
      }
      if (const json* f = member(e, at, "files", false);
          f != nullptr && !whole(*f, at + ".files", entry.files)) {
        return false;
      }
      total += entry.share;
      out.extensions.push_back(entry);
    }
    const json* other = member(parent, "", "otherExtensionsShare", true);
    if (other == nullptr || !share(*other, "otherExtensionsShare", out.otherExtensionsShare)) return false;
    // A tree without files has no extension to share out.
    const bool noFiles = parent.contains("files") && out.files == 0 && total + out.otherExtensionsShare == 0;
    if (std::abs(total + out.otherExtensionsShare - 1) > kShareSlack && !noFiles) {
      return fail("extensions", "shares and otherExtensionsShare must add up to 1");
    }
    return true;
  }

  static std::string join(const std::string& where, const std::string& key) {
    return where.empty() ? key : where + "." + key;
  }

  // A key as the message names it: control characters and quotes escaped, cut when long.
  static std::string printable(const std::string& key) {
    std::string out;
    for (const char c : key.substr(0, 64)) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F || c == '\'') {
        static const char* const kHex = "0123456789ABCDEF";
        out += "\\x";
        out += kHex[u >> 4];
        out += kHex[u & 15];
      } else {
        out += c;
      }
    }
    if (key.size() > 64) out += "...";
    return out;
  }
};

// Inverse polynomial shares over whole values: share(k) in proportion to 1 / (k + offset)^2, one
// bucket per value up to 64, then power-of-two ranges up to `top`.
CountDistribution inversePolynomial(double offset, std::int64_t top, double zeroShare = -1) {
  CountDistribution d;
  const auto weight = [&](std::int64_t k) {
    return 1.0 / ((static_cast<double>(k) + offset) * (static_cast<double>(k) + offset));
  };
  double total = 0;
  for (std::int64_t k = 0; k <= top; ++k) total += weight(k);
  const auto add = [&](std::int64_t low, std::int64_t high) {
    double share = 0;
    for (std::int64_t k = low; k <= high; ++k) share += weight(k);
    d.buckets.push_back({low, high, share / total});
  };
  for (std::int64_t k = 0; k <= 64 && k <= top; ++k) add(k, k);
  for (std::int64_t low = 65; low <= top; low = low * 2 - 1) add(low, std::min(top, low * 2 - 2));
  if (zeroShare >= 0) {
    // Leaves given their own share; the rest keeps its shape.
    const double rest = 1.0 - d.buckets[0].share;
    for (std::size_t i = 1; i < d.buckets.size(); ++i) d.buckets[i].share *= (1.0 - zeroShare) / rest;
    d.buckets[0].share = zeroShare;
  }
  return d;
}

// Poisson shares over depths from `first` to `last`, renormalised.
CountDistribution poissonDepths(double lambda, std::int64_t first, std::int64_t last) {
  CountDistribution d;
  double total = 0;
  std::vector<double> shares;
  for (std::int64_t k = first; k <= last; ++k) {
    const double share = std::exp(static_cast<double>(k) * std::log(lambda) - lambda -
                                  std::lgamma(static_cast<double>(k) + 1));
    shares.push_back(share);
    total += share;
  }
  for (std::int64_t k = first; k <= last; ++k)
    d.buckets.push_back({k, k, shares[static_cast<std::size_t>(k - first)] / total});
  return d;
}

PopulationProfile desktopProfile() {
  PopulationProfile p;
  p.name = "desktop";
  p.source =
      "Five-year study of desktop file-system metadata (Agrawal, Bolosky, Douceur, Lorch, FAST 2007) as the "
      "Impressions generator parameterised it (Agrawal, Arpaci-Dusseau, Arpaci-Dusseau, FAST 2009); see "
      "README";
  // From the papers: a lognormal body and a rare Pareto tail from 512 Mb on.
  p.fileSizes.bodyMu = 9.48;
  p.fileSizes.bodySigma = 2.46;
  p.fileSizes.tailShare = 0.00006;
  p.fileSizes.tailStart = 512.0 * 1024 * 1024;
  p.fileSizes.tailAlpha = 0.91;
  // From the papers: files per folder as an inverse polynomial of degree 2, offset 2.36; files by
  // depth as a Poisson of mean 6.49.
  p.filesPerFolder = inversePolynomial(2.36, 8192);
  p.fileDepth = poissonDepths(6.49, 0, 30);
  // Approximations: the same decay for sub-folders, with the leaf share such that a folder has
  // about one sub-folder on average; folders by depth as the files are.
  p.subfoldersPerFolder = inversePolynomial(2.36, 64, 0.86);
  p.folderDepth = poissonDepths(6.49, 1, 30);
  // The most common extensions by file count; the list follows the study's figure, the shares are
  // approximations read off it (the top twenty cover about half of all files).
  const std::pair<const char*, double> top[] = {
      {"gif", 0.060}, {"h", 0.055},   {"htm", 0.050}, {"", 0.045},    {"dll", 0.040},
      {"jpg", 0.035}, {"cpp", 0.030}, {"txt", 0.030}, {"exe", 0.020}, {"xml", 0.015},
      {"js", 0.015},  {"png", 0.012}, {"lib", 0.010}, {"ini", 0.010}, {"pdb", 0.010},
      {"obj", 0.010}, {"mp3", 0.008}, {"c", 0.008},   {"wav", 0.007}, {"cs", 0.006}};
  double listed = 0;
  for (const auto& [extension, share] : top) {
    p.extensions.push_back({extension, share, 0, 0});
    listed += share;
  }
  p.otherExtensionsShare = 1.0 - listed;
  // A tree of a thousand folders unless /dirlimit says otherwise: our default, not the study's.
  p.folders = 1000;
  return p;
}

}  // namespace

std::optional<PopulationProfile> readPopulationProfile(std::string_view text, std::string& error) {
  if (nestedTooDeeply(text)) {
    error = "nested too deeply";
    return std::nullopt;
  }
  json document;
  try {
    document = json::parse(text.begin(), text.end());
  } catch (const json::exception& e) {
    // The parser's text names the byte where it gave up; it never quotes more than a few bytes.
    error = std::string("is not valid JSON (") + e.what() + ")";
    for (char& c : error) {
      if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) c = '?';
    }
    return std::nullopt;
  }
  Reader r;
  PopulationProfile p;
  const auto failed = [&]() -> std::optional<PopulationProfile> {
    error = r.error;
    return std::nullopt;
  };
  if (!r.object(document, "the profile")) return failed();
  if (!r.onlyKnownKeys(
          document, "",
          {"schema", "name", "source", "files", "folders", "bytes", "fileSizes", "filesPerFolder",
           "subfoldersPerFolder", "fileDepth", "folderDepth", "extensions", "otherExtensionsShare"})) {
    return failed();
  }
  std::string schema;
  const json* s = r.member(document, "", "schema", true);
  if (s == nullptr || !r.text(*s, "schema", schema)) return failed();
  if (schema != kProfileSchema) {
    r.fail("schema", std::string("must be \"") + kProfileSchema + "\"");
    return failed();
  }
  const json* name = r.member(document, "", "name", true);
  if (name == nullptr || !r.text(*name, "name", p.name)) return failed();
  // The name is said in the log and on the console.
  for (const char c : p.name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      r.fail("name", "must not hold control characters");
      return failed();
    }
  }
  if (p.name.size() > 100) {
    r.fail("name", "must have at most 100 characters");
    return failed();
  }
  if (const json* source = r.member(document, "", "source", false);
      source != nullptr && !r.text(*source, "source", p.source)) {
    return failed();
  }
  if (const json* files = r.member(document, "", "files", false);
      files != nullptr && !r.whole(*files, "files", p.files)) {
    return failed();
  }
  const json* folders = r.member(document, "", "folders", true);
  const json* bytes = r.member(document, "", "bytes", true);
  if (folders == nullptr || !r.whole(*folders, "folders", p.folders)) return failed();
  if (bytes == nullptr || !r.whole(*bytes, "bytes", p.bytes)) return failed();
  if (!r.sizes(document, p.fileSizes) || !r.countDistribution(document, "filesPerFolder", p.filesPerFolder) ||
      !r.countDistribution(document, "subfoldersPerFolder", p.subfoldersPerFolder) ||
      !r.countDistribution(document, "fileDepth", p.fileDepth) ||
      !r.countDistribution(document, "folderDepth", p.folderDepth) || !r.extensions(document, p)) {
    return failed();
  }
  return p;
}

std::vector<std::string> builtInProfileNames() { return {"desktop"}; }

std::optional<PopulationProfile> builtInProfile(const std::string& name) {
  if (asciiUpper(name) == "DESKTOP") return desktopProfile();
  return std::nullopt;
}

std::optional<PopulationProfile> loadPopulationProfile(const std::string& nameOrPath, std::string& error) {
  if (auto builtIn = builtInProfile(nameOrPath)) return builtIn;
  std::string text;
  const Status read = readWholeFile(nameOrPath, kMaxProfileBytes, text);
  if (!read.ok()) {
    error = "is neither a built-in profile (desktop) nor a profile file that can be read: " + read.message();
    return std::nullopt;
  }
  return readPopulationProfile(text, error);
}

}  // namespace quillet
