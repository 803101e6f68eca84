// One rank's side of a run shared among the ranks of a parallel job: the hooks that make the script
// run this rank's part, the display that exchanges figures with the other ranks while it runs, and
// the conclusion that agrees on one result and lets rank 0 alone write the log block and report.
// Main thread only (the only thread that passes messages).
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "engine/verify.h"
#include "mpi/rank_exchange.h"
#include "platform/file_system.h"
#include "script/console_progress.h"
#include "script/run_report.h"
#include "script/script_run.h"

namespace quillet {

class SharedRun {
 public:
  // shift: the verify's distance to the folder it checks. exchangeWhileRunning false keeps the
  // ranks silent until they conclude (no progress, no early stop of the others): for measuring
  // what the exchange costs. silenceLimitSeconds: how long a round may wait for the others before
  // a rank counts as gone.
  SharedRun(RankExchange& exchange, FileSystem& fs, int shift, bool exchangeWhileRunning,
            double silenceLimitSeconds = kDefaultSilenceLimitSeconds);

  // A round that has not completed after this long means a rank is gone (killed, its node lost,
  // stopped): ranks that are alive take part in one every tenth of a second whatever their
  // writers do.
  static constexpr double kDefaultSilenceLimitSeconds = 120;

  RunSharing hooks(std::string rejection);
  ProgressDisplay& display() { return display_; }

  // After the script run: whether it ever concluded, and how it ended without the others.
  bool concluded() const { return concluded_; }
  // A round waited past the silence limit: a rank is gone.
  bool lost() const { return lost_; }
  // A stop signal came and the others did not all conclude in the time the launcher leaves.
  bool gaveUp() const { return gaveUp_; }
  // A rank is gone and the launcher is ending the job (it warned, and a round then stalled): the
  // rank ended at once, without waiting for the others (lost() is true too).
  bool endedByLauncher() const { return endedByLauncher_; }
  // Takes part in the conclusion for a run that ended before it could (its log could not be
  // opened): the others are stopped and nothing is written.
  int concludeUnlogged(int result);
  // Waits until rank 0 has closed its log block and report: a launcher ends the whole job as soon
  // as one rank exits with a non-zero code. False when that did not come in time.
  bool awaitLeader();

 private:
  class Display final : public ProgressDisplay {
   public:
    explicit Display(SharedRun& run) : run_(run) {}
    void show(GenerationJob& job) override { run_.watchGeneration(job); }
    void setFormat(ProgressFormat format) override { run_.format_ = format; }

   private:
    SharedRun& run_;
  };

  std::string shareJob(GenerationJob& job, int part, bool create);
  void watchGeneration(GenerationJob& job);
  void watchVerify(VerifyJob& job);
  // One poll of the exchange (a new round at most every tenth of a second); true when a round
  // completed. Notes a stop signal and a silent round.
  bool tick(bool running);
  // Rank 0's line once a second: for a generation, job's (null for a verify), its figures replaced
  // by the sums over all ranks.
  void printProgress(const GenerationJob* job, bool last);
  ProgressSnapshot summed(ProgressSnapshot local) const;
  // Rank r's state: this rank's own as it stands, the others' from the last completed round.
  const RankState& stateOf(int r) const;
  int conclude(int result, RunRecord& record, ScriptLog* log);

  RankExchange& exchange_;
  FileSystem& fs_;
  int shift_;
  bool exchangeWhileRunning_;
  double silenceLimitSeconds_;
  Display display_{*this};
  ProgressFormat format_ = ProgressFormat::Human;
  RankState mine_;
  std::optional<RunRecord::RunWide> runWide_;  // the run's own parameters, before this rank's part
  // A verify: the run's root above the rank folders and the seed given, before this rank's part.
  std::string verifyRoot_;
  std::optional<std::uint64_t> givenSeed_;
  std::string console_;  // what this rank would have printed on standard output
  bool verify_ = false;
  bool zeroShare_ = false;
  bool concluded_ = false;
  bool lost_ = false;
  bool gaveUp_ = false;
  bool endedByLauncher_ = false;
  // When the launcher's warning came, while no round has completed since.
  std::optional<std::chrono::steady_clock::time_point> warnedAt_;
  std::chrono::steady_clock::time_point lastRound_{};
  std::chrono::steady_clock::time_point shownFrom_{};
  std::chrono::steady_clock::time_point lastPrint_{};
  std::optional<std::chrono::steady_clock::time_point> signalAt_;
  bool lineOpen_ = false;
  // /progress:json: what the last object line gave, for its interval figures.
  bool byAllSize_ = true;
  bool fillRandom_ = true;
  ProgressSnapshot jsonBefore_;
  ReadFigures readBefore_;  // a verify's figures at its last /progress:json line
  // The ranks' files, bytes and damaged bytes summed as last exchanged (a generation's: made and
  // written; a verify's: checked). Rank 0 alone prints them.
  ReadFigures summedRead();
  std::chrono::steady_clock::time_point jsonBeforeAt_{};
};

}  // namespace quillet
