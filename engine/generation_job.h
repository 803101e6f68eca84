// The record of one generation run in three parts: the parameters, the live progress (counters and
// the stage) and the outcome, with the lock that guards what the worker and the progress display
// share.
//
// Threads: a front-end fills the parameters before the worker starts and does not change them
// while it runs; displays only read the job. Shared fields are atomics with one writer each (or
// written under `lock`), so a reader that takes `lock` and calls snapshot() never sees a torn value.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/block_identity.h"
#include "engine/flush_journal.h"

namespace quillet {

class PopulationSampler;
class PopulationTally;
class PopulationPlan;

// Code every generation routine ends with; also the process exit status.
enum class GenerationResult : int {
  Done = 0,
  VolumeFull = 1,  // volume full, or a file cannot be allocated at its size
  Stopped = 2,
  NamesUsedUp = 3,       // a mask's names are used up
  DataDamaged = 4,       // verify only: damaged, missing or unexpected data was found
  FolderLimit = 5,       // dirsLimit reached (tree make-up only)
  LimitSizeReached = 6,  // by files number only
  MaxSizeZero = 7,       // nothing generated
  PathFailed = 8,        // the root, a folder on the way, or a file cannot be created
  RankLost = 9,          // a run shared among processes: one of them stopped answering
};

inline int toInt(GenerationResult r) { return static_cast<int>(r); }

// A size unit: power index 0..3 ("b", "Kb", "Mb", "Gb"; script letters b, k, m, g).
struct SizeUnit {
  int power = 0;
  static constexpr const char* kTexts[4] = {"b", "Kb", "Mb", "Gb"};
};

// The number text read with strtol's rules (leading blanks, sign, stops at the first non-digit,
// 0 without digits, saturating at the 32-bit limits) times 2^(10 * power), in signed 64 bits.
std::int64_t toBytes(const std::string& numberText, int power);

// strtol's reading of a decimal text, saturated to the signed 32-bit range.
std::int32_t readNumber32(const std::string& text);

// When written data is flushed to the storage: never by the program (the system writes its cache
// back in its own time), before each file is closed, or once for the whole volume when the
// generation ends (still inside the run's time).
enum class SyncMode { None, File, End };

// Which sizes fitSizesBelow lowered.
enum class SizesFitted { None, Both, MaxOnly };

// Fits a file-size range below a total: a minimum above it brings both sizes down to it, otherwise
// a maximum above it is lowered to it.
SizesFitted fitSizesBelow(std::int64_t& minSize, std::int64_t& maxSize, std::int64_t total);

// Writes "a".."z" then "0".."9" into the alphabet.
void fillNameAlphabet(std::array<char, 36>& alphabet);

// The write rates of the files whose content took at least one whole write chunk, in bytes per
// second: the figures a report gives per file. Empty while count is 0.
struct WriteRates {
  std::int64_t count = 0;
  double minimum = 0;
  double maximum = 0;
  double sum = 0;
  void add(double rate) {
    minimum = count == 0 ? rate : std::min(minimum, rate);
    maximum = count == 0 ? rate : std::max(maximum, rate);
    sum += rate;
    ++count;
  }
  double mean() const { return count == 0 ? 0.0 : sum / static_cast<double>(count); }
};

// When one writer of a run finished its first and its last file, in seconds from the start of
// generation (-1 while it finished none), with what it made: a straggler shows as a late last time.
struct WriterTimes {
  double firstDone = -1;
  double lastDone = -1;
  std::int64_t files = 0;
  std::int64_t bytes = 0;
};

// The writers a run may use at most (the /threads range).
inline constexpr int kMaxWriters = 256;

// How far a run has come. The worker names the stages of a run by files number; a run by all size
// names none and stays at Starting. Displays turn the stage into their own text.
enum class RunStage {
  Starting,            // no stage named yet
  MakeUpTree,          // the tree make-up (make-up tree, or a profile's tree)
  CalculatingFolders,  // counting the folders to fill
  GeneratingFiles,     // filling the folders
};

// The stage's name as the progress displays show it; empty for Starting.
const char* runStageText(RunStage stage);

// The fields the progress display reads, copied at one moment under the job's lock.
struct ProgressSnapshot {
  RunStage stage = RunStage::Starting;
  bool stopRequested = false;
  bool finished = false;
  bool autoClose = false;
  std::int32_t dirsLimit = 0;
  std::int32_t dirsCreated = 0;
  std::uint32_t dirsProcessed = 1;
  std::uint32_t dirsCalculated = 1;
  std::int64_t allSize = 0;
  std::int64_t currentSize = 0;
  std::int64_t filesCreated = 0;
  std::int32_t folderFilesPlanned = 0;
  std::int32_t folderFileIndex = 0;
  GenerationResult result = GenerationResult::Done;  // meaningful once finished
};

// What a run is asked to do: a front-end fills it before the worker starts, and nothing changes it
// while the worker runs except the few fields the worker itself settles at its start (clusterSize,
// and runSeed when none was given), before any other thread reads them. Plain values, so a copy
// taken before a run (or before its sizes are completed) can start another job.
struct JobParameters {
  JobParameters() { fillNameAlphabet(nameAlphabet); }

  std::string fileMask;    // normalised; used only with useFileMask
  std::string dirMask;     // normalised; used only with useDirMask
  std::string rootFolder;  // destination, ends with a separator
  std::string driveRoot;   // volume root of rootFolder
  std::array<char, 36> nameAlphabet{};

  bool fillRandom = true;
  bool byAllSize = true;
  bool recurseSubfolders = false;
  bool makeUpTree = false;
  bool useLimitSize = false;
  bool useFileMask = false;
  bool useDirMask = false;
  bool autoClose = true;
  bool allPartition = false;
  bool scriptMode = false;

  std::int32_t dirsLimit = 0;
  std::int32_t clusterSize = 65536;  // set by the worker before generating
  std::int64_t minFileSize = 0;
  std::int64_t maxFileSize = 0;
  // By all size: the bytes to write; with allPartition, the free space found before the run (the
  // run itself goes on until the volume is full).
  std::int64_t allSize = 0;
  std::int64_t limitSize = 0;
  // How many names a mask gives (files, folders); set with the masks after the counters are reset.
  std::int64_t fileNameSpace = 0;
  std::int64_t dirNameSpace = 0;
  std::int64_t fsFileSizeLimit = 0;  // 0: no limit
  std::int32_t minFiles = 0;
  std::int32_t maxFiles = 0;
  std::int32_t treeDeep = 1;
  std::int32_t rootSize = 0;
  // The run's 64-bit seed. When given (from /seed) it seeds the content and every size and count
  // draw, so that the run can be repeated; otherwise the worker draws it at start from the clock's
  // finest ticks for the content only, and the draws keep their clock seconds.
  std::uint64_t runSeed = 0;
  bool seedGiven = false;
  SyncMode sync = SyncMode::None;
  // How compressible and repetitive the content is made (/compress, /dedupe, /dedupeblock); the
  // default is the plain random content.
  ContentShape content;
  // Writer threads for generation (1..kMaxWriters). One is the classic single worker, names and
  // order included; more share the files (by all size) or the folders (by files number) out.
  std::int32_t threads = 1;
  // /profile: the population the sizes, the per-folder counts, the extensions and (with
  // recurseSubfolders) the tree are drawn from; null for the uniform draws. The tally, when set,
  // records what the run made, for the comparison with the profile.
  std::shared_ptr<const PopulationSampler> population;
  std::shared_ptr<PopulationTally> populationTally;
  // With a profile and recurseSubfolders: the folders its tree make-up makes below the root, and
  // the deepest level (the root's is 0) a folder may get.
  std::int64_t profileFolders = 0;
  std::int32_t profileMaxDepth = 255;
  // With a profile's made-up tree: each folder's files and their size strata, planned by the
  // make-up (worker only, before any writer starts; read-only afterwards). Null otherwise.
  std::shared_ptr<const PopulationPlan> populationPlan;
  // /journal: where acknowledged files are recorded (not owned; none without the key).
  FlushJournal* journal = nullptr;
};

// What the run has done so far, read by the progress displays while it goes. Each field names its
// writer; the job's `lock` is what a reader takes for a consistent snapshot. Displays only read it
// (and ask for a stop through requestStop).
struct JobProgress {
  RunStage stage = RunStage::Starting;     // worker, under lock; kept from the previous run
  std::string currentFileName;             // last name the file-name generator produced; under nameLock
  std::atomic<bool> stopRequested{false};  // set by the display (under lock) or the worker
  std::atomic<bool> finished{false};       // set by the worker, under lock, as its last action
  // Set from outside (another process sharing the run saw the volume full or failed): the writers
  // finish the file they are writing and start no other; the run ends as Stopped.
  std::atomic<bool> endAtNextFile{false};
  std::atomic<std::int32_t> dirsCreated{0};         // worker only
  std::atomic<std::uint32_t> dirsProcessed{1};      // worker, under lock
  std::atomic<std::uint32_t> dirsCalculated{1};     // worker only
  std::atomic<std::int64_t> currentSize{0};         // worker only
  std::atomic<std::int64_t> filesCreated{0};        // worker, under lock
  std::atomic<std::int32_t> folderFilesPlanned{0};  // worker only
  std::atomic<std::int32_t> folderFileIndex{0};     // worker only
  // Each writer's bytes of the files it finished, read while the run goes for the speed record.
  std::array<std::atomic<std::int64_t>, kMaxWriters> writerBytesSoFar{};
  // Set by the first "is full" report, so that writers meeting the full volume together report it once.
  std::atomic<bool> volumeFullReported{false};
};

// How the run ended and the figures its report gives: written by the worker, read once it has
// ended (result also by the display, together with finished).
struct JobOutcome {
  // How the run ended; written by the worker under `lock` together with finished, so that the
  // progress display can tell a run that reached its goal from one that ended short of it.
  GenerationResult result = GenerationResult::Done;
  std::atomic<std::int64_t> filesPlanned{0};  // by files number: the file counts drawn for the folders filled
  std::int64_t firstSeed = -1;                // the clock seconds the run's first draws were seeded with
  WriteRates writeRates;                      // written under `lock` (several writers add to it)
  // One entry per writer thread, each written by its writer only; read once the run has ended.
  std::vector<WriterTimes> writerTimes;
  // With SyncMode::End: whether the volume was flushed, and when the system refused the flush
  // (no administrator rights, a network share), why. A flush that failed is a write failure.
  bool volumeSynced = false;
  std::string volumeSyncNote;
  // With a journal and SyncMode::End, the files closed so far wait here (under `lock`) until the
  // volume's flush succeeds.
  std::vector<AcknowledgedFile> pendingAcknowledged;
};

// The record of one generation run: its parameters, its progress and its outcome, with the locks
// that guard what the worker and the progress display share. A function that needs only one part
// takes that part.
struct GenerationJob : JobParameters, JobProgress, JobOutcome {
  GenerationJob() = default;
  GenerationJob(const GenerationJob&) = delete;
  GenerationJob& operator=(const GenerationJob&) = delete;

  mutable std::mutex lock;
  // Guards currentFileName, which every writer sets.
  mutable std::mutex nameLock;

  // Resets the progress and the outcome a run starts from (filesCreated 0, currentSize 0,
  // dirsProcessed and dirsCalculated 1, stop and finished cleared, ...) and the masks' name spaces;
  // the stage is kept. Not while a worker runs.
  void resetCounters();

  // Takes over from a job run before what this job would keep if it were that job run again: the
  // parameters, and what resetCounters keeps (the stage, the last file name, the files still
  // waiting for a flush). The counters and the outcome are left as they are. Not while a worker
  // runs on either job.
  void takeOverFrom(const GenerationJob& previous);

  // Names the stage the worker has reached; takes `lock`.
  void enterStage(RunStage next);

  // Copies the shared fields; takes `lock`.
  ProgressSnapshot snapshot() const;
  // The same, for a caller that already holds `lock`.
  ProgressSnapshot snapshotLocked() const;

  // Sets stopRequested under the lock.
  void requestStop();
};

}  // namespace quillet
