// Verify: reads back a tree a run filled with self-identifying blocks and tells, block by block,
// what came back: intact, corrupted, misdirected (a block of the same run in the wrong place),
// stale (a block of another seed), zeroed or unrecognised; and, file by file, whether the size is
// the one the blocks carry. Plain C++ over the FileSystem services.
//
// The work is split so that it can be shared: classifyRange() is a pure function of a file's
// expectation and the bytes of one range, and FileTally::merge() adds ranges in any order, so
// several readers may check ranges of one file and the totals come out the same.
//
// Threads: runVerify() runs on one worker thread; the front-end reads the job's atomics and sets
// its stop flag at any time.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/block_identity.h"
#include "engine/engine_services.h"
#include "engine/generation_job.h"

namespace quillet {

enum class BlockClass : std::uint8_t { Ok, Corrupted, Misdirected, Stale, Zeroed, Unrecognised };
inline constexpr int kBlockClasses = 6;
// "ok", "corrupted", "misdirected", "stale", "zeroed", "unrecognised".
const char* blockClassName(BlockClass c);

// What a file's blocks are checked against: the run's seed, the file's identity and the size its
// blocks carry. A block at offset o is intact when it is the block of {seed, fileId, size, o}.
struct FileExpectation {
  std::uint64_t seed = 0;
  std::uint64_t fileId = 0;
  std::int64_t size = 0;
  // False when no intact block of the file told its size: size is then the file's length.
  bool sizeFromBlocks = false;
  // How the file's content was made, as its blocks tell: a repeated dedupe block is intact when it
  // is the block its place repeats (sourceIdentity).
  ContentShape shape{};
};

// One run of neighbouring blocks of the same class, with the identities of its first block.
struct DamageRange {
  std::int64_t offset = 0;
  std::int64_t length = 0;
  BlockClass kind = BlockClass::Corrupted;
  BlockIdentity expected;
  std::optional<BlockIdentity> found;
};

// The classified bytes of one file (or of one range of it).
struct FileTally {
  std::array<std::int64_t, kBlockClasses> bytes{};
  // Damaged runs in offset order, at most kRangesKept; rangesLeftOut counts the runs beyond them.
  // A run is a stretch of neighbouring blocks of one class, however the file was cut into ranges.
  std::vector<DamageRange> ranges;
  std::int64_t rangesLeftOut = 0;
  static constexpr std::size_t kRangesKept = 16;
  // The class and end of the last damaged run, kept or not, so that a run going on in the next
  // range joins it; lastEnd is -1 while there is none.
  BlockClass lastKind = BlockClass::Corrupted;
  std::int64_t lastEnd = -1;

  std::int64_t damagedBytes() const;
  // Adds the tally of a neighbouring range, before or after this one; runs that meet at the seam
  // and agree are joined. Ranges of one file merged one by one in offset order (or their reverse)
  // give what one pass over the file gives.
  void merge(const FileTally& other);
  // Adds one classified block, after every block added so far.
  void add(std::int64_t offset, std::int64_t length, BlockClass kind, const BlockIdentity& expected,
           const std::optional<BlockIdentity>& found);

 private:
  bool hasRuns() const { return lastEnd >= 0; }
  void append(const FileTally& later);
};

// Classifies one block of `size` bytes (at most kIdentityBlock) at `offset` of a file expected as
// `expect`: only the part before the expected end is looked at (the bytes beyond it are the file's
// extension, counted by the caller). found receives the identity the block carries, when its header
// decodes. Under a dedupe shape the block expected is the one its place repeats.
BlockClass classifyBlock(const FileExpectation& expect, std::int64_t offset, const std::uint8_t* block,
                         std::size_t size, std::optional<BlockIdentity>& found);

// Classifies data[0..size) that starts at `offset` (a multiple of kIdentityBlock) of the file.
void classifyRange(const FileExpectation& expect, std::int64_t offset, const std::uint8_t* data,
                   std::size_t size, FileTally& tally);

// Whether data[0..size) is zeros throughout.
bool allZeroBytes(const std::uint8_t* data, std::size_t size);

// Tells a file's expectation from the start of its content (as much of it as the caller read, the
// whole file or its first chunk): the size and shape the first intact block of this file carries;
// else the file's own length, with the shape an intact copy of the run's shared block carries.
FileExpectation expectFromStart(std::uint64_t seed, std::uint64_t fileId, std::int64_t fileLength,
                                const std::uint8_t* data, std::size_t size);

// The run's seed as most files' first blocks carry it; nullopt when no first block decodes.
std::optional<std::uint64_t> majoritySeed(const std::vector<std::uint64_t>& firstBlockSeeds);

// A file the run is expected to have made (from re-deriving the run), by path relative to the
// root with '/' between parts.
struct PlannedFile {
  std::string relativePath;
  std::int64_t size = 0;
  // A run that filled the volume cut its last files to the room it saw left, which depends on how
  // far its writers had got: such a file may carry a smaller size than planned.
  bool sizeMayBeCut = false;
};

enum class SizeState { Right, Truncated, Extended };

struct FileVerdict {
  std::string relativePath;  // parts joined by '/'
  std::int64_t length = 0;   // as found
  FileExpectation expect;
  SizeState sizeState = SizeState::Right;
  bool allocationOnly = false;
  bool allZero = false;              // the whole content read back as zeros
  std::int64_t unreservedBytes = 0;  // allocation-only: bytes of its size the volume holds no room for
  bool unreadable = false;           // could not be opened or read
  std::string readError;
  // With the plan: the size the run planned for this file, when its blocks carry another one (a
  // file of another run's sizes in its place); -1 when it carries the planned size or none.
  std::int64_t resizedFrom = -1;
  FileTally tally;
  bool damaged() const;
};

// Which uncached method the files were read with, by count.
struct ReadMethods {
  std::int64_t direct = 0;
  std::int64_t dropped = 0;
  std::int64_t cached = 0;
};

// FromJournal: given to the check by the flush journal's first record rather than by the user.
enum class SeedSource { Given, FromData, FromJournal, None };

// When one reader finished its first and its last piece of work (a file, or a range of a large
// one), in seconds from the start of the verify (-1 while it finished none); files counts the files
// whose check it completed, bytes what it read.
using ReaderTimes = WriterTimes;

struct VerifyResult {
  std::uint64_t seed = 0;
  SeedSource seedSource = SeedSource::None;
  std::int64_t files = 0;
  std::array<std::int64_t, kBlockClasses> classBytes{};
  std::array<std::int64_t, kBlockClasses> classFiles{};
  std::int64_t truncatedFiles = 0, truncatedBytes = 0;  // bytes: what the blocks carry beyond the end
  std::int64_t extendedFiles = 0, extendedBytes = 0;
  std::int64_t allocationOnlyFiles = 0, allocationOnlyBytes = 0, unreservedFiles = 0;
  std::int64_t unreadableFiles = 0;
  std::int64_t resizedFiles = 0;  // with the plan: files that carry a size other than planned
  // Folders that could not be listed (whole or in part): what they hold was not checked.
  std::vector<std::string> listingErrors;
  ReadMethods methods;
  // Damaged files in walk order (every one), with their tallies.
  std::vector<FileVerdict> damaged;
  // With the run's parameters: planned files not found, and files found that the run never planned.
  bool planned = false;
  std::string planNote;  // why the files could not be planned, or why the plan was cut
  std::vector<std::string> missing;
  std::int64_t missingTailAllowed = 0;  // planned files after a run that ended early
  std::string tailReason;               // why that tail is allowed; empty when none was
  // The files left shorter than their blocks say but intact where a run ended (stopped while
  // writing them, or the volume filled), at most one per writer of the run, in walk order:
  // "<path> (<length> of <size> bytes; <why>)". cutShort is the first of them; empty if none.
  std::string cutShort;
  std::vector<std::string> cutShortFiles;
  std::vector<std::string> unexpected;
  // Entries that are no regular file (a FIFO, socket or device node): never opened. With the plan
  // they are unexpected too; without it they are only listed as skipped.
  std::vector<std::string> notRegular;
  // The volume as it claims itself, for the capacity check.
  std::int64_t volumeTotalBytes = -1;
  // Per reader, in the order they were started.
  std::vector<ReaderTimes> readerTimes;
  bool stopped = false;
  bool rootMissing = false;
  std::string rootError;

  std::int64_t intactBytes() const { return classBytes[0]; }
  std::int64_t damagedBytes() const;
  bool anyDamage() const;
  // Nothing a run made was there to check: no file at all, or no file carrying a run's identity
  // (and none that a run only allocated). Such a verify proves nothing and never passes.
  bool nothingGenerated() const;
};

// The record of one verify: its parameters, live counters and stop flag.
struct VerifyJob {
  std::string rootFolder;  // ends with a separator
  std::optional<std::uint64_t> seed;
  // Set when the run's parameters were given: the files it planned, in creation order, and
  // whether it only allocated them.
  std::optional<std::vector<PlannedFile>> plan;
  // Asked for the plan once every file was checked, with the bytes the tree's files hold (a run
  // that filled the whole volume had that much more room than the volume has left) and the
  // visible folders found below the root (relative, '/' between parts, parents first, each
  // folder's sub-folders in the order the volume lists them, which is the order the run walked
  // them in): the run filled the folders it found or made, so the plan starts from them.
  std::function<std::optional<std::vector<PlannedFile>>(std::int64_t bytesInTree,
                                                        const std::vector<std::string>& folders)>
      planner;
  bool planAllocationOnly = false;
  // Set when the run's parameters told whether it only allocated (planAllocationOnly).
  bool allocationOnlyKnown = false;
  // Reader threads that share the files and the ranges of large files out (1..256); the results
  // are the same for any number.
  int readers = 1;
  // The writers the run had (1..256): each may have left one file cut short where the run ended.
  int runWriters = 1;
  // By files number with several writers: the run's /limsize in bytes, else -1. The writers fill
  // several folders at once and share the limit file by file, so which files it cut depends on
  // timing; the plan then goes on past the limit and the tree is checked for the limit's shape.
  std::int64_t runLimitBytes = -1;
  std::atomic<std::int64_t> filesFound{0};
  std::atomic<std::int64_t> filesChecked{0};
  std::atomic<std::int64_t> bytesChecked{0};
  std::atomic<std::int64_t> damagedBytes{0};
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> finished{false};
  void requestStop() { stopRequested = true; }
};

// Walks job.rootFolder's visible tree, checks every file and fills result. Sets job.finished last.
void runVerify(VerifyJob& job, FileSystem& fs, VerifyResult& result);

// "seed 42, file e9edd72e5326c345, size 2104288, offset 4096": seed, size and offset in decimal,
// the file's identity in hexadecimal.
std::string identityText(const BlockIdentity& id);

}  // namespace quillet
