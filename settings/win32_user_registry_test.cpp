// Registry access and the settings value table on the real registry, each test in a key of its own
// below HKEY_CURRENT_USER\Software\Talvane Quillet Tests that stands in for the hive.
#include "settings/win32_user_registry.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

#include "quillet_version.h"
#include "settings/registry_access.h"
#include "settings/settings_values.h"
#include "settings/startup_registry.h"

namespace quillet {
namespace {

const std::string kKey = "Software\\Vendor\\App";

class Win32UserRegistryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    access.closeKey();
    store.reset();
    deleteUserRegistryTree(base);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Talvane Quillet Tests");  // only once it is empty
  }
  // The value's type and raw bytes as the registry holds them, below the test's base key.
  DWORD rawType(const std::string& key, const std::string& name, std::string* data = nullptr) {
    char buffer[1024];
    DWORD type = REG_NONE, size = sizeof buffer;
    if (::RegGetValueA(HKEY_CURRENT_USER, (base + "\\" + key).c_str(), name.c_str(),
                       RRF_RT_ANY | RRF_NOEXPAND, &type, buffer, &size) != ERROR_SUCCESS) {
      return REG_NONE;
    }
    if (data != nullptr) data->assign(buffer, size);
    return type;
  }
  void setRaw(const std::string& key, const std::string& name, DWORD type, const void* data, DWORD size) {
    HKEY k = nullptr;
    ASSERT_EQ(::RegCreateKeyA(HKEY_CURRENT_USER, (base + "\\" + key).c_str(), &k), ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExA(k, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    ::RegCloseKey(k);
  }
  template <typename Op>
  std::int32_t thrownCode(Op op) {
    try {
      op();
    } catch (const CErrException& e) {
      EXPECT_FALSE(access.hasOpenKey()) << "a failed operation leaves no key open";
      return e.code;
    }
    return 0;
  }

  std::string base = "Software\\Talvane Quillet Tests\\" + std::to_string(::GetCurrentProcessId()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name();
  std::unique_ptr<RegistryStore> store = makeUserRegistryStoreBelow(base);
  RegistryAccess access{*store};
};

TEST_F(Win32UserRegistryTest, ReadStringNeverCreatesTheKeyButReadDwordDoes) {
  std::string text = "previous";
  EXPECT_EQ(thrownCode([&] { access.readString(kKey, "Name", text); }), errOpenKey);
  EXPECT_EQ(text, "");
  EXPECT_EQ(thrownCode([&] { access.keyExists(kKey); }), errOpenKey);
  std::uint32_t number = 9;
  EXPECT_EQ(thrownCode([&] { access.readDword(kKey, "Count", number); }), errQueryValue);
  EXPECT_EQ(number, 9u);
  EXPECT_EQ(thrownCode([&] { access.keyExists(kKey); }), 0) << "readDword created the key";
}

TEST_F(Win32UserRegistryTest, ValuesAreStoredWithTheirRegistryTypes) {
  access.writeString(kKey, "Root folder", "C:\\Test\\");
  access.writeDword(kKey, "Show splash", 0xFFFFFFFFu);
  std::string data;
  EXPECT_EQ(rawType(kKey, "Root folder", &data), static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(data, std::string("C:\\Test\\\0", 9)) << "the terminator is stored";
  EXPECT_EQ(rawType(kKey, "Show splash", &data), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(data, std::string(4, '\xFF'));
  std::uint32_t number = 0;
  access.readDword(kKey, "show SPLASH", number);
  EXPECT_EQ(number, 0xFFFFFFFFu) << "value names and key paths match whatever their case";
  std::string text;
  access.readString("software\\VENDOR\\app", "root folder", text);
  EXPECT_EQ(text, "C:\\Test\\");
}

TEST_F(Win32UserRegistryTest, TextsLongerThan260CharactersAndOtherTypesAreUnreadable) {
  std::string text;
  access.writeString(kKey, "Edge", std::string(260, 'a'));
  access.readString(kKey, "Edge", text);
  EXPECT_EQ(text, std::string(260, 'a'));
  access.writeString(kKey, "Long", std::string(261, 'b'));
  EXPECT_EQ(thrownCode([&] { access.readString(kKey, "Long", text); }), errQueryValue);
  EXPECT_EQ(text, "");

  const std::uint64_t wide = 1;
  setRaw(kKey, "Qword", REG_QWORD, &wide, sizeof wide);
  setRaw(kKey, "Expand", REG_EXPAND_SZ, "%TEMP%", 7);
  setRaw(kKey, "Binary", REG_BINARY, "\1\0\0\0", 4);
  std::uint32_t number = 0;
  for (const char* name : {"Qword", "Expand", "Binary", "Edge"}) {
    EXPECT_EQ(thrownCode([&] { access.readDword(kKey, name, number); }), errQueryValue) << name;
  }
  access.writeDword(kKey, "Number", 5);
  for (const char* name : {"Expand", "Binary", "Number"}) {
    EXPECT_EQ(thrownCode([&] { access.readString(kKey, name, text); }), errQueryValue) << name;
  }
}

TEST_F(Win32UserRegistryTest, ValuesOfTheWrongTypeAreRewrittenWithTheirDefault) {
  struct NoPresenter : ErrorPresenter {
    void show(const std::string&, const std::string&) override { ++shown; }
    int shown = 0;
  } presenter;
  writeProductValues(access, presenter);
  EXPECT_TRUE(ensureSettingsKey(access));
  access.writeString(settingsKeyPath, "All size power", "1");
  access.writeDword(settingsKeyPath, "Root folder", 7);
  access.writeString(settingsKeyPath, "Show splash", "0");
  access.writeString(settingsKeyPath, "Tree deep", "300");
  SettingsValues values;
  values.rootFolderText = "not loaded";
  loadSettings(access, values);
  EXPECT_TRUE(loadShowSplash(access));
  EXPECT_EQ(values.allSizeUnit, 2);
  EXPECT_EQ(values.rootFolderText, "C:\\Test\\");
  EXPECT_EQ(values.treeDeepText, "255");

  std::string data;
  EXPECT_EQ(rawType(settingsKeyPath, "All size power", &data), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(data, std::string("\2\0\0\0", 4));
  EXPECT_EQ(rawType(settingsKeyPath, "Root folder"), static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(rawType(settingsKeyPath, "Show splash"), static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(rawType(settingsKeyPath, "Tree deep", &data), static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(data, std::string("300\0", 4)) << "normalised in memory only";
  EXPECT_EQ(rawType(productKeyPath, "Product Version", &data), static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(data, std::string(QUILLET_PRODUCT_VERSION "\0", sizeof QUILLET_PRODUCT_VERSION));
  EXPECT_EQ(rawType(settingsKeyPath, "Directories number limit"), static_cast<DWORD>(REG_SZ))
      << "defaults written";
  EXPECT_EQ(presenter.shown, 0);
}

TEST(Win32UserRegistryHiveTest, TheUserStoreIsTheCurrentUserHive) {
  const std::string key = "Software\\Talvane Quillet Tests\\hive-" + std::to_string(::GetCurrentProcessId());
  {
    auto store = makeUserRegistryStore();
    RegistryAccess access(*store);
    access.writeDword(key, "Value", 42);
  }
  DWORD value = 0, size = sizeof value;
  EXPECT_EQ(::RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "Value", RRF_RT_REG_DWORD, nullptr, &value, &size),
            ERROR_SUCCESS);
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(deleteUserRegistryTree(key), ERROR_SUCCESS);
  EXPECT_EQ(deleteUserRegistryTree(key), ERROR_FILE_NOT_FOUND);
  ::RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Talvane Quillet Tests");
}

}  // namespace
}  // namespace quillet
