#include "engine/journal_check.h"

#include <algorithm>

#include "engine/size_text.h"
#include "engine/uncached_buffer.h"
#include "engine/verify.h"
#include "platform/path.h"

namespace quillet {
namespace {

std::string systemPath(std::string relative) {
  if (kSeparator != '/') std::replace(relative.begin(), relative.end(), '/', kSeparator);
  return relative;
}

std::string bytesText(std::int64_t n) {
  std::string digits = std::to_string(n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// Empty when the file is as acknowledged; else what became of it.
std::string checkOne(FileSystem& fs, const std::string& root, std::uint64_t seed, const ContentShape& shape,
                     bool filled, const AcknowledgedFile& file, AlignedBuffer& buffer) {
  auto opened = fs.openForCheck(root, systemPath(file.path));
  if (!opened.ok()) {
    if (opened.status().kind() == ErrorKind::WrongPath && !fs.exists(root + systemPath(file.path)))
      return "missing";
    return "unreadable: " + opened.status().message();
  }
  ReadHandle& handle = *opened.value();
  const std::int64_t length = handle.size();
  if (length != file.size) {
    return (length < file.size ? "cut to " : "grown to ") + bytesText(length) + " of " +
           bytesText(file.size) + " bytes";
  }
  if (!filled) return {};
  const FileExpectation expect{seed, file.fileId, file.size, true, shape};
  FileTally tally;
  for (std::int64_t offset = 0; offset < length;) {
    const auto want = static_cast<std::size_t>(std::min<std::int64_t>(length - offset, buffer.size));
    const std::size_t aligned = (want + kUncachedAlignment - 1) / kUncachedAlignment * kUncachedAlignment;
    auto read = handle.read(offset, buffer.data, aligned);
    if (!read.ok()) return "unreadable: " + read.status().message();
    const std::size_t got = std::min(read.value(), want);
    if (got == 0) return "cut while read at " + bytesText(offset) + " of " + bytesText(file.size) + " bytes";
    classifyRange(expect, offset, buffer.data, got, tally);
    offset += static_cast<std::int64_t>(got);
  }
  if (tally.damagedBytes() == 0) return {};
  std::string what = "damaged: " + bytesText(tally.damagedBytes()) + " bytes";
  if (!tally.ranges.empty()) {
    const DamageRange& first = tally.ranges.front();
    what += ", first at " + bytesText(first.offset) + " (" + blockClassName(first.kind) + ")";
  }
  return what;
}

}  // namespace

JournalVerdict checkAcknowledgedFiles(FileSystem& fs, const std::string& root, std::uint64_t seed,
                                      const ContentShape& shape, bool filled,
                                      const std::vector<AcknowledgedFile>& files,
                                      const std::atomic<bool>& stop) {
  JournalVerdict verdict;
  verdict.acknowledged = static_cast<std::int64_t>(files.size());
  AlignedBuffer buffer(kUncachedReadChunk);
  for (const auto& file : files) {
    if (stop.load()) {
      verdict.stopped = true;
      break;
    }
    ++verdict.checked;
    std::string what = checkOne(fs, root, seed, shape, filled, file, buffer);
    if (!what.empty()) verdict.lost.push_back(LostFile{file.path, std::move(what)});
  }
  return verdict;
}

}  // namespace quillet
