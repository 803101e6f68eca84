// The check of a flush journal after a power cut: every file the storage acknowledged must be there
// with its length and every block intact. Plain C++ over FileSystem; one thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/block_identity.h"
#include "engine/flush_journal.h"
#include "platform/file_system.h"

namespace quillet {

// An acknowledged file the storage did not keep.
struct LostFile {
  std::string path;  // below the root, '/'-separated
  std::string what;  // "missing", "cut to 1,000 of 4,096 bytes", "damaged: ..." or "unreadable: ..."
};

struct JournalVerdict {
  std::int64_t acknowledged = 0;  // files the journal holds
  std::int64_t checked = 0;       // of those, looked at before a stop
  std::vector<LostFile> lost;
  bool stopped = false;
};

// Checks files below root (ending with a separator) against the run's seed and content shape;
// with filled false (an allocation-only run) only the lengths. stop is looked at between files.
JournalVerdict checkAcknowledgedFiles(FileSystem& fs, const std::string& root, std::uint64_t seed,
                                      const ContentShape& shape, bool filled,
                                      const std::vector<AcknowledgedFile>& files,
                                      const std::atomic<bool>& stop);

}  // namespace quillet
