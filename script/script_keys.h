// The keys every script mode reads (/root, /report, /seed, /device, ...): one row per key with the
// texts of its checks, and the reading of a line against the keys a mode takes. Pure; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/generation_job.h"

namespace quillet {

// How a script run without a display shows its progress on standard error.
enum class ProgressFormat { Human, Json, Off };

// The words of /progress and /sync, as a line gives them and a report writes them ("human" is
// written only: no line asks for the default by name).
const char* progressWord(ProgressFormat format);
const char* syncWord(SyncMode mode);

// One parameter of a line (args[2..]), split once at its first colon.
struct ScriptParameter {
  std::string text;       // as given
  std::string key;        // up to the first colon, as typed
  std::string keyUpper;   // the key as keys are compared
  bool hasValue = false;  // whether there is a colon
  std::string value;      // after the first colon; empty without one
};

// The parameters of an argument vector: args[2..] (args[0] the program, args[1] the mode switch).
std::vector<ScriptParameter> splitParameters(const std::vector<std::string>& args);

// How a key's value is read.
// Quoted: a text between apostrophes, a lone apostrophe reading as an empty text.
// Path: a quoted text that may not be empty either; a lone apostrophe counts as empty.
// File: a quoted text of one character at least; anything shorter than three characters other than
//   '' is a bad form.
// Flag: no value needed, any value ignored. BareFlag: a key that takes no value; given one, it is
//   not a key of the mode. AllPartition: only the word allpartition; any other value is not a key
//   of the mode either.
// Seed: an unsigned 64-bit decimal number. Ratio: a decimal number from 1 to 100 with at most two
// decimals. DedupeBlock: a size that is a power of two from 1K to 1M, its number read as a run reads
// sizes; BlockSize: the same in plain digits (at most seven) and a unit B, K or M.
enum class Form {
  Quoted,
  Size,
  Number,
  Flag,
  AllSize,
  Path,
  File,
  Progress,
  Seed,
  Sync,
  Ratio,
  DedupeBlock,
  BlockSize,
  Threads,
  BareFlag,
  AllPartition
};

// A key's value once read; only the member of its form is set.
struct KeyValue {
  std::string quotedText;   // Quoted, Path, File
  std::int64_t size = 0;    // Size, AllSize, DedupeBlock, BlockSize
  std::int32_t number = 0;  // Number
  bool allPartition = false;
  ProgressFormat progress = ProgressFormat::Human;
  std::uint64_t seed = 0;
  SyncMode sync = SyncMode::None;
  std::uint32_t hundredths = 100;  // Ratio
  std::int32_t threads = 1;
};

// The name (upper case, as compared) and the texts of a key's checks; null: no check of its own.
struct KeyTexts {
  const char* name;
  const char* repetition;
  const char* empty;
  const char* badForm;
};

// A key as a mode reads it: its texts and its form. A repeatable key may be given again (the last
// value counts); a key whose empty check is off reads an empty value as a bad form.
struct KeyRule {
  const KeyTexts& texts;
  Form form;
  bool emptyChecked = true;
  bool repeatable = false;
};

// The texts of every key the program knows.
namespace keys {
extern const KeyTexts kRoot, kFileMask, kMinSize, kMaxSize, kNoFill, kNoClose, kAllSize, kMinFiles, kMaxFiles,
    kLimSize, kRecurse, kRootSize, kTreeDeep, kDirLimit, kDirMask, kReport, kHtml, kProgress, kJournal,
    kProfile, kSeed, kSync, kCompress, kDedupe, kDedupeBlock, kThreads, kSaveProfile, kDevice, kDestroy;
}  // namespace keys

// The outcome of reading one value: accepted, a check's text, or not a key of the mode at all.
struct KeyCheck {
  enum class Outcome { Accepted, Failed, NotAKey } outcome = Outcome::Accepted;
  const char* text = nullptr;  // Failed: the check's text
};

// Checks one value against a rule; seen tells whether the key was given before, hasValue whether
// the parameter has a colon. On acceptance out holds the value.
KeyCheck checkKey(const KeyRule& rule, bool seen, bool hasValue, const std::string& value, KeyValue& out);

// A line read against a mode's keys, in order, up to the first parameter that fails.
struct KeyReading {
  bool accepted = false;
  // On failure: the check's text, or (unrecognisedKey) the parameter's key as typed.
  std::string message;
  bool unrecognisedKey = false;
  // Accepted: the value of each rule given, at the rule's index in the mode's list.
  std::vector<std::optional<KeyValue>> values;

  // The value of the mode's rule for texts, when given.
  const KeyValue* find(const std::vector<const KeyRule*>& rules, const KeyTexts& texts) const;
};

// Reads a line's parameters against rules; the first rule whose name matches a parameter's key (any
// case) reads it.
KeyReading readKeys(const std::vector<ScriptParameter>& parameters, const std::vector<const KeyRule*>& rules);

// The first parameter naming rule's key, checked as the mode checks it: its value when it passes,
// nothing when it is absent or bad.
std::optional<KeyValue> findCheckedKey(const std::vector<ScriptParameter>& parameters, const KeyRule& rule);

// The log line of a failed reading: "Invalid script parameter '<key>'." for a key the mode does not
// take, else "Invalid script. <message>".
std::string readingFailureText(const std::string& message, bool unrecognisedKey);

// A /seed value: digits only (no sign, blank or other base), at most 2^64 - 1. False otherwise.
bool readSeed(const std::string& text, std::uint64_t& seed);

// The /threads value: "auto" (any case) for the cores the system reports, or a whole number from 1
// to 256 in plain digits. False for anything else.
bool readThreads(const std::string& text, std::int32_t& threads);

}  // namespace quillet
