// /probe through the built program on loop devices: over a plain file (real capacity), over a
// FUSE-served file that wraps past its real size and over one that reads zeros there (limbo). The
// device's content must be byte for byte what it was; refusals must name their reason and write
// nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <nlohmann/json.hpp>

#include "testing/fuse_volume.h"
#include "testing/program_runner.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using json = nlohmann::json;

std::string commandOutput(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
    ::pclose(pipe);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// A loop device over a file, detached when the object dies (also when a test fails).
class LoopDevice {
 public:
  static std::unique_ptr<LoopDevice> attach(const std::string& file, std::string& skipReason) {
    if (::geteuid() != 0) {
      skipReason = "loop devices need root";
      return nullptr;
    }
    const std::string device = commandOutput("losetup -f --show '" + file + "' 2>/dev/null");
    if (device.rfind("/dev/loop", 0) != 0) {
      skipReason = "losetup could not attach " + file;
      return nullptr;
    }
    return std::unique_ptr<LoopDevice>(new LoopDevice(device));
  }
  ~LoopDevice() { std::system(("losetup -d '" + path_ + "' 2>/dev/null").c_str()); }
  const std::string& path() const { return path_; }

 private:
  explicit LoopDevice(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

struct Aligned {
  explicit Aligned(std::size_t n)
      : data(static_cast<unsigned char*>(::operator new(n, std::align_val_t(4096)))) {}
  ~Aligned() { ::operator delete(data, std::align_val_t(4096)); }
  unsigned char* data;
};

// Writes a pattern over the whole device, so that a restore that misses a place shows.
void fillDevice(const std::string& device, std::uint64_t bytes) {
  const int fd = ::open(device.c_str(), O_WRONLY | O_DIRECT);
  ASSERT_GE(fd, 0);
  Aligned buffer(1 << 20);
  for (std::uint64_t at = 0; at < bytes; at += 1 << 20) {
    for (std::size_t i = 0; i < (1 << 20); ++i)
      buffer.data[i] = static_cast<unsigned char>((at + i) * 2654435761u >> 13);
    ASSERT_EQ(::pwrite(fd, buffer.data, 1 << 20, static_cast<off_t>(at)), 1 << 20);
  }
  ::fsync(fd);
  ::close(fd);
}

// An FNV-1a sum of the whole device, read past the page cache.
std::uint64_t deviceSum(const std::string& device, std::uint64_t bytes) {
  const int fd = ::open(device.c_str(), O_RDONLY | O_DIRECT);
  if (fd < 0) return 0;
  Aligned buffer(1 << 20);
  std::uint64_t sum = 1469598103934665603ull;
  for (std::uint64_t at = 0; at < bytes; at += 1 << 20) {
    if (::pread(fd, buffer.data, 1 << 20, static_cast<off_t>(at)) != (1 << 20)) break;
    for (std::size_t i = 0; i < (1 << 20); ++i) sum = (sum ^ buffer.data[i]) * 1099511628211ull;
  }
  ::close(fd);
  return sum;
}

// The report against the schema the repository ships; empty when it validates.
std::string validateReport(const std::string& file) {
  const std::string out = file + ".validation";
  const std::string command =
      "python3 -c \"import json,sys,jsonschema; jsonschema.validate(json.load(open(sys.argv[1])), "
      "json.load(open(sys.argv[2])))\" '" +
      file + "' '" QUILLET_SOURCE_DIR "/docs/report.schema.json' >'" + out + "' 2>&1";
  if (std::system(command.c_str()) == 0) return {};
  const std::string complaint = test_support::readFile(out);
  return complaint.empty() ? "validation failed" : complaint;
}

class ProbeRunTest : public ::testing::Test {
 protected:
  test_support::ScratchFolder scratch;
  std::string report() const { return scratch / "report.json"; }
  test_support::ProgramResult probe(const std::string& device, bool destroy = false) {
    test_support::ProgramOptions options = test_support::privateCopyOfProgram(scratch.path());
    options.timeoutSeconds = 120;
    std::vector<std::string> args{"/probe", "/device:'" + device + "'", "/report:'" + report() + "'"};
    if (destroy) args.push_back("/destroy");
    return test_support::runProgram(args, options);
  }
  json probeReport() const { return json::parse(test_support::readFile(report())).at("probe"); }
};

constexpr std::uint64_t kMiB = 1 << 20;

TEST_F(ProbeRunTest, APlainFileHasItsRealCapacityAndKeepsItsContent) {
  const std::string image = scratch / "plain.img";
  ASSERT_EQ(::truncate(::creat(image.c_str(), 0600) >= 0 ? image.c_str() : "", 64 * kMiB), 0);
  std::string skip;
  auto loop = LoopDevice::attach(image, skip);
  if (!loop) GTEST_SKIP() << skip;
  fillDevice(loop->path(), 64 * kMiB);
  const std::uint64_t before = deviceSum(loop->path(), 64 * kMiB);
  const test_support::ProgramResult r = probe(loop->path());
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Real capacity"), std::string::npos) << r.out;
  const json p = probeReport();
  EXPECT_EQ(p.at("kind"), "real_capacity");
  EXPECT_EQ(p.at("usable_bytes"), 64 * kMiB);
  EXPECT_EQ(p.at("claimed_bytes"), 64 * kMiB);
  EXPECT_EQ(p.at("restored"), true);
  EXPECT_EQ(deviceSum(loop->path(), 64 * kMiB), before) << "the probe changed the device";
  EXPECT_EQ(validateReport(report()), "");
}

struct FakeRow {
  const char* mode;
  std::uint64_t real, claimed;
  const char* kind;
  const char* words;
};

TEST_F(ProbeRunTest, FakeCapacityIsNamedAndMeasuredAndTheDeviceKeepsItsContent) {
  const FakeRow rows[] = {
      {"capacity", 24 * kMiB, 64 * kMiB, "wrap_around", "wrap-around every 25165824 bytes"},
      // A real size that is no multiple of 4 KiB: the wrap is still found to the sector.
      {"capacity", 20 * kMiB + 1536, 48 * kMiB, "wrap_around", "wrap-around every 20973056 bytes"},
      {"limbo", 40 * kMiB + 12 * 1024, 64 * kMiB, "limbo", "limbo (reads zeros) from byte 41955328"},
  };
  for (const FakeRow& row : rows) {
    for (const bool destroy : {false, true}) {
      SCOPED_TRACE(std::string(row.mode) + " " + std::to_string(row.real) + (destroy ? " /destroy" : ""));
      test_support::FuseVolume::Options o;
      o.mode = row.mode;
      o.realBytes = static_cast<std::int64_t>(row.real);
      o.claimedBytes = static_cast<std::int64_t>(row.claimed);
      QUILLET_FUSE_OR_SKIP(volume, o);
      std::string skip;
      auto loop = LoopDevice::attach(volume->diskImage(), skip);
      if (!loop) GTEST_SKIP() << skip;
      fillDevice(loop->path(), row.claimed);
      const std::uint64_t before = deviceSum(loop->path(), row.claimed);
      const test_support::ProgramResult r = probe(loop->path(), destroy);
      EXPECT_EQ(r.exitCode, 4) << r.out << r.err;
      EXPECT_NE(r.out.find(row.words), std::string::npos) << r.out;
      const json p = probeReport();
      EXPECT_EQ(p.at("kind"), row.kind);
      EXPECT_EQ(p.at("claimed_bytes"), row.claimed);
      const std::uint64_t usable = p.at("usable_bytes"), precision = p.at("precision_bytes");
      EXPECT_LE(usable, row.real);
      EXPECT_GT(usable + precision, row.real);
      if (destroy) {
        EXPECT_NE(deviceSum(loop->path(), row.claimed), before);
      } else {
        EXPECT_EQ(p.at("restored"), true);
        EXPECT_EQ(deviceSum(loop->path(), row.claimed), before) << "the probe changed the device";
      }
    }
  }
}

TEST_F(ProbeRunTest, AFilledDeviceVerifiesAsATreeWouldAndAWrappingOneShowsWhatItStores) {
  struct Row {
    const char* mode;  // "" for a plain file
    std::uint64_t real, claimed;
    int verifyExit;
    const char* capacity;
    const char* damage;
  };
  const Row rows[] = {
      {"", 64 * kMiB, 64 * kMiB, 0, "Capacity: 64.00 Mb (67,108,864 bytes) read back intact",
       "misdirected 0 b"},
      {"capacity", 24 * kMiB, 64 * kMiB, 4, "Capacity: 24.00 Mb (25,165,824 bytes) read back intact",
       "misdirected 40.00 Mb in 1 file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(*row.mode ? row.mode : "plain");
    std::unique_ptr<test_support::FuseVolume> volume;
    std::string image = scratch / "fill.img";
    if (*row.mode) {
      test_support::FuseVolume::Options o;
      o.mode = row.mode;
      o.realBytes = static_cast<std::int64_t>(row.real);
      o.claimedBytes = static_cast<std::int64_t>(row.claimed);
      std::string skip;
      volume = test_support::FuseVolume::start(o, skip);
      if (!volume) GTEST_SKIP() << skip;
      image = volume->diskImage();
    } else {
      ASSERT_EQ(::truncate(::creat(image.c_str(), 0600) >= 0 ? image.c_str() : "", 64 * kMiB), 0);
    }
    std::string skip;
    auto loop = LoopDevice::attach(image, skip);
    if (!loop) GTEST_SKIP() << skip;
    test_support::ProgramOptions options = test_support::privateCopyOfProgram(scratch.path());
    options.timeoutSeconds = 120;
    const std::string device = "/device:'" + loop->path() + "'";

    // Without /destroy nothing is written.
    fillDevice(loop->path(), row.claimed);
    const std::uint64_t before = deviceSum(loop->path(), row.claimed);
    test_support::ProgramResult r =
        test_support::runProgram({"/s", "/allsize:allpartition", device}, options);
    EXPECT_EQ(r.exitCode, 8);
    EXPECT_NE(r.err.find("/destroy expected"), std::string::npos) << r.err;
    EXPECT_EQ(deviceSum(loop->path(), row.claimed), before);

    r = test_support::runProgram({"/s", "/allsize:allpartition", device, "/destroy", "/seed:5"}, options);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    r = test_support::runProgram({"/v", device}, options);
    EXPECT_EQ(r.exitCode, row.verifyExit) << r.out << r.err;
    EXPECT_NE(r.out.find(row.capacity), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(row.damage), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Seed: 5"), std::string::npos) << r.out;
  }
}

TEST_F(ProbeRunTest, RefusalsNameTheirReasonWriteNothingAndEndWith8) {
  const std::string plain = scratch / "not-a-device";
  {
    std::FILE* f = std::fopen(plain.c_str(), "w");
    std::fputs("keep me", f);
    std::fclose(f);
  }
  test_support::ProgramResult r = probe(plain);
  EXPECT_EQ(r.exitCode, 8) << r.out << r.err;
  EXPECT_NE(r.err.find("is not a block device"), std::string::npos) << r.err;
  EXPECT_EQ(test_support::readFile(plain), "keep me");
  EXPECT_NE(probeReport().at("refusal").get<std::string>().find("not a block device"), std::string::npos);

  r = probe(scratch / "missing");
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_NE(r.err.find("can not be opened"), std::string::npos) << r.err;

  std::string skip;
  auto volume = test_support::MountedVolume::ext4(16 * kMiB, skip);
  if (!volume) GTEST_SKIP() << skip;
  const std::string device = commandOutput("findmnt -n -o SOURCE --target '" + volume->path() + "'");
  ASSERT_EQ(device.rfind("/dev/", 0), 0u) << device;
  r = probe(device);
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_NE(r.err.find("is mounted at " + volume->path()), std::string::npos) << r.err;
  EXPECT_EQ(probeReport().at("bytes_written"), nullptr);
  EXPECT_EQ(validateReport(report()), "");

  // The device of the root file system, where the root is on one.
  struct stat root {};
  ASSERT_EQ(::stat("/", &root), 0);
  const std::string rootDevice = commandOutput("findmnt -n -o SOURCE /");
  struct stat st {};
  if (::stat(rootDevice.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
    r = probe(rootDevice);
    EXPECT_EQ(r.exitCode, 8);
    EXPECT_NE(r.err.find("holds the root file system"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace quillet
