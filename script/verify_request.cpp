#include "script/verify_request.h"

#include "platform/ascii.h"

namespace quillet {
namespace {

bool isVerifyKey(const std::string& parameter) { return asciiUpper(parameter) == "/V"; }

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

bool isVerifyRequest(const std::string& mode, const std::vector<std::string>& args) {
  if (mode == "/V") return true;
  if (mode != "/S" && mode != "/F") return false;
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (isVerifyKey(args[i])) return true;
  }
  return false;
}

VerifyParse parseVerify(const std::string& mode, const std::vector<std::string>& args, GenerationJob& job,
                        ParseOutcome& parsed) {
  VerifyParse out;
  const auto reject = [&](const std::string& message) {
    out.rejection = "Invalid script. " + message;
    return out;
  };
  if (mode != "/V") {
    // The run's own line: its parameters are read as the run read them, the /v left out.
    std::vector<std::string> runArgs;
    bool verifySeen = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (i >= 2 && isVerifyKey(args[i])) {
        if (verifySeen) return reject("Repitition /v parameter.");
        verifySeen = true;
        continue;
      }
      runArgs.push_back(args[i]);
    }
    parsed = parseScript(mode, runArgs, job);
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

  const KeyReading reading = readKeys(args, kVerifyRules);
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
