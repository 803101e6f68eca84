#include "engine/names.h"

#include <algorithm>
#include <cstdint>

#include "engine/population_plan.h"
#include "engine/population_sampler.h"
#include "platform/ascii.h"
#include "platform/path.h"

namespace quillet {
namespace {

constexpr int kMaxMaskDigits = 12;

std::int64_t power36(int n) {
  std::int64_t p = 1;
  for (int i = 0; i < n; ++i) p *= 36;
  return p;
}

}  // namespace

NormalisedMask normaliseMask(const std::string& mask) {
  std::string expanded;
  for (char c : mask) {
    if (c == '*') {
      expanded += "???";
    } else {
      expanded += c;
    }
  }
  // Whatever the mask holds, every name it yields lies below the folder it is joined to.
  expanded = confinedRelativePath(expanded);
  const auto first = expanded.find_first_not_of('.');
  if (first == std::string::npos) {
    expanded.clear();
  } else {
    expanded = expanded.substr(first, expanded.find_last_not_of('.') - first + 1);
  }
  NormalisedMask out;
  int kept = 0;
  for (char c : expanded) {
    if (c == '?') {
      if (kept >= kMaxMaskDigits) continue;
      ++kept;
    }
    out.mask += c;
  }
  out.nameSpace = power36(kept);
  return out;
}

std::string makeName(std::int64_t counter, GenerationJob& job, NameKind kind) {
  const bool useMask = kind == NameKind::File ? job.useFileMask : job.useDirMask;
  const std::string& mask = kind == NameKind::File ? job.fileMask : job.dirMask;
  std::string name;
  if (useMask) {
    name.reserve(mask.size());
    std::int64_t divisor = 36;
    for (char c : mask) {
      if (c != '?') {
        name += c;
        continue;
      }
      name += job.nameAlphabet[static_cast<std::size_t>(((counter + 1) / divisor) % 36)];
      // After the twelfth digit the divisor would overflow; no mask keeps more than twelve.
      if (divisor <= INT64_MAX / 36) divisor *= 36;
    }
  } else {
    // Bijective base 36: no zero digit, so "a" and "aa" are different names.
    std::int64_t n = counter + 1;
    char digits[16];
    int len = 0;
    while (n > 0) {
      --n;
      digits[len++] = job.nameAlphabet[static_cast<std::size_t>(n % 36)];
      n /= 36;
    }
    name.assign(std::reverse_iterator<char*>(digits + len), std::reverse_iterator<char*>(digits));
  }
  if (kind == NameKind::File) {
    // Several writers make names; the full-volume report reads the last one.
    std::lock_guard guard(job.nameLock);
    job.currentFileName = name;
  }
  return name;
}

bool isAllowedName(const std::string& name) {
  if (name.size() != 3) return true;
  const std::string upper = asciiUpper(name);
  return upper != "AUX" && upper != "CON" && upper != "PRN";
}

NameDraw drawAllowedName(std::int64_t& counter, GenerationJob& job, NameKind kind, std::string& name) {
  const bool useMask = kind == NameKind::File ? job.useFileMask : job.useDirMask;
  const std::int64_t nameSpace = kind == NameKind::File ? job.fileNameSpace : job.dirNameSpace;
  // A mask's names come round every 36 * nameSpace counters, each for 36 counters in a row; that
  // many refusals in a row have refused every name it has. Without a mask every name is new.
  const bool bounded = useMask && nameSpace > 0 && nameSpace <= INT64_MAX / 36;
  std::int64_t refused = 0;
  for (;;) {
    if (job.stopRequested) return NameDraw::Stopped;
    name = makeName(counter, job, kind);
    if (isAllowedName(name)) return NameDraw::Allowed;
    ++counter;
    if (bounded && ++refused >= 36 * nameSpace) return NameDraw::UsedUp;
  }
}

std::int64_t drawFileSize(const GenerationJob& job, RandomSource& random) {
  return drawFileSize(job, random, -1);
}

std::int64_t drawFileSize(const GenerationJob& job, RandomSource& random, std::int64_t plannedIndex) {
  if (job.population) {
    const double u = PopulationSampler::uniform(random);
    const std::int64_t drawn = job.population->drawnSizeAt(
        job.populationPlan && plannedIndex >= 0 ? job.populationPlan->sizeShare(plannedIndex, u) : u);
    return std::clamp(drawn, job.minFileSize, std::max(job.minFileSize, job.maxFileSize));
  }
  if (job.minFileSize == job.maxFileSize) return job.minFileSize;
  const int r = random.rand();
  const double span = static_cast<double>(job.maxFileSize - job.minFileSize + 1);
  const auto offset = static_cast<std::int64_t>(static_cast<double>(r) * span * (1.0 / 32767.0));
  return job.minFileSize + offset;
}

std::int32_t drawFolderFileCount(const GenerationJob& job, RandomSource& random) {
  if (job.population) {
    const std::int64_t drawn = PopulationSampler::drawCount(job.population->profile().filesPerFolder, random);
    const std::int64_t top = std::max<std::int64_t>(job.minFiles, job.maxFiles);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(drawn, job.minFiles, top));
  }
  if (job.minFiles == job.maxFiles) return job.minFiles;
  const std::int64_t span = static_cast<std::int64_t>(job.maxFiles) - job.minFiles + 1;
  return static_cast<std::int32_t>(job.minFiles + random.rand() % span);
}

DrawnExtension drawFileExtension(const GenerationJob& job, RandomSource& random) {
  DrawnExtension drawn;
  if (!job.population) return drawn;
  drawn.index = job.population->drawExtension(random);
  drawn.suffix = job.population->suffixFor(drawn.index, random);
  return drawn;
}

FreeNameSearch::Outcome FreeNameSearch::next(std::string& path) {
  const std::string previous = current_;
  if (job_.stopRequested) return Outcome::Stopped;
  // An empty mask names the folder itself, which is always taken: no name can ever be free.
  if (job_.useFileMask && job_.fileMask.empty()) return Outcome::NamesUsedUp;
  switch (drawAllowedName(counter_, job_, NameKind::File, current_)) {
    case NameDraw::Stopped: return Outcome::Stopped;
    case NameDraw::UsedUp: return Outcome::NamesUsedUp;
    case NameDraw::Allowed: break;
  }
  ++counter_;
  if (current_ != previous) ++attempts_;
  ++tries_;
  if (job_.useFileMask) {
    if (attempts_ > job_.fileNameSpace) return Outcome::NamesUsedUp;
    // A mask name repeats for at most 36 counters; more tries than that per name means the one
    // name a mask without '?' yields is taken and will stay taken.
    if (job_.fileNameSpace <= INT64_MAX / 36 && tries_ > 36 * job_.fileNameSpace) return Outcome::NamesUsedUp;
  }
  path = folder_ + current_ + suffix_;
  if (job_.stopRequested) return Outcome::Stopped;
  if (job_.useFileMask && createdHere_ >= job_.fileNameSpace) return Outcome::NamesUsedUp;
  return Outcome::Candidate;
}

}  // namespace quillet
