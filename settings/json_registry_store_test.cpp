#include "settings/json_registry_store.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "settings/registry_access.h"
#include "settings/settings_values.h"
#include "settings/startup_registry.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

const std::string kKey = "Software\\Vendor\\App";

std::string readBack(RegistryAccess& access, const std::string& name) {
  std::string text;
  access.readString(kKey, name, text);
  return text;
}

// The code and system error of a failing write.
std::pair<std::int32_t, std::int32_t> writeFailure(RegistryAccess& access, const std::string& key,
                                                   const std::string& text) {
  try {
    access.writeString(key, "Name", text);
  } catch (const CErrException& e) {
    return {e.code, e.systemError};
  }
  return {0, 0};
}

TEST(JsonRegistryStoreTest, KeepsACorruptStoreAsideAndReadsItAsEmpty) {
  test_support::ScratchFolder scratch;
  JsonRegistryStore store(scratch.path());
  RegistryAccess access(store);
  for (const std::string garbage : {"{\"Software\": ", "[1, 2]", "{\"Software\\\\Vendor\\\\App\": 5}"}) {
    std::ofstream(store.filePath()) << garbage;
    std::string text = "previous";
    EXPECT_THROW(access.readString(kKey, "Name", text), CErrException) << garbage;
    EXPECT_EQ(test_support::readFile(store.filePath() + ".corrupt"), garbage);
    EXPECT_EQ(test_support::fileSize(store.filePath()), -1);
    access.writeString(kKey, "Name", "fresh");
    EXPECT_EQ(readBack(access, "Name"), "fresh");
  }
}

TEST(JsonRegistryStoreTest, CreatesItsFolderAtTheFirstWriteOnly) {
  test_support::ScratchFolder scratch;
  JsonRegistryStore store(scratch / "a/b/talvane-quillet");
  RegistryAccess access(store);
  std::string text;
  EXPECT_THROW(access.readString(kKey, "Name", text), CErrException);
  EXPECT_EQ(test_support::fileSize(scratch / "a"), -1);
  access.writeString(kKey, "Name", "x");
  EXPECT_EQ(readBack(access, "Name"), "x");
}

TEST(JsonRegistryStoreTest, ACrashBeforeTheRenameLeavesThePreviousStoreWhole) {
  test_support::ScratchFolder scratch;
  JsonRegistryStore store(scratch.path());
  RegistryAccess access(store);
  access.writeString(kKey, "Name", "before");
  const std::string previous = test_support::readFile(store.filePath());

  store.setBeforeReplaceHook([](const std::string&) { std::_Exit(42); });
  EXPECT_EXIT(access.writeString(kKey, "Name", "after"), ::testing::ExitedWithCode(42), "");
  store.setBeforeReplaceHook(nullptr);

  EXPECT_EQ(test_support::readFile(store.filePath()), previous);
  EXPECT_EQ(readBack(access, "Name"), "before");
}

TEST(JsonRegistryStoreTest, AFullVolumeFailsTheWriteAndKeepsTheStore) {
  QUILLET_MOUNT_OR_SKIP(volume, tmpfs, 64 * 1024);
  JsonRegistryStore store(volume->path());
  RegistryAccess access(store);
  access.writeString(kKey, "Name", "small");
  const std::string previous = test_support::readFile(store.filePath());
  {
    std::ofstream filler(*volume / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
  }
  EXPECT_EQ(writeFailure(access, kKey, std::string(250, 'x')), std::make_pair(errSetValue, ENOSPC));
  EXPECT_EQ(test_support::readFile(store.filePath()), previous);
}

TEST(JsonRegistryStoreTest, AReadOnlyStoreFailsWritesWithTheSystemError) {
  QUILLET_MOUNT_OR_SKIP(volume, tmpfs, 1024 * 1024);
  JsonRegistryStore store(volume->path());
  RegistryAccess access(store);
  access.writeString(kKey, "Name", "kept");
  ASSERT_EQ(::mount("tmpfs", volume->path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0)
      << std::strerror(errno);

  EXPECT_EQ(writeFailure(access, kKey, "new"), std::make_pair(errSetValue, EROFS));
  EXPECT_EQ(writeFailure(access, kKey + "\\Missing", "new"), std::make_pair(errCreateKey, EROFS));
  EXPECT_EQ(readBack(access, "Name"), "kept");
}

// A store whose one settings value holds text, as the file would spell it.
std::string storeWithValue(const std::string& valueJson) {
  return "{\"Software\\\\Talvane Software\\\\Talvane Quillet\\\\Settings\": {\"Tree deep\": " + valueJson +
         "}}";
}

std::string nested(int depth) { return std::string(depth, '[') + std::string(depth, ']'); }

TEST(JsonRegistryStoreTest, AStoreTooDeepOrTooLargeToParseSafelyIsSetAsideAndDefaultsLoad) {
  test_support::ScratchFolder scratch;
  JsonRegistryStore store(scratch.path());
  // The document and the key take two levels: the value may go down to the limit.
  const std::string deepestKept = storeWithValue(nested(JsonRegistryStore::kMaxDepth - 2));
  const std::string huge = storeWithValue("\"" + std::string(JsonRegistryStore::kMaxFileBytes, 'x') + "\"");
  for (const std::string& text :
       {storeWithValue(nested(100000)), storeWithValue(nested(JsonRegistryStore::kMaxDepth - 1)), huge}) {
    std::ofstream(store.filePath(), std::ios::binary) << text;
    RegistryAccess access(store);
    SettingsValues values;
    values.treeDeepText = "not loaded";
    loadSettings(access, values);
    EXPECT_EQ(values.treeDeepText, "1");
    EXPECT_EQ(test_support::readFile(store.filePath() + ".corrupt"), text) << text.size();
    std::string stored;
    access.readString(settingsKeyPath, "Tree deep", stored);
    EXPECT_EQ(stored, "1") << "the defaults replace the store";
  }

  std::ofstream(store.filePath(), std::ios::binary) << deepestKept;
  RegistryAccess access(store);
  SettingsValues values;
  loadSettings(access, values);
  EXPECT_EQ(values.treeDeepText, "1") << "a value of another type gets its default";
  EXPECT_EQ(test_support::readFile(store.filePath() + ".corrupt.1"),
            storeWithValue(nested(JsonRegistryStore::kMaxDepth - 1)))
      << "the deepest store the limit allows was not set aside";
}

TEST(JsonRegistryStoreTest, EachCorruptionIsKeptAsideUpToTheLastThree) {
  test_support::ScratchFolder scratch;
  JsonRegistryStore store(scratch.path());
  RegistryAccess access(store);
  for (const std::string garbage : {"first", "second", "third", "fourth"}) {
    std::ofstream(store.filePath()) << garbage;
    std::uint32_t number = 0;
    EXPECT_THROW(access.readDword(kKey, "Count", number), CErrException);
  }
  EXPECT_EQ(test_support::readFile(store.filePath() + ".corrupt"), "fourth");
  EXPECT_EQ(test_support::readFile(store.filePath() + ".corrupt.1"), "third");
  EXPECT_EQ(test_support::readFile(store.filePath() + ".corrupt.2"), "second");
  EXPECT_EQ(test_support::fileSize(store.filePath() + ".corrupt.3"), -1);
}

TEST(JsonRegistryStoreTest, LoadingOrSavingAllValuesReplacesTheFileOnceAtMost) {
  test_support::ScratchFolder scratch;
  JsonRegistryStore store(scratch.path());
  int replaces = 0;
  store.setBeforeReplaceHook([&](const std::string&) { ++replaces; });
  struct NoPresenter : ErrorPresenter {
    void show(const std::string& caption, const std::string& text) override {
      ADD_FAILURE() << caption << text;
    }
  } presenter;

  RegistryAccess access(store);
  writeProductValues(access, presenter);
  EXPECT_TRUE(ensureSettingsKey(access));
  EXPECT_TRUE(loadShowSplash(access));
  EXPECT_EQ(replaces, 3) << "product values, settings key, splash flag";
  SettingsValues values;
  values.treeDeepText = "not loaded";
  loadSettings(access, values);
  EXPECT_EQ(replaces, 4) << "27 defaults written back at once";
  EXPECT_EQ(values.treeDeepText, "1");

  loadSettings(access, values);
  saveSettings(access, values, true, presenter);
  EXPECT_EQ(replaces, 4) << "nothing changed, nothing written";
  values.treeDeepText = "7";
  values.useDirMask = true;
  saveSettings(access, values, false, presenter);
  EXPECT_EQ(replaces, 5);
  SettingsValues reloaded;
  loadSettings(access, reloaded);
  EXPECT_EQ(reloaded.treeDeepText, "7");
  EXPECT_TRUE(reloaded.useDirMask);
  EXPECT_FALSE(loadShowSplash(access));
}

TEST(JsonRegistryStoreTest, APassReadsOnceAndOthersSeeItsWritesWhenItEnds) {
  test_support::ScratchFolder scratch;
  JsonRegistryStore store(scratch.path());
  RegistryAccess access(store);
  RegistryAccess other(store);
  access.writeString(kKey, "Name", "before");
  {
    RegistryPass pass(access);
    EXPECT_EQ(readBack(access, "Name"), "before");
    // Written behind the pass's back: the pass goes on with what it read.
    std::ofstream(store.filePath()) << "{\"Software\\\\Vendor\\\\App\": {\"Name\": \"outside\"}}";
    EXPECT_EQ(readBack(access, "Name"), "before");
    access.writeString(kKey, "Other", "in pass");
    EXPECT_EQ(readBack(access, "Other"), "in pass");
    pass.end();
  }
  EXPECT_EQ(readBack(other, "Other"), "in pass");

  // A write the store could not read back fails alone; the pass keeps the others.
  {
    RegistryPass pass(access);
    access.writeString(kKey, "Small", "kept");
    EXPECT_EQ(writeFailure(access, kKey, std::string(JsonRegistryStore::kMaxFileBytes, 'x')),
              std::make_pair(errSetValue, EFBIG));
    pass.end();
  }
  EXPECT_EQ(readBack(other, "Small"), "kept");
  EXPECT_EQ(readBack(other, "Name"), "before");
}

TEST(JsonRegistryStoreTest, AFailureToReadTheFileNamesItAndTheReason) {
  test_support::ScratchFolder scratch;
  JsonRegistryStore store(scratch.path());
  ::mkdir(store.filePath().c_str(), 0700);
  RegistryAccess access(store);
  try {
    std::string text;
    access.readString(kKey, "Name", text);
    ADD_FAILURE() << "read a folder";
  } catch (const CErrException& e) {
    EXPECT_EQ(e.code, errOpenKey);
    EXPECT_EQ(e.systemError, EISDIR);
    EXPECT_EQ(e.detail, store.filePath() + ": " + std::strerror(EISDIR));
  }
}

// A store that is a link (a settings file kept elsewhere) stays a link: its target gets the writes.
TEST(JsonRegistryStoreTest, AStoreThatIsALinkKeepsItsLinkAndItsTargetIsWritten) {
  test_support::ScratchFolder scratch;
  ::mkdir((scratch / "kept").c_str(), 0700);
  ::mkdir((scratch / "config").c_str(), 0700);
  std::ofstream(scratch / "kept/registry.json") << "{}";
  JsonRegistryStore store(scratch / "config");
  ASSERT_EQ(::symlink((scratch / "kept/registry.json").c_str(), store.filePath().c_str()), 0);
  RegistryAccess access(store);
  access.writeString(kKey, "Name", "through the link");
  struct stat st {};
  ASSERT_EQ(::lstat(store.filePath().c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_NE(test_support::readFile(scratch / "kept/registry.json").find("through the link"),
            std::string::npos);
  EXPECT_EQ(readBack(access, "Name"), "through the link");
}

}  // namespace
}  // namespace quillet
