#include "settings/settings_values.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <variant>
#include <vector>

#include "quillet_version.h"
#include "settings/json_registry_store.h"
#include "settings/startup_registry.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

struct RecordingPresenter : ErrorPresenter {
  void show(const std::string& caption, const std::string& text) override {
    shown.push_back(caption + "|" + text);
  }
  std::vector<std::string> shown;
};

// Records every write, and fails the ones named in failing.
class RecordingAccess : public RegistryAccess {
 public:
  using RegistryAccess::RegistryAccess;
  void writeDword(const std::string& key, const std::string& name, std::uint32_t value) override {
    record(key, name);
    RegistryAccess::writeDword(key, name, value);
  }
  void writeString(const std::string& key, const std::string& name, const std::string& text) override {
    record(key, name);
    RegistryAccess::writeString(key, name, text);
  }
  std::vector<std::string> written;
  std::string failing;

 private:
  void record(const std::string& key, const std::string& name) {
    written.push_back(name);
    if (name == failing) throw CErrException(errSetValue, name, EIO);
    EXPECT_EQ(key, name.starts_with("Product") ? productKeyPath : settingsKeyPath);
  }
};

using Stored = std::variant<std::string, std::uint32_t>;
struct Value {
  const char* name;
  Stored stored;
};

// Every value of the settings key with its type and first-start default, in save order.
const std::vector<Value> kSaved = {{"Root folder", "C:\\Test\\"},
                                   {"Minimum file size", "1"},
                                   {"Maximum file size", "2"},
                                   {"All size", "100"},
                                   {"Limit size", "150"},
                                   {"File mask", "????????.???"},
                                   {"Directory mask", "????????"},
                                   {"Minimum files number to create", "100"},
                                   {"Maximum files number to create", "200"},
                                   {"Show splash", 1u},
                                   {"Fill files by random data", 1u},
                                   {"Close progress dialog automatically", 0u},
                                   {"Fill include subfolders", 0u},
                                   {"Make up subdirectories tree", 0u},
                                   {"Use all size checkbox", 1u},
                                   {"Use limit size checkbox", 0u},
                                   {"Use maximum files size checkbox", 0u},
                                   {"Use maximum files number checkbox", 0u},
                                   {"Use file mask checkbox", 0u},
                                   {"Use directory mask checkbox", 0u},
                                   {"Generate to all partition size", 0u},
                                   {"Minimum file size power", 2u},
                                   {"Maximum file size power", 2u},
                                   {"Limit size power", 2u},
                                   {"All size power", 2u},
                                   {"Tree deep", "1"},
                                   {"Number of folders in root folder", "2"},
                                   {"Directories number limit", "200"}};

class SettingsValuesTest : public ::testing::Test {
 protected:
  Stored stored(const Value& value) {
    if (std::holds_alternative<std::string>(value.stored)) {
      std::string text;
      access.readString(settingsKeyPath, value.name, text);
      return text;
    }
    std::uint32_t number = 0;
    access.readDword(settingsKeyPath, value.name, number);
    return number;
  }
  SettingsValues loaded() {
    SettingsValues values;
    values.rootFolderText = values.treeDeepText = "not loaded";
    loadSettings(access, values);
    return values;
  }

  test_support::ScratchFolder scratch;
  JsonRegistryStore store{scratch.path()};
  RecordingAccess access{store};
  RecordingPresenter presenter;
};

TEST_F(SettingsValuesTest, AnEmptyStoreGetsEveryValueWithItsDefault) {
  ensureSettingsKey(access);
  EXPECT_TRUE(loadShowSplash(access));
  const SettingsValues values = loaded();
  for (const Value& value : kSaved) EXPECT_EQ(stored(value), value.stored) << value.name;
  EXPECT_EQ(values.rootFolderText, "C:\\Test\\");
  EXPECT_EQ(values.treeDeepText, "1");
  EXPECT_TRUE(values.byAllSize);
  EXPECT_EQ(values.allSizeUnit, 2);
}

TEST_F(SettingsValuesTest, NumberTextsAreClampedAndOtherwiseKeptAsStored) {
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"-5", "0"},        {"", "0"},    {"1000000", "999999"}, {"99999999999", "999999"},
      {"12abc", "12abc"}, {" 7", " 7"}, {"abc", "abc"},        {"999999", "999999"}};
  for (const auto& [text, expected] : rows) {
    access.writeString(settingsKeyPath, "Minimum file size", text);
    EXPECT_EQ(loaded().minSizeText, expected) << '"' << text << '"';
  }
  access.writeString(settingsKeyPath, "Tree deep", "300");
  access.writeString(settingsKeyPath, "Directories number limit", "30001");
  const SettingsValues values = loaded();
  EXPECT_EQ(values.treeDeepText, "255");
  EXPECT_EQ(values.dirsLimitText, "30000");
  EXPECT_EQ(stored({"Tree deep", ""}), Stored("300")) << "normalised in memory only";
}

TEST_F(SettingsValuesTest, UnitsAndFlagsAreNormalisedAndUnreadableValuesReplaced) {
  access.writeDword(settingsKeyPath, "All size power", 7);
  access.writeString(settingsKeyPath, "Limit size power", "1");
  access.writeDword(settingsKeyPath, "Fill include subfolders", 5);
  access.writeString(settingsKeyPath, "Root folder", std::string(261, 'r'));
  const SettingsValues values = loaded();
  EXPECT_EQ(values.allSizeUnit, 3);
  EXPECT_EQ(values.limitSizeUnit, 2);
  EXPECT_EQ(stored({"Limit size power", 0u}), Stored(2u));
  EXPECT_EQ(values.rootFolderText, "C:\\Test\\");
  EXPECT_EQ(stored({"Root folder", ""}), Stored("C:\\Test\\"));
  EXPECT_TRUE(values.fillSubfolders);

  saveSettings(access, values, true, presenter);
  EXPECT_EQ(stored({"Fill include subfolders", 0u}), Stored(1u));
  EXPECT_EQ(stored({"All size power", 0u}), Stored(3u));
}

TEST_F(SettingsValuesTest, SavesInItsOrderAndGoesOnAfterAFailedWrite) {
  SettingsValues values;
  values.minSizeText = "12abc";
  access.failing = "Use all size checkbox";
  saveSettings(access, values, false, presenter);
  std::vector<std::string> expectedOrder;
  for (const Value& value : kSaved) expectedOrder.push_back(value.name);
  EXPECT_EQ(access.written, expectedOrder);
  EXPECT_EQ(presenter.shown,
            std::vector<std::string>{"Fatal error|The description for error is not available."});
  EXPECT_EQ(stored({"Minimum file size", ""}), Stored("12abc"));
  EXPECT_EQ(stored({"Show splash", 0u}), Stored(0u));
  EXPECT_EQ(stored({"Directories number limit", ""}), Stored("200"));
  EXPECT_THROW(stored({"Use all size checkbox", 0u}), CErrException);
}

TEST_F(SettingsValuesTest, StartUpRecordsTheProductAndSkipsTheVersionAfterAFailure) {
  writeProductValues(access, presenter);
  std::string text;
  access.readString(productKeyPath, "Product Version", text);
  EXPECT_EQ(text, QUILLET_PRODUCT_VERSION);
  access.writeDword(settingsKeyPath, "Show splash", 0);
  EXPECT_FALSE(loadShowSplash(access));
  access.writeString(settingsKeyPath, "Show splash", "0");
  EXPECT_TRUE(loadShowSplash(access));
  EXPECT_EQ(stored({"Show splash", 0u}), Stored(1u));

  access.written.clear();
  access.failing = "Product Name";
  writeProductValues(access, presenter);
  EXPECT_EQ(access.written, std::vector<std::string>{"Product Name"});
  EXPECT_EQ(presenter.shown.size(), 1u);
}

// The recorded form is made by the build from the project's version: "3.1.29" is "3.01.029".
TEST(ProductVersionTest, IsTheProjectVersionWithMinorInTwoDigitsAndPatchInThree) {
  const std::string project = QUILLET_VERSION;
  const std::size_t first = project.find('.');
  const std::size_t second = project.find('.', first + 1);
  ASSERT_NE(second, std::string::npos) << project;
  const int major = std::stoi(project.substr(0, first));
  const int minor = std::stoi(project.substr(first + 1, second - first - 1));
  const int patch = std::stoi(project.substr(second + 1));
  EXPECT_EQ(major, QUILLET_VERSION_MAJOR);
  EXPECT_EQ(minor, QUILLET_VERSION_MINOR);
  EXPECT_EQ(patch, QUILLET_VERSION_PATCH);
  char expected[40];
  std::snprintf(expected, sizeof expected, "%d.%02d.%03d", major, minor, patch);
  EXPECT_STREQ(kProductVersion, expected);
}

TEST(SettingsStoreReadOnlyTest, EveryWriteFailsOnItsOwnAndLoadStillGivesValues) {
  QUILLET_MOUNT_OR_SKIP(volume, tmpfs, 1024 * 1024);
  JsonRegistryStore store(volume->path());
  RegistryAccess access(store);
  access.writeString(settingsKeyPath, "Tree deep", "4");
  access.writeDword(settingsKeyPath, "Maximum file size power", 1);
  ASSERT_EQ(::mount("tmpfs", volume->path().c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0)
      << std::strerror(errno);

  EXPECT_TRUE(ensureSettingsKey(access));
  EXPECT_TRUE(loadShowSplash(access));
  SettingsValues values;
  loadSettings(access, values);
  EXPECT_EQ(values.treeDeepText, "4");
  EXPECT_EQ(values.maxSizeUnit, 1);
  EXPECT_EQ(values.dirMaskText, "????????");

  const std::string refused = "Fatal error|The description for error is not available.\n\n" +
                              store.filePath() + ": " + std::strerror(EROFS);
  RecordingPresenter presenter;
  writeProductValues(access, presenter);
  EXPECT_EQ(presenter.shown, std::vector<std::string>{refused}) << "one report for the product values";

  presenter.shown.clear();
  saveSettings(access, values, true, presenter);
  ASSERT_EQ(presenter.shown.size(), 28u);
  for (const std::string& shown : presenter.shown) EXPECT_EQ(shown, refused);

  // A store that cannot even be created: the start-up goes on with every default in memory.
  JsonRegistryStore missing(*volume / "missing");
  RegistryAccess none(missing);
  EXPECT_FALSE(ensureSettingsKey(none));
  EXPECT_TRUE(loadShowSplash(none));
  SettingsValues defaults;
  defaults.treeDeepText = "not loaded";
  loadSettings(none, defaults);
  EXPECT_EQ(defaults.treeDeepText, "1");
}

}  // namespace
}  // namespace quillet
