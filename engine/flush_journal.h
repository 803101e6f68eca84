// Where a run records each file whose flush the storage acknowledged (/journal), so that a verify
// after a power cut can tell what the storage promised to keep. The engine calls it from its
// writer threads; implementations serialise the records and flush each before returning.
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace quillet {

struct AcknowledgedFile {
  std::string path;  // below the root, '/'-separated (the file's identity path)
  std::int64_t size = 0;
  std::uint64_t fileId = 0;
};

class FlushJournal {
 public:
  virtual ~FlushJournal() = default;
  // Writes the run's first record once its seed is known (the worker draws one when none was
  // given), before any file is acknowledged. A failure ends the run as a failed write.
  virtual Status begin(std::uint64_t seed) = 0;
  // Appends the file's record. Its flush may still be under way when this returns (records are
  // flushed in groups beside the run): a record lost with the journal's own power only leaves a
  // file unchecked, never blames the storage. A failure (also of an earlier record's flush) ends
  // the run as a failed write: what was acknowledged can no longer be told.
  virtual Status acknowledge(const AcknowledgedFile& file) = 0;
  // Returns once every record is on the storage; called when generation has ended.
  virtual Status finish() = 0;
  // The journal's file, as failure lines name it.
  virtual const std::string& path() const = 0;
};

}  // namespace quillet
