// Stores made at random from a valid one: nested too deep, too large, not UTF-8, with NUL bytes,
// values of every wrong type, cut or scrambled. Whatever the file holds, loading the settings must
// neither crash nor hang, and must end either with the store taken as it stands or set aside and
// the defaults loaded. Bounded in time; QUILLET_FUZZ_SEED replays one sequence.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "settings/json_registry_store.h"
#include "settings/settings_values.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

std::string flattened(const SettingsValues& v) {
  std::string text;
  for (const std::string* member : {&v.rootFolderText, &v.minSizeText, &v.maxSizeText, &v.allSizeText,
                                    &v.fileMaskText, &v.dirMaskText, &v.minFilesText, &v.maxFilesText,
                                    &v.limitSizeText, &v.treeDeepText, &v.rootSizeText, &v.dirsLimitText}) {
    text += *member + '|';
  }
  for (const bool flag :
       {v.fillRandom, v.closeProgressAuto, v.fillSubfolders, v.makeUpTree, v.useMaxFiles, v.useMaxSize,
        v.byAllSize, v.useLimitSize, v.useFileMask, v.useDirMask, v.allPartition}) {
    text += flag ? '1' : '0';
  }
  for (const int unit : {v.minSizeUnit, v.maxSizeUnit, v.limitSizeUnit, v.allSizeUnit})
    text += std::to_string(unit);
  return text;
}

class StoreMaker {
 public:
  StoreMaker(std::uint32_t seed, std::string valid) : random_(seed), valid_(std::move(valid)) {}

  std::string next() {
    switch (below(8)) {
      case 0: return atValue(nesting());
      case 1: return below(4) == 0 ? nesting() : atValue(nesting() + std::string(below(3), ']'));
      case 2:
        return atValue(
            "\"" + std::string(below(10) == 0 ? JsonRegistryStore::kMaxFileBytes : below(5000), 'h') + "\"");
      case 3: return withBytes(0x80, 0xFF);
      case 4: return below(2) == 0 ? withBytes(0, 0) : atValue("\"a\\u0000b\"");
      case 5: return atValue(wrongType());
      case 6: return scrambled();
      default: {
        std::string bytes(below(200), '\0');
        for (char& c : bytes) c = static_cast<char>(below(256));
        return bytes;
      }
    }
  }

 private:
  std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random_); }

  std::string nesting() {
    const std::size_t depth = below(2) == 0 ? JsonRegistryStore::kMaxDepth - 4 + below(8) : below(200000);
    const bool objects = below(2) == 0;
    std::string text;
    for (std::size_t i = 0; i < depth; ++i) text += objects ? "{\"a\":" : "[";
    text += "1";
    for (std::size_t i = 0; i < depth; ++i) text += objects ? '}' : ']';
    return text;
  }

  std::string wrongType() {
    static const char* const kValues[] = {"null",
                                          "true",
                                          "-1",
                                          "4294967296",
                                          "1.5",
                                          "1e400",
                                          "-0",
                                          "[]",
                                          "{}",
                                          "[\"1\"]",
                                          "{\"Tree deep\": 5}",
                                          "18446744073709551616",
                                          "\"\""};
    return kValues[below(std::size(kValues))];
  }

  // The valid store with one value (found by its ": ") replaced.
  std::string atValue(const std::string& value) {
    std::size_t at = valid_.find(": ", below(valid_.size()));
    if (at == std::string::npos) at = valid_.find(": ");
    // The first ": " opens the settings key itself; any other opens a value.
    const std::size_t end = valid_.find_first_of(",\n", at + 2);
    return valid_.substr(0, at + 2) + value + valid_.substr(end);
  }

  std::string withBytes(int low, int high) {
    std::string text = valid_;
    for (std::size_t n = 1 + below(4); n > 0; --n) {
      text.insert(below(text.size()), 1, static_cast<char>(low + static_cast<int>(below(high - low + 1))));
    }
    return text;
  }

  std::string scrambled() {
    std::string text = valid_;
    switch (below(3)) {
      case 0: return text.substr(0, below(text.size()));
      case 1:
        for (std::size_t n = 1 + below(8); n > 0; --n)
          text[below(text.size())] = static_cast<char>(below(128));
        return text;
      default: return text.substr(below(text.size())) + text;
    }
  }

  std::mt19937 random_;
  std::string valid_;
};

TEST(JsonRegistryStoreFuzzTest, AnyStoreLoadsAsItStandsOrIsSetAsideForTheDefaults) {
  const char* seedText = std::getenv("QUILLET_FUZZ_SEED");
  const std::uint32_t seed = seedText != nullptr
                                 ? static_cast<std::uint32_t>(std::strtoul(seedText, nullptr, 10))
                                 : std::random_device{}();
  SCOPED_TRACE("QUILLET_FUZZ_SEED=" + std::to_string(seed));

  test_support::ScratchFolder scratch;
  std::string valid;
  {
    JsonRegistryStore store(scratch / "valid");
    RegistryAccess access(store);
    SettingsValues values;
    loadSettings(access, values);
    valid = test_support::readFile(store.filePath());
  }
  ASSERT_FALSE(valid.empty());
  const std::string defaults = flattened(SettingsValues());

  StoreMaker maker(seed, valid);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int runs = 0;
  int setAsideRuns = 0;
  // At least 50 stores whatever the machine's load (too few would mean nothing), up to 500 while
  // the time lasts.
  for (; runs < 500 && (runs < 50 || std::chrono::steady_clock::now() < deadline); ++runs) {
    const std::string text = maker.next();
    const std::string folder = scratch / ("run" + std::to_string(runs));
    JsonRegistryStore store(folder);
    std::filesystem::create_directory(folder);
    std::ofstream(store.filePath(), std::ios::binary) << text;

    RegistryAccess access(store);
    SettingsValues first;
    loadSettings(access, first);
    const bool setAside = test_support::fileSize(store.filePath() + ".corrupt") >= 0;
    if (setAside) {
      ++setAsideRuns;
      ASSERT_EQ(test_support::readFile(store.filePath() + ".corrupt"), text) << "run " << runs;
      ASSERT_EQ(flattened(first), defaults) << "run " << runs;
    }
    // Whichever way it went, the store is now one taken as it stands: the same values come back
    // and nothing more is set aside.
    SettingsValues second;
    loadSettings(access, second);
    ASSERT_EQ(flattened(second), flattened(first)) << "run " << runs << ": " << text.substr(0, 200);
    ASSERT_EQ(test_support::fileSize(store.filePath() + (setAside ? ".corrupt.1" : ".corrupt")), -1)
        << "run " << runs;
    test_support::removeTree(folder);
  }
  EXPECT_GT(setAsideRuns, 0) << "no store was set aside";
  EXPECT_LT(setAsideRuns, runs) << "no store was taken";
}

}  // namespace
}  // namespace quillet
