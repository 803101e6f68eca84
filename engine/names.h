// Name masks and the counter-derived names of generated files and folders, plus the size and
// count draws. Pure functions of their arguments (and the run's random source); not thread-safe
// only in that makeName writes the job's currentFileName, which the worker alone uses.
#pragma once

#include <cstdint>
#include <string>

#include "engine/generation_job.h"
#include "engine/random.h"

namespace quillet {

struct NormalisedMask {
  std::string mask;
  std::int64_t nameSpace = 1;  // 36^(number of '?'), 1 without '?'
};

// '*' -> "???"; every part that could lead out of the folder the names are made in dropped (empty,
// "." and ".." parts, so a leading or repeated separator too, and on Windows a drive prefix);
// leading and trailing dots removed; at most 12 '?' kept.
NormalisedMask normaliseMask(const std::string& mask);

enum class NameKind { File = 0, Folder = 1 };

// The name for a counter (>= 0): from the kind's mask when it is in use (the leftmost '?' is the
// least significant digit of (counter + 1) / 36), otherwise the counter in bijective base 36
// ("a".."9", "aa".."99", "aaa", ...). A file name is also stored in job.currentFileName.
std::string makeName(std::int64_t counter, GenerationJob& job, NameKind kind);

// False for the reserved device names AUX, CON and PRN (whole name, any case).
bool isAllowedName(const std::string& name);

enum class NameDraw { Allowed, Stopped, UsedUp };

// Makes the name for counter and, while isAllowedName refuses it, for the counters after it (the
// counter is left at the allowed name's). A stop request ends the draw; so does a mask whose every
// name has been refused in a row (UsedUp), as "con" or "Aux." would loop for ever.
NameDraw drawAllowedName(std::int64_t& counter, GenerationJob& job, NameKind kind, std::string& name);

// The size of the next file: minFileSize when the range is empty, else
// min + trunc(r * (max - min + 1) / 32767) for one 15-bit draw r.
std::int64_t drawFileSize(const GenerationJob& job, RandomSource& random);
// With a profile's plan: the size of the run's file of that index (its place in the plan), drawn
// inside its stratum; the plain draw for an index outside the plan (-1).
std::int64_t drawFileSize(const GenerationJob& job, RandomSource& random, std::int64_t plannedIndex);

// Files for one folder: minFiles when the range is empty, else min + rand() % (max - min + 1).
std::int32_t drawFolderFileCount(const GenerationJob& job, RandomSource& random);
// With a profile, both draws come from it instead, kept within minFileSize..maxFileSize and
// minFiles..maxFiles.

// With a profile: the next file's extension (its index in the profile's list, -1 for the "other"
// share) and the suffix its name gets. Without one: no draw, index -1 and no suffix.
struct DrawnExtension {
  int index = -1;
  std::string suffix;
};
DrawnExtension drawFileExtension(const GenerationJob& job, RandomSource& random);

// The search for a free file name in one folder. Each next() runs the name steps up to the
// existence test, which the caller makes as an exclusive create; when that finds the name taken,
// the caller calls next() again. A fresh search object is made for every file.
class FreeNameSearch {
 public:
  enum class Outcome { Candidate, Stopped, NamesUsedUp };

  // counter keeps running across searches (the caller's scope); createdHere is the caller's count
  // of files created in that scope.
  // suffix (a profile's extension, with its dot) follows every name tried.
  FreeNameSearch(std::string folder, std::int64_t& counter, GenerationJob& job, std::int64_t createdHere,
                 std::string suffix = {})
      : folder_(std::move(folder)),
        counter_(counter),
        job_(job),
        createdHere_(createdHere),
        suffix_(std::move(suffix)) {}

  // On Candidate, path holds the folder plus the name to try.
  Outcome next(std::string& path);

 private:
  std::string folder_;
  std::int64_t& counter_;
  GenerationJob& job_;
  std::int64_t createdHere_;
  std::string suffix_;
  std::int64_t attempts_ = 0;
  std::int64_t tries_ = 0;
  std::string current_;
};

}  // namespace quillet
