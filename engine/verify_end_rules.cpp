#include "engine/verify_end_rules.h"

#include <algorithm>
#include <bit>
#include <optional>

namespace quillet {

void TreeFindings::notePlanned(const PlannedFile& p) {
  plannedSizes.emplace(p.relativePath, p.size);
  if (p.sizeMayBeCut) mayBeCut.insert(p.relativePath);
}

std::int64_t TreeFindings::roomTaken(std::int64_t length) const {
  const std::int64_t c = std::max<std::int64_t>(cluster, 1);
  return (length + c - 1) / c * c;
}

// Outside a plan the generator never makes an empty file, so one reads as a file cut to nothing;
// a profile's plan makes some files empty on purpose, and those are intact.
void EndRules::allowPlannedEmptyFiles() {
  if (!job_.plan) return;
  const auto kept = std::remove_if(result_.damaged.begin(), result_.damaged.end(), [&](const FileVerdict& v) {
    if (v.sizeState != SizeState::Truncated || v.length != 0 || v.unreadable || v.tally.damagedBytes() != 0) {
      return false;
    }
    const auto planned = seen_.plannedSizes.find(v.relativePath);
    if (planned == seen_.plannedSizes.end() || planned->second != 0) return false;
    FileVerdict intact = v;
    intact.sizeState = SizeState::Right;
    if (intact.damaged()) return false;
    --result_.truncatedFiles;
    result_.truncatedBytes -= v.expect.size - v.length;
    if (const auto seen = seen_.present.find(v.relativePath); seen != seen_.present.end()) {
      seen->second = SizeState::Right;
    }
    return true;
  });
  result_.damaged.erase(kept, result_.damaged.end());
}

// The files a run was writing when it ended are shorter than their blocks say, yet intact: a run
// stopped while writing them leaves them so, and so does a volume that filled mid-write. Each
// writer has at most one file in flight, so up to runWriters such files are allowed. With the
// plan they are among the last planned files present (one per writer); without it, the truncated
// files whose missing parts the volume has no room for now, when there are no more of them than
// writers. Their intact bytes still count.
void EndRules::allowCutShortFiles() {
  std::vector<std::size_t> candidates;
  for (std::size_t i = 0; i < result_.damaged.size(); ++i) {
    const FileVerdict& v = result_.damaged[i];
    if (v.sizeState == SizeState::Truncated && !v.unreadable && v.resizedFrom < 0 &&
        v.tally.damagedBytes() == 0) {
      candidates.push_back(i);
    }
  }
  const std::size_t writers = static_cast<std::size_t>(std::clamp(job_.runWriters, 1, 256));
  std::vector<std::size_t> allowed;
  std::vector<const char*> reasons;
  if (job_.plan && !seen_.inFlight.empty()) {
    for (std::size_t i : candidates) {
      if (seen_.inFlight.count(result_.damaged[i].relativePath) != 0) {
        allowed.push_back(i);
        reasons.push_back("the run ended while it wrote it");
      }
    }
  }
  // A fill that met the full volume cut every writer's file in flight, and a writer the system
  // ran less may have held its file since far back in the plan: any cut file whose missing part
  // the volume had no room for is allowed, while no more files are cut than the run had writers.
  if (candidates.size() <= writers && seen_.freeNow >= 0) {
    struct Cut {
      std::size_t index;
      std::int64_t need;   // the room its missing part takes, and the cluster left besides
      std::int64_t freed;  // the room a truncation since would have freed
    };
    std::vector<Cut> cuts;
    for (std::size_t i : candidates) {
      if (std::find(allowed.begin(), allowed.end(), i) != allowed.end()) continue;
      const FileVerdict& v = result_.damaged[i];
      // One writer goes through its files in plan order: with the plan known, only a file it
      // began once the room ran short can have met the full volume.
      if (job_.plan && writers == 1 && seen_.mayBeCut.count(v.relativePath) == 0) continue;
      // A file left empty carries no size; the plan, when known, tells what it was to hold.
      std::int64_t whole = v.expect.size;
      if (const auto planned = seen_.plannedSizes.find(v.relativePath);
          !v.expect.sizeFromBlocks && planned != seen_.plannedSizes.end()) {
        whole = planned->second;
      }
      cuts.push_back(
          {i, whole - v.length + seen_.cluster, seen_.roomTaken(whole) - seen_.roomTaken(v.length)});
    }
    // Each must lack room for its rest now: the room free now is the most the run can have left.
    // Which of them the full volume cut and which were truncated since cannot be told from one
    // file alone: a file truncated since freed room the run did not leave, so the files taken as
    // cut must each lack room once the room the others freed is taken away again. Of the largest
    // sets of files that can be the cut ones, only the files in every such set are allowed: a
    // file in some but not all of them may as well be the one truncated since.
    constexpr std::size_t kMostWeighed = 16;
    if (cuts.size() <= kMostWeighed) {
      std::size_t best = 0;
      std::uint32_t common = 0;
      for (std::uint32_t set = 1; set < (std::uint32_t{1} << cuts.size()); ++set) {
        std::int64_t freeAtEnd = seen_.freeNow;
        for (std::size_t j = 0; j < cuts.size(); ++j) {
          if ((set >> j & 1u) == 0) freeAtEnd -= cuts[j].freed;
        }
        bool fits = freeAtEnd >= 0;
        for (std::size_t j = 0; fits && j < cuts.size(); ++j) {
          if ((set >> j & 1u) != 0 && freeAtEnd >= cuts[j].need) fits = false;
        }
        if (!fits) continue;
        const auto size = static_cast<std::size_t>(std::popcount(set));
        if (size > best) {
          best = size;
          common = set;
        } else if (size == best) {
          common &= set;
        }
      }
      for (std::size_t j = 0; j < cuts.size(); ++j) {
        if ((common >> j & 1u) == 0 || seen_.freeNow >= cuts[j].need) continue;
        allowed.push_back(cuts[j].index);
        // With the plan, a file no walk found in flight was held from far back by a writer the
        // system ran less, or truncated since: nothing on the volume tells which.
        const bool farBack = job_.plan && writers > 1;
        reasons.push_back(farBack
                              ? "the volume filled while it was written, or it was truncated since: a writer "
                                "held it from far back in the plan, which can not be told apart"
                              : "the volume filled while it was written");
      }
    }
  }
  std::vector<std::size_t> order(allowed.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return allowed[a] < allowed[b]; });
  for (std::size_t k : order) {
    const FileVerdict& v = result_.damaged[allowed[k]];
    --result_.truncatedFiles;
    result_.truncatedBytes -= v.expect.size - v.length;
    // A file left empty carries no size: the plan's, when known, is the one it was to hold.
    std::int64_t whole = v.expect.size;
    if (const auto planned = seen_.plannedSizes.find(v.relativePath);
        !v.expect.sizeFromBlocks && planned != seen_.plannedSizes.end()) {
      whole = planned->second;
    }
    result_.cutShortFiles.push_back(v.relativePath + " (" + std::to_string(v.length) + " of " +
                                    std::to_string(whole) + " bytes; " + reasons[k] + ")");
  }
  std::sort(allowed.begin(), allowed.end());
  // Later ones first, so that the earlier places stay put.
  for (auto it = allowed.rbegin(); it != allowed.rend(); ++it) {
    result_.damaged.erase(result_.damaged.begin() + static_cast<std::ptrdiff_t>(*it));
  }
  if (!result_.cutShortFiles.empty()) result_.cutShort = result_.cutShortFiles.front();
}

// Several writers filling folders (by files number) each fill a folder of their own, taken in
// plan order, so a run that ended early left up to one part-filled folder per writer, anywhere
// up to the last folder begun: each holds the first of its planned files, the last of them
// perhaps cut short, and every folder before the last begun is full or one of those. Tells
// whether the plan has that shape with at least one file cut short (the sign that the run
// ended early); then the files being written are seen_.inFlight, and the planned files from which
// absent ones are no damage are marked in notMade.
bool EndRules::partFilledFolders(const std::vector<PlannedFile>& plan, std::int64_t writers,
                                 std::vector<bool>& notMade, std::string& reason) {
  const auto folderOf = [](const std::string& path) {
    const auto cut = path.rfind('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
  };
  struct Folder {
    std::size_t from, made, to;  // planned files [from, to); [from, made) present
    bool endsCut;
  };
  std::vector<Folder> folders;
  for (std::size_t from = 0; from < plan.size();) {
    const std::string folder = folderOf(plan[from].relativePath);
    std::size_t to = from;
    while (to < plan.size() && folderOf(plan[to].relativePath) == folder) ++to;
    std::size_t made = from;
    while (made < to && seen_.present.count(plan[made].relativePath) != 0) ++made;
    for (std::size_t i = made; i < to; ++i) {
      if (seen_.present.count(plan[i].relativePath) != 0) return false;  // a gap: not a folder being filled
    }
    for (std::size_t i = from; i + 1 < made; ++i) {
      if (seen_.present.at(plan[i].relativePath) != SizeState::Right) return false;
    }
    const bool endsCut = made > from && seen_.present.at(plan[made - 1].relativePath) == SizeState::Truncated;
    if (made > from && !endsCut && seen_.present.at(plan[made - 1].relativePath) != SizeState::Right)
      return false;
    folders.push_back({from, made, to, endsCut});
    from = to;
  }
  std::size_t lastBegun = folders.size();
  for (std::size_t k = 0; k < folders.size(); ++k) {
    if (folders[k].made > folders[k].from) lastBegun = k;
  }
  if (lastBegun == folders.size()) return false;
  std::int64_t partFilled = 0;
  std::vector<std::string> writing;
  std::vector<std::string> nextAbsent;  // the next planned file of each part-filled folder not cut
  for (std::size_t k = 0; k < folders.size(); ++k) {
    const Folder& f = folders[k];
    if (k <= lastBegun && f.made == f.to && !f.endsCut) continue;  // full
    for (std::size_t i = f.made; i < f.to; ++i) notMade[i] = true;
    if (k > lastBegun) continue;  // never begun: the unmade tail
    ++partFilled;
    if (f.endsCut) {
      writing.push_back(plan[f.made - 1].relativePath);
    } else if (f.made < f.to) {
      nextAbsent.push_back(plan[f.made].relativePath);
    }
    if (!f.endsCut && (seen_.freeNow < 0 || seen_.freeNow >= seen_.roomTaken(plan[f.made].size))) {
      // Its writer was between two files: the next one was not made when the volume had no room
      // for it, but a file made and lost since left its room free. With that room free it is
      // missing (a run stopped between two files cannot be told from that).
      notMade[f.made] = false;
    }
  }
  // Without a cut file, the volume being full tells that the run ended early: a writer goes on
  // while more than a cluster is free (cutting its next file to the room), so every writer was
  // between two files when none had room for another.
  const bool fullBetweenFiles =
      writing.empty() && seen_.freeNow >= 0 && seen_.freeNow <= seen_.cluster && !nextAbsent.empty();
  if ((writing.empty() && !fullBetweenFiles) || partFilled > writers) return false;
  for (const auto& path : writing) seen_.inFlight.insert(path);
  reason = fullBetweenFiles ? "the volume has no room for " + nextAbsent.front()
                            : "the run stopped while it wrote " + writing.front();
  return true;
}

// Several writers by files number fill one folder each, taken in plan order, and share the
// bytes under /limsize file by file, so which files the limit cut depends on timing: every
// folder up to the last one begun is full or holds the first of its planned files, at most one
// per writer is not full, and one file, the last of its folder's, may carry less than planned
// (the limit's rest). The shares then add up to the limit exactly, and the rest of the plan
// (planned on past the limit) is the unmade tail. Absent files before a present one of their
// folder are missing; so, when the shares add up to another size than the limit (lost, or a run
// stopped between two files), is the first absent file of each folder not full, up to one
// folder per writer after the last one begun.
//
// The shares are what the run gave each file, not what is found now: every file made took its
// planned size (a file lost since, or replaced by one of another size, took it all the same) and
// the cut file the rest its blocks carry. A last file of its folder lost since the run is told
// from the unmade tail when adding its planned size is what makes the shares reach the limit.
// With cutOnly, only the file the limit cut is told (a run stopped while it wrote may have
// reached its limit before): what is missing was decided already.
void EndRules::limitReachedFolders(const std::vector<PlannedFile>& plan, std::int64_t writers,
                                   std::vector<bool>& notMade, bool cutOnly) {
  const auto folderOf = [](const std::string& path) {
    const auto cut = path.rfind('/');
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
  };
  struct Folder {
    std::size_t from, made, to;  // planned files [from, to); the last present one before made
  };
  std::vector<Folder> folders;
  std::int64_t shares = 0;           // the planned sizes of the files made, present or lost
  std::vector<std::size_t> lighter;  // last present files of their folders carrying less than planned
  const auto carriedOf = [&](std::size_t i) {
    const std::string& path = plan[i].relativePath;
    const auto carried = seen_.carried.find(path);
    return carried != seen_.carried.end() ? carried->second : seen_.lengths.at(path);
  };
  for (std::size_t from = 0; from < plan.size();) {
    const std::string folder = folderOf(plan[from].relativePath);
    std::size_t to = from;
    std::size_t made = from;
    for (; to < plan.size() && folderOf(plan[to].relativePath) == folder; ++to) {
      if (seen_.present.count(plan[to].relativePath) != 0) made = to + 1;
    }
    for (std::size_t i = from; i < made; ++i) shares += plan[i].size;
    if (made > from && carriedOf(made - 1) < plan[made - 1].size) lighter.push_back(made - 1);
    folders.push_back({from, made, to});
    from = to;
  }
  const std::int64_t limit = job_.runLimitBytes;
  // Whether the shares, with `added` more, reach the limit: as they are, or with the carried rest
  // of one lighter file (the cut file) in place of its planned size.
  std::optional<std::size_t> cutFile;
  const auto reachLimit = [&](std::int64_t added) {
    if (shares + added == limit) return true;
    for (std::size_t i : lighter) {
      if (shares + added - plan[i].size + carriedOf(i) == limit) {
        cutFile = i;
        return true;
      }
    }
    return false;
  };
  const std::size_t w = static_cast<std::size_t>(writers);
  const auto lastBegunOf = [&] {
    std::size_t last = folders.size();
    for (std::size_t k = 0; k < folders.size(); ++k) {
      if (folders[k].made > folders[k].from) last = k;
    }
    return last;
  };
  const auto reachedBy = [&](std::size_t k, std::size_t lastBegun) {
    // A writer may have taken a folder and made nothing in it yet: up to one per writer after
    // the last one begun.
    return lastBegun == folders.size() ? k < w : k <= lastBegun + w;
  };
  bool reached = reachLimit(0);
  if (!reached) {
    // Only one such file may tell it: were there several, which one was lost could not be told.
    const std::size_t lastBegun = lastBegunOf();
    std::optional<std::size_t> lostIn;
    std::optional<std::size_t> cutWithIt;
    int explanations = 0;
    for (std::size_t k = 0; k < folders.size(); ++k) {
      const Folder& f = folders[k];
      if (f.made >= f.to || !reachedBy(k, lastBegun)) continue;
      cutFile.reset();
      if (reachLimit(plan[f.made].size)) {
        ++explanations;
        lostIn = k;
        cutWithIt = cutFile;
      }
    }
    cutFile.reset();
    if (explanations == 1) {
      reached = true;
      cutFile = cutWithIt;
      ++folders[*lostIn].made;  // made, and lost since: missing
    }
  }
  const std::size_t lastBegun = lastBegunOf();
  std::int64_t notFull = 0;
  for (std::size_t k = 0; lastBegun < folders.size() && k <= lastBegun; ++k) {
    if (folders[k].made < folders[k].to) ++notFull;
  }
  const bool atLimit = reached && notFull <= writers;
  if (atLimit && cutFile) seen_.mayBeCut.insert(plan[*cutFile].relativePath);
  if (cutOnly) return;
  for (std::size_t k = 0; k < folders.size(); ++k) {
    const Folder& f = folders[k];
    for (std::size_t i = f.made; i < f.to; ++i) notMade[i] = true;
    if (!atLimit && reachedBy(k, lastBegun) && f.made < f.to) notMade[f.made] = false;
  }
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (!notMade[i] || seen_.present.count(plan[i].relativePath) != 0) continue;
    result_.tailReason =
        atLimit ? "the run reached its size limit"
                : "the run ended while its writers filled " + std::to_string(notFull) + " folders";
    break;
  }
}

// Planned files that are absent are missing, except the tail of a run that ended early; files
// found that were never planned are unexpected.
void EndRules::comparePlan(const std::vector<FoundFile>& files) {
  result_.planned = true;
  const auto& plan = *job_.plan;
  // The planned files from which an absent one is no damage: the run ended before it made them.
  std::vector<bool> notMade(plan.size(), false);
  const std::int64_t runWriters = std::clamp(job_.runWriters, 1, 256);
  std::string reason;
  if (runWriters > 1 && partFilledFolders(plan, runWriters, notMade, reason)) {
    result_.tailReason = reason;
    if (job_.runLimitBytes >= 0) {
      std::vector<bool> unused(plan.size(), false);
      limitReachedFolders(plan, runWriters, unused, true);
    }
  } else if (runWriters > 1 && job_.runLimitBytes >= 0) {
    notMade.assign(plan.size(), false);
    limitReachedFolders(plan, runWriters, notMade);
  } else {
    notMade.assign(plan.size(), false);  // a failed check may have marked some
    markUnmadeTail(plan, notMade);
  }
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (seen_.present.count(plan[i].relativePath) != 0) continue;
    if (notMade[i]) {
      ++result_.missingTailAllowed;
    } else {
      result_.missing.push_back(plan[i].relativePath);
    }
  }
  for (const auto& f : files) {
    if (seen_.plannedSizes.count(f.relative) == 0) result_.unexpected.push_back(f.relative);
  }
  compareSizes(files);
  // A run makes regular files only.
  for (const auto& path : result_.notRegular) result_.unexpected.push_back(path);
}

// A planned file whose blocks carry another size than planned is another run's file (the same
// seed, other sizes) in its place, however intact its blocks are. A run that filled the volume
// may have cut its last files to the room left, so those may carry less.
void EndRules::compareSizes(const std::vector<FoundFile>& files) {
  std::unordered_map<std::string, std::size_t> damagedAt;
  for (std::size_t i = 0; i < result_.damaged.size(); ++i)
    damagedAt.emplace(result_.damaged[i].relativePath, i);
  // A run that met the full volume cut the files it handed out last to the room it saw: the last
  // planned files present, one per writer and one more, may carry less while the volume is full.
  std::unordered_set<std::string> lastMade;
  const auto& plan = *job_.plan;
  const std::size_t keep = static_cast<std::size_t>(std::clamp(job_.runWriters, 1, 256)) + 1;
  for (auto it = plan.rbegin(); it != plan.rend() && lastMade.size() < keep; ++it) {
    if (seen_.present.count(it->relativePath) != 0) lastMade.insert(it->relativePath);
  }
  // Several writers by files number fill a folder each and each cut its own last file to the
  // room it saw: the last file present of every folder may be one of them.
  if (job_.runWriters > 1) {
    const auto folderOf = [](const std::string& path) {
      const auto cut = path.rfind('/');
      return cut == std::string::npos ? std::string() : path.substr(0, cut);
    };
    for (std::size_t i = 0; i < plan.size(); ++i) {
      const bool lastOfFolder =
          i + 1 == plan.size() || folderOf(plan[i + 1].relativePath) != folderOf(plan[i].relativePath);
      if (!lastOfFolder) continue;
      // Walk back to the folder's last file present.
      for (std::size_t k = i + 1;
           k-- > 0 && folderOf(plan[k].relativePath) == folderOf(plan[i].relativePath);) {
        if (seen_.present.count(plan[k].relativePath) != 0) {
          lastMade.insert(plan[k].relativePath);
          break;
        }
      }
    }
  }
  // The room left where the run ended: what is free now, less the room files lost or resized since
  // have freed (each of them had its planned size then). The last files made, which the full
  // volume may have cut, and the files a writer was writing at the end are taken as found.
  std::int64_t freeAtEnd = seen_.freeNow;
  if (freeAtEnd >= 0) {
    for (const auto& m : result_.missing) freeAtEnd -= seen_.roomTaken(seen_.plannedSizes.at(m));
    for (const auto& f : files) {
      const auto planned = seen_.plannedSizes.find(f.relative);
      if (planned == seen_.plannedSizes.end() || lastMade.count(f.relative) != 0 ||
          seen_.inFlight.count(f.relative) != 0) {
        continue;
      }
      freeAtEnd -= seen_.roomTaken(planned->second) - seen_.roomTaken(seen_.lengths.at(f.relative));
    }
  }
  bool added = false;
  for (const auto& f : files) {
    const auto planned = seen_.plannedSizes.find(f.relative);
    const auto carried = seen_.carried.find(f.relative);
    if (planned == seen_.plannedSizes.end() || carried == seen_.carried.end()) continue;
    if (carried->second == planned->second) continue;
    if (carried->second < planned->second && seen_.resizedSince.count(f.relative) == 0 &&
        (seen_.mayBeCut.count(f.relative) != 0 ||
         (lastMade.count(f.relative) != 0 && seen_.freeNow >= 0 &&
          freeAtEnd < planned->second - carried->second + seen_.cluster) ||
         cutToTheRoomThenCut(f.relative, carried->second, freeAtEnd))) {
      continue;
    }
    ++result_.resizedFiles;
    if (const auto at = damagedAt.find(f.relative); at != damagedAt.end()) {
      result_.damaged[at->second].resizedFrom = planned->second;
      continue;
    }
    FileVerdict v;
    v.relativePath = f.relative;
    v.length = seen_.lengths.at(f.relative);
    v.expect.size = carried->second;
    v.expect.sizeFromBlocks = true;
    v.resizedFrom = planned->second;
    result_.damaged.push_back(std::move(v));
    added = true;
  }
  if (!added) return;
  // Damaged files stay in walk order.
  std::unordered_map<std::string, std::size_t> walkAt;
  for (std::size_t i = 0; i < files.size(); ++i) walkAt.emplace(files[i].relative, i);
  std::stable_sort(result_.damaged.begin(), result_.damaged.end(),
                   [&](const FileVerdict& a, const FileVerdict& b) {
                     return walkAt.at(a.relativePath) < walkAt.at(b.relativePath);
                   });
}

// A file the run was writing where the volume filled may also have been cut to the room its
// writer saw when it began it: then its blocks carry that room, and the room it left at the end
// is at most that room less what the file took since (other writers took the rest). The file
// system's figure may run a cluster ahead of the files' room, and verify leaves one cluster for
// what the file system needs besides. A whole file of another run in its place is not shorter
// than its blocks say, so it is never taken for one of these.
bool EndRules::cutToTheRoomThenCut(const std::string& path, std::int64_t carried,
                                   std::int64_t freeAtEnd) const {
  if (seen_.inFlight.count(path) == 0 || seen_.freeNow < 0) return false;
  const std::int64_t length = seen_.lengths.at(path);
  return length < carried && freeAtEnd <= carried - seen_.roomTaken(length) + 2 * seen_.cluster;
}

// One file in flight per writer, found walking back from the last planned file present; the
// planned files from the first of them on are the unmade tail when the run evidently ended early.
void EndRules::markUnmadeTail(const std::vector<PlannedFile>& plan, std::vector<bool>& notMade) {
  std::int64_t lastPresent = -1;
  for (std::size_t i = 0; i < plan.size(); ++i) {
    if (seen_.present.count(plan[i].relativePath) != 0) lastPresent = static_cast<std::int64_t>(i);
  }
  // Files are handed out in plan order and each writer has one in flight, so the files a run was
  // writing when it ended are the last file of each writer: found walking back from the last
  // planned file present, at most one per writer. The other writers may have finished files
  // after a writer's last one began (a larger file, or a writer the system ran less), so the
  // walk passes up to kLagFiles finished files per other writer; with one writer it is the last
  // file alone. A file handed out is always made, so an absent file on the way is one whose
  // creation met the full volume; but a file made and lost since left its room free, so one
  // whose room is free now is lost, not unmade.
  constexpr std::int64_t kLagFiles = 4;
  const std::int64_t writers = std::clamp(job_.runWriters, 1, 256);
  std::int64_t inFlightFrom = std::max<std::int64_t>(lastPresent, 0);
  std::int64_t lastTruncated = -1;
  std::int64_t passed = 0;
  std::vector<std::size_t> lostOnTheWay;
  for (std::int64_t i = lastPresent; i >= 0; --i) {
    const auto at = static_cast<std::size_t>(i);
    const auto found = seen_.present.find(plan[at].relativePath);
    if (found == seen_.present.end() || found->second != SizeState::Truncated) {
      if (++passed > (writers - 1) * kLagFiles) break;
      if (found == seen_.present.end() &&
          (seen_.freeNow < 0 || seen_.freeNow >= seen_.roomTaken(plan[at].size))) {
        lostOnTheWay.push_back(at);
      }
      inFlightFrom = i;
      continue;
    }
    seen_.inFlight.insert(found->first);
    if (lastTruncated < 0) lastTruncated = i;
    inFlightFrom = i;
    if (static_cast<std::int64_t>(seen_.inFlight.size()) >= writers) break;
  }
  // The room left where the run ended: what is free now, less the room of the files lost since.
  std::int64_t freeAtEnd = seen_.freeNow;
  for (std::int64_t i = 0; freeAtEnd >= 0 && i < lastPresent; ++i) {
    const auto at = static_cast<std::size_t>(i);
    const bool lost =
        i < inFlightFrom || std::find(lostOnTheWay.begin(), lostOnTheWay.end(), at) != lostOnTheWay.end();
    if (lost && seen_.present.count(plan[at].relativePath) == 0) freeAtEnd -= seen_.roomTaken(plan[at].size);
  }
  std::size_t tailFrom = plan.size();
  if (lastPresent + 1 < static_cast<std::int64_t>(plan.size())) {
    const std::size_t next = static_cast<std::size_t>(lastPresent + 1);
    const auto fits = [&](std::int64_t room) {
      return plan[next].size <= std::max<std::int64_t>(room, 0) - seen_.cluster;
    };
    // A stop leaves room free, and a lost last file left its room free too: with room now for the
    // next planned file (or, where the run cut its last files to the room it saw, for a file of
    // that room), nothing tells the one from the other.
    const bool untold =
        seen_.freeNow < 0 || fits(freeAtEnd) || (plan[next].sizeMayBeCut && freeAtEnd > seen_.cluster);
    const std::string untoldText =
        "; the volume has room for " + plan[next].relativePath +
        " now, so a file lost after the last one present can not be told from the unmade ones";
    if (lastTruncated >= 0) {
      tailFrom = static_cast<std::size_t>(inFlightFrom);
      result_.tailReason =
          "the run stopped while it wrote " + plan[static_cast<std::size_t>(lastTruncated)].relativePath;
      if (untold) result_.tailReason += untoldText;
    } else if (seen_.freeNow >= 0 && !fits(freeAtEnd)) {
      tailFrom = static_cast<std::size_t>(inFlightFrom);
      result_.tailReason = "the volume has no room for " + plan[next].relativePath;
      if (untold) result_.tailReason += " at its size" + untoldText;
    } else if (seen_.freeNow >= 0) {
      // The last files made that carry less than planned were cut to the room the run saw, or
      // resized since, which freed room the run did not leave: when only that room makes the
      // next planned file fit, they were resized and the run ended full.
      std::int64_t lighterRoom = 0;
      std::vector<std::string> lighter;
      const std::int64_t keep = writers + 1;
      std::int64_t seen = 0;
      for (std::int64_t i = lastPresent; i >= 0 && seen < keep; --i) {
        const std::string& path = plan[static_cast<std::size_t>(i)].relativePath;
        if (seen_.present.count(path) == 0) continue;
        ++seen;
        const auto carried = seen_.carried.find(path);
        const std::int64_t planned = plan[static_cast<std::size_t>(i)].size;
        if (carried == seen_.carried.end() || carried->second >= planned) continue;
        lighterRoom += seen_.roomTaken(planned) - seen_.roomTaken(seen_.lengths.at(path));
        lighter.push_back(path);
      }
      if (!lighter.empty() && !fits(freeAtEnd - lighterRoom)) {
        tailFrom = static_cast<std::size_t>(inFlightFrom);
        result_.tailReason = "the volume has no room for " + plan[next].relativePath;
        seen_.resizedSince.insert(lighter.begin(), lighter.end());
      }
    }
  }
  for (std::size_t i = tailFrom; i < plan.size(); ++i) notMade[i] = true;
  for (std::size_t i : lostOnTheWay) notMade[i] = false;
}

}  // namespace quillet
