// Verify through the built program where the volume filled, where names and entries are hostile,
// where nothing generated is found or a file has another size than planned, and the block
// classifier against hostile blocks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <thread>
#include <vector>

#include "engine/verify.h"
#include "script/verify_test_support.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using namespace verify_test;

void fillWithWritersVerifiesIntact(const std::string& volume, test_support::ProgramOptions& options) {
  for (int writers = 1; writers <= 8; ++writers) {
    for (const char* sync : {"/sync:none", "/sync:file"}) {
      const std::string root = volume + "/run";
      ASSERT_TRUE(test_support::removeTree(root));
      std::vector<std::string> line = {"/s",
                                       "/allsize:allpartition",
                                       "/root:'" + root + "'",
                                       "/minsize:100k",
                                       "/maxsize:512k",
                                       "/seed:" + std::to_string(100 + writers),
                                       "/threads:" + std::to_string(writers),
                                       sync,
                                       "/progress:off"};
      ASSERT_EQ(test_support::runProgram(line, options).exitCode, 1) << writers << sync;
      line.push_back("/v");
      const auto got = test_support::runProgram(line, options);
      EXPECT_EQ(got.exitCode, 0) << writers << " writers " << sync << "\n" << got.out << got.err;
      EXPECT_NE(got.out.find("missing 0 files; unexpected 0 files"), std::string::npos) << got.out;
    }
  }
}

TEST(VerifyFullVolumeTest, SeveralWritersFillingTmpfsVerifyIntact) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 64 << 20);
  test_support::ScratchFolder bin;
  auto options = test_support::privateCopyOfProgram(bin.path());
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  fillWithWritersVerifiesIntact(vol->path(), options);
}

TEST(VerifyFullVolumeTest, SeveralWritersFillingExt4VerifyIntact) {
  QUILLET_MOUNT_OR_SKIP(vol, ext4, 48 << 20);
  test_support::ScratchFolder bin;
  auto options = test_support::privateCopyOfProgram(bin.path());
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  fillWithWritersVerifiesIntact(vol->path(), options);
}

// A verify that checked nothing a run made proves nothing: an empty folder, or files that carry
// no run's identity, end with the verdict that nothing generated was found, exit 4, never "Intact".
TEST_F(VerifyProgramTest, NothingGeneratedFoundNeverPasses) {
  stdfs::create_directories(root());
  auto r = verify();
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("Nothing generated found: no file in the folder", 0), 0u) << r.out;
  EXPECT_EQ(report()["result"]["code"], 4);
  EXPECT_EQ(report()["verify"]["nothing_generated"], true);
  EXPECT_NE(log().find("Nothing generated was found in '" + root() + "'."), std::string::npos) << log();
  writeBytes(root() + "/notes.txt", std::vector<std::uint8_t>(5000, 'n'));
  r = verify();
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("Nothing generated found: 1 file checked, none made by a run", 0), 0u) << r.out;
  // A damaged file is counted as damage, never under the intact verdict.
  makeFile(root(), "a", 8192);
  makeFile(root(), "b", 8192);
  patch(root() + "/b", 10, {0xFF});
  ASSERT_TRUE(stdfs::remove(root() + "/notes.txt"));
  r = verify();
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_EQ(
      r.out.rfind("Damage found: 1 of 2 files damaged; intact 15.00 Kb; corrupted 1.00 Kb in 1 file", 0), 0u)
      << r.out;
  EXPECT_NE(log().find("Damage found: 1 of 2 files damaged;"), std::string::npos) << log();
}

// With the run's line the plan knows every file's size: a file of another run of the same seed
// with other sizes, intact in itself, is damage ("resized") in the console, the log and the report.
TEST_F(VerifyProgramTest, FileOfAnotherSizeThanPlannedIsResized) {
  const std::vector<std::string> line = {
      "/s",      "/allsize:6m",  "/root:'" + root() + "'", "/minsize:200k", "/maxsize:900k",
      "/seed:9", "/progress:off"};
  ASSERT_EQ(run(line).exitCode, 0);
  const std::string other = vol->path() + "/other";
  auto otherLine = line;
  otherLine[2] = "/root:'" + other + "'";
  otherLine[3] = "/minsize:50k";
  otherLine[4] = "/maxsize:100k";
  ASSERT_EQ(run(otherLine).exitCode, 0);
  const std::int64_t planned = test_support::fileSize(root() + "/b");
  ASSERT_NE(test_support::fileSize(other + "/b"), planned);
  stdfs::copy_file(other + "/b", root() + "/b", stdfs::copy_options::overwrite_existing);
  auto withV = line;
  withV.push_back("/v");
  withV.push_back("/report:'" + vol->path() + "/report.json'");
  const auto r = run(withV);
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("Damage found: 1 of ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("; resized 1 file;"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  b: resized: its blocks carry "), std::string::npos) << r.out;
  EXPECT_NE(log().find("Damaged file 'b': resized: carries "), std::string::npos) << log();
  const json rep = report();
  EXPECT_EQ(rep["verify"]["resized_files"], 1);
  EXPECT_EQ(damaged(rep, "b")["planned_size_bytes"], planned);
  // Seed only: the plan is unknown and the file is intact in itself.
  EXPECT_EQ(verify({"/seed:9"}).exitCode, 0);
}

// FIFOs, sockets and device nodes are never opened (a FIFO would block the read): without the
// plan they are listed as skipped and the verdict stands; with it they are unexpected.
TEST_F(VerifyProgramTest, EntriesThatAreNoRegularFileAreNeverOpened) {
  const std::vector<std::string> line = {
      "/s",      "/allsize:2m",  "/root:'" + root() + "'", "/minsize:100k", "/maxsize:300k",
      "/seed:4", "/progress:off"};
  ASSERT_EQ(run(line).exitCode, 0);
  ASSERT_EQ(::mkfifo((root() + "/pipe").c_str(), 0644), 0);
  ASSERT_EQ(::mknod((root() + "/null").c_str(), S_IFCHR | 0644, makedev(1, 3)), 0);
  options.timeoutSeconds = 60;
  auto r = verify();
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(r.out.rfind("Intact: ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("; skipped 2 not a regular file"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  skipped: pipe (not a regular file)"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("unreadable"), std::string::npos) << r.out;
  EXPECT_NE(log().find("Skipped 'null': not a regular file."), std::string::npos) << log();
  auto withV = line;
  withV.push_back("/v");
  r = run(withV);
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_NE(r.out.find("missing 0 files; unexpected 2 files"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  unexpected: pipe (not a regular file)"), std::string::npos) << r.out;
}

// Names from the volume reach the console escaped as in the log: a line break, an escape sequence
// or a byte that is no UTF-8 never splits a damage line or reaches the terminal raw.
TEST_F(VerifyProgramTest, NamesFromTheVolumeAreEscapedOnTheConsole) {
  const std::string evil =
      "bad\nname\x1b[31m\xff\xc2\x9b"
      "ok\xc3\xa9";
  makeFile(root(), evil, 4096);
  makeFile(root(), "good", 4096);
  ASSERT_EQ(::truncate((root() + "/" + evil).c_str(), 2000), 0);
  ASSERT_EQ(::truncate((root() + "/good").c_str(), 3000), 0);
  const auto r = verify({"/seed:77"});
  EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
  EXPECT_NE(r.out.find("  bad\\x0Aname\\x1B[31m\\xFF\\xC2\\x9Bok\xc3\xa9: truncated: 2,000 bytes"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(r.out.find("\xff"), std::string::npos);
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
}

// One writer goes through its files in plan order: with the run's line, a file truncated early in
// a full volume is damage, not where the run ended.
TEST(VerifyFullVolumeTest, EarlyFileTruncatedOnAFullVolumeIsDamage) {
  QUILLET_MOUNT_OR_SKIP(vol, tmpfs, 24 << 20);
  test_support::ScratchFolder bin;
  auto options = test_support::privateCopyOfProgram(bin.path());
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const std::string root = vol->path() + "/run";
  std::vector<std::string> line = {"/s",
                                   "/allsize:allpartition",
                                   "/root:'" + root + "'",
                                   "/minsize:300000b",
                                   "/maxsize:1500000b",
                                   "/seed:14197680301730662304",
                                   "/progress:off"};
  ASSERT_EQ(test_support::runProgram(line, options).exitCode, 1);
  line.push_back("/v");
  auto got = test_support::runProgram(line, options);
  EXPECT_EQ(got.exitCode, 0) << got.out << got.err;
  ASSERT_GT(test_support::fileSize(root + "/b"), 364276);
  ASSERT_EQ(::truncate((root + "/b").c_str(), 364276), 0);
  got = test_support::runProgram(line, options);
  EXPECT_EQ(got.exitCode, 4) << got.out << got.err;
  EXPECT_NE(got.out.find("  b: truncated: 364,276 bytes"), std::string::npos) << got.out;
}

// An intact fill of a real ext4 volume, up to its last block, read with O_DIRECT.
TEST(VerifyExt4Test, IntactFullVolumeVerifiesClean) {
  QUILLET_MOUNT_OR_SKIP(vol, ext4, 32 << 20);
  test_support::ScratchFolder bin;
  auto options = test_support::privateCopyOfProgram(bin.path());
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const std::string root = vol->path() + "/run";
  stdfs::create_directories(root);
  // Files of 1 MiB until the volume is full; the last one is made with the size that still fits,
  // as a run cuts its last file to the free space.
  for (int i = 0;; ++i) {
    const auto space = stdfs::space(root);
    const std::int64_t free = static_cast<std::int64_t>(space.available) - 64 * 1024;
    if (free <= 4096) break;
    const std::int64_t size = std::min<std::int64_t>(1 << 20, free);
    makeFile(root, "f" + std::to_string(i), size);
    if (size < (1 << 20)) break;
  }
  ::sync();
  const auto r = test_support::runProgram({"/v", "/root:'" + root + "'"}, options);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("corrupted 0 b; misdirected 0 b; stale 0 b; zeroed 0 b; unrecognised 0 b"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("direct (O_DIRECT or unbuffered)"), std::string::npos) << r.out;
}

// Random and adversarial blocks: classification never crashes and never calls a block intact that
// is not exactly the expected one.
TEST(VerifyClassifierTest, HostileBlocksAreNeverOk) {
  std::mt19937_64 random(12345);
  const FileExpectation expect{kSeed, fileIdentity("f"), 1 << 20, true};
  std::vector<std::uint8_t> good(kIdentityBlock);
  for (int round = 0; round < 20000; ++round) {
    const std::int64_t offset = static_cast<std::int64_t>(random() % 1024) * 1024;
    const std::size_t size =
        round % 3 == 0 ? static_cast<std::size_t>(random() % kIdentityBlock) + 1 : kIdentityBlock;
    fillIdentifiedContent(expect.seed, expect.fileId, 1 << 20, static_cast<std::uint64_t>(offset),
                          good.data(), size);
    std::vector<std::uint8_t> block(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size));
    switch (round % 5) {
      case 0:
        for (auto& b : block) b = static_cast<std::uint8_t>(random());
        break;                                                                                   // noise
      case 1: block[random() % size] ^= static_cast<std::uint8_t>(1u << (random() % 8)); break;  // one bit
      case 2:
        std::fill(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(size, 64)),
                  0xFF);
        break;
      case 3:
        block[random() % size] = static_cast<std::uint8_t>(random());
        block[0] ^= 0x80;
        break;
      case 4: {  // the block of the same file one block further on
        fillIdentifiedContent(expect.seed, expect.fileId, 1 << 20, static_cast<std::uint64_t>(offset) + 1024,
                              block.data(), size);
        break;
      }
    }
    std::optional<BlockIdentity> found;
    const BlockClass kind = classifyBlock(expect, offset, block.data(), size, found);
    EXPECT_EQ(
        kind == BlockClass::Ok,
        block == std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(size)))
        << "round " << round;
  }
}

TEST(VerifyClassifierTest, TalliesOfRangesMergeInAnyOrder) {
  const FileExpectation expect{kSeed, fileIdentity("f"), 64 * 1024, true};
  std::vector<std::uint8_t> data(64 * 1024);
  fillIdentifiedContent(expect.seed, expect.fileId, data.size(), 0, data.data(), data.size());
  std::fill(data.begin() + 30 * 1024, data.begin() + 36 * 1024, 0);  // zeroed across the halves
  FileTally whole, first, second;
  classifyRange(expect, 0, data.data(), data.size(), whole);
  classifyRange(expect, 32 * 1024, data.data() + 32 * 1024, 32 * 1024, second);
  classifyRange(expect, 0, data.data(), 32 * 1024, first);
  second.merge(first);
  EXPECT_EQ(second.bytes, whole.bytes);
  ASSERT_EQ(second.ranges.size(), 1u);
  EXPECT_EQ(second.ranges[0].offset, 30 * 1024);
  EXPECT_EQ(second.ranges[0].length, 6 * 1024);
  EXPECT_EQ(second.ranges[0].kind, BlockClass::Zeroed);
}

}  // namespace
}  // namespace quillet
