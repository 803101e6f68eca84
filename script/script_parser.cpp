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

// A key of a run (/s or /f): how it is read, and what it sets in the job or, beyond the generation
// parameters, in the run's extensions.
struct Key {
  KeyRule rule;
  std::function<void(GenerationJob&, const KeyValue&)> apply;
  std::function<void(ScriptExtensions&, const KeyValue&)> extend = nullptr;
};

void setRoot(GenerationJob& job, const KeyValue& v) {
  job.rootFolder = v.quotedText;
  if (!job.rootFolder.empty() && !endsWithSeparator(job.rootFolder)) job.rootFolder += kSeparator;
}

const Key kRoot{{keys::kRoot, Form::Quoted}, setRoot};
const Key kFileMask{{keys::kFileMask, Form::Quoted}, [](GenerationJob& j, const KeyValue& v) {
                      j.fileMask = v.quotedText;
                      j.useFileMask = true;
                    }};
const Key kMinSize{{keys::kMinSize, Form::Size},
                   [](GenerationJob& j, const KeyValue& v) { j.minFileSize = v.size; }};
const Key kMaxSize{{keys::kMaxSize, Form::Size},
                   [](GenerationJob& j, const KeyValue& v) { j.maxFileSize = v.size; }};
const Key kNoFill{{keys::kNoFill, Form::Flag},
                  [](GenerationJob& j, const KeyValue&) { j.fillRandom = false; }};
const Key kNoClose{{keys::kNoClose, Form::Flag},
                   [](GenerationJob& j, const KeyValue&) { j.autoClose = false; }};
const Key kAllSize{{keys::kAllSize, Form::AllSize}, [](GenerationJob& j, const KeyValue& v) {
                     if (v.allPartition) {
                       j.allPartition = true;
                     } else {
                       j.allSize = v.size;
                     }
                   }};
const Key kMinFiles{{keys::kMinFiles, Form::Number},
                    [](GenerationJob& j, const KeyValue& v) { j.minFiles = v.number; }};
const Key kMaxFiles{{keys::kMaxFiles, Form::Number},
                    [](GenerationJob& j, const KeyValue& v) { j.maxFiles = v.number; }};
const Key kLimSize{{keys::kLimSize, Form::Size}, [](GenerationJob& j, const KeyValue& v) {
                     j.limitSize = v.size;
                     j.useLimitSize = true;
                   }};
const Key kRecurse{{keys::kRecurse, Form::Flag},
                   [](GenerationJob& j, const KeyValue&) { j.recurseSubfolders = true; }};
const Key kRootSize{{keys::kRootSize, Form::Number}, [](GenerationJob& j, const KeyValue& v) {
                      j.rootSize = std::min(v.number, 30000);
                      j.makeUpTree = true;
                    }};
const Key kTreeDeep{{keys::kTreeDeep, Form::Number}, [](GenerationJob& j, const KeyValue& v) {
                      j.treeDeep = std::min(v.number, 255);
                      j.makeUpTree = true;
                    }};
const Key kDirLimit{{keys::kDirLimit, Form::Number}, [](GenerationJob& j, const KeyValue& v) {
                      j.dirsLimit = std::min(v.number, 30000);
                      j.makeUpTree = true;
                    }};
const Key kDirMask{{keys::kDirMask, Form::Quoted}, [](GenerationJob& j, const KeyValue& v) {
                     j.dirMask = v.quotedText;
                     j.useDirMask = true;
                   }};

const Key kReport{{keys::kReport, Form::Path}, nullptr, [](ScriptExtensions& e, const KeyValue& v) {
                    e.reportPath = v.quotedText;
                  }};
const Key kHtml{{keys::kHtml, Form::Path}, nullptr, [](ScriptExtensions& e, const KeyValue& v) {
                  e.htmlPath = v.quotedText;
                }};
const Key kProgress{{keys::kProgress, Form::Progress}, nullptr, [](ScriptExtensions& e, const KeyValue& v) {
                      e.progress = v.progress;
                    }};

const Key kJournal{{keys::kJournal, Form::Path}, nullptr, [](ScriptExtensions& e, const KeyValue& v) {
                     e.journalPath = v.quotedText;
                   }};

const Key kProfile{{keys::kProfile, Form::Path}, nullptr, [](ScriptExtensions& e, const KeyValue& v) {
                     e.profile = v.quotedText;
                   }};

const Key kSeed{{keys::kSeed, Form::Seed}, [](GenerationJob& j, const KeyValue& v) {
                  j.runSeed = v.seed;
                  j.seedGiven = true;
                }};
const Key kSync{{keys::kSync, Form::Sync}, [](GenerationJob& j, const KeyValue& v) { j.sync = v.sync; }};

const Key kCompress{{keys::kCompress, Form::Ratio},
                    [](GenerationJob& j, const KeyValue& v) { j.content.compressHundredths = v.hundredths; }};
const Key kDedupe{{keys::kDedupe, Form::Ratio},
                  [](GenerationJob& j, const KeyValue& v) { j.content.dedupeHundredths = v.hundredths; }};
const Key kDedupeBlock{{keys::kDedupeBlock, Form::DedupeBlock}, [](GenerationJob& j, const KeyValue& v) {
                         j.content.dedupeBlock = static_cast<std::uint32_t>(v.size);
                       }};
const Key kThreads{{keys::kThreads, Form::Threads},
                   [](GenerationJob& j, const KeyValue& v) { j.threads = v.threads; }};

// The keys of each mode in the order a parameter's key is tested; the extensions come last in
// every mode, so that a script without them is read exactly as before.
const std::vector<const Key*> kAllSizeKeys = {
    &kRoot, &kFileMask, &kMinSize,  &kMaxSize, &kNoFill,      &kNoClose, &kAllSize, &kReport, &kProgress,
    &kSeed, &kSync,     &kCompress, &kDedupe,  &kDedupeBlock, &kThreads, &kJournal, &kHtml,   &kProfile};
const std::vector<const Key*> kFilesNumberKeys = {
    &kRoot,     &kFileMask, &kMinSize, &kMaxSize,  &kNoFill,   &kNoClose,  &kMinFiles,
    &kMaxFiles, &kLimSize,  &kRecurse, &kRootSize, &kTreeDeep, &kDirLimit, &kDirMask,
    &kReport,   &kProgress, &kSeed,    &kSync,     &kCompress, &kDedupe,   &kDedupeBlock,
    &kThreads,  &kJournal,  &kHtml,    &kProfile};

// The rules of a mode's keys, in the same order.
std::vector<const KeyRule*> rulesOf(const std::vector<const Key*>& keys) {
  std::vector<const KeyRule*> rules;
  for (const Key* key : keys) rules.push_back(&key->rule);
  return rules;
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

ParseOutcome parseScript(const ScriptArgs& script, GenerationJob& job) {
  if (script.args.size() == 2) return reject("Parameters too low.");
  const bool byAllSize = script.mode == "/S";
  setDefaults(job, byAllSize);
  const auto& keys = byAllSize ? kAllSizeKeys : kFilesNumberKeys;
  static const std::vector<const KeyRule*> allSizeRules = rulesOf(kAllSizeKeys);
  static const std::vector<const KeyRule*> filesNumberRules = rulesOf(kFilesNumberKeys);
  const KeyReading reading = readKeys(script.parameters, byAllSize ? allSizeRules : filesNumberRules);
  if (!reading.accepted) {
    ParseOutcome out;
    out.message = reading.message;
    out.unrecognisedKey = reading.unrecognisedKey;
    return out;
  }
  ScriptExtensions extensions;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (!reading.values[i]) continue;
    if (keys[i]->apply) keys[i]->apply(job, *reading.values[i]);
    if (keys[i]->extend) keys[i]->extend(extensions, *reading.values[i]);
  }

  auto given = [&](const Key& key) {
    const auto it = std::find(keys.begin(), keys.end(), &key);
    return it != keys.end() && reading.values[static_cast<std::size_t>(it - keys.begin())].has_value();
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

std::string rejectionText(const ParseOutcome& outcome) {
  return readingFailureText(outcome.message, outcome.unrecognisedKey);
}

void logRejection(ScriptLog& log, const ParseOutcome& outcome) { log.writeLine(rejectionText(outcome)); }

}  // namespace quillet
