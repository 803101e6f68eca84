// The /journal file: one JSON object per line, appended and flushed as the storage acknowledges
// each file, so that it can be kept on other storage and read after a power cut. A run appends to
// an existing journal; its first line (the header) names the run, and a verify checks the files
// of the last run in the file. A line cut short by a crash is ignored when the journal is read.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/block_identity.h"
#include "engine/flush_journal.h"
#include "engine/generation_job.h"
#include "platform/system.h"

namespace quillet {

inline constexpr int kJournalVersion = 1;
// How long appended records gather before one flush of the journal serves them all.
inline constexpr std::chrono::milliseconds kJournalGathering{50};

// What a journal's header says about its run.
struct JournalHeader {
  std::string line;  // the run's own line, as given
  std::uint64_t seed = 0;
  std::string root;
  std::string sync;    // "file" or "end"
  bool filled = true;  // false for a /nofill run: its files are checked for their length only
  ContentShape shape;
};

class ScriptFlushJournal final : public FlushJournal {
 public:
  // Opens path for appending; the header waits for begin(). The job gives the run's parameters.
  static Result<std::unique_ptr<ScriptFlushJournal>> open(const std::string& path, const std::string& runLine,
                                                          const GenerationJob& job);
  Status begin(std::uint64_t seed) override;
  Status acknowledge(const AcknowledgedFile& file) override;
  Status finish() override;
  const std::string& path() const override { return path_; }
  ~ScriptFlushJournal() override;

 private:
  ScriptFlushJournal(std::unique_ptr<ExclusiveAppendFile> file, std::string path, JournalHeader header)
      : file_(std::move(file)), path_(std::move(path)), header_(std::move(header)) {}
  Status appendLine(const std::string& line);
  void flushRecords();

  std::mutex lock_;  // writers acknowledge files side by side; records go in one at a time
  // The flusher flushes whatever was appended since its last flush, while the writers go on: one
  // flush serves every record appended meanwhile.
  std::condition_variable changed_;
  std::int64_t appended_ = 0;
  std::int64_t flushed_ = 0;
  Status flushError_;
  bool closing_ = false;
  bool finishing_ = false;  // the run has ended: what is appended is flushed without gathering
  std::thread flusher_;
  std::unique_ptr<ExclusiveAppendFile> file_;
  std::string path_;
  JournalHeader header_;
};

// The last run of a journal file: its header and the files it recorded, in order.
struct JournalContents {
  JournalHeader header;
  std::vector<AcknowledgedFile> files;
  std::int64_t tornLines = 0;  // lines that are no record (cut short by a crash), skipped
};

// Reads a journal; false with why set when it cannot be read or holds no run.
bool readJournal(const std::string& path, JournalContents& contents, std::string& why);

// The header's and a record's line (no line end), as the journal holds them.
std::string journalHeaderLine(const JournalHeader& header);
std::string journalRecordLine(const AcknowledgedFile& file);

}  // namespace quillet
