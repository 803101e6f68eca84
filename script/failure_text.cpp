#include "script/failure_text.h"

namespace quillet {
namespace {

// The system's description of a failure; the whole message when it gave none apart.
std::string causeOf(const Status& status) {
  return status.cause().empty() ? status.message() : status.cause();
}

std::string joined(const std::vector<std::string>& sentences, const char* between) {
  std::string text;
  for (const auto& sentence : sentences) {
    if (!text.empty()) text += between;
    text += sentence;
  }
  return text;
}

}  // namespace

std::vector<std::string> failureSentences(const RunFailure& f) {
  switch (f.kind) {
    case FailureKind::RootPath:
      return {"Incorrect path - '" + f.path + "'.", "Try to check root folder for errors."};
    case FailureKind::FolderPath:
    case FailureKind::FilePath:
      return {"Incorrect path - '" + f.path + "'.", "Try to check root folder and file mask for errors."};
    case FailureKind::CannotAllocate: return {"Can not allocate file of selected size."};
    case FailureKind::VolumeFull:
      return {"Destination drive " + f.path + ": is full.",
              "Last processed file: " + (f.lastFile.empty() ? std::string("none") : f.lastFile)};
    case FailureKind::CreateFile: return {"Can not create file '" + f.path + "': " + causeOf(f.status) + "."};
    case FailureKind::WriteFile: return {"Can not write file '" + f.path + "': " + causeOf(f.status) + "."};
    case FailureKind::VolumeFlush:
      return {"Can not flush the volume of '" + f.path + "': " + causeOf(f.status) + "."};
    case FailureKind::JournalVolumeFlush:
      return {"Can not flush the volume of '" + f.path + "': " + causeOf(f.status) +
              "; with /sync:end the journal records files only once it is flushed "
              "(/sync:file flushes each file instead)."};
    case FailureKind::FreeSpaceUnknown:
      return {"Can not read the free space of '" + f.path + "': " + causeOf(f.status) + "."};
  }
  return {causeOf(f.status)};
}

std::string failureBoxText(const RunFailure& failure) { return joined(failureSentences(failure), "\n\n"); }

std::string failureLogLine(const RunFailure& failure) { return joined(failureSentences(failure), " "); }

}  // namespace quillet
