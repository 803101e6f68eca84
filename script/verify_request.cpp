#include "script/verify_request.h"

#include <algorithm>

namespace quillet {
namespace {

// The /v of a run's line: the key alone, without a value.
bool isVerifyKey(const ScriptParameter& parameter) {
  return !parameter.hasValue && parameter.keyUpper == "/V";
}

// The keys of /v alone: a file it names must be one character at least.
const KeyRule kRoot{keys::kRoot, Form::File};
const KeyRule kSeed{keys::kSeed, Form::Seed};
const KeyRule kReport{keys::kReport, Form::File};
const KeyRule kHtml{keys::kHtml, Form::File};
const KeyRule kProgress{keys::kProgress, Form::Progress};
const KeyRule kThreads{keys::kThreads, Form::Threads};
const KeyRule kJournal{keys::kJournal, Form::File};
const std::vector<const KeyRule*> kVerifyRules{&kRoot,     &kSeed,    &kReport, &kHtml,
                                               &kProgress, &kThreads, &kJournal};

}  // namespace

bool isVerifyRequest(const ScriptArgs& script) {
  if (script.mode == "/V") return true;
  if (script.mode != "/S" && script.mode != "/F") return false;
  return std::any_of(script.parameters.begin(), script.parameters.end(), isVerifyKey);
}

VerifyParse parseVerify(const ScriptArgs& script, GenerationJob& job, ParseOutcome& parsed) {
  VerifyParse out;
  const auto reject = [&](const std::string& message) {
    out.rejection = "Invalid script. " + message;
    return out;
  };
  if (script.mode != "/V") {
    // The run's own line: its parameters are read as the run read them, the /v left out.
    if (std::count_if(script.parameters.begin(), script.parameters.end(), isVerifyKey) > 1) {
      return reject("Repitition /v parameter.");
    }
    ScriptArgs runLine = script.without(isVerifyKey);
    parsed = parseScript(runLine, job);
    if (!parsed.accepted) {
      out.rejection = rejectionText(parsed);
      return out;
    }
    out.root = job.rootFolder;
    if (job.seedGiven) out.seed = job.runSeed;
    out.extensions = parsed.extensions;
    out.withRunParameters = true;
    out.threads = job.threads;
    out.accepted = true;
    return out;
  }

  const KeyReading reading = readKeys(script.parameters, kVerifyRules);
  if (!reading.accepted) {
    out.rejection = readingFailureText(reading.message, reading.unrecognisedKey);
    return out;
  }
  const auto quoted = [&](const KeyTexts& key, std::string& target) {
    if (const KeyValue* v = reading.find(kVerifyRules, key)) target = v->quotedText;
  };
  quoted(keys::kRoot, out.root);
  quoted(keys::kReport, out.extensions.reportPath);
  quoted(keys::kHtml, out.extensions.htmlPath);
  quoted(keys::kJournal, out.extensions.journalPath);
  if (const KeyValue* v = reading.find(kVerifyRules, keys::kSeed)) out.seed = v->seed;
  if (const KeyValue* v = reading.find(kVerifyRules, keys::kProgress)) out.extensions.progress = v->progress;
  if (const KeyValue* v = reading.find(kVerifyRules, keys::kThreads)) out.threads = v->threads;
  if (reading.find(kVerifyRules, keys::kRoot) == nullptr) return reject("/root parameter is absent.");
  out.accepted = true;
  return out;
}

}  // namespace quillet
