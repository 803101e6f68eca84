// A verify on its worker thread while another thread reads its counters and stops it, as the
// console and the windowed progress do, and several readers sharing the ranges of a large file:
// run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "engine/block_identity.h"
#include "engine/verify.h"
#include "engine/verify_span.h"
#include "engine/worker_thread.h"
#include "testing/engine_harness.h"
#include "testing/fake_file_system.h"

namespace quillet {
namespace {

TEST(VerifyThreadedTest, CountersAreReadAndTheStopIsSetWhileTheVerifyRuns) {
  test_support::FakeFileSystem fs;
  fs.keepContent = true;
  fs.addFolder("/root");
  test_support::EngineHarness h{fs};
  h.job.rootFolder = "/root/";
  h.job.byAllSize = false;
  h.job.minFiles = h.job.maxFiles = 40;
  h.job.minFileSize = h.job.maxFileSize = 5 << 20;  // several chunks each, checked on threads
  h.job.runSeed = 9;
  h.job.seedGiven = true;
  ASSERT_EQ(runWorker(h.job, h.services), GenerationResult::Done);

  for (const bool stop : {false, true}) {
    VerifyJob job;
    job.rootFolder = "/root/";
    VerifyResult result;
    std::thread worker([&] { runVerify(job, fs, result); });
    std::int64_t lastBytes = 0;
    while (!job.finished.load()) {
      const std::int64_t bytes = job.bytesChecked.load();
      EXPECT_GE(bytes, lastBytes);
      lastBytes = bytes;
      EXPECT_LE(job.filesChecked.load(), job.filesFound.load());
      if (stop && bytes > 0) job.requestStop();
      std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(result.damagedBytes(), 0);
    if (!stop) {
      EXPECT_FALSE(result.stopped);
      EXPECT_EQ(result.intactBytes(), 40 * (5 << 20));
      EXPECT_EQ(job.bytesChecked.load(), 40 * (5 << 20));
    }
  }
}

// Writes content to a new file of the fake, a chunk at a time; damage(offset, data, size) may spoil
// the chunk that starts at offset before it is written.
void writeFile(test_support::FakeFileSystem& fs, const std::string& relative, std::uint64_t seed,
               std::int64_t size, std::int64_t length,
               const std::function<void(std::int64_t, std::uint8_t*, std::size_t)>& damage) {
  auto file = fs.createNewFile("/root/" + relative);
  ASSERT_TRUE(file.ok());
  std::vector<std::uint8_t> chunk(4 << 20);
  for (std::int64_t at = 0; at < length; at += static_cast<std::int64_t>(chunk.size())) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(length - at, chunk.size()));
    fillIdentifiedContent(seed, fileIdentity(relative), static_cast<std::uint64_t>(size),
                          static_cast<std::uint64_t>(at), chunk.data(), n);
    damage(at, chunk.data(), n);
    std::size_t written = 0;
    ASSERT_TRUE(file.value()->write(chunk.data(), n, written).ok());
  }
  ASSERT_TRUE(file.value()->close().ok());
}

// Spoils [from, from + length) of the file wherever it falls in the chunk at `at`.
void spoil(std::int64_t at, std::uint8_t* data, std::size_t size, std::int64_t from, std::int64_t length,
           const std::function<void(std::uint8_t*, std::size_t)>& how) {
  const std::int64_t begin = std::max(at, from);
  const std::int64_t end = std::min(at + static_cast<std::int64_t>(size), from + length);
  if (begin < end) how(data + (begin - at), static_cast<std::size_t>(end - begin));
}

// One reader's workers share the chunks of a span: with one to four workers, and with the same
// workers used again for a second span, the tally merged in file order is the one a single pass
// over the same bytes gives, damage across the chunks' seams included.
TEST(VerifyThreadedTest, ASpanCheckedByOneToFourWorkersGivesTheOnePassTally) {
  constexpr std::uint64_t kSeed = 79;
  constexpr std::int64_t kMiB = 1 << 20;
  const std::int64_t size = 30 * kMiB + 3000;
  test_support::FakeFileSystem fs;
  fs.keepContent = true;
  fs.addFolder("/root");
  const auto zero = [](std::uint8_t* p, std::size_t n) { std::memset(p, 0, n); };
  writeFile(fs, "big", kSeed, size, size, [&](std::int64_t at, std::uint8_t* data, std::size_t n) {
    spoil(at, data, n, 8 * kMiB - 4096, 8192, zero);  // across a seam
    spoil(at, data, n, 13 * kMiB, 2048, [](std::uint8_t* p, std::size_t m) { p[m / 2] ^= 1; });
    spoil(at, data, n, 16 * kMiB - 1024, 1024, zero);  // up to a seam
    spoil(at, data, n, 16 * kMiB, 1024, [](std::uint8_t* p, std::size_t m) { std::memset(p, 0x41, m); });
    spoil(at, data, n, 30 * kMiB, 3000, zero);  // the short last chunk
  });
  auto opened = fs.openForCheck("/root/", "big");
  ASSERT_TRUE(opened.ok());
  ReadHandle& file = *opened.value();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  ASSERT_EQ(file.read(0, bytes.data(), bytes.size()).value(), bytes.size());
  const FileExpectation expect{kSeed, fileIdentity("big"), size, true, ContentShape{}};
  const auto onePass = [&](std::int64_t begin, std::int64_t end) {
    FileTally t;
    classifyRange(expect, begin, bytes.data() + begin, static_cast<std::size_t>(end - begin), t);
    return t;
  };
  for (std::size_t workers = 1; workers <= 4; ++workers) {
    SpanBuffers buffers(workers);
    for (const auto& [begin, end] : {std::pair{std::int64_t{0}, size}, std::pair{4 * kMiB, 20 * kMiB}}) {
      VerifyJob job;
      FileExpectation e = expect;
      const SpanCheck got = checkSpan(job, file, e, nullptr, begin, end, buffers);
      const FileTally want = onePass(begin, end);
      // The planted damage lies in both spans: four runs or more, the seams' among them.
      ASSERT_GE(want.ranges.size(), 4u) << begin;
      EXPECT_FALSE(got.unreadable || got.stopped) << workers;
      EXPECT_FALSE(got.zero) << workers;
      EXPECT_EQ(got.checkedTo, end) << workers;
      EXPECT_EQ(job.bytesChecked.load(), end - begin) << workers;
      EXPECT_EQ(job.damagedBytes.load(), want.damagedBytes()) << workers;
      EXPECT_EQ(got.tally.bytes, want.bytes) << workers << " " << begin;
      EXPECT_EQ(got.tally.rangesLeftOut, want.rangesLeftOut) << workers;
      ASSERT_EQ(got.tally.ranges.size(), want.ranges.size()) << workers << " " << begin;
      for (std::size_t r = 0; r < want.ranges.size(); ++r) {
        EXPECT_EQ(got.tally.ranges[r].offset, want.ranges[r].offset) << workers << " " << r;
        EXPECT_EQ(got.tally.ranges[r].length, want.ranges[r].length) << workers << " " << r;
        EXPECT_EQ(got.tally.ranges[r].kind, want.ranges[r].kind) << workers << " " << r;
      }
    }
  }
}

// A large file is split into ranges that four readers share; the damage planted in each range and
// across their seams comes out exactly as one reader finds it: the same verdicts, the same runs
// (joined across the seams, the first sixteen kept, the rest counted), the same counters.
TEST(VerifyThreadedTest, FourReadersSharingALargeFileFindWhatOneReaderFinds) {
  constexpr std::uint64_t kSeed = 77;
  constexpr std::int64_t kMiB = 1 << 20;
  const std::int64_t bigSize = 72 * kMiB + 5000;  // ranges of 32 MiB: three, the last one short
  test_support::FakeFileSystem fs;
  fs.keepContent = true;
  fs.addFolder("/root");
  const auto zero = [](std::uint8_t* p, std::size_t n) { std::memset(p, 0, n); };
  const auto flip = [](std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 512) p[i] ^= 0x5a;
  };
  writeFile(fs, "big", kSeed, bigSize, bigSize, [&](std::int64_t at, std::uint8_t* data, std::size_t size) {
    // Zeros across the seam of the first two ranges: one run, however the file is cut.
    spoil(at, data, size, 32 * kMiB - 8192, 16384, zero);
    // Flipped bytes within the second and the third range.
    spoil(at, data, size, 40 * kMiB, 4096, flip);
    spoil(at, data, size, 66 * kMiB + 4096, 8192, flip);
    // Another seed's block in the second range.
    spoil(at, data, size, 50 * kMiB, 4096, [&](std::uint8_t* p, std::size_t n) {
      fillIdentifiedContent(kSeed + 1, fileIdentity("big"), static_cast<std::uint64_t>(bigSize),
                            static_cast<std::uint64_t>(50 * kMiB), p, n);
    });
    // Nineteen more zeroed blocks every three MiB, so that runs beyond the kept sixteen are counted.
    for (int i = 1; i <= 19; ++i) spoil(at, data, size, i * 3 * kMiB + 12288, 4096, zero);
    // Zeros up to the seam of the last two ranges, and others from the next one on.
    spoil(at, data, size, 64 * kMiB - 4096, 4096, zero);
    spoil(at, data, size, 64 * kMiB, 4096, zero);
  });
  writeFile(fs, "a", kSeed, 300000, 300000, [&](std::int64_t at, std::uint8_t* data, std::size_t size) {
    spoil(at, data, size, 8192, 4096, zero);
  });
  writeFile(fs, "c", kSeed, 200000, 120000, [](std::int64_t, std::uint8_t*, std::size_t) {});  // truncated
  writeFile(fs, "d", kSeed, 9 * kMiB, 9 * kMiB, [](std::int64_t, std::uint8_t*, std::size_t) {});

  const auto opensOfBig = [&] {
    const auto effects = fs.effects();
    return std::count(effects.begin(), effects.end(), "check /root/big");
  };
  const auto verify = [&](int readers, VerifyResult& result) {
    VerifyJob job;
    job.rootFolder = "/root/";
    job.readers = readers;
    const auto opensBefore = opensOfBig();
    runVerify(job, fs, result);
    // One open for the seed's vote and one to check it; shared, one more per range but the first.
    EXPECT_EQ(opensOfBig() - opensBefore, readers == 1 ? 2 : 2 + 2) << readers;
    EXPECT_EQ(job.filesChecked.load(), 4) << readers;
    EXPECT_EQ(job.bytesChecked.load(), bigSize + 300000 + 120000 + 9 * kMiB) << readers;
    EXPECT_EQ(job.damagedBytes.load(), result.damagedBytes()) << readers;
    ASSERT_EQ(result.readerTimes.size(), static_cast<std::size_t>(readers));
    std::int64_t files = 0, bytes = 0;
    for (const auto& t : result.readerTimes) {
      files += t.files;
      bytes += t.bytes;
      if (t.files > 0) {
        EXPECT_LE(t.firstDone, t.lastDone);
      }
    }
    EXPECT_EQ(files, 4) << readers;
    EXPECT_EQ(bytes, job.bytesChecked.load()) << readers;
  };
  VerifyResult one, four;
  verify(1, one);
  verify(4, four);
  // More readers than work a second time: the counting-down of readers with nothing left is right.
  VerifyResult many;
  verify(9, many);

  // What one reader finds, told independently of how it is found.
  ASSERT_EQ(one.damaged.size(), 3u);
  const FileVerdict& big = one.damaged[1];
  ASSERT_EQ(big.relativePath, "big");
  EXPECT_EQ(big.sizeState, SizeState::Right);
  ASSERT_EQ(big.tally.ranges.size(), FileTally::kRangesKept);
  // Runs in offset order: zeros at 3 MiB steps, the seam's 16 KiB, the flipped block at 40 MiB...
  EXPECT_EQ(big.tally.ranges[0].offset, 3 * kMiB + 12288);
  EXPECT_EQ(big.tally.ranges[10].offset, 32 * kMiB - 8192);
  EXPECT_EQ(big.tally.ranges[10].length, 16384);
  EXPECT_EQ(big.tally.ranges[10].kind, BlockClass::Zeroed);
  EXPECT_EQ(big.tally.ranges[14].offset, 40 * kMiB);
  EXPECT_EQ(big.tally.ranges[14].kind, BlockClass::Corrupted);
  // 24 runs in all (19 + seam + two flips + stale + the 8 KiB at 64 MiB), 16 kept.
  EXPECT_EQ(big.tally.rangesLeftOut, 24 - 16);
  EXPECT_EQ(big.tally.bytes[static_cast<std::size_t>(BlockClass::Stale)], 4096);
  EXPECT_EQ(big.tally.bytes[static_cast<std::size_t>(BlockClass::Zeroed)], 16384 + 19 * 4096 + 8192);
  EXPECT_EQ(one.damaged[2].relativePath, "c");
  EXPECT_EQ(one.damaged[2].sizeState, SizeState::Truncated);

  for (const VerifyResult* other : {&four, &many}) {
    EXPECT_EQ(other->files, one.files);
    EXPECT_EQ(other->classBytes, one.classBytes);
    EXPECT_EQ(other->classFiles, one.classFiles);
    EXPECT_EQ(other->truncatedFiles, one.truncatedFiles);
    EXPECT_EQ(other->truncatedBytes, one.truncatedBytes);
    EXPECT_EQ(other->methods.cached, one.methods.cached);
    ASSERT_EQ(other->damaged.size(), one.damaged.size());
    for (std::size_t i = 0; i < one.damaged.size(); ++i) {
      const FileVerdict& a = one.damaged[i];
      const FileVerdict& b = other->damaged[i];
      EXPECT_EQ(b.relativePath, a.relativePath);
      EXPECT_EQ(b.length, a.length);
      EXPECT_EQ(b.sizeState, a.sizeState);
      EXPECT_EQ(b.expect.size, a.expect.size);
      EXPECT_EQ(b.tally.bytes, a.tally.bytes) << a.relativePath;
      EXPECT_EQ(b.tally.rangesLeftOut, a.tally.rangesLeftOut) << a.relativePath;
      ASSERT_EQ(b.tally.ranges.size(), a.tally.ranges.size()) << a.relativePath;
      for (std::size_t r = 0; r < a.tally.ranges.size(); ++r) {
        EXPECT_EQ(b.tally.ranges[r].offset, a.tally.ranges[r].offset) << a.relativePath << " " << r;
        EXPECT_EQ(b.tally.ranges[r].length, a.tally.ranges[r].length) << a.relativePath << " " << r;
        EXPECT_EQ(b.tally.ranges[r].kind, a.tally.ranges[r].kind) << a.relativePath << " " << r;
        EXPECT_EQ(b.tally.ranges[r].expected, a.tally.ranges[r].expected) << a.relativePath << " " << r;
        EXPECT_EQ(b.tally.ranges[r].found, a.tally.ranges[r].found) << a.relativePath << " " << r;
      }
    }
  }

  // A stop while the readers share the large file ends every one of them, and the verify.
  VerifyJob stopped;
  stopped.rootFolder = "/root/";
  stopped.readers = 4;
  VerifyResult partial;
  std::thread worker([&] { runVerify(stopped, fs, partial); });
  while (!stopped.finished.load()) {
    if (stopped.bytesChecked.load() > 40 * kMiB) stopped.requestStop();
    std::this_thread::yield();
  }
  worker.join();
  EXPECT_TRUE(partial.stopped || partial.files == 4);
}

// A file that ends, or fails, at `cut` while it is read, although its open told the full length:
// a file cut, or a volume failing, in the middle of a verify.
class CutHandle : public ReadHandle {
 public:
  CutHandle(std::unique_ptr<ReadHandle> inner, std::int64_t cut, bool fail)
      : inner_(std::move(inner)), cut_(cut), fail_(fail) {}
  std::int64_t size() const override { return inner_->size(); }
  std::int64_t allocatedBytes() const override { return inner_->allocatedBytes(); }
  UncachedRead method() const override { return inner_->method(); }
  Result<std::size_t> read(std::int64_t offset, void* data, std::size_t size) override {
    if (offset >= cut_) {
      if (fail_) return Status::failure(ErrorKind::Other, 5, "", "read failed past the cut");
      return std::size_t{0};
    }
    return inner_->read(offset, data, static_cast<std::size_t>(std::min<std::int64_t>(size, cut_ - offset)));
  }

 private:
  std::unique_ptr<ReadHandle> inner_;
  std::int64_t cut_;
  bool fail_;
};

class CuttingFileSystem : public test_support::FakeFileSystem {
 public:
  std::int64_t cut = 0;
  bool fail = false;
  Result<std::unique_ptr<ReadHandle>> openForCheck(const std::string& base,
                                                   const std::string& relative) override {
    auto opened = FakeFileSystem::openForCheck(base, relative);
    if (!opened.ok() || relative != "big") return opened;
    return std::unique_ptr<ReadHandle>(std::make_unique<CutHandle>(std::move(opened.value()), cut, fail));
  }
};

// A large file that ends early, or fails, while it is read: whether one reader's workers or
// several readers share its chunks, what lies past the end is not the file's, and the verdict is
// the one a single pass gives: truncated where it ended, or unreadable with what was checked
// before the failure. The ends fall on a chunk's seam, inside a chunk and inside the first chunk
// (read before any other worker starts).
TEST(VerifyThreadedTest, ASharedFileThatEndsOrFailsMidwayGetsTheOnePassVerdict) {
  constexpr std::uint64_t kSeed = 78;
  constexpr std::int64_t kMiB = 1 << 20;
  const std::int64_t bigSize = 72 * kMiB + 5000;
  CuttingFileSystem fs;
  fs.keepContent = true;
  fs.addFolder("/root");
  writeFile(fs, "big", kSeed, bigSize, bigSize, [](std::int64_t, std::uint8_t*, std::size_t) {});
  writeFile(fs, "small", kSeed, 5000, 5000, [](std::int64_t, std::uint8_t*, std::size_t) {});
  struct Row {
    std::int64_t cut;
    bool fail;
  };
  for (const Row& row :
       {Row{40 * kMiB, false}, Row{40 * kMiB, true}, Row{40 * kMiB + 8192, false}, Row{2 * kMiB, false}}) {
    const bool fail = row.fail;
    fs.cut = row.cut;
    fs.fail = fail;
    VerifyResult results[2];
    for (int i = 0; i < 2; ++i) {
      VerifyJob job;
      job.rootFolder = "/root/";
      job.seed = kSeed;
      job.readers = i == 0 ? 1 : 4;
      runVerify(job, fs, results[i]);
      EXPECT_EQ(job.filesChecked.load(), 2);
    }
    for (const VerifyResult& r : results) {
      ASSERT_EQ(r.damaged.size(), 1u) << row.cut << fail;
      const FileVerdict& v = r.damaged[0];
      EXPECT_EQ(v.relativePath, "big");
      EXPECT_EQ(v.tally.bytes[0], row.cut) << fail;
      EXPECT_EQ(v.tally.damagedBytes(), 0) << fail;
      EXPECT_EQ(v.unreadable, fail);
      if (fail) {
        EXPECT_NE(v.readError.find("read failed past the cut"), std::string::npos) << v.readError;
        EXPECT_EQ(v.length, bigSize);
        EXPECT_EQ(r.unreadableFiles, 1);
      } else {
        EXPECT_EQ(v.length, row.cut);
        EXPECT_EQ(v.sizeState, SizeState::Truncated);
        EXPECT_EQ(r.truncatedBytes, bigSize - row.cut);
      }
      EXPECT_EQ(r.intactBytes(), row.cut + 5000) << row.cut << fail;
    }
    EXPECT_EQ(results[1].damaged[0].sizeState, results[0].damaged[0].sizeState) << row.cut << fail;
  }
}

}  // namespace
}  // namespace quillet
