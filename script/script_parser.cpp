#include "script/script_parser.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <functional>
#include <optional>

#include "engine/writer_pool.h"
#include "platform/ascii.h"
#include "platform/path.h"
#include "script/script_log.h"

namespace quillet {
namespace {

// Path: a quoted text that may not be empty either. Progress: one of the words of ProgressFormat.
// Seed: an unsigned 64-bit decimal number. Sync: one of the words of SyncMode.
// Ratio: a decimal number from 1 to 100 with at most two decimals. DedupeBlock: a size that is a
// power of two from 1K to 1M.
enum class Form { Quoted, Size, Number, Flag, AllSize, Path, Progress, Seed, Sync, Ratio, DedupeBlock, Threads };

struct Value {
  std::string quotedText;  // Quoted
  std::int64_t size = 0;   // Size, AllSize
  std::int32_t number = 0; // Number
  bool allPartition = false;
  ProgressFormat progress = ProgressFormat::Human;
  std::uint64_t seed = 0;
  SyncMode sync = SyncMode::None;
  std::uint32_t hundredths = 100;  // Ratio
  std::int32_t threads = 1;
};

struct Key {
  const char* name;  // upper case, as compared
  Form form;
  const char* repetition;
  const char* empty;  // null: no empty-value check of its own
  const char* badForm;
  std::function<void(GenerationJob&, const Value&)> apply;
  // The keys beyond the generation parameters set the run's extensions instead of the job.
  std::function<void(ScriptExtensions&, const Value&)> extend = nullptr;
};

std::string upper(const std::string& s) { return asciiUpper(s); }

// strtol's reading saturated to 32 bits; less than 1 counts as 0.
std::int32_t readCount(const std::string& text) {
  const std::int32_t n = readNumber32(text);
  return n < 1 ? 0 : n;
}

bool readSize(const std::string& value, std::int64_t& size) {
  if (value.empty()) return false;
  std::int64_t multiplier;
  switch (asciiUpper(value.back())) {
    case 'B': multiplier = 1; break;
    case 'K': multiplier = 1024; break;
    case 'M': multiplier = 1048576; break;
    case 'G': multiplier = 1073741824; break;
    default: return false;
  }
  size = readCount(value.substr(0, value.size() - 1)) * multiplier;
  return true;
}

// Digits only (no sign, blank or other base), at most 2^64 - 1.
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

}  // namespace

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

namespace {

void setRoot(GenerationJob& job, const Value& v) {
  job.rootFolder = v.quotedText;
  if (!job.rootFolder.empty() && !endsWithSeparator(job.rootFolder)) job.rootFolder += kSeparator;
}

const char* const kThreadsBadForm = "Incorrect threads number, a whole number from 1 to 256 or auto expected.";

const Key kRoot{"/ROOT", Form::Quoted, "Repitition /root parameter.", "Root can't be empty.",
                "Root parameter must be in ' symbols.", setRoot};
const Key kFileMask{"/FILEMASK", Form::Quoted, "Repitition /filemask parameter.", "File mask can't be empty.",
                    "File mask parameter must be in ' symbols.", [](GenerationJob& j, const Value& v) {
                      j.fileMask = v.quotedText;
                      j.useFileMask = true;
                    }};
const Key kMinSize{"/MINSIZE", Form::Size, "Repitition /minsize parameter.", "Minimum file size can't be empty.",
                   "Incorrect minimum file size modification.",
                   [](GenerationJob& j, const Value& v) { j.minFileSize = v.size; }};
const Key kMaxSize{"/MAXSIZE", Form::Size, "Repitition /maxsize parameter.", nullptr,
                   "Incorrect maximum file size modification.",
                   [](GenerationJob& j, const Value& v) { j.maxFileSize = v.size; }};
const Key kNoFill{"/NOFILL", Form::Flag, "Repitition /nofill parameter.", nullptr, nullptr,
                  [](GenerationJob& j, const Value&) { j.fillRandom = false; }};
const Key kNoClose{"/NOCLOSE", Form::Flag, "Repitition /noclose parameter.", nullptr, nullptr,
                   [](GenerationJob& j, const Value&) { j.autoClose = false; }};
const Key kAllSize{"/ALLSIZE", Form::AllSize, "Repitition /allsize parameter.", nullptr,
                   "Incorrect all size modification.", [](GenerationJob& j, const Value& v) {
                     if (v.allPartition) {
                       j.allPartition = true;
                     } else {
                       j.allSize = v.size;
                     }
                   }};
const Key kMinFiles{"/MINFILES", Form::Number, "Repitition /minfiles parameter.",
                    "Minimum files number can't be empty.", nullptr,
                    [](GenerationJob& j, const Value& v) { j.minFiles = v.number; }};
const Key kMaxFiles{"/MAXFILES", Form::Number, "Repitition /maxfiles parameter.",
                    "Maximum files number can't be empty.", nullptr,
                    [](GenerationJob& j, const Value& v) { j.maxFiles = v.number; }};
const Key kLimSize{"/LIMSIZE", Form::Size, "Repitition /limsize parameter.", nullptr,
                   "Incorrect limit files size modification.", [](GenerationJob& j, const Value& v) {
                     j.limitSize = v.size;
                     j.useLimitSize = true;
                   }};
const Key kRecurse{"/RECURSE", Form::Flag, "Repitition /recurse parameter.", nullptr, nullptr,
                   [](GenerationJob& j, const Value&) { j.recurseSubfolders = true; }};
const Key kRootSize{"/ROOTSIZE", Form::Number, "Repitition /rootsize parameter.", "Root size can't be empty.", nullptr,
                    [](GenerationJob& j, const Value& v) {
                      j.rootSize = std::min(v.number, 30000);
                      j.makeUpTree = true;
                    }};
const Key kTreeDeep{"/TREEDEEP", Form::Number, "Repitition /treedeep parameter.", "Tree deep can't be empty.", nullptr,
                    [](GenerationJob& j, const Value& v) {
                      j.treeDeep = std::min(v.number, 255);
                      j.makeUpTree = true;
                    }};
const Key kDirLimit{"/DIRLIMIT", Form::Number, "Repitition /dirlimit parameter.", "Directory limit can't be empty.",
                    nullptr, [](GenerationJob& j, const Value& v) {
                      j.dirsLimit = std::min(v.number, 30000);
                      j.makeUpTree = true;
                    }};
const Key kDirMask{"/DIRMASK", Form::Quoted, "Repitition /dirmask parameter.", "Directory mask can't be empty.",
                   "Directory mask parameter must be in ' symbols.", [](GenerationJob& j, const Value& v) {
                     j.dirMask = v.quotedText;
                     j.useDirMask = true;
                   }};

const Key kReport{"/REPORT", Form::Path, "Repitition /report parameter.", "Report can't be empty.",
                  "Report parameter must be in ' symbols.", nullptr,
                  [](ScriptExtensions& e, const Value& v) { e.reportPath = v.quotedText; }};
const Key kHtml{"/HTML", Form::Path, "Repitition /html parameter.", "Html can't be empty.",
                "Html parameter must be in ' symbols.", nullptr,
                [](ScriptExtensions& e, const Value& v) { e.htmlPath = v.quotedText; }};
const Key kProgress{"/PROGRESS", Form::Progress, "Repitition /progress parameter.", "Progress can't be empty.",
                    "Incorrect progress form, json or off expected.", nullptr,
                    [](ScriptExtensions& e, const Value& v) { e.progress = v.progress; }};

const Key kJournal{"/JOURNAL", Form::Path, "Repitition /journal parameter.", "Journal can't be empty.",
                   "Journal parameter must be in ' symbols.", nullptr,
                   [](ScriptExtensions& e, const Value& v) { e.journalPath = v.quotedText; }};

const Key kProfile{"/PROFILE", Form::Path, "Repitition /profile parameter.", "Profile can't be empty.",
                   "Profile parameter must be in ' symbols.", nullptr,
                   [](ScriptExtensions& e, const Value& v) { e.profile = v.quotedText; }};

const Key kSeed{"/SEED", Form::Seed, "Repitition /seed parameter.", "Seed can't be empty.",
                "Incorrect seed, a whole number from 0 to 18446744073709551615 expected.",
                [](GenerationJob& j, const Value& v) {
                  j.runSeed = v.seed;
                  j.seedGiven = true;
                }};
const Key kSync{"/SYNC", Form::Sync, "Repitition /sync parameter.", "Sync can't be empty.",
                "Incorrect sync mode, none, file or end expected.",
                [](GenerationJob& j, const Value& v) { j.sync = v.sync; }};

const Key kCompress{"/COMPRESS", Form::Ratio, "Repitition /compress parameter.", "Compression ratio can't be empty.",
                    "Incorrect compression ratio, a number from 1 to 100 expected.",
                    [](GenerationJob& j, const Value& v) { j.content.compressHundredths = v.hundredths; }};
const Key kDedupe{"/DEDUPE", Form::Ratio, "Repitition /dedupe parameter.", "Dedupe ratio can't be empty.",
                  "Incorrect dedupe ratio, a number from 1 to 100 expected.",
                  [](GenerationJob& j, const Value& v) { j.content.dedupeHundredths = v.hundredths; }};
const Key kDedupeBlock{"/DEDUPEBLOCK", Form::DedupeBlock, "Repitition /dedupeblock parameter.",
                       "Dedupe block size can't be empty.",
                       "Incorrect dedupe block size, a power of two from 1K to 1M expected.",
                       [](GenerationJob& j, const Value& v) { j.content.dedupeBlock = static_cast<std::uint32_t>(v.size); }};
const Key kThreads{"/THREADS", Form::Threads, "Repitition /threads parameter.", "Threads can't be empty.",
                   kThreadsBadForm, [](GenerationJob& j, const Value& v) { j.threads = v.threads; }};

// The keys of each mode in the order a parameter's key is tested; the extensions come last in
// every mode, so that a script without them is read exactly as before.
const std::vector<const Key*> kAllSizeKeys = {&kRoot,    &kFileMask, &kMinSize, &kMaxSize,  &kNoFill, &kNoClose,
                                              &kAllSize, &kReport,   &kProgress, &kSeed,   &kSync,
                                              &kCompress, &kDedupe, &kDedupeBlock, &kThreads, &kJournal, &kHtml, &kProfile};
const std::vector<const Key*> kFilesNumberKeys = {&kRoot,     &kFileMask, &kMinSize,  &kMaxSize,  &kNoFill,
                                                  &kNoClose,  &kMinFiles, &kMaxFiles, &kLimSize,  &kRecurse,
                                                  &kRootSize, &kTreeDeep, &kDirLimit, &kDirMask,  &kReport,
                                                  &kProgress, &kSeed,     &kSync,     &kCompress, &kDedupe,
                                                  &kDedupeBlock, &kThreads, &kJournal, &kHtml, &kProfile};

bool isQuoted(const std::string& value) { return !value.empty() && value.front() == '\'' && value.back() == '\''; }

// Runs the key's checks in order; returns the failing check's message, or null with value filled.
const char* check(const Key& key, bool seen, const std::string& value, Value& out) {
  if (seen) return key.repetition;
  if (key.empty != nullptr && value.empty()) return key.empty;
  switch (key.form) {
    case Form::Quoted:
      if (value.front() != '\'' || value.back() != '\'') return key.badForm;
      out.quotedText = value.size() >= 2 ? value.substr(1, value.size() - 2) : std::string();
      return nullptr;
    case Form::Size:
      return readSize(value, out.size) ? nullptr : key.badForm;
    case Form::AllSize:
      if (upper(value) == "ALLPARTITION") {
        out.allPartition = true;
        return nullptr;
      }
      return readSize(value, out.size) ? nullptr : key.badForm;
    case Form::Number:
      out.number = readCount(value);
      return nullptr;
    case Form::Flag:
      return nullptr;
    case Form::Path:
      if (!isQuoted(value)) return key.badForm;
      if (value.size() < 3) return key.empty;
      out.quotedText = value.substr(1, value.size() - 2);
      return nullptr;
    case Form::Progress: {
      const std::string word = upper(value);
      if (word == "JSON") {
        out.progress = ProgressFormat::Json;
      } else if (word == "OFF") {
        out.progress = ProgressFormat::Off;
      } else {
        return key.badForm;
      }
      return nullptr;
    }
    case Form::Seed:
      return readSeed(value, out.seed) ? nullptr : key.badForm;
    case Form::Threads:
      return readThreads(value, out.threads) ? nullptr : key.badForm;
    case Form::Sync: {
      const std::string word = upper(value);
      if (word == "NONE") {
        out.sync = SyncMode::None;
      } else if (word == "FILE") {
        out.sync = SyncMode::File;
      } else if (word == "END") {
        out.sync = SyncMode::End;
      } else {
        return key.badForm;
      }
      return nullptr;
    }
    case Form::Ratio:
      return readRatio(value, out.hundredths) ? nullptr : key.badForm;
    case Form::DedupeBlock:
      if (!readSize(value, out.size)) return key.badForm;
      if (out.size < kMinDedupeBlock || out.size > kMaxDedupeBlock || (out.size & (out.size - 1)) != 0) {
        return key.badForm;
      }
      return nullptr;
  }
  return nullptr;
}

void setDefaults(GenerationJob& job, bool byAllSize) {
  job.byAllSize = byAllSize;
  job.fillRandom = true;
  job.autoClose = true;
  job.scriptMode = true;
  job.useFileMask = job.allPartition = job.recurseSubfolders = job.makeUpTree = false;
  job.useLimitSize = job.useDirMask = false;
  job.minFiles = job.maxFiles = job.treeDeep = job.rootSize = job.dirsLimit = 0;
  job.minFileSize = job.maxFileSize = job.limitSize = 0;
  job.allSize = 0;
  job.runSeed = 0;
  job.seedGiven = false;
  job.sync = SyncMode::None;
  job.content = ContentShape{};
  job.threads = 1;
  job.resetCounters();
}

ParseOutcome reject(std::string message) {
  ParseOutcome out;
  out.message = std::move(message);
  return out;
}

}  // namespace

ParseOutcome parseScript(const std::string& mode, const std::vector<std::string>& args, GenerationJob& job) {
  if (args.size() == 2) return reject("Parameters too low.");
  const bool byAllSize = mode == "/S";
  setDefaults(job, byAllSize);
  const auto& keys = byAllSize ? kAllSizeKeys : kFilesNumberKeys;
  std::vector<bool> seen(keys.size(), false);
  ScriptExtensions extensions;

  for (std::size_t i = 2; i < args.size(); ++i) {
    const std::string& parameter = args[i];
    const auto colon = parameter.find(':');
    const std::string keyText = parameter.substr(0, colon);
    const std::string value = colon == std::string::npos ? std::string() : parameter.substr(colon + 1);
    const std::string keyUpper = upper(keyText);
    const auto found = std::find_if(keys.begin(), keys.end(), [&](const Key* k) { return keyUpper == k->name; });
    if (found == keys.end()) {
      ParseOutcome out;
      out.message = keyText;
      out.unrecognisedKey = true;
      return out;
    }
    const std::size_t index = static_cast<std::size_t>(found - keys.begin());
    Value parsed;
    if (const char* failure = check(**found, seen[index], value, parsed)) return reject(failure);
    if ((*found)->apply) (*found)->apply(job, parsed);
    if ((*found)->extend) (*found)->extend(extensions, parsed);
    seen[index] = true;
  }

  auto given = [&](const Key& key) {
    const auto it = std::find(keys.begin(), keys.end(), &key);
    return it != keys.end() && seen[static_cast<std::size_t>(it - keys.begin())];
  };
  if (byAllSize) {
    if (!given(kAllSize)) return reject("/allsize parameter is absent.");
    if (!given(kRoot)) return reject("/root parameter is absent.");
    // A profile gives the sizes; /minsize then only bounds them.
    if (!given(kMinSize) && !given(kProfile)) return reject("/minsize parameter is absent.");
  } else {
    if (!given(kRoot)) return reject("/root parameter is absent.");
    if (!given(kMinFiles)) return reject("/minfiles parameter is absent.");
    if (!given(kRecurse)) {
      if (given(kRootSize)) return reject("/rootsize parameter can't be used without /recurse parameter.");
      if (given(kTreeDeep)) return reject("/treedeep parameter can't be used without /recurse parameter.");
      if (given(kDirMask)) return reject("/dirmask parameter can't be used without /recurse parameter.");
    }
    // A profile gives the sizes; /minsize then only bounds them.
    if (!given(kMinSize) && !given(kProfile)) return reject("/minsize parameter is absent.");
  }
  // Without a flush nothing is acknowledged, so a journal would have nothing to record.
  if (given(kJournal) && job.sync == SyncMode::None) {
    return reject("/journal parameter can't be used without /sync:file or /sync:end.");
  }
  ParseOutcome out;
  out.accepted = true;
  out.maxSizeGiven = given(kMaxSize);
  out.maxFilesGiven = given(kMaxFiles);
  out.treeDeepGiven = given(kTreeDeep);
  out.dirLimitGiven = given(kDirLimit);
  out.rootSizeGiven = given(kRootSize);
  out.extensions = std::move(extensions);
  return out;
}

namespace {

// The first occurrence of key among the parameters, checked as the parser checks it: its value
// when it passes, nothing when it is absent or its value is bad (the parser then rejects the line).
std::optional<Value> findCheckedKey(const std::vector<std::string>& args, const Key& key) {
  for (std::size_t i = 2; i < args.size(); ++i) {
    const auto colon = args[i].find(':');
    if (upper(args[i].substr(0, colon)) != key.name) continue;
    const std::string value = colon == std::string::npos ? std::string() : args[i].substr(colon + 1);
    Value parsed;
    if (check(key, false, value, parsed) != nullptr) return std::nullopt;
    return parsed;
  }
  return std::nullopt;
}

}  // namespace

std::string findReportPath(const std::vector<std::string>& args) {
  const auto found = findCheckedKey(args, kReport);
  return found ? found->quotedText : std::string();
}

ProgressFormat findProgressFormat(const std::vector<std::string>& args) {
  const auto found = findCheckedKey(args, kProgress);
  return found ? found->progress : ProgressFormat::Human;
}

std::string findHtmlPath(const std::vector<std::string>& args) {
  const auto found = findCheckedKey(args, kHtml);
  return found ? found->quotedText : std::string();
}

std::string rejectionText(const ParseOutcome& outcome) {
  if (outcome.unrecognisedKey) return "Invalid script parameter '" + outcome.message + "'.";
  return "Invalid script. " + outcome.message;
}

void logRejection(ScriptLog& log, const ParseOutcome& outcome) { log.writeLine(rejectionText(outcome)); }

}  // namespace quillet
