// The rules of a run's end: what a run that ended early (stopped, the volume full, its size limit
// reached) leaves behind, told apart from damage. Files cut where the run ended, the planned files it
// never made, and files of the run's sizes cut to the room it saw. Runs on the verify's own thread,
// once every file was checked.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/verify.h"
#include "engine/verify_walk.h"

namespace quillet {

// What the check of every file found that the rules weigh, by path relative to the root.
struct TreeFindings {
  std::int64_t freeNow = -1;  // the room free on the volume now; -1 when it could not be told
  std::int64_t cluster = 4096;
  std::unordered_map<std::string, std::int64_t> plannedSizes;
  std::unordered_set<std::string> mayBeCut;  // planned files the run may have cut to the room left
  std::unordered_map<std::string, SizeState> present;
  std::unordered_map<std::string, std::int64_t> carried;  // the size each file's blocks carry
  std::unordered_map<std::string, std::int64_t> lengths;
  // Set by the rules: planned files present that a writer may have been writing at the end, and
  // last files made that carry less than planned because they were resized since, not cut.
  std::unordered_set<std::string> inFlight;
  std::unordered_set<std::string> resizedSince;

  void notePlanned(const PlannedFile& p);
  // The room a file of this length takes on the volume: whole clusters. A run that filled the
  // volume had that much more room than is free now, not just the files' lengths.
  std::int64_t roomTaken(std::int64_t length) const;
};

class EndRules {
 public:
  EndRules(const VerifyJob& job, TreeFindings& seen, VerifyResult& result)
      : job_(job), seen_(seen), result_(result) {}

  // With the plan (job.plan set): planned files that are absent are missing, except the tail of a
  // run that ended early; files found that were never planned are unexpected.
  void comparePlan(const std::vector<FoundFile>& files);
  // Takes the files a run was writing when it ended out of the damaged ones; after comparePlan.
  void allowCutShortFiles();
  // Takes the files the plan made empty (a profile's empty files) out of the truncated ones; before
  // comparePlan.
  void allowPlannedEmptyFiles();

 private:
  // Several writers filling folders by files number: whether the plan has the shape of a run
  // that ended early with a folder part-filled per writer (see the definition).
  bool partFilledFolders(const std::vector<PlannedFile>& plan, std::int64_t writers,
                         std::vector<bool>& notMade, std::string& reason);
  // Several writers by files number that shared /limsize file by file.
  void limitReachedFolders(const std::vector<PlannedFile>& plan, std::int64_t writers,
                           std::vector<bool>& notMade, bool cutOnly = false);
  void compareSizes(const std::vector<FoundFile>& files);
  bool cutToTheRoomThenCut(const std::string& path, std::int64_t carried, std::int64_t freeAtEnd) const;
  void markUnmadeTail(const std::vector<PlannedFile>& plan, std::vector<bool>& notMade);

  const VerifyJob& job_;
  TreeFindings& seen_;
  VerifyResult& result_;
};

}  // namespace quillet
