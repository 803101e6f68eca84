// Measure mode (/m): how compressible and how repetitive a tree's content is, as storage with
// inline compression and deduplication would see it. Parses the line, measures on the calling
// thread, prints the result on standard output, logs it and writes the JSON report (/report).
// Ends with 0 (measured), 2 (stopped) or 8 (the root cannot be read, or this build cannot measure).
// With /saveprofile it profiles the tree instead (a walk over its metadata, see population_walk.h)
// and writes the profile: 8 also when the root is a link or the profile cannot be written.
#pragma once

#include <string>
#include <vector>

#include "engine/population_walk.h"
#include "engine/tree_measure.h"
#include "script/script_run.h"

namespace quillet {

struct MeasureParse {
  bool accepted = false;
  std::string rejection;  // the log line of a rejected line
  std::string root;
  std::uint32_t blockSize = 4096;
  std::string reportPath;
  ProgressFormat progress = ProgressFormat::Human;  // /progress
  std::string profilePath;                          // /saveprofile: profile the tree into this file
};

// script.args[1] is /m; the rest: /root:'<folder>' (required), /dedupeblock:<size>, /report:'<file>',
// /progress:json|off, /saveprofile:'<file>'.
MeasureParse parseMeasure(const ScriptArgs& script);

// The console lines of a measured tree.
std::vector<std::string> formatMeasure(const std::string& root, std::uint32_t blockSize,
                                       const MeasureResult& r);

// The report's "measure" object (one line): the figures, each key naming its unit.
std::string measureJson(const MeasureResult& r);

// The console lines of a profiled tree (the profile's headline figures).
std::vector<std::string> formatProfile(const std::string& root, const PopulationWalkResult& r);

int runMeasureScript(const ScriptArgs& script, const ScriptRunServices& services);

}  // namespace quillet
