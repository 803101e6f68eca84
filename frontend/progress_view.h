// The progress dialogs (two of a run, one of a verify) as data and one pure step: their frames and control
// tables in dialog units, and what every 100 ms tick makes of the job and the volume — which label shows
// which text, where each bar stands, the stage, the Stop button turning into "Close", and when the dialog
// ends by itself. Both front-ends lay their dialogs out from the tables and show the view after each tick.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "engine/generation_job.h"
#include "engine/verify.h"
#include "frontend/drawing_rules.h"
#include "frontend/progress_figures.h"
#include "platform/file_system.h"

namespace quillet {

enum class ProgressKind {
  Number,  // generation by files number
  Size,    // generation by all size
  Verify,  // verify of a folder: the size dialog's frame with the verify's figures
};

// The dialog a job's run shows.
ProgressKind progressKindFor(const JobParameters& job);

inline constexpr const char* kProgressTitle = "Generating";
inline constexpr const char* kVerifyProgressTitle = "Verifying";
inline constexpr const char* kGenerationComplete = "Generation complete";
inline constexpr const char* kStopText = "Stop";
inline constexpr const char* kCloseText = "Close";
inline constexpr int kProgressPollMilliseconds = 100;

// Every control of the two dialogs; each dialog has a subset.
enum class ProgressItem {
  FoldersLabel,
  FoldersValue,
  FoldersBar,  // by files number only
  FirstLabel,
  FirstValue,
  SecondLabel,
  SecondValue,
  FilesLabel,
  FilesValue,
  SizeLabel,
  SizeValue,  // by all size only
  SizeBar,
  StatusLabel,
  StatusValue,
  UsedDataLabel,
  UsedDataValue,
  UsedDataBar,
  DamagedLabel,
  DamagedValue,
  DamagedBar,  // verify only
  StopButton,
};

enum class ProgressControlKind { Label, Bar, Button };

struct ProgressControlRow {
  ProgressItem item;
  ProgressControlKind kind;
  const char* text;         // a label's initial text, the button's caption
  Rgb color;                // a bar's colour
  int x, y, width, height;  // dialog units
  const char* name;         // the control's object name, which the tests find it by
};

struct ProgressFrame {
  const char* objectName;
  const char* title;
  int width, height;  // dialog units
};

ProgressFrame progressFrame(ProgressKind kind);
// The controls in creation (and tab) order.
std::span<const ProgressControlRow> progressControlRows(ProgressKind kind);

// Whether a finished run reached its goal: all it was to write (a run to all partition size reaches
// it when the volume is full). A run that ended short of it keeps its bars at the share really
// written and says why it ended.
bool runReachedItsGoal(const ProgressSnapshot& run, bool allPartition);
// The status a finished run shows: "Generation complete", or why it ended short of its goal.
std::string runEndText(const ProgressSnapshot& run, bool allPartition);

// The volume figures of one tick. A failed query keeps the last figures (zero before the first
// success); used is total minus free.
struct VolumeFigures {
  std::uint64_t total = 0;
  std::uint64_t free = 0;
  std::int64_t used = 0;
};
void queryVolume(FileSystem& fs, const std::string& root, VolumeFigures& figures);

// A bar as the control starts: range 0..100, at 0.
inline constexpr BarSetting kNewBar{100, 0};

// What a progress dialog shows; kept from tick to tick (a stage the dialog does not know leaves
// everything but the status as it was).
struct ProgressView {
  // Labels that switch their text (by files number).
  std::string firstLabel = "Files created:";
  std::string secondLabel = "Current size:";
  // The value labels; the size dialog uses files, size and used data.
  std::string foldersValue;
  std::string firstValue;
  std::string secondValue;
  std::string statusValue;
  std::string usedDataValue;
  std::string filesValue;
  std::string sizeValue;
  std::string damagedValue;  // verify only
  // Each bar's range 0..upper and position, from the bar control's own start of 0..100 at 0; a
  // front-end pushes only what a tick changed.
  BarSetting foldersBar = kNewBar;
  BarSetting sizeBar = kNewBar;
  BarSetting usedDataBar = kNewBar;
  BarSetting damagedBar = kNewBar;
  // Stop has become "Close" (bold) once the run finished without closing by itself.
  bool closeMode = false;
  // The size dialog's total its size bar is scaled to: the run's total at the first tick, grown by
  // the free space each time a run to all partition size has written past it.
  std::optional<std::int64_t> sizeBarTotal;
};

enum class ProgressEnding {
  None,
  Accepted,  // the run finished (and closes by itself, or a stop came after the end)
  Rejected,  // stopped before the run finished
};

// One tick after the volume query, under the job's lock (taken here): the figures of the job's
// snapshot into view; the job is only read. The status shows the stage's name (runStageText). A
// finished run that closes by itself ends the dialog; one that does not turns Stop into Close and
// shows its end text (runEndText) as the status; a run that reached its goal fills the bars that
// complete with it, one that ended short keeps them at the share really written. An interactive
// run that ended short of its goal with nothing else saying so (its names used up) stays open to
// say why, even when it would close by itself. A stop request ends the dialog. The size dialog
// grows its bar's total (sizeBarTotal) by the free space when a run to all partition size writes
// past it. The dialog ends outside the lock, so nothing reacting to its end meets the lock held.
ProgressEnding refreshProgress(ProgressKind kind, const GenerationJob& job, const VolumeFigures& volume,
                               ProgressView& view);

// One tick of the verify dialog from the job's counters: files checked (of those found so far),
// bytes checked, damaged bytes; the files bar follows the files checked, the damage bar the share
// of the bytes checked that came back damaged. A finished verify ends the dialog when autoClose is
// set (the main dialog's "close automatically" option), otherwise it turns Stop into Close and
// fills the files bar. A stop request ends the dialog: Rejected before the end, Accepted after.
// Reads atomics only; safe while the worker runs.
ProgressEnding refreshVerifyProgress(const VerifyJob& job, bool autoClose, ProgressView& view);

}  // namespace quillet
