// Content of a chosen compressibility and dedupe ratio, through the built program on real volumes,
// measured by a route of its own: the zstd and lz4 command-line tools on every 4 KiB block as a file
// of its own, and unique blocks counted by their bytes. Also: the same seed gives the same bytes,
// verify reads such trees back, and measure mode agrees with the tools on a tree made here.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "testing/script_program_fixture.h"

namespace quillet {
namespace {

namespace stdfs = std::filesystem;
constexpr std::size_t kBlock = 4096;

std::vector<std::uint8_t> readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

struct Measured {
  double zstd = 0, lz4 = 0, dedupe = 0;
  std::size_t blocks = 0, unique = 0;
};

// Every visible regular file below root (links and hidden entries left out), in path order.
std::vector<std::string> visibleFiles(const std::string& root) {
  std::vector<std::string> files;
  for (auto it = stdfs::recursive_directory_iterator(root); it != stdfs::recursive_directory_iterator();
       ++it) {
    const std::string name = it->path().filename().string();
    if (name.front() == '.' || it->is_symlink()) {
      if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
      continue;
    }
    if (it->is_regular_file()) files.push_back(it->path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Cuts every file into 4 KiB blocks (a file's short last block kept short), writes each as a file
// of its own into scratch and compresses them with the tools: zstd -1 (frame without checksum, as
// the one-shot library call makes it) and lz4 in its legacy frame (8 bytes around the raw block,
// taken off). Unique blocks are counted by their bytes.
Measured measureWithTools(const std::string& root, const std::string& scratch) {
  stdfs::remove_all(scratch);
  stdfs::create_directories(scratch + "/blocks");
  stdfs::create_directories(scratch + "/zstd");
  Measured m;
  std::unordered_set<std::string> seen;
  std::size_t bytes = 0;
  for (const std::string& file : visibleFiles(root)) {
    const auto data = readBytes(file);
    for (std::size_t at = 0; at < data.size(); at += kBlock) {
      const std::size_t n = std::min(kBlock, data.size() - at);
      char name[32];
      std::snprintf(name, sizeof name, "/blocks/%07zu", m.blocks);
      writeBytes(scratch + name, data.data() + at, n);
      seen.insert(std::string(reinterpret_cast<const char*>(data.data() + at), n));
      ++m.blocks;
      bytes += n;
    }
  }
  m.unique = seen.size();
  const std::string cmdZstd =
      "zstd -1 -q -f --no-check -r '" + scratch + "/blocks' --output-dir-flat '" + scratch + "/zstd'";
  const std::string cmdLz4 = "cd '" + scratch + "/blocks' && lz4 -l -m -q -f *";
  EXPECT_EQ(std::system(cmdZstd.c_str()), 0) << cmdZstd;
  EXPECT_EQ(std::system(cmdLz4.c_str()), 0) << cmdLz4;
  std::size_t zstdBytes = 0, lz4Bytes = 0;
  for (const auto& e : stdfs::directory_iterator(scratch + "/zstd")) zstdBytes += stdfs::file_size(e.path());
  for (const auto& e : stdfs::directory_iterator(scratch + "/blocks")) {
    if (e.path().extension() == ".lz4") lz4Bytes += stdfs::file_size(e.path()) - 8;
  }
  EXPECT_GT(zstdBytes, 0u);
  EXPECT_GT(lz4Bytes, 0u);
  m.zstd = static_cast<double>(bytes) / static_cast<double>(zstdBytes);
  m.lz4 = static_cast<double>(bytes) / static_cast<double>(lz4Bytes);
  m.dedupe = m.unique > 0 ? static_cast<double>(m.blocks) / static_cast<double>(m.unique) : 0;
  stdfs::remove_all(scratch);
  return m;
}

std::string ratioArg(double r) {
  char text[16];
  std::snprintf(text, sizeof text, "%.2f", r);
  return text;
}

class ContentShapeProgramTest : public test_support::ScriptProgramTest {
 protected:
  ContentShapeProgramTest() : ScriptProgramTest(64 << 20) {}
  std::string at(const std::string& name) const { return vol->path() + "/" + name; }
  // Four files of 1 MiB made with the ratios given.
  test_support::ProgramResult make(const std::string& name, double compress, double dedupe,
                                   const std::string& seed = "7", std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"/f",
                                     "/root:'" + at(name) + "'",
                                     "/minfiles:4",
                                     "/maxfiles:4",
                                     "/minsize:1m",
                                     "/maxsize:1m",
                                     "/seed:" + seed,
                                     "/compress:" + ratioArg(compress),
                                     "/dedupe:" + ratioArg(dedupe),
                                     "/progress:off"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run(args);
  }
};

TEST_F(ContentShapeProgramTest, GridOfTargetsLandsWithinTolerances) {
  std::string table = "compress dedupe | zstd-1 lz4 dedupe\n";
  for (const double compress : {1.0, 1.5, 2.0, 4.0, 8.0}) {
    for (const double dedupe : {1.0, 2.0, 5.0, 20.0}) {
      const auto r = make("grid", compress, dedupe);
      ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
      const Measured m = measureWithTools(at("grid"), at("scratch"));
      char row[160];
      std::snprintf(row, sizeof row, "%8.2f %6.2f | %6.3f %6.3f %6.3f  (%zu blocks, %zu unique)\n", compress,
                    dedupe, m.zstd, m.lz4, m.dedupe, m.blocks, m.unique);
      table += row;
      EXPECT_NEAR(m.zstd, compress, compress * 0.10) << row;
      EXPECT_NEAR(m.lz4, compress, compress * 0.10) << row;
      EXPECT_NEAR(m.dedupe, dedupe, dedupe * 0.05) << row;
      stdfs::remove_all(at("grid"));
    }
  }
  std::printf("%s", table.c_str());
}

TEST_F(ContentShapeProgramTest, SameSeedSameBytesAndVerifyReadsItBack) {
  ASSERT_EQ(make("one", 4, 5, "7", {"/report:'" + at("one.json") + "'"}).exitCode, 0);
  std::ifstream in(at("one.json"));
  const auto rep = nlohmann::json::parse(in, nullptr, false);
  ASSERT_TRUE(rep.is_object());
  EXPECT_EQ(rep["parameters"]["content"],
            nlohmann::json({{"compress_ratio", 4.0}, {"dedupe_ratio", 5.0}, {"dedupe_block_bytes", 4096}}));
  ASSERT_EQ(make("two", 4, 5).exitCode, 0);
  ASSERT_EQ(make("other", 4, 5, "8").exitCode, 0);
  const auto files = visibleFiles(at("one"));
  ASSERT_EQ(files.size(), 4u);
  for (const std::string& f : files) {
    const std::string name = stdfs::path(f).filename().string();
    EXPECT_EQ(readBytes(f), readBytes(at("two") + "/" + name)) << name;
    EXPECT_NE(readBytes(f), readBytes(at("other") + "/" + name)) << name;
  }

  auto v = run({"/v", "/root:'" + at("one") + "'", "/progress:off"});
  EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
  EXPECT_NE(v.out.find("Intact: 4.00 Mb in 4 files; corrupted 0 b"), std::string::npos) << v.out;

  // A flipped bit in a block that repeats another is damage at its own offset, and nothing else is.
  auto bytes = readBytes(files[1]);
  const std::size_t flipAt = 300 * 1024 + 17;
  bytes[flipAt] ^= 0x04;
  writeBytes(files[1], bytes.data(), bytes.size());
  v = run({"/v", "/root:'" + at("one") + "'", "/progress:off"});
  EXPECT_EQ(v.exitCode, 4) << v.out << v.err;
  EXPECT_NE(v.out.find("corrupted 1.00 Kb in 1 file"), std::string::npos) << v.out;
  EXPECT_NE(v.out.find("at 307,200: corrupted (1,024 bytes)"), std::string::npos) << v.out;
}

TEST_F(ContentShapeProgramTest, MeasureAgreesWithTheToolsOnATreeMadeElsewhere) {
  // Text-like blocks, some repeated, a short last block, a sub-folder; and entries a measure must
  // leave alone: a hidden file and a link to a file outside the tree.
  std::mt19937 rng(5);
  const std::vector<std::string> words = {"storage ", "volume ", "block ", "quota ",
                                          "tree ",    "data ",   "seed "};
  stdfs::create_directories(at("tree/sub"));
  std::vector<std::string> pool;
  for (int i = 0; i < 8; ++i) {
    std::string b;
    while (b.size() < kBlock) b += words[rng() % words.size()] + std::to_string(rng() % 1000);
    pool.push_back(b.substr(0, kBlock));
  }
  for (const char* name : {"a", "b", "sub/c"}) {
    std::string content;
    for (int i = 0; i < 40; ++i) content += pool[rng() % pool.size()];
    for (int i = 0; i < 24; ++i) {
      std::string b(kBlock, '\0');
      for (char& c : b) c = static_cast<char>(rng() % 40 + 'A');
      content += b;
    }
    content += "a short tail";
    writeBytes(at("tree/") + name, reinterpret_cast<const std::uint8_t*>(content.data()), content.size());
  }
  std::string noise(1 << 20, 'x');
  writeBytes(at("tree/.hidden"), reinterpret_cast<const std::uint8_t*>(noise.data()), noise.size());
  writeBytes(at("outside"), reinterpret_cast<const std::uint8_t*>(noise.data()), noise.size());
  stdfs::create_symlink(at("outside"), at("tree/link"));

  const Measured tools = measureWithTools(at("tree"), at("scratch"));
  const auto r = run({"/m", "/root:'" + at("tree") + "'", "/report:'" + at("m.json") + "'"});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Dedupe (4096-byte blocks aligned to file offsets)"), std::string::npos) << r.out;
  std::ifstream in(at("m.json"));
  const auto rep = nlohmann::json::parse(in, nullptr, false);
  ASSERT_TRUE(rep.is_object());
  EXPECT_EQ(rep["mode"], "measure");
  const auto& m = rep["measure"];
  EXPECT_EQ(m["files_measured"], 3);
  EXPECT_EQ(m["total_blocks"], tools.blocks);
  EXPECT_EQ(m["unique_blocks"], tools.unique);
  EXPECT_NEAR(m["zstd1_ratio"].get<double>(), tools.zstd, tools.zstd * 0.01);
  EXPECT_NEAR(m["lz4_ratio"].get<double>(), tools.lz4, tools.lz4 * 0.01);
  EXPECT_GT(tools.zstd, 1.3);  // the tree is far from random, so agreement means something
  EXPECT_GT(tools.dedupe, 1.3);

  // A root that is not there, and a line that is not a measure's.
  EXPECT_EQ(run({"/m", "/root:'" + at("none") + "'"}).exitCode, 8);
  run({"/m", "/root:'" + at("tree") + "'", "/dedupeblock:3k"});
  EXPECT_NE(log().find("Invalid script. Incorrect dedupe block size, a power of two from 1K to 1M expected."),
            std::string::npos)
      << log();
}

}  // namespace
}  // namespace quillet
