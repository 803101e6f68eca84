#include "settings/registry_access.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "settings/json_registry_store.h"
#include "settings/registry_error_report.h"
#include "testing/volume_fixture.h"

namespace quillet {
namespace {

const std::string kKey = "Software\\Vendor\\App";

class RegistryAccessTest : public ::testing::Test {
 protected:
  void writeStore(const std::string& json) {
    ::mkdir(folder.c_str(), 0700);
    std::ofstream(store.filePath()) << json;
  }
  // Runs op and returns the code it threw (0 when it did not), checking the name it carried.
  template <typename Op>
  std::int32_t thrownCode(Op op, const std::string& expectedName) {
    try {
      op();
    } catch (const CErrException& e) {
      EXPECT_EQ(e.name, expectedName);
      EXPECT_FALSE(access.hasOpenKey()) << "a failed operation leaves no key open";
      return e.code;
    }
    return 0;
  }

  test_support::ScratchFolder scratch;
  std::string folder = scratch / "config";
  JsonRegistryStore store{folder};
  RegistryAccess access{store};
};

TEST_F(RegistryAccessTest, ReadStringNeverCreatesTheKeyButReadDwordDoes) {
  std::string text = "previous";
  EXPECT_EQ(thrownCode([&] { access.readString(kKey, "Name", text); }, kKey), errOpenKey);
  EXPECT_EQ(text, "");
  EXPECT_EQ(thrownCode([&] { access.keyExists(kKey); }, kKey), errOpenKey);

  std::uint32_t number = 9;
  EXPECT_EQ(thrownCode([&] { access.readDword(kKey, "Count", number); }, "Count"), errQueryValue);
  EXPECT_EQ(number, 9u);
  EXPECT_EQ(thrownCode([&] { access.keyExists(kKey); }, ""), 0) << "readDword created the key";
  EXPECT_EQ(thrownCode([&] { access.keyExists("Software\\Vendor"); }, ""), 0) << "parents exist too";
  EXPECT_FALSE(access.hasOpenKey()) << "keyExists closes at once";
}

TEST_F(RegistryAccessTest, KeepsTheKeyOpenUntilTheNextOperation) {
  access.writeString(kKey, "Name", "x");
  EXPECT_TRUE(access.hasOpenKey());
  access.closeKey();
  EXPECT_FALSE(access.hasOpenKey());
  access.createKey(kKey + "\\Sub");
  EXPECT_TRUE(access.hasOpenKey());
}

TEST_F(RegistryAccessTest, TextsLongerThan260CharactersAreUnreadable) {
  std::string text;
  access.writeString(kKey, "Edge", std::string(260, 'a'));
  access.readString(kKey, "Edge", text);
  EXPECT_EQ(text, std::string(260, 'a'));

  access.writeString(kKey, "Long", std::string(261, 'b'));
  EXPECT_EQ(thrownCode([&] { access.readString(kKey, "Long", text); }, "Long"), errQueryValue);
  EXPECT_EQ(text, "");
}

TEST_F(RegistryAccessTest, ValuesOfAnotherTypeAreUnreadable) {
  writeStore(R"({"Software\\Vendor\\App": {"Text": "12", "Max": 4294967295, "Negative": -1,
                 "Big": 4294967296, "Real": 1.0, "Bool": true, "Null": null, "List": [1]}})");
  std::uint32_t number = 0;
  access.readDword(kKey, "Max", number);
  EXPECT_EQ(number, 4294967295u);
  for (const char* name : {"Text", "Negative", "Big", "Real", "Bool", "Null", "List"}) {
    EXPECT_EQ(thrownCode([&] { access.readDword(kKey, name, number); }, name), errQueryValue) << name;
  }
  std::string text = "previous";
  EXPECT_EQ(thrownCode([&] { access.readString(kKey, "Max", text); }, "Max"), errQueryValue);
  EXPECT_EQ(text, "");
}

TEST_F(RegistryAccessTest, KeyPathsAndValueNamesMatchWhateverTheirCase) {
  access.writeDword(kKey, "Show Splash", 1);
  access.writeDword("SOFTWARE\\vendor\\APP", "show splash", 0);
  std::uint32_t number = 7;
  access.readDword("software\\Vendor\\app", "SHOW SPLASH", number);
  EXPECT_EQ(number, 0u);
  // One key with one value, under the spelling first written.
  EXPECT_EQ(test_support::readFile(store.filePath()),
            "{\n  \"Software\\\\Vendor\\\\App\": {\n    \"Show Splash\": 0\n  }\n}\n");
}

TEST(CErrExceptionTest, CutsLongNamesAndFormatsTheReport) {
  EXPECT_EQ(CErrException(errSetValue, std::string(300, 'n'), 5).name.size(), 259u);
  // Two-byte characters: the cut backs off to a character boundary.
  std::string cyrillic;
  for (int i = 0; i < 140; ++i) cyrillic += "\xD0\xAF";
  EXPECT_EQ(CErrException(errSetValue, cyrillic, 5).name.size(), 258u);

  const RegistryErrorMessage query = registryErrorMessage(CErrException(errQueryValue, "Tree deep", 2));
  EXPECT_EQ(query.caption, "Error");
  EXPECT_EQ(query.text, "Ошибка чтения реестра!\n\nKey/Value: Tree deep");
  for (const std::int32_t code : {errOpenKey, errCreateKey, errSetValue}) {
    const RegistryErrorMessage other = registryErrorMessage(CErrException(code, "Tree deep", 2));
    EXPECT_EQ(other.caption, "Fatal error");
    EXPECT_EQ(other.text, "The description for error is not available.");
  }
}

}  // namespace
}  // namespace quillet
