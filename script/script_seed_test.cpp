// /seed and /sync through the built program: a seed repeats a run byte for byte in both modes,
// every block names its run, file and place, and the flushes put the data on the device.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "engine/block_identity.h"
#include "testing/program_runner.h"
#include "testing/script_program_fixture.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// Every folder ("/" at the end) and file below root, with the file's bytes.
std::map<std::string, std::string> treeOf(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(entry.path(), root).generic_string();
    tree[entry.is_directory() ? relative + "/" : relative] =
        entry.is_directory() ? std::string() : test_support::readFile(entry.path().string());
  }
  return tree;
}

class ScriptSeedTest : public test_support::ScriptProgramTest {
 protected:
  std::string root(const std::string& name) const { return "/root:'" + (*vol / name) + "'"; }
  std::string reportArg() const { return "/report:'" + (bin / "report.json") + "'"; }
  json report() const { return json::parse(test_support::readFile(bin / "report.json")); }
};

TEST_F(ScriptSeedTest, TheSameSeedRepeatsARunByteForByteAndAnotherSeedDoesNot) {
  const std::vector<std::vector<std::string>> scripts = {
      {"/s", "/allsize:3m", "/minsize:10k", "/maxsize:300k"},
      {"/f", "/minfiles:2", "/maxfiles:9", "/minsize:1k", "/maxsize:40k"},
      {"/f", "/minfiles:1", "/maxfiles:5", "/minsize:1b", "/maxsize:20k", "/recurse", "/rootsize:3",
       "/treedeep:2", "/dirlimit:50"},
      // A profile's tree: its folders, counts, sizes and extensions come from the seed too.
      {"/f", "/minfiles:0", "/maxfiles:12", "/maxsize:40k", "/recurse", "/dirlimit:30", "/profile:'desktop'"},
  };
  for (const auto& script : scripts) {
    SCOPED_TRACE(script[0] + " " + script.back());
    std::map<std::string, std::string> trees[3];
    const char* seeds[] = {"/seed:18446744073709551557", "/seed:18446744073709551557", "/seed:7"};
    for (int i = 0; i < 3; ++i) {
      const std::string name = script[0].substr(1) + std::to_string(script.size()) + "-" + std::to_string(i);
      auto args = script;
      args.push_back(root(name));
      args.push_back(seeds[i]);
      const auto r = run(args);
      ASSERT_EQ(r.exitCode, 0) << r.err;
      trees[i] = treeOf(*vol / name);
    }
    EXPECT_EQ(trees[0], trees[1]);
    EXPECT_GT(trees[0].size(), 2u);
    // The sizes were drawn, not fixed: the seeds give different runs.
    std::set<std::size_t> sizes;
    for (const auto& [path, bytes] : trees[0]) sizes.insert(bytes.size());
    EXPECT_GT(sizes.size(), 2u);
    EXPECT_NE(trees[0], trees[2]);
    // Even a file of the same name and size holds other bytes under another seed.
    for (const auto& [path, bytes] : trees[2]) {
      const auto same = trees[0].find(path);
      if (same != trees[0].end() && !bytes.empty() && same->second.size() == bytes.size()) {
        EXPECT_NE(same->second, bytes) << path;
      }
    }
  }
}

TEST_F(ScriptSeedTest, EveryBlockNamesTheRunTheFileAndItsPlace) {
  auto r = run({"/f", root("t"), "/minfiles:2", "/maxfiles:3", "/minsize:1b", "/maxsize:5000b", "/recurse",
                "/rootsize:2", "/treedeep:2", "/dirlimit:50", "/seed:5", reportArg()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  json j = report();
  EXPECT_EQ(j["run_seed"], "5");
  EXPECT_EQ(j["run_seed_source"], "given");
  EXPECT_EQ(j["parameters"]["seed"], "5");
  EXPECT_EQ(j["parameters"]["sync"], "none");
  EXPECT_TRUE(j["volume_sync"].is_null());
  EXPECT_TRUE(j["random_seed"].is_null());  // no draw took the clock's seconds
  int files = 0;
  for (const auto& [path, bytes] : treeOf(*vol / "t")) {
    if (path.back() == '/') continue;
    ++files;
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    for (std::size_t at = 0; at < bytes.size(); at += kIdentityBlock) {
      const std::size_t n = std::min(kIdentityBlock, bytes.size() - at);
      const BlockIdentity expected{5, fileIdentity(path), bytes.size(), at};
      ASSERT_TRUE(blockMatches(expected, data + at, n)) << path << " at " << at;
      if (n >= kIdentityHeaderBytes) {
        EXPECT_EQ(readBlockIdentity(data + at, n), expected) << path;
      }
    }
  }
  EXPECT_GE(files, 2 * 7);  // the root and six sub-folders, at least two files each

  // Without /seed two runs draw their own seeds (even within one second) and say so.
  std::string firstBlocks[2];
  for (int i = 0; i < 2; ++i) {
    const std::string name = "drawn" + std::to_string(i);
    r = run({"/s", "/allsize:4k", "/minsize:4k", root(name), reportArg()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    j = report();
    EXPECT_EQ(j["run_seed_source"], "drawn");
    EXPECT_TRUE(j["random_seed"].is_number_integer());
    firstBlocks[i] = test_support::readFile(*vol / (name + "/a"));
    ASSERT_EQ(firstBlocks[i].size(), 4096u);
    const auto id =
        readBlockIdentity(reinterpret_cast<const std::uint8_t*>(firstBlocks[i].data()), kIdentityBlock);
    ASSERT_TRUE(id.has_value());
    EXPECT_EQ(std::to_string(id->seed), j["run_seed"].get<std::string>());
  }
  EXPECT_NE(firstBlocks[0], firstBlocks[1]);
}

// Whether the image behind a volume holds these bytes at a 1,024-byte boundary.
bool imageHolds(const std::string& image, const std::string& bytes) {
  const std::string all = test_support::readFile(image);
  for (std::size_t at = 0; at + bytes.size() <= all.size(); at += 1024) {
    if (all.compare(at, bytes.size(), bytes) == 0) return true;
  }
  return false;
}

TEST(ScriptSyncTest, FileAndEndFlushesPutEveryFileOnTheDevice) {
  QUILLET_MOUNT_OR_SKIP(vol, ext4, 64 << 20);
  test_support::ScratchFolder bin;
  auto options = test_support::privateCopyOfProgram(bin.path());
  options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  const std::string reportPath = bin / "report.json";
  const std::vector<std::vector<std::string>> scripts = {
      {"/s", "/allsize:3m", "/minsize:300k", "/maxsize:700k", "/sync:end"},
      {"/f", "/minfiles:3", "/maxfiles:3", "/minsize:100k", "/Sync:File"},
  };
  for (const auto& script : scripts) {
    SCOPED_TRACE(script.back());
    const std::string folder = *vol / script[0].substr(1);
    auto args = script;
    args.push_back("/root:'" + folder + "'");
    args.push_back("/report:'" + reportPath + "'");
    const auto r = test_support::runProgram(args, options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(test_support::readFile(reportPath));
    const bool end = script.back() == "/sync:end";
    EXPECT_EQ(j["parameters"]["sync"], end ? "end" : "file");
    if (end) {
      EXPECT_EQ(j["volume_sync"], (json{{"flushed", true}, {"note", nullptr}}));
    } else {
      EXPECT_TRUE(j["volume_sync"].is_null());
    }
    // The system writes its cache back after many seconds; these runs last less than one, so the
    // device holds the files only because the run flushed them.
    int files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string bytes = test_support::readFile(entry.path().string());
      ASSERT_GE(bytes.size(), 2 * kIdentityBlock);
      EXPECT_TRUE(imageHolds(vol->imagePath(), bytes.substr(bytes.size() / 2048 * 1024 - 1024, 2048)))
          << entry.path();
      ++files;
    }
    EXPECT_GE(files, 3);
  }
}

}  // namespace
}  // namespace quillet
