#include "script/verify_property_case.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "engine/block_identity.h"

namespace quillet::property {

std::uint64_t envNumber(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  if (std::string(text) == "clock")
    return static_cast<std::uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  return std::strtoull(text, nullptr, 10);
}

std::int64_t pick(Random& r, std::int64_t low, std::int64_t high) {
  return std::uniform_int_distribution<std::int64_t>(low, high)(r);
}
bool chance(Random& r, double p) { return std::uniform_real_distribution<double>(0, 1)(r) < p; }

std::uint64_t u64(const json& j) {
  if (j.is_string()) return std::stoull(j.get<std::string>());
  if (j.is_number_unsigned()) return j.get<std::uint64_t>();
  if (j.is_number_integer()) return static_cast<std::uint64_t>(j.get<std::int64_t>());
  return 0;
}

std::string sizeKey(const char* key, std::int64_t bytes) {
  if (bytes % (1 << 20) == 0) return std::string(key) + std::to_string(bytes >> 20) + "m";
  if (bytes % 1024 == 0) return std::string(key) + std::to_string(bytes >> 10) + "k";
  return std::string(key) + std::to_string(bytes) + "b";
}

Case drawCase(std::uint64_t seed) {
  Random r(seed);
  Case c;
  c.seed = seed;
  // Sizes from a few hundred bytes (less than one block) to megabytes, some not a whole number of
  // blocks; few enough files that a case takes well under a second.
  static const std::int64_t kMins[] = {300, 1024, 3000, 8192, 40000, 100 << 10, 300000, 1 << 20};
  c.byAllSize = chance(r, 0.5);
  const bool fillAll = c.byAllSize && chance(r, 0.35);
  // A fill to full in files of at least 40000 bytes: a few hundred files at most.
  std::int64_t minSize = kMins[pick(r, fillAll ? 4 : 0, 7)];
  std::int64_t maxSize =
      std::min<std::int64_t>(minSize * pick(r, 1, 8) + pick(r, 0, 1) * pick(r, 0, 5000), 4 << 20);
  c.threads = chance(r, 0.4) ? 1 : static_cast<int>(pick(r, 2, 4));
  const double avg = (minSize + maxSize) / 2.0;
  c.avgSize = static_cast<std::int64_t>(avg);
  if (c.byAllSize) {
    c.keys.push_back("/s");
    if (fillAll) {
      c.fill = true;
      c.keys.push_back("/allsize:allpartition");
    } else {
      const std::int64_t most = std::min<std::int64_t>(12 << 20, static_cast<std::int64_t>(avg * 300));
      const std::int64_t total = pick(r, minSize, std::max(minSize, most));
      c.keys.push_back(sizeKey("/allsize:", total));
      c.expectedBytes = total;
    }
  } else {
    c.keys.push_back("/f");
    const std::int64_t minFiles = pick(r, 1, 6);
    c.keys.push_back("/minfiles:" + std::to_string(minFiles));
    c.keys.push_back("/maxfiles:" + std::to_string(minFiles + pick(r, 0, 6)));
    std::int64_t limit = kVolumeBytes;
    if (chance(r, 0.5)) {
      limit = pick(r, minSize, 10 << 20);
      c.keys.push_back(sizeKey("/limsize:", limit));
    }
    std::int64_t folders = 1;
    if (chance(r, 0.6)) {
      c.keys.push_back("/recurse");
      c.keys.push_back("/rootsize:" + std::to_string(pick(r, 1, 3)));
      c.keys.push_back("/treedeep:" + std::to_string(pick(r, 1, 2)));
      const std::int64_t dirLimit = pick(r, 3, 10);
      c.keys.push_back("/dirlimit:" + std::to_string(dirLimit));
      folders += dirLimit / 2;
      if (chance(r, 0.4)) {
        static const char* kDirMasks[] = {"????????", "?", "d??"};
        c.dirMask = kDirMasks[pick(r, 0, 2)];
        c.keys.push_back("/dirmask:'" + c.dirMask + "'");
      }
    }
    // Roughly: the folders of a tree times the files a folder gets.
    c.expectedBytes =
        std::min<std::int64_t>(limit, static_cast<std::int64_t>(folders * (minFiles + 3) * avg));
  }
  c.keys.push_back(sizeKey("/minsize:", minSize));
  if (maxSize != minSize || chance(r, 0.5)) c.keys.push_back(sizeKey("/maxsize:", maxSize));
  if (chance(r, 0.4)) {
    static const char* kFileMasks[] = {"?", "x??", "????????.???", "*"};
    const std::string mask = kFileMasks[pick(r, 0, 3)];
    c.keys.push_back("/filemask:'" + mask + "'");
    c.fileMask = mask == "*" ? "???" : mask;
  }
  if (c.threads > 1 || chance(r, 0.2)) c.keys.push_back("/threads:" + std::to_string(c.threads));
  c.seeded = chance(r, 0.75);
  if (c.seeded) {
    c.runSeedGiven = r();
    c.keys.push_back("/seed:" + std::to_string(c.runSeedGiven));
  }
  static const char* kSync[] = {"", "", "/sync:file", "/sync:end"};
  const std::string sync = kSync[pick(r, 0, 3)];
  if (!sync.empty()) c.keys.push_back(sync);
  if (chance(r, 0.35)) {
    c.stopSignal = chance(r, 0.5) ? SIGINT : SIGTERM;
    c.stopAt = std::uniform_real_distribution<double>(0, 1)(r);
  }
  c.verifyThreadsPlanless = chance(r, 0.5) ? c.threads : 1;
  c.keys.push_back("/progress:off");
  // Keys in any order are the same line; shuffle all but the mode.
  std::shuffle(c.keys.begin() + 1, c.keys.end(), r);
  return c;
}

std::int64_t orderInFolder(const std::string& name, const std::string& mask) {
  const auto digit = [](char ch) -> std::int64_t {
    if (ch >= 'a' && ch <= 'z') return ch - 'a';
    if (ch >= '0' && ch <= '9') return 26 + (ch - '0');
    return 0;
  };
  std::int64_t value = 0;
  if (mask.empty()) {
    for (char ch : name) value = value * 36 + digit(ch) + 1;
    return value;
  }
  std::int64_t weight = 1;
  for (std::size_t i = 0; i < mask.size() && i < name.size(); ++i) {
    if (mask[i] != '?') continue;
    value += digit(name[i]) * weight;
    weight *= 36;
  }
  return value;
}

bool blockDamage(const json& file) {
  for (const auto& [kind, bytes] : file["damaged_bytes"].items()) {
    if (bytes.get<std::int64_t>() != 0) return true;
  }
  return false;
}

// ---- The harm done to an intact tree ----

const char* harmName(Harm h) {
  static const char* kNames[] = {"flip a byte", "zero a cluster", "copy blocks from another file", "truncate",
                                 "delete",      "extend",         "replace by another run's file"};
  return kNames[static_cast<int>(h)];
}

std::string Fault::text() const {
  std::ostringstream t;
  t << harmName(harm) << " '" << file << "' (" << size << " bytes)";
  switch (harm) {
    case Harm::Flip: t << " at " << offset; break;
    case Harm::Zero: t << " at " << offset << ", " << length << " bytes"; break;
    case Harm::Copy:
      t << " at " << offset << ", " << length << " bytes from '" << source << "' at " << sourceOffset;
      break;
    case Harm::Truncate: t << " to " << offset; break;
    case Harm::Delete: break;
    case Harm::Extend: t << " by " << length; break;
    case Harm::Replace: t << " with seed " << otherSeed << " and size " << length; break;
  }
  return t.str();
}

std::vector<std::uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int64_t fileLength(const std::string& path) {
  struct stat s {};
  return ::stat(path.c_str(), &s) == 0 ? static_cast<std::int64_t>(s.st_size) : -1;
}

std::int64_t freeBytes(const std::string& path) {
  struct statvfs s {};
  if (::statvfs(path.c_str(), &s) != 0) return -1;
  return static_cast<std::int64_t>(s.f_bavail) * static_cast<std::int64_t>(s.f_frsize);
}

namespace {

bool writeAt(const std::string& path, std::int64_t offset, const std::vector<std::uint8_t>& bytes,
             bool truncate = false) {
  const int fd = ::open(path.c_str(), O_WRONLY | (truncate ? O_TRUNC : 0));
  if (fd < 0) return false;
  const bool ok = ::pwrite(fd, bytes.data(), bytes.size(), offset) == static_cast<ssize_t>(bytes.size());
  return ::close(fd) == 0 && ok;
}

// Replaces a file by one of the given content, written beside it first and renamed over it: on a
// volume too full for the new content the old one stays as it was. (Rewriting it in place could
// not be undone there: the room a truncation frees is not always taken again at once, so the old
// content written back may no longer fit.)
bool replaceWhole(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  const auto cut = path.rfind('/');
  const std::string beside = path.substr(0, cut + 1) + ".replacing-" + path.substr(cut + 1);
  const int fd = ::open(beside.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (fd < 0) return false;
  const bool written = ::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
  if (::close(fd) == 0 && written && ::rename(beside.c_str(), path.c_str()) == 0) return true;
  ::unlink(beside.c_str());
  return false;
}

}  // namespace

std::optional<Fault> doHarm(const Case& c, Random& r, const std::string& root,
                            const std::map<std::string, std::int64_t>& files,
                            const std::set<std::string>& cutFiles, std::uint64_t runSeed) {
  std::vector<std::string> names;
  for (const auto& [path, size] : files) {
    if (size > 0) names.push_back(path);
  }
  if (names.empty()) return std::nullopt;
  for (int attempt = 0; attempt < 20; ++attempt) {
    Fault f;
    f.harm = static_cast<Harm>(pick(r, 0, 6));
    f.file = names[static_cast<std::size_t>(pick(r, 0, static_cast<std::int64_t>(names.size()) - 1))];
    f.size = files.at(f.file);
    const std::string path = root + "/" + f.file;
    const bool cut = cutFiles.count(f.file) != 0;
    // Harms that change a size are told apart from where the run ended only on files the run
    // finished (a cut file stays a cut file).
    if (cut && (f.harm == Harm::Truncate || f.harm == Harm::Delete || f.harm == Harm::Extend ||
                f.harm == Harm::Replace)) {
      continue;
    }
    switch (f.harm) {
      case Harm::Flip: {
        f.offset = pick(r, 0, f.size - 1);
        auto bytes = readAll(path);
        const auto bit = static_cast<std::uint8_t>(1u << pick(r, 0, 7));
        if (!writeAt(path, f.offset,
                     {static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(f.offset)] ^ bit)}))
          continue;
        break;
      }
      case Harm::Zero: {
        f.offset = pick(r, 0, (f.size - 1) / 4096) * 4096;
        f.length = std::min<std::int64_t>(4096, f.size - f.offset);
        if (!writeAt(path, f.offset, std::vector<std::uint8_t>(static_cast<std::size_t>(f.length), 0)))
          continue;
        break;
      }
      case Harm::Copy: {
        f.source = names[static_cast<std::size_t>(pick(r, 0, static_cast<std::int64_t>(names.size()) - 1))];
        const std::int64_t targetBlocks = f.size / kBlock;
        const std::int64_t sourceBlocks = files.at(f.source) / kBlock;
        if (targetBlocks == 0 || sourceBlocks == 0) continue;
        const std::int64_t blocks = pick(r, 1, std::min<std::int64_t>({4, targetBlocks, sourceBlocks}));
        f.offset = pick(r, 0, targetBlocks - blocks) * kBlock;
        f.sourceOffset = pick(r, 0, sourceBlocks - blocks) * kBlock;
        f.length = blocks * kBlock;
        if (f.source == f.file && f.offset == f.sourceOffset) continue;
        const auto from = readAll(root + "/" + f.source);
        if (!writeAt(path, f.offset,
                     std::vector<std::uint8_t>(from.begin() + f.sourceOffset,
                                               from.begin() + f.sourceOffset + f.length))) {
          continue;
        }
        break;
      }
      case Harm::Truncate:
        f.offset = pick(r, 0, f.size - 1);
        if (::truncate(path.c_str(), f.offset) != 0) continue;
        break;
      case Harm::Delete:
        if (::unlink(path.c_str()) != 0) continue;
        break;
      case Harm::Extend: {
        f.length = pick(r, 1, 3000);
        std::vector<std::uint8_t> tail(static_cast<std::size_t>(f.length));
        for (auto& b : tail) b = static_cast<std::uint8_t>(r());
        if (!writeAt(path, f.size, tail)) {
          ::truncate(path.c_str(), f.size);
          continue;
        }
        break;
      }
      case Harm::Replace: {
        // The same-named file of another run with other sizes: with the run's seed when it had
        // one (only the plan tells it), another seed otherwise.
        f.otherSeed = c.seeded ? runSeed : runSeed ^ 0x9e3779b97f4a7c15ULL;
        f.length = chance(r, 0.5) ? pick(r, 1, f.size) : pick(r, f.size, f.size * 2);
        if (f.length == f.size) f.length = f.size > 1 ? f.size - 1 : 2;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(f.length));
        fillIdentifiedContent(f.otherSeed, fileIdentity(f.file), static_cast<std::uint64_t>(f.length), 0,
                              bytes.data(), bytes.size());
        if (!replaceWhole(path, bytes)) continue;
        break;
      }
    }
    ::sync();
    f.freeAfter = freeBytes(root);
    // Attempts that failed must have left their file as it was: the harm is one harm.
    for (const auto& [other, size] : files) {
      if (other != f.file && fileLength(root + "/" + other) != size) {
        ADD_FAILURE() << "[property] case seed " << c.seed << ": a harm attempt that failed changed '"
                      << other << "' (" << size << " bytes before, " << fileLength(root + "/" + other)
                      << " now)";
        return std::nullopt;
      }
    }
    return f;
  }
  return std::nullopt;
}

}  // namespace quillet::property
