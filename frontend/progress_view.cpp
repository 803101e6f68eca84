// The progress dialogs' tables and tick.
#include "frontend/progress_view.h"

#include <algorithm>
#include <mutex>

#include "engine/size_text.h"
#include "script/verify_run.h"

namespace quillet {

namespace {

using I = ProgressItem;
using K = ProgressControlKind;
constexpr Rgb kNoColor{};

constexpr ProgressControlRow kNumberRows[] = {
    {I::FoldersLabel, K::Label, "Dirs processed:", kNoColor, 6, 5, 50, 8, "foldersLabel"},
    {I::FoldersValue, K::Label, "", kNoColor, 59, 5, 58, 8, "foldersValue"},
    {I::FoldersBar, K::Bar, "", kFoldersBarColor, 6, 18, 110, 10, "foldersBar"},
    {I::FirstLabel, K::Label, "Files created:", kNoColor, 6, 34, 51, 8, "firstLabel"},
    {I::FirstValue, K::Label, "", kNoColor, 59, 34, 57, 8, "firstValue"},
    {I::SecondLabel, K::Label, "Current size:", kNoColor, 6, 47, 49, 8, "secondLabel"},
    {I::SecondValue, K::Label, "", kNoColor, 59, 47, 53, 8, "secondValue"},
    {I::SizeBar, K::Bar, "", kSizeBarColor, 6, 58, 110, 10, "sizeBar"},
    {I::StatusLabel, K::Label, "Status:", kNoColor, 6, 74, 23, 8, "statusLabel"},
    {I::StatusValue, K::Label, "", kNoColor, 33, 74, 83, 8, "statusValue"},
    {I::UsedDataLabel, K::Label, "Used data size:", kNoColor, 6, 88, 49, 8, "usedDataLabel"},
    {I::UsedDataValue, K::Label, "", kNoColor, 59, 88, 53, 8, "usedDataValue"},
    {I::UsedDataBar, K::Bar, "", kUsedDataBarColor, 6, 99, 110, 10, "usedDataBar"},
    {I::StopButton, K::Button, kStopText, kNoColor, 38, 113, 42, 13, "stopButton"},
};

constexpr ProgressControlRow kSizeRows[] = {
    {I::FilesLabel, K::Label, "Files created:", kNoColor, 6, 5, 43, 8, "filesLabel"},
    {I::FilesValue, K::Label, "", kNoColor, 51, 5, 67, 8, "filesValue"},
    {I::SizeLabel, K::Label, "Current size:", kNoColor, 6, 17, 39, 8, "sizeLabel"},
    {I::SizeValue, K::Label, "", kNoColor, 51, 17, 67, 8, "sizeValue"},
    {I::SizeBar, K::Bar, "", kSizeBarColor, 4, 27, 111, 10, "sizeBar"},
    {I::UsedDataLabel, K::Label, "Used data size:", kNoColor, 6, 41, 49, 8, "usedDataLabel"},
    {I::UsedDataValue, K::Label, "", kNoColor, 59, 41, 53, 8, "usedDataValue"},
    {I::UsedDataBar, K::Bar, "", kUsedDataBarColor, 4, 51, 111, 10, "usedDataBar"},
    // The run's stage, and at its end whether it reached its goal or why it ended short; the rows
    // above close up so that the frame stays the one the verify dialog shares.
    {I::StatusLabel, K::Label, "Status:", kNoColor, 6, 64, 23, 8, "statusLabel"},
    {I::StatusValue, K::Label, "", kNoColor, 33, 64, 83, 8, "statusValue"},
    {I::StopButton, K::Button, kStopText, kNoColor, 38, 74, 42, 13, "stopButton"},
};

constexpr ProgressControlRow kVerifyRows[] = {
    {I::FilesLabel, K::Label, "Files checked:", kNoColor, 6, 5, 54, 8, "filesLabel"},
    {I::FilesValue, K::Label, "", kNoColor, 62, 5, 56, 8, "filesValue"},
    {I::SizeLabel, K::Label, "Bytes checked:", kNoColor, 6, 17, 54, 8, "sizeLabel"},
    {I::SizeValue, K::Label, "", kNoColor, 62, 17, 56, 8, "sizeValue"},
    {I::SizeBar, K::Bar, "", kSizeBarColor, 4, 27, 111, 10, "sizeBar"},
    {I::DamagedLabel, K::Label, "Damaged bytes:", kNoColor, 6, 43, 54, 8, "damagedLabel"},
    {I::DamagedValue, K::Label, "", kNoColor, 62, 43, 56, 8, "damagedValue"},
    {I::DamagedBar, K::Bar, "", kUsedDataBarColor, 4, 54, 111, 10, "damagedBar"},
    {I::StopButton, K::Button, kStopText, kNoColor, 38, 71, 42, 13, "stopButton"},
};

BarSetting usedDataBar(const VolumeFigures& volume) {
  return scaleBar(static_cast<double>(volume.used), static_cast<double>(volume.total), 2);
}

// The status a tick shows: the run's end text once the dialog has turned Stop into Close, the
// stage's name before.
struct TickStatus {
  std::string text;
  bool ended = false;  // text is the end text: no stage's figures are shown
};

void numberStage(const ProgressSnapshot& s, const TickStatus& status, bool reachedGoal,
                 const VolumeFigures& volume, ProgressView& v) {
  const std::string used = formatSize(volume.used);
  // Once the end text shows, only the figures of the finished run are updated.
  const RunStage stage = status.ended ? RunStage::Starting : s.stage;
  if (stage == RunStage::MakeUpTree) {
    v.foldersBar.pos = 0;
    v.sizeBar = scaleBar(s.dirsCreated, s.dirsLimit, 2);
    v.firstLabel = "Dirs created:";
    v.firstValue = unsignedText(static_cast<std::uint32_t>(s.dirsCreated));
    v.secondValue = "0";
    v.foldersValue = "0";
    v.usedDataValue = used;
    v.usedDataBar = usedDataBar(volume);
  }
  if (stage == RunStage::CalculatingFolders) {
    v.foldersBar.pos = 0;
    v.sizeBar.pos = 0;
    v.usedDataBar = usedDataBar(volume);
    v.secondLabel = "Dirs calculated:";
    v.firstValue = unsignedText(static_cast<std::uint32_t>(s.dirsCreated));
    v.secondValue = unsignedText(s.dirsCalculated);
    v.usedDataValue = used;
    v.foldersValue = "0";
  }
  if (stage == RunStage::GeneratingFiles || s.finished) {
    if (!s.finished || !reachedGoal) {
      // The per-folder files bar's range ends one thousandth further than the others.
      v.sizeBar = scaleBar(s.folderFileIndex, s.folderFilesPlanned, 2, 1);
      v.foldersBar = scaleBar(s.dirsProcessed, s.dirsCalculated, 1);
    }
    // The values below are the file count and size, so the labels say so even when the run ended
    // before any tick saw the files generated (a tree make-up would otherwise leave "Dirs created:"
    // beside the number of files).
    v.firstLabel = "Files created:";
    v.secondLabel = "Current size:";
    v.foldersValue = ofText(s.dirsProcessed, s.dirsCalculated);
    v.firstValue = fileCountText(s.filesCreated);
    v.secondValue = formatSize(s.currentSize);
    v.usedDataValue = used;
    v.usedDataBar = usedDataBar(volume);
  }
  v.statusValue = status.text;
}

void sizeStage(const ProgressSnapshot& s, const TickStatus& status, bool reachedGoal,
               const VolumeFigures& volume, ProgressView& v) {
  if (!v.sizeBarTotal) v.sizeBarTotal = s.allSize;
  std::int64_t& total = *v.sizeBarTotal;
  if (!s.finished) {
    v.sizeBar = scaleBar(static_cast<double>(s.currentSize), static_cast<double>(total), 2);
    // Generating to all partition size writes past the run's total, which only scales this bar:
    // the bar's total grows by the free space left, and the bar drops back accordingly.
    if (s.currentSize > total) total += static_cast<std::int64_t>(volume.free);
    // The worker of a run by all size names no stage.
    v.statusValue = runStageText(RunStage::GeneratingFiles);
  } else {
    if (!reachedGoal) v.sizeBar = scaleBar(static_cast<double>(s.currentSize), static_cast<double>(total), 2);
    v.statusValue = status.text;
  }
  v.filesValue = fileCountText(s.filesCreated);
  v.sizeValue = formatSize(s.currentSize);
  v.usedDataValue = formatSize(volume.used);
  v.usedDataBar = usedDataBar(volume);
}

}  // namespace

bool runReachedItsGoal(const ProgressSnapshot& run, bool allPartition) {
  if (run.result == GenerationResult::Done) return true;
  return allPartition && run.result == GenerationResult::VolumeFull;
}

std::string runEndText(const ProgressSnapshot& run, bool allPartition) {
  if (runReachedItsGoal(run, allPartition)) return kGenerationComplete;
  // Short enough for the status label; the log and the console give the long form.
  switch (run.result) {
    case GenerationResult::VolumeFull: return "Ended: the volume is full";
    case GenerationResult::Stopped: return "Stopped";
    case GenerationResult::NamesUsedUp: return "Ended: names used up";
    case GenerationResult::LimitSizeReached: return "Ended: limit size reached";
    case GenerationResult::MaxSizeZero: return "Ended: maximum size is 0";
    case GenerationResult::PathFailed: return "Ended: a path failed";
    default: break;
  }
  return "Ended with code " + std::to_string(toInt(run.result));
}

ProgressKind progressKindFor(const JobParameters& job) {
  return job.byAllSize ? ProgressKind::Size : ProgressKind::Number;
}

ProgressFrame progressFrame(ProgressKind kind) {
  switch (kind) {
    case ProgressKind::Number: return {"numberProgressDialog", kProgressTitle, 120, 130};
    case ProgressKind::Size: return {"sizeProgressDialog", kProgressTitle, 120, 89};
    case ProgressKind::Verify: break;
  }
  return {"verifyProgressDialog", kVerifyProgressTitle, 120, 89};
}

std::span<const ProgressControlRow> progressControlRows(ProgressKind kind) {
  if (kind == ProgressKind::Number) return kNumberRows;
  if (kind == ProgressKind::Verify) return kVerifyRows;
  return kSizeRows;
}

void queryVolume(FileSystem& fs, const std::string& root, VolumeFigures& figures) {
  const Result<VolumeSpace> space = fs.volumeSpace(root);
  if (space.ok()) {
    figures.free = static_cast<std::uint64_t>(space.value().availableToCaller);
    figures.total = static_cast<std::uint64_t>(space.value().total);
  }
  figures.used = static_cast<std::int64_t>(figures.total - figures.free);
}

ProgressEnding refreshProgress(ProgressKind kind, const GenerationJob& job, const VolumeFigures& volume,
                               ProgressView& view) {
  ProgressEnding ending = ProgressEnding::None;
  std::lock_guard guard(job.lock);
  const ProgressSnapshot snapshot = job.snapshotLocked();
  const bool reachedGoal = runReachedItsGoal(snapshot, job.allPartition);
  TickStatus status{runStageText(snapshot.stage)};
  if (snapshot.finished) {
    // Used-up names end a run silently (a full volume or a failed path has raised its box), so an
    // interactive dialog stays to say why; a script's log and console say it, and a script never
    // waits for a click.
    const bool mustSayWhy = snapshot.result == GenerationResult::NamesUsedUp && !job.scriptMode;
    if (snapshot.autoClose && !mustSayWhy) {
      ending = ProgressEnding::Accepted;
    } else {
      view.closeMode = true;
      status = {runEndText(snapshot, job.allPartition), true};
      if (reachedGoal) {
        view.sizeBar = kFullBar;
        if (kind == ProgressKind::Number) view.foldersBar = kFullBar;
      }
    }
  }
  if (snapshot.stopRequested)
    ending = snapshot.finished ? ProgressEnding::Accepted : ProgressEnding::Rejected;
  if (kind == ProgressKind::Number) {
    numberStage(snapshot, status, reachedGoal, volume, view);
  } else {
    sizeStage(snapshot, status, reachedGoal, volume, view);
  }
  return ending;
}

ProgressEnding refreshVerifyProgress(const VerifyJob& job, bool autoClose, ProgressView& view) {
  // finished is read first: the worker sets it last, so the counters read after it are final.
  const bool finished = job.finished.load();
  const bool stopRequested = job.stopRequested.load();
  const std::int64_t found = job.filesFound.load();
  const std::int64_t files = job.filesChecked.load();
  const std::int64_t bytes = job.bytesChecked.load();
  const std::int64_t damaged = job.damagedBytes.load();
  view.filesValue = groupedCount(files) + " of " + groupedCount(std::max(found, files));
  view.sizeValue = formatSize(bytes);
  view.damagedValue = formatSize(damaged);
  view.damagedBar = scaleBar(static_cast<double>(damaged), static_cast<double>(bytes), 2);
  if (stopRequested) return finished ? ProgressEnding::Accepted : ProgressEnding::Rejected;
  if (!finished) {
    // The walk finds files while they are checked, so the bar may step back as it finds more.
    view.sizeBar = scaleBar(static_cast<double>(files), static_cast<double>(found), 2);
    return ProgressEnding::None;
  }
  if (autoClose) return ProgressEnding::Accepted;
  view.closeMode = true;
  view.sizeBar = kFullBar;
  return ProgressEnding::None;
}

}  // namespace quillet
