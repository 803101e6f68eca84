#include "settings/json_registry_store.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "settings/registry_access.h"
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
  testing::ScratchFolder scratch;
  JsonRegistryStore store(scratch.path());
  RegistryAccess access(store);
  for (const std::string garbage : {"{\"Software\": ", "[1, 2]", "{\"Software\\\\Vendor\\\\App\": 5}"}) {
    std::ofstream(store.filePath()) << garbage;
    std::string text = "previous";
    EXPECT_THROW(access.readString(kKey, "Name", text), CErrException) << garbage;
    EXPECT_EQ(testing::readFile(store.filePath() + ".corrupt"), garbage);
    EXPECT_EQ(testing::fileSize(store.filePath()), -1);
    access.writeString(kKey, "Name", "fresh");
    EXPECT_EQ(readBack(access, "Name"), "fresh");
  }
}

TEST(JsonRegistryStoreTest, CreatesItsFolderAtTheFirstWriteOnly) {
  testing::ScratchFolder scratch;
  JsonRegistryStore store(scratch / "a/b/talvane-quillet");
  RegistryAccess access(store);
  std::string text;
  EXPECT_THROW(access.readString(kKey, "Name", text), CErrException);
  EXPECT_EQ(testing::fileSize(scratch / "a"), -1);
  access.writeString(kKey, "Name", "x");
  EXPECT_EQ(readBack(access, "Name"), "x");
}

TEST(JsonRegistryStoreTest, ACrashBeforeTheRenameLeavesThePreviousStoreWhole) {
  testing::ScratchFolder scratch;
  JsonRegistryStore store(scratch.path());
  RegistryAccess access(store);
  access.writeString(kKey, "Name", "before");
  const std::string previous = testing::readFile(store.filePath());

  store.setBeforeReplaceHook([](const std::string&) { std::_Exit(42); });
  EXPECT_EXIT(access.writeString(kKey, "Name", "after"), ::testing::ExitedWithCode(42), "");
  store.setBeforeReplaceHook(nullptr);

  EXPECT_EQ(testing::readFile(store.filePath()), previous);
  EXPECT_EQ(readBack(access, "Name"), "before");
}

TEST(JsonRegistryStoreTest, AFullVolumeFailsTheWriteAndKeepsTheStore) {
  QUILLET_MOUNT_OR_SKIP(volume, tmpfs, 64 * 1024);
  JsonRegistryStore store(volume->path());
  RegistryAccess access(store);
  access.writeString(kKey, "Name", "small");
  const std::string previous = testing::readFile(store.filePath());
  {
    std::ofstream filler(*volume / "filler", std::ios::binary);
    const std::string block(4096, 'f');
    while (filler.write(block.data(), block.size())) {
    }
  }
  EXPECT_EQ(writeFailure(access, kKey, std::string(250, 'x')), std::make_pair(errSetValue, ENOSPC));
  EXPECT_EQ(testing::readFile(store.filePath()), previous);
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

}  // namespace
}  // namespace quillet
