#include "engine/generation_job.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace quillet {

std::int32_t readNumber32(const std::string& text) {
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  // strtol saturates at the limits of long; the runtime this mirrors has a 32-bit long.
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

std::int64_t toBytes(const std::string& numberText, int power) {
  const std::int64_t value = readNumber32(numberText);
  // Shifting a negative value is undefined before C++20 and surprising after; multiply instead.
  std::int64_t multiplier = 1;
  for (int i = 0; i < power; ++i) multiplier *= 1024;
  return value * multiplier;
}

SizesFitted fitSizesBelow(std::int64_t& minSize, std::int64_t& maxSize, std::int64_t total) {
  if (minSize > total) {
    minSize = maxSize = total;
    return SizesFitted::Both;
  }
  if (maxSize > total) {
    maxSize = total;
    return SizesFitted::MaxOnly;
  }
  return SizesFitted::None;
}

void fillNameAlphabet(std::array<char, 36>& alphabet) {
  for (int i = 0; i < 26; ++i) alphabet[i] = static_cast<char>('a' + i);
  for (int i = 0; i < 10; ++i) alphabet[26 + i] = static_cast<char>('0' + i);
}

const char* runStageText(RunStage stage) {
  switch (stage) {
    case RunStage::Starting: break;
    case RunStage::MakeUpTree: return "Make-up tree";
    case RunStage::CalculatingFolders: return "Calculating folders";
    case RunStage::GeneratingFiles: return "Generating files";
  }
  return "";
}

void GenerationJob::resetCounters() {
  std::lock_guard guard(lock);
  currentSize = 0;
  filesCreated = 0;
  fileNameSpace = 0;
  dirNameSpace = 0;
  folderFileIndex = 0;
  folderFilesPlanned = 0;
  dirsCreated = 0;
  dirsProcessed = 1;
  dirsCalculated = 1;
  stopRequested = false;
  endAtNextFile = false;
  finished = false;
  result = GenerationResult::Done;
  filesPlanned = 0;
  firstSeed = -1;
  writeRates = {};
  writerTimes.clear();
  for (auto& bytes : writerBytesSoFar) bytes.store(0, std::memory_order_relaxed);
  volumeFullReported = false;
  volumeSynced = false;
  volumeSyncNote.clear();
}

void GenerationJob::takeOverFrom(const GenerationJob& previous) {
  // No worker writes either job, so nothing here needs its lock.
  static_cast<JobParameters&>(*this) = previous;
  stage = previous.stage;
  currentFileName = previous.currentFileName;
  pendingAcknowledged = previous.pendingAcknowledged;
}

ProgressSnapshot GenerationJob::snapshotLocked() const {
  ProgressSnapshot s;
  s.stage = stage;
  s.stopRequested = stopRequested.load();
  s.finished = finished.load();
  s.autoClose = autoClose;
  s.dirsLimit = dirsLimit;
  s.dirsCreated = dirsCreated.load(std::memory_order_relaxed);
  s.dirsProcessed = dirsProcessed.load(std::memory_order_relaxed);
  s.dirsCalculated = dirsCalculated.load(std::memory_order_relaxed);
  s.allSize = allSize;
  s.currentSize = currentSize.load(std::memory_order_relaxed);
  s.filesCreated = filesCreated.load(std::memory_order_relaxed);
  s.folderFilesPlanned = folderFilesPlanned.load(std::memory_order_relaxed);
  s.folderFileIndex = folderFileIndex.load(std::memory_order_relaxed);
  s.result = result;
  return s;
}

ProgressSnapshot GenerationJob::snapshot() const {
  std::lock_guard guard(lock);
  return snapshotLocked();
}

void GenerationJob::enterStage(RunStage next) {
  std::lock_guard guard(lock);
  stage = next;
}

void GenerationJob::requestStop() {
  std::lock_guard guard(lock);
  stopRequested = true;
}

}  // namespace quillet
