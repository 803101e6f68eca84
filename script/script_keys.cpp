#include "script/script_keys.h"

#include <algorithm>
#include <climits>

#include "engine/block_identity.h"
#include "engine/writer_pool.h"
#include "platform/ascii.h"
#include "script/enum_words.h"

namespace quillet {

namespace keys {
const KeyTexts kRoot{"/ROOT", "Repitition /root parameter.", "Root can't be empty.",
                     "Root parameter must be in ' symbols."};
const KeyTexts kFileMask{"/FILEMASK", "Repitition /filemask parameter.", "File mask can't be empty.",
                         "File mask parameter must be in ' symbols."};
const KeyTexts kMinSize{"/MINSIZE", "Repitition /minsize parameter.", "Minimum file size can't be empty.",
                        "Incorrect minimum file size modification."};
const KeyTexts kMaxSize{"/MAXSIZE", "Repitition /maxsize parameter.", nullptr,
                        "Incorrect maximum file size modification."};
const KeyTexts kNoFill{"/NOFILL", "Repitition /nofill parameter.", nullptr, nullptr};
const KeyTexts kNoClose{"/NOCLOSE", "Repitition /noclose parameter.", nullptr, nullptr};
const KeyTexts kAllSize{"/ALLSIZE", "Repitition /allsize parameter.", nullptr,
                        "Incorrect all size modification."};
const KeyTexts kMinFiles{"/MINFILES", "Repitition /minfiles parameter.",
                         "Minimum files number can't be empty.", nullptr};
const KeyTexts kMaxFiles{"/MAXFILES", "Repitition /maxfiles parameter.",
                         "Maximum files number can't be empty.", nullptr};
const KeyTexts kLimSize{"/LIMSIZE", "Repitition /limsize parameter.", nullptr,
                        "Incorrect limit files size modification."};
const KeyTexts kRecurse{"/RECURSE", "Repitition /recurse parameter.", nullptr, nullptr};
const KeyTexts kRootSize{"/ROOTSIZE", "Repitition /rootsize parameter.", "Root size can't be empty.",
                         nullptr};
const KeyTexts kTreeDeep{"/TREEDEEP", "Repitition /treedeep parameter.", "Tree deep can't be empty.",
                         nullptr};
const KeyTexts kDirLimit{"/DIRLIMIT", "Repitition /dirlimit parameter.", "Directory limit can't be empty.",
                         nullptr};
const KeyTexts kDirMask{"/DIRMASK", "Repitition /dirmask parameter.", "Directory mask can't be empty.",
                        "Directory mask parameter must be in ' symbols."};
const KeyTexts kReport{"/REPORT", "Repitition /report parameter.", "Report can't be empty.",
                       "Report parameter must be in ' symbols."};
const KeyTexts kHtml{"/HTML", "Repitition /html parameter.", "Html can't be empty.",
                     "Html parameter must be in ' symbols."};
const KeyTexts kProgress{"/PROGRESS", "Repitition /progress parameter.", "Progress can't be empty.",
                         "Incorrect progress form, json or off expected."};
const KeyTexts kJournal{"/JOURNAL", "Repitition /journal parameter.", "Journal can't be empty.",
                        "Journal parameter must be in ' symbols."};
const KeyTexts kProfile{"/PROFILE", "Repitition /profile parameter.", "Profile can't be empty.",
                        "Profile parameter must be in ' symbols."};
const KeyTexts kSeed{"/SEED", "Repitition /seed parameter.", "Seed can't be empty.",
                     "Incorrect seed, a whole number from 0 to 18446744073709551615 expected."};
const KeyTexts kSync{"/SYNC", "Repitition /sync parameter.", "Sync can't be empty.",
                     "Incorrect sync mode, none, file or end expected."};
const KeyTexts kCompress{"/COMPRESS", "Repitition /compress parameter.", "Compression ratio can't be empty.",
                         "Incorrect compression ratio, a number from 1 to 100 expected."};
const KeyTexts kDedupe{"/DEDUPE", "Repitition /dedupe parameter.", "Dedupe ratio can't be empty.",
                       "Incorrect dedupe ratio, a number from 1 to 100 expected."};
const KeyTexts kDedupeBlock{"/DEDUPEBLOCK", "Repitition /dedupeblock parameter.",
                            "Dedupe block size can't be empty.",
                            "Incorrect dedupe block size, a power of two from 1K to 1M expected."};
const KeyTexts kThreads{"/THREADS", "Repitition /threads parameter.", "Threads can't be empty.",
                        "Incorrect threads number, a whole number from 1 to 256 or auto expected."};
const KeyTexts kSaveProfile{"/SAVEPROFILE", "Repitition /saveprofile parameter.",
                            "Profile file can't be empty.", "Saveprofile parameter must be in ' symbols."};
const KeyTexts kDevice{"/DEVICE", "Repitition /device parameter.", "Device can't be empty.",
                       "Device parameter must be in ' symbols."};
const KeyTexts kDestroy{"/DESTROY", "Repitition /destroy parameter.", nullptr, nullptr};
}  // namespace keys

namespace {

constexpr EnumWord<ProgressFormat> kProgressWords[] = {
    {ProgressFormat::Human, "human", false}, {ProgressFormat::Json, "json"}, {ProgressFormat::Off, "off"}};
constexpr EnumWord<SyncMode> kSyncWords[] = {
    {SyncMode::None, "none"}, {SyncMode::File, "file"}, {SyncMode::End, "end"}};

// strtol's reading saturated to 32 bits; less than 1 counts as 0.
std::int32_t readCount(const std::string& text) {
  const std::int32_t n = readNumber32(text);
  return n < 1 ? 0 : n;
}

std::int64_t unitOf(char c) {
  switch (asciiUpper(c)) {
    case 'B': return 1;
    case 'K': return 1024;
    case 'M': return 1048576;
    case 'G': return 1073741824;
    default: return 0;
  }
}

bool readSize(const std::string& value, std::int64_t& size) {
  if (value.empty()) return false;
  const std::int64_t multiplier = unitOf(value.back());
  if (multiplier == 0) return false;
  size = readCount(value.substr(0, value.size() - 1)) * multiplier;
  return true;
}

bool isDedupeBlock(std::int64_t size) {
  return size >= kMinDedupeBlock && size <= kMaxDedupeBlock && (size & (size - 1)) == 0;
}

// At most seven plain digits and a unit up to M, so that the number cannot overflow however long
// the value.
bool readPlainBlockSize(const std::string& value, std::int64_t& size) {
  if (value.empty()) return false;
  const std::int64_t unit = asciiUpper(value.back()) == 'G' ? 0 : unitOf(value.back());
  const std::string digits = value.substr(0, value.size() - 1);
  if (unit == 0 || digits.empty() || digits.size() > 7) return false;
  std::int64_t n = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  size = n * unit;
  return true;
}

// "2", "3.5", "1.25": whole digits, then at most two decimals; 1 to 100. In hundredths.
bool readRatio(const std::string& text, std::uint32_t& hundredths) {
  const auto dot = text.find('.');
  const std::string whole = text.substr(0, dot);
  const std::string fraction = dot == std::string::npos ? std::string() : text.substr(dot + 1);
  if (whole.empty() || whole.size() > 3 || fraction.size() > 2) return false;
  if (dot != std::string::npos && fraction.empty()) return false;
  std::uint32_t n = 0;
  for (const char c : whole + fraction + std::string(2 - fraction.size(), '0')) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (n < 100 || n > kMaxShapeRatio) return false;
  hundredths = n;
  return true;
}

bool isQuoted(const std::string& value) {
  return !value.empty() && value.front() == '\'' && value.back() == '\'';
}

KeyCheck failed(const char* text) { return {KeyCheck::Outcome::Failed, text}; }
KeyCheck passed(bool ok, const char* text) { return ok ? KeyCheck{} : failed(text); }

template <typename E, std::size_t N>
bool readWord(const EnumWord<E> (&table)[N], const std::string& text, E& value) {
  const std::optional<E> read = valueOf(table, text);
  if (read) value = *read;
  return read.has_value();
}

}  // namespace

const char* progressWord(ProgressFormat format) { return wordOf(kProgressWords, format); }
const char* syncWord(SyncMode mode) { return wordOf(kSyncWords, mode); }

std::vector<ScriptParameter> splitParameters(const std::vector<std::string>& args) {
  std::vector<ScriptParameter> parameters;
  for (std::size_t i = 2; i < args.size(); ++i) {
    ScriptParameter p;
    p.text = args[i];
    const auto colon = p.text.find(':');
    p.key = p.text.substr(0, colon);
    p.keyUpper = asciiUpper(p.key);
    p.hasValue = colon != std::string::npos;
    if (p.hasValue) p.value = p.text.substr(colon + 1);
    parameters.push_back(std::move(p));
  }
  return parameters;
}

bool readSeed(const std::string& text, std::uint64_t& seed) {
  if (text.empty()) return false;
  std::uint64_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  seed = n;
  return true;
}

bool readThreads(const std::string& text, std::int32_t& threads) {
  if (asciiUpper(text) == "AUTO") {
    threads = automaticWriterCount();
    return true;
  }
  if (text.empty() || text.size() > 3) return false;
  std::int32_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > kMaxWriters) return false;
  threads = n;
  return true;
}

KeyCheck checkKey(const KeyRule& rule, bool seen, bool hasValue, const std::string& value, KeyValue& out) {
  const KeyTexts& t = rule.texts;
  // Keys that another mode reads with a value are no keys of this one; that comes before the rest.
  if (rule.form == Form::BareFlag && hasValue) return {KeyCheck::Outcome::NotAKey, nullptr};
  if (rule.form == Form::AllPartition && asciiUpper(value) != "ALLPARTITION") {
    return {KeyCheck::Outcome::NotAKey, nullptr};
  }
  if (seen && !rule.repeatable) return failed(t.repetition);
  const char* empty = rule.emptyChecked ? t.empty : nullptr;
  if (empty != nullptr && value.empty()) return failed(empty);
  switch (rule.form) {
    case Form::Quoted:
      if (value.front() != '\'' || value.back() != '\'') return failed(t.badForm);
      out.quotedText = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string();
      return {};
    case Form::Path:
      if (!isQuoted(value)) return failed(t.badForm);
      if (value.size() < 3) return failed(empty);
      out.quotedText = value.substr(1, value.size() - 2);
      return {};
    case Form::File:
      if (value.size() < 3 || !isQuoted(value)) {
        return failed(empty != nullptr && value == "''" ? empty : t.badForm);
      }
      out.quotedText = value.substr(1, value.size() - 2);
      return {};
    case Form::Size: return passed(readSize(value, out.size), t.badForm);
    case Form::AllSize:
      if (asciiUpper(value) == "ALLPARTITION") {
        out.allPartition = true;
        return {};
      }
      return passed(readSize(value, out.size), t.badForm);
    case Form::Number: out.number = readCount(value); return {};
    case Form::Flag:
    case Form::BareFlag: return {};
    case Form::AllPartition: out.allPartition = true; return {};
    case Form::Progress: return passed(readWord(kProgressWords, value, out.progress), t.badForm);
    case Form::Seed: return passed(readSeed(value, out.seed), t.badForm);
    case Form::Threads: return passed(readThreads(value, out.threads), t.badForm);
    case Form::Sync: return passed(readWord(kSyncWords, value, out.sync), t.badForm);
    case Form::Ratio: return passed(readRatio(value, out.hundredths), t.badForm);
    case Form::DedupeBlock: return passed(readSize(value, out.size) && isDedupeBlock(out.size), t.badForm);
    case Form::BlockSize:
      return passed(readPlainBlockSize(value, out.size) && isDedupeBlock(out.size), t.badForm);
  }
  return {};
}

const KeyValue* KeyReading::find(const std::vector<const KeyRule*>& rules, const KeyTexts& texts) const {
  for (std::size_t i = 0; i < rules.size() && i < values.size(); ++i) {
    if (&rules[i]->texts == &texts && values[i]) return &*values[i];
  }
  return nullptr;
}

KeyReading readKeys(const std::vector<ScriptParameter>& parameters,
                    const std::vector<const KeyRule*>& rules) {
  KeyReading reading;
  reading.values.resize(rules.size());
  for (const ScriptParameter& parameter : parameters) {
    const auto found = std::find_if(rules.begin(), rules.end(),
                                    [&](const KeyRule* r) { return parameter.keyUpper == r->texts.name; });
    KeyCheck check{KeyCheck::Outcome::NotAKey, nullptr};
    KeyValue parsed;
    const std::size_t index = static_cast<std::size_t>(found - rules.begin());
    if (found != rules.end()) {
      check =
          checkKey(**found, reading.values[index].has_value(), parameter.hasValue, parameter.value, parsed);
    }
    if (check.outcome == KeyCheck::Outcome::NotAKey) {
      reading.message = parameter.key;
      reading.unrecognisedKey = true;
      return reading;
    }
    if (check.outcome == KeyCheck::Outcome::Failed) {
      reading.message = check.text != nullptr ? check.text : "";
      return reading;
    }
    reading.values[index] = std::move(parsed);
  }
  reading.accepted = true;
  return reading;
}

std::optional<KeyValue> findCheckedKey(const std::vector<ScriptParameter>& parameters, const KeyRule& rule) {
  for (const ScriptParameter& parameter : parameters) {
    if (parameter.keyUpper != rule.texts.name) continue;
    KeyValue parsed;
    if (checkKey(rule, false, parameter.hasValue, parameter.value, parsed).outcome !=
        KeyCheck::Outcome::Accepted) {
      return std::nullopt;
    }
    return parsed;
  }
  return std::nullopt;
}

std::string readingFailureText(const std::string& message, bool unrecognisedKey) {
  if (unrecognisedKey) return "Invalid script parameter '" + message + "'.";
  return "Invalid script. " + message;
}

}  // namespace quillet
