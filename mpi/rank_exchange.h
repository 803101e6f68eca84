// The message passing of a shared run: every rank publishes its RankState and receives everyone's
// in rounds of one non-blocking all-gather, polled by the main thread alone (the writers never
// wait on it, and MPI is asked for no more than funnelled threading). No call here blocks: a round
// that never completes (a rank that died) is seen by its age, so the caller can end the run.
#pragma once

#include <mpi.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "mpi/rank_share.h"

namespace quillet {

class RankExchange {
 public:
  explicit RankExchange(MPI_Comm comm);
  RankExchange(const RankExchange&) = delete;
  RankExchange& operator=(const RankExchange&) = delete;

  int rank() const { return rank_; }
  int ranks() const { return ranks_; }

  // Starts a round with `mine` when none is under way (and `start` allows one), and tells whether
  // the round under way has completed; then all() holds every rank's state of that round, the
  // same on every rank.
  bool poll(const RankState& mine, bool start = true);
  const std::vector<RankState>& all() const { return all_; }
  bool roundPending() const { return pending_; }
  // How long the round under way has waited; 0 when none is.
  double waitingSeconds() const;
  // Whether every rank was Concluded in the last completed round.
  bool allConcluded() const;

  // After a round in which every rank concluded: rank 0 receives each rank's text (index by rank;
  // sizes from the round's logLines), the others an empty list. False when it did not complete
  // within `seconds`.
  // Waits (polling) until every rank has called it; false when that took more than `seconds`.
  bool barrier(double seconds);

  bool gatherTexts(const std::string& mine, double seconds, std::vector<std::string>& texts);

  // Before any round: every rank receives every rank's `mine` (all the same length), in rank
  // order. False when that did not complete within `seconds`.
  bool gatherWords(const std::vector<std::int64_t>& mine, double seconds, std::vector<std::int64_t>& all);

 private:
  MPI_Comm comm_;
  int rank_ = 0;
  int ranks_ = 1;
  bool pending_ = false;
  std::vector<std::int64_t> send_;
  std::vector<std::int64_t> receive_;
  std::vector<RankState> all_;
  MPI_Request request_ = MPI_REQUEST_NULL;
  std::chrono::steady_clock::time_point roundStarted_;
};

}  // namespace quillet
