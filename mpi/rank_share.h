// How a run is shared among the ranks of a parallel job, without the message passing itself: each
// rank's folder, its share of a total, the folder a verify checks, the state each rank publishes
// once per exchange, the one result the ranks agree on and the report's per-rank part. Pure
// functions and plain data; thread-safe for distinct values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillet {

// "rank-00003": fixed width, so that listings sort in rank order up to 100,000 ranks.
std::string rankFolderName(int rank);

// Rank `rank`'s part of `total` among `ranks`: total / ranks, and one more for each of the first
// total % ranks ranks, so that the parts add up to the total exactly. A negative total is no
// total to share: every rank keeps it as it is.
std::int64_t shareOf(std::int64_t total, int rank, int ranks);

// The rank whose folder rank `rank` verifies: (rank + shift) mod ranks.
int verifiedRank(int rank, int ranks, int shift);

// A /shift value: a whole number from 0 to 2147483647, nothing else.
bool readShift(const std::string& text, int& shift);

// A digest of a rank's line (the arguments after the program's name), for the ranks to tell
// whether they were all given the same one: the program's own path may differ between hosts.
std::int64_t lineDigest(const std::vector<std::string>& args);

// The first rank whose words (wordsPerRank of them, the first a line digest) differ from rank 0's
// in the digest, -1 when every rank has rank 0's line.
int firstOtherLine(const std::vector<std::int64_t>& all, int wordsPerRank);

// How long a rank waits for the others before it counts one as gone: a whole number of seconds
// from 1 to 86400, nothing else.
bool readSilenceLimit(const std::string& text, int& seconds);

// What one rank tells the others at each exchange: a fixed block of 64-bit numbers.
struct RankState {
  enum Phase : std::int64_t { Starting = 0, Running = 1, Concluded = 2 };
  enum Flag : std::int64_t { SignalStop = 1 };
  std::int64_t phase = Starting;
  std::int64_t result = -1;  // the rank's own result once Concluded
  std::int64_t flags = 0;
  std::int64_t files = 0;  // generation: files made; verify: files checked
  std::int64_t bytes = 0;  // generation: bytes written or allocated; verify: bytes checked
  std::int64_t foldersCreated = 0;
  std::int64_t foldersVisited = 0;
  std::int64_t filesPlanned = 0;
  // Times in microseconds since the epoch; 0 while unknown.
  std::int64_t startedUs = 0;
  std::int64_t endedUs = 0;
  std::int64_t generationStartUs = 0;
  std::int64_t generationEndUs = 0;
  std::int64_t firstDoneUs = 0;
  std::int64_t lastDoneUs = 0;
  std::int64_t runSeed = 0;  // the rank's seed, its bits as they are
  std::int64_t seedKnown = 0;
  std::int64_t verifiedRank = -1;
  std::int64_t damagedBytes = 0;
  std::int64_t intactBytes = 0;
  std::int64_t logLines = 0;  // the bytes of the text the rank hands to rank 0 at the end (all parts)
  // A generation ended by another rank's end (a failure, a full volume): that rank and its result.
  std::int64_t endedByRank = -1;
  std::int64_t endedByCode = -1;
  // Verify with a plan: the files missing and unexpected, -1 without a plan.
  std::int64_t missingFiles = -1;
  std::int64_t unexpectedFiles = -1;
  // The parts of the handed text after the log lines: the console lines and the verify's JSON.
  std::int64_t consoleBytes = 0;
  std::int64_t verifyJsonBytes = 0;

  static constexpr int kWords = 26;
  std::array<std::int64_t, kWords> pack() const;
  static RankState unpack(const std::int64_t* words);
};

// The one result of a shared run from every rank's own: a failure (names used up, a path that
// cannot be created) of the lowest rank that had one; else a stop by signal (2); else damage found
// by a verify (4); else a full volume (1); else the highest other code. A rank stopped because
// another one ended the run counts for nothing. failedRank receives the rank whose failure or
// full volume decided it, -1 for none.
int agreedResult(const std::vector<RankState>& ranks, int& failedRank);

// Whether a rank that ended with `result` ends the others' generation too: the shared volume is
// full, or a rank failed.
bool endsOthers(std::int64_t result);

// The report's "ranks" object (one JSON object, no line end): the count, the rank that decided
// the result, and one row per rank with its folder, result, seed, files, bytes, first-done and
// last-done times (seconds from the earliest generation start) and rates; for a verify, with the
// paths of the damaged files from each rank's verify object (verifyParts, by rank; may be short).
std::string ranksJson(const std::vector<RankState>& ranks, int failedRank, bool verify,
                      const std::vector<std::string>& verifyParts = {});

// The report's "verify" over all ranks, from each rank's own verify object (by rank; an empty or
// unreadable one counts for nothing): counts and bytes summed, lists joined, every path led by the
// folder its rank checked, the root the run's root and the seed the one given (as rank 0's object
// writes a seed). Figures of the shared volume (its size) and texts are rank 0's.
std::string mergedVerifyJson(const std::vector<std::string>& parts, const std::vector<RankState>& ranks,
                             const std::string& runRoot, std::optional<std::uint64_t> givenSeed);

// The code a rank's row gives: its own result, or, for a generation another rank's end stopped,
// that rank's result, which is also the code this rank's process ends with.
std::int64_t rowResult(const RankState& s);

// The earliest generation start (microseconds) among the ranks that started one; 0 when none did.
std::int64_t earliestGenerationStart(const std::vector<RankState>& ranks);

}  // namespace quillet
