// A run by a profile: how the profile met the run's limits (the lines the run says), and how well
// the tree it made hit the profile's targets (the report's "population" object and the console's
// short table). Pure; thread-safe for distinct values.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/generation_job.h"
#include "engine/population_sampler.h"
#include "script/script_parser.h"

namespace quillet {

// Completes a job that has its profile: sizes and per-folder counts are drawn from the profile and
// only kept within /minsize../maxsize and /minfiles../maxfiles when those are given; with /recurse
// the tree's folder count and depth come from the profile, bounded by /dirlimit and /treedeep.
// Called by completeScriptJob before the job's sizes are fitted below the totals.
void completeProfileJob(GenerationJob& job, const ParseOutcome& parsed);

// The lines that tell how the profile met the limits of a completed job: what is drawn from it, and
// each limit that bounds its draws, with the share of the profile's draws it changes.
std::vector<std::string> profileResolutionLines(const GenerationJob& job, const ParseOutcome& parsed);

// The report's "population": per distribution the target against the achieved figures (mean,
// median, 90th and 99th percentiles), the sizes' Kolmogorov-Smirnov distance and their shares per
// power-of-two size class, and the extensions' shares. tree: whether the run made up a tree.
nlohmann::ordered_json populationFitJson(const PopulationSampler& sampler, PopulationTally::Contents made,
                                         const std::vector<std::string>& resolutions, bool tree);

// The console's short table of the same, one text per line.
std::vector<std::string> formatPopulationTable(const nlohmann::ordered_json& fit);

}  // namespace quillet
